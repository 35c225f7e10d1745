// The word rule, a piece at a time. Twins are rare in Cyrillic text, so the
// stage scans for the bytes that may start one (any ASCII letter, or a lead
// of Latin letters beyond ASCII or of Greek) and only around such a byte decodes the
// word, back to its start and on to its end, to judge it. All other text is
// handed on where it lies; it is copied only once a piece has a word to
// change, since in UTF-8 a twin's Cyrillic letter is longer than the twin.
#include "stream/words.h"

#include "stream/fixes.h"
#include "letters/greek_names.h"
#include "letters/twins.h"
#include "stream/letter_kinds_table.h"
#include "stream/utf8_hits.h"
#include "stream/turkic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "stream/simd.h"

namespace {

void append_utf8(std::string& text, char32_t code)
{
    if (code < 0x80) {
        text += char(code);
    } else if (code < 0x800) {
        text += char(0xC0 | code >> 6);
        text += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += char(0xE0 | code >> 12);
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    } else {
        text += char(0xF0 | code >> 18);
        text += char(0x80 | (code >> 12 & 0x3F));
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    }
}

#if defined(STREAM_WIDE)
// The first hit of the 64-byte steps from p on, as Utf8::find_hit tests
// them, or null with p past the steps that hold none.
WIDE_CODE const uint8_t* find_wide_hit(const uint8_t*& p, const uint8_t* end)
{
    for (; end - p >= 64; p += 64) {
        if (uint64_t hits = wide_twin_hit_mask(p) | uint64_t(wide_twin_hit_mask(p + 32)) << 32)
            return p + __builtin_ctzll(hits);
    }
    return nullptr;
}
#endif

// Each codec reads characters as the letter table's pass and the position
// tracker do: a valid character, or else one byte (UTF-8) or unit (UTF-16)
// that is no character and so ends any word.
struct Utf8 {
    static constexpr size_t unit = 1;

    // The size of the valid character at p that ends by `end`, or 0.
    // The size of the character at p when it takes one byte or two, as
    // Latin and Cyrillic letters do, and so lies below U+0800; or 0.
    static size_t decode_near(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        uint32_t lead = *p;
        if (lead < 0x80) {
            code = lead;
            return 1;
        }
        // Most of a Cyrillic word comes this way: laid out straight.
        if (__builtin_expect(lead - 0xC2 <= 0xDF - 0xC2 && end - p >= 2 && (p[1] & 0xC0) == 0x80, 1)) {
            code = (lead & 0x1F) << 6 | (p[1] & 0x3F);
            return 2;
        }
        return 0;
    }

    static size_t decode(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        if (size_t size = decode_near(p, end, code))
            return size;
        LeadRule rule = utf8_lead_rule(*p);
        if (!rule.needed || size_t(end - p) <= rule.needed || p[1] < rule.low || p[1] > rule.high)
            return 0;
        uint32_t value = *p & (0x3F >> rule.needed);
        for (size_t i = 1; i <= rule.needed; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return 0;
            value = value << 6 | (p[i] & 0x3F);
        }
        code = value;
        return rule.needed + 1;
    }

    // The size of the valid character that ends at `at` and starts at or
    // after `begin`, or 0. Only asked at a character's start.
    static size_t decode_before(const uint8_t* begin, const uint8_t* at, char32_t& code)
    {
        // ASCII and two bytes at once: the letters of the languages read.
        if (at > begin && at[-1] < 0x80) {
            code = at[-1];
            return 1;
        }
        if (at - begin >= 2 && (at[-1] & 0xC0) == 0x80 && at[-2] >= 0xC2 && at[-2] <= 0xDF) {
            code = char32_t(at[-2] & 0x1F) << 6 | (at[-1] & 0x3F);
            return 2;
        }
        const uint8_t* p = at;
        do {
            if (p == begin)
                return 0;
            --p;
        } while ((*p & 0xC0) == 0x80 && at - p < 4);
        size_t size = decode(p, at, code);
        return size == size_t(at - p) ? size : 0;
    }

    // How many bytes at the end begin a character that more bytes may
    // complete.
    static size_t cut_tail(const uint8_t* begin, const uint8_t* end)
    {
        for (size_t size = 1; size <= 3 && size <= size_t(end - begin); ++size) {
            const uint8_t* p = end - size;
            if ((*p & 0xC0) == 0x80)
                continue;
            LeadRule rule = utf8_lead_rule(*p);
            bool fits = size < 2 || (p[1] >= rule.low && p[1] <= rule.high);
            return rule.needed >= size && fits ? size : 0;
        }
        return 0;
    }

    // The first byte in [p, end) that may start a twin (is_hit_byte), or
    // end. Clean text is tested 64 bytes to a branch, in 32-byte vectors
    // where the processor has them.
    static const uint8_t* find_hit(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        auto mask = [](const uint8_t* at) -> uint64_t {
            return hit_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), true);
        };
        auto four_masks = [&](const uint8_t* at) {
            return mask(at) | mask(at + 16) << 16 | mask(at + 32) << 32 | mask(at + 48) << 48;
        };
        // In damaged text the next hit most often lies in the next word.
        if (end - p >= 16) {
            if (uint64_t hits = mask(p))
                return p + __builtin_ctzll(hits);
            p += 16;
        }
        if (end - p >= 64) {
            if (uint64_t hits = four_masks(p))
                return p + __builtin_ctzll(hits);
            p += 64;
        }
#if defined(STREAM_WIDE)
        // Past the next few words the wider test pays for its call.
        if (end - p >= 64 && wide_scans()) {
            if (const uint8_t* hit = find_wide_hit(p, end))
                return hit;
        }
#endif
        for (; end - p >= 64; p += 64) {
            if (uint64_t hits = four_masks(p))
                return p + __builtin_ctzll(hits);
        }
        for (; end - p >= 16; p += 16) {
            if (uint64_t hits = mask(p))
                return p + __builtin_ctzll(hits);
        }
#endif
        for (; p < end; ++p) {
            if (is_hit_byte(*p, true))
                return p;
        }
        return end;
    }

    // The first byte in [p, end) that is not ASCII, or end.
    static const uint8_t* ascii_end(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        for (; end - p >= 16; p += 16) {
            if (int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))))
                return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
#endif
        while (p < end && *p < 0x80)
            ++p;
        return p;
    }

    // The end of the run of Cyrillic letters below U+0480 at p, by `end`.
    static const uint8_t* basic_cyrillic_end(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        // A word at a time: a lead 0xD0 or 0xD1 at each even byte of the
        // block, and a continuation byte after it.
        const __m128i lead_bits = _mm_set1_epi8(char(0xFE)), lead = _mm_set1_epi8(char(0xD0));
        const __m128i top_bits = _mm_set1_epi8(char(0xC0)), continuation = _mm_set1_epi8(char(0x80));
        for (; end - p >= 16; p += 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            unsigned leads = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(block, lead_bits), lead)));
            unsigned seconds =
                unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(block, top_bits), continuation)));
            unsigned letters = leads & seconds >> 1 & 0x5555u;
            if (letters != 0x5555u)
                return p + __builtin_ctz(~letters & 0x5555u);
        }
#endif
        while (end - p >= 2 && (p[0] & 0xFE) == 0xD0 && (p[1] & 0xC0) == 0x80)
            p += 2;
        return p;
    }

    // Where the line holding `at` starts, no earlier than `floor`.
    static const uint8_t* line_start(const uint8_t* floor, const uint8_t* at)
    {
        for (; at > floor; --at) {
            if (at[-1] == '\n')
                return at;
        }
        return floor;
    }

    // The first LF in [p, end), or end.
    static const uint8_t* line_end(const uint8_t* p, const uint8_t* end)
    {
        const void* found = std::memchr(p, '\n', size_t(end - p));
        return found ? static_cast<const uint8_t*>(found) : end;
    }

    // The first Greek capital, U+0391 to U+03A9, that lies whole in
    // [p, end), or end.
    static const uint8_t* find_capital(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        // greek_lead before a capital's second byte: Greek text has that
        // lead in every other letter, its small ones.
        const __m128i lead = _mm_set1_epi8(char(greek_lead));
        const __m128i second_bias = _mm_set1_epi8(char(0x80 - capital_low));
        const __m128i second_limit = _mm_set1_epi8(char(0x80 + capital_high - capital_low + 1));
        for (; end - p > 16; p += 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            __m128i seconds = _mm_cmplt_epi8(_mm_add_epi8(next, second_bias), second_limit);
            if (int mask = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(block, lead), seconds)))
                return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
