// Four-corner mapping: a whole source layer drawn into a convex quadrilateral
// with perspective, in two one-dimensional resampling passes through an
// intermediate layer.
#pragma once

#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

// The work record of one mapping: corners, projection and line coefficients,
// source size, the chosen plan and the plans tried, box and intermediate
// sizes, the current pass's sample and line counts, and the box's origin.
// The orientation flags after them say which way a pass's samples run; a
// pass takes its strides from the open accesses.
struct FourCornerPlan {
    double cornerX[4];     // corner x, minus offsetX
    double cornerY[4];     // corner y, minus offsetY
    double projection[8];  // a, b, c, d, e, f, g, h
    double lineCoef[8];    // c0 ... c7 of the current pass
    int32_t sourceWidth;
    int32_t sourceHeight;
    int32_t variant;         // chosen pass plan, 1 to 4
    uint32_t triedVariants;  // bit (plan - 1) set for each plan that folded
    int32_t boxWidth;
    int32_t boxHeight;
    int32_t interWidth;
    int32_t interHeight;
    int32_t inSamples;
    int32_t inLines;
    int32_t outSamples;
    int32_t outLines;
    int32_t offsetX;
    int32_t offsetY;
    int32_t inSamplesAlongRow;   // 1: input samples run along a row, lines down
    int32_t outSamplesAlongRow;  // 1: output samples run along a row, lines down
    // Output samples and lines a pass may store, from the output layer's
    // top-left: the whole intermediate in the first pass, and in the second
    // the rectangle TestFourCorner reports, so that nothing the host was not
    // told about changes.
    int32_t storeSamples;
    int32_t storeLines;
};

enum { FourCornerAllVariants = 15 };

// Double to integer conversions that never trap and never overflow: values
// beyond the signed 32-bit range give its nearest end, NaN gives 0.
int32_t FloorToInt32(double value);
int32_t TruncateToInt32(double value);

// Pass planning.
int32_t PlanFourCorner(int32_t sourceWidth, int32_t sourceHeight, const double *x, const double *y,
                       FourCornerPlan *plan);
void BoundFourCorner(FourCornerPlan *plan);
int32_t SolveFourCorner(FourCornerPlan *plan);
void ChooseFourCornerVariant(FourCornerPlan *plan);
int32_t HasFourCornerFold(const FourCornerPlan *plan);
// Non-zero when the chosen plan's second-pass lines have a pole: their
// position function's denominator vanishes or changes sign inside the line,
// so that the walk would run the wrong way. Such a plan is retried like one
// that folds.
int32_t HasSecondPassPole(const FourCornerPlan *plan);
// The number of first-pass lines that keeps each within about one
// destination pixel across, when the source has fewer; otherwise 0. A line
// stretched across many pixels would draw a band with square ends: a
// staircase along every slanted edge.
int32_t FirstPassLinesNeeded(const FourCornerPlan *plan);
int32_t SetupFirstPass(Layer *intermediate, Layer *source, FourCornerPlan *plan);
int32_t SetupSecondPass(Layer *destination, Layer *intermediate, FourCornerPlan *plan);

// The size a source is mapped as: its visible part. False when nothing of
// it is visible.
bool SourceExtent(Layer *source, int32_t &width, int32_t &height);
// The size of the window a destination stands for, uncut by its ancestors.
void DestinationExtent(const Layer *destination, int32_t &width, int32_t &height);

// One line's projective position function pos(s) = (l*s + m) / (o*s + t).
struct LineFunction {
    double l, m, o, t;
    double Position(double s) const { return (l * s + m) / (o * s + t); }
};

struct Knot {
    double s;
    double position;
};

struct SegmentSteps {
    int64_t e1;    // first difference, 16.16 coverage units
    int64_t e2;    // second difference, 16.16 coverage units
    int32_t iEnd;  // first input sample after the piece
};

int64_t FloorFixed(double value);
Knot SplitSegment(const Knot &a, const Knot &b, const LineFunction &line);
SegmentSteps StepSegment(double sEnd, int32_t iStart, int32_t sampleCount, bool reversed, const LineFunction &line);

// The line walk: the plain one, step by step, or with reducing pieces taken
// by a short loop that gives the same pixels.
enum class LineWalkKind { Plain, Fast };

// One pass from input to output along the plan's current descriptor. The
// result is that of closing the output access.
int32_t ResamplePass(Layer *output, Layer *input, const FourCornerPlan *plan,
                     LineWalkKind walk = LineWalkKind::Fast);

}  // namespace zl
