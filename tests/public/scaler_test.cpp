// The scanline scaler through its exports: axis tables, rectangle conversion,
// pass control, the feeding protocol of both modes and the pixel rounding.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Quoravel.h"
#include "ZantrelLayer.h"
#include "test_support.h"

namespace {

using zltest::Mix;

struct Entry {
    int32_t wholeCount;
    int32_t advance;
    double lead;
    double trail;
};

struct ScalerDeleter {
    void operator()(ScanlineScaler *s) const { EndScaleScanline(s); }
};
using ScalerRef = std::unique_ptr<ScanlineScaler, ScalerDeleter>;

ScalerRef MakeScaler(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    return ScalerRef(BeginScaleScanline(sw, sh, dw, dh));
}

// The horizontal table of src -> dst is checked against the expected entries;
// the vertical table of the same sizes must be identical.
void ExpectAxis(int32_t src, int32_t dst, double wholeWeight, const std::vector<Entry> &expected) {
    SCOPED_TRACE(std::to_string(src) + " -> " + std::to_string(dst));
    ScalerRef s = MakeScaler(src, src, dst, dst);
    ASSERT_TRUE(s);
    const ScaleAxis *axes[2] = {s->geometry->horizontal, s->geometry->vertical};
    for (const ScaleAxis *axis : axes) {
        EXPECT_DOUBLE_EQ(axis[0].leadWeight, wholeWeight);
        EXPECT_EQ(axis[0].wholeCount, 0);
        EXPECT_EQ(axis[0].advance, 0);
        EXPECT_EQ(axis[0].trailWeight, 0.0);
        ASSERT_EQ(static_cast<int32_t>(expected.size()), dst);
        int32_t advances = 0;
        for (int32_t i = 0; i < dst; ++i) {
            const ScaleAxisEntry &e = axis[i + 1];
            EXPECT_EQ(e.wholeCount, expected[i].wholeCount) << "entry " << i;
            EXPECT_EQ(e.advance, expected[i].advance) << "entry " << i;
            EXPECT_DOUBLE_EQ(e.leadWeight, expected[i].lead) << "entry " << i;
            EXPECT_DOUBLE_EQ(e.trailWeight, expected[i].trail) << "entry " << i;
            advances += e.advance;
        }
        if (src >= dst) {
            EXPECT_EQ(advances, src);
        }
    }
}

TEST(ScaleAxisTables, ReferenceReductions) {
    ExpectAxis(4, 2, 0.5, {{1, 2, 0.5, 0}, {1, 2, 0.5, 0}});
    ExpectAxis(5, 2, 0.4, {{1, 2, 0.4, 0.2}, {2, 3, 0.2, 0}});
    ExpectAxis(7, 3, 3.0 / 7, {{1, 2, 3.0 / 7, 1.0 / 7}, {1, 2, 2.0 / 7, 2.0 / 7}, {2, 3, 1.0 / 7, 0}});
    ExpectAxis(3, 3, 1.0, {{0, 1, 1.0, 0}, {0, 1, 1.0, 0}, {0, 1, 1.0, 0}});
    ExpectAxis(10, 4, 0.4, {{1, 2, 0.4, 0.2}, {2, 3, 0.2, 0}, {1, 2, 0.4, 0.2}, {2, 3, 0.2, 0}});
}

TEST(ScaleAxisTables, ReferenceEnlargements) {
    ExpectAxis(2, 3, 0, {{-1, 0, 1.0, 0}, {0, 1, 1.0 / 3, 2.0 / 3}, {-1, 1, 1.0, 0}});
    ExpectAxis(2, 4, 0, {{-1, 0, 1.0, 0}, {0, 0, 0.75, 0.25}, {0, 1, 0.25, 0.75}, {-1, 0, 1.0, 0}});
    ExpectAxis(1, 3, 0, std::vector<Entry>(3, Entry{-1, 0, 1.0, 0}));
    ExpectAxis(1, 6, 0, std::vector<Entry>(6, Entry{-1, 0, 1.0, 0}));
    // With two pixels the phase reaches the destination size at the last one.
    ExpectAxis(1, 2, 0, {{-1, 0, 1.0, 0}, {-1, 1, 1.0, 0}});
}

TEST(ScaleAxisTables, ReductionWeightsSumToOneAndEndWithoutTrail) {
    const int32_t pairs[][2] = {{1000, 999}, {1920, 1280}, {1080, 720}, {13, 5}, {7, 1}};
    for (const auto &p : pairs) {
        ScalerRef s = MakeScaler(p[0], 1, p[1], 1);
        ASSERT_TRUE(s);
        const ScaleAxis *h = s->geometry->horizontal;
        for (int32_t i = 0; i < p[1]; ++i) {
            const ScaleAxisEntry &e = h[i + 1];
            double sum = e.leadWeight + e.wholeCount * h[0].leadWeight + (e.wholeCount >= 0 ? e.trailWeight : 0);
            EXPECT_NEAR(sum, 1.0, 1e-12) << p[0] << " -> " << p[1] << " entry " << i;
        }
        EXPECT_EQ(h[p[1]].trailWeight, 0.0);
    }
}

TEST(BeginScaleScanline, RefusesBadAndOversizedSizes) {
    EXPECT_EQ(BeginScaleScanline(0, 1, 1, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, -1, 1, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 1, 0, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 1, 1, -5), nullptr);
    // srcWidth * 4 does not fit in 32 bits.
    EXPECT_EQ(BeginScaleScanline(0x40000000, 1, 1, 1), nullptr);
    // A table of dstSize + 1 entries of 24 bytes does not fit in 32 bits.
    EXPECT_EQ(BeginScaleScanline(1, 1, 0x7FFFFFFF, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 1, 1, 178956970), nullptr);
}

// A tall source over a short destination needs ceil(srcHeight / dstHeight) + 1
// line buffers of srcWidth * 4 bytes each; their total must fit in 32 bits
// too, else the scaler would hold more than memory can address (and
// INT_MAX lines to one would overflow the buffer count).
TEST(BeginScaleScanline, RefusesLineBuffersPastThirtyTwoBits) {
    EXPECT_EQ(BeginScaleScanline(1, 0x7FFFFFFF, 1, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 0x7FFFFFFF, 1, 2), nullptr);
    // 4 lines of 0xFFFFFFFC bytes.
    EXPECT_EQ(BeginScaleScanline(0x3FFFFFFF, 3, 1, 1), nullptr);
    // 1024 lines of 4 MiB are 2^32 bytes, one byte too many; with 1023 lines
    // (srcHeight 1022) the count fits, though a 32-bit process could not
    // allocate it, so only the refusal is checked here.
    EXPECT_EQ(BeginScaleScanline(0x100000, 1023, 7, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(0x100000, 2046, 7, 2), nullptr);
    // Lines of 4 bytes: 0x3FFFFFFF buffers fit, but not their row-pointer
    // array of one address more.
    EXPECT_EQ(BeginScaleScanline(1, 0x3FFFFFFE, 1, 1), nullptr);
}

TEST(BeginScaleScanline, SetsUpLinesAndPassState) {
    ScalerRef one = MakeScaler(1, 1, 1, 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->lineCount, 2);
    EXPECT_EQ(one->valid, 1);
    EXPECT_EQ(one->lineBytes, 4u);

    ScalerRef s = MakeScaler(7, 10, 3, 4);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lineCount, 4);  // largest vertical whole count (2) + 2
    EXPECT_EQ(s->lineBytes, 28u);
    EXPECT_EQ(s->dstWidth, 3);
    EXPECT_EQ(s->dstHeight, 4);
    EXPECT_EQ(s->columnCount, 3);
    EXPECT_EQ(s->currentLine, 0);
    EXPECT_EQ(s->geometry->srcWidth, 7);
    EXPECT_EQ(s->geometry->srcHeight, 10);
    EXPECT_EQ(s->geometry->dstWidth, 3);
    EXPECT_EQ(s->geometry->dstHeight, 4);
    for (int32_t i = 0; i < s->lineCount; ++i) {
        ASSERT_NE(s->lineBuffers[i], nullptr);
        for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(s->lineBuffers[i][x], 0u);
    }
    EXPECT_EQ(GetBufferScaleScanline(s.get()), s->lineBuffers[0]);

    EXPECT_EQ(EndScaleScanline(nullptr), 0);
    EXPECT_EQ(GetBufferScaleScanline(nullptr), nullptr);
}

TEST(ConvertRectangleScaleScanline, MapsDestinationToSourceRectangles) {
    ScalerRef reduce = MakeScaler(4, 4, 2, 2);
    ASSERT_TRUE(reduce);
    LayerRect r{0, 0, 2, 2};
    EXPECT_EQ(ConvertRectangleScaleScanline(reduce.get(), &r), 1);
    zltest::ExpectRect(r, 0, 0, 5, 5);
    r = LayerRect{1, 1, 1, 7};  // right and bottom past the size count every entry
    ConvertRectangleScaleScanline(reduce.get(), &r);
    zltest::ExpectRect(r, 2, 2, 3, 5);

    ScalerRef enlarge = MakeScaler(2, 2, 4, 4);
    ASSERT_TRUE(enlarge);
    r = LayerRect{0, 0, 2, 4};
    ConvertRectangleScaleScanline(enlarge.get(), &r);
    zltest::ExpectRect(r, 0, 0, 1, 2);
    r = LayerRect{0, 0, 4, 2};
    ConvertRectangleScaleScanline(enlarge.get(), &r);
    zltest::ExpectRect(r, 0, 0, 2, 1);

    r = LayerRect{-3, 0, 0, -9};
    ConvertRectangleScaleScanline(reduce.get(), &r);
    zltest::ExpectRect(r, 0, 0, 1, 1);

    EXPECT_EQ(ConvertRectangleScaleScanline(nullptr, &r), 0);
    EXPECT_EQ(ConvertRectangleScaleScanline(reduce.get(), nullptr), 0);
}

TEST(OffsetScaleScanline, AcceptsTheEdgesAndRefusesPastThem) {
    ScalerRef s = MakeScaler(8, 8, 4, 4);
    ASSERT_TRUE(s);
    EXPECT_EQ(OffsetScaleScanline(nullptr, 0, 0, 1), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), -1, 0, 1), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 0, -1, 1), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 5, 0, 0), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 2, 0, 3), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 1, 0, 0x7FFFFFFF), 0);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 0, 5, 1), 0);
    // Nothing changed by the refusals.
    EXPECT_EQ(s->firstColumn, 0);
    EXPECT_EQ(s->columnCount, 4);
    EXPECT_EQ(s->currentLine, 0);

    EXPECT_EQ(OffsetScaleScanline(s.get(), 4, 1, 0), 1);
    EXPECT_EQ(s->firstColumn, 4);
    EXPECT_EQ(s->columnCount, 0);
    EXPECT_EQ(s->currentLine, 1);
    EXPECT_EQ(OffsetScaleScanline(s.get(), 1, 4, 3), 1);
    uint32_t row[8] = {};
    EXPECT_EQ(ScaleScanline(row, row, s.get()), 0);
    EXPECT_EQ(s->outputReady, 0);
    EXPECT_EQ(s->needInput, 0);
}

