// Vector scans for one code unit or the terminator.
#include "runtime/strings/unit_scan.h"

#include <immintrin.h>

namespace {

// The scans below read whole aligned blocks, which never cross a page, so
// they may look at units before p and past the terminator inside a block;
// the address checker is told to allow that, and those units never count.

// Bit 2i (and 2i + 1) set when unit i of the aligned 32-byte block equals
// wanted or ends the string.
__attribute__((no_sanitize_address)) uint32_t block_hits_sse2(const unit16* block,
                                                               __m128i wanted)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8));
    __m128i low_hits = _mm_or_si128(_mm_cmpeq_epi16(low, wanted), _mm_cmpeq_epi16(low, zero));
    __m128i high_hits = _mm_or_si128(_mm_cmpeq_epi16(high, wanted), _mm_cmpeq_epi16(high, zero));
    return static_cast<uint32_t>(_mm_movemask_epi8(low_hits)) |
           static_cast<uint32_t>(_mm_movemask_epi8(high_hits)) << 16;
}

}  // namespace

__attribute__((no_sanitize_address)) const unit16* find_unit_or_end_sse2(const unit16* p,
                                                                          unit16 wanted)
{
    const __m128i wanted_units = _mm_set1_epi16(static_cast<short>(wanted));
    uintptr_t address = reinterpret_cast<uintptr_t>(p);
    const unit16* block = reinterpret_cast<const unit16*>(address & ~uintptr_t{31});
    uint32_t hits = block_hits_sse2(block, wanted_units) >> (address & 31);
    if (hits)
        return p + __builtin_ctz(hits) / 2;
    for (;;) {
        block += 16;
        hits = block_hits_sse2(block, wanted_units);
        if (hits)
            return block + __builtin_ctz(hits) / 2;
    }
}

namespace {

__attribute__((target("avx2"), no_sanitize_address)) __m256i unit_hits_avx2(const unit16* block,
                                                                              __m256i wanted)
{
    __m256i units = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
    return _mm256_or_si256(_mm256_cmpeq_epi16(units, wanted),
                           _mm256_cmpeq_epi16(units, _mm256_setzero_si256()));
}

}  // namespace

// As the SSE2 scan; past the first block, two 32-byte blocks per step from a
// 64-byte boundary, so that no step crosses a page.
__attribute__((target("avx2"), no_sanitize_address)) const unit16* find_unit_or_end_avx2(
    const unit16* p, unit16 wanted)
{
    const __m256i wanted_units = _mm256_set1_epi16(static_cast<short>(wanted));
    uintptr_t address = reinterpret_cast<uintptr_t>(p);
    const unit16* block = reinterpret_cast<const unit16*>(address & ~uintptr_t{31});
    uint32_t hits = static_cast<uint32_t>(_mm256_movemask_epi8(unit_hits_avx2(block, wanted_units)));
    hits >>= address & 31;
    if (hits)
        return p + __builtin_ctz(hits) / 2;
    block += 16;
    if (reinterpret_cast<uintptr_t>(block) % 64 != 0) {
        hits = static_cast<uint32_t>(_mm256_movemask_epi8(unit_hits_avx2(block, wanted_units)));
        if (hits)
            return block + __builtin_ctz(hits) / 2;
        block += 16;
    }
    for (;; block += 32) {
        __m256i first = unit_hits_avx2(block, wanted_units);
        __m256i second = unit_hits_avx2(block + 16, wanted_units);
        if (_mm256_movemask_epi8(_mm256_or_si256(first, second))) {
            hits = static_cast<uint32_t>(_mm256_movemask_epi8(first));
            if (hits)
                return block + __builtin_ctz(hits) / 2;
            hits = static_cast<uint32_t>(_mm256_movemask_epi8(second));
            return block + 16 + __builtin_ctz(hits) / 2;
        }
    }
}

int32_t scan_avx2_supported() { return __builtin_cpu_supports("avx2") ? 1 : 0; }

const unit16* find_unit_or_end(const unit16* p, unit16 wanted)
{
    static const int32_t wide = scan_avx2_supported();
    return wide ? find_unit_or_end_avx2(p, wanted) : find_unit_or_end_sse2(p, wanted);
}
