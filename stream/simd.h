// The SSE2 operations the scans use: from <emmintrin.h> on x86, and the same
// names over WebAssembly's 128-bit SIMD for the web page's engine, so one
// vector scan serves both. STREAM_SIMD says whether either is there; without
// it the scans take their byte loops.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#define STREAM_SIMD 1

// Most x86 processors also have 32-byte vectors (AVX2). The scans that run
// at the speed of memory take them where the processor has them, in code
// built for them alone (WIDE_CODE); everything else stays on SSE2, so the
// program still runs on processors without them.
#if defined(__GNUC__)
#include <immintrin.h>
#define STREAM_WIDE 1
#define WIDE_CODE __attribute__((target("avx2")))

// Whether the wide scans run: where the processor has them, unless
// allow_vectors (declared in stream.h) keeps them narrower.
bool wide_scans();

// Newer processors also permute and pack the bytes of 64-byte vectors
// (AVX-512 with VBMI and VBMI2), which dense damage in UTF-8 takes. Not on
// Windows, where the compiler keeps the stack aligned to 16 bytes only and
// may spill such vectors with aligned moves.
#if defined(__x86_64__) && !defined(_WIN32)
#define STREAM_WIDEST 1
#define WIDEST_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt")))

// Whether those run, as wide_scans tells.
bool widest_scans();
#endif
#endif
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define STREAM_SIMD 1

typedef v128_t __m128i;

inline __m128i _mm_set1_epi8(char byte) { return wasm_i8x16_splat(byte); }
inline __m128i _mm_loadu_si128(const __m128i* p) { return wasm_v128_load(p); }
inline __m128i _mm_add_epi8(__m128i a, __m128i b) { return wasm_i8x16_add(a, b); }
inline __m128i _mm_sub_epi8(__m128i a, __m128i b) { return wasm_i8x16_sub(a, b); }
inline __m128i _mm_add_epi64(__m128i a, __m128i b) { return wasm_i64x2_add(a, b); }
inline __m128i _mm_min_epu8(__m128i a, __m128i b) { return wasm_u8x16_min(a, b); }
inline __m128i _mm_cmpeq_epi8(__m128i a, __m128i b) { return wasm_i8x16_eq(a, b); }
inline __m128i _mm_cmplt_epi8(__m128i a, __m128i b) { return wasm_i8x16_lt(a, b); }
inline __m128i _mm_or_si128(__m128i a, __m128i b) { return wasm_v128_or(a, b); }
inline int _mm_movemask_epi8(__m128i a) { return static_cast<int>(wasm_i8x16_bitmask(a)); }
inline __m128i _mm_setzero_si128() { return wasm_i64x2_const(0, 0); }
inline __m128i _mm_and_si128(__m128i a, __m128i b) { return wasm_v128_and(a, b); }
inline __m128i _mm_xor_si128(__m128i a, __m128i b) { return wasm_v128_xor(a, b); }
inline __m128i _mm_cmpgt_epi8(__m128i a, __m128i b) { return wasm_i8x16_gt(a, b); }
inline __m128i _mm_set1_epi16(short unit) { return wasm_i16x8_splat(unit); }
inline __m128i _mm_sub_epi16(__m128i a, __m128i b) { return wasm_i16x8_sub(a, b); }
inline __m128i _mm_cmpeq_epi16(__m128i a, __m128i b) { return wasm_i16x8_eq(a, b); }
inline __m128i _mm_cmplt_epi16(__m128i a, __m128i b) { return wasm_i16x8_lt(a, b); }
// The scans shift by fewer than 16 bits, where both agree.
inline __m128i _mm_slli_epi16(__m128i a, int bits) { return wasm_i16x8_shl(a, bits); }
inline __m128i _mm_srli_epi16(__m128i a, int bits) { return wasm_u16x8_shr(a, bits); }
// Both saturate signed 16-bit lanes to unsigned bytes.
inline __m128i _mm_packus_epi16(__m128i a, __m128i b) { return wasm_u8x16_narrow_i16x8(a, b); }
inline int _mm_cvtsi128_si32(__m128i a) { return wasm_i32x4_extract_lane(a, 0); }
// Each 8-byte half's sum of absolute differences, in its low 16 bits.
inline __m128i _mm_sad_epu8(__m128i a, __m128i b)
{
    __m128i differences = wasm_v128_or(wasm_u8x16_sub_sat(a, b), wasm_u8x16_sub_sat(b, a));
    __m128i quarters = wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(differences));
    __m128i halves = wasm_i32x4_add(quarters, wasm_i32x4_shuffle(quarters, quarters, 1, 0, 3, 2));
    return wasm_v128_and(halves, wasm_i32x4_const(-1, 0, -1, 0));
}
// Whole-register byte shifts, by a constant as on x86: zeros come in.
#define _mm_srli_si128(a, n)                                                                              \
    wasm_i8x16_shuffle((a), wasm_i64x2_const(0, 0), (n), (n) + 1, (n) + 2, (n) + 3, (n) + 4, (n) + 5, (n) + 6, \
                       (n) + 7, (n) + 8, (n) + 9, (n) + 10, (n) + 11, (n) + 12, (n) + 13, (n) + 14, (n) + 15)
#define _mm_slli_si128(a, n)                                                                                    \
    wasm_i8x16_shuffle(wasm_i64x2_const(0, 0), (a), 16 - (n), 17 - (n), 18 - (n), 19 - (n), 20 - (n), 21 - (n), \
                       22 - (n), 23 - (n), 24 - (n), 25 - (n), 26 - (n), 27 - (n), 28 - (n), 29 - (n), 30 - (n),  \
                       31 - (n))
#endif
