// Every faster line producer gives exactly the plain tap-by-tap producer's
// bits: the packed one, and the wide ones this build and processor run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "mix_hash.h"
#include "scale/scale.h"
#include "scale/wide.h"

namespace {

uint32_t Hash(uint32_t x) { return zltest::Mix(x); }

// Alphas that exercise the rounding and the transparent path; an image 512
// wide instead gives every pair of alphas side by side (x / 2 and y), so a
// 2-to-1 or 2-to-3 column axis blends each of the 65,536 pairs.
uint32_t TestPixel(int32_t x, int32_t y, int32_t width) {
    uint32_t m = Hash(static_cast<uint32_t>(y * width + x) + static_cast<uint32_t>(width) * 31u);
    if (width == 512) return static_cast<uint32_t>(x % 2 == 0 ? x / 2 : y) << 24 | (m & 0xFFFFFF);
    static const uint32_t alphas[] = {0, 255, 1, 2, 127, 128, 254, 33, 255, 0, 200};
    return alphas[m % 11] << 24 | (m >> 8 & 0xFFFFFF);
}

struct Producer {
    const char *name;
    const zl::WideKernels *wide;  // null: the packed producer
};

TEST(ScaleProduce, FasterLinesEqualThePlainLine) {
    // Reducing, enlarging, mixed, equal, 1 x N and N x 1, footprints too long
    // for the wide producers, halving both axes (the integer route), and
    // every alpha pair.
    const int32_t sizes[][4] = {{1920, 12, 960, 6}, {1920, 9, 1280, 6}, {120, 9, 384, 21}, {17, 23, 5, 7},
                                {5, 7, 17, 23},     {1, 1, 9, 9},       {9, 9, 1, 1},      {1000, 4, 999, 3},
                                {64, 64, 63, 65},   {3, 5, 3, 5},       {7, 31, 2, 3},     {2, 3, 7, 31},
                                {1, 40, 70, 3},     {70, 3, 1, 40},     {40, 1, 3, 70},    {3, 70, 40, 1},
                                {400, 5, 7, 2},     {13, 2, 200, 5},    {20, 3, 160, 7},   {512, 256, 256, 256},
                                {512, 2, 767, 5},   {256, 3, 512, 8},   {100, 4, 37, 9},   {512, 256, 256, 128},
                                {14, 6, 7, 3},      {2, 2, 1, 1}};
    std::vector<Producer> producers = {{"packed", nullptr}};
    if (zl::WideKernelsSse2() != nullptr) producers.push_back({"wide SSE2", zl::WideKernelsSse2()});
    if (zl::WideKernelsAvx() != nullptr) producers.push_back({"wide AVX", zl::WideKernelsAvx()});
    std::printf("checked against the plain line:");
    for (const Producer &p : producers) std::printf(" %s", p.name);
    std::printf("\n");
    int widePlans = 0, keepingPlans = 0, halvingPlans = 0;
    for (const auto &z : sizes) {
        int32_t sw = z[0], sh = z[1], dw = z[2], dh = z[3];
        SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        std::vector<uint32_t> image(static_cast<size_t>(sw) * sh);
        for (int32_t y = 0; y < sh; ++y)
            for (int32_t x = 0; x < sw; ++x) image[static_cast<size_t>(y) * sw + x] = TestPixel(x, y, sw);
        // Whole lines, partial lines from a later column, and short runs.
        const int32_t late = dw > 8 ? (dw - 8) / 8 * 8 : 0;  // a block near the right edge
        const int32_t parts[][2] = {{0, dw}, {dw / 3, dw - dw / 3}, {dw / 2, (dw - dw / 2 + 1) / 2}, {dw - 1, 1},
                                    {late, dw - late}};
        for (const Producer &p : producers) {
            // Each producer its own scaler, so that each keeps its own lines.
            ScanlineScaler *scaler = BeginScaleScanline(sw, sh, dw, dh);
            ASSERT_NE(scaler, nullptr);
            const ScaleAxis *horizontal = scaler->geometry->horizontal, *vertical = scaler->geometry->vertical;
            zl::WidePlan *plan = zl::WidePlanOf(scaler);
            if (p.wide != nullptr && plan == nullptr) {
                EndScaleScanline(scaler);
                continue;
            }
            widePlans += p.wide != nullptr;
            keepingPlans += p.wide != nullptr && plan->cacheLines;
            halvingPlans += p.wide != nullptr && plan->halves;
            // The rows are copies in a pool of two lines reused in turn, as a
            // host's or the scaler's own buffers are: same addresses, new pixels.
            std::vector<uint32_t> pool(2 * static_cast<size_t>(sw));
            for (const auto &part : parts) {
                const int32_t first = part[0], n = part[1];
                // A partial line's rows start at its first column's source pixel.
                const int32_t shift = zl::SourceStart(horizontal, dw, first);
                int32_t top = 0;
                for (int32_t y = 0; y < dh; ++y) {
                    const ScaleAxisEntry &v = vertical[y + 1];
                    std::vector<const uint32_t *> rows, pooled;
                    for (int32_t k = 0; k < v.wholeCount + 2; ++k) {
                        const int32_t line = top + k < sh ? top + k : sh - 1;  // rows past the end are never read
                        rows.push_back(&image[static_cast<size_t>(line) * sw + shift]);
                        uint32_t *copy = &pool[static_cast<size_t>(line % 2) * sw];
                        std::copy_n(&image[static_cast<size_t>(line) * sw], sw, copy);
                        pooled.push_back(copy + shift);
                    }
                    const bool fromPool = v.wholeCount <= 0;  // two lines at most
                    const zl::LineFootprint footprint{rows.data(), &v, vertical[0].leadWeight};
                    const zl::LineFootprint fed{fromPool ? pooled.data() : rows.data(), &v, vertical[0].leadWeight};
                    std::vector<uint32_t> plain(static_cast<size_t>(n) + 1, 1), fast(static_cast<size_t>(n) + 1, 2);
                    zl::ProduceLinePlain(plain.data(), footprint, horizontal, first, n);
                    if (p.wide == nullptr) {
                        zl::ProduceLine(fast.data(), fed, horizontal, first, n);
                    } else {
                        zl::ProduceLineWide(*p.wide, *plan, fast.data(), fed, first, n);
                    }
                    ASSERT_EQ(fast[n], 2u) << p.name << " wrote past the line";
                    for (int32_t j = 0; j < n; ++j)
                        ASSERT_EQ(plain[j], fast[j]) << std::hex << p.name << ": line " << y << " from column " << first
                                                     << " pixel " << j;
                    top += v.advance;
                }
            }
            EndScaleScanline(scaler);
        }
    }
    const int32_t wideProducers = static_cast<int32_t>(producers.size()) - 1;
    EXPECT_GE(widePlans, 21 * wideProducers) << "the wide producers must see most geometries";
    EXPECT_GE(keepingPlans, 10 * wideProducers) << "the enlargements must keep their lines";
    EXPECT_GE(halvingPlans, 4 * wideProducers) << "the halvings must take the integer route";
}

}  // namespace
