// The four-corner planning steps and the resampler's line set-up, tested on
// the work record directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "fourcorner/divide.h"
#include "fourcorner/fourcorner.h"
#include "mix_hash.h"

namespace {

using zl::FourCornerPlan;

FourCornerPlan Corners(const double (&x)[4], const double (&y)[4], int32_t width = 10, int32_t height = 10) {
    FourCornerPlan plan{};
    EXPECT_EQ(zl::PlanFourCorner(width, height, x, y, &plan), 1);
    return plan;
}

// Where the projection takes (u, v).
void Project(const FourCornerPlan &plan, double u, double v, double &x, double &y) {
    const double *p = plan.projection;
    double w = p[6] * u + p[7] * v + 1;
    x = (p[0] * u + p[1] * v + p[2]) / w;
    y = (p[3] * u + p[4] * v + p[5]) / w;
}

TEST(FourCornerPlanTest, BoundsTranslateTheCornersTowardZero) {
    FourCornerPlan plan = Corners({10, 90, 80, 5}, {10, 20, 70, 90});
    EXPECT_EQ(plan.offsetX, 5);
    EXPECT_EQ(plan.offsetY, 10);
    EXPECT_EQ(plan.boxWidth, 86);
    EXPECT_EQ(plan.boxHeight, 81);
    EXPECT_EQ(plan.cornerX[0], 5.0);
    EXPECT_EQ(plan.cornerY[3], 80.0);

    FourCornerPlan negative = Corners({-3.7, 5.2, 5.2, -3.7}, {0, 0, 1, 1});
    EXPECT_EQ(negative.offsetX, -3);
    EXPECT_NEAR(negative.cornerX[0], -0.7, 1e-12);

    FourCornerPlan half = Corners({2.5, 7.5, 7.5, 2.5}, {1, 1, 2, 2});
    EXPECT_EQ(half.offsetX, 2);
    EXPECT_EQ(half.cornerX[0], 0.5);
    EXPECT_EQ(half.cornerX[1], 5.5);
    EXPECT_EQ(half.boxWidth, 6);

    FourCornerPlan left = Corners({-0.9, -0.1, -0.1, -0.9}, {0, 0, 1, 1});
    EXPECT_EQ(left.offsetX, 0);
    EXPECT_EQ(left.boxWidth, 0);
}

TEST(FourCornerPlanTest, SolvedProjectionTakesTheUnitSquareToTheCorners) {
    FourCornerPlan plan = Corners({10, 90, 80, 5}, {10, 20, 70, 90});
    const double u[4] = {0, 1, 1, 0}, v[4] = {0, 0, 1, 1};
    const double ex[4] = {5, 85, 75, 0}, ey[4] = {0, 10, 60, 80};
    for (int i = 0; i < 4; ++i) {
        double x, y;
        Project(plan, u[i], v[i], x, y);
        EXPECT_NEAR(x, ex[i], 1e-9) << i;
        EXPECT_NEAR(y, ey[i], 1e-9) << i;
    }
    EXPECT_NE(plan.projection[6], 0.0);
    FourCornerPlan reordered{};
    const double rx[4] = {10, 5, 80, 90}, ry[4] = {10, 90, 70, 20};
    EXPECT_EQ(zl::PlanFourCorner(10, 10, rx, ry, &reordered), 1);
}

TEST(FourCornerPlanTest, ParallelogramsTakeTheAffineBranch) {
    FourCornerPlan plan = Corners({0, 10, 15, 5}, {0, 2, 9, 7});
    EXPECT_EQ(plan.projection[6], 0.0);
    EXPECT_EQ(plan.projection[7], 0.0);
    EXPECT_EQ(plan.projection[0], 10.0);
    EXPECT_EQ(plan.projection[1], 5.0);
    // A degenerate one (all corners on a line) is valid too.
    FourCornerPlan flat{};
    const double x[4] = {0, 4, 8, 4}, y[4] = {0, 0, 0, 0};
    EXPECT_EQ(zl::PlanFourCorner(10, 10, x, y, &flat), 1);
}

TEST(FourCornerPlanTest, ConcaveAndCrossedCornerOrdersAreInvalid) {
    FourCornerPlan plan{};
    const double bowX[4] = {10, 90, 5, 80}, bowY[4] = {10, 20, 90, 70};
    EXPECT_EQ(zl::PlanFourCorner(10, 10, bowX, bowY, &plan), 0);
    const double caveX[4] = {0, 100, 30, 0}, caveY[4] = {0, 0, 30, 100};
    EXPECT_EQ(zl::PlanFourCorner(10, 10, caveX, caveY, &plan), 0);
    const double nanX[4] = {0, 10, NAN, 0}, nanY[4] = {0, 0, 10, 10};
    EXPECT_EQ(zl::PlanFourCorner(10, 10, nanX, nanY, &plan), 0);
    EXPECT_EQ(zl::PlanFourCorner(10, 10, nullptr, bowY, &plan), 0);
    EXPECT_EQ(plan.sourceWidth, 10);  // stored before the corners are checked
    EXPECT_EQ(zl::PlanFourCorner(10, 10, bowX, bowY, nullptr), 0);
}

// Scores 100, 100, 50, 100 with a source of 1 x 1.
TEST(FourCornerPlanTest, ChoosesTheLargestUntriedScoreLowerPlanOnTies) {
    FourCornerPlan plan{};
    const double x[4] = {0, 50, 100, 50}, y[4] = {0, 25, 75, 50};
    for (int i = 0; i < 4; ++i) {
        plan.cornerX[i] = x[i];
        plan.cornerY[i] = y[i];
    }
    plan.sourceWidth = 1;
    plan.sourceHeight = 1;
    plan.boxWidth = 101;
    plan.boxHeight = 76;
    const struct {
        uint32_t tried;
        int32_t variant;
    } cases[] = {{0, 1}, {1, 2}, {3, 4}, {11, 3}, {2, 1}, {15, 1}};
    for (const auto &c : cases) {
        plan.triedVariants = c.tried;
        zl::ChooseFourCornerVariant(&plan);
        EXPECT_EQ(plan.variant, c.variant) << "tried " << c.tried;
    }
    plan.sourceWidth = 7;
    plan.sourceHeight = 5;
    const int32_t sizes[4][2] = {{101, 5}, {7, 76}, {5, 76}, {101, 7}};
    for (int32_t v = 1; v <= 4; ++v) {
        plan.triedVariants = 15u & ~(1u << (v - 1));
        zl::ChooseFourCornerVariant(&plan);
        ASSERT_EQ(plan.variant, v);
        EXPECT_EQ(plan.interWidth, sizes[v - 1][0]) << v;
        EXPECT_EQ(plan.interHeight, sizes[v - 1][1]) << v;
    }
}

FourCornerPlan WithLineCoefficients(const double (&c)[8]) {
    FourCornerPlan plan{};
    for (int i = 0; i < 8; ++i) plan.lineCoef[i] = c[i];
    return plan;
}

TEST(FourCornerPlanTest, FoldsWhenTheOuterEdgesRunOppositeWays) {
    // pos(p, s) = ((c0 p + c1) s + c2 p + c3) / ((c4 p + c5) s + c6 p + c7)
    FourCornerPlan same = WithLineCoefficients({0, 1, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(zl::HasFourCornerFold(&same), 0);
    FourCornerPlan opposite = WithLineCoefficients({-2, 1, 0, 0, 0, 0, 0, 1});
    EXPECT_NE(zl::HasFourCornerFold(&opposite), 0);
    // A zero difference counts as negative.
    FourCornerPlan zeroThenNegative = WithLineCoefficients({1, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(zl::HasFourCornerFold(&zeroThenNegative), 0);
    FourCornerPlan zeroThenPositive = WithLineCoefficients({-1, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_NE(zl::HasFourCornerFold(&zeroThenPositive), 0);
}

// The gallery's "fold retried" wedge (gallery/scenes.cpp, a 16 x 32 source):
// its first-choice plan must fold, or the picture would not show a retry.
TEST(FourCornerPlanTest, TheGalleryFoldWedgeFoldsOnItsFirstChoice) {
    const double x[4] = {0, 0, 10, 200}, y[4] = {0, 40, 60, 20};
    FourCornerPlan plan = Corners(x, y, 16, 32);
    EXPECT_EQ(plan.variant, 1);
    Layer source{};
    source.width = 16;
    source.height = 32;
    source.rowBytes = 64;
    Layer intermediate{};
    intermediate.width = plan.interWidth;
    intermediate.height = plan.interHeight;
    intermediate.rowBytes = plan.interWidth * 4;
    ASSERT_EQ(zl::SetupFirstPass(&intermediate, &source, &plan), 1);
    EXPECT_NE(zl::HasFourCornerFold(&plan), 0);
    // The retried plan does not fold.
    plan.triedVariants |= 1u;
    ASSERT_EQ(zl::PlanFourCorner(16, 32, x, y, &plan), 1);
    EXPECT_NE(plan.variant, 1);
    intermediate.width = plan.interWidth;
    intermediate.height = plan.interHeight;
    intermediate.rowBytes = plan.interWidth * 4;
    ASSERT_EQ(zl::SetupFirstPass(&intermediate, &source, &plan), 1);
    EXPECT_EQ(zl::HasFourCornerFold(&plan), 0);
}

TEST(FourCornerPlanTest, FirstPassDescriptorsFollowThePlan) {
    Layer source{};
    source.width = 7;
    source.height = 5;
    source.rowBytes = 40;
    Layer intermediate{};
    intermediate.width = 9;
    intermediate.height = 11;
    intermediate.rowBytes = 36;
    FourCornerPlan plan{};
    for (int i = 0; i < 8; ++i) plan.projection[i] = i + 1;  // a = 1 ... h = 8
    plan.sourceWidth = 7;
    plan.sourceHeight = 5;
    plan.variant = 2;
    ASSERT_EQ(zl::SetupFirstPass(&intermediate, &source, &plan), 1);
    EXPECT_EQ(plan.inSamples, 5);
    EXPECT_EQ(plan.inLines, 7);
    EXPECT_EQ(plan.outSamples, 11);
    EXPECT_EQ(plan.outLines, 9);
    const double second[8] = {0, 5, 4, 6, 0, 8, 7, 1};  // 0, e, d, f, 0, h, g, 1
    for (int i = 0; i < 8; ++i) EXPECT_EQ(plan.lineCoef[i], second[i]) << i;

    plan.variant = 4;
    ASSERT_EQ(zl::SetupFirstPass(&intermediate, &source, &plan), 1);
    EXPECT_EQ(plan.outSamples, 9);
    const double fourth[8] = {0, 2, 1, 3, 0, 8, 7, 1};  // 0, b, a, c, 0, h, g, 1
    for (int i = 0; i < 8; ++i) EXPECT_EQ(plan.lineCoef[i], fourth[i]) << i;
    EXPECT_EQ(zl::SetupFirstPass(nullptr, &source, &plan), 0);
}

// Along a second-pass line the coefficients give the destination line's
// centre: for plan 1, column L holds x = L + 0.5 and its samples land at the
// y that the projection gives there.
TEST(FourCornerPlanTest, SecondPassLinesFollowTheProjection) {
    FourCornerPlan plan = Corners({10, 90, 80, 5}, {10, 20, 70, 90});
    Layer intermediate{};
    intermediate.width = plan.boxWidth;
    intermediate.height = 10;
    intermediate.rowBytes = 4 * plan.boxWidth;
    Layer destination{};
    destination.width = 100;
    destination.height = 100;
    destination.rowBytes = 400;
    plan.variant = 1;
    ASSERT_EQ(zl::SetupSecondPass(&destination, &intermediate, &plan), 1);
    EXPECT_EQ(plan.inLines, plan.boxWidth);
    EXPECT_EQ(plan.outSamples, 100);
    const double *c = plan.lineCoef;
    for (int32_t line : {20, 40, 60}) {
        double p = (line + 0.5) / plan.inLines;
        zl::LineFunction fn{c[0] * p + c[1], c[2] * p + c[3], c[4] * p + c[5], c[6] * p + c[7]};
        for (double v : {0.25, 0.5, 0.75}) {
            // Find u with x(u, v) = line + 0.5, then compare y.
            double lo = -1, hi = 2;
            for (int k = 0; k < 200; ++k) {
                double mid = (lo + hi) / 2, x, y;
                Project(plan, mid, v, x, y);
                (x < line + 0.5 ? lo : hi) = mid;
            }
            double x, y;
            Project(plan, lo, v, x, y);
            EXPECT_NEAR(fn.Position(v), y, 1e-6) << line << " " << v;
        }
    }
    EXPECT_EQ(zl::SetupSecondPass(nullptr, &intermediate, &plan), 0);
}

TEST(FourCornerResampleTest, KnotsAreMidpointsWithoutPerspective) {
    zl::LineFunction flat{40, 3, 1e-7, 1};
    zl::Knot a{0.25, flat.Position(0.25)}, b{0.75, flat.Position(0.75)};
    zl::Knot k = zl::SplitSegment(a, b, flat);
    EXPECT_EQ(k.s, 0.5);
    EXPECT_EQ(k.position, flat.Position(0.5));
    zl::LineFunction negative{40, 3, -1e-7, 1};
    EXPECT_EQ(zl::SplitSegment(a, b, negative).s, 0.5);

    // With perspective the knot is where pos has the chord's slope.
    zl::LineFunction curved{40, 3, 0.8, 1};
    zl::Knot c{0, curved.Position(0)}, d{1, curved.Position(1)};
    zl::Knot knot = zl::SplitSegment(c, d, curved);
    EXPECT_GT(knot.s, 0.0);
    EXPECT_LT(knot.s, 1.0);
    double lhs = (curved.o * knot.s + curved.t) * (curved.o * knot.s + curved.t);
    EXPECT_NEAR(lhs, (curved.o * 0 + curved.t) * (curved.o * 1 + curved.t), 1e-12);
    EXPECT_NE(knot.s, 0.5);
}

TEST(FourCornerResampleTest, StepSegmentGivesFixedPointDifferences) {
    zl::LineFunction line{10, 0, 0, 1};  // ten output samples over the line
    zl::SegmentSteps steps = zl::StepSegment(1.0, 0, 10, false, line);
    EXPECT_EQ(steps.iEnd, 10);
    EXPECT_EQ(steps.e1, 255 * 65536);
    EXPECT_EQ(steps.e2, 0);
    zl::SegmentSteps reversed = zl::StepSegment(1.0, 0, 10, true, line);
    EXPECT_EQ(reversed.e1, -255 * 65536);

    zl::SegmentSteps half = zl::StepSegment(0.5, 0, 20, false, line);
    EXPECT_EQ(half.iEnd, 10);
    EXPECT_EQ(half.e1, 255 * 65536 / 2);

    // A quadratic: second difference 2 * A2 in 16.16 coverage units.
    zl::LineFunction quadratic{12, 0, 1, 1};  // pos(s) = 12 s / (s + 1)
    zl::SegmentSteps q = zl::StepSegment(1.0, 0, 4, false, quadratic);
    double q0 = 0, qm = quadratic.Position(0.5), q1 = quadratic.Position(1.0);
    double a2 = 2 * (q0 - 2 * qm + q1) / 4 / 4;
    double a1 = (4 * qm - 3 * q0 - q1) / 4;
    EXPECT_EQ(q.e1, static_cast<int64_t>(std::floor((a1 + a2) * 255 * 65536)));
    EXPECT_EQ(q.e2, static_cast<int64_t>(std::floor(a2 * 255 * 131072)));
    EXPECT_LT(q.e2, 0);

    zl::SegmentSteps empty = zl::StepSegment(0.1, 0, 5, false, line);
    EXPECT_EQ(empty.iEnd, 0);
}

// The identity line of 13 samples: the third piece runs from sample 6 to 9,
// and with a = 6/13, b = 9/13, D = (b - a) * 13 the rounded quotients land a
// hair below one output sample per input sample, which must not cost a unit.
TEST(FourCornerResampleTest, StepSegmentOfAnIdentityLineIsExact) {
    zl::LineFunction line{13, 0, 0, 1};
    zl::SegmentSteps third = zl::StepSegment(0.75, 6, 13, false, line);
    EXPECT_EQ(third.iEnd, 9);
    EXPECT_EQ(third.e1, 255 * 65536);
    EXPECT_EQ(third.e2, 0);
    zl::SegmentSteps first = zl::StepSegment(0.25, 0, 13, false, line);
    EXPECT_EQ(first.e1, 255 * 65536);
}

// The quad of the public retry test: plan 1 scores highest and folds; with
// it tried, plan 4 is chosen and does not fold.
TEST(FourCornerPlanTest, AConvexQuadCanFoldItsFirstChoice) {
    const double x[4] = {0, 0, 1, 20};
    const double y[4] = {0, 1, 1.5, 0.5};
    // Records only: no layer is created, so the lock test still sees the
    // first deletion.
    Layer source{};
    source.width = 1;
    source.height = 4;
    source.rowBytes = 4;
    Layer inter{};
    zl::FourCornerPlan plan{};
    ASSERT_EQ(zl::PlanFourCorner(1, 4, x, y, &plan), 1);
    EXPECT_EQ(plan.variant, 1);
    ASSERT_EQ(zl::SetupFirstPass(&inter, &source, &plan), 1);
    EXPECT_NE(zl::HasFourCornerFold(&plan), 0);
    plan.triedVariants = 1;
    ASSERT_EQ(zl::PlanFourCorner(1, 4, x, y, &plan), 1);
    EXPECT_EQ(plan.variant, 4);
    ASSERT_EQ(zl::SetupFirstPass(&inter, &source, &plan), 1);
    EXPECT_EQ(zl::HasFourCornerFold(&plan), 0);
}

// The resampler divides colour sums by alpha with a multiply and a shift, and
// its fast walk all three in single precision; both must agree with the
// plain division for every sum and alpha it can meet.
TEST(FourCornerConversionTest, MultiplyShiftDivisionEqualsPlainDivision) {
    for (uint32_t alpha = 1; alpha < 256; ++alpha)
        for (uint32_t sum = 0; sum < 65536; ++sum) {
            if (zl::DivideSumByAlpha(sum, alpha) != sum / alpha) FAIL() << sum << " / " << alpha;
#if defined(__SSE2__)
            uint32_t colour = sum / alpha < 255 ? sum / alpha : 255;
            uint32_t expected = alpha << 24 | colour * 0x10101u;
            __m128i lanes = _mm_setr_epi16(static_cast<int16_t>(sum), static_cast<int16_t>(sum),
                                           static_cast<int16_t>(sum), static_cast<int16_t>(alpha << 8 | (sum & 0xFF)),
                                           0, 0, 0, 0);
            if (zl::PixelOfLaneSums(lanes) != expected) FAIL() << sum << " / " << alpha << " in lanes";
#endif
        }
}

// Both passes drawn with the plain walk and with the fast one give the same
// pixels. The source's rows pair every two alphas (x / 2 beside y), and the
// quads reduce, enlarge, mirror, turn, reach past the destination and are
// cut by a window.
TEST(FourCornerResampleTest, FastWalkGivesThePlainWalksPixels) {
    std::vector<uint32_t> pixels(512 * 256);
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t x = 0; x < 512; ++x)
            pixels[y * 512 + x] = (x % 2 == 0 ? x / 2 : y) << 24 | (zltest::Mix(y * 512 + x) & 0xFFFFFF);
    Layer *source = CreateCompatibleLayer(pixels.data(), 512, 256, 2048);
    const double quads[][8] = {
        {20, 400, 430, 5, 10, 30, 220, 200},    {430, 5, 20, 400, 220, 200, 10, 30},
        {10, 190, 200, 3, 300, 280, 5, 20},     {-40, 150, 160, -35, -20, 10, 60, 50},
        {100, 140, 180, 60, 30, 40, 190, 230},  {5, 440, 300, 150, 5, 15, 230, 228},
        {0, 512, 512, 0, 0, 0, 256, 256},       {-300, 700, 500, -100, -100, -50, 280, 260},
    };
    for (const auto &q : quads) {
        SCOPED_TRACE(::testing::Message() << q[0] << " " << q[4]);
        std::vector<uint32_t> drawn[2];
        for (zl::LineWalkKind kind : {zl::LineWalkKind::Plain, zl::LineWalkKind::Fast}) {
            std::vector<uint32_t> &out = drawn[kind == zl::LineWalkKind::Fast];
            out.assign(450 * 300, 0x80808080u);
            Layer *destination = CreateCompatibleLayer(out.data(), 450, 300, 1800);
            Layer *window = CreateClippedLayer(destination);
            ClipLayerXYWH(window, 0, 0, 440, q[0] < 0 ? 250 : 300);
            FourCornerPlan plan{};
            do {
                ASSERT_EQ(zl::PlanFourCorner(512, 256, q, q + 4, &plan), 1);
                Layer *inter = CreateLayer(plan.interWidth, plan.interHeight, 1);
                zl::SetupFirstPass(inter, source, &plan);
                if (zl::HasFourCornerFold(&plan) || zl::HasSecondPassPole(&plan)) {
                    plan.triedVariants |= 1u << (plan.variant - 1);
                } else {
                    ASSERT_EQ(zl::ResamplePass(inter, source, &plan, kind), 1);
                    zl::SetupSecondPass(window, inter, &plan);
                    ASSERT_EQ(zl::ResamplePass(window, inter, &plan, kind), 1);
                    plan.triedVariants = zl::FourCornerAllVariants;
                }
                DeleteLayer(inter);
            } while (plan.triedVariants != zl::FourCornerAllVariants);
            DeleteLayer(window);
            DeleteLayer(destination);
        }
        EXPECT_NE(drawn[1], std::vector<uint32_t>(450 * 300, 0x80808080u));
        EXPECT_TRUE(drawn[0] == drawn[1]);
    }
    DeleteLayer(source);
}

TEST(FourCornerConversionTest, ConversionsNeverLeaveThe32BitRange) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(zl::FloorToInt32(-0.5), -1);
    EXPECT_EQ(zl::FloorToInt32(2.999), 2);
    EXPECT_EQ(zl::FloorToInt32(-2147483648.0), INT32_MIN);
    EXPECT_EQ(zl::FloorToInt32(-2147483647.5), INT32_MIN);
    EXPECT_EQ(zl::FloorToInt32(2147483647.9), INT32_MAX);
    EXPECT_EQ(zl::FloorToInt32(1e300), INT32_MAX);
    EXPECT_EQ(zl::FloorToInt32(-inf), INT32_MIN);
    EXPECT_EQ(zl::FloorToInt32(NAN), 0);
    EXPECT_EQ(zl::TruncateToInt32(-3.7), -3);
    EXPECT_EQ(zl::TruncateToInt32(3.7), 3);
    EXPECT_EQ(zl::TruncateToInt32(-2147483648.9), INT32_MIN);
    EXPECT_EQ(zl::TruncateToInt32(-1e20), INT32_MIN);
    EXPECT_EQ(zl::TruncateToInt32(inf), INT32_MAX);
    EXPECT_EQ(zl::TruncateToInt32(NAN), 0);
}

}  // namespace