#endif
        for (; p < end; ++p) {
            if (*p == greek_lead && end - p >= 2 && is_capital_second(p[1]))
                return p;
        }
        return end;
    }

    // Whether [p, end) may hold a Cyrillic letter past U+047F, where the
    // Turkic alphabets' own letters lie: those lead with 0xD2 or 0xD3.
    static bool may_hold_turkic(const uint8_t* p, const uint8_t* end)
    {
        return std::memchr(p, 0xD2, size_t(end - p)) || std::memchr(p, 0xD3, size_t(end - p));
    }

    // Cyrillic letters take two bytes.
    static size_t put(char32_t code, uint8_t* out)
    {
        out[0] = static_cast<uint8_t>(0xC0 | code >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
        return 2;
    }
};

template <bool big_endian>
struct Utf16 {
    static constexpr size_t unit = 2;

    static char32_t unit_at(const uint8_t* p)
    {
        return big_endian ? char32_t(p[0] << 8 | p[1]) : char32_t(p[1] << 8 | p[0]);
    }
    static bool is_high(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
    static bool is_low(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

    static size_t decode_near(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        if (end - p < 2 || unit_at(p) >= 0x800)
            return 0;
        code = unit_at(p);
        return 2;
    }

    static size_t decode(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        if (end - p < 2)
            return 0;
        char32_t first = unit_at(p);
        if (!is_high(first) && !is_low(first)) {
            code = first;
            return 2;
        }
        if (is_low(first) || end - p < 4 || !is_low(unit_at(p + 2)))
            return 0;
        code = 0x10000 + ((first - 0xD800) << 10) + (unit_at(p + 2) - 0xDC00);
        return 4;
    }

    static size_t decode_before(const uint8_t* begin, const uint8_t* at, char32_t& code)
    {
        if (at - begin < 2)
            return 0;
        if (!is_low(unit_at(at - 2)))
            return decode(at - 2, at, code);
        return at - begin >= 4 ? (decode(at - 4, at, code) == 4 ? 4 : 0) : 0;
    }

    // An odd byte, and a high surrogate that waits for its partner.
    static size_t cut_tail(const uint8_t* begin, const uint8_t* end)
    {
        size_t odd = size_t(end - begin) % 2;
        bool high = size_t(end - begin) >= odd + 2 && is_high(unit_at(end - odd - 2));
        return odd + (high ? 2 : 0);
    }

    // The first unit in [p, end) that may start a twin: an ASCII letter, a
    // Latin letter in U+00C0..U+027F, or a Greek one in U+0391..U+03BF; or
    // end. The vector tests the same units as the loop after it.
    static const uint8_t* find_hit(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        // Each 16-bit lane holds a unit; a range test subtracts the range's
        // start and compares with its size as unsigned numbers, which SSE2
        // does as signed ones with the top bit flipped.
        const __m128i flip = _mm_set1_epi16(short(0x8000));
        const __m128i fold = _mm_set1_epi16(0x20);
        const __m128i letter_start = _mm_set1_epi16('a');
        const __m128i letter_bound = _mm_set1_epi16(short(0x8000 + 26));
        const __m128i latin_start = _mm_set1_epi16(0xC0);
        const __m128i latin_bound = _mm_set1_epi16(short(0x8000 + 0x280 - 0xC0));
        const __m128i greek_start = _mm_set1_epi16(0x0391);
        const __m128i greek_bound = _mm_set1_epi16(short(0x8000 + 0x03BF + 1 - 0x0391));
        for (; end - p >= 16; p += 16) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (big_endian)
                units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
            __m128i letter = _mm_cmplt_epi16(
                _mm_xor_si128(_mm_sub_epi16(_mm_or_si128(units, fold), letter_start), flip),
                letter_bound);
            __m128i latin = _mm_cmplt_epi16(
                _mm_xor_si128(_mm_sub_epi16(units, latin_start), flip), latin_bound);
            __m128i greek = _mm_cmplt_epi16(
                _mm_xor_si128(_mm_sub_epi16(units, greek_start), flip), greek_bound);
            __m128i hits = _mm_or_si128(_mm_or_si128(letter, latin), greek);
            if (int mask = _mm_movemask_epi8(hits))
                return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
#endif
        for (; end - p >= 2; p += 2) {
            if (is_hit_unit(unit_at(p), true))
                return p;
        }
        return end;
    }

    static const uint8_t* ascii_end(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        // The bits of a unit above 0x7F, where its two bytes lie in a lane.
        const __m128i above_ascii = _mm_set1_epi16(short(big_endian ? 0x80FF : 0xFF80));
        for (; end - p >= 16; p += 16) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            unsigned ascii = unsigned(
                _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, above_ascii), _mm_setzero_si128())));
            if (ascii != 0xFFFF)
                return p + __builtin_ctz(~ascii);
        }
#endif
        while (end - p >= 2 && unit_at(p) < 0x80)
            p += 2;
        return p;
    }

    static const uint8_t* basic_cyrillic_end(const uint8_t* p, const uint8_t* end)
    {
        while (end - p >= 2 && (unit_at(p) & 0xFF80) == 0x0400)
            p += 2;
        return p;
    }

    static const uint8_t* line_start(const uint8_t* floor, const uint8_t* at)
    {
        for (; at - floor >= 2; at -= 2) {
            if (unit_at(at - 2) == '\n')
                return at;
        }
        return floor;
    }

    static const uint8_t* line_end(const uint8_t* p, const uint8_t* end)
    {
        for (; end - p >= 2; p += 2) {
            if (unit_at(p) == '\n')
                return p;
        }
        return end;
    }

    static const uint8_t* find_capital(const uint8_t* p, const uint8_t* end)
    {
#if defined(STREAM_SIMD)
        // The range test of find_hit, for U+0391..U+03A9.
        const __m128i flip = _mm_set1_epi16(short(0x8000));
        const __m128i capital_start = _mm_set1_epi16(0x0391);
        const __m128i capital_bound = _mm_set1_epi16(short(0x8000 + 0x03A9 + 1 - 0x0391));
        for (; end - p >= 16; p += 16) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (big_endian)
                units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
            __m128i capitals = _mm_cmplt_epi16(
                _mm_xor_si128(_mm_sub_epi16(units, capital_start), flip), capital_bound);
            if (int mask = _mm_movemask_epi8(capitals))
                return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
#endif
        for (; end - p >= 2; p += 2) {
            if (is_hit_unit(unit_at(p), false))
                return p;
        }
        return end;
    }

    static bool may_hold_turkic(const uint8_t* p, const uint8_t* end)
    {
        for (; end - p >= 2; p += 2) {
            if (unit_at(p) - 0x0480 <= 0x04FF - 0x0480)
                return true;
        }
        return false;
    }

    static size_t put(char32_t code, uint8_t* out)
    {
        out[big_endian ? 0 : 1] = static_cast<uint8_t>(code >> 8);
        out[big_endian ? 1 : 0] = static_cast<uint8_t>(code);
        return 2;
    }
};

bool is_word_character(char32_t code) { return letter_kind(code) != LetterKind::other; }

// Where the run of letters and marks from `at` ends, before `end`.
template <class Codec>
size_t letters_end(const uint8_t* text, size_t at, size_t end)
{
    char32_t code = 0;
    for (size_t size; at < end && (size = Codec::decode(text + at, text + end, code)) &&
                      is_word_character(code);
         at += size) {
    }
    return at;
}

constexpr bool is_cyrillic(char32_t code) { return code >= 0x0400 && code <= 0x052F; }

constexpr bool is_upper(char32_t code)
{
    if (code < 0x80)
        return code >= 'A' && code <= 'Z';
    if (code >= 0x0400 && code <= 0x042F)
        return true;
    if (code >= 0x0460 && code <= 0x052F)
        return code % 2 == (code >= 0x04C1 && code <= 0x04CE ? 1 : 0);
    return is_table_capital(code) || (code >= 0xC0 && code <= 0xDE && code != 0xD7) ||
           code == 0x018F || code == 0x019F;
}

