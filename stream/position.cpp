// Line and column counting for findings, as the check mode reports them.
#include "stream/position.h"

#include <algorithm>

#include "stream/simd.h"

namespace {

// The last LF byte in [p, end), or nullptr. A line seldom runs long, so
// going back from the end finds it soon.
const uint8_t* last_line_end(const uint8_t* p, const uint8_t* end)
{
#if defined(STREAM_SIMD)
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - p >= 16; end -= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
        if (unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf))))
            return end - 16 + (31 - __builtin_clz(mask));
    }
#endif
    while (end > p) {
        if (*--end == '\n')
            return end;
    }
    return nullptr;
}

#if defined(STREAM_SIMD)
// How many bytes of the whole blocks of 16 from p on are LF, or with
// `units` lie in an LF unit; p moves past the blocks. Each byte lane counts
// up to 255 blocks before the lanes are summed.
template <bool units>
uint64_t count_in_blocks(const uint8_t*& p, const uint8_t* end, __m128i lf)
{
    const __m128i zero = _mm_setzero_si128();
    uint64_t count = 0;
    while (end - p >= 16) {
        const uint8_t* stop = p + std::min<size_t>(size_t(end - p) / 16, 255) * 16;
        __m128i lanes = zero;
        for (; p < stop; p += 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            lanes = _mm_sub_epi8(lanes, units ? _mm_cmpeq_epi16(block, lf) : _mm_cmpeq_epi8(block, lf));
        }
        __m128i sums = _mm_sad_epu8(lanes, zero);
        count += uint32_t(_mm_cvtsi128_si32(sums)) + uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
    return count;
}
#endif

// How many LF bytes [p, end) holds, a vector at a time: one search per
// line cost more than the counting when lines are short.
uint64_t count_line_ends(const uint8_t* p, const uint8_t* end)
{
    uint64_t count = 0;
#if defined(STREAM_SIMD)
    count = count_in_blocks<false>(p, end, _mm_set1_epi8('\n'));
#endif
    for (; p < end; ++p)
        count += *p == '\n';
    return count;
}

// From this many bytes on, a UTF-16 stretch skips to its last line end.
constexpr ptrdiff_t long_utf16_stretch = 1024;

#if defined(STREAM_SIMD)
// A stretch as counted in one pass: its line ends, and the characters
// after the last of them (or in all, when it has none).
struct PlainStretch {
    uint64_t line_ends;
    const uint8_t* line_start;  // after the last line end, or the stretch's start
    uint64_t characters;
};

// How many bits of `mask` are set; line ends are few in a block.
unsigned set_bits(unsigned mask)
{
    unsigned count = 0;
    for (; mask; mask &= mask - 1)
        ++count;
    return count;
}

// The LF bytes in a block of 16 as a bit mask.
unsigned line_end_mask(const uint8_t* block)
{
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
}

// Finds the line ends of [p, end), at least 16 bytes, from the back: the
// last one, then how many come before it, a whole piece of clean text as
// fast as a stretch between two findings.
void read_line_ends(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    const uint8_t* last = nullptr;
    uint64_t line_ends = 0;
    const uint8_t* q = end;
    for (; !last && q - p >= 16; q -= 16) {
        if (unsigned mask = line_end_mask(q - 16)) {
            last = q - 16 + (31 - __builtin_clz(mask));
            line_ends = set_bits(mask);
        }
    }
    if (!last) {
        // The front bytes not yet looked at, in the block that starts the stretch.
        if (unsigned mask = line_end_mask(p) & ((1u << (q - p)) - 1)) {
            last = p + (31 - __builtin_clz(mask));
            line_ends = set_bits(mask);
        }
    } else {
        const uint8_t* counted = p;
        line_ends += count_in_blocks<false>(counted, q, _mm_set1_epi8('\n'));
        // The few bytes left before q, in a block that ends at q or starts at p.
        if (counted < q) {
            unsigned left = unsigned(q - counted);
            line_ends += q - p >= 16 ? set_bits(line_end_mask(q - 16) >> (16 - left))
                                     : set_bits(line_end_mask(p) & ((1u << left) - 1));
        }
    }
    stretch.line_ends = line_ends;
    stretch.line_start = last ? last + 1 : p;
}

// 16 zero bytes, then 16 bytes 0xFF: loaded at `n`, the last n lanes are set.
alignas(16) constexpr uint8_t last_lanes[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// The kinds of UTF-8 byte that count_three_byte_line tells apart, each as
// lanes of 0xFF.
struct ByteKinds {
    __m128i continuation;  // 80..BF
    __m128i lead;          // C2..DF, E1..EC, EE, EF: any continuation may follow
    __m128i three_lead;    // E1..EC, EE, EF
};

ByteKinds kinds_of(__m128i block)
{
    // As signed bytes, continuations lie in [-128, -65] and C2..EF in
    // [-62, -17]; after E0 (-32) and ED (-19) only some continuations may
    // follow, which the byte path checks.
    __m128i in_range = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(-63)),
                                     _mm_cmplt_epi8(block, _mm_set1_epi8(-16)));
    __m128i narrowed = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(-32)),
                                    _mm_cmpeq_epi8(block, _mm_set1_epi8(-19)));
    __m128i lead = _mm_xor_si128(in_range, narrowed);
    return {_mm_cmplt_epi8(block, _mm_set1_epi8(-64)), lead,
            _mm_and_si128(lead, _mm_cmpgt_epi8(block, _mm_set1_epi8(-33)))};
}