TEST(ScaleScanline, RefusesNullArguments) {
    ScalerRef s = MakeScaler(2, 2, 2, 2);
    ASSERT_TRUE(s);
    uint32_t row[2] = {0xFF000001u, 0xFF000002u};
    EXPECT_EQ(ScaleScanline(nullptr, row, s.get()), 0);
    EXPECT_EQ(ScaleScanline(row, row, nullptr), 0);
    EXPECT_EQ(s->currentLine, 0);
    EXPECT_EQ(s->bufferedLines, 0);
}

// One call of a copy-mode pass: the flags after it, the source line passed
// and whether a line came out.
struct Step {
    int32_t result;
    int32_t outputReady;
    int32_t needInput;
    int32_t sourceLine;
};

// Drives a copy-mode pass over a one-column image whose line y holds
// `lines[y]`, and returns the calls and the produced column.
std::vector<Step> DriveOneColumn(ScanlineScaler *s, const std::vector<uint32_t> &lines, std::vector<uint32_t> &out) {
    std::vector<Step> steps;
    size_t y = 0;
    uint32_t dst = 0xDEADBEEFu;
    for (int guard = 0; guard < 100; ++guard) {
        uint32_t src = lines.at(y);
        dst = 0xDEADBEEFu;
        int32_t result = ScaleScanline(&dst, &src, s);
        steps.push_back({result, s->outputReady, s->needInput, static_cast<int32_t>(y)});
        if (s->outputReady) {
            out.push_back(dst);
        } else {
            EXPECT_EQ(dst, 0xDEADBEEFu) << "a call that only keeps a line writes nothing";
        }
        if (s->needInput) ++y;
        if (!s->outputReady && !s->needInput) break;
    }
    return steps;
}