// A small letter of ASCII or Cyrillic.
bool is_small(char32_t code)
{
    if (code < 0x80)
        return code >= 'a' && code <= 'z';
    return code >= 0x0430 && code <= 0x052F && !is_upper(code) && letter_kind(code) == LetterKind::letter;
}

void count_letter(WordLetters& word, char32_t code)
{
    word.first = word.letters++ ? word.first : code;
    word.greek = word.greek || is_greek_only(code);
    word.capital = word.capital || is_table_capital(code);
    if (is_cyrillic(code)) {
        word.cyrillic = true;
        word.alphabets &= alphabets_of(code);
    }
}

template <class Codec>
WordLetters read_word(const uint8_t* p, const uint8_t* end)
{
    WordLetters word;
    char32_t code = 0;
    for (size_t size; p < end; p += size) {
        size = Codec::decode(p, end, code);
        if (letter_kind(code) == LetterKind::letter)
            count_letter(word, code);
    }
    return word;
}

// The letters of a word as code points, marks left out, into `letters`.
template <class Codec>
void letters_of(const uint8_t* p, const uint8_t* end, std::u32string& letters)
{
    letters.clear();
    char32_t code = 0;
    for (size_t size; p < end; p += size) {
        size = Codec::decode(p, end, code);
        if (letter_kind(code) == LetterKind::letter)
            letters += code;
    }
}

bool is_twin_letter(char32_t code) { return !is_cyrillic(code) && !is_table_capital(code); }

// The shapes in which Latin letters join a Cyrillic word as code, not as
// damage: one block of two or more at the word's start or end meeting the
// Cyrillic part where camel case joins two words (HTTPЗапрос, МетодHTTP)
// or where a suffix of the other case begins (ПРЕФИКСaa), or a Roman
// numeral before a century's abbreviation (XXв, XIXв, Xвв).
bool has_code_shape(std::u32string_view letters)
{
    size_t n = letters.size(), first = n, last = 0, small = 0;
    for (size_t i = 0; i < n; ++i) {
        if (is_twin_letter(letters[i]))
            first = std::min(first, i), last = i + 1;
        // Damage keeps a letter's case, and no word has a capital after
        // small letters (but units: кВт, мкА): a Latin one after three joins
        // camel case (ПозицияX, БройA).
        if (small >= 3 && is_twin_letter(letters[i]) && is_upper(letters[i]))
            return true;
        small = is_small(letters[i]) ? small + 1 : 0;
    }
    size_t roman = 0;
    while (roman < n && (letters[roman] == 'I' || letters[roman] == 'V' || letters[roman] == 'X'))
        ++roman;
    if (roman) {
        const std::u32string_view rest = letters.substr(roman);
        for (const char32_t* abbreviation : {U"\u0432", U"\u0432\u0432", U"\u0441\u0442"}) {
            if (rest == abbreviation)
                return true;
        }
    }
    // One Latin capital before a capitalised word joins camel case too
    // (IСвободно); a damaged word has two capitals before lowercase only in
    // short units (MГц, MВт).
    bool title_after = first == 0 && last + 3 <= n && is_upper(letters[last]) &&
                       !is_upper(letters[last + 1]) && is_upper(letters[0]);
    // A small letter before capitals is an option's letter glued to a
    // placeholder (pБРВ): damage keeps a capital word's case.
    bool small_before_capitals = first == 0 && last == 1 && n >= 2 && !is_upper(letters[0]) &&
                                 is_upper(letters[1]);
    bool one_block = first < last && (last - first >= 2 || title_after || small_before_capitals) &&
                     (first == 0 || last == n) && !(first == 0 && last == n);
    for (size_t i = first; one_block && i < last; ++i)
        one_block = is_twin_letter(letters[i]);
    if (!one_block)
        return false;
    if (last == n)
        return is_upper(letters[first - 1]) != is_upper(letters[first]);
    // At the start, lowercase meets a capital (xmlПарсер), or capitals meet
    // a capitalised word (HTTPЗапрос); capitals meeting lowercase are a
    // damaged unit or abbreviation (MOм) unless a Roman numeral.
    bool left = is_upper(letters[last - 1]), right = is_upper(letters[last]);
    bool title = left && right && last + 1 < n && !is_upper(letters[last + 1]);
    return (!left && right) || title;
}

// Two neighbouring letters that are one letter in both cases, as in a
// character class ^[ДдYy] or a list of keys (cCсС): no word has them.
bool has_case_pair(std::u32string_view letters)
{
    char32_t folded = letters.empty() ? 0 : lower(letters[0]);
    for (size_t i = 1; i < letters.size(); ++i) {
        char32_t next = lower(letters[i]);
        if (next == folded && letters[i] != letters[i - 1])
            return true;
        folded = next;
    }
    return false;
}

bool is_digit(char32_t code) { return code >= '0' && code <= '9'; }

// A printf directive's flags and width: %-*s, %08.3f.
bool is_printf_flag(char32_t code)
{
    constexpr uint32_t flags = [] {
        uint32_t set = 0;
        for (char flag : std::string_view("-+#.*'0123456789"))
            set |= uint32_t(1) << (flag - 0x20);
        return set;
    }();
    return code - 0x20 < 32 && (flags >> (code - 0x20) & 1);
}

}  // namespace

namespace {

// The kinds below U+0800, where Cyrillic, Greek and Latin lie, looked up at
// once rather than searched for.
constexpr size_t near_kinds_end = 0x800;

constexpr std::array<uint8_t, near_kinds_end> make_near_kinds()
{
    std::array<uint8_t, near_kinds_end> kinds{};
    size_t range = 0;
    for (uint32_t code = 0; code < near_kinds_end; ++code) {
        while (range + 1 < std::size(letter_kind_ranges) && letter_kind_ranges[range + 1] >> 2 <= code)
            ++range;
        kinds[code] = uint8_t(letter_kind_ranges[range] & 3);
    }
    return kinds;
}

constexpr std::array<uint8_t, near_kinds_end> near_kinds = make_near_kinds();

constexpr bool basic_cyrillic_are_letters()
{
    for (char32_t code = 0x0400; code < 0x0480; ++code) {
        if (near_kinds[code] != uint8_t(LetterKind::letter))
            return false;
    }
    return true;
}
static_assert(basic_cyrillic_are_letters(), "a run of Cyrillic letters below U+0480 is all letters");

}  // namespace

LetterKind letter_kind(char32_t code)
{
    if (code < near_kinds_end)
        return static_cast<LetterKind>(near_kinds[code]);
    const uint32_t* range = std::upper_bound(std::begin(letter_kind_ranges),
                                             std::end(letter_kind_ranges), uint32_t(code) << 2 | 3);
    return static_cast<LetterKind>(range[-1] & 3);
}

namespace {

// The twins' rows by their twin, in table order, so that a letter leads
// straight to its readings rather than through every row.
struct TwinIndex {
    std::array<uint8_t, std::size(twins)> rows;
    std::array<KeyRows, 0x400> by_twin;  // below U+0400, where every twin lies
};

constexpr TwinIndex make_twin_index()
{
    TwinIndex index{};
    size_t placed = 0;
    for (char32_t code = 0; code < index.by_twin.size(); ++code) {
        index.by_twin[code].first = uint8_t(placed);
        for (size_t row = 0; row < std::size(twins); ++row) {
            if (twins[row].twin == code)
                index.rows[placed++] = uint8_t(row);
        }
        index.by_twin[code].count = uint8_t(placed - index.by_twin[code].first);
    }
    return index;
}

constexpr TwinIndex twin_index = make_twin_index();

// cyrillic_twin, by going through the twin's rows.
constexpr char32_t twin_by_rows(char32_t code, Alphabets alphabets)
{
    if (code >= 0x0400)
        return 0;
    const Twin* fitting = nullptr;
    KeyRows rows = twin_index.by_twin[code];
    for (size_t k = rows.first; k < size_t{rows.first} + rows.count; ++k) {
        const Twin& twin = twins[twin_index.rows[k]];
        if (!(twin.alphabets & alphabets) ||
            (twin.only_when_clear && (twin.alphabets & alphabets) != alphabets))
            continue;
        if ((twin.alphabets & alphabets) == alphabets)
            return twin.letter;
        fitting = fitting ? fitting : &twin;
    }
    return fitting ? fitting->letter : 0;
}

// The readings of U+0040..U+007F, where the commonest twins lie, for every
// set of alphabets: a twin of a damaged word costs one lookup.
using AsciiTwins = std::array<std::array<char16_t, 0x40>, every_alphabet + 1>;

constexpr AsciiTwins make_ascii_twins()
{
    AsciiTwins table{};
    for (size_t alphabets = 0; alphabets < table.size(); ++alphabets) {
        for (char32_t code = 0x40; code < 0x80; ++code)
            table[alphabets][code - 0x40] = char16_t(twin_by_rows(code, Alphabets(alphabets)));
    }
    return table;
}

constexpr AsciiTwins ascii_twins = make_ascii_twins();

}  // namespace