// Counts the characters of the line [start, end) as read_plain_stretch
// does, where three-byte characters lie among the two-byte ones, as dashes,
// quotes and ellipses do in most prose: when each continuation byte ends a
// two-byte character or lies in a whole three-byte one whose lead takes any
// continuation, the characters are again the bytes that are no
// continuation. [p, start) holds the lines before it in the stretch, which
// is at least 18 bytes long. False for any other line.
bool count_three_byte_line(const uint8_t* p, const uint8_t* start, const uint8_t* end, uint64_t& characters)
{
    if (end - p < 18)
        return false;
    const __m128i zero = _mm_setzero_si128();
    __m128i stray = zero, continuations = zero;
    ByteKinds before{zero, zero, zero};  // the block before's; nothing before the line
    // `fresh` masks the bytes not counted before.
    auto take = [&](__m128i block, __m128i fresh) {
        ByteKinds kinds = kinds_of(block);
        __m128i after_lead = _mm_or_si128(_mm_slli_si128(kinds.lead, 1), _mm_srli_si128(before.lead, 15));
        __m128i after_continuation =
            _mm_or_si128(_mm_slli_si128(kinds.continuation, 1), _mm_srli_si128(before.continuation, 15));
        __m128i two_after_three =
            _mm_or_si128(_mm_slli_si128(kinds.three_lead, 2), _mm_srli_si128(before.three_lead, 14));
        // Where a three-byte character's third byte must lie.
        __m128i third = _mm_and_si128(_mm_and_si128(two_after_three, after_continuation), fresh);
        __m128i continuation = _mm_and_si128(kinds.continuation, fresh);
        __m128i expected = _mm_or_si128(after_lead, third);
        // A continuation that no character expects, or a three-byte one cut short.
        stray = _mm_or_si128(stray, _mm_xor_si128(continuation, _mm_and_si128(continuation, expected)));
        stray = _mm_or_si128(stray, _mm_xor_si128(third, _mm_and_si128(third, continuation)));
        continuations =
            _mm_add_epi64(continuations, _mm_sad_epu8(_mm_and_si128(continuation, _mm_set1_epi8(1)), zero));
        before = kinds;
    };
    const __m128i all = _mm_cmpeq_epi8(zero, zero);
    const uint8_t* q = start;
    for (; end - q >= 16; q += 16)
        take(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), all);
    // The last few bytes, in the block that ends the line, after the two
    // bytes before that block.
    if (size_t rest = size_t(end - q)) {
        before = kinds_of(_mm_slli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 18)), 14));
        take(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(last_lanes + rest)));
    }
    // A character cut at the end waits for the rest: the byte path's.
    __m128i cut = _mm_or_si128(_mm_srli_si128(before.lead, 15),
                               _mm_and_si128(_mm_srli_si128(before.three_lead, 14),
                                             _mm_srli_si128(before.continuation, 15)));
    stray = _mm_or_si128(stray, cut);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(stray, zero)) != 0xFFFF)
        return false;
    // One call sees at most a piece, so each half's sum fits 32 bits.
    uint32_t sum = uint32_t(_mm_cvtsi128_si32(continuations)) +
                   uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(continuations, 8)));
    characters = uint64_t(end - start) - sum;
    return true;
}