uint32_t Opaque(uint32_t blue) { return 0xFF000000u | blue; }

TEST(ScaleScanline, FiveLinesToTwoFollowTheTrace) {
    ScalerRef s = MakeScaler(1, 5, 1, 2);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lineCount, 4);
    std::vector<uint32_t> lines = {Opaque(10), Opaque(20), Opaque(40), Opaque(80), Opaque(160)};
    std::vector<uint32_t> out;
    std::vector<Step> steps = DriveOneColumn(s.get(), lines, out);
    std::vector<Step> expected = {
        {1, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 0, 2},  // L0, L1 kept; L2 completes line 0
        {1, 0, 1, 2}, {1, 0, 1, 3}, {1, 1, 0, 4},  // L2 again and L3 kept; L4 completes line 1
        {0, 0, 0, 4},
    };
    ASSERT_EQ(steps.size(), expected.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].result, expected[i].result) << "call " << i;
        EXPECT_EQ(steps[i].outputReady, expected[i].outputReady) << "call " << i;
        EXPECT_EQ(steps[i].needInput, expected[i].needInput) << "call " << i;
        EXPECT_EQ(steps[i].sourceLine, expected[i].sourceLine) << "call " << i;
    }
    // 0.4 * 10 + 0.4 * 20 + 0.2 * 40 = 20; 0.2 * 40 + 0.4 * 80 + 0.4 * 160 = 104.
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], Opaque(20));
    EXPECT_EQ(out[1], Opaque(104));
}