char32_t cyrillic_twin(char32_t code, Alphabets alphabets)
{
    if (code - 0x40 < 0x40 && alphabets <= every_alphabet)
        return ascii_twins[alphabets][code - 0x40];
    return twin_by_rows(code, alphabets);
}

namespace {

// is_greek_only, for a code point of this kind.
constexpr bool is_greek_only_of_kind(char32_t code, LetterKind kind)
{
    bool greek = (code >= 0x0370 && code <= 0x03FF) || (code >= 0x1F00 && code <= 0x1FFF);
    return greek && !is_table_capital(code) && code != 0x03BF && kind == LetterKind::letter;
}

// reads_by_language, in a form the properties table is made with as the
// program is built.
constexpr bool twin_reads_by_language(char32_t code)
{
    if (code >= 0x0400)
        return false;
    KeyRows rows = twin_index.by_twin[code];
    for (size_t k = rows.first; k < size_t{rows.first} + rows.count; ++k) {
        if (twins[twin_index.rows[k]].alphabets != every_alphabet)
            return true;
    }
    return false;
}

}  // namespace

bool is_greek_only(char32_t code) { return is_greek_only_of_kind(code, letter_kind(code)); }

char32_t lower(char32_t code)
{
    if ((code >= 'A' && code <= 'Z') || (code >= 0x0410 && code <= 0x042F))
        return code + 0x20;
    if (code >= 0x0400 && code <= 0x040F)
        return code + 0x50;
    return code;
}

bool is_name_of(char32_t capital, const std::u32string& word)
{
    for (const GreekName& entry : greek_names) {
        for (const char32_t* name : entry.names) {
            if (entry.capital == capital && name && word == name)
                return true;
        }
    }
    return false;
}

namespace {

// The part of is_code_word that reads the signs around the word only.
bool is_glued_to_code(const char32_t* before, char32_t after)
{
    for (char32_t sign : {U'%', U'\\', U'$', U'@', U'&'}) {
        if (before[0] == sign)
            return true;
    }
    if (is_digit(before[0]) || is_digit(after) || after == '(' || after == '_' || after == '=')
        return true;
    // An option's dash follows a blank or a sign; after a letter or a digit
    // it joins a word (кое-что, 64-битной).
    if (before[0] == '-' && letter_kind(before[1]) != LetterKind::letter && !is_digit(before[1]))
        return true;
    size_t at = 0;
    while (at < signs_before - 1 && is_printf_flag(before[at]))
        ++at;
    return before[at] == '%';
}

}  // namespace

bool is_code_word(const char32_t* before, char32_t after, const std::u32string& letters)
{
    return is_glued_to_code(before, after) || has_case_pair(letters) || has_code_shape(letters);
}

bool reads_further_back(char32_t nearest) { return is_printf_flag(nearest); }

bool reads_by_language(char32_t code) { return twin_reads_by_language(code); }

char32_t word_twin(std::u32string_view letters, size_t at, Alphabets alphabets)
{
    char32_t code = letters[at];
    // An s that ends a word is an English plural glued on, not Macedonian ѕ.
    if (at + 1 == letters.size() && (code == 's' || code == 'S'))
        return 0;
    if ((code == 'y' || code == 'Y') && alphabets == turkic) {
        bool straight = reads_as_straight_u(letters, at);
        if (code == 'y')
            return straight ? U'\u04AF' : U'\u0443';
        return straight ? U'\u04AE' : U'\u0423';
    }
    return cyrillic_twin(code, alphabets);
}

