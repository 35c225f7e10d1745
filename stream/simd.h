// The SSE2 operations the scans use: from <emmintrin.h> on x86, and the same
// names over WebAssembly's 128-bit SIMD for the web page's engine, so one
// vector scan serves both. STREAM_SIMD says whether either is there; without
// it the scans take their byte loops.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#define STREAM_SIMD 1
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define STREAM_SIMD 1

typedef v128_t __m128i;

inline __m128i _mm_set1_epi8(char byte) { return wasm_i8x16_splat(byte); }
inline __m128i _mm_loadu_si128(const __m128i* p) { return wasm_v128_load(p); }
inline __m128i _mm_add_epi8(__m128i a, __m128i b) { return wasm_i8x16_add(a, b); }
inline __m128i _mm_sub_epi8(__m128i a, __m128i b) { return wasm_i8x16_sub(a, b); }
inline __m128i _mm_min_epu8(__m128i a, __m128i b) { return wasm_u8x16_min(a, b); }
inline __m128i _mm_cmpeq_epi8(__m128i a, __m128i b) { return wasm_i8x16_eq(a, b); }
inline __m128i _mm_cmplt_epi8(__m128i a, __m128i b) { return wasm_i8x16_lt(a, b); }
inline __m128i _mm_or_si128(__m128i a, __m128i b) { return wasm_v128_or(a, b); }
inline int _mm_movemask_epi8(__m128i a) { return static_cast<int>(wasm_i8x16_bitmask(a)); }
#endif
