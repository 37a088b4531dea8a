#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fourcorner/fourcorner.h"
#include "layer/layer.h"

namespace zl {

namespace {

constexpr double kTwoTo31 = 2147483648.0;

// Plan n's bit in triedVariants.
uint32_t VariantBit(int32_t variant) { return 1u << (variant - 1); }

double SmallestOf(const double *v) {
    double smallest = v[0];
    for (int i = 1; i < 4; ++i)
        if (v[i] < smallest) smallest = v[i];
    return smallest;
}

double LargestOf(const double *v) {
    double largest = v[0];
    for (int i = 1; i < 4; ++i)
        if (v[i] > largest) largest = v[i];
    return largest;
}

// The lowest-numbered plan among those not tried whose score is largest.
// A score that is not a number loses to every other.
int32_t BestUntriedVariant(const double *scores, uint32_t tried) {
    int32_t best = 0;
    for (int32_t variant = 1; variant <= 4; ++variant) {
        if ((tried & VariantBit(variant)) != 0) continue;
        if (best == 0 || scores[variant - 1] > scores[best - 1]) best = variant;
    }
    return best != 0 ? best : 1;
}

struct PassSize {
    int32_t width;
    int32_t height;
};

PassSize IntermediateSize(Layer *intermediate) { return PassSize{intermediate->width, intermediate->height}; }

void SetInput(FourCornerPlan *plan, const PassSize &layer, bool alongRow) {
    plan->inSamplesAlongRow = alongRow ? 1 : 0;
    plan->inSamples = alongRow ? layer.width : layer.height;
    plan->inLines = alongRow ? layer.height : layer.width;
}

void SetOutput(FourCornerPlan *plan, const PassSize &layer, bool alongRow) {
    plan->outSamplesAlongRow = alongRow ? 1 : 0;
    plan->outSamples = alongRow ? layer.width : layer.height;
    plan->outLines = alongRow ? layer.height : layer.width;
    plan->storeSamples = plan->outSamples;
    plan->storeLines = plan->outLines;
}

// The second pass works out positions against the whole destination, but
// stores only inside the bounding box: samples placed at a line's centre can
// land a fraction of a pixel beyond the quad.
void LimitStoresToBox(FourCornerPlan *plan, bool alongRow) {
    int32_t boxSamples = alongRow ? plan->boxWidth : plan->boxHeight;
    int32_t boxLines = alongRow ? plan->boxHeight : plan->boxWidth;
    if (boxSamples < plan->storeSamples) plan->storeSamples = boxSamples;
    if (boxLines < plan->storeLines) plan->storeLines = boxLines;
}

void SetLineCoefficients(FourCornerPlan *plan, const double (&c)[8]) {
    for (int i = 0; i < 8; ++i) plan->lineCoef[i] = c[i];
}

// c0 ... c7 of the first pass of `variant`.
void FirstPassCoefficients(const double *p, int32_t variant, double (&c)[8]) {
    double a = p[0], b = p[1], cc = p[2], d = p[3], e = p[4], f = p[5], g = p[6], h = p[7];
    const double byVariant[4][8] = {{0.0, a, b, cc, 0.0, g, h, 1.0},
                                    {0.0, e, d, f, 0.0, h, g, 1.0},
                                    {0.0, d, e, f, 0.0, g, h, 1.0},
                                    {0.0, b, a, cc, 0.0, h, g, 1.0}};
    for (int i = 0; i < 8; ++i) c[i] = byVariant[variant - 1][i];
}

int32_t FoldsWith(const double *c) {
    double a = c[3] / c[7];
    double b = (c[1] + c[3]) / (c[5] + c[7]);
    double cc = (c[2] + c[3]) / (c[6] + c[7]);
    double d = (c[0] + c[1] + c[2] + c[3]) / (c[4] + c[5] + c[6] + c[7]);
    // Zero (and a value that is not a number) counts as negative.
    bool firstPositive = a - b > 0.0;
    bool lastPositive = cc - d > 0.0;
    return firstPositive != lastPositive ? 1 : 0;
}

bool FirstPassFolds(const double *projection, int32_t variant) {
    double c[8];
    FirstPassCoefficients(projection, variant, c);
    return FoldsWith(c) != 0;
}

// How much of their length the first-pass lines of `variant` keep along the
// destination axis that pass writes, at the narrowest: 1 for lines along that
// axis, 0 for lines across it. Lines of the same source row or column form a
// pencil, sampled here at nine places.
double FirstPassLineSpan(const FourCornerPlan *plan, int32_t variant) {
    const double *p = plan->projection;
    bool rows = variant == 1 || variant == 3;
    bool alongX = variant == 1 || variant == 4;
    double narrowest = 1.0;
    for (int i = 0; i <= 8; ++i) {
        double k = i / 8.0, end[2][2];
        for (int e = 0; e < 2; ++e) {
            double u = rows ? e : k, v = rows ? k : e;
            double den = p[6] * u + p[7] * v + 1;
            end[e][0] = (p[0] * u + p[1] * v + p[2]) / den;
            end[e][1] = (p[3] * u + p[4] * v + p[5]) / den;
        }
        // Scaled to the larger component first, so that nothing overflows;
        // division and square root round the same in every build.
        double dx = std::fabs(end[1][0] - end[0][0]), dy = std::fabs(end[1][1] - end[0][1]);
        double larger = std::max(dx, dy);
        if (!(larger > 0) || !std::isfinite(larger)) continue;
        dx /= larger, dy /= larger;
        narrowest = std::min(narrowest, (alongX ? dx : dy) / std::sqrt(dx * dx + dy * dy));
    }
    return narrowest;
}

}  // namespace

int32_t FloorToInt32(double value) {
    if (value != value) return 0;
    if (value < -kTwoTo31) return INT32_MIN;
    if (value >= kTwoTo31) return INT32_MAX;
    int32_t truncated = static_cast<int32_t>(value);
    return static_cast<double>(truncated) > value ? truncated - 1 : truncated;
}

int32_t TruncateToInt32(double value) {
    if (value != value) return 0;
    if (value <= -kTwoTo31 - 1.0) return INT32_MIN;
    if (value >= kTwoTo31) return INT32_MAX;
    return static_cast<int32_t>(value);
}

void BoundFourCorner(FourCornerPlan *plan) {
    plan->offsetX = TruncateToInt32(SmallestOf(plan->cornerX));
    plan->offsetY = TruncateToInt32(SmallestOf(plan->cornerY));
    for (int i = 0; i < 4; ++i) {
        plan->cornerX[i] = plan->cornerX[i] - static_cast<double>(plan->offsetX);
        plan->cornerY[i] = plan->cornerY[i] - static_cast<double>(plan->offsetY);
    }
    plan->boxWidth = TruncateToInt32(LargestOf(plan->cornerX) + 1.0);
    plan->boxHeight = TruncateToInt32(LargestOf(plan->cornerY) + 1.0);
}

int32_t SolveFourCorner(FourCornerPlan *plan) {
    const double *x = plan->cornerX;
    const double *y = plan->cornerY;
    double *p = plan->projection;
    double sx = x[0] - x[1] + x[2] - x[3];
    double sy = y[0] - y[1] + y[2] - y[3];
    if (sx == 0.0 && sy == 0.0) {
        p[0] = x[1] - x[0];
        p[1] = x[3] - x[0];
        p[2] = x[0];
        p[3] = y[1] - y[0];
        p[4] = y[3] - y[0];
        p[5] = y[0];
        p[6] = 0.0;
        p[7] = 0.0;
        return 1;
    }
    double dx1 = x[1] - x[2];
    double dx2 = x[3] - x[2];
    double dy1 = y[1] - y[2];
    double dy2 = y[3] - y[2];
    double det = dx1 * dy2 - dx2 * dy1;
    double g = (sx * dy2 - dx2 * sy) / det;
    double h = (dx1 * sy - sx * dy1) / det;
    p[0] = x[1] - x[0] + g * x[1];
    p[1] = x[3] - x[0] + h * x[3];
    p[2] = x[0];
    p[3] = y[1] - y[0] + g * y[1];
    p[4] = y[3] - y[0] + h * y[3];
    p[5] = y[0];
    p[6] = g;
    p[7] = h;
    // The denominator g*u + h*v + 1 stays positive on the unit square. Three
    // corners on one line with the middle one at corner 2 give no finite
    // mapping at all: such a quad is refused, as it is with the middle one at
    // another corner (where the denominator reaches 0 there).
    bool finite = std::isfinite(g) && std::isfinite(h) && std::isfinite(p[0]) && std::isfinite(p[1]) &&
                  std::isfinite(p[3]) && std::isfinite(p[4]);
    return (finite && g > -1.0 && h > -1.0 && g + h > -1.0) ? 1 : 0;
}

void ChooseFourCornerVariant(FourCornerPlan *plan) {
    const double *x = plan->cornerX;
    const double *y = plan->cornerY;
    double height = static_cast<double>(plan->sourceHeight);
    double width = static_cast<double>(plan->sourceWidth);
    // Kept as whole doubles: a score beyond 32 bits still compares by size.
    double scores[4] = {
        std::floor((std::fabs(x[1] - x[0]) + std::fabs(x[3] - x[2])) * height),
        std::floor((std::fabs(y[3] - y[0]) + std::fabs(y[2] - y[1])) * width),
        std::floor((std::fabs(y[1] - y[0]) + std::fabs(y[3] - y[2])) * height),
        std::floor((std::fabs(x[3] - x[0]) + std::fabs(x[2] - x[1])) * width),
    };
    plan->variant = BestUntriedVariant(scores, plan->triedVariants);
    // A plan whose first pass would take some of its lines nearly across the
    // axis it writes squeezes each into a few samples: the edge such a line
    // forms then runs almost along the second pass's lines, which can only
    // cut it square at each line's centre, leaving holes and spill along a
    // sharp corner. Another plan is taken instead when one keeps every line
    // and does not fold. (A plan that folds is tried, and retried, as such.)
    constexpr double kNarrowestSpan = 0.2;  // lines within about 11.5 degrees of across
    auto avoided = [&](int32_t variant) {
        return FirstPassLineSpan(plan, variant) < kNarrowestSpan || FirstPassFolds(plan->projection, variant);
    };
    if (FirstPassLineSpan(plan, plan->variant) < kNarrowestSpan && !FirstPassFolds(plan->projection, plan->variant)) {
        uint32_t avoid = plan->triedVariants;
        for (int32_t variant = 1; variant <= 4; ++variant)
            if (avoided(variant)) avoid |= VariantBit(variant);
        if (avoid != FourCornerAllVariants) plan->variant = BestUntriedVariant(scores, avoid);
    }
    switch (plan->variant) {
        case 1: plan->interWidth = plan->boxWidth; plan->interHeight = plan->sourceHeight; break;
        case 2: plan->interWidth = plan->sourceWidth; plan->interHeight = plan->boxHeight; break;
        case 3: plan->interWidth = plan->sourceHeight; plan->interHeight = plan->boxHeight; break;
        default: plan->interWidth = plan->boxWidth; plan->interHeight = plan->sourceWidth; break;
    }
}

int32_t PlanFourCorner(int32_t sourceWidth, int32_t sourceHeight, const double *x, const double *y,
                       FourCornerPlan *plan) {
    if (plan == nullptr) return 0;
    plan->sourceWidth = sourceWidth;
    plan->sourceHeight = sourceHeight;
    if (x == nullptr || y == nullptr) return 0;
    for (int i = 0; i < 4; ++i) {
        plan->cornerX[i] = x[i];
        plan->cornerY[i] = y[i];
    }
    BoundFourCorner(plan);
    int32_t valid = SolveFourCorner(plan);
    if (valid) ChooseFourCornerVariant(plan);
    return valid;
}

int32_t HasFourCornerFold(const FourCornerPlan *plan) { return FoldsWith(plan->lineCoef); }

int32_t FirstPassLinesNeeded(const FourCornerPlan *plan) {
    const double *p = plan->projection;
    double a = p[0], b = p[1], c = p[2], d = p[3], e = p[4], f = p[5], g = p[6], h = p[7];
    // The first pass's lines are source rows (parameter v) in plans 1 and 3,
    // columns (u) in 2 and 4. From one line to the next the destination
    // point moves by the derivative along that parameter over the line
    // count, and the second pass, which runs along destination y in plans 1
    // and 4 and x in 2 and 3, meets the next line after the derivative taken
    // along its own direction (the other destination coordinate held). All
    // stay within about a pixel when there are as many lines as the largest
    // of them, which are largest at the square's edges, sampled here.
    bool rows = plan->variant == 1 || plan->variant == 3;
    bool alongY = plan->variant == 1 || plan->variant == 4;
    double largest = 0;
    for (int i = 0; i <= 4; ++i)
        for (int k = 0; k <= 4; ++k) {
            double u = i / 4.0, v = k / 4.0;
            double den = g * u + h * v + 1;
            double x = (a * u + b * v + c) / den, y = (d * u + e * v + f) / den;
            double xu = (a - x * g) / den, xv = (b - x * h) / den, yu = (d - y * g) / den, yv = (e - y * h) / den;
            double xp = rows ? xv : xu, yp = rows ? yv : yu, xq = rows ? xu : xv, yq = rows ? yu : yv;
            // Along the second pass: y moves by yp - yq * xp / xq when x is
            // held (plans 1 and 4), x by xp - xq * yp / yq when y is.
            double second = alongY ? yp - yq * xp / xq : xp - xq * yp / yq;
            double step = std::max(std::fabs(xp), std::fabs(yp));
            if (std::fabs(second) > step) step = std::fabs(second);  // not a number loses
            largest = std::max(largest, step);
        }
    int32_t lines = rows ? plan->sourceHeight : plan->sourceWidth;
    int32_t samples = rows ? plan->sourceWidth : plan->sourceHeight;
    // Strong perspective needs many more lines near its near edge than the
    // box is wide; the count stays below 16 times the box and keeps the copy
    // and the intermediate layer within 2^24 pixels each.
    int32_t along = plan->variant == 1 || plan->variant == 4 ? plan->boxWidth : plan->boxHeight;
    double limit = 16.0 * std::max(plan->boxWidth, plan->boxHeight) + 2;
    double byMemory = 16777216.0 / std::max(std::max(samples, along), 1);
    if (limit > byMemory) limit = byMemory;
    // Rounded down, so that the second pass still enlarges a little and
    // keeps an edge that lies on a pixel boundary opaque to its last pixel.
    // Lines up to one and a half pixels apart are left as they are: their
    // steps do not show, and the copy would cost a pass over the source.
    double needed = std::floor(std::min(largest, limit));
    return needed > 1.5 * lines ? static_cast<int32_t>(needed) : 0;
}

int32_t HasSecondPassPole(const FourCornerPlan *plan) {
    const double *p = plan->projection;
    double a = p[0], b = p[1], c = p[2], d = p[3], e = p[4], f = p[5], g = p[6], h = p[7];
    // The second pass's denominator o*s + t is the same on every line (c4 and
    // c6 are 0); these are its c5 and c7.
    double o, t;
    switch (plan->variant) {
        case 1: o = g * b - a * h, t = g * c - a; break;
        case 2: o = h * d - e * g, t = h * f - e; break;
        case 3: o = e * g - d * h, t = f * g - d; break;
        default: o = h * a - g * b, t = h * c - b; break;
    }
    double end = o + t;
    bool positive = t > 0.0 && end > 0.0;
    bool negative = t < 0.0 && end < 0.0;
    return positive || negative ? 0 : 1;
}

bool SourceExtent(Layer *source, int32_t &width, int32_t &height) {
    width = 0;
    height = 0;
    if (source == nullptr) return false;
    if (IsClippedLayer(source)) {
        // What an access computes: the part visible through every ancestor.
        // A visible part that an access would refuse (its size wrapped past
        // the 32-bit range) shows nothing, whatever its width says.
        UpdateVisibleRect(source);
        if (!IsProperRect(source->visibleRect) || !IsProperRect(source->visibleBounds)) return false;
        width = source->width;
        height = source->height;
    } else if (IsViewLayer(source)) {
        LayerAccess access;
        if (BeginLayerAccess(&access, source, nullptr) != 0) {
            width = access.width;
            height = access.height;
        }
        EndLayerAccess(&access);
    } else {
        width = source->width;
        height = source->height;
    }
    return width > 0 && height > 0;
}

// A window may reach past the 32-bit range (a corner near one end, the
// opposite one near the other); its size saturates there instead of wrapping
// to a negative extent that would draw nothing into its visible part.
namespace {
int32_t WindowExtent(int32_t low, int32_t high) {
    int64_t extent = static_cast<int64_t>(high) - low;
    return extent > INT32_MAX ? INT32_MAX : static_cast<int32_t>(extent < INT32_MIN ? INT32_MIN : extent);
}
}  // namespace

void DestinationExtent(const Layer *destination, int32_t &width, int32_t &height) {
    if (IsClippedLayer(destination)) {
        width = WindowExtent(destination->bounds.left, destination->bounds.right);
        height = WindowExtent(destination->bounds.top, destination->bounds.bottom);
    } else {
        width = destination->width;
        height = destination->height;
    }
}

int32_t SetupFirstPass(Layer *intermediate, Layer *source, FourCornerPlan *plan) {
    if (intermediate == nullptr || source == nullptr || plan == nullptr) return 0;
    // The source's visible size, as planned (the caller may hand in an
    // enlarged copy and its size).
    PassSize in{plan->sourceWidth, plan->sourceHeight};
    PassSize out = IntermediateSize(intermediate);
    // Any plan number other than 1 to 3 sets up plan 4.
    int32_t variant = plan->variant >= 1 && plan->variant <= 3 ? plan->variant : 4;
    SetInput(plan, in, variant == 1 || variant == 3);
    SetOutput(plan, out, variant == 1 || variant == 4);
    double c[8];
    FirstPassCoefficients(plan->projection, variant, c);
    SetLineCoefficients(plan, c);
    return 1;
}

int32_t SetupSecondPass(Layer *destination, Layer *intermediate, FourCornerPlan *plan) {
    if (destination == nullptr || intermediate == nullptr || plan == nullptr) return 0;
    PassSize in = IntermediateSize(intermediate);
    PassSize out{0, 0};
    DestinationExtent(destination, out.width, out.height);
    // Plans 1 and 4 resample intermediate columns into destination columns,
    // plans 2 and 3 rows into rows.
    bool alongRow = plan->variant == 2 || plan->variant == 3;
    SetInput(plan, in, alongRow);
    SetOutput(plan, out, alongRow);
    LimitStoresToBox(plan, alongRow);
    const double *p = plan->projection;
    double a = p[0], b = p[1], c = p[2], d = p[3], e = p[4], f = p[5], g = p[6], h = p[7];
    double n = static_cast<double>(plan->inLines);
    switch (plan->variant) {
        case 1:
            SetLineCoefficients(plan, {(e * g - d * h) * n, d * b - a * e, (f * g - d) * n, d * c - a * f, 0.0,
                                       g * b - a * h, 0.0, g * c - a});
            break;
        case 2:
            SetLineCoefficients(plan, {(a * h - b * g) * n, b * d - a * e, (c * h - b) * n, b * f - c * e, 0.0,
                                       h * d - e * g, 0.0, h * f - e});
            break;
        case 3:
            SetLineCoefficients(plan, {(b * g - a * h) * n, a * e - b * d, (c * g - a) * n, a * f - c * d, 0.0,
                                       e * g - d * h, 0.0, f * g - d});
            break;
        default:
            SetLineCoefficients(plan, {(d * h - e * g) * n, e * a - d * b, (f * h - e) * n, e * c - f * b, 0.0,
                                       h * a - g * b, 0.0, h * c - b});
            break;
    }
    return 1;
}

}  // namespace zl
