// The wide producer with four lanes of AVX, compiled with -mavx2 (the 32-bit
// DLL too) and called only where the processor and the operating system run
// AVX2. Nothing here may be shared with the other files through the linker,
// so everything but the kernel table has internal linkage and no
// standard-library template is used.
#include "scale/wide.h"

#if defined(__AVX2__)
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
    static D Doubles(__m128i x, int32_t) { return _mm256_cvtepi32_pd(x); }

    // Eight pixels of one tap at a time, from one load of the 8 source
    // pixels they lie in, where the plan has such a window and the pass
    // starts on a block; the caller gathers the rest one by one.
    static int32_t Gather(uint32_t *out, const uint32_t *row, const WidePlan &plan, int32_t tap, int32_t column,
                          int32_t base, int32_t count) {
        int32_t i = 0;
        if (column % 8 != 0) return i;
        const int32_t *windows = plan.windows + static_cast<size_t>(tap) * plan.blocks + column / 8;
        const int32_t *permutes = plan.permutes + (static_cast<size_t>(tap) * plan.blocks + column / 8) * 8;
        for (; i + 8 <= count; i += 8) {
            const int32_t start = windows[i / 8];
            // Before the first pixel of a pass's rows: not readable.
            if (start < base) return i;
            const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + (start - base)));
            const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(permutes + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_permutevar8x32_epi32(pixels, pick));
        }
        return i;
    }

    static I LoadPixels(const uint32_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    template <int kShift>
    static D Channel(I p) {
        if (kShift == 24) return _mm256_cvtepi32_pd(_mm_srli_epi32(p, 24));
        return _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, kShift), _mm_set1_epi32(0xFF)));
    }

    // As the SSE2 lanes: rounding by the conversion, clamping by saturating
    // packs, 0 for a pixel whose rounded alpha is 0 or less.
    static void StoreSums(uint32_t *dst, D a, D b, D g, D r) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i alpha = _mm256_cvtpd_epi32(a);
        // 1 / alpha, the alpha clamped to 1 .. 255 (a pixel of alpha 0 is 0
        // whatever its colour sums): the division is correctly rounded, so
        // it gives AlphaInverseTable's entry, the double nearest to 1/n.
        const __m128i entry = _mm_max_epi32(_mm_min_epi32(alpha, _mm_set1_epi32(255)), _mm_set1_epi32(1));
        const __m256d inverse = _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_cvtepi32_pd(entry));
        const __m128i blue = _mm256_cvtpd_epi32(_mm256_mul_pd(b, inverse));
        const __m128i green = _mm256_cvtpd_epi32(_mm256_mul_pd(g, inverse));
        const __m128i red = _mm256_cvtpd_epi32(_mm256_mul_pd(r, inverse));
        // Bytes b0..b3 g0..g3 r0..r3 a0..a3, clamped by the saturating
        // packs, then gathered pixel by pixel.
        const __m128i planes = _mm_packus_epi16(_mm_packs_epi32(blue, green), _mm_packs_epi32(red, alpha));
        const __m128i order = _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        const __m128i pixels = _mm_and_si128(_mm_shuffle_epi8(planes, order), _mm_cmpgt_epi32(alpha, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), pixels);
    }

    // The integer route of a halving (HalveRow, HalveFour) on 256 bits: 8
    // destination pixels a step, each 128-bit half as HalveRow does it.
    static void HalveRow8(__m256i eight, __m256i &first, __m256i &second) {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i swapped = _mm256_shuffle_epi32(eight, _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i bytes = _mm256_unpacklo_epi8(swapped, _mm256_srli_si256(swapped, 8));
        const __m256i words0 = _mm256_unpacklo_epi8(bytes, zero), words1 = _mm256_unpackhi_epi8(bytes, zero);
        const __m256i colours = _mm256_set_epi32(0, -1, -1, -1, 0, -1, -1, -1);
        const __m256i ones = _mm256_set_epi32(0x00010001, 0, 0, 0, 0x00010001, 0, 0, 0);
        first = _mm256_madd_epi16(words0,
                                  _mm256_or_si256(_mm256_and_si256(_mm256_shuffle_epi32(words0, 0xFF), colours), ones));
        second = _mm256_madd_epi16(
            words1, _mm256_or_si256(_mm256_and_si256(_mm256_shuffle_epi32(words1, 0xFF), colours), ones));
    }
    // Sums of destination pixels 0 .. 7 from 16 source pixels of a row:
    // sums[k] holds pixel k in its low half and pixel k + 4 in its high half.
    static void HalveRows8(const uint32_t *row, __m256i sums[4]) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 8));
        HalveRow8(_mm256_permute2x128_si256(low, high, 0x20), sums[0], sums[1]);
        HalveRow8(_mm256_permute2x128_si256(low, high, 0x31), sums[2], sums[3]);
    }
    static void HalveEight(uint32_t *dst, const uint32_t *top, const uint32_t *bottom) {
        __m256i p[4], q[4];
        HalveRows8(top, p);
        HalveRows8(bottom, q);
        for (int32_t k = 0; k < 4; ++k) p[k] = _mm256_add_epi32(p[k], q[k]);
        const __m256i bg01 = _mm256_unpacklo_epi32(p[0], p[1]), bg23 = _mm256_unpacklo_epi32(p[2], p[3]);
        const __m256i ra01 = _mm256_unpackhi_epi32(p[0], p[1]), ra23 = _mm256_unpackhi_epi32(p[2], p[3]);
        const __m256i sums[4] = {_mm256_unpackhi_epi64(ra01, ra23), _mm256_unpacklo_epi64(bg01, bg23),
                                 _mm256_unpackhi_epi64(bg01, bg23), _mm256_unpacklo_epi64(ra01, ra23)};
        const D quarter = Set1(0.25);
        for (int32_t h = 0; h < 2; ++h) {
            D d[4];
            for (int32_t c = 0; c < 4; ++c) {
                const __m128i half = h == 0 ? _mm256_castsi256_si128(sums[c]) : _mm256_extracti128_si256(sums[c], 1);
                d[c] = Mul(_mm256_cvtepi32_pd(half), quarter);
            }
            StoreSums(dst + 4 * h, d[0], d[1], d[2], d[3]);
        }
    }
    static void HalveRows(uint32_t *dstRow, const uint32_t *top, const uint32_t *bottom, int32_t columnCount);
};

void AvxLanes::HalveRows(uint32_t *dstRow, const uint32_t *top, const uint32_t *bottom, int32_t columnCount) {
    int32_t j = 0;
    for (; j + 8 <= columnCount; j += 8) HalveEight(dstRow + j, top + 2 * j, bottom + 2 * j);
    if (j < columnCount) HalveLine<AvxLanes>(dstRow + j, top + 2 * j, bottom + 2 * j, columnCount - j);
}

void ProduceWideLineAvx(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount) {
    ProduceWideLineWith<AvxLanes>(dstRow, line, plan, columnCount);
}

}  // namespace

const WideKernels kWideAvx = {
    ProduceWideLineAvx, KeepLine<AvxLanes>, ProduceKeptLine<AvxLanes>, AvxLanes::HalveRows,
    {GatherTaps<AvxLanes>, AccumulateTaps<AvxLanes>, StoreLine<AvxLanes>, AccumulateKeptLines<AvxLanes>},
    "AVX2x4"};

}  // namespace zl

#else

namespace zl {

const WideKernels kWideAvx = {nullptr, nullptr, nullptr, nullptr, {nullptr, nullptr, nullptr, nullptr}, "AVX2x4"};

}  // namespace zl

#endif
