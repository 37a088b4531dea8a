// The packed runs eight pixels to a vector, in AVX2, for processors that
// have it. Only the functions of this file use AVX2 instructions: the build
// targets the baseline, and they are chosen at run time.
#include <cstddef>

#include "blend/blend.h"
#include "blend/composite_run.h"

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

// Everything defined from here on may use AVX2, and nothing else does: the
// headers above are read first, so their inline functions keep the baseline.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace zl {

// The runs' 16-bit constants, read from memory as operands. Short of
// registers, GCC gives up the ones that hold constants and builds them again
// inside the runs' loops, from a general register, at three instructions and
// a store to the stack each: random pixels composite an eighth (32-bit x86)
// to a fifth (x86-64) slower so (measured). Not const, so that GCC cannot
// see the values and has to read them.
template <uint16_t v>
struct alignas(32) Avx2Splat16 {
    uint16_t lanes[16] = {v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v};
};
template <uint16_t v>
Avx2Splat16<v> avx2Splat16;

namespace {

#define ZL_PACKED inline __attribute__((always_inline))

using Vec = __m256i;
constexpr int32_t kVecPixels = 8;

ZL_PACKED Vec Load(const uint32_t *p) { return _mm256_loadu_si256(reinterpret_cast<const Vec *>(p)); }
ZL_PACKED void Store(uint32_t *p, Vec v) { _mm256_storeu_si256(reinterpret_cast<Vec *>(p), v); }
ZL_PACKED void Stream(uint32_t *p, Vec v) { _mm256_stream_si256(reinterpret_cast<Vec *>(p), v); }
ZL_PACKED void Fence() { _mm_sfence(); }
ZL_PACKED Vec Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
ZL_PACKED Vec Set32(int v) { return _mm256_set1_epi32(v); }
#define ZL_PACKED_CONSTANTS 1
template <uint16_t v>
ZL_PACKED Vec Constant16() {
    return _mm256_load_si256(reinterpret_cast<const Vec *>(avx2Splat16<v>.lanes));
}
ZL_PACKED Vec Zero() { return _mm256_setzero_si256(); }
ZL_PACKED Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
ZL_PACKED Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
ZL_PACKED Vec Add16(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
ZL_PACKED Vec Sub16(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
ZL_PACKED Vec Mullo16(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
ZL_PACKED Vec MulhiU16(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli16(Vec a) { return _mm256_srli_epi16(a, n); }
ZL_PACKED Vec Avg16(Vec a, Vec b) { return _mm256_avg_epu16(a, b); }
ZL_PACKED Vec SubsU16(Vec a, Vec b) { return _mm256_subs_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli32(Vec a) { return _mm256_srli_epi32(a, n); }
template <int n>
ZL_PACKED Vec Slli32(Vec a) { return _mm256_slli_epi32(a, n); }
ZL_PACKED Vec Packs32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
ZL_PACKED Vec Unpacklo8(Vec a, Vec b) { return _mm256_unpacklo_epi8(a, b); }
ZL_PACKED Vec Unpackhi8(Vec a, Vec b) { return _mm256_unpackhi_epi8(a, b); }
ZL_PACKED Vec Unpacklo16(Vec a, Vec b) { return _mm256_unpacklo_epi16(a, b); }
ZL_PACKED Vec Unpackhi16(Vec a, Vec b) { return _mm256_unpackhi_epi16(a, b); }
ZL_PACKED Vec Cmpeq16(Vec a, Vec b) { return _mm256_cmpeq_epi16(a, b); }
ZL_PACKED Vec Max16(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
// The byte lanes of the blend with one weight for a whole block.
#define ZL_PACKED_BYTE_MULTIPLY_ADD 1
ZL_PACKED Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
ZL_PACKED Vec MultiplyAddBytes16(Vec unsignedBytes, Vec signedBytes) {
    return _mm256_maddubs_epi16(unsignedBytes, signedBytes);
}
ZL_PACKED Vec PackUs16(Vec a, Vec b) { return _mm256_packus_epi16(a, b); }
ZL_PACKED uint32_t FirstPixel(Vec v) { return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(v))); }
// The first n pixels (0 to 8) of a vector, the rest of its lanes from fill;
// memory past the n pixels is neither read nor written.
#define ZL_PACKED_MASKED_TAIL 1
ZL_PACKED Vec FirstLanes(int32_t n) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}
ZL_PACKED Vec LoadFirst(const uint32_t *p, int32_t n, Vec fill) {
    Vec lanes = FirstLanes(n);
    return _mm256_blendv_epi8(fill, _mm256_maskload_epi32(reinterpret_cast<const int *>(p), lanes), lanes);
}
ZL_PACKED void StoreFirst(uint32_t *p, int32_t n, Vec v) {
    _mm256_maskstore_epi32(reinterpret_cast<int *>(p), FirstLanes(n), v);
}
ZL_PACKED bool AllLanes(Vec mask) { return _mm256_movemask_epi8(mask) == -1; }
ZL_PACKED bool NoLanes(Vec mask) { return _mm256_movemask_epi8(mask) == 0; }

// As in the SSE2 runs: exact in single precision, never a zero divisor.
ZL_PACKED Vec Quotient(Vec numerator, Vec divisor) {
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(numerator), _mm256_cvtepi32_ps(divisor)));
}

// Per 128-bit half: the greens of its four pixels as 16-bit lanes in the low
// eight bytes, their alphas in the high eight.
ZL_PACKED Vec GreensThenAlphas(Vec v) {
    const Vec order = _mm256_setr_epi8(1, -1, 5, -1, 9, -1, 13, -1, 3, -1, 7, -1, 11, -1, 15, -1,  //
                                       1, -1, 5, -1, 9, -1, 13, -1, 3, -1, 7, -1, 11, -1, 15, -1);
    return _mm256_shuffle_epi8(v, order);
}
// With eight vector registers (32-bit x86), alphas by shifts: taken from the
// shuffles that Greens shares, they keep those shuffles live across a run's
// tests, and the run stores them to the stack on every block, the cheap ones
// too (clear over opaque, opaque). By shifts, titles and pictures in picture
// composite up to a quarter faster (measured); a blend then takes two
// operations more.
ZL_PACKED Vec Alphas(Vec first, Vec second) {
    if constexpr (sizeof(void *) == 4)
        return Packs32(Srli32<24>(first), Srli32<24>(second));
    return _mm256_unpackhi_epi64(GreensThenAlphas(first), GreensThenAlphas(second));
}
ZL_PACKED Vec Greens(Vec first, Vec second) {
    return _mm256_unpacklo_epi64(GreensThenAlphas(first), GreensThenAlphas(second));
}

#include "blend/packed_run.inc"

}  // namespace

const CompositeRunSet kPackedAvx2Runs = PackedRuns("avx2");

}  // namespace zl

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
