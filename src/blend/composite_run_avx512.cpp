// The packed runs sixteen pixels to a vector, in AVX-512 (F and BW), for
// processors that have it: twice the pixels per instruction of the AVX2
// runs, which pays (measured) even where the processor splits each
// instruction in two halves, as fewer instructions wait to issue; in the
// 32-bit DLL too, despite its eight vector registers. Only the functions of
// this file use AVX-512 instructions; they are chosen at run time.
#include <algorithm>
#include <cstddef>

#include "blend/blend.h"
#include "blend/composite_run.h"

#if defined(ZL_HAS_AVX512_RUNS)
#include <immintrin.h>

// GCC 12's AVX-512 shift intrinsics pass an undefined vector as the unused
// merge source, which its own flow analysis then reports as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// Everything defined from here on may use AVX-512, and nothing else does.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw")
#endif

namespace zl {

namespace {

#define ZL_PACKED inline __attribute__((always_inline))

using Vec = __m512i;
constexpr int32_t kVecPixels = 16;

ZL_PACKED Vec Load(const uint32_t *p) { return _mm512_loadu_si512(p); }
ZL_PACKED void Store(uint32_t *p, Vec v) { _mm512_storeu_si512(p, v); }
ZL_PACKED void Stream(uint32_t *p, Vec v) { _mm512_stream_si512(reinterpret_cast<Vec *>(p), v); }
ZL_PACKED void Fence() { _mm_sfence(); }
ZL_PACKED Vec Set16(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
ZL_PACKED Vec Set32(int v) { return _mm512_set1_epi32(v); }
ZL_PACKED Vec Zero() { return _mm512_setzero_si512(); }
ZL_PACKED Vec And(Vec a, Vec b) { return _mm512_and_si512(a, b); }
ZL_PACKED Vec Or(Vec a, Vec b) { return _mm512_or_si512(a, b); }
ZL_PACKED Vec Add16(Vec a, Vec b) { return _mm512_add_epi16(a, b); }
ZL_PACKED Vec Sub16(Vec a, Vec b) { return _mm512_sub_epi16(a, b); }
ZL_PACKED Vec Mullo16(Vec a, Vec b) { return _mm512_mullo_epi16(a, b); }
ZL_PACKED Vec MulhiU16(Vec a, Vec b) { return _mm512_mulhi_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli16(Vec a) { return _mm512_srli_epi16(a, n); }
ZL_PACKED Vec Avg16(Vec a, Vec b) { return _mm512_avg_epu16(a, b); }
ZL_PACKED Vec SubsU16(Vec a, Vec b) { return _mm512_subs_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli32(Vec a) { return _mm512_srli_epi32(a, n); }
template <int n>
ZL_PACKED Vec Slli32(Vec a) { return _mm512_slli_epi32(a, n); }
ZL_PACKED Vec Packs32(Vec a, Vec b) { return _mm512_packs_epi32(a, b); }
ZL_PACKED Vec Unpacklo8(Vec a, Vec b) { return _mm512_unpacklo_epi8(a, b); }
ZL_PACKED Vec Unpackhi8(Vec a, Vec b) { return _mm512_unpackhi_epi8(a, b); }
ZL_PACKED Vec Unpacklo16(Vec a, Vec b) { return _mm512_unpacklo_epi16(a, b); }
ZL_PACKED Vec Unpackhi16(Vec a, Vec b) { return _mm512_unpackhi_epi16(a, b); }
ZL_PACKED Vec Max16(Vec a, Vec b) { return _mm512_max_epi16(a, b); }
// The byte lanes of the blend with one weight for a whole block.
#define ZL_PACKED_BYTE_MULTIPLY_ADD 1
ZL_PACKED Vec Xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
ZL_PACKED Vec MultiplyAddBytes16(Vec unsignedBytes, Vec signedBytes) {
    return _mm512_maddubs_epi16(unsignedBytes, signedBytes);
}
ZL_PACKED Vec PackUs16(Vec a, Vec b) { return _mm512_packus_epi16(a, b); }
// Whether any alpha byte of t0 or t1 differs from alpha's, or of b0 or b1
// from 255: two three-way logic operations and one test.
#define ZL_PACKED_ALPHA_BYTES_DIFFER 1
ZL_PACKED bool AlphaBytesDiffer(Vec t0, Vec t1, Vec b0, Vec b1, Vec alpha, Vec alphaBytes) {
    Vec topDiffers = _mm512_ternarylogic_epi32(t0, t1, alpha, 0x7E);        // (t0 ^ alpha) | (t1 ^ alpha)
    Vec differs = _mm512_ternarylogic_epi32(topDiffers, b0, b1, 0xF7);      // | ~(b0 & b1)
    return _mm512_test_epi32_mask(differs, alphaBytes) != 0;
}
// The first n pixels (0 to 16) of a vector, the rest of its lanes from fill;
// memory past the n pixels is neither read nor written.
#define ZL_PACKED_MASKED_TAIL 1
ZL_PACKED __mmask16 FirstLanes(int32_t n) { return static_cast<__mmask16>((1u << n) - 1); }
ZL_PACKED Vec LoadFirst(const uint32_t *p, int32_t n, Vec fill) {
    return _mm512_mask_loadu_epi32(fill, FirstLanes(n), p);
}
ZL_PACKED void StoreFirst(uint32_t *p, int32_t n, Vec v) { _mm512_mask_storeu_epi32(p, FirstLanes(n), v); }
// The comparisons on mask registers.
#define ZL_PACKED_COMPARES 1
constexpr __mmask32 kEveryLane = ~__mmask32{0};
ZL_PACKED bool AllEqual16(Vec a, Vec b) { return _mm512_cmpeq_epi16_mask(a, b) == kEveryLane; }
ZL_PACKED bool NoneEqual16(Vec a, Vec b) { return _mm512_cmpeq_epi16_mask(a, b) == 0; }
ZL_PACKED bool EachEqualEither16(Vec a, Vec x, Vec b, Vec y) {
    return (_mm512_cmpeq_epi16_mask(a, x) | _mm512_cmpeq_epi16_mask(b, y)) == kEveryLane;
}
ZL_PACKED uint32_t FirstPixel(Vec v) {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(v)));
}

// As in the SSE2 runs: exact in single precision, never a zero divisor.
ZL_PACKED Vec Quotient(Vec numerator, Vec divisor) {
    return _mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(numerator), _mm512_cvtepi32_ps(divisor)));
}

// Per 128-bit quarter: the greens of its four pixels as 16-bit lanes in the
// low eight bytes, their alphas in the high eight.
ZL_PACKED Vec GreensThenAlphas(Vec v) {
    const Vec order = _mm512_broadcast_i32x4(_mm_setr_epi8(1, -1, 5, -1, 9, -1, 13, -1, 3, -1, 7, -1, 11, -1, 15, -1));
    return _mm512_shuffle_epi8(v, order);
}
ZL_PACKED Vec Alphas(Vec first, Vec second) {
    return _mm512_unpackhi_epi64(GreensThenAlphas(first), GreensThenAlphas(second));
}
ZL_PACKED Vec Greens(Vec first, Vec second) {
    return _mm512_unpacklo_epi64(GreensThenAlphas(first), GreensThenAlphas(second));
}

#include "blend/packed_run.inc"

}  // namespace

const CompositeRunSet kPackedAvx512Runs = PackedRuns("avx512");

}  // namespace zl

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