TEST(ScaleScanline, TwoLinesToFourFollowTheTrace) {
    ScalerRef s = MakeScaler(1, 2, 1, 4);
    ASSERT_TRUE(s);
    std::vector<uint32_t> lines = {Opaque(0), Opaque(200)};
    std::vector<uint32_t> out;
    std::vector<Step> steps = DriveOneColumn(s.get(), lines, out);
    std::vector<Step> expected = {
        {1, 1, 0, 0},  // L0 gives line 0 at once
        {1, 0, 1, 0},  // L0 again is kept
        {1, 1, 0, 1},  // L1 gives line 1
        {1, 1, 0, 1},  // L1 again gives line 2
        {1, 1, 0, 1},  // L1 again gives line 3
        {0, 0, 0, 1},
    };
    ASSERT_EQ(steps.size(), expected.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].result, expected[i].result) << "call " << i;
        EXPECT_EQ(steps[i].outputReady, expected[i].outputReady) << "call " << i;
        EXPECT_EQ(steps[i].needInput, expected[i].needInput) << "call " << i;
        EXPECT_EQ(steps[i].sourceLine, expected[i].sourceLine) << "call " << i;
    }
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], Opaque(0));
    EXPECT_EQ(out[1], Opaque(50));
    EXPECT_EQ(out[2], Opaque(150));
    EXPECT_EQ(out[3], Opaque(200));
}

