// A bijective hash: deterministic, well spread pixel values from an index.
#pragma once

#include <cstdint>

namespace zltest {

inline uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

}  // namespace zltest
