#include <cmath>

#include "blend/blend.h"
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
    uint16_t a = 0, r = 0, g = 0, b = 0;

    void Add(uint32_t sample, uint32_t weight) {
        if (sample == 0) return;
        uint32_t pa = ProductTable[TableIndex(sample >> 24, weight)];
        a = static_cast<uint16_t>(a + pa);
        uint32_t k = pa >> 8;
        r = static_cast<uint16_t>(r + k * ((sample >> 16) & 0xFF));
        g = static_cast<uint16_t>(g + k * ((sample >> 8) & 0xFF));
        b = static_cast<uint16_t>(b + k * (sample & 0xFF));
    }
    void Start(uint32_t sample, uint32_t weight) {
        a = r = g = b = 0;
        Add(sample, weight);
    }
    uint32_t Pixel() const {
        uint32_t alpha = a >> 8;
        if (alpha == 0) return 0;
        return alpha << 24 | (r / alpha) << 16 | (g / alpha) << 8 | (b / alpha);
    }
};

// The fixed-point walk of one line: consumes the input samples piece by piece
// and stores the output samples they make.
class LineWalk {
public:
    LineWalk(const InputLines &in, const OutputLines &out, int32_t line, int32_t sampleCount, int32_t outSamples,
             const LineFunction &fn, const Knot (&knots)[9], bool reversed)
        : in_(in), out_(out), fn_(fn), knots_(knots), pieces_(PiecesFor(sampleCount)), n_(sampleCount),
          m_(outSamples), reversed_(reversed) {
        inLine_ = in.base + static_cast<intptr_t>(line) * in.lineStep;
        outLine_ = out.base + static_cast<intptr_t>(line) * out.lineStep;
        readable_ = in.samples < sampleCount ? in.samples : sampleCount;
    }

    void Run(double start);

private:
    uint32_t Sample(int32_t j) const {
        if (j >= readable_) return 0;
        return *reinterpret_cast<const uint32_t *>(inLine_ + static_cast<intptr_t>(j) * in_.sampleStep);
    }
    bool LoadPiece(int32_t iStart);
    bool Advance();
    bool Emit();
    void Finish();
    void Store();

    const InputLines &in_;
    const OutputLines &out_;
    const LineFunction &fn_;
    const Knot (&knots_)[9];
    const PieceLayout &pieces_;
    int32_t n_;
    int32_t m_;
    bool reversed_;
    const uint8_t *inLine_;
    uint8_t *outLine_;
    int32_t readable_;

    int piece_ = -1;           // index into pieces_.endKnots
    int32_t pieceLeft_ = 0;    // samples left in the current piece
    int32_t pieceEnd_ = 0;     // first sample after the current piece
    uint32_t e1_ = 0, e2_ = 0;
    uint32_t fraction_ = 0;
    uint64_t w_ = 0;           // extent of sample j (32 bits, unsigned)
    uint64_t u_ = 0;           // part of sample j given out already
    int32_t j_ = 0;
    int64_t skip_ = 0;
    int64_t remaining_ = 0;
    int64_t at_ = 0;           // output samples moved so far from the start
    int64_t first_ = 0;        // start index I
    Sums sums_;
};

// Loads the next piece that holds samples, starting at iStart. False when
// the line has no piece left.
bool LineWalk::LoadPiece(int32_t iStart) {
    while (++piece_ < pieces_.count) {
        SegmentSteps steps = StepSegment(knots_[pieces_.endKnots[piece_]].s, iStart, n_, reversed_, fn_);
        if (steps.iEnd <= iStart) continue;
        e1_ = static_cast<uint32_t>(steps.e1);
        e2_ = static_cast<uint32_t>(steps.e2);
        pieceLeft_ = steps.iEnd - iStart;
        pieceEnd_ = steps.iEnd;
        return true;
    }
    return false;
}

bool LineWalk::Advance() {
    ++j_;
    if (--pieceLeft_ == 0 && !LoadPiece(pieceEnd_)) return false;
    e1_ += e2_;
    uint32_t before = fraction_;
    fraction_ += e1_ << 16;
    w_ = static_cast<uint32_t>((static_cast<int32_t>(e1_) >> 16) + (fraction_ < before ? 1 : 0));
    return true;
}

void LineWalk::Store() {
    int64_t index = reversed_ ? m_ - 1 - first_ - at_ : first_ + at_;
    if (index < out_.sampleLo || index >= out_.sampleHi) return;
    uint32_t pixel = sums_.Pixel();
    if (pixel == 0) return;
    *reinterpret_cast<uint32_t *>(outLine_ + static_cast<intptr_t>(index) * out_.sampleStep) = pixel;
}

// The current output sample is complete. False when the line has ended.
bool LineWalk::Emit() {
    if (skip_ > 0) {
        --skip_;
        return true;
    }
    Store();
    ++at_;
    return --remaining_ > 0;
}

void LineWalk::Finish() {
    if (skip_ > 0) return;
    Store();
}

void LineWalk::Run(double start) {
    if (start != start) return;
    int32_t i = FloorToInt32(start);
    int32_t f = FloorToInt32((start - static_cast<double>(i)) * 255.0);
    if (f < 0) f = 0;
    if (f > 254) f = 254;
    if (i < 0) {
        skip_ = -static_cast<int64_t>(i);
        i = 0;
    } else if (i > m_) {
        i = m_;
    }
    first_ = i;
    remaining_ = static_cast<int64_t>(m_) - i;
    if (remaining_ <= 0) return;
    if (!LoadPiece(0)) return;

    uint32_t room = 255 - static_cast<uint32_t>(f);
    w_ = static_cast<uint32_t>(static_cast<int32_t>(e1_) >> 16);
    for (;;) {
        // Fill the current output sample from sample j.
        uint32_t weight;
        if (w_ >= room) {
            weight = room;
            u_ = room;
        } else {
            weight = static_cast<uint32_t>(w_);
        }
        room -= weight;
        sums_.Add(Sample(j_), weight);
        if (room > 0) {
            if (!Advance()) return Finish();
            continue;
        }
        for (;;) {
            if (!Emit()) return;
            if (w_ <= 255) break;
            // Magnify: sample j covers more than one output sample. Output
            // samples that are skipped anyway are passed over in one step.
            if (skip_ > 0 && u_ + 255 < w_) {
                uint64_t passable = (w_ - 1 - u_) / 255;
                uint64_t k = static_cast<uint64_t>(skip_) < passable ? static_cast<uint64_t>(skip_) : passable;
                u_ += 255 * k;
                skip_ -= static_cast<int64_t>(k);
            }
            uint32_t mix = static_cast<uint32_t>(u_ * 255 / w_);
            sums_.Start(Sample(j_), 255 - mix);
            sums_.Add(Sample(j_ + 1), mix);
            u_ += 255;
            if (u_ < w_) continue;
            u_ -= w_;
            if (!Advance()) return Finish();
        }
        // Next: the rest of sample j opens the following output sample.
        uint64_t rest = (w_ > u_ ? w_ : u_) - u_;
        room = 255 - static_cast<uint32_t>(rest);
        sums_.Start(Sample(j_), static_cast<uint32_t>(rest));
        if (!Advance()) return Finish();
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
        LineWalk walk(in, out, line, plan.inSamples, plan.outSamples, fn, knots, reversed);
        walk.Run(start);
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