namespace {

// What the word rule asks of a character, in one lookup: its kind, and
// whether it is Cyrillic, a capital of the table, a Greek letter of its own,
// a twin, a capital letter, a twin that reads by language, one of those
// other than y; its alphabets in the bits from alphabets_shift.
enum : uint16_t {
    kind_bits = 3,
    cyrillic_bit = 4,
    capital_bit = 8,
    greek_bit = 16,
    twin_bit = 32,
    upper_bit = 64,
    by_language_bit = 128,
    alphabets_shift = 8,
    beyond_y_bit = 0x8000,
};

constexpr Alphabets alphabets_in(uint16_t properties)
{
    return Alphabets(properties >> alphabets_shift & every_alphabet);
}

// Every twin lies below U+0400, where the twin index reaches.
constexpr bool is_twin(char32_t code) { return code < 0x0400 && twin_index.by_twin[code].count; }

constexpr uint16_t properties_from_rules(char32_t code, LetterKind kind)
{
    uint16_t properties = uint16_t(kind);
    if (is_cyrillic(code))
        properties |= cyrillic_bit;
    if (is_table_capital(code))
        properties |= capital_bit;
    if (is_greek_only_of_kind(code, kind))
        properties |= greek_bit;
    if (is_twin(code))
        properties |= twin_bit;
    if (is_upper(code))
        properties |= upper_bit;
    if (twin_reads_by_language(code))
        properties |= (code | 0x20) == 'y' ? by_language_bit : by_language_bit | beyond_y_bit;
    Alphabets alphabets = is_cyrillic(code) ? alphabets_of(code) : Alphabets(every_alphabet);
    return properties | uint16_t(alphabets << alphabets_shift);
}

// Below U+0800, where Cyrillic, Greek and Latin lie, from a table made
// from the rules as the program is built.
constexpr std::array<uint16_t, near_kinds_end> make_near_properties()
{
    std::array<uint16_t, near_kinds_end> table{};
    for (char32_t code = 0; code < near_kinds_end; ++code)
        table[code] = properties_from_rules(code, LetterKind(near_kinds[code]));
    return table;
}

constexpr std::array<uint16_t, near_kinds_end> near_properties = make_near_properties();

uint16_t properties_of(char32_t code)
{
    return code < near_kinds_end ? near_properties[code] : properties_from_rules(code, letter_kind(code));
}

// Whether a letter is Greek and no capital of the table: its word is Greek.
bool is_greek_letter(char32_t code) { return properties_of(code) & greek_bit; }

// How far after the last word a hit is read on to rather than walked back
// from: about a word, as in text where every word is damaged.
constexpr size_t near_hit = 32;

void clear(DecodedWord& word)
{
    word.odd.clear();
    word.foreign = false;
}

// Sums up a word's letters, of which `seen` and `every` are the properties
// ORed and ANDed.
void finish_word(DecodedWord& word, uint16_t seen, uint16_t every, size_t count)
{
    WordLetters& summary = word.summary;
    summary.greek = seen & greek_bit;
    summary.cyrillic = seen & cyrillic_bit;
    summary.capital = seen & capital_bit;
    word.letter_count = count;
    summary.letters = count;
    summary.first = count ? word.letter_room[0] : 0;
    summary.alphabets = alphabets_in(every);
    word.upper = seen & upper_bit;
    word.by_language = seen & by_language_bit;
    word.by_language_beyond_y = seen & beyond_y_bit;
}

// Doubles the room for a word's letters, keeping its first `count`, and
// returns it.
char32_t* more_room(DecodedWord& word, size_t count)
{
    std::unique_ptr<char32_t[]> room(new char32_t[2 * word.room]);
    std::copy(word.letter_room.get(), word.letter_room.get() + count, room.get());
    word.letter_room = std::move(room);
    word.room *= 2;
    return word.letter_room.get();
}

// Decodes the run of letters and marks at `start` that holds the letter at
// `hit` into `word`, and returns where it ends, by `end`. Any character
// before `hit` that is no letter or mark starts the word anew after it, so
// `start` may lie before the word, which it is then moved to. Past `limit`
// bytes the word is too long to judge, so only its end is looked for. Kept
// out of line: inlined, its loop runs short of registers.
template <class Codec>
[[gnu::noinline]] size_t decode_word(const uint8_t* text, size_t& start, size_t hit, size_t end,
                                     size_t limit, DecodedWord& word)
{
    clear(word);
    size_t from = start;
    // The properties of the word's letters, ORed and ANDed.
    uint16_t seen = 0, every = UINT16_MAX;
    // Where the last odd letter ends: a mark right there is its own.
    size_t odd_end = SIZE_MAX;
    // A letter takes a byte at least, so the room holds every letter that
    // starts before from + room; a word that reaches there grows it.
    char32_t* letters = word.letter_room.get();
    size_t count = 0;
    size_t at = from;
    char32_t code = 0;
    for (;; letters = more_room(word, count)) {
        size_t stop = std::min({end, from + limit + 1, from + word.room});
        for (size_t size; at < stop; at += size) {
            size = Codec::decode_near(text + at, text + end, code);
            uint16_t properties;
            if (size) {
                properties = near_properties[code];
            } else {
                size = Codec::decode(text + at, text + end, code);
                properties = size ? properties_of(code) : 0;
            }
            // Cyrillic letters, most of a word, ask for nothing more.
            if (__builtin_expect((properties & (kind_bits | cyrillic_bit)) ==
                                     (uint16_t(LetterKind::letter) | cyrillic_bit), 1)) {
                seen |= properties, every &= properties;
                letters[count++] = code;
                continue;
            }
            LetterKind kind = LetterKind(properties & kind_bits);
            if (kind == LetterKind::other) {
                size = size ? size : Codec::unit;
                if (at > hit) {
                    finish_word(word, seen, every, count);
                    word.resume = at + size;
                    start = from;
                    return at;
                }
                from = at + size;
                stop = std::min({end, from + limit + 1, from + word.room});
                clear(word);
                seen = 0, every = UINT16_MAX, odd_end = SIZE_MAX, count = 0;
                continue;
            }
            if (kind == LetterKind::mark) {
                if (at == odd_end)
                    word.odd.back().mark = code, word.odd.back().mark_size = uint8_t(size);
                continue;
            }
            seen |= properties, every &= properties;
            size_t letter = count;
            letters[count++] = code;
            if (!(properties & (twin_bit | capital_bit)))
                word.foreign = true;
            // Field by field: a whole record built aside and copied in stalls
            // on its own bytes.
            DecodedWord::Odd& odd = word.odd.emplace_back();
            odd.code = code;
            odd.at = uint32_t(at - from);
            odd.letter = uint32_t(letter);
            odd.size = uint8_t(size);
            odd_end = at + size;
        }
        if (at >= std::min(end, from + limit + 1))
            break;
    }
    start = from;
    finish_word(word, seen, every, count);
    word.resume = at < end && at - from > limit ? letters_end<Codec>(text, at, end) : at;
    return word.resume;
}

constexpr bool ascii_words_hold_letters_alone()
{
    for (char32_t code = 0; code < 0x80; ++code) {
        bool letter = is_ascii_letter(code);
        if ((LetterKind(near_properties[code] & kind_bits) != LetterKind::other) != letter)
            return false;
    }
    return true;
}

// Where the words of ASCII letters alone from `hit` on end, each with
// ASCII that is no letter (or the region's ends) on both sides: at the
// character after the last of them; else 0. Such words have no Cyrillic
// letter for a twin to join, so they never change and are passed over
// undecoded, a run of ASCII at a time: text that quotes Latin words, names
// and commands holds them by the thousand.
template <class Codec>
size_t ascii_words_end(const uint8_t* text, size_t from, size_t hit, size_t settled)
{
    static_assert(ascii_words_hold_letters_alone(), "an ASCII character is in a word when it is a letter");
    auto ascii = [&](size_t at) {
        char32_t code = 0;
        size_t size = Codec::decode_near(text + at, text + settled, code);
        return size == Codec::unit && code < 0x80 ? int(code) : -1;
    };
    auto letter = [](int code) { return code >= 0 && is_ascii_letter(uint32_t(code)); };
    // The run starts at a letter after ASCII that is no letter, or at the region's start.
    if (!letter(ascii(hit)))
        return 0;
    if (hit > from && (ascii(hit - Codec::unit) < 0 || letter(ascii(hit - Codec::unit))))
        return 0;
    size_t run_end = size_t(Codec::ascii_end(text + hit, text + settled) - text);
    if (run_end == settled)
        return settled;
    // The word that the run's end cuts may go on in letters of any script.
    size_t at = run_end;
    while (at > hit && letter(ascii(at - Codec::unit)))
        at -= Codec::unit;
    return at > hit ? at - Codec::unit : 0;
}

}  // namespace

WordStage::WordStage(FindingSink* sink, bool twins, size_t word_limit, size_t largest_piece)
    : sink_(sink),
      twins_(twins),
      word_limit_(word_limit),
      history_(new uint8_t[context_reach]),
      out_(new uint8_t[2 * (most_carried(word_limit) + largest_piece)])
{
    // Enough for the words of any language: a longer one doubles it.
    word_.room = 256;
    word_.letter_room.reset(new char32_t[word_.room]);
}

void WordStage::start(TextEncoding encoding, size_t bom)
{
    encoding_ = encoding;
    bom_ = bom;
    if (sink_)
        tracker_.reset(new PositionTracker(encoding, bom));
}

void WordStage::row_found(int row, size_t at)
{
    // Field by field: a record built whole on the stack was copied with a
    // load wider than its stores, which waited for them to reach memory.
    QueuedFinding& finding = queued_.emplace_back();
    finding.row = row;
    finding.offset = handed_ + at;
}

bool WordStage::hit_read(size_t at)
{
    if (told_.size() == most_told)
        return false;
    told_.push_back(static_cast<uint32_t>(at));
    return true;
}

void WordStage::move_carry(uint8_t* piece)
{
    if (carried_ && carry_ != piece - carried_)
        std::memmove(piece - carried_, carry_, carried_);
    carry_ = piece - carried_;
    std::memcpy(piece - carried_ - history_size_, history_.get(), history_size_);
}

ByteSpan WordStage::take(uint8_t* piece, size_t size, size_t clean, bool last)
{
    clean_ = clean;
    uint8_t* text = piece - carried_;
    size_t length = carried_ + size;
    text_offset_ = handed_ - carried_;
    handed_ += size;
    size_t settled;
    switch (encoding_) {
    case TextEncoding::utf8:
        settled = run<Utf8>(text, length, last);
        break;
    case TextEncoding::utf16le:
        settled = run<Utf16<false>>(text, length, last);
        break;
    default:
        settled = run<Utf16<true>>(text, length, last);
        break;
    }
    if (sink_) {
        pass_findings_before(text, last ? UINT64_MAX : text_offset_ + settled);
        track_to(text, text_offset_ + settled);
        queued_.erase(queued_.begin(), queued_.begin() + ptrdiff_t(passed_));
        passed_ = 0;
    }
    told_.clear();
    next_told_ = 0;
    keep_history(text, settled);
    carry_ = text + settled;
    carried_ = length - settled;
    if (!rewriting_) {
        for (const Patch& patch : patches_)
            std::memcpy(text + patch.at, patch.bytes, sizeof patch.bytes);
        patches_.clear();
        return {text, settled};
    }
    copy_out(text, settled);
    rewriting_ = false;
    patches_.clear();
    return {out_.get(), out_size_};
}

