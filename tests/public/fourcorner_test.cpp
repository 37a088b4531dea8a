// Four-corner mapping through the exports: the reported rectangle, what is
// drawn where, and the caller's floating-point environment.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "test_support.h"

namespace {

using zltest::ExpectRect;
using zltest::FpState;
using zltest::HostCanvas;
using zltest::Hex;
using zltest::Mix;
using zltest::ReadFpState;
using zltest::WriteFpState;

struct Quad {
    double x[4];
    double y[4];
};

Quad Rect(double left, double top, double right, double bottom) {
    return Quad{{left, right, right, left}, {top, top, bottom, bottom}};
}

// Pixels with every alpha from 1 up: a zero-alpha source pixel is never
// stored, so it could not be seen in the output.
void FillPattern(HostCanvas &canvas, uint32_t seed) {
    for (int32_t y = 0; y < canvas.height(); ++y)
        for (int32_t x = 0; x < canvas.width(); ++x) {
            uint32_t v = Mix(static_cast<uint32_t>(y * 1000 + x) + seed);
            canvas.at(x, y) = (v & 0x00FFFFFFu) | ((1u + (v >> 24) % 255u) << 24);
        }
}

int32_t Map(HostCanvas &destination, HostCanvas &source, const Quad &q) {
    return FourCornerMapLayer(destination.layer(), source.layer(), q.x, q.y);
}

// Signed distance of (px, py) inside a convex quad (positive inside), either
// winding.
double InsideDistance(const Quad &q, double px, double py) {
    double area = 0;
    for (int i = 0; i < 4; ++i) {
        int j = (i + 1) % 4;
        area += q.x[i] * q.y[j] - q.x[j] * q.y[i];
    }
    double sign = area > 0 ? 1.0 : -1.0;
    double smallest = 1e300;
    for (int i = 0; i < 4; ++i) {
        int j = (i + 1) % 4;
        double ex = q.x[j] - q.x[i], ey = q.y[j] - q.y[i];
        double d = sign * (ex * (py - q.y[i]) - ey * (px - q.x[i])) / std::sqrt(ex * ex + ey * ey);
        smallest = std::min(smallest, d);
    }
    return smallest;
}

TEST(TestFourCornerTest, ReportsTheCoveredRectangleRoundedTowardZero) {
    LayerRect rect;
    Quad a{{2.5, 7.5, 7.5, 2.5}, {1.2, 1.2, 3.9, 3.9}};
    EXPECT_EQ(TestFourCorner(a.x, a.y, &rect), 1);
    ExpectRect(rect, 2, 1, 8, 4);

    Quad b{{-3.7, 5.2, 5.2, -3.7}, {0, 0, 4, 4}};
    EXPECT_EQ(TestFourCorner(b.x, b.y, &rect), 1);
    EXPECT_EQ(rect.left, -3);
    EXPECT_EQ(rect.right, 6);

    Quad exact = Rect(0, 0, 40, 30);
    EXPECT_EQ(TestFourCorner(exact.x, exact.y, &rect), 1);
    ExpectRect(rect, 0, 0, 41, 31);

    Quad slightlyNegative{{-0.9, -0.1, -0.1, -0.9}, {0, 0, 1, 1}};
    EXPECT_EQ(TestFourCorner(slightlyNegative.x, slightlyNegative.y, &rect), 1);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.right, 0);
}

TEST(TestFourCornerTest, ValidOnlyForConvexCornerOrders) {
    LayerRect rect;
    Quad convex{{10, 90, 80, 5}, {10, 20, 70, 90}};
    EXPECT_EQ(TestFourCorner(convex.x, convex.y, &rect), 1);
    ExpectRect(rect, 5, 10, 91, 91);
    Quad otherWinding{{10, 5, 80, 90}, {10, 90, 70, 20}};
    EXPECT_EQ(TestFourCorner(otherWinding.x, otherWinding.y, &rect), 1);

    Quad bowTie{{10, 90, 5, 80}, {10, 20, 90, 70}};
    rect = LayerRect{9, 9, 9, 9};
    EXPECT_EQ(TestFourCorner(bowTie.x, bowTie.y, &rect), 0);
    ExpectRect(rect, 5, 10, 91, 91);  // reported all the same

    Quad concave{{0, 100, 30, 0}, {0, 0, 30, 100}};
    EXPECT_EQ(TestFourCorner(concave.x, concave.y, &rect), 0);
    ExpectRect(rect, 0, 0, 101, 101);

    Quad notFinite{{0, NAN, 10, 0}, {0, 0, 10, 10}};
    EXPECT_EQ(TestFourCorner(notFinite.x, notFinite.y, &rect), 0);
    Quad huge{{-1e300, 1e300, 1e300, -1e300}, {0, 0, 10, 10}};
    EXPECT_EQ(TestFourCorner(huge.x, huge.y, &rect), 1);
    EXPECT_EQ(rect.left, INT32_MIN);

    Quad skewed{{0, 10, 15, 5}, {0, 0, 10, 10}};  // a parallelogram
    EXPECT_EQ(TestFourCorner(skewed.x, skewed.y, &rect), 1);
}

TEST(TestFourCornerTest, RefusesMissingArguments) {
    Quad q = Rect(1, 1, 5, 5);
    LayerRect rect{7, 7, 7, 7};
    EXPECT_EQ(TestFourCorner(nullptr, q.y, &rect), 0);
    ExpectRect(rect, 0, 0, 0, 0);
    rect = LayerRect{7, 7, 7, 7};
    EXPECT_EQ(TestFourCorner(q.x, nullptr, &rect), 0);
    ExpectRect(rect, 0, 0, 0, 0);
    EXPECT_EQ(TestFourCorner(q.x, q.y, nullptr), 0);
}