// A whole image scaled in copy mode with the driving loop, checking the
// protocol: source lines fed in order, each at least once, never past the
// last; every destination line produced exactly once. oneRow: the host
// copies every source line into one buffer of its own and passes that.
std::vector<uint32_t> ScaleCopyMode(const std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
                                    bool oneRow = false) {
    ScalerRef s = MakeScaler(sw, sh, dw, dh);
    EXPECT_TRUE(s);
    if (!s) return {};
    std::vector<uint32_t> dst(static_cast<size_t>(dw) * dh + 1, 0xDEADBEEFu), hostRow(static_cast<size_t>(sw));
    std::vector<int> fed(sh, 0);
    int32_t y = 0, line = 0;
    for (;;) {
        EXPECT_LT(y, sh) << "read past the last source line";
        EXPECT_LE(line, dh);
        if (y >= sh || line > dh) break;
        ++fed[y];
        const uint32_t *srcRow = &src[static_cast<size_t>(y) * sw];
        if (oneRow) {
            std::copy_n(srcRow, sw, hostRow.begin());
            srcRow = hostRow.data();
        }
        ScaleScanline(&dst[static_cast<size_t>(line) * dw], srcRow, s.get());
        if (s->needInput) ++y;
        if (s->outputReady) ++line;
        if (!s->needInput && !s->outputReady) break;
    }
    EXPECT_EQ(line, dh);
    for (int32_t i = 0; i < sh; ++i) EXPECT_GE(fed[i], 1) << "source line " << i << " never fed";
    EXPECT_EQ(dst.back(), 0xDEADBEEFu);
    dst.pop_back();
    return dst;
}

// The same in in-place mode: lines written into the scaler's buffer.
std::vector<uint32_t> ScaleInPlace(const std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    ScalerRef s = MakeScaler(sw, sh, dw, dh);
    EXPECT_TRUE(s);
    if (!s) return {};
    std::vector<uint32_t> dst(static_cast<size_t>(dw) * dh, 0xDEADBEEFu);
    int32_t y = 0, line = 0;
    bool due = true;
    for (int guard = 0; guard < 4 * (sh + dh) + 8; ++guard) {
        if (due) {
            EXPECT_LT(y, sh) << "asked for a line past the last";
            if (y >= sh) break;
            std::memcpy(GetBufferScaleScanline(s.get()), &src[static_cast<size_t>(y) * sw], 4u * sw);
            ++y;
        }
        uint32_t sink = 0;
        uint32_t *row = line < dh ? &dst[static_cast<size_t>(line) * dw] : &sink;
        ScaleScanline(row, nullptr, s.get());
        due = s->needInput != 0;
        if (s->outputReady) ++line;
        if (!s->needInput && !s->outputReady) break;
    }
    EXPECT_EQ(line, dh);
    EXPECT_EQ(y, sh) << "every source line is written once";
    return dst;
}

std::vector<uint32_t> RandomImage(int32_t w, int32_t h, uint32_t seed) {
    static const uint32_t alphas[] = {0, 255, 1, 128, 77, 254, 255, 0, 200};
    std::vector<uint32_t> img(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < img.size(); ++i) {
        uint32_t m = Mix(static_cast<uint32_t>(i) * 2654435761u + seed);
        img[i] = alphas[m % 9] << 24 | (m >> 8 & 0xFFFFFF);
    }
    return img;
}

const int32_t kSizePairs[][4] = {
    {5, 5, 2, 2}, {2, 2, 4, 4}, {7, 10, 3, 4}, {3, 4, 7, 9}, {9, 3, 4, 8}, {1, 1, 3, 3},
    {6, 6, 6, 6}, {13, 11, 13, 5}, {4, 7, 4, 7}, {16, 9, 5, 1}, {1, 5, 4, 2}, {2, 2, 3, 3},
    {18, 6, 9, 3}, {6, 5, 13, 12},
};

