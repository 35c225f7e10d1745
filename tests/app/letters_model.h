// The plain model of the normalization pass and the real pass as the main
// routine runs it, shared by the tests and the fuzz target.
#pragma once

#include "app/letters.h"

#include <string>

inline std::u16string text_of(const unit16* s) { return s ? std::u16string(s) : std::u16string(); }

// Each row in turn, left to right, without overlap. The two strings trade
// places after every row, so a pass allocates only while they grow.
inline std::u16string model_pass(std::u16string text)
{
    std::u16string out;
    for (const LetterFix& row : letter_fixes) {
        const std::u16string_view search = row.search;
        out.clear();
        size_t at = 0;
        for (size_t found; (found = text.find(search, at)) != std::u16string::npos;
             at = found + search.size())
            out.append(text, at, found - at).append(row.replacement);
        out.append(text, at);
        text.swap(out);
    }
    return text;
}

// Loads the text into work_text and saved_text as the main routine does,
// runs the pass and returns its result.
inline std::u16string run_pass(const std::u16string& input)
{
    uint32_t saved_offset = string_offset();
    string_push_copy(input.c_str());
    string_assign(&work_text, saved_offset);
    string_push_copy(work_text);
    string_assign(&saved_text, saved_offset);
    normalize_letters();
    return text_of(work_text);
}