// Exact scales reproduce the source for every size: the identity, a
// whole-pixel translation (drawn relative to the reported rectangle), the
// mirrors, the half turn and both quarter turns, each a matrix taking source
// offsets to destination offsets, placed at (3, 2).
TEST(FourCornerMapTest, ExactScalesReproduceTheSourceForEverySize) {
    const int32_t turns[][4] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {1, 0, 0, -1}, {-1, 0, 0, -1}, {0, -1, 1, 0}, {0, 1, -1, 0}};
    for (int32_t w = 1; w <= 24; ++w)
        for (int32_t h = 1; h <= 24; ++h) {
            HostCanvas source(w, h);
            FillPattern(source, static_cast<uint32_t>(w * 100 + h));
            for (const auto &m : turns) {
                // Destination point of source point (sx, sy), shifted so the image starts at (3, 2).
                double shiftX = 3 - std::min(0, m[0] * w) - std::min(0, m[1] * h);
                double shiftY = 2 - std::min(0, m[2] * w) - std::min(0, m[3] * h);
                auto x = [&](double sx, double sy) { return m[0] * sx + m[1] * sy + shiftX; };
                auto y = [&](double sx, double sy) { return m[2] * sx + m[3] * sy + shiftY; };
                Quad q{{x(0, 0), x(w, 0), x(w, h), x(0, h)}, {y(0, 0), y(w, 0), y(w, h), y(0, h)}};
                int32_t size = std::max(w, h) + 2;
                HostCanvas destination(size, size, 0xDEADBEEFu), expected(size, size, 0xDEADBEEFu);
                for (int32_t sy = 0; sy < h; ++sy)  // the pixel each source pixel's centre lands in
                    for (int32_t sx = 0; sx < w; ++sx)
                        expected.at(static_cast<int32_t>(x(sx + 0.5, sy + 0.5)) - 3,
                                    static_cast<int32_t>(y(sx + 0.5, sy + 0.5)) - 2) = source.at(sx, sy);
                ASSERT_EQ(Map(destination, source, q), 1);
                ASSERT_EQ(destination.raw(), expected.raw()) << w << "x" << h << " turn " << m[0] << m[1] << m[2] << m[3];
            }
        }
}

// A convex quad whose best-scoring plan folds: its top edge is vertical, so
// along x source row 0 has no extent while the bottom edge runs leftward.
// The mapping retries with the next plan (4) and draws.
TEST(FourCornerMapTest, RetriesAnotherPlanWhenTheFirstChoiceFolds) {
    HostCanvas source(1, 4, 0xFF336699u);
    HostCanvas destination(21, 2, 0x12345678u);
    Quad q{{0, 0, 1, 20}, {0, 1, 1.5, 0.5}};
    LayerRect rect{};
    ASSERT_EQ(TestFourCorner(q.x, q.y, &rect), 1);
    ExpectRect(rect, 0, 0, 21, 2);
    ASSERT_EQ(Map(destination, source, q), 1);
    // Row 0 is mostly covered from x = 0 to 10.5, where the wedge starts to
    // narrow toward its tip at x = 20; row 1 only left of x = 10.5.
    for (int32_t x = 0; x < 10; ++x) EXPECT_GE(destination.at(x, 0) >> 24, 0xA0u) << x;
    for (int32_t x = 15; x < 21; ++x) EXPECT_EQ(destination.at(x, 1), 0x12345678u) << x;
}

// A trapezoid whose source rows run along its slanted sides: the first
// choice (rows along x) folds for a source taller than wide, and the plan
// tried next must still fill the quad and nothing outside it.
TEST(FourCornerMapTest, RetriedPlanFillsTheQuad) {
    Quad q{{0, 30, 34, 64}, {20, 0, 0, 20}};
    constexpr uint32_t kBackground = 0x22446688u;
    HostCanvas source(64, 128, 0xFF80C040u);
    HostCanvas destination(65, 21, kBackground);
    ASSERT_EQ(Map(destination, source, q), 1);
    int32_t inside = 0;
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 65; ++x) {
            double d = InsideDistance(q, x + 0.5, y + 0.5);
            uint32_t p = destination.at(x, y);
            if (d < -2.0) {
                ASSERT_EQ(p, kBackground) << x << "," << y;
            }
            if (d > 2.5) {
                ASSERT_GE(p >> 24, 0xFCu) << x << "," << y;
                ++inside;
            }
        }
    EXPECT_GT(inside, 300);
}

TEST(FourCornerMapTest, MirroredCornersDrawTheMirrorImage) {
    HostCanvas source(16, 8);
    FillPattern(source, 3);
    HostCanvas horizontal(16, 8), vertical(16, 8), both(16, 8);
    ASSERT_EQ(FourCornerMapLayer(horizontal.layer(), source.layer(), Quad{{16, 0, 0, 16}, {0, 0, 8, 8}}.x,
                                 Quad{{16, 0, 0, 16}, {0, 0, 8, 8}}.y),
              1);
    Quad v{{0, 16, 16, 0}, {8, 8, 0, 0}};
    ASSERT_EQ(Map(vertical, source, v), 1);
    Quad hv{{16, 0, 0, 16}, {8, 8, 0, 0}};
    ASSERT_EQ(Map(both, source, hv), 1);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            ASSERT_EQ(horizontal.at(x, y), source.at(15 - x, y)) << x << "," << y;
            ASSERT_EQ(vertical.at(x, y), source.at(x, 7 - y)) << x << "," << y;
            ASSERT_EQ(both.at(x, y), source.at(15 - x, 7 - y)) << x << "," << y;
        }
}

