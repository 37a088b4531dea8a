// The fast line producer gives exactly the plain tap-by-tap producer's bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "mix_hash.h"
#include "scale/scale.h"

namespace {

uint32_t Hash(uint32_t x) { return zltest::Mix(x); }

// Alphas that exercise the rounding and the transparent path.
uint32_t TestPixel(uint32_t i) {
    static const uint32_t alphas[] = {0, 255, 1, 2, 127, 128, 254, 33, 255, 0, 200};
    uint32_t m = Hash(i);
    return alphas[m % 11] << 24 | (m >> 8 & 0xFFFFFF);
}

TEST(ScaleProduce, FastLineEqualsPlainLine) {
    const int32_t sizes[][4] = {{1920, 12, 960, 6},  {1920, 9, 1280, 6}, {120, 9, 384, 21}, {17, 23, 5, 7},
                                {5, 7, 17, 23},      {1, 1, 9, 9},       {9, 9, 1, 1},      {1000, 4, 999, 3},
                                {64, 64, 63, 65},    {3, 5, 3, 5},       {7, 31, 2, 3},     {2, 3, 7, 31}};
    for (const auto &z : sizes) {
        int32_t sw = z[0], sh = z[1], dw = z[2], dh = z[3];
        SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        std::vector<ScaleAxisEntry> horizontal(static_cast<size_t>(dw) + 1);
        std::vector<ScaleAxisEntry> vertical(static_cast<size_t>(dh) + 1);
        ASSERT_EQ(zl::BuildScaleAxis(horizontal.data(), sw, dw), 1);
        ASSERT_EQ(zl::BuildScaleAxis(vertical.data(), sh, dh), 1);
        std::vector<uint32_t> image(static_cast<size_t>(sw) * sh);
        for (size_t i = 0; i < image.size(); ++i) image[i] = TestPixel(static_cast<uint32_t>(i) + sw * 31u);
        int32_t top = 0;
        for (int32_t y = 0; y < dh; ++y) {
            const ScaleAxisEntry &v = vertical[static_cast<size_t>(y) + 1];
            std::vector<const uint32_t *> rows;
            int32_t count = v.wholeCount + 2;
            for (int32_t k = 0; k < count; ++k) {
                int32_t line = top + k < sh ? top + k : sh - 1;  // rows past the end are never read
                rows.push_back(&image[static_cast<size_t>(line) * sw]);
            }
            zl::LineFootprint footprint{rows.data(), &v, vertical[0].leadWeight};
            for (int32_t first : {0, dw / 3}) {
                std::vector<uint32_t> plain(dw, 1), fast(dw, 2);
                int32_t n = dw - first;
                // A partial line starts its rows at the first column's source pixel.
                int32_t shift = zl::SourceStart(horizontal.data(), dw, first);
                std::vector<const uint32_t *> shifted;
                for (const uint32_t *r : rows) shifted.push_back(r + shift);
                zl::LineFootprint part{shifted.data(), &v, vertical[0].leadWeight};
                zl::ProduceLinePlain(plain.data(), first == 0 ? footprint : part, horizontal.data(), first, n);
                zl::ProduceLine(fast.data(), first == 0 ? footprint : part, horizontal.data(), first, n);
                for (int32_t j = 0; j < n; ++j)
                    ASSERT_EQ(plain[j], fast[j]) << std::hex << "line " << y << " from column " << first << " j " << j;
            }
            top += v.advance;
        }
    }
}

}  // namespace