// Counts [p, end), at least 16 bytes long and starting at a character's
// start, in one pass of vectors with no branch a block, when each
// continuation byte in its last line follows a two-byte lead, as in most
// Cyrillic text. Each such pair is one character, and every other byte
// starts one or counts one as invalid, so the characters are the bytes
// that are no continuation. Any other last line is counted by
// count_three_byte_line; false, with nothing counted, when that fails too,
// and the byte path then takes the stretch.
bool read_plain_stretch(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    read_line_ends(p, end, stretch);
    const uint8_t* start = stretch.line_start;
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    const __m128i continuation_top = _mm_set1_epi8(-64);
    const __m128i lead_bottom = _mm_set1_epi8(-63);
    const __m128i lead_top = _mm_set1_epi8(-32);
    __m128i stray = zero, continuations = zero, carried_lead = zero;
    // As signed bytes, continuations lie in [-128, -65] and two-byte leads
    // C2..DF in [-62, -33]. `fresh` masks the bytes not counted before;
    // the byte before the first of them is counted, or the line end.
    auto take = [&](__m128i block, __m128i fresh) {
        __m128i continuation = _mm_and_si128(_mm_cmplt_epi8(block, continuation_top), fresh);
        __m128i lead = _mm_and_si128(_mm_cmpgt_epi8(block, lead_bottom), _mm_cmplt_epi8(block, lead_top));
        __m128i after_lead = _mm_or_si128(_mm_slli_si128(lead, 1), carried_lead);
        stray = _mm_or_si128(stray, _mm_xor_si128(continuation, _mm_and_si128(continuation, after_lead)));
        continuations = _mm_add_epi64(continuations, _mm_sad_epu8(_mm_and_si128(continuation, one), zero));
        carried_lead = _mm_srli_si128(lead, 15);
    };
    const __m128i all = _mm_cmpeq_epi8(zero, zero);
    const uint8_t* q = start;
    for (; end - q >= 16; q += 16)
        take(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), all);
    // The last few bytes, in the block that ends the stretch.
    if (size_t rest = size_t(end - q))
        take(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(last_lanes + rest)));
    // A lead as the last byte waits for its continuation: the byte path's.
    stray = _mm_or_si128(stray, carried_lead);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(stray, zero)) != 0xFFFF)
        return count_three_byte_line(p, start, end, stretch.characters);
    // One call sees at most a piece, so each half's sum fits 32 bits.
    uint32_t sum = uint32_t(_mm_cvtsi128_si32(continuations)) +
                   uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(continuations, 8)));
    stretch.characters = uint64_t(end - start) - sum;
    return true;
}

#if defined(STREAM_WIDE)
WIDE_CODE unsigned wide_line_end_mask(const uint8_t* block)
{
    __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    return unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n'))));
}

// The LF bytes in [p, q), where p has at least 32 bytes after it, as
// count_in_blocks counts them.
WIDE_CODE uint64_t wide_line_ends_before(const uint8_t* p, const uint8_t* q)
{
    if (q - p < 32)
        return set_bits(wide_line_end_mask(p) & ((1u << (q - p)) - 1));
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i zero = _mm256_setzero_si256();
    uint64_t count = 0;
    while (q - p >= 32) {
        const uint8_t* stop = p + std::min<size_t>(size_t(q - p) / 32, 255) * 32;
        __m256i lanes = zero;
        for (; p < stop; p += 32) {
            __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            lanes = _mm256_sub_epi8(lanes, _mm256_cmpeq_epi8(block, lf));
        }
        __m256i sums = _mm256_sad_epu8(lanes, zero);
        __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
        count += uint32_t(_mm_cvtsi128_si32(halves)) + uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(halves, 8)));
    }
    // The few bytes left before q, in the block that ends at q.
    if (p < q)
        count += set_bits(wide_line_end_mask(q - 32) >> (32 - (q - p)));
    return count;
}

// read_line_ends, 32 bytes a step, for a stretch of at least 32.
WIDE_CODE void read_wide_line_ends(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    const uint8_t* last = nullptr;
    uint64_t line_ends = 0;
    const uint8_t* q = end;
    for (; !last && q - p >= 32; q -= 32) {
        if (unsigned mask = wide_line_end_mask(q - 32)) {
            last = q - 32 + (31 - __builtin_clz(mask));
            line_ends = set_bits(mask);
        }
    }
    if (!last) {
        // The front bytes not yet looked at, fewer than 32.
        if (unsigned mask = wide_line_end_mask(p) & ((1u << (q - p)) - 1)) {
            last = p + (31 - __builtin_clz(mask));
            line_ends = set_bits(mask);
        }
    } else {
        line_ends += wide_line_ends_before(p, q);
    }
    stretch.line_ends = line_ends;
    stretch.line_start = last ? last + 1 : p;
}