// A 4 x 1 opaque row drawn half a pixel to the right: the first and the last
// output pixel get only the covered part of the alpha.
TEST(FourCornerMapTest, PartlyCoveredEdgePixelsGetReducedAlpha) {
    HostCanvas source(4, 1, 0xFF336699u);
    HostCanvas destination(6, 1);
    ASSERT_EQ(Map(destination, source, Rect(0.5, 0, 4.5, 1)), 1);
    EXPECT_EQ(Hex(destination.at(0, 0)), Hex(0x80336699u));
    for (int32_t x = 1; x < 4; ++x) EXPECT_EQ(Hex(destination.at(x, 0)), Hex(0xFF336699u));
    EXPECT_EQ(Hex(destination.at(4, 0)), Hex(0x7F336699u));
    EXPECT_EQ(destination.at(5, 0), 0u);
}

// The destination's pixel (0, 0) stands for the rectangle's corner: x from
// 1.2 to 1.8 lands in pixel 0 of a rectangle starting at x = 1.
TEST(FourCornerMapTest, ALineInsideOneOutputPixelStoresOnePixelWithItsCoverage) {
    HostCanvas source(3, 1, 0xFF00FF00u);
    HostCanvas destination(4, 1, 0x12345678u);
    ASSERT_EQ(Map(destination, source, Rect(1.2, 0, 1.8, 1)), 1);
    EXPECT_EQ(Hex(destination.at(0, 0)), Hex(0x9900FF00u));  // 0.6 of 255
    for (int32_t x = 1; x < 4; ++x) EXPECT_EQ(destination.at(x, 0), 0x12345678u);
}

// Enlarged onto whole pixels: every pixel is opaque, and takes the value
// between the two nearest source pixel centres, linear in the distance, held
// beyond the first and last centre (within 3 levels: the axis across the
// first pass's lines may be interpolated twice). Red runs along x and blue along y, so
// each pass is checked on its own channel.
double Between(int32_t i, int32_t sourceSize, int32_t size, int32_t step) {
    double at = std::min(std::max((i + 0.5) * sourceSize / size - 0.5, 0.0), sourceSize - 1.0);
    return at * step;
}

TEST(FourCornerMapTest, EnlargedSamplesSitAtTheirCentresAndTheEdgesHold) {
    struct Case {
        int32_t sw, sh, w, h;
    } cases[] = {{4, 1, 40, 3}, {2, 1, 8, 1}, {1, 4, 3, 20}, {3, 2, 30, 16}, {4, 3, 7, 9}};
    for (const Case &c : cases) {
        HostCanvas source(c.sw, c.sh);
        for (int32_t y = 0; y < c.sh; ++y)
            for (int32_t x = 0; x < c.sw; ++x) source.at(x, y) = 0xFF000000u | (80u * x) << 16 | 60u * y;
        HostCanvas destination(c.w + 1, c.h + 1);
        ASSERT_EQ(Map(destination, source, Rect(0, 0, c.w, c.h)), 1);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                uint32_t p = destination.at(x, y);
                ASSERT_EQ(p >> 24, 255u) << c.sw << "x" << c.sh << " at " << x << "," << y;
                ASSERT_NEAR((p >> 16) & 0xFF, Between(x, c.sw, c.w, 80), 3.0) << c.sw << " at " << x << "," << y;
                ASSERT_NEAR(p & 0xFF, Between(y, c.sh, c.h, 60), 3.0) << c.sh << " at " << x << "," << y;
            }
    }
}

// Any enlargement that fits the destination draws the whole quad.
TEST(FourCornerMapTest, LargeEnlargementsCoverTheWholeQuad) {
    struct Case {
        int32_t sw, sh, w, h;
    } cases[] = {{1, 1, 300, 200}, {2, 2, 600, 600}, {7, 5, 800, 800}};
    for (const Case &c : cases) {
        HostCanvas source(c.sw, c.sh, 0xFF204060u);
        HostCanvas destination(c.w + 1, c.h + 1);
        ASSERT_EQ(Map(destination, source, Rect(0, 0, c.w, c.h)), 1);
        int64_t opaque = 0;
        for (uint32_t p : destination.raw()) opaque += p == 0xFF204060u;
        EXPECT_EQ(opaque, int64_t{c.w} * c.h) << c.sw << "x" << c.sh << " onto " << c.w << "x" << c.h;
    }
}

// The fraction of pixel (px, py) inside a convex quad, from 16 x 16 points.
double Coverage(const Quad &q, int32_t px, int32_t py) {
    int32_t inside = 0;
    for (int32_t i = 0; i < 16; ++i)
        for (int32_t j = 0; j < 16; ++j) inside += InsideDistance(q, px + (i + 0.5) / 16, py + (j + 0.5) / 16) > 0;
    return inside / 256.0;
}

