// The wide producer with four lanes of AVX, compiled with -mavx (x86-64
// builds only) and called only where the processor and the operating system
// run AVX. Nothing here may be shared with the other files through the
// linker, so everything but the two entry points has internal linkage and no
// standard-library template is used.
#include "scale/wide.h"

#if defined(__AVX__)
#include <immintrin.h>

#include "blend/blend.h"

namespace zl {

namespace {

#include "scale/wide_kernel.h"

struct AvxLanes {
    static constexpr int32_t kLanes = 4;
    using D = __m256d;
    using I = __m128i;

    static D Set1(double x) { return _mm256_set1_pd(x); }
    static D Load(const double *p) { return _mm256_loadu_pd(p); }
    static void Store(double *p, D v) { _mm256_storeu_pd(p, v); }
    static D Add(D a, D b) { return _mm256_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm256_mul_pd(a, b); }

    static I LoadPixels(const uint32_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    template <int kShift>
    static D Channel(I p) {
        if (kShift == 24) return _mm256_cvtepi32_pd(_mm_srli_epi32(p, 24));
        return _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, kShift), _mm_set1_epi32(0xFF)));
    }

    // As the SSE2 lanes: rounding by the conversion, clamping by saturating
    // packs, 0 for a pixel whose rounded alpha is 0 or less.
    static void StorePixels(uint32_t *dst, const double *a, const double *b, const double *g, const double *r) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i alpha = _mm256_cvtpd_epi32(_mm256_loadu_pd(a));
        const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(alpha, zero), zero)));
        const __m256d inverse = _mm256_set_pd(InverseOf(bytes >> 24), InverseOf(bytes >> 16 & 0xFF),
                                              InverseOf(bytes >> 8 & 0xFF), InverseOf(bytes & 0xFF));
        const __m128i blue = _mm256_cvtpd_epi32(_mm256_mul_pd(_mm256_loadu_pd(b), inverse));
        const __m128i green = _mm256_cvtpd_epi32(_mm256_mul_pd(_mm256_loadu_pd(g), inverse));
        const __m128i red = _mm256_cvtpd_epi32(_mm256_mul_pd(_mm256_loadu_pd(r), inverse));
        const __m128i blueGreenLow = _mm_unpacklo_epi32(blue, green), blueGreenHigh = _mm_unpackhi_epi32(blue, green);
        const __m128i redAlphaLow = _mm_unpacklo_epi32(red, alpha), redAlphaHigh = _mm_unpackhi_epi32(red, alpha);
        const __m128i low = _mm_packs_epi32(_mm_unpacklo_epi64(blueGreenLow, redAlphaLow),
                                            _mm_unpackhi_epi64(blueGreenLow, redAlphaLow));
        const __m128i high = _mm_packs_epi32(_mm_unpacklo_epi64(blueGreenHigh, redAlphaHigh),
                                             _mm_unpackhi_epi64(blueGreenHigh, redAlphaHigh));
        const __m128i pixels = _mm_and_si128(_mm_packus_epi16(low, high), _mm_cmpgt_epi32(alpha, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), pixels);
    }
};

}  // namespace

void ProduceWideLineAvx(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount) {
    ProduceWideLineWith<AvxLanes>(dstRow, line, plan, columnCount);
}

WidePhases WidePhasesAvx() { return {GatherTaps<AvxLanes>, AccumulateTaps<AvxLanes>, StoreLine<AvxLanes>}; }

}  // namespace zl

#else

namespace zl {

void ProduceWideLineAvx(uint32_t *, const WideLine &, const WidePlan &, int32_t) {}
WidePhases WidePhasesAvx() { return {nullptr, nullptr, nullptr}; }

}  // namespace zl

#endif