// Repairs the words that end in this piece and returns where the bytes that
// wait for the next piece start: a word that may go on, or a character cut
// short.
template <class Codec>
size_t WordStage::run(const uint8_t* text, size_t size, bool last)
{
    size_t cut = last ? size : size - Codec::cut_tail(text, text + size);
    size_t from = 0;
    if (in_long_run_) {
        from = letters_end<Codec>(text, 0, cut);
        if (from == cut && !last)
            return carried_word_ = 0, cut;
        in_long_run_ = false;
    }
    size_t settled = cut;
    if (!last) {
        size_t start = trailing_run_start<Codec>(text, from, cut);
        if (cut - start > word_limit_)
            in_long_run_ = true;
        else
            settled = start;
    }
    carried_word_ = cut - settled;
    size_t final_end = repair_words<Codec>(text, from, settled, cut, last);
    if (final_end < settled) {
        // A word of Greek capitals waits for its line: the carry starts there.
        in_long_run_ = false;
        carried_word_ = 0;
        settled = final_end;
    }
    return settled;
}

// Where the run of letters and marks that ends at `cut` starts. The word
// carried from the last piece is known to be letters, so it is walked on
// from rather than back over: a long word arriving a byte at a time costs
// no more than once over.
template <class Codec>
size_t WordStage::trailing_run_start(const uint8_t* text, size_t from, size_t cut) const
{
    if (carried_word_ && letters_end<Codec>(text, carried_word_, cut) == cut)
        return 0;
    return word_start<Codec>(text, from, cut);
}

// Where the run of letters and marks that ends at `at` starts, no earlier
// than `floor`; once it is longer than the word limit, wherever the walk
// back stopped.
template <class Codec>
size_t WordStage::word_start(const uint8_t* text, size_t floor, size_t at) const
{
    size_t start = at;
    char32_t code = 0;
    while (at - start <= word_limit_) {
        size_t size = Codec::decode_before(text + floor, text + start, code);
        if (!size || !is_word_character(code))
            break;
        start -= size;
    }
    return start;
}

// Judges each word in [from, settled) that has a byte a twin or a Greek
// capital may start with, and rewrites those that change; words without
// one are never decoded. Returns where the text stops being final: settled,
// or a word of Greek capitals whose line goes on past `cut` and may yet
// tell what it is.
template <class Codec>
size_t WordStage::repair_words(const uint8_t* text, size_t from, size_t settled, size_t cut,
                               bool last)
{
    // Past the character that ended the last word, where reading on from it
    // starts.
    size_t resume = from;
    for (size_t at = from; at < settled;) {
        size_t hit = next_hit<Codec>(text, at, settled);
        if (hit >= settled)
            break;
        if (size_t end = ascii_words_end<Codec>(text, from, hit, settled)) {
            at = end;
            resume = end < settled ? end + Codec::unit : end;
            continue;
        }
        char32_t code = 0;
        // Below 0x80, UTF-8's hit bytes are letters alone.
        bool ascii_letter = Codec::unit == 1 && text[hit] < 0x80;
        if (!ascii_letter &&
            (!Codec::decode(text + hit, text + settled, code) || !is_word_character(code))) {
            at = hit + Codec::unit;
            continue;
        }
        // A Greek letter makes its word Greek, which stays as it is.
        if (!ascii_letter && is_greek_letter(code)) {
            at = letters_end<Codec>(text, hit, settled);
            continue;
        }
        if (is_table_capital(code)) {
            if (size_t end = take_capital_word<Codec>(text, from, hit, settled, code)) {
                at = end;
                continue;
            }
        }
        // Close after the last word, reading on from it costs less than
        // walking back from the hit.
        size_t start = hit - at <= near_hit ? std::max(at, resume) : word_start<Codec>(text, from, hit);
        size_t end = decode_word<Codec>(text, start, hit, settled, word_limit_, word_);
        at = end;
        resume = word_.resume;
        if (end - start > word_limit_)
            continue;
        const WordLetters& word = word_.summary;
        if (word.greek)
            continue;
        bool capitals = word.capital;
        if (capitals && !word.cyrillic) {
            Verdict verdict =
                judge_capitals<Codec>(text, start, end, cut, last, word.letters, word.first);
            if (verdict == Verdict::wait)
                return start;
            capitals = verdict == Verdict::repair;
            if (!capitals)
                continue;
        }
        bool twins = twins_ && twins_change(reading_alphabets<Codec>(text, start, word.alphabets)) &&
                     !is_code<Codec>(text, start, end, cut);
        if (capitals || twins)
            rewrite_word<Codec>(text, start, end, twins);
    }
    return settled;
}

// Takes the word that holds `capital`, at `hit`, when its letters
// tell at once what it is, and returns where it ends; 0 for any other
// word, which is left as it is. A word made of Cyrillic letters below
// U+0480 and capitals of the table, with a Cyrillic letter among them, is
// Cyrillic, as most damaged words are (Οла, and ΧΑБΑΡΟВСК in text set in
// capitals): its capitals are repaired. A word with a Greek letter that is
// no capital of the table (Πόλη, ΑΘΗΝΑ) is Greek, and stays. No hit comes
// before `hit` in its word, so only Cyrillic letters are walked back over.
template <class Codec>
size_t WordStage::take_capital_word(const uint8_t* text, size_t from, size_t hit, size_t settled,
                                    char32_t capital)
{
    size_t start = hit;
    while (start - from >= 2 && Codec::basic_cyrillic_end(text + start - 2, text + start) == text + start)
        start -= 2;
    char32_t code = 0;
    bool greek = start > from && Codec::decode_before(text + from, text + start, code) && is_word_character(code);
    if (greek && !is_greek_letter(code))
        return 0;
    bool cyrillic = start < hit, more_capitals = false;
    // Greek capitals take two bytes in either encoding; the Cyrillic
    // letters between them are passed over a run at a time.
    size_t end = hit + 2, size;
    for (;; end += 2, more_capitals = true) {
        size_t letters = size_t(Codec::basic_cyrillic_end(text + end, text + settled) - text);
        cyrillic |= letters > end;
        end = letters;
        size = end < settled ? Codec::decode(text + end, text + settled, code) : 0;
        if (size != 2 || !is_table_capital(code))
            break;
    }
    bool goes_on = size && is_word_character(code);
    if (goes_on && !greek && !is_greek_letter(code))
        return 0;
    if (greek || goes_on)
        return letters_end<Codec>(text, end, settled);
    if (!cyrillic || end - start > word_limit_)
        return 0;
    repair_capital<Codec>(text, hit, capital);
    for (size_t at = hit + 2; more_capitals && at < end; at += 2) {
        Codec::decode_near(text + at, text + end, code);
        if (is_table_capital(code))
            repair_capital<Codec>(text, at, code);
    }
    return end;
}

// Repairs the Greek capital at `at`, which has no mark after it.
template <class Codec>
void WordStage::repair_capital(const uint8_t* text, size_t at, char32_t capital)
{
    int row = capital_row(capital);
    if (sink_)
        report_capital(text, at, row);
    Patch& patch = patches_.emplace_back();
    patch.at = uint32_t(at);
    Codec::put(repairs[row].replacement[0], patch.bytes);
    changed_ = true;
}

// The first byte in [at, settled) that may start a hit, or settled. The
// piece's start, up to where the scan stopped telling, is not searched:
// its hits are those the scan told of.
template <class Codec>
size_t WordStage::next_hit(const uint8_t* text, size_t at, size_t settled)
{
    auto find = [&](size_t from, size_t to) {
        const uint8_t* found = twins_ ? Codec::find_hit(text + from, text + to)
                                      : Codec::find_capital(text + from, text + to);
        return size_t(found - text);
    };
    size_t piece_start = std::min(carried_, settled), told_end = std::min(carried_ + clean_, settled);
    if (at < piece_start) {
        size_t hit = find(at, piece_start);
        if (hit < piece_start)
            return hit;
    }
    if (at < told_end) {
        size_t hit = next_told_hit(at, told_end);
        if (hit < told_end)
            return hit;
    }
    return find(std::max(at, told_end), settled);
}

// The first hit told of at `at` or after it, or `end`.
size_t WordStage::next_told_hit(size_t at, size_t end)
{
    for (; next_told_ < told_.size(); ++next_told_) {
        size_t hit = carried_ + told_[next_told_];
        if (hit >= at)
            return std::min(hit, end);
    }
    return end;
}