// An opaque source drawn onto quads whose plans meet a pole (a second-pass
// denominator that vanishes inside a line), strong perspective, slanted
// edges across enlarged lines and a sharp corner: the total alpha follows the covered area,
// pixels well inside are opaque, and pixels whose neighbours are all outside
// stay untouched.
TEST(FourCornerMapTest, DrawnAlphaFollowsTheCoverage) {
    struct Case {
        int32_t sw, sh;
        Quad q;
    } cases[] = {
        {9, 5, {{6, 6, 4, 4}, {0, 7, 7, 6}}},    // plan 2 has a pole
        {12, 2, {{0, 3, 4, 5}, {2, 1, 1, 9}}},   // likewise
        {4, 3, {{20, 70, 60, 2}, {2, 16, 70, 50}}},  // lines enlarged across slanted edges
        // A sharp corner: plan 2, first by score, takes a column nearly along x.
        {7, 5, {{86.04, 89.41, 150.54, 85.53}, {89.32, 86.13, 88.95, 150.51}}},
    };
    for (const Case &c : cases) {
        LayerRect r{};
        ASSERT_EQ(TestFourCorner(c.q.x, c.q.y, &r), 1);
        Quad local = c.q;
        for (int k = 0; k < 4; ++k) local.x[k] -= r.left, local.y[k] -= r.top;
        HostCanvas source(c.sw, c.sh, 0xFF336699u);
        HostCanvas destination(r.right - r.left, r.bottom - r.top);
        ASSERT_EQ(Map(destination, source, c.q), 1);
        // Coverage with a border of one pixel around the destination.
        int32_t gw = destination.width() + 2;
        std::vector<double> grid(static_cast<size_t>(gw) * (destination.height() + 2));
        for (size_t i = 0; i < grid.size(); ++i)
            grid[i] = Coverage(local, static_cast<int32_t>(i % gw) - 1, static_cast<int32_t>(i / gw) - 1);
        auto cover = [&](int32_t x, int32_t y) { return grid[static_cast<size_t>(y + 1) * gw + x + 1]; };
        double drawn = 0, covered = 0;
        for (int32_t y = 0; y < destination.height(); ++y)
            for (int32_t x = 0; x < destination.width(); ++x) {
                double alpha = destination.at(x, y) >> 24;
                drawn += alpha;
                covered += 255 * cover(x, y);
                double least = 1, most = 0;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        least = std::min(least, cover(x + dx, y + dy));
                        most = std::max(most, cover(x + dx, y + dy));
                    }
                EXPECT_TRUE(least < 1 || alpha >= 240) << c.sw << "x" << c.sh << " hole at " << x << "," << y;
                EXPECT_TRUE(most > 0 || alpha <= 8) << c.sw << "x" << c.sh << " spill at " << x << "," << y;
            }
        EXPECT_NEAR(drawn, covered, 0.1 * covered) << c.sw << "x" << c.sh;
    }
}

// Three corners on one line: the quad has no projective mapping, and both
// operations refuse it, whichever corner lies in the middle.
TEST(FourCornerMapTest, ThreeCornersOnALineAreRefusedByBoth) {
    const Quad quads[] = {{{38, 15, 15, 15}, {45, 14, 36, 48}}, {{38, 15, 15, 15}, {45, 36, 14, 48}}};
    for (const Quad &q : quads) {
        HostCanvas source(3, 3, 0xFF336699u), destination(30, 40, 0x12345678u);
        LayerRect r{};
        EXPECT_EQ(TestFourCorner(q.x, q.y, &r), 0);
        EXPECT_EQ(Map(destination, source, q), 0);
        for (uint32_t p : destination.raw()) ASSERT_EQ(p, 0x12345678u);
    }
}

TEST(FourCornerMapTest, TransparentSamplesAreNeverStored) {
    HostCanvas destination(12, 12, 0x55AA55AAu);
    Quad q{{1, 10, 11, 2}, {2, 1, 9, 11}};
    HostCanvas clear(6, 6, 0x00000000u);
    ASSERT_EQ(Map(destination, clear, q), 1);
    HostCanvas colouredButClear(6, 6, 0x00FFFFFFu);
    ASSERT_EQ(Map(destination, colouredButClear, q), 1);
    for (uint32_t p : destination.raw()) ASSERT_EQ(p, 0x55AA55AAu);
}

TEST(FourCornerMapTest, DrawingTwiceLeavesWhatDrawingOnceLeaves) {
    HostCanvas source(20, 14);
    FillPattern(source, 5);
    Quad q{{3.3, 41.7, 37.2, 1.1}, {2.6, 6.1, 30.4, 27.9}};
    HostCanvas once(45, 35, 0x10203040u), twice(45, 35, 0x10203040u);
    ASSERT_EQ(Map(once, source, q), 1);
    ASSERT_EQ(Map(twice, source, q), 1);
    ASSERT_EQ(Map(twice, source, q), 1);
    EXPECT_EQ(once.raw(), twice.raw());
}

// Rotated, mirrored and strongly perspective quads: pixels well inside get
// the opaque image, pixels well outside keep the destination's content. The
// two one-dimensional passes spread an edge's partial coverage across up to
// two pixels of a slanted edge, hence the margins.
TEST(FourCornerMapTest, DrawsInsideTheQuadAndLeavesTheOutsideAlone) {
    const Quad quads[] = {
        {{30, 70, 50, 10}, {5, 25, 65, 45}},              // rotated
        {{70, 10, 30, 75}, {10, 15, 70, 60}},             // mirrored winding
        {{35, 45, 78, 2}, {4, 4, 76, 76}},                // strong perspective
        {{5.5, 74.25, 60.75, 12.125}, {8.5, 3.75, 71.5, 66.0}},
        {{2, 78, 78, 2}, {30, 2, 78, 50}},                // strong perspective along x
    };
    constexpr uint32_t kBackground = 0x22446688u;
    for (const Quad &q : quads) {
        // Minified everywhere: a source sample longer than a pixel would fade
        // toward transparent across its length at the far edges.
        HostCanvas source(512, 512, 0xFF80C040u);
        HostCanvas destination(80, 80, kBackground);
        ASSERT_EQ(Map(destination, source, q), 1);
        LayerRect rect;
        ASSERT_EQ(TestFourCorner(q.x, q.y, &rect), 1);
        int32_t inside = 0;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 80; ++x) {
                double d = InsideDistance(q, rect.left + x + 0.5, rect.top + y + 0.5);
                uint32_t p = destination.at(x, y);
                if (d < -2.0) {
                    ASSERT_EQ(p, kBackground) << x << "," << y;
                }
                if (d > 2.5) {
                    // The walk's 1/255 rounding of each sample's extent can
                    // leave an inner pixel a unit or two short of opaque.
                    ASSERT_GE(p >> 24, 0xFCu) << x << "," << y;
                    ASSERT_EQ(Hex(p & 0x00FFFFFFu), Hex(0x0080C040u)) << x << "," << y;
                    ++inside;
                }
            }
        EXPECT_GT(inside, 300);
    }
}