// 32 zero bytes, then 32 bytes 0xFF: loaded at `n`, the last n lanes are set.
alignas(32) constexpr uint8_t last_wide_lanes[64] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// What the blocks of read_wide_stretch have counted so far.
struct WideCount {
    __m256i stray, continuations, lead;  // `lead`: the last block's leads
};

// Takes a block of 32 as read_plain_stretch's `take` takes 16. A lead's
// continuation may lie in the next block, so the leads move up one byte
// with the last lead of the block before carried in.
WIDE_CODE void take_wide_block(WideCount& count, __m256i block, __m256i fresh)
{
    const __m256i continuation_top = _mm256_set1_epi8(-64);
    const __m256i lead_bottom = _mm256_set1_epi8(-63);
    const __m256i lead_top = _mm256_set1_epi8(-32);
    __m256i continuation = _mm256_and_si256(_mm256_cmpgt_epi8(continuation_top, block), fresh);
    __m256i lead =
        _mm256_and_si256(_mm256_cmpgt_epi8(block, lead_bottom), _mm256_cmpgt_epi8(lead_top, block));
    __m256i before = _mm256_permute2x128_si256(count.lead, lead, 0x21);
    __m256i after_lead = _mm256_alignr_epi8(lead, before, 15);
    count.stray = _mm256_or_si256(count.stray, _mm256_andnot_si256(after_lead, continuation));
    count.continuations = _mm256_add_epi64(
        count.continuations,
        _mm256_sad_epu8(_mm256_and_si256(continuation, _mm256_set1_epi8(1)), _mm256_setzero_si256()));
    count.lead = lead;
}

// read_plain_stretch, 32 bytes a step, for a stretch of at least 32.
WIDE_CODE bool read_wide_stretch(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    read_wide_line_ends(p, end, stretch);
    const uint8_t* start = stretch.line_start;
    WideCount count{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    const __m256i all = _mm256_set1_epi8(-1);
    const uint8_t* q = start;
    for (; end - q >= 32; q += 32)
        take_wide_block(count, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), all);
    if (size_t rest = size_t(end - q))
        take_wide_block(count, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(end - 32)),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(last_wide_lanes + rest)));
    // A lead as the last byte waits for its continuation: the byte path's.
    if (!_mm256_testz_si256(count.stray, count.stray) || _mm256_movemask_epi8(count.lead) < 0)
        return count_three_byte_line(p, start, end, stretch.characters);
    // One call sees at most a piece, so each quarter's sum fits 32 bits.
    __m128i sums = _mm_add_epi64(_mm256_castsi256_si128(count.continuations),
                                 _mm256_extracti128_si256(count.continuations, 1));
    uint32_t sum = uint32_t(_mm_cvtsi128_si32(sums)) + uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    stretch.characters = uint64_t(end - start) - sum;
    return true;
}
#endif

// The same for whole UTF-16 units, at least 16 bytes of them, when they
// hold no surrogate: then each unit but LF counts one. UTF-16 lines run
// longer in bytes than stretches between findings, so one pass forward
// that stops only at a line end or a surrogate costs less than first
// looking for the last line end.
template <bool big_endian>
bool read_plain_units(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    const __m128i lf = _mm_set1_epi16(big_endian ? 0x0A00 : 0x000A);
    const __m128i surrogate_bits = _mm_set1_epi16(big_endian ? 0x00F8 : short(0xF800));
    const __m128i surrogate = _mm_set1_epi16(big_endian ? 0x00D8 : short(0xD800));
    const uint8_t* last = nullptr;
    uint64_t line_ends = 0;
    // Each unit found sets both its bytes' bits; `fresh` masks the bytes
    // not looked at before.
    auto take = [&](const uint8_t* block, unsigned fresh) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        __m128i line_end = _mm_cmpeq_epi16(units, lf);
        __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(units, surrogate_bits), surrogate);
        if (!(unsigned(_mm_movemask_epi8(_mm_or_si128(line_end, odd))) & fresh))
            return true;
        if (unsigned(_mm_movemask_epi8(odd)) & fresh)
            return false;
        unsigned mask = unsigned(_mm_movemask_epi8(line_end)) & fresh & 0x5555u;
        last = block + (31 - __builtin_clz(mask));
        line_ends += set_bits(mask);
        return true;
    };
    const uint8_t* q = p;
    for (; end - q >= 16; q += 16) {
        if (!take(q, 0xFFFFu))
            return false;
    }
    // The last units, in the block that ends the stretch.
    if (q < end && !take(end - 16, 0xFFFFu << (16 - (end - q)) & 0xFFFFu))
        return false;
    stretch.line_ends = line_ends;
    stretch.line_start = last ? last + 2 : p;
    stretch.characters = uint64_t(end - stretch.line_start) / 2;
    return true;
}

