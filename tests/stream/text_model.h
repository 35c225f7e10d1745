// The text as a plain model reads it, shared by the stream's fuzz targets:
// code points, and each byte that is not valid in the encoding on its own.
#pragma once

#include "stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace text_model {

using Bytes = std::string;

// A code point, or (code < 0) one byte that is not valid in the encoding.
struct Token {
    int32_t code;
    size_t at;    // first byte in the text
    size_t size;  // bytes
};

// Well-formed UTF-8 as the standard's table gives it; anything else is
// taken one byte at a time.
inline size_t utf8_sequence(const Bytes& text, size_t at, int32_t& code)
{
    auto byte = [&](size_t i) { return at + i < text.size() ? uint8_t(text[at + i]) : 0u; };
    uint32_t lead = byte(0);
    if (lead < 0x80)
        return code = int32_t(lead), 1;
    size_t size = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    uint32_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    uint32_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    uint32_t value = lead & (0xFF >> (size + 1));
    for (size_t i = 1; i < size; ++i) {
        uint32_t next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    code = int32_t(value);
    return size;
}

struct Text {
    int encoding;  // 0 UTF-8, 1 UTF-16LE, 2 UTF-16BE
    size_t bom;
    std::vector<Token> tokens;
};

inline Text tokenize(const Bytes& text)
{
    Text t{0, 0, {}};
    if (text.compare(0, 2, "\xFF\xFE") == 0)
        t = {1, 2, {}};
    else if (text.compare(0, 2, "\xFE\xFF") == 0)
        t = {2, 2, {}};
    else if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        t.bom = 3;
    size_t at = t.bom;
    auto unit = [&](size_t i) {
        uint32_t a = uint8_t(text[i]), b = uint8_t(text[i + 1]);
        return t.encoding == 1 ? a | b << 8 : a << 8 | b;
    };
    while (at < text.size()) {
        int32_t code = -1;
        size_t size = 0;
        if (t.encoding == 0) {
            size = utf8_sequence(text, at, code);
        } else if (at + 2 <= text.size()) {
            uint32_t first = unit(at);
            if (first < 0xD800 || first > 0xDFFF) {
                code = int32_t(first), size = 2;
            } else if (first < 0xDC00 && at + 4 <= text.size() && unit(at + 2) >= 0xDC00 &&
                       unit(at + 2) <= 0xDFFF) {
                code = int32_t(0x10000 + ((first - 0xD800) << 10) + (unit(at + 2) - 0xDC00));
                size = 4;
            }
        }
        if (size == 0) {
            // A lone surrogate is two invalid bytes; an odd last byte, one.
            size_t invalid = t.encoding == 0 || at + 2 > text.size() ? 1 : 2;
            for (size_t i = 0; i < invalid; ++i)
                t.tokens.push_back({-1, at + i, 1});
            at += invalid;
            continue;
        }
        t.tokens.push_back({code, at, size});
        at += size;
    }
    return t;
}

// Where each token starts, counted plainly: a token is one code point or one
// invalid byte, two UTF-16 units above U+FFFF, and its bytes as they lie.
inline std::vector<TextPosition> token_positions(const Text& t)
{
    std::vector<TextPosition> positions;
    TextPosition next{1, 1, 1, 1, 0};
    size_t line_start = t.bom;
    for (const Token& token : t.tokens) {
        next.byte_column = token.at - line_start + 1;
        next.byte_offset = token.at;
        positions.push_back(next);
        if (token.code == '\n') {
            line_start = token.at + token.size;
            next = {next.line + 1, 1, 1, 1, 0};
        } else {
            ++next.column;
            next.utf16_column += token.code >= 0x10000 ? 2 : 1;
        }
    }
    return positions;
}

inline bool same_position(const TextPosition& a, const TextPosition& b)
{
    return a.line == b.line && a.column == b.column && a.utf16_column == b.utf16_column &&
           a.byte_column == b.byte_column && a.byte_offset == b.byte_offset;
}

inline void put_code(Bytes& out, uint32_t code, int encoding)
{
    if (encoding == 0) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6), out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12), out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18), out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F)), out += char(0x80 | (code & 0x3F));
        }
        return;
    }
    char16_t units[2] = {char16_t(code), 0};
    int count = 1;
    if (code >= 0x10000)
        units[0] = char16_t(0xD800 + ((code - 0x10000) >> 10)),
        units[1] = char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)), count = 2;
    for (int i = 0; i < count; ++i) {
        char high = char(units[i] >> 8), low = char(units[i]);
        out += encoding == 1 ? Bytes{low, high} : Bytes{high, low};
    }
}

// The fragment in the chosen encoding (0 UTF-8, 1 UTF-16LE, 2 UTF-16BE):
// UTF-16 gets the same characters and a lone surrogate for each invalid byte.
inline Bytes encoded(const char* fragment, int encoding)
{
    Bytes utf8(fragment, fragment[0] ? std::strlen(fragment) : 1);
    if (encoding == 0)
        return utf8;
    Bytes out;
    for (const Token& token : tokenize(utf8).tokens) {
        if (token.code >= 0)
            put_code(out, uint32_t(token.code), encoding);
        else
            out += encoding == 1 ? Bytes("\x00\xDC", 2) : Bytes("\xDC\x00", 2);
    }
    return out;
}

// A fuzzer-chosen text: a BOM or none, sometimes clean prose, then up to
// 600 of the fragments (in the BOM's encoding), single bytes of any value, or runs of one fragment
// repeated up to 64 times: the long stretches a vector scan takes whole.
template <class Input, size_t count>
Bytes make_text(Input& in, const char* const (&fragments)[count])
{
    static const char* const BOMS[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    // Russian words that hold no byte the scans stop at; a look-alike
    // right after them belongs to their last word.
    static const char* const CLEAN_PROSE = " \xD1\x81\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xD0\xB6\xD0\xB5 "
                                           "\xD0\xB5\xD1\x89\xD1\x91 \xD1\x8D\xD1\x82\xD0\xB8\xD1\x85 "
                                           "\xD0\xB1\xD1\x83\xD0\xBB\xD0\xBE\xD0\xBA";
    // One byte picks the encoding and, in half the texts, clean prose of up
    // to 2.5 KB with a fragment glued to its last word: the vector scans take
    // the prose whole, and in a large piece the word stage is told to skip it.
    uint32_t choice = in.byte();
    uint32_t kind = choice % 4;
    int encoding = kind < 2 ? 0 : int(kind - 1);
    Bytes text = BOMS[kind];
    Bytes prose;
    if (choice / 4 % 2) {
        for (uint32_t times = choice / 8 % 8 * 8 + 1; times > 0; --times)
            prose += encoded(CLEAN_PROSE, encoding);
        text += prose + encoded(fragments[in.below(count)], encoding);
    }
    for (uint32_t left = in.below(600); left > 0; --left) {
        // About one pick in nine is a run: long texts cost the model time.
        uint32_t pick = in.below(count + 1 + count / 8);
        if (pick < count) {
            text += encoded(fragments[pick], encoding);
        } else if (pick == count) {
            text += Bytes(1, char(in.byte()));
        } else {
            const Bytes fragment = encoded(fragments[in.below(count)], encoding);
            for (uint32_t times = in.below(64) + 1; times > 0; --times)
                text += fragment;
        }
    }
    // Half of those texts also end with the prose, so that the fragments
    // before it lie within whole blocks of the scans, not in their tails.
    if (choice / 64 % 2)
        text += prose;
    return text;
}

}  // namespace text_model
