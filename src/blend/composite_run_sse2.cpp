// The packed runs four pixels to a vector, in SSE2: the x86 baseline.
#include <cstddef>

#include "blend/blend.h"
#include "blend/composite_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace zl {

namespace {

// The lane helpers must melt into the loop: as calls they would pass their
// vectors through memory (the 32-bit target aligns its stack to 4 bytes only).
#define ZL_PACKED inline __attribute__((always_inline))

using Vec = __m128i;
constexpr int32_t kVecPixels = 4;

ZL_PACKED Vec Load(const uint32_t *p) { return _mm_loadu_si128(reinterpret_cast<const Vec *>(p)); }
ZL_PACKED void Store(uint32_t *p, Vec v) { _mm_storeu_si128(reinterpret_cast<Vec *>(p), v); }
ZL_PACKED void Stream(uint32_t *p, Vec v) { _mm_stream_si128(reinterpret_cast<Vec *>(p), v); }
ZL_PACKED void Fence() { _mm_sfence(); }
ZL_PACKED Vec Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
ZL_PACKED Vec Set32(int v) { return _mm_set1_epi32(v); }
ZL_PACKED Vec Zero() { return _mm_setzero_si128(); }
ZL_PACKED Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
ZL_PACKED Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
ZL_PACKED Vec Add16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
ZL_PACKED Vec Sub16(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
ZL_PACKED Vec Mullo16(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
ZL_PACKED Vec MulhiU16(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli16(Vec a) { return _mm_srli_epi16(a, n); }
ZL_PACKED Vec Avg16(Vec a, Vec b) { return _mm_avg_epu16(a, b); }
ZL_PACKED Vec SubsU16(Vec a, Vec b) { return _mm_subs_epu16(a, b); }
template <int n>
ZL_PACKED Vec Srli32(Vec a) { return _mm_srli_epi32(a, n); }
template <int n>
ZL_PACKED Vec Slli32(Vec a) { return _mm_slli_epi32(a, n); }
ZL_PACKED Vec Packs32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
ZL_PACKED Vec Unpacklo16(Vec a, Vec b) { return _mm_unpacklo_epi16(a, b); }
ZL_PACKED Vec Unpacklo8(Vec a, Vec b) { return _mm_unpacklo_epi8(a, b); }
ZL_PACKED Vec Unpackhi8(Vec a, Vec b) { return _mm_unpackhi_epi8(a, b); }
ZL_PACKED Vec Unpackhi16(Vec a, Vec b) { return _mm_unpackhi_epi16(a, b); }
ZL_PACKED Vec Cmpeq16(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
ZL_PACKED Vec Max16(Vec a, Vec b) { return _mm_max_epi16(a, b); }
ZL_PACKED uint32_t FirstPixel(Vec v) { return static_cast<uint32_t>(_mm_cvtsi128_si32(v)); }
ZL_PACKED bool AllLanes(Vec mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }
ZL_PACKED bool NoLanes(Vec mask) { return _mm_movemask_epi8(mask) == 0; }

// The weight quotient floor(numerator / divisor) of 32-bit lanes (see
// BlendBlock). Single precision division is exact here: the numerator stays
// below 2^16 and a quotient that is not whole lies at least 1/255 from the
// next integer, far more than the rounding error in any rounding mode. The
// divisor is never 0, so no lane raises a floating-point exception that the
// host may have unmasked.
ZL_PACKED Vec Quotient(Vec numerator, Vec divisor) {
    return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(numerator), _mm_cvtepi32_ps(divisor)));
}

ZL_PACKED Vec Alphas(Vec first, Vec second) { return Packs32(Srli32<24>(first), Srli32<24>(second)); }
ZL_PACKED Vec Greens(Vec first, Vec second) {
    return Packs32(Srli32<24>(Slli32<16>(first)), Srli32<24>(Slli32<16>(second)));
}

#include "blend/packed_run.inc"

}  // namespace

const CompositeRunSet kPackedSse2Runs = PackedRuns("sse2");

}  // namespace zl

#endif
