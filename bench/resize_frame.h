// The source frame both scaler benchmarks resample: random colours, a tenth
// of the pixels transparent and a tenth translucent, the same for a size
// in every run.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

inline std::vector<uint32_t> RandomResizeSource(int32_t width, int32_t height) {
    std::mt19937 gen(0x52455A45u);
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t &p : pixels) {
        uint32_t r = gen();
        uint32_t pick = gen() % 10;
        uint32_t alpha = pick == 0 ? 0 : pick == 1 ? (r >> 24) : 255;
        p = alpha << 24 | (r & 0xFFFFFF);
    }
    return pixels;
}
