// The plain model of substring replacement, shared by the tests and the
// fuzz target: one position at a time, no cleverness.
#pragma once

#include "runtime/strings/strings.h"

#include <cstdint>
#include <string>

inline char16_t fold(char16_t unit, bool nocase)
{
    return nocase && unit >= u'A' && unit <= u'Z' ? unit + 32 : unit;
}

inline bool occurs_at(const std::u16string& text, size_t at, const std::u16string& search,
                      bool nocase)
{
    if (at + search.size() > text.size())
        return false;
    for (size_t i = 0; i < search.size(); ++i) {
        if (fold(text[at + i], nocase) != fold(search[i], nocase))
            return false;
    }
    return true;
}

inline std::u16string model_replace(const std::u16string& text, const std::u16string& search,
                                    const std::u16string& replacement, uint32_t mode,
                                    int32_t start, int32_t count)
{
    bool nocase = mode & REPLACE_NOCASE;
    bool in_place = mode & REPLACE_INPLACE;
    size_t skip = start > 1 ? static_cast<size_t>(start - 1) : 0;
    int64_t limit = count == -1 ? INT64_MAX : count < 0 ? (in_place ? 0 : 1) : count;
    if (search.empty() || skip > text.size() ||
        (in_place && replacement.size() != search.size()))
        return text;
    std::u16string out = text.substr(0, skip);
    int64_t done = 0;
    for (size_t at = skip; at < text.size();) {
        if (done < limit && occurs_at(text, at, search, nocase)) {
            out += replacement;
            at += search.size();
            ++done;
        } else {
            out += text[at++];
        }
    }
    return out;
}
