// Vector scans for an occurrence or the terminator. They read whole aligned
// blocks, which never cross a page, so they may look at units before p and
// past the terminator inside a block; the address checker is told to allow
// that, and those units never count.
#include "runtime/strings/unit_scan.h"

#include <immintrin.h>

namespace {

bool rest_matches(const unit16* at, const unit16* search, uint32_t length)
{
    // A terminator in the text never equals a search unit, so this stops
    // inside the text.
    for (uint32_t i = 1; i < length; ++i) {
        if (at[i] != search[i])
            return false;
    }
    return true;
}

// hits has bits 2i and 2i + 1 set for each candidate unit i of block. The
// first candidate that ends the text or starts an occurrence, else null.
const unit16* settle(const unit16* block, uint32_t hits, const unit16* search, uint32_t length)
{
    while (hits) {
        uint32_t bit = static_cast<uint32_t>(__builtin_ctz(hits));
        const unit16* at = block + bit / 2;
        if (!*at || rest_matches(at, search, length))
            return at;
        hits &= ~(3u << bit);
    }
    return nullptr;
}

// For a search of two or more units: unit i is a candidate when it equals
// the first search unit and unit i + 1 equals the second, or when unit i + 1
// lies in the next block. Every unit that ends the text counts.
uint32_t pair_hits(uint32_t first_units, uint32_t second_units, uint32_t zeros)
{
    constexpr uint32_t LAST_UNIT = 3u << 30;
    return (first_units & ((second_units >> 2) | LAST_UNIT)) | zeros;
}

struct Wanted128 {
    __m128i first;
    __m128i second;
};

uint32_t mask_sse2(__m128i low, __m128i high)
{
    return static_cast<uint32_t>(_mm_movemask_epi8(low)) |
           static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
}

__attribute__((no_sanitize_address)) uint32_t block_hits_sse2(const unit16* block,
                                                               const Wanted128& wanted, bool pair)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8));
    __m128i low_zeros = _mm_cmpeq_epi16(low, zero), high_zeros = _mm_cmpeq_epi16(high, zero);
    __m128i low_firsts = _mm_cmpeq_epi16(low, wanted.first);
    __m128i high_firsts = _mm_cmpeq_epi16(high, wanted.first);
    if (!pair)
        return mask_sse2(_mm_or_si128(low_firsts, low_zeros), _mm_or_si128(high_firsts, high_zeros));
    uint32_t seconds = mask_sse2(_mm_cmpeq_epi16(low, wanted.second),
                                 _mm_cmpeq_epi16(high, wanted.second));
    return pair_hits(mask_sse2(low_firsts, high_firsts), seconds, mask_sse2(low_zeros, high_zeros));
}

struct Wanted256 {
    __m256i first;
    __m256i second;
};

__attribute__((target("avx2"))) uint32_t mask_avx2(__m256i units)
{
    return static_cast<uint32_t>(_mm256_movemask_epi8(units));
}

__attribute__((target("avx2"), no_sanitize_address)) uint32_t block_hits_avx2(
    const unit16* block, const Wanted256& wanted, bool pair)
{
    __m256i units = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
    __m256i zeros = _mm256_cmpeq_epi16(units, _mm256_setzero_si256());
    __m256i firsts = _mm256_cmpeq_epi16(units, wanted.first);
    if (!pair)
        return mask_avx2(_mm256_or_si256(firsts, zeros));
    return pair_hits(mask_avx2(firsts), mask_avx2(_mm256_cmpeq_epi16(units, wanted.second)),
                     mask_avx2(zeros));
}

const unit16* aligned_block(const unit16* p)
{
    return reinterpret_cast<const unit16*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t{31});
}

}  // namespace

__attribute__((no_sanitize_address)) const unit16* find_occurrence_or_end_sse2(
    const unit16* p, const unit16* search, uint32_t length)
{
    const bool pair = length >= 2;
    const Wanted128 wanted{_mm_set1_epi16(static_cast<short>(search[0])),
                           _mm_set1_epi16(static_cast<short>(pair ? search[1] : 0))};
    const unit16* block = aligned_block(p);
    uint32_t hits = block_hits_sse2(block, wanted, pair) >> (reinterpret_cast<uintptr_t>(p) & 31);
    if (const unit16* found = settle(p, hits, search, length))
        return found;
    for (;;) {
        block += 16;
        if (const unit16* found = settle(block, block_hits_sse2(block, wanted, pair), search, length))
            return found;
    }
}

// As the SSE2 scan; past the first block, two 32-byte blocks per step from a
// 64-byte boundary, so that no step crosses a page.
__attribute__((target("avx2"), no_sanitize_address)) const unit16* find_occurrence_or_end_avx2(
    const unit16* p, const unit16* search, uint32_t length)
{
    const bool pair = length >= 2;
    const Wanted256 wanted{_mm256_set1_epi16(static_cast<short>(search[0])),
                           _mm256_set1_epi16(static_cast<short>(pair ? search[1] : 0))};
    const unit16* block = aligned_block(p);
    uint32_t hits = block_hits_avx2(block, wanted, pair) >> (reinterpret_cast<uintptr_t>(p) & 31);
    if (const unit16* found = settle(p, hits, search, length))
        return found;
    block += 16;
    if (reinterpret_cast<uintptr_t>(block) % 64 != 0) {
        if (const unit16* found = settle(block, block_hits_avx2(block, wanted, pair), search, length))
            return found;
        block += 16;
    }
    for (;; block += 32) {
        uint32_t first = block_hits_avx2(block, wanted, pair);
        uint32_t second = block_hits_avx2(block + 16, wanted, pair);
        if (first | second) {
            if (const unit16* found = settle(block, first, search, length))
                return found;
            if (const unit16* found = settle(block + 16, second, search, length))
                return found;
        }
    }
}

int32_t scan_avx2_supported() { return __builtin_cpu_supports("avx2") ? 1 : 0; }

const unit16* find_occurrence_or_end(const unit16* p, const unit16* search, uint32_t length)
{
    static const int32_t wide = scan_avx2_supported();
    return wide ? find_occurrence_or_end_avx2(p, search, length)
                : find_occurrence_or_end_sse2(p, search, length);
}