#if defined(STREAM_WIDE)
// read_plain_units, 16 units a step, for a stretch of at least 32 bytes.
template <bool big_endian>
WIDE_CODE bool read_wide_units(const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    const __m256i lf = _mm256_set1_epi16(big_endian ? 0x0A00 : 0x000A);
    const __m256i surrogate_bits = _mm256_set1_epi16(big_endian ? 0x00F8 : short(0xF800));
    const __m256i surrogate = _mm256_set1_epi16(big_endian ? 0x00D8 : short(0xD800));
    const uint8_t* last = nullptr;
    uint64_t line_ends = 0;
    const uint8_t* q = p;
    for (unsigned fresh = ~0u; q < end; q += 32) {
        // The last units, in the block that ends the stretch.
        if (end - q < 32) {
            fresh <<= 32 - (end - q);
            q = end - 32;
        }
        __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        __m256i line_end = _mm256_cmpeq_epi16(units, lf);
        __m256i odd = _mm256_cmpeq_epi16(_mm256_and_si256(units, surrogate_bits), surrogate);
        if (!(unsigned(_mm256_movemask_epi8(_mm256_or_si256(line_end, odd))) & fresh))
            continue;
        if (unsigned(_mm256_movemask_epi8(odd)) & fresh)
            return false;
        unsigned mask = unsigned(_mm256_movemask_epi8(line_end)) & fresh & 0x55555555u;
        last = q + (31 - __builtin_clz(mask));
        line_ends += set_bits(mask);
    }
    stretch.line_ends = line_ends;
    stretch.line_start = last ? last + 2 : p;
    stretch.characters = uint64_t(end - stretch.line_start) / 2;
    return true;
}
#endif

// Counts [p, end) in one pass when it is a plain stretch of its encoding;
// false, with nothing counted, otherwise. Nothing may wait from the bytes
// before it.
bool read_plain(TextEncoding encoding, const uint8_t* p, const uint8_t* end, PlainStretch& stretch)
{
    if (end - p < 16)
        return false;
    switch (encoding) {
    case TextEncoding::utf8:
#if defined(STREAM_WIDE)
        if (end - p >= 32 && wide_scans())
            return read_wide_stretch(p, end, stretch);
#endif
        return read_plain_stretch(p, end, stretch);
    default:
        if ((end - p) % 2)
            return false;
#if defined(STREAM_WIDE)
        // 16 units a step take even a whole piece in one pass as fast as
        // the unit path, which goes to the last line end first.
        if (end - p >= 32 && wide_scans()) {
            return encoding == TextEncoding::utf16le ? read_wide_units<false>(p, end, stretch)
                                                     : read_wide_units<true>(p, end, stretch);
        }
#endif
        // A long UTF-16 stretch, such as a piece of clean text, costs less
        // from its last line end on, as the unit path takes it.
        if (end - p >= long_utf16_stretch)
            return false;
        return encoding == TextEncoding::utf16le ? read_plain_units<false>(p, end, stretch)
                                                 : read_plain_units<true>(p, end, stretch);
    }
}
#endif

}  // namespace

