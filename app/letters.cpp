// The normalization pass over the program's working text.
#include "app/letters.h"

unit16* work_text;
unit16* saved_text;

int32_t normalize_letters()
{
    for (const LetterFix& row : letter_fixes) {
        uint32_t saved_offset = string_offset();
        // Not short-circuited: the assignment gives the area back either way.
        const int32_t replaced = replace_text(work_text, row.search, row.replacement, saved_offset);
        if (!(string_assign(&work_text, saved_offset) & replaced))
            return 0;
    }
    return 1;
}

int32_t text_changed() { return !string_equal(work_text, saved_text); }
