#include <cmath>

#include "blend/blend.h"
#include "fourcorner/divide.h"
#include "fourcorner/fourcorner.h"
#include "layer/layer.h"

namespace zl {

namespace {

// Pieces per line and the knots that end them, by the line's sample count.
struct PieceLayout {
    int count;
    int endKnots[8];
};

const PieceLayout &PiecesFor(int32_t sampleCount) {
    static const PieceLayout one{1, {8}};
    static const PieceLayout two{2, {4, 8}};
    static const PieceLayout four{4, {2, 4, 6, 8}};
    static const PieceLayout eight{8, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (sampleCount <= 4) return one;
    if (sampleCount <= 8) return two;
    if (sampleCount <= 16) return four;
    return eight;
}

// Nine knots, each split between two earlier ones, in the documented order.
void ComputeKnots(const LineFunction &line, Knot (&knots)[9]) {
    knots[0] = Knot{0.0, line.m / line.t};
    knots[8] = Knot{1.0, (line.l + line.m) / (line.o + line.t)};
    static const int kSplits[7][3] = {{4, 0, 8}, {2, 0, 4}, {6, 4, 8}, {1, 0, 2}, {3, 2, 4}, {5, 4, 6}, {7, 6, 8}};
    for (const auto &split : kSplits) knots[split[0]] = SplitSegment(knots[split[1]], knots[split[2]], line);
}

// Where a pass reads: line L, sample j at base + L*lineStep + j*sampleStep.
struct InputLines {
    const uint8_t *base;
    intptr_t sampleStep;
    intptr_t lineStep;
    int32_t samples;   // samples that may be read per line; the rest read as 0
    int32_t lines;     // lines that may be read
};

// Where a pass writes, and the window of samples and lines it may write.
struct OutputLines {
    uint8_t *base;
    intptr_t sampleStep;
    intptr_t lineStep;
    int32_t sampleLo, sampleHi;
    int32_t lineLo, lineHi;
};

// Alpha-weighted sums of the samples that make one output sample.
struct Sums {
    uint32_t a = 0, r = 0, g = 0, b = 0;  // each kept to 16 bits

    void Add(uint32_t sample, uint32_t weight) {
        if (sample == 0) return;
        uint32_t pa = ProductTable[TableIndex(sample >> 24, weight)];
        a = (a + pa) & 0xFFFF;
        uint32_t k = pa >> 8;
        r = (r + k * ((sample >> 16) & 0xFF)) & 0xFFFF;
        g = (g + k * ((sample >> 8) & 0xFF)) & 0xFFFF;
        b = (b + k * (sample & 0xFF)) & 0xFFFF;
    }
    void Start(uint32_t sample, uint32_t weight) {
        a = r = g = b = 0;
        Add(sample, weight);
    }
    uint32_t Pixel() const {
        uint32_t alpha = a >> 8;
        if (alpha == 0) return 0;
        return alpha << 24 | DivideSumByAlpha(r, alpha) << 16 | DivideSumByAlpha(g, alpha) << 8 |
               DivideSumByAlpha(b, alpha);
    }
};

// One line's fixed geometry: where it reads and writes, and its pieces.
struct LineSetup {
    const uint8_t *inLine;
    intptr_t inSampleStep;
    int32_t readable;  // samples that can be read; later ones read as 0
    uint8_t *outLine;
    intptr_t outSampleStep;
    int32_t storeLo, storeHi;  // output samples that may be written
    int32_t sampleCount;       // N
    int32_t outSamples;        // M
    bool reversed;
    const LineFunction *fn;
    const Knot *knots;
};

// The fixed-point walk of one line: consumes the input samples piece by piece
// and stores the output samples they make. The state lives in locals so that
// the stores to the output cannot be taken as changing it.
void WalkLine(const LineSetup &line, double start) {
    if (start != start) return;
    int32_t first = FloorToInt32(start);
    int32_t f = FloorToInt32((start - static_cast<double>(first)) * 255.0);
    if (f < 0) f = 0;
    if (f > 254) f = 254;
    int64_t skip = 0;
    if (first < 0) {
        skip = -static_cast<int64_t>(first);
        first = 0;
    } else if (first > line.outSamples) {
        first = line.outSamples;
    }
    int64_t remaining = static_cast<int64_t>(line.outSamples) - first;
    if (remaining <= 0) return;

    const PieceLayout &pieces = PiecesFor(line.sampleCount);
    int piece = -1;
    int32_t pieceLeft = 0, pieceEnd = 0;
    uint32_t e1 = 0, e2 = 0;
    auto loadPiece = [&](int32_t iStart) {
        while (++piece < pieces.count) {
            SegmentSteps steps =
                StepSegment(line.knots[pieces.endKnots[piece]].s, iStart, line.sampleCount, line.reversed, *line.fn);
            if (steps.iEnd <= iStart) continue;
            e1 = static_cast<uint32_t>(steps.e1);
            e2 = static_cast<uint32_t>(steps.e2);
            pieceLeft = steps.iEnd - iStart;
            pieceEnd = steps.iEnd;
            return true;
        }
        return false;
    };
    if (!loadPiece(0)) return;

    // Output position: index of the current output sample, moving by step.
    int64_t index = line.reversed ? static_cast<int64_t>(line.outSamples) - 1 - first : first;
    const int64_t indexStep = line.reversed ? -1 : 1;
    Sums sums;
    auto sample = [&](int32_t j) -> uint32_t {
        if (j >= line.readable) return 0;
        return *reinterpret_cast<const uint32_t *>(line.inLine + static_cast<intptr_t>(j) * line.inSampleStep);
    };
    auto store = [&]() {
        if (index < line.storeLo || index >= line.storeHi) return;
        uint32_t pixel = sums.Pixel();
        if (pixel != 0)
            *reinterpret_cast<uint32_t *>(line.outLine + static_cast<intptr_t>(index) * line.outSampleStep) = pixel;
    };
    // The current output sample is complete. False when the line has ended.
    auto emit = [&]() {
        if (skip > 0) {
            --skip;
            return true;
        }
        store();
        index += indexStep;
        return --remaining > 0;
    };
    auto finish = [&]() {
        if (skip == 0) store();
    };

    // A negative first difference (rounding on a line of almost no length,
    // or a piece whose quadratic dips) would read as an enormous unsigned
    // extent and smear one sample over the whole line; it is given none.
    auto extentOf = [](int32_t whole) -> uint64_t { return whole < 0 ? 0 : static_cast<uint32_t>(whole); };
    int32_t j = 0;
    uint32_t fraction = 0;
    uint64_t w = extentOf(static_cast<int32_t>(e1) >> 16);  // extent of sample j
    uint64_t u = 0;                                         // part of sample j given out
    // Next input sample. False when the line's input is used up.
    auto advance = [&]() {
        ++j;
        if (--pieceLeft == 0) {
            // A new piece starts with its own first difference: stepping it
            // once more would give its first sample the second sample's extent
            // and push the rest of the line past the image's true end.
            if (!loadPiece(pieceEnd)) return false;
        } else {
            e1 += e2;
        }
        uint32_t before = fraction;
        fraction += e1 << 16;
        w = extentOf((static_cast<int32_t>(e1) >> 16) + (fraction < before ? 1 : 0));
        return true;
    };

    uint32_t room = 255 - static_cast<uint32_t>(f);
    for (;;) {
        // Fill the current output sample from sample j.
        uint32_t weight;
        if (w >= room) {
            weight = room;
            u = room;
        } else {
            weight = static_cast<uint32_t>(w);
        }
        room -= weight;
        sums.Add(sample(j), weight);
        if (room > 0) {
            if (!advance()) return finish();
            continue;
        }
        for (;;) {
            if (!emit()) return;
            if (w <= 255) break;
            // Magnify: sample j covers more than one output sample. Output
            // samples that are skipped anyway are passed over in one step.
            if (skip > 0 && u + 255 < w) {
                uint64_t passable = (w - 1 - u) / 255;
                uint64_t k = static_cast<uint64_t>(skip) < passable ? static_cast<uint64_t>(skip) : passable;
                u += 255 * k;
                skip -= static_cast<int64_t>(k);
            }
            uint32_t mix = static_cast<uint32_t>(u * 255 / w);
            sums.Start(sample(j), 255 - mix);
            sums.Add(sample(j + 1), mix);
            u += 255;
            if (u < w) continue;
            u -= w;
            if (!advance()) return finish();
        }
        // Next: the rest of sample j opens the following output sample.
        uint64_t rest = (w > u ? w : u) - u;
        room = 255 - static_cast<uint32_t>(rest);
        sums.Start(sample(j), static_cast<uint32_t>(rest));
        if (!advance()) return finish();
    }
}

InputLines InputOf(const LayerAccess &access, const FourCornerPlan &plan) {
    bool alongRow = plan.inSamplesAlongRow != 0;
    InputLines in;
    in.base = reinterpret_cast<const uint8_t *>(access.pixels);
    in.sampleStep = alongRow ? 4 : access.rowBytes;
    in.lineStep = alongRow ? access.rowBytes : 4;
    in.samples = alongRow ? access.width : access.height;
    in.lines = alongRow ? access.height : access.width;
    return in;
}

// Output addresses count from the layer's own top-left corner, and only the
// access's region is written: a window cut off by an ancestor gets in its
// visible part what the whole window would get there.
OutputLines OutputOf(const LayerAccess &access, const FourCornerPlan &plan) {
    bool alongRow = plan.outSamplesAlongRow != 0;
    OutputLines out;
    out.base = reinterpret_cast<uint8_t *>(access.origin);
    out.sampleStep = alongRow ? 4 : access.rowBytes;
    out.lineStep = alongRow ? access.rowBytes : 4;
    out.sampleLo = alongRow ? access.region.left : access.region.top;
    out.sampleHi = alongRow ? access.region.right : access.region.bottom;
    out.lineLo = alongRow ? access.region.top : access.region.left;
    out.lineHi = alongRow ? access.region.bottom : access.region.right;
    if (plan.storeSamples < out.sampleHi) out.sampleHi = plan.storeSamples;
    if (plan.storeLines < out.lineHi) out.lineHi = plan.storeLines;
    return out;
}

void ResampleLines(const LayerAccess &outAccess, const LayerAccess &inAccess, const FourCornerPlan &plan) {
    if (plan.inSamples <= 0 || plan.inLines <= 0) return;
    InputLines in = InputOf(inAccess, plan);
    OutputLines out = OutputOf(outAccess, plan);
    int32_t lines = plan.inLines < plan.outLines ? plan.inLines : plan.outLines;
    if (in.lines < lines) lines = in.lines;
    if (out.lineHi < lines) lines = out.lineHi;
    const double *c = plan.lineCoef;
    double inLines = static_cast<double>(plan.inLines);
    for (int32_t line = out.lineLo > 0 ? out.lineLo : 0; line < lines; ++line) {
        double p = (static_cast<double>(line) + 0.5) / inLines;
        LineFunction fn{c[0] * p + c[1], c[2] * p + c[3], c[4] * p + c[5], c[6] * p + c[7]};
        Knot knots[9];
        ComputeKnots(fn, knots);
        bool reversed = knots[8].position < knots[0].position;
        double start = reversed ? static_cast<double>(plan.outSamples) - knots[0].position : knots[0].position;
        LineSetup setup;
        setup.inLine = in.base + static_cast<intptr_t>(line) * in.lineStep;
        setup.inSampleStep = in.sampleStep;
        setup.readable = in.samples < plan.inSamples ? in.samples : plan.inSamples;
        setup.outLine = out.base + static_cast<intptr_t>(line) * out.lineStep;
        setup.outSampleStep = out.sampleStep;
        setup.storeLo = out.sampleLo;
        setup.storeHi = out.sampleHi;
        setup.sampleCount = plan.inSamples;
        setup.outSamples = plan.outSamples;
        setup.reversed = reversed;
        setup.fn = &fn;
        setup.knots = knots;
        WalkLine(setup, start);
    }
}

}  // namespace

Knot SplitSegment(const Knot &a, const Knot &b, const LineFunction &line) {
    double s;
    if (std::fabs(line.o) <= 0.0000001) {
        s = (a.s + b.s) / 2;
    } else {
        double k = (b.position - a.position) / (b.s - a.s);
        double r = std::sqrt((line.l * line.t - line.m * line.o) / k);
        s = (r - line.t) / line.o;
        if (s > b.s || s <= a.s) s = (-r - line.t) / line.o;
    }
    return Knot{s, line.Position(s)};
}

SegmentSteps StepSegment(double sEnd, int32_t iStart, int32_t sampleCount, bool reversed, const LineFunction &line) {
    SegmentSteps steps{0, 0, iStart};
    double n = static_cast<double>(sampleCount);
    int32_t iEnd = FloorToInt32(sEnd * n);
    // Knots out of order (possible only with values that are not finite)
    // give empty pieces; no piece reaches past the line.
    if (iEnd > sampleCount) iEnd = sampleCount;
    if (iEnd <= iStart) return steps;
    steps.iEnd = iEnd;
    double a = static_cast<double>(iStart) / n;
    double b = static_cast<double>(iEnd) / n;
    double d = (b - a) * n;
    double q0 = line.Position(a);
    double q1 = line.Position(b);
    double qm = line.Position((a + b) / 2.0);
    double a2 = 2 * (q0 - 2 * qm + q1) / d / d;
    double a1 = (4 * qm - 3 * q0 - q1) / d;
    if (reversed) {
        a1 = -a1;
        a2 = -a2;
    }
    steps.e1 = FloorToInt32((a1 + a2) * 255 * 65536);
    steps.e2 = FloorToInt32(a2 * 255 * 131072);
    return steps;
}

int32_t ResamplePass(Layer *output, Layer *input, const FourCornerPlan *plan) {
    LayerAccess outAccess;
    LayerAccess inAccess;
    bool outOpen = BeginLayerAccess(&outAccess, output, nullptr) != 0;
    bool inOpen = BeginLayerAccess(&inAccess, input, nullptr) != 0;
    if (outOpen && inOpen && plan != nullptr) ResampleLines(outAccess, inAccess, *plan);
    EndLayerAccess(&inAccess);
    return EndLayerAccess(&outAccess);
}

}  // namespace zl
