// The plain model of the normalization pass, shared by the tests and the
// fuzz target: each row in turn, left to right, without overlap.
#pragma once

#include "app/letters.h"

#include <string>

inline std::u16string model_pass(std::u16string text)
{
    for (const LetterFix& row : letter_fixes) {
        std::u16string search = row.search, replacement = row.replacement, out;
        size_t at = 0;
        for (size_t found; (found = text.find(search, at)) != std::u16string::npos;
             at = found + search.size())
            out += text.substr(at, found - at) + replacement;
        text = out + text.substr(at);
    }
    return text;
}