// Whether the word judged last changes by its twins: it holds a Cyrillic
// letter (a Greek capital that is to be repaired counts as one), a twin,
// and no other letter. Notes the letter each twin becomes.
bool WordStage::twins_change(Alphabets alphabets)
{
    if (word_.foreign)
        return false;
    bool cyrillic = word_.summary.cyrillic, twin = false;
    for (DecodedWord::Odd& odd : word_.odd) {
        if (is_table_capital(odd.code)) {
            cyrillic = true;
            continue;
        }
        odd.becomes = word_twin(word_.letters(), odd.letter, alphabets);
        if (!odd.becomes)
            return false;
        twin = true;
    }
    return cyrillic && twin;
}

template <class Codec>
bool WordStage::is_code(const uint8_t* text, size_t start, size_t end, size_t cut)
{
    const uint8_t* floor = text - history_size_;
    char32_t before[signs_before] = {}, after = 0;
    const uint8_t* at = text + start;
    size_t size = Codec::decode_before(floor, at, before[0]);
    for (size_t i = 1; i < signs_before && size && reads_further_back(before[0]); ++i) {
        at -= size;
        size = Codec::decode_before(floor, at, before[i]);
    }
    if (end < cut)
        Codec::decode(text + end, text + cut, after);
    // A case pair and every code shape need a capital letter, which most
    // words lack.
    return is_glued_to_code(before, after) ||
           (word_.upper && (has_case_pair(word_.letters()) || has_code_shape(word_.letters())));
}

// The alphabets by which the word's twins are read: its own letters', and
// of those the ones the text shortly before it points to too, when its
// twins read differently by the language (Iнодов in Russian text stays).
template <class Codec>
Alphabets WordStage::reading_alphabets(const uint8_t* text, size_t start, Alphabets alphabets)
{
    bool may_change = !word_.foreign && (word_.summary.cyrillic || word_.summary.capital);
    bool y_alone = !word_.by_language_beyond_y;
    if (!may_change || !word_.by_language)
        return alphabets;
    // A y alone asks only whether the text is Turkic: that needs a letter
    // of theirs alone before the word, which most text lacks whole.
    if (y_alone && (!(alphabets & turkic) || alphabets == turkic))
        return alphabets;
    const uint64_t word_at = text_offset_ + start;
    const uint8_t* floor = text + start - std::min<uint64_t>(word_at, context_reach);
    if (y_alone && !Codec::may_hold_turkic(floor, text + start))
        return Alphabets(alphabets & ~turkic);
    Alphabets around = alphabets_before<Codec>(text, start);
    return alphabets & around ? Alphabets(alphabets & around) : alphabets;
}

// The alphabets that hold every Cyrillic letter of the context_reach bytes
// before `start`; the Turkic ones, which hold every Russian letter too,
// only when a letter of theirs alone shows them. Every alphabet when there
// is no Cyrillic letter or none fits. Each byte is read once, as later
// words' reaches overlap: the evidence keeps where the last letters of each
// kind were read.
template <class Codec>
Alphabets WordStage::alphabets_before(const uint8_t* text, size_t start)
{
    const uint64_t word_at = text_offset_ + start;
    const uint64_t floor = word_at - std::min<uint64_t>(word_at, context_reach);
    if (evidence_.read_to > word_at)
        evidence_ = LanguageEvidence();
    char32_t code = 0;
    const uint8_t* end = text + start;
    for (const uint8_t* p = end - (word_at - std::max(evidence_.read_to, floor)); p < end;) {
        size_t size = Codec::decode(p, end, code);
        uint64_t after = word_at - size_t(end - p) + 1;
        p += size ? size : Codec::unit;
        uint16_t properties = size ? properties_of(code) : 0;
        if ((properties & cyrillic_bit) && LetterKind(properties & kind_bits) == LetterKind::letter)
            note_letter(alphabets_in(properties), after);
    }
    evidence_.read_to = word_at;
    Alphabets around = every_alphabet;
    for (size_t k = 0; k < evidence_.set_count; ++k) {
        Alphabets set = evidence_.sets[k];
        if (evidence_.after_by_alphabets[set] > floor)
            around &= set;
    }
    if (evidence_.turkic_after <= floor)
        around &= ~turkic;
    return evidence_.cyrillic_after > floor && around ? around : Alphabets(every_alphabet);
}

void WordStage::note_letter(Alphabets alphabets, uint64_t after)
{
    evidence_.cyrillic_after = after;
    if (alphabets == turkic)
        evidence_.turkic_after = after;
    // A letter in every alphabet leaves none out.
    if (alphabets == every_alphabet)
        return;
    uint64_t& last = evidence_.after_by_alphabets[alphabets];
    if (!last)
        evidence_.sets[evidence_.set_count++] = alphabets;
    last = after;
}

// A word of Greek capitals alone (ΑΒΓ) is Cyrillic unless its line says it
// is Greek: it stands in its own cell of a table (between tabs, or alone on
// its line beside its name), or the nearest word with Greek or Cyrillic
// letters on either side of it in its line is Greek. Its line is read no
// further than context_reach bytes either way.
template <class Codec>
WordStage::Verdict WordStage::judge_capitals(const uint8_t* text, size_t start, size_t end,
                                             size_t cut, bool last, size_t letters,
                                             char32_t first) const
{
    LineSide behind, ahead;
    if (!look_ahead<Codec>(text, end, cut, last, ahead))
        return Verdict::wait;
    look_behind<Codec>(text, start, behind);
    if (letters == 1) {
        bool cell = (behind.tab || behind.line_edge) && (ahead.tab || ahead.line_edge) &&
                    (behind.tab || ahead.tab);
        bool named = (behind.line_edge && !behind.words && ahead.whole_line && ahead.words == 1 &&
                      names<Codec>(first, ahead)) ||
                     (ahead.line_edge && !ahead.words && behind.whole_line && behind.words == 1 &&
                      names<Codec>(first, behind));
        if (cell || named)
            return Verdict::keep;
    }
    return behind.greek || ahead.greek ? Verdict::keep : Verdict::repair;
}

// Whether the nearest word of a side names the Greek capital.
template <class Codec>
bool WordStage::names(char32_t capital, const LineSide& side)
{
    std::u32string letters;
    letters_of<Codec>(side.nearest, side.nearest_end, letters);
    for (char32_t& letter : letters)
        letter = lower(letter);
    return is_name_of(capital, letters);
}

namespace {

// Signs that leave a side of a line blank.
bool is_blank(char32_t code) { return code == ' ' || code == '\r' || code == 0xFEFF; }

}  // namespace

// Notes a word of [start, end) met on a side, the nearest ones first: only
// the nearest word's letters and the nearest deciding word count.
template <class Codec>
void WordStage::note_word(const uint8_t* start, const uint8_t* end, LineSide& side, bool& decided)
{
    if (!side.words++)
        side.nearest = start, side.nearest_end = end;
    if (!decided) {
        const WordLetters word = read_word<Codec>(start, end);
        if (word.greek || word.cyrillic)
            side.greek = word.greek, decided = true;
    }
}

// The line before `start`, back to its start or context_reach bytes, read
// from the word outwards and only as far as the verdict needs: the nearest
// sign, the nearest deciding word, and whether a second word comes. Read
// backwards, the bytes split into the characters that reading forwards
// finds, since a character ends where the next one starts.
template <class Codec>
void WordStage::look_behind(const uint8_t* text, size_t start, LineSide& side) const
{
    const uint8_t* lowest = text - history_size_;
    const uint8_t* floor = text + start - std::min<size_t>(start + history_size_, context_reach);
    bool decided = false, blank = true;
    char32_t code = 0;
    const uint8_t* p = text + start;
    while (p > floor && !(decided && side.words >= 2)) {
        size_t size = Codec::decode_before(floor, p, code);
        if (size && code == '\n')
            break;
        if (size && is_word_character(code)) {
            const uint8_t* word_end = p;
            for (; p > floor && (size = Codec::decode_before(floor, p, code)) && is_word_character(code);
                 p -= size) {
            }
            note_word<Codec>(p, word_end, side, decided);
            blank = false;
            continue;
        }
        p -= std::min<size_t>(size ? size : Codec::unit, size_t(p - floor));
        if (size && is_blank(code))
            continue;
        if (blank)
            side.tab = size && code == '\t';
        blank = false;
    }
    side.whole_line = p > floor || (floor == lowest && history_size_ == text_offset_);
    side.line_edge = side.whole_line && blank;
}

