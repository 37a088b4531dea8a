// Turning the held source lines into one destination line. Every pixel is a
// weighted sum of its footprint's taps in a fixed order, in double precision,
// so that the result has the same bits on every build.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
template <class SumsT>
inline uint32_t AddLineTaps(SumsT &sums, const uint32_t *row, const ScaleAxisEntry &h, double wholeWeight,
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

template <class SumsT>
void ProduceLineWith(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                     int32_t columnCount) {
    const ScaleAxisEntry &v = *line.entry;
    const int32_t d = v.wholeCount;
    const bool trailingLine = d != -1 && v.trailWeight > 0;
    const double wh = WholeWeight(horizontal);
    size_t column = 0;  // the footprint's leading pixel, relative to the rows' start
    for (int32_t j = 0; j < columnCount; ++j) {
        const ScaleAxisEntry &h = AxisEntry(horizontal, firstColumn + j);
        SumsT sums;
        uint32_t last = AddLineTaps(sums, line.rows[0] + column, h, wh, v.leadWeight, false);
        for (int32_t k = 1; k <= d; ++k)
            last = AddLineTaps(sums, line.rows[k] + column, h, wh, line.wholeWeight, false);
        if (trailingLine) last = AddLineTaps(sums, line.rows[d + 1] + column, h, wh, v.trailWeight, true);
        sums.AddWeighted(last, sums.remainder);
        dstRow[j] = sums.Pixel();
        column += static_cast<size_t>(h.advance);
    }
}

}  // namespace

void ProduceLinePlain(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                      int32_t columnCount) {
    ProduceLineWith<Sums>(dstRow, line, horizontal, firstColumn, columnCount);
}

#if defined(__SSE2__)

namespace {

// The same sums as `Sums`, two channels per register: (blue, green) and
// (red, alpha). Each lane sees exactly the products and additions of the
// plain form, in the same order, so the bits are the same.
struct PackedSums {
    __m128d blueGreen = _mm_setzero_pd();
    __m128d redAlpha = _mm_setzero_pd();
    double remainder = 1.0;

    static __m128i Channels(uint32_t pixel) {
        const __m128i zero = _mm_setzero_si128();
        __m128i v = _mm_cvtsi32_si128(static_cast<int>(pixel));
        v = _mm_unpacklo_epi8(v, zero);
        return _mm_unpacklo_epi16(v, zero);  // blue, green, red, alpha as int32
    }

    void AddWeighted(uint32_t pixel, double weight) {
        __m128i c = Channels(pixel);
        __m128d bg = _mm_cvtepi32_pd(c);
        __m128d ra = _mm_cvtepi32_pd(_mm_shuffle_epi32(c, _MM_SHUFFLE(3, 2, 3, 2)));
        __m128d w = _mm_set1_pd(weight);
        __m128d t = _mm_mul_pd(w, _mm_unpackhi_pd(ra, ra));  // weight * alpha, twice
        blueGreen = _mm_add_pd(blueGreen, _mm_mul_pd(bg, t));
        // red * t, and alpha * weight (= t) for the alpha sum.
        redAlpha = _mm_add_pd(redAlpha, _mm_mul_pd(ra, _mm_unpacklo_pd(t, w)));
    }
    void Add(uint32_t pixel, double weight) {
        remainder -= weight;
        AddWeighted(pixel, weight);
    }

    uint32_t Pixel() const {
        uint32_t a = ClampToByte(RoundToEven(_mm_cvtsd_f64(_mm_unpackhi_pd(redAlpha, redAlpha))));
        if (a == 0) return 0;
        const __m128d shift = _mm_set1_pd(6755399441055744.0);
        const __m128d inverse = _mm_set1_pd(AlphaInverseTable[a]);
        const __m128d low = _mm_setzero_pd();
        const __m128d high = _mm_set1_pd(255.0);
        __m128d bg = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(blueGreen, inverse), shift), shift);
        __m128d rr = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(redAlpha, inverse), shift), shift);
        bg = _mm_max_pd(_mm_min_pd(bg, high), low);
        rr = _mm_max_pd(_mm_min_pd(rr, high), low);
        __m128i bgi = _mm_cvttpd_epi32(bg);
        uint32_t b = static_cast<uint32_t>(_mm_cvtsi128_si32(bgi));
        uint32_t g = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(bgi, 1)));
        uint32_t r = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_cvttpd_epi32(rr)));
        return a << 24 | r << 16 | g << 8 | b;
    }
};

}  // namespace

void ProduceLine(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                 int32_t columnCount) {
    ProduceLineWith<PackedSums>(dstRow, line, horizontal, firstColumn, columnCount);
}

#else

void ProduceLine(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                 int32_t columnCount) {
    ProduceLinePlain(dstRow, line, horizontal, firstColumn, columnCount);
}

#endif

}  // namespace zl