TEST(ScaleScanline, CopyModeAndInPlaceModeGiveTheSamePixels) {
    for (const auto &p : kSizePairs) {
        SCOPED_TRACE(::testing::Message() << p[0] << "x" << p[1] << " -> " << p[2] << "x" << p[3]);
        std::vector<uint32_t> src = RandomImage(p[0], p[1], 7);
        std::vector<uint32_t> copied = ScaleCopyMode(src, p[0], p[1], p[2], p[3]);
        std::vector<uint32_t> inPlace = ScaleInPlace(src, p[0], p[1], p[2], p[3]);
        EXPECT_EQ(copied, inPlace);
        EXPECT_EQ(ScaleCopyMode(src, p[0], p[1], p[2], p[3], true), copied) << "every line fed from one host buffer";
    }
}

TEST(ScaleScanline, EqualSizesReproduceTheSourceExceptTransparentPixels) {
    std::vector<uint32_t> src = RandomImage(9, 7, 3);
    std::vector<uint32_t> out = ScaleCopyMode(src, 9, 7, 9, 7);
    ASSERT_EQ(out.size(), src.size());
    for (size_t i = 0; i < src.size(); ++i) {
        uint32_t expected = (src[i] >> 24) == 0 ? 0u : src[i];
        EXPECT_EQ(out[i], expected) << "pixel " << i;
    }
}

TEST(ScaleScanline, OnePixelFillsThreeByThree) {
    for (uint32_t pixel : {0x80123456u, 0x01FFFFFFu, 0xFFABCDEFu, 0x00FFFFFFu}) {
        std::vector<uint32_t> out = ScaleCopyMode({pixel}, 1, 1, 3, 3);
        uint32_t expected = (pixel >> 24) == 0 ? 0u : pixel;
        EXPECT_EQ(out, std::vector<uint32_t>(9, expected));
        EXPECT_EQ(ScaleInPlace({pixel}, 1, 1, 3, 3), out);
    }
}

uint32_t ReduceTwoToOne(uint32_t left, uint32_t right) {
    std::vector<uint32_t> out = ScaleCopyMode({left, right}, 2, 1, 1, 1);
    return out.empty() ? 0 : out[0];
}

TEST(ScaleScanline, RoundsToEvenAndDividesByTheRoundedAlpha) {
    // Alpha 127.5 rounds to 128; blue 255 * 127.5 / 128 = 254.004; the
    // transparent pixel's red does not count.
    EXPECT_EQ(ReduceTwoToOne(0xFF0000FFu, 0x00FF0000u), 0x800000FEu);
    EXPECT_EQ(ReduceTwoToOne(0xFF000001u, 0xFF000002u), 0xFF000002u);  // 1.5 -> 2
    EXPECT_EQ(ReduceTwoToOne(0xFF000002u, 0xFF000003u), 0xFF000002u);  // 2.5 -> 2
    EXPECT_EQ(ReduceTwoToOne(0xFF000300u, 0xFF000400u), 0xFF000400u);  // green 3.5 -> 4
    EXPECT_EQ(ReduceTwoToOne(0xFF040000u, 0xFF050000u), 0xFF040000u);  // red 4.5 -> 4
    EXPECT_EQ(ReduceTwoToOne(0x01000000u, 0x00000000u), 0x00000000u);  // alpha 0.5 -> 0
    // Alpha 1.5 -> 2, and the colour sums (1.5 x colour) divided by 2, not 1.5.
    EXPECT_EQ(ReduceTwoToOne(0x03102030u, 0x00FFFFFFu), 0x020C1824u);
    // Unequal alphas: (10 * 255 * 0.5 + 250 * 1 * 0.5) / 128 = 10.93 -> 11.
    EXPECT_EQ(ReduceTwoToOne(0xFF00000Au, 0x010000FAu), 0x8000000Bu);
}

TEST(ScaleScanline, ReductionIsTheAreaAverage) {
    // 3 -> 2 opaque: weights (2/3, 1/3) and (1/3, 2/3).
    std::vector<uint32_t> out = ScaleCopyMode({Opaque(0), Opaque(90), Opaque(210)}, 3, 1, 2, 1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], Opaque(30));
    EXPECT_EQ(out[1], Opaque(170));
    // 2 x 2 -> 1 x 1 takes all four corners (the corner tap gets the rest).
    out = ScaleCopyMode({Opaque(10), Opaque(20), Opaque(30), Opaque(44)}, 2, 2, 1, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], Opaque(26));
}