// The line after `end`, to its end or context_reach bytes, read as far as
// the verdict needs, as the line behind is; false when the text so far
// ends first and more may follow.
template <class Codec>
bool WordStage::look_ahead(const uint8_t* text, size_t end, size_t cut, bool last,
                           LineSide& side) const
{
    size_t reach = std::min(cut, end + context_reach);
    const uint8_t* line_end = Codec::line_end(text + end, text + reach);
    bool newline = line_end != text + reach;
    bool text_ends = reach < end + context_reach;
    if (!newline && text_ends && !last)
        return false;
    side.whole_line = newline || text_ends;
    bool decided = false, blank = true;
    char32_t code = 0;
    for (const uint8_t* p = text + end; p < line_end && !(decided && side.words >= 2);) {
        size_t size = Codec::decode(p, line_end, code);
        if (size && is_word_character(code)) {
            const uint8_t* word_end = p + letters_end<Codec>(p, 0, size_t(line_end - p));
            note_word<Codec>(p, word_end, side, decided);
            blank = false;
            p = word_end;
            continue;
        }
        p += size ? size : Codec::unit;
        if (size && is_blank(code))
            continue;
        if (blank)
            side.tab = size && code == '\t';
        blank = false;
    }
    side.line_edge = side.whole_line && blank;
    return true;
}

// Rewrites the word judged last: its Greek capitals, and with `twins` its
// twins. A Cyrillic letter so made with the mark after it may make a
// search of the repairs (e + U+0308 becomes е + U+0308, which is ё): then
// the row's letter is written, as a second run would have it, so a run over
// repaired text changes nothing.
template <class Codec>
void WordStage::rewrite_word(const uint8_t* text, size_t start, size_t end, bool twins)
{
    // Only a twin's report shows the word.
    const std::string word = sink_ && twins ? word_as_read<Codec>(text, start, end) : std::string();
    for (const DecodedWord::Odd& odd : word_.odd) {
        bool capital = is_table_capital(odd.code);
        char32_t letter = capital ? repairs[capital_row(odd.code)].replacement[0]
                                  : twins ? odd.becomes : 0;
        if (!letter)
            continue;
        size_t at = start + odd.at, size = odd.size;
        int row = odd.mark ? pair_row(capital ? odd.code : letter, odd.mark) : -1;
        TwinRepair repair{odd.code, 0, letter};
        if (row >= 0) {
            repair = {odd.code, odd.mark, repairs[row].replacement[0]};
            size += odd.mark_size;
        }
        if (sink_ && capital)
            report_capital(text, at, row >= 0 ? row : capital_row(odd.code));
        else if (sink_)
            report_twin(text, at, repair, word);
        uint8_t letter_bytes[4];
        size_t letter_size = Codec::put(repair.letter, letter_bytes);
        if (letter_size == size && size == sizeof(Patch::bytes)) {
            Patch& patch = patches_.emplace_back();
            patch.at = uint32_t(at);
            std::memcpy(patch.bytes, letter_bytes, sizeof patch.bytes);
            continue;
        }
        copy_out(text, at);
        std::memcpy(out_.get() + out_size_, letter_bytes, letter_size);
        out_size_ += letter_size;
        copied_ = at + size;
    }
    changed_ = true;
}

// The word in UTF-8 as it was read: where the letter table's pass repaired
// a letter in it, the letters it replaced.
template <class Codec>
std::string WordStage::word_as_read(const uint8_t* text, size_t start, size_t end)
{
    std::string word;
    auto queued = queued_.begin() + ptrdiff_t(passed_);
    char32_t code = 0;
    for (size_t at = start, size; at < end; at += size) {
        size = Codec::decode(text + at, text + end, code);
        while (queued != queued_.end() && queued->offset < text_offset_ + at)
            ++queued;
        if (queued == queued_.end() || queued->offset != text_offset_ + at) {
            append_utf8(word, code);
            continue;
        }
        for (const char16_t* unit = repairs[queued->row].search; *unit; ++unit)
            append_utf8(word, *unit);
    }
    return word;
}

// Where the character `at` bytes into the text was read. The letter
// table's findings before it are reported first.
TextPosition WordStage::position_at(const uint8_t* text, size_t at)
{
    uint64_t offset = text_offset_ + at;
    pass_findings_before(text, offset);
    return read_position(text, offset);
}

// Where the character at `offset` in the repaired text was read: the
// repairs before it in its line shift it back. Repairs never touch a line
// end, and each replaces whole characters that start with a lead by whole
// characters, so the counting around them is the same in both texts.
TextPosition WordStage::read_position(const uint8_t* text, uint64_t offset)
{
    track_to(text, offset);
    TextPosition position = tracker_->next_position();
    if (shrunk_.line == position.line) {
        position.column += shrunk_.column;
        position.utf16_column += shrunk_.utf16_column;
        position.byte_column += shrunk_.byte_column;
    }
    position.byte_offset += shrunk_.byte_offset;
    return position;
}

void WordStage::report_twin(const uint8_t* text, size_t at, const TwinRepair& repair,
                            const std::string& word)
{
    sink_->found_twin(
        {position_at(text, at), repair.twin, repair.mark, repair.letter, word.data(), word.size()});
}

void WordStage::report_capital(const uint8_t* text, size_t at, int row)
{
    sink_->found({position_at(text, at), row});
}

void WordStage::pass_findings_before(const uint8_t* text, uint64_t offset)
{
    for (; passed_ < queued_.size() && queued_[passed_].offset < offset; ++passed_) {
        Finding finding{read_position(text, queued_[passed_].offset), queued_[passed_].row};
        count_shrink(finding);
        sink_->found(finding);
    }
}

// A two-unit search becomes one unit; in UTF-8 a replacement may also take
// fewer bytes than a one-unit search (U+1D0F is three, U+043E two).
void WordStage::count_shrink(const Finding& finding)
{
    if (finding.at.line != shrunk_.line)
        shrunk_ = {finding.at.line, 0, 0, 0, shrunk_.byte_offset};
    uint64_t units = units_in(repairs[finding.row].search) - 1;
    const Utf8Fix& fix = utf8_fixes[finding.row];
    uint64_t bytes = encoding_ == TextEncoding::utf8 ? fix.search_size - fix.replacement_size
                                                     : 2 * units;
    shrunk_.column += units;
    shrunk_.utf16_column += units;
    shrunk_.byte_column += bytes;
    shrunk_.byte_offset += bytes;
}

// Counts the text up to `offset` into the position; the BOM never counts.
void WordStage::track_to(const uint8_t* text, uint64_t offset)
{
    uint64_t from = std::max<uint64_t>(tracked_, bom_);
    if (offset > from)
        tracker_->advance(text + (from - text_offset_), offset - from);
    tracked_ = std::max(tracked_, offset);
}

// Keeps the last context_reach bytes before `settled` (fewer at the text's
// start), which lie right before the text, for the next piece's look back.
void WordStage::keep_history(const uint8_t* text, size_t settled)
{
    size_t size = std::min(context_reach, history_size_ + settled);
    std::memmove(history_.get(), text + settled - size, size);
    history_size_ = size;
}

// Moves the text up to `end` into the rewritten text, behind what is there,
// with the letters that change in place.
void WordStage::copy_out(const uint8_t* text, size_t end)
{
    if (!rewriting_) {
        rewriting_ = true;
        copied_ = 0;
        out_size_ = 0;
        patched_ = 0;
    }
    uint8_t* out = out_.get() + out_size_;
    std::memcpy(out, text + copied_, end - copied_);
    for (; patched_ < patches_.size() && patches_[patched_].at < end; ++patched_) {
        const Patch& patch = patches_[patched_];
        std::memcpy(out + (patch.at - copied_), patch.bytes, sizeof patch.bytes);
    }
    out_size_ += end - copied_;
    copied_ = end;
}
