// Helpers shared by the string tests: a fresh area per test and readable
// renderings of UTF-16 strings for failure messages.
#pragma once

#include "runtime/strings/strings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Every test starts with a fresh area and string heap and ends them again.
class StringArea : public ::testing::Test {
protected:
    void SetUp() override { string_area_init(); }
    void TearDown() override
    {
        heap_fail_next(0);
        string_area_end();
    }
};

inline std::u16string text_of(const unit16* s) { return s ? std::u16string(s) : std::u16string(); }

// ASCII as itself, everything else as \uXXXX, so that mismatches read well.
inline std::string show(const std::u16string& s)
{
    std::string out;
    for (char16_t unit : s) {
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out;
}

inline std::string show(const unit16* s) { return show(text_of(s)); }

// For long strings: says where they part instead of printing them whole.
inline ::testing::AssertionResult same_text(const std::u16string& expected,
                                            const std::u16string& actual)
{
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    if (at == expected.size() && at == actual.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "lengths " << expected.size() << " expected, " << actual.size()
           << " actual; first difference at " << at << ": expected '"
           << show(expected.substr(at, 8)) << "', actual '" << show(actual.substr(at, 8)) << "'";
}

// The string that an operation left at saved_offset, moved out by the protocol.
inline std::u16string take_result(uint32_t saved_offset)
{
    unit16* variable = nullptr;
    string_assign(&variable, saved_offset);
    std::u16string result = text_of(variable);
    string_free(variable);
    return result;
}