LeadRule utf8_lead_rule(uint8_t byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return {1, 0x80, 0xBF};
    if (byte == 0xE0)
        return {2, 0xA0, 0xBF};
    if (byte == 0xED)
        return {2, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {2, 0x80, 0xBF};
    if (byte == 0xF0)
        return {3, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {3, 0x80, 0xBF};
    if (byte == 0xF4)
        return {3, 0x80, 0x8F};
    return {0, 0, 0};
}

void PositionTracker::advance(const uint8_t* bytes, size_t size)
{
    const uint8_t* end = bytes + size;
#if defined(STREAM_SIMD)
    PlainStretch stretch;
    bool waits = encoding_ == TextEncoding::utf8 ? needed_ != 0 : has_half_ || waiting_;
    if (!waits && read_plain(encoding_, bytes, end, stretch)) {
        if (stretch.line_ends) {
            line_ += stretch.line_ends - 1;
            start_line(offset_ + uint64_t(stretch.line_start - bytes));
        }
        take_code_points(stretch.characters, stretch.characters);
        offset_ += size;
        return;
    }
#endif
    if (encoding_ != TextEncoding::utf8) {
        advance_utf16(bytes, end);
        offset_ += size;
        return;
    }
    // LF is never part of a longer UTF-8 character, so only the bytes after
    // the last LF need decoding; those before it are only counted.
    const uint8_t* line_start = bytes;
    if (const uint8_t* last = last_line_end(bytes, end)) {
        line_ += count_line_ends(bytes, last);
        line_start = last + 1;
        waiting_ = needed_ = 0;
        start_line(offset_ + (line_start - bytes));
    }
    advance_utf8(line_start, end);
    offset_ += size;
}

TextPosition PositionTracker::next_position() const
{
    return {line_, counted_ + waiting_ + 1, units_ + waiting_ + 1, offset_ - line_start_ + 1,
            offset_};
}

void PositionTracker::start_line(uint64_t offset)
{
    ++line_;
    counted_ = units_ = 0;
    line_start_ = offset;
}

void PositionTracker::take_code_points(uint64_t count, uint64_t utf16_units)
{
    counted_ += count;
    units_ += utf16_units;
}

void PositionTracker::drop_waiting()
{
    take_code_points(waiting_, waiting_);
    waiting_ = needed_ = 0;
}

namespace {

#if defined(STREAM_SIMD)
// The ASCII and whole two-byte characters (most Cyrillic text) at p, 16
// bytes at a time while a block holds nothing else; `taken` says how many
// bytes they fill. Each block's only tie to the one before is whether that
// one ended in a lead, so the blocks do not wait on one another.
uint64_t count_two_byte_blocks(const uint8_t* p, const uint8_t* end, size_t& taken)
{
    const __m128i continuation_top = _mm_set1_epi8(-64);
    const __m128i lead_bottom = _mm_set1_epi8(-63);
    const __m128i lead_top = _mm_set1_epi8(-32);
    const __m128i one = _mm_set1_epi8(1);
    __m128i continuation_sums = _mm_setzero_si128();
    unsigned open_lead = 0;  // the last block ended in a lead
    size_t size = size_t(end - p), bytes = 0;
    bool all_common = true;
    unsigned continuation = 0, lead = 0, ascii = 0;
    auto classify = [&](const uint8_t* at) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        // As signed bytes: ASCII is >= 0, continuations lie in [-128, -65],
        // two-byte leads C2..DF in [-62, -33].
        __m128i continuations = _mm_cmplt_epi8(block, continuation_top);
        continuation = unsigned(_mm_movemask_epi8(continuations));
        __m128i leads = _mm_and_si128(_mm_cmpgt_epi8(block, lead_bottom), _mm_cmplt_epi8(block, lead_top));
        lead = unsigned(_mm_movemask_epi8(leads));
        ascii = unsigned(_mm_movemask_epi8(block)) ^ 0xFFFFu;
        return continuations;
    };
    for (; size - bytes >= 16; bytes += 16) {
        __m128i continuations = classify(p + bytes);
        all_common = (ascii | continuation | lead) == 0xFFFFu &&
                     continuation == (((lead << 1) | open_lead) & 0xFFFFu);
        if (!all_common)
            break;
        open_lead = lead >> 15;
        // The baseline has no population count; the vector sums instead.
        continuation_sums = _mm_add_epi64(
            continuation_sums, _mm_sad_epu8(_mm_and_si128(continuations, one), _mm_setzero_si128()));
    }
    // The last few bytes, in the block that ends with the text: of the bytes
    // before them, counted already, only the last tells (by being a lead).
    size_t rest = size - bytes;
    unsigned rest_continuations = 0;
    if (all_common && rest && bytes) {
        classify(end - 16);
        unsigned fresh = 0xFFFFu << (16 - rest) & 0xFFFFu;
        bool common = ((ascii | continuation | lead) & fresh) == fresh;
        if (common && (continuation & fresh) == (lead << 1 & fresh)) {
            open_lead = lead >> 15;
            bytes += rest;
            rest_continuations = unsigned(__builtin_popcount(continuation & fresh));
        }
    }
    // A lead whose continuation was not taken waits outside.
    taken = bytes - open_lead;
    // One call sees at most a piece, so each half's sum fits 32 bits.
    uint32_t continuations = uint32_t(_mm_cvtsi128_si32(continuation_sums)) +
                             uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(continuation_sums, 8)));
    return taken - continuations - rest_continuations;
}
#endif