TEST(ScaleScanline, ZeroColumnsStillCountTheLine) {
    ScalerRef s = MakeScaler(2, 2, 2, 2);
    ASSERT_TRUE(s);
    ASSERT_EQ(OffsetScaleScanline(s.get(), 2, 1, 0), 1);
    uint32_t src[2] = {Opaque(1), Opaque(2)};
    uint32_t dst[2] = {7, 7};
    // Line 1 is the last: it needs no second line.
    EXPECT_EQ(ScaleScanline(dst, src, s.get()), 1);
    EXPECT_EQ(s->outputReady, 1);
    EXPECT_EQ(s->currentLine, 2);
    EXPECT_EQ(dst[0], 7u);
    EXPECT_EQ(ScaleScanline(dst, src, s.get()), 0);
}

// A partial pass over columns [c0, c0 + n) and lines [l0, dh) gives exactly
// those pixels of the full pass.
TEST(ScaleScanline, PartialPassMatchesTheFullPass) {
    for (const auto &p : kSizePairs) {
        int32_t sw = p[0], sh = p[1], dw = p[2], dh = p[3];
        SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        std::vector<uint32_t> src = RandomImage(sw, sh, 11);
        std::vector<uint32_t> full = ScaleCopyMode(src, sw, sh, dw, dh);
        for (int32_t c0 = 0; c0 < dw; c0 += 2) {
            for (int32_t l0 = 0; l0 < dh; l0 += 2) {
                int32_t n = dw - c0 > 1 ? dw - c0 - 1 : dw - c0;
                ScalerRef s = MakeScaler(sw, sh, dw, dh);
                ASSERT_TRUE(s);
                ASSERT_EQ(OffsetScaleScanline(s.get(), c0, l0, n), 1);
                LayerRect r{c0, l0, c0 + n, dh};
                ConvertRectangleScaleScanline(s.get(), &r);
                // Source lines start at column r.left; copy mode reads lineBytes
                // from each, so the lines are padded to the full width.
                std::vector<uint32_t> shifted(static_cast<size_t>(sw) * sh, 0);
                for (int32_t y = 0; y < sh; ++y)
                    for (int32_t x = r.left; x < sw; ++x)
                        shifted[static_cast<size_t>(y) * sw + (x - r.left)] = src[static_cast<size_t>(y) * sw + x];
                int32_t y = r.top, line = l0;
                std::vector<uint32_t> row(dw + 1, 0xDEADBEEFu);
                for (int guard = 0; guard < 4 * (sh + dh); ++guard) {
                    ASSERT_LT(y, sh);
                    std::fill(row.begin(), row.end(), 0xDEADBEEFu);
                    ScaleScanline(row.data(), &shifted[static_cast<size_t>(y) * sw], s.get());
                    if (s->outputReady) {
                        for (int32_t j = 0; j < n; ++j)
                            EXPECT_EQ(row[j], full[static_cast<size_t>(line) * dw + c0 + j])
                                << "line " << line << " column " << c0 + j;
                        EXPECT_EQ(row[n], 0xDEADBEEFu);
                        ++line;
                    }
                    if (s->needInput) ++y;
                    if (!s->needInput && !s->outputReady) break;
                }
                EXPECT_EQ(line, dh);
            }
        }
    }
}

// The same bits in every build: a digest of several scalings, the same for
// the native library and the 32-bit DLL.
TEST(ScaleScanline, GivesTheSameBitsInEveryBuild) {
    const int32_t pairs[][4] = {{37, 23, 16, 41}, {64, 48, 21, 13}, {5, 9, 33, 17}, {100, 3, 7, 3}};
    uint64_t digest = 1469598103934665603ull;
    for (const auto &p : pairs) {
        for (uint32_t pixel : ScaleCopyMode(RandomImage(p[0], p[1], 21), p[0], p[1], p[2], p[3])) {
            digest = (digest ^ pixel) * 1099511628211ull;
        }
    }
    EXPECT_EQ(digest, 10181107693566036461ull);
}

