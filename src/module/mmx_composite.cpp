#include "blend/blend.h"

// On x86 this file is built with -mmmx (see src/CMakeLists.txt) and the blend
// is packed MMX code. Should the flag be lost, the build stops here instead
// of quietly giving CompositPelsMMXOnly the plain integer model.
#if defined(__i386__) || defined(__x86_64__)
#if !defined(__MMX__)
#error "CompositPelsMMXOnly is MMX code: compile mmx_composite.cpp with -mmmx"
#endif
#define ZL_PACKED_MMX 1
#include <mmintrin.h>
#include <cstring>
#endif

namespace zl {

#if defined(ZL_PACKED_MMX)
namespace {

__m64 Load64(const void *p) {
    __m64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store64(uint32_t *p, __m64 v) { std::memcpy(p, &v, sizeof v); }

__m64 Constant(const uint64_t &bits) { return Load64(&bits); }

uint32_t OutputAlpha(uint32_t topA, uint32_t bottomA) { return topA + bottomA - ((topA * bottomA + 255) >> 8); }

// One pixel, held in the low 32 bits of `top` and `bottom` widened to
// 16-bit lanes (blue, green, red, alpha from lane 0).
__m64 BlendLanes(__m64 topLanes, __m64 bottomLanes, __m64 topMasked, __m64 bottomMasked) {
    const __m64 round = Constant(RoundWord255);
    // Alpha of each pixel, broadcast to all four lanes.
    __m64 topA = _mm_unpackhi_pi16(topLanes, topLanes);
    topA = _mm_unpackhi_pi32(topA, topA);
    __m64 bottomA = _mm_unpackhi_pi16(bottomLanes, bottomLanes);
    bottomA = _mm_unpackhi_pi32(bottomA, bottomA);
    __m64 shared = _mm_srli_pi16(_mm_add_pi16(_mm_mullo_pi16(topA, bottomA), round), 8);
    __m64 under = _mm_sub_pi16(bottomA, shared);
    __m64 sum = _mm_add_pi16(_mm_mullo_pi16(topMasked, topA), _mm_mullo_pi16(bottomMasked, under));
    return _mm_srli_pi16(sum, 1);
}

}  // namespace

void MmxCompositeRun(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    const __m64 zero = _mm_setzero_si64();
    const __m64 mask = Constant(AlphaLaneMask);
    int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        __m64 t = Load64(top + i);
        __m64 b = Load64(bottom + i);
        __m64 tm = _mm_or_si64(t, mask);
        __m64 bm = _mm_or_si64(b, mask);
        uint32_t n0 = OutputAlpha(top[i] >> 24, bottom[i] >> 24);
        uint32_t n1 = OutputAlpha(top[i + 1] >> 24, bottom[i + 1] >> 24);
        __m64 half0 = BlendLanes(_mm_unpacklo_pi8(t, zero), _mm_unpacklo_pi8(b, zero),
                                 _mm_unpacklo_pi8(tm, zero), _mm_unpacklo_pi8(bm, zero));
        __m64 half1 = BlendLanes(_mm_unpackhi_pi8(t, zero), _mm_unpackhi_pi8(b, zero),
                                 _mm_unpackhi_pi8(tm, zero), _mm_unpackhi_pi8(bm, zero));
        __m64 v0 = _mm_mulhi_pi16(half0, Constant(ReciprocalTable[n0]));
        __m64 v1 = _mm_mulhi_pi16(half1, Constant(ReciprocalTable[n1]));
        Store64(out + i, _mm_packs_pu16(v0, v1));
    }
    if (i < count) {
        __m64 t = _mm_cvtsi32_si64(static_cast<int>(top[i]));
        __m64 b = _mm_cvtsi32_si64(static_cast<int>(bottom[i]));
        __m64 tm = _mm_or_si64(t, mask);
        __m64 bm = _mm_or_si64(b, mask);
        uint32_t n = OutputAlpha(top[i] >> 24, bottom[i] >> 24);
        __m64 half = BlendLanes(_mm_unpacklo_pi8(t, zero), _mm_unpacklo_pi8(b, zero),
                                _mm_unpacklo_pi8(tm, zero), _mm_unpacklo_pi8(bm, zero));
        __m64 v = _mm_mulhi_pi16(half, Constant(ReciprocalTable[n]));
        out[i] = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(v, zero)));
    }
    // Hand the registers back to the caller's floating-point code.
    _mm_empty();
}

#else

// Processors without MMX: the same arithmetic, one lane at a time.
void MmxCompositeRun(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = MmxCompositeScalar(top[i], bottom[i]);
}

#endif

}  // namespace zl