// The length of the character at p when it is ASCII, or a whole two- or
// three-byte character below U+FFFF that needs no range check beyond its
// continuations (the look-alikes among them); 0 for anything else.
size_t common_character(const uint8_t* p, const uint8_t* end)
{
    auto continues = [&](ptrdiff_t i) { return end - p > i && (p[i] & 0xC0) == 0x80; };
    if (*p < 0x80)
        return 1;
    if (*p >= 0xC2 && *p <= 0xDF)
        return continues(1) ? 2 : 0;
    if (*p >= 0xE1 && *p <= 0xEF && *p != 0xED)
        return continues(1) && continues(2) ? 3 : 0;
    return 0;
}

}  // namespace

// Counts the common characters from p on, a block at a time where a block
// holds only ASCII and two-byte ones; returns where the first other byte
// lies. Findings come every few dozen bytes in damaged text, so the short
// stretches between them matter as much as long ones.
const uint8_t* PositionTracker::count_common_characters(const uint8_t* p, const uint8_t* end)
{
    uint64_t count = 0;
    for (size_t length = 1; length && p < end;) {
#if defined(STREAM_SIMD)
        size_t taken;
        count += count_two_byte_blocks(p, end, taken);
        p += taken;
#endif
        // Up to the next three-byte character, then back to the blocks.
        do {
            length = p < end ? common_character(p, end) : 0;
            p += length;
            count += length != 0;
        } while (length && length < 3);
    }
    take_code_points(count, count);
    return p;
}

void PositionTracker::advance_utf8(const uint8_t* p, const uint8_t* end)
{
    while (p < end) {
        if (!needed_) {
            p = count_common_characters(p, end);
            if (p == end)
                return;
        }
        uint8_t byte = *p;
        if (needed_) {
            if (byte >= low_ && byte <= high_) {
                ++p;
                ++waiting_;
                low_ = 0x80, high_ = 0xBF;
                if (--needed_ == 0) {
                    // Only the four-byte characters lie above U+FFFF.
                    take_code_points(1, waiting_ == 4 ? 2 : 1);
                    waiting_ = 0;
                }
                continue;
            }
            drop_waiting();  // the byte is looked at again as a start
        }
        ++p;
        LeadRule rule = utf8_lead_rule(byte);
        if (rule.needed == 0) {
            take_code_points(1, 1);  // ASCII, or an invalid byte counting one
            continue;
        }
        waiting_ = 1;
        needed_ = rule.needed;
        low_ = rule.low, high_ = rule.high;
    }
}

// The first unit in [p, end) that is LF or a surrogate, or the last whole
// unit's end; every unit before it counts one column. The last few units
// are tested in the block that ends with them, when the stretch holds one.
template <bool big_endian>
const uint8_t* plain_units_end(const uint8_t* p, const uint8_t* end)
{
#if defined(STREAM_SIMD)
    auto special_bytes = [](const uint8_t* at) {
        const __m128i lf = _mm_set1_epi16(big_endian ? 0x0A00 : 0x000A);
        const __m128i surrogate_bits = _mm_set1_epi16(big_endian ? 0x00F8 : short(0xF800));
        const __m128i surrogate = _mm_set1_epi16(big_endian ? 0x00D8 : short(0xD800));
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i special = _mm_or_si128(
            _mm_cmpeq_epi16(block, lf),
            _mm_cmpeq_epi16(_mm_and_si128(block, surrogate_bits), surrogate));
        return static_cast<unsigned>(_mm_movemask_epi8(special));
    };
    const uint8_t* start = p;
    for (; end - p >= 16; p += 16) {
        if (unsigned mask = special_bytes(p))
            return p + __builtin_ctz(mask);
    }
    const uint8_t* whole_end = p + ((end - p) & ~ptrdiff_t{1});
    if (whole_end - start >= 16 && whole_end > p) {
        // The block's bytes before p were tested already and hold none.
        unsigned mask = special_bytes(whole_end - 16);
        return mask ? whole_end - 16 + __builtin_ctz(mask) : whole_end;
    }
#endif
    for (; end - p >= 2; p += 2) {
        uint32_t unit = big_endian ? uint32_t{p[0]} << 8 | p[1] : uint32_t{p[1]} << 8 | p[0];
        if (unit == '\n' || (unit & 0xF800) == 0xD800)
            return p;
    }
    return p;
}

