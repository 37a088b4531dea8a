// Turning the held source lines into one destination line. Every pixel is a
// weighted sum of its footprint's taps in a fixed order, in double precision,
// so that the result has the same bits on every build.
#include "blend/blend.h"
#include "scale/scale.h"

namespace zl {

namespace {

// Round to nearest, ties to even, for |x| < 2^51: adding and subtracting
// 1.5 * 2^52 leaves the integer that the default rounding mode picks.
inline double RoundToEven(double x) {
    constexpr double kShift = 6755399441055744.0;
    return (x + kShift) - kShift;
}

inline uint32_t ClampToByte(double rounded) {
    if (!(rounded > 0.0)) return 0;
    if (rounded >= 255.0) return 255;
    return static_cast<uint32_t>(rounded);
}

// Alpha sum, colour sums (blue, green, red) and the weight not yet given out.
struct Sums {
    double remainder = 1.0;
    double alpha = 0.0;
    double blue = 0.0;
    double green = 0.0;
    double red = 0.0;

    void Add(uint32_t pixel, double weight) {
        remainder -= weight;
        AddWeighted(pixel, weight);
    }
    void AddWeighted(uint32_t pixel, double weight) {
        double t = weight * static_cast<double>(pixel >> 24);
        alpha += t;
        blue += static_cast<double>(pixel & 0xFF) * t;
        green += static_cast<double>((pixel >> 8) & 0xFF) * t;
        red += static_cast<double>((pixel >> 16) & 0xFF) * t;
    }
    uint32_t Pixel() const {
        uint32_t a = ClampToByte(RoundToEven(alpha));
        if (a == 0) return 0;
        double inverse = AlphaInverseTable[a];
        uint32_t b = ClampToByte(RoundToEven(blue * inverse));
        uint32_t gr = ClampToByte(RoundToEven(green * inverse));
        uint32_t r = ClampToByte(RoundToEven(red * inverse));
        return a << 24 | r << 16 | gr << 8 | b;
    }
};

// Adds one line's taps of a horizontal footprint; on the trailing line the
// trailing pixel (the corner) is only read. Returns the last pixel read.
uint32_t AddLineTaps(Sums &sums, const uint32_t *row, const ScaleAxisEntry &h, double wholeWeight,
                     double lineWeight, bool cornerLine) {
    uint32_t last = row[0];
    sums.Add(last, lineWeight * h.leadWeight);
    if (h.wholeCount >= 1) {
        double w = lineWeight * wholeWeight;
        for (int32_t k = 1; k <= h.wholeCount; ++k) {
            last = row[k];
            sums.Add(last, w);
        }
    }
    if (h.wholeCount != -1 && h.trailWeight > 0) {
        last = row[h.wholeCount + 1];
        if (!cornerLine) sums.Add(last, lineWeight * h.trailWeight);
    }
    return last;
}

}  // namespace

void ProduceLinePlain(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                      int32_t columnCount) {
    const ScaleAxisEntry &v = *line.entry;
    const int32_t d = v.wholeCount;
    const bool trailingLine = d != -1 && v.trailWeight > 0;
    const double wh = WholeWeight(horizontal);
    size_t column = 0;  // the footprint's leading pixel, relative to the rows' start
    for (int32_t j = 0; j < columnCount; ++j) {
        const ScaleAxisEntry &h = AxisEntry(horizontal, firstColumn + j);
        Sums sums;
        uint32_t last = AddLineTaps(sums, line.rows[0] + column, h, wh, v.leadWeight, false);
        for (int32_t k = 1; k <= d; ++k)
            last = AddLineTaps(sums, line.rows[k] + column, h, wh, line.wholeWeight, false);
        if (trailingLine) last = AddLineTaps(sums, line.rows[d + 1] + column, h, wh, v.trailWeight, true);
        sums.AddWeighted(last, sums.remainder);
        dstRow[j] = sums.Pixel();
        column += static_cast<size_t>(h.advance);
    }
}

void ProduceLine(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                 int32_t columnCount) {
    ProduceLinePlain(dstRow, line, horizontal, firstColumn, columnCount);
}

}  // namespace zl