// Near-vanishing perspective: source samples at the far corner grow to many
// times those at the near one, so every line's pieces must join where the
// curve does. Nothing may land outside the quad. The source is large enough
// that its samples stay shorter than a pixel almost to the far corner, where
// a magnified sample would spread its edge coverage over its own length.
TEST(FourCornerMapTest, StrongPerspectiveLinesEndWhereTheQuadEnds) {
    const Quad quads[] = {
        {{0, 0, 10, 200}, {0, 40, 60, 20}},
        {{64, 22, 123, 111}, {32, 46, 75, 17}},
        {{98, 2, 2, 10}, {74, 2, 50, 98}},
    };
    constexpr uint32_t kBackground = 0x22446688u;
    HostCanvas source(512, 512, 0xFF80C040u);
    for (const Quad &q : quads) {
        LayerRect rect;
        ASSERT_EQ(TestFourCorner(q.x, q.y, &rect), 1);
        HostCanvas destination(rect.right - rect.left, rect.bottom - rect.top, kBackground);
        ASSERT_EQ(Map(destination, source, q), 1);
        int32_t drawn = 0;
        for (int32_t y = 0; y < destination.height(); ++y)
            for (int32_t x = 0; x < destination.width(); ++x) {
                uint32_t p = destination.at(x, y);
                if (p != kBackground) ++drawn;
                if (InsideDistance(q, rect.left + x + 0.5, rect.top + y + 0.5) < -2.0) {
                    ASSERT_EQ(p, kBackground) << q.x[0] << "," << q.y[0] << " at " << x << "," << y;
                }
            }
        EXPECT_GT(drawn, 1000);
    }
}

// Samples are placed along each line's centre, so an edge sample of a
// sheared quad can land a fraction of a pixel past the quad; a destination
// larger than the reported rectangle still keeps everything outside it.
TEST(FourCornerMapTest, NothingChangesOutsideTheReportedRectangle) {
    const Quad quads[] = {
        {{14.168, 20.8243, 10.8789, 4.22266}, {21.6162, 21.6162, 14.2061, 14.2061}},
        {{-5.85, -0.16, -1.62, -4.17}, {-2.43, -7.17, 23.3, 7.91}},
    };
    constexpr uint32_t kBackground = 0x22446688u;
    for (const Quad &q : quads) {
        LayerRect rect;
        ASSERT_EQ(TestFourCorner(q.x, q.y, &rect), 1);
        HostCanvas source(17, 12, 0xFF80C040u);
        HostCanvas destination(40, 40, kBackground);
        ASSERT_EQ(Map(destination, source, q), 1);
        int32_t drawn = 0;
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 40; ++x) {
                bool inBox = x < rect.right - rect.left && y < rect.bottom - rect.top;
                if (destination.at(x, y) != kBackground) {
                    ASSERT_TRUE(inBox) << q.x[0] << ": " << x << "," << y;
                    ++drawn;
                }
            }
        EXPECT_GT(drawn, 10);
    }
}

// A quad a hundred-millionth of a pixel across covers nothing: rounding can
// give its lines a first difference just below zero, which must not turn
// into an extent spanning the whole line.
TEST(FourCornerMapTest, AVanishingQuadDrawsNothing) {
    const Quad quads[] = {
        {{1.03e-8, 2.0e-8, 2.0e-8, 1.03e-8}, {2.14e-8, 2.14e-8, 2.62e-8, 2.62e-8}},
        {{9.0800000071174818, 9.0800000975256427, 9.0800000744730447, 9.0800000382805823},
         {8.5600000477533644, 8.5600000389703332, 8.560000053168018, 8.5600000672425036}},
    };
    constexpr uint32_t kBackground = 0x22446688u;
    for (const Quad &q : quads)
        for (int32_t size : {1, 3, 7, 16}) {
            HostCanvas source(size, size, 0xFF80C040u);
            HostCanvas destination(8, 8, kBackground);
            EXPECT_EQ(Map(destination, source, q), 1);
            for (int32_t y = 0; y < 8; ++y)
                for (int32_t x = 0; x < 8; ++x)
                    ASSERT_EQ(destination.at(x, y), kBackground) << q.x[0] << " " << size << ": " << x << "," << y;
        }
}