// The last LF unit among the whole units from p to end, or nullptr.
template <bool big_endian>
const uint8_t* last_utf16_line_end(const uint8_t* p, const uint8_t* end)
{
    end = p + ((end - p) & ~ptrdiff_t{1});
#if defined(STREAM_SIMD)
    const __m128i lf = _mm_set1_epi16(big_endian ? 0x0A00 : 0x000A);
    for (; end - p >= 16; end -= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
        // Each LF unit sets both of its bytes' bits.
        if (unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(block, lf))))
            return end - 16 + (30 - __builtin_clz(mask));
    }
#endif
    for (; end - p >= 2; end -= 2) {
        if (end[big_endian ? -1 : -2] == '\n' && end[big_endian ? -2 : -1] == 0)
            return end - 2;
    }
    return nullptr;
}

// How many LF units the whole units from p to end hold.
template <bool big_endian>
uint64_t count_utf16_line_ends(const uint8_t* p, const uint8_t* end)
{
    uint64_t count = 0;
#if defined(STREAM_SIMD)
    // Both bytes of an LF unit count.
    count = count_in_blocks<true>(p, end, _mm_set1_epi16(big_endian ? 0x0A00 : 0x000A)) / 2;
#endif
    for (; end - p >= 2; p += 2)
        count += p[big_endian ? 1 : 0] == '\n' && p[big_endian ? 0 : 1] == 0;
    return count;
}

// Skips to the unit after the last LF unit of the whole units from p on,
// counting the lines, as the UTF-8 side does: an LF ends any character
// before it, so nothing before the last one needs decoding. A short
// stretch (between findings in damaged text) is counted faster as it is.
const uint8_t* PositionTracker::after_last_utf16_line_end(const uint8_t* p, const uint8_t* end,
                                                          bool big_endian, const uint8_t* bytes)
{
    if (end - p < long_utf16_stretch)
        return p;
    const uint8_t* last = big_endian ? last_utf16_line_end<true>(p, end) : last_utf16_line_end<false>(p, end);
    if (!last)
        return p;
    waiting_ = 0;
    line_ += big_endian ? count_utf16_line_ends<true>(p, last) : count_utf16_line_ends<false>(p, last);
    start_line(offset_ + uint64_t(last + 2 - bytes));
    return last + 2;
}

// Units that are neither LF nor surrogates are counted a vector at a time;
// only those and a unit cut between pieces go one by one.
void PositionTracker::advance_utf16(const uint8_t* bytes, const uint8_t* end)
{
    bool big_endian = encoding_ == TextEncoding::utf16be;
    const uint8_t* p = bytes;
    if (has_half_ && p < end) {
        has_half_ = false;
        ++p;
        take_unit(big_endian ? uint32_t{half_} << 8 | p[-1] : uint32_t{half_} | uint32_t{p[-1]} << 8,
                  offset_ + (p - bytes));
    }
    p = after_last_utf16_line_end(p, end, big_endian, bytes);
    while (end - p >= 2) {
        if (!waiting_) {
            const uint8_t* plain = big_endian ? plain_units_end<true>(p, end)
                                              : plain_units_end<false>(p, end);
            uint64_t units = static_cast<uint64_t>(plain - p) / 2;
            take_code_points(units, units);
            p = plain;
            if (end - p < 2)
                break;
        }
        p += 2;
        take_unit(big_endian ? uint32_t{p[-2]} << 8 | p[-1] : uint32_t{p[-1]} << 8 | p[-2],
                  offset_ + (p - bytes));
    }
    if (p < end) {
        half_ = *p;
        has_half_ = true;
    }
}

// A surrogate without its partner is two invalid bytes. `after` is the
// offset of the byte after the unit.
void PositionTracker::take_unit(uint32_t unit, uint64_t after)
{
    bool high_surrogate = unit >= 0xD800 && unit <= 0xDBFF;
    bool low_surrogate = unit >= 0xDC00 && unit <= 0xDFFF;
    if (waiting_) {
        waiting_ = 0;
        take_code_points(low_surrogate ? 1 : 2, 2);
        if (low_surrogate)
            return;
    }
    if (high_surrogate)
        waiting_ = 2;
    else if (unit == '\n')
        start_line(after);
    else if (low_surrogate)
        take_code_points(2, 2);
    else
        take_code_points(1, 1);
}
