// The bytes of UTF-8 text and the units of UTF-16 at which the word stage
// looks: a Greek capital, and with the word rule what may start a twin.
// Both the stage's own search and the scan of the repairs test them, so the
// scan can tell the stage where they lie rather than have it search again.
#pragma once

#include "stream/simd.h"

#include <cstdint>

constexpr bool is_ascii_letter(uint32_t code) { return (code | 0x20) - 'a' < 26; }

// The lead byte of the Greek letters U+0380 to U+03BF, and the range of the
// byte after it in the capitals, U+0391 to U+03A9.
constexpr uint8_t greek_lead = 0xCE, capital_low = 0x91, capital_high = 0xA9;

constexpr bool is_capital_second(uint8_t byte) { return uint8_t(byte - capital_low) <= capital_high - capital_low; }

// Whether a byte may start what the word stage looks for: greek_lead,
// and with `twins` an ASCII letter or a lead of U+00C0 to U+027F (Latin
// letters with marks, schwa, barred o).
inline bool is_hit_byte(uint8_t byte, bool twins)
{
    bool twin = is_ascii_letter(byte) || (byte >= 0xC3 && byte <= 0xC9);
    return byte == greek_lead || (twins && twin);
}

// The same in UTF-16: a Greek capital, U+0391 to U+03A9, and with `twins`
// an ASCII letter, a Latin one of U+00C0 to U+027F or a Greek one of
// U+0391 to U+03BF.
inline bool is_hit_unit(char32_t unit, bool twins)
{
    if (!twins)
        return unit - 0x0391 <= 0x03A9 - 0x0391;
    if (unit < 0x80)
        return is_ascii_letter(unit);
    return (unit >= 0xC0 && unit < 0x280) || unit - 0x0391 <= 0x03BF - 0x0391;
}

#if defined(STREAM_SIMD)
// Bit i set when byte i of the block passes is_hit_byte. (byte | 0x20) +
// 0x1F lands below 0x9A, as a signed byte, exactly for the ASCII letters.
inline unsigned hit_mask(__m128i block, bool twins)
{
    __m128i hits = _mm_cmpeq_epi8(block, _mm_set1_epi8(char(greek_lead)));
    if (twins) {
        __m128i folded = _mm_add_epi8(_mm_or_si128(block, _mm_set1_epi8(0x20)), _mm_set1_epi8(0x80 - 'a'));
        __m128i letters = _mm_cmplt_epi8(folded, _mm_set1_epi8(char(0x80 + 26)));
        __m128i shifted = _mm_sub_epi8(block, _mm_set1_epi8(char(0xC3)));
        __m128i latin = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(0xC9 - 0xC3)), shifted);
        hits = _mm_or_si128(hits, _mm_or_si128(letters, latin));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

#if defined(STREAM_WIDE)
// hit_mask with twins, 32 bytes at a time.
WIDE_CODE inline unsigned wide_twin_hit_mask(const uint8_t* p)
{
    __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i hits = _mm256_cmpeq_epi8(block, _mm256_set1_epi8(char(greek_lead)));
    __m256i folded =
        _mm256_add_epi8(_mm256_or_si256(block, _mm256_set1_epi8(0x20)), _mm256_set1_epi8(char(0x80 - 'a')));
    __m256i letters = _mm256_cmpgt_epi8(_mm256_set1_epi8(char(0x80 + 26)), folded);
    __m256i shifted = _mm256_sub_epi8(block, _mm256_set1_epi8(char(0xC3)));
    __m256i latin = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(0xC9 - 0xC3)), shifted);
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(hits, _mm256_or_si256(letters, latin))));
}
#endif