// Whatever floating-point environment the host has set, every export that
// computes in floating point gives the pixels of the default environment and
// hands the host's environment back as it was, flags included.
TEST(ScaleScanline, PixelsDoNotDependOnTheHostFpEnvironmentWhichIsGivenBack) {
    struct HostEnvironment {
        const char *name;
        uint16_t x87Control;
        uint32_t mxcsr;
    };
    const HostEnvironment environments[] = {
        {"downward", 0x077F, 0x3F80},
        {"upward", 0x0B7F, 0x5F80},
        {"toward zero", 0x0F7F, 0x7F80},
        {"flush to zero, denormals are zero", 0x037F, 0x9FC0},
        // Invalid, zero-divide and overflow unmasked, 24-bit x87 precision,
        // the SSE inexact flag already raised.
        {"unmasked exceptions", 0x0072, 0x1920},
    };
    const std::vector<uint32_t> opaque(9, 0xFF102030u), source = RandomImage(31, 17, 5);
    using Operation = std::vector<uint32_t> (*)(const std::vector<uint32_t> &, const std::vector<uint32_t> &);
    const std::pair<const char *, Operation> operations[] = {
        {"ScaleScanline, opaque 3 to 2",
         [](const std::vector<uint32_t> &o, const std::vector<uint32_t> &) { return ScaleCopyMode(o, 3, 3, 2, 2); }},
        {"ScaleScanline, reducing and enlarging",
         [](const std::vector<uint32_t> &, const std::vector<uint32_t> &src) {
             std::vector<uint32_t> out = ScaleCopyMode(src, 31, 17, 12, 40);
             std::vector<uint32_t> up = ScaleCopyMode(src, 31, 17, 45, 5);
             out.insert(out.end(), up.begin(), up.end());
             return out;
         }},
        {"ResizeLayerCorrect",
         [](const std::vector<uint32_t> &, const std::vector<uint32_t> &src) {
             std::vector<uint32_t> from(src);
             std::vector<uint32_t> to(29 * 11);
             Layer *f = CreateCompatibleLayer(from.data(), 31, 17, 31 * 4);
             Layer *t = CreateCompatibleLayer(to.data(), 29, 11, 29 * 4);
             EXPECT_EQ(ResizeLayerCorrect(t, f), 1);
             DeleteLayer(f);
             DeleteLayer(t);
             return to;
         }},
        {"ExportedQV_CopyScaleConvert",
         [](const std::vector<uint32_t> &, const std::vector<uint32_t> &src) {
             std::vector<uint32_t> to(13 * 7);
             EXPECT_EQ(ExportedQV_CopyScaleConvert(src.data(), 31 * 4, QV_FORMAT_ARGB, 0, 0, 31, 17, to.data(), 13 * 4,
                                                   QV_FORMAT_ARGB, 0, 0, 13, 7, 0),
                       1);
             return to;
         }},
    };
    const zltest::FpState original = zltest::ReadFpState();
    for (const auto &operation : operations) {
        const std::vector<uint32_t> expected = operation.second(opaque, source);
        for (const HostEnvironment &e : environments) {
            SCOPED_TRACE(std::string(operation.first) + " in " + e.name);
            zltest::WriteFpState(e.x87Control, e.mxcsr);
            const std::vector<uint32_t> actual = operation.second(opaque, source);
            const zltest::FpState after = zltest::ReadFpState();
            zltest::WriteFpState(original.x87Control, original.mxcsr);
            EXPECT_EQ(actual, expected);
            EXPECT_EQ(zltest::Hex(after.x87Control), zltest::Hex(e.x87Control));
            EXPECT_EQ(zltest::Hex(after.mxcsr), zltest::Hex(e.mxcsr));
            EXPECT_EQ(after.x87Status & 0x3F, 0) << "no x87 flag raised for the host";
        }
    }
}

}  // namespace