TEST(FourCornerMapTest, InvalidCornersAndMissingArgumentsAreRefused) {
    HostCanvas source(8, 8, 0xFFFFFFFFu);
    HostCanvas destination(20, 20, 0x01020304u);
    Quad concave{{0, 19, 6, 0}, {0, 0, 6, 19}};
    EXPECT_EQ(Map(destination, source, concave), 0);
    Quad bowTie{{1, 18, 1, 18}, {1, 1, 18, 18}};
    EXPECT_EQ(Map(destination, source, bowTie), 0);
    Quad notFinite{{1, INFINITY, 18, 1}, {1, 1, 18, 18}};
    EXPECT_EQ(Map(destination, source, notFinite), 0);
    Quad q = Rect(1, 1, 18, 18);
    EXPECT_EQ(FourCornerMapLayer(destination.layer(), nullptr, q.x, q.y), 0);
    EXPECT_EQ(FourCornerMapLayer(destination.layer(), source.layer(), nullptr, q.y), 0);
    EXPECT_EQ(FourCornerMapLayer(destination.layer(), source.layer(), q.x, nullptr), 0);
    EXPECT_EQ(FourCornerMapLayer(nullptr, source.layer(), q.x, q.y), 0);
    // The whole quad left of the rectangle's origin: nothing is drawn.
    Quad offLeft{{-0.9, -0.1, -0.1, -0.9}, {1, 1, 5, 5}};
    Map(destination, source, offLeft);
    for (uint32_t p : destination.raw()) ASSERT_EQ(p, 0x01020304u);
}

// Values far outside the 32-bit range convert without trapping and nothing
// is written outside the destination.
TEST(FourCornerMapTest, HugeCoordinatesStayInsideTheLayers) {
    HostCanvas source(5, 5, 0xFF112233u);
    HostCanvas destination(10, 10, 0x0u);
    Quad tall{{0, 8, 8, 0}, {0, 0, 3e9, 3e9}};
    FourCornerMapLayer(destination.layer(), source.layer(), tall.x, tall.y);
    for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(destination.at(9, y), 0u) << "right of the quad, row " << y;
    Quad thin{{0, 1e-12, 1e-12, 0}, {0, 0, 1e-12, 1e-12}};
    HostCanvas untouched(3, 3, 0x0u);
    EXPECT_EQ(Map(untouched, source, thin), 1);
    EXPECT_LE(untouched.at(0, 0) >> 24, 1u);  // covers almost nothing
    for (int32_t i = 1; i < 9; ++i) EXPECT_EQ(untouched.raw()[i], 0u);
    HostCanvas guarded(4, 4, 0x0u, 8);
    Quad wide{{-5e9, 5e9, 5e9, -5e9}, {-1, -1, 3, 3}};
    FourCornerMapLayer(guarded.layer(), source.layer(), wide.x, wide.y);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 4; x < 8; ++x) ASSERT_EQ(guarded.at(x, y), 0u) << "stride column " << x;
}

// A source that is a window onto a bigger root is mapped as that window.
TEST(FourCornerMapTest, ClippedSourceIsMappedAsItsVisiblePart) {
    HostCanvas big(40, 30);
    FillPattern(big, 9);
    Layer *window = CreateClippedLayer(big.layer());
    ASSERT_NE(window, nullptr);
    ClipLayerXYWH(window, 30, 6, 16, 8);  // cut at the root's right edge: 10 x 8 visible
    HostCanvas copy(10, 8);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 10; ++x) copy.at(x, y) = big.at(30 + x, 6 + y);
    Quad q{{2.5, 30.25, 27.5, 4.0}, {1.5, 3.0, 22.75, 20.5}};
    HostCanvas fromWindow(32, 24), fromCopy(32, 24);
    ASSERT_EQ(FourCornerMapLayer(fromWindow.layer(), window, q.x, q.y), 1);
    ASSERT_EQ(Map(fromCopy, copy, q), 1);
    EXPECT_EQ(fromWindow.raw(), fromCopy.raw());
    DeleteLayer(window);
}

// A window whose far edge lies more than 2^31 pixels from its near one
// still gets the image in its visible part; its size does not wrap into a
// negative one that would draw nothing.
TEST(FourCornerMapTest, WindowReachingPastThe32BitRangeGetsTheImage) {
    HostCanvas source(8, 8);
    FillPattern(source, 5);
    HostCanvas root(8, 8, 0x10203040u);
    Layer *window = CreateClippedLayer(root.layer());
    ASSERT_NE(window, nullptr);
    LayerRect far{-1, -4, 35, 2147483645};
    ASSERT_EQ(ClipLayer(window, &far), 1);
    // The image lands at the window's own (0, 0); the root shows the window
    // from its pixel (1, 4) on.
    Quad q = Rect(0, 0, 8, 8);
    ASSERT_EQ(FourCornerMapLayer(window, source.layer(), q.x, q.y), 1);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            uint32_t expected = (x + 1 < 8 && y + 4 < 8) ? source.at(x + 1, y + 4) : 0x10203040u;
            ASSERT_EQ(Hex(root.at(x, y)), Hex(expected)) << x << "," << y;
        }
    DeleteLayer(window);
}

// A destination window cut off by its root shows in its visible part what
// the whole window shows there, and nothing outside the root's part is
// touched.
TEST(FourCornerMapTest, CutOffDestinationWindowShowsItsVisiblePartOfTheImage) {
    HostCanvas source(12, 9);
    FillPattern(source, 21);
    Quad q{{1.5, 22.25, 19.5, 2.0}, {2.5, 1.0, 17.75, 16.5}};
    HostCanvas whole(24, 20, 0x0F0F0F0Fu);
    ASSERT_EQ(Map(whole, source, q), 1);

    HostCanvas root(30, 14, 0x0F0F0F0Fu);
    Layer *window = CreateClippedLayer(root.layer());
    ASSERT_NE(window, nullptr);
    ClipLayerXYWH(window, -5, -3, 24, 20);  // visible: window (5..24, 3..17)
    ASSERT_EQ(FourCornerMapLayer(window, source.layer(), q.x, q.y), 1);
    for (int32_t y = 0; y < 14; ++y)
        for (int32_t x = 0; x < 30; ++x) {
            int32_t wx = x + 5, wy = y + 3;
            uint32_t expected = (wx < 24 && wy < 20) ? whole.at(wx, wy) : 0x0F0F0F0Fu;
            ASSERT_EQ(Hex(root.at(x, y)), Hex(expected)) << x << "," << y;
        }
    DeleteLayer(window);
}

