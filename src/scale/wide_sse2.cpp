// The wide producer with two lanes of SSE2: the DLL's baseline and the
// fallback of every x86 build.
#include "scale/wide.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "blend/blend.h"

namespace zl {

namespace {

#include "scale/wide_kernel.h"

struct Sse2Lanes {
    static constexpr int32_t kLanes = 2;
    using D = __m128d;
    using I = __m128i;

    static D Set1(double x) { return _mm_set1_pd(x); }
    static D Load(const double *p) { return _mm_loadu_pd(p); }
    static void Store(double *p, D v) { _mm_storeu_pd(p, v); }
    static D Add(D a, D b) { return _mm_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm_mul_pd(a, b); }
    // Lanes h, h + 1 of 4 int32 as doubles.
    static D Doubles(__m128i x, int32_t h) { return _mm_cvtepi32_pd(h == 0 ? x : _mm_srli_si128(x, 8)); }

    // Gathers as many pixels as it does fast; the caller does the rest.
    static int32_t Gather(uint32_t *, const uint32_t *, const WidePlan &, int32_t, int32_t, int32_t, int32_t) {
        return 0;
    }

    static I LoadPixels(const uint32_t *p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)); }
    template <int kShift>
    static D Channel(I p) {
        if (kShift == 24) return _mm_cvtepi32_pd(_mm_srli_epi32(p, 24));
        return _mm_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, kShift), _mm_set1_epi32(0xFF)));
    }

    // Rounds to nearest, ties to even (the conversion's rounding in the
    // known environment), clamps by saturating packs, and gives 0 to a
    // pixel whose rounded alpha is 0 or less.
    static void StoreSums(uint32_t *dst, D a, D b, D g, D r) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i alpha = _mm_cvtpd_epi32(a);
        const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(alpha, zero), zero)));
        const __m128d inverse = _mm_set_pd(InverseOf(bytes >> 8 & 0xFF), InverseOf(bytes & 0xFF));
        const __m128i blue = _mm_cvtpd_epi32(_mm_mul_pd(b, inverse));
        const __m128i green = _mm_cvtpd_epi32(_mm_mul_pd(g, inverse));
        const __m128i red = _mm_cvtpd_epi32(_mm_mul_pd(r, inverse));
        const __m128i blueGreen = _mm_unpacklo_epi32(blue, green);
        const __m128i redAlpha = _mm_unpacklo_epi32(red, alpha);
        const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(blueGreen, redAlpha),
                                              _mm_unpackhi_epi64(blueGreen, redAlpha));
        const __m128i pixels = _mm_and_si128(_mm_packus_epi16(words, zero), _mm_cmpgt_epi32(alpha, zero));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), pixels);
    }
};

void ProduceWideLineSse2(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount) {
    ProduceWideLineWith<Sse2Lanes>(dstRow, line, plan, columnCount);
}

}  // namespace

const WideKernels kWideSse2 = {
    ProduceWideLineSse2, KeepLine<Sse2Lanes>, ProduceKeptLine<Sse2Lanes>, HalveLine<Sse2Lanes>,
    {GatherTaps<Sse2Lanes>, AccumulateTaps<Sse2Lanes>, StoreLine<Sse2Lanes>, AccumulateKeptLines<Sse2Lanes>},
    "SSE2x2"};

}  // namespace zl

#else

namespace zl {

const WideKernels kWideSse2 = {nullptr, nullptr, nullptr, nullptr, {nullptr, nullptr, nullptr, nullptr}, "SSE2x2"};

}  // namespace zl

#endif
