// A plain whole-text model of how the word stage judges the Greek capitals
// of the letter table, shared by the stream's fuzz targets. It reads the
// text the stage reads (the scan's output) as characters with their sizes
// there, and tells which capitals stay.
#pragma once

#include "stream/words.h"
#include "stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace greek_model {

struct Char {
    int32_t code;  // < 0: a byte or unit that is no character
    size_t size;   // bytes in the text the stage reads
};

inline bool is_capital(int32_t code)
{
    switch (code) {
    case 0x391: case 0x392: case 0x393: case 0x395: case 0x397: case 0x39A: case 0x39B:
    case 0x39C: case 0x39F: case 0x3A0: case 0x3A1: case 0x3A4: case 0x3A7:
        return true;
    default:
        return false;
    }
}

inline bool is_word(int32_t code) { return code >= 0 && letter_kind(char32_t(code)) != LetterKind::other; }
inline bool is_letter(int32_t code) { return code >= 0 && letter_kind(char32_t(code)) == LetterKind::letter; }
inline bool is_cyrillic(int32_t code) { return code >= 0x400 && code <= 0x52F; }

constexpr size_t reach = 256;

struct Side {
    bool whole_line = false, line_edge = false, tab = false, greek = false;
    size_t words = 0;
    std::u32string nearest;
};

// [first, last) of chars, a sign before them and a sign after them where a
// character is cut by the reach.
inline void read_side(const std::vector<Char>& chars, size_t first, size_t last, bool sign_before,
                      bool sign_after, bool behind, Side& side)
{
    bool decided = false, blank = true;
    auto note_sign = [&](bool tab) {
        if (behind || blank)
            side.tab = tab;
        blank = false;
    };
    if (sign_before)
        note_sign(false);
    for (size_t k = first; k < last;) {
        int32_t code = chars[k].code;
        if (!is_word(code)) {
            if (code < 0 || (code != ' ' && code != '\r' && code != 0xFEFF))
                note_sign(code == '\t');
            ++k;
            continue;
        }
        bool greek = false, cyrillic = false;
        std::u32string letters;
        for (; k < last && is_word(chars[k].code); ++k) {
            int32_t c = chars[k].code;
            if (!is_letter(c))
                continue;
            greek = greek || is_greek_only(char32_t(c));
            cyrillic = cyrillic || is_cyrillic(c);
            letters += lower(char32_t(c));
        }
        if (behind || !side.words)
            side.nearest = letters;
        ++side.words;
        if ((greek || cyrillic) && (behind || !decided))
            side.greek = greek, decided = true;
        note_sign(false);
    }
    if (sign_after)
        note_sign(false);
    side.line_edge = side.whole_line && blank;
}

// For each char: whether it is a capital of the table that stays. `chars`
// start with the BOM, if any, as one char U+FEFF.
inline std::vector<bool> kept_capitals(const std::vector<Char>& chars, size_t word_limit)
{
    const size_t n = chars.size();
    std::vector<size_t> at(n + 1, 0);
    for (size_t i = 0; i < n; ++i)
        at[i + 1] = at[i] + chars[i].size;
    std::vector<bool> kept(n, false);
    for (size_t s = 0; s < n;) {
        if (!is_word(chars[s].code)) {
            ++s;
            continue;
        }
        size_t e = s;
        bool greek = false, cyrillic = false, capital = false;
        size_t letters = 0;
        char32_t first = 0;
        for (; e < n && is_word(chars[e].code); ++e) {
            int32_t c = chars[e].code;
            if (!is_letter(c))
                continue;
            first = letters++ ? first : char32_t(c);
            greek = greek || is_greek_only(char32_t(c));
            cyrillic = cyrillic || is_cyrillic(c);
            capital = capital || is_capital(c);
        }
        bool keep = at[e] - at[s] > word_limit || greek;
        if (!keep && capital && !cyrillic) {
            Side behind, ahead;
            size_t floor = at[s] > reach ? at[s] - reach : 0;
            size_t line = s;
            while (line > 0 && at[line - 1] >= floor && chars[line - 1].code != '\n')
                --line;
            bool newline = line > 0 && at[line - 1] >= floor;
            behind.whole_line = newline || floor == 0;
            bool cut_before = !newline && line > 0 && at[line] > floor;
            read_side(chars, line, s, cut_before, false, true, behind);

            size_t limit = std::min(at[n], at[e] + reach);
            size_t end = e;
            while (end < n && at[end + 1] <= limit && chars[end].code != '\n')
                ++end;
            bool line_ends = end < n && at[end + 1] <= limit;
            ahead.whole_line = line_ends || limit < at[e] + reach;
            bool cut_after = !line_ends && end < n && at[end] < limit;
            read_side(chars, e, end, false, cut_after, false, ahead);

            bool cell = letters == 1 && (behind.tab || behind.line_edge) &&
                        (ahead.tab || ahead.line_edge) && (behind.tab || ahead.tab);
            bool named = letters == 1 &&
                         ((behind.line_edge && !behind.words && ahead.whole_line && ahead.words == 1 &&
                           is_name_of(first, ahead.nearest)) ||
                          (ahead.line_edge && !ahead.words && behind.whole_line && behind.words == 1 &&
                           is_name_of(first, behind.nearest)));
            keep = cell || named || behind.greek || ahead.greek;
        }
        for (size_t i = s; i < e; ++i)
            kept[i] = keep && is_capital(chars[i].code);
        s = e;
    }
    return kept;
}

}  // namespace greek_model