int32_t endAccessResult = 1;
int32_t endAccessCalls = 0;
int32_t ZL_CALL CountingEndAccess(Layer *, Layer *) {
    ++endAccessCalls;
    return endAccessResult;
}

TEST(FourCornerMapTest, FailsWhenClosingTheDestinationFails) {
    HostCanvas source(6, 6, 0xFF010203u);
    HostCanvas destination(10, 10);
    destination.layer()->endAccess = CountingEndAccess;
    Quad q = Rect(1, 1, 8, 8);
    endAccessResult = 1;
    endAccessCalls = 0;
    EXPECT_EQ(Map(destination, source, q), 1);
    EXPECT_EQ(endAccessCalls, 1);
    endAccessResult = 0;
    EXPECT_EQ(Map(destination, source, q), 0);
    EXPECT_EQ(destination.layer()->accessCount, 0);
}

// Which layers the mapping reports, seen from inside refresh and update
// chains.
struct Reported {
    std::vector<Layer *> refreshed, updated;
};
Reported reported;
Layer *notifySource = nullptr;
Layer *notifyDestination = nullptr;
const double *notifyX = nullptr;
const double *notifyY = nullptr;
int32_t notifyResult = -1;

int32_t ZL_CALL RecordRefresh(Layer *layer, LayerNotifier *) {
    reported.refreshed.push_back(layer);
    return 1;
}
int32_t ZL_CALL RecordUpdate(Layer *layer, LayerNotifier *) {
    reported.updated.push_back(layer);
    return 1;
}
int32_t ZL_CALL RunMapping(Layer *, LayerNotifier *) {
    notifyResult = FourCornerMapLayer(notifyDestination, notifySource, notifyX, notifyY);
    return 1;
}

TEST(FourCornerMapTest, RefreshesTheSourceAndUpdatesTheDestination) {
    HostCanvas source(6, 6, 0xFF445566u), destination(12, 12), trigger(1, 1);
    LayerNotifier refresh{RecordRefresh}, update{RecordUpdate}, driver{RunMapping};
    for (Layer *layer : {source.layer(), destination.layer()}) {
        layer->refreshNotifier = &refresh;
        layer->updateNotifier = &update;
    }
    notifySource = source.layer();
    notifyDestination = destination.layer();
    Quad q = Rect(1, 1, 10, 10);
    notifyX = q.x;
    notifyY = q.y;

    trigger.layer()->refreshNotifier = &driver;
    reported = Reported{};
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(notifyResult, 1);
    EXPECT_EQ(reported.refreshed, std::vector<Layer *>{source.layer()});
    trigger.layer()->updateNotifier = &driver;
    reported = Reported{};
    UpdateLayerEx(trigger.layer());
    EXPECT_EQ(reported.updated, std::vector<Layer *>{destination.layer()});

    // An invalid quad is refused after the refresh and before any update.
    Quad concave{{0, 11, 4, 0}, {0, 0, 4, 11}};
    notifyX = concave.x;
    notifyY = concave.y;
    reported = Reported{};
    UpdateLayerEx(trigger.layer());
    EXPECT_EQ(notifyResult, 0);
    EXPECT_TRUE(reported.updated.empty());
    reported = Reported{};
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(reported.refreshed, std::vector<Layer *>{source.layer()});
    // No source: nothing is reported.
    notifySource = nullptr;
    reported = Reported{};
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(notifyResult, 0);
    EXPECT_TRUE(reported.refreshed.empty());

    // A source with no pixels to map (an empty root, a window outside its
    // root) draws nothing: the call fails and the destination gets no update.
    notifyX = q.x;
    notifyY = q.y;
    uint32_t unused = 0;
    Layer *empty = CreateCompatibleLayer(&unused, 0, 0, 0);
    Layer *flat = CreateCompatibleLayer(&unused, 5, 0, 20);  // a width but no rows
    Layer *outside = CreateClippedLayer(source.layer());
    ASSERT_NE(empty, nullptr);
    ASSERT_NE(flat, nullptr);
    ASSERT_NE(outside, nullptr);
    ClipLayerXYWH(outside, 20, 20, 4, 4);
    std::vector<uint32_t> before = destination.raw();
    for (Layer *invisible : {empty, flat, outside}) {
        notifySource = invisible;
        reported = Reported{};
        UpdateLayerEx(trigger.layer());
        EXPECT_EQ(notifyResult, 0);
        EXPECT_TRUE(reported.updated.empty());
    }
    EXPECT_EQ(destination.raw(), before);
    DeleteLayer(outside);
    DeleteLayer(flat);
    DeleteLayer(empty);
}

uint64_t Fnv1a(const std::vector<uint32_t> &pixels) {
    uint64_t hash = 1469598103934665603ull;
    for (uint32_t p : pixels)
        for (int shift = 0; shift < 32; shift += 8) hash = (hash ^ ((p >> shift) & 0xFF)) * 1099511628211ull;
    return hash;
}

