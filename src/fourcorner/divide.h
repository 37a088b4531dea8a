// Division of a 16-bit colour sum by an 8-bit alpha without a divide
// instruction: the resampler does three per stored pixel.
#pragma once

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zl {

// floor(2^32 / a) + 1 for a = 2 ... 255; with it, (sum * m) >> 32 equals
// floor(sum / a) for every sum below 2^16 (the tests check all of them).
struct AlphaReciprocals {
    uint32_t m[256];
    constexpr AlphaReciprocals() : m() {
        for (uint32_t a = 2; a < 256; ++a) m[a] = static_cast<uint32_t>((uint64_t{1} << 32) / a + 1);
    }
};

inline constexpr AlphaReciprocals kAlphaReciprocals{};

// floor(sum / alpha) for sum < 2^16 and alpha from 1 to 255.
inline uint32_t DivideSumByAlpha(uint32_t sum, uint32_t alpha) {
    if (alpha == 1) return sum;
    return static_cast<uint32_t>((static_cast<uint64_t>(sum) * kAlphaReciprocals.m[alpha]) >> 32);
}

#if defined(__SSE2__)
// 1 / alpha for the three colour lanes and 1 / 256 for the alpha lane.
struct LaneInverses {
    alignas(16) float lanes[256][4];
    constexpr LaneInverses() : lanes() {
        for (int a = 1; a < 256; ++a) {
            lanes[a][0] = lanes[a][1] = lanes[a][2] = 1.0f / static_cast<float>(a);
            lanes[a][3] = 1.0f / 256;
        }
    }
};

inline constexpr LaneInverses kLaneInverses{};

// The pixel of sums held in the low four 16-bit lanes (blue, green, red, and
// alpha in 8.8): alpha = a >> 8 and each colour floor(sum / alpha), at most
// 255, all four divisions at once in single precision. (sum + 1/2) / alpha
// lies at least 1 / (2 alpha) from an integer, and the float result is off
// by at most 2^-23 of a value below 2^16 / alpha, so truncation is exact.
inline uint32_t PixelOfLaneSums(__m128i sums) {
    uint32_t alpha = static_cast<uint32_t>(_mm_extract_epi16(sums, 3)) >> 8;
    if (alpha == 0) return 0;
    __m128 values = _mm_cvtepi32_ps(_mm_unpacklo_epi16(sums, _mm_setzero_si128()));
    __m128 quotients = _mm_mul_ps(_mm_add_ps(values, _mm_set1_ps(0.5f)), _mm_load_ps(kLaneInverses.lanes[alpha]));
    __m128i whole = _mm_cvttps_epi32(quotients);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(whole, whole), whole)));
}
#endif

}  // namespace zl
