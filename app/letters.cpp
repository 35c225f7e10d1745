// The normalization pass over the program's working text.
#include "app/letters.h"

unit16* work_text;
unit16* saved_text;

void normalize_letters()
{
    for (const LetterFix& row : letter_fixes) {
        uint32_t saved_offset = string_offset();
        replace_text(work_text, row.search, row.replacement, saved_offset);
        string_assign(&work_text, saved_offset);
    }
}

int32_t text_changed() { return !string_equal(work_text, saved_text); }