// The native library and the 32-bit DLL must give the same bits: both
// flavours run this test against the same digest of several perspective
// mappings (mirrored, rotated, minified and magnified lines, every piece
// count).
TEST(FourCornerMapTest, PixelsAreTheSameInEveryBuild) {
    const Quad quads[] = {
        {{3.3, 41.7, 37.2, 1.1}, {2.6, 6.1, 30.4, 27.9}},
        {{70, 10, 30, 75}, {10, 15, 70, 60}},
        {{35, 45, 78, 2}, {4, 4, 76, 76}},
        {{60.5, 2.25, 12.75, 70.125}, {70.5, 60.75, 1.5, 6.0}},
    };
    HostCanvas source(37, 29);
    FillPattern(source, 77);
    HostCanvas destination(80, 80, 0x80808080u);
    for (const Quad &q : quads) ASSERT_EQ(Map(destination, source, q), 1);
    EXPECT_EQ(Fnv1a(destination.raw()), 10641834571652881694ull);
}

// Quads that shrink the source along both passes (at most about half its
// size, turned by up to 30 degrees, mild perspective): their pixels are
// pinned by a digest taken before magnification was reworked, so that work
// cannot change what minification draws.
TEST(FourCornerMapTest, ShrinkingMappingsKeepTheirPixels) {
    uint64_t hash = 1469598103934665603ull;
    for (uint32_t i = 0; i < 300; ++i) {
        auto unit = [&](uint32_t k) { return (Mix(i * 16 + k) & 0xFFFF) / 65536.0; };
        int32_t width = 40 + static_cast<int32_t>(unit(0) * 50), height = 40 + static_cast<int32_t>(unit(1) * 50);
        double scale = 0.2 + 0.3 * unit(2), angle = (unit(3) - 0.5) * 1.05;
        double hw = width * scale / 2, hh = height * scale / 2, cx = 30 + unit(4) * 5, cy = 30 + unit(5) * 5;
        const double ux[4] = {-hw, hw, hw, -hw}, uy[4] = {-hh, -hh, hh, hh};
        Quad q;
        for (int k = 0; k < 4; ++k) {
            double jx = (unit(6 + 2 * k) - 0.5) * 0.2 * hw, jy = (unit(7 + 2 * k) - 0.5) * 0.2 * hh;
            q.x[k] = cx + (ux[k] + jx) * std::cos(angle) - (uy[k] + jy) * std::sin(angle);
            q.y[k] = cy + (ux[k] + jx) * std::sin(angle) + (uy[k] + jy) * std::cos(angle);
        }
        HostCanvas source(width, height);
        FillPattern(source, i);
        HostCanvas destination(64, 64, 0x80808080u);
        ASSERT_EQ(Map(destination, source, q), 1) << i;
        for (uint32_t p : destination.raw()) hash = (hash ^ p) * 1099511628211ull;
    }
    EXPECT_EQ(hash, 633113095412869621ull);
}

// Rounding upward, 24-bit x87 precision, invalid/zero-divide/overflow
// unmasked on both units, and the SSE inexact flag already set.
constexpr uint16_t kHostileX87 = 0x0872;
constexpr uint32_t kHostileMxcsr = 0x5920;

TEST(FourCornerFpTest, CallerEnvironmentIsKeptAndDoesNotChangeThePixels) {
    FpState original = ReadFpState();
    HostCanvas source(23, 17);
    FillPattern(source, 31);
    Quad q{{3.3, 41.7, 37.2, 1.1}, {2.6, 6.1, 30.4, 27.9}};
    HostCanvas expected(45, 35), actual(45, 35);
    ASSERT_EQ(Map(expected, source, q), 1);
    Quad bowTie{{10, 90, 5, 80}, {10, 20, 90, 70}};
    LayerRect rect;

    WriteFpState(kHostileX87, kHostileMxcsr);
    int32_t mapped = Map(actual, source, q);
    FpState afterMap = ReadFpState();
    int32_t refused = Map(actual, source, bowTie);
    FpState afterRefusal = ReadFpState();
    int32_t tested = TestFourCorner(bowTie.x, bowTie.y, &rect);
    FpState afterTest = ReadFpState();
    WriteFpState(original.x87Control, original.mxcsr);

    EXPECT_EQ(mapped, 1);
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(tested, 0);
    for (const FpState &s : {afterMap, afterRefusal, afterTest}) {
        EXPECT_EQ(Hex(s.x87Control), Hex(kHostileX87));
        EXPECT_EQ(Hex(s.mxcsr), Hex(kHostileMxcsr));
        EXPECT_EQ(s.x87Status & 0x3F, 0) << "no x87 flag raised for the caller";
    }
    EXPECT_EQ(expected.raw(), actual.raw());
}

// Host procedures run in the host's own environment: the access hooks of
// both roots see exactly what the caller set.
std::vector<FpState> seenByHooks;
int32_t ZL_CALL RecordFpBegin(Layer *, void *) {
    seenByHooks.push_back(ReadFpState());
    return 1;
}

TEST(FourCornerFpTest, HostProceduresRunInTheCallersEnvironment) {
    FpState original = ReadFpState();
    HostCanvas source(7, 5, 0xFF336699u), destination(30, 30);
    source.layer()->beginAccess = RecordFpBegin;
    destination.layer()->beginAccess = RecordFpBegin;
    Quad q{{2.5, 27, 25, 1}, {1, 3.5, 28, 26}};
    seenByHooks.clear();
    WriteFpState(kHostileX87, kHostileMxcsr);
    int32_t mapped = Map(destination, source, q);
    WriteFpState(original.x87Control, original.mxcsr);
    EXPECT_EQ(mapped, 1);
    ASSERT_EQ(seenByHooks.size(), 2u);
    for (const FpState &s : seenByHooks) {
        EXPECT_EQ(Hex(s.x87Control), Hex(kHostileX87));
        EXPECT_EQ(Hex(s.mxcsr), Hex(kHostileMxcsr));
    }
}

}  // namespace
