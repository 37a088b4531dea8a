// Division of a 16-bit colour sum by an 8-bit alpha without a divide
// instruction: the resampler does three per stored pixel.
#pragma once

#include <cstdint>

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

}  // namespace zl
