#include <cmath>

#include "blend/blend.h"
#include "fourcorner/divide.h"
#include "fourcorner/fourcorner.h"
#include "layer/layer.h"
#include "module/fp_env.h"

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

// Nine knots: s0 = 0 and s8 = 1, then s4 split from (s0, s8), s2 from
// (s0, s4), s6 from (s4, s8), and s1, s3, s5, s7 from the pairs around them.
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

#if defined(__SSE2__)
// The same sums in the four 16-bit lanes of a vector (blue, green, red,
// alpha), wrapping as the scalar ones do. A sample of value 0 adds 0 here
// without a test.
struct VectorSums {
    __m128i v = _mm_setzero_si128();

    void Add(uint32_t sample, uint32_t weight) {
        uint32_t pa = ProductTable[TableIndex(sample >> 24, weight)];
        __m128i channels = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(sample)), _mm_setzero_si128());
        __m128i k = _mm_shufflelo_epi16(_mm_cvtsi32_si128(static_cast<int>(pa >> 8)), 0);
        __m128i product = _mm_insert_epi16(_mm_mullo_epi16(channels, k), static_cast<int>(pa), 3);
        v = _mm_add_epi16(v, product);
    }
    void Start(uint32_t sample, uint32_t weight) {
        v = _mm_setzero_si128();
        Add(sample, weight);
    }
    uint32_t Pixel() const { return PixelOfLaneSums(v); }
    void Load(const Sums &s) {
        v = _mm_setr_epi16(static_cast<int16_t>(s.b), static_cast<int16_t>(s.g), static_cast<int16_t>(s.r),
                           static_cast<int16_t>(s.a), 0, 0, 0, 0);
    }
    void StoreTo(Sums &s) const {
        s.b = static_cast<uint32_t>(_mm_extract_epi16(v, 0));
        s.g = static_cast<uint32_t>(_mm_extract_epi16(v, 1));
        s.r = static_cast<uint32_t>(_mm_extract_epi16(v, 2));
        s.a = static_cast<uint32_t>(_mm_extract_epi16(v, 3));
    }
};
using FastSums = VectorSums;
#else
struct FastSums : Sums {
    void Load(const Sums &s) { static_cast<Sums &>(*this) = s; }
    void StoreTo(Sums &s) const { s = *this; }
};
#endif

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
    bool fast;  // reducing pieces take the walk's short loop
};

// The fixed-point walk of one line: consumes the input samples piece by piece
// and stores the output samples they make. Input sample j has an extent of w
// coverage units in the output, of which u have gone to earlier output
// samples. Where w is at most one output sample, output samples are area
// averages; where it is longer, each output sample takes the value at its
// centre, linear between input sample centres and held beyond the first and
// last one, so that only the partly covered pixels at the two ends of a line
// lose alpha.
//
// The walk's state is never reached through the output pixels: the member
// functions take `this` as restrict, so that a stored pixel does not make
// the compiler reload the state.
// The walk's members do not alias the lines it reads and writes, which GCC
// learns from a restrict-qualified this. Clang (the fuzzing build) does not
// let such a member call the members of its sums, so it goes without.
#if defined(__clang__)
#define ZL_WALK_RESTRICT
#else
#define ZL_WALK_RESTRICT __restrict__
#endif

class LineWalk {
public:
    LineWalk(const LineSetup &line, int32_t first, int64_t skip, int64_t remaining)
        : line_(line), pieces_(PiecesFor(line.sampleCount)), skip_(skip), remaining_(remaining),
          index_(line.reversed ? static_cast<int64_t>(line.outSamples) - 1 - first : first),
          indexStep_(line.reversed ? -1 : 1) {}

    // Walks the line from an output sample that is already `covered` / 255
    // used up.
    void Run(uint32_t covered) ZL_WALK_RESTRICT;

private:
    bool LoadPiece(int32_t iStart) ZL_WALK_RESTRICT;
    uint32_t Sample(int32_t j) const ZL_WALK_RESTRICT {
        if (j < 0 || j >= line_.readable) return 0;
        return *reinterpret_cast<const uint32_t *>(line_.inLine + static_cast<intptr_t>(j) * line_.inSampleStep);
    }
    void Store() ZL_WALK_RESTRICT;
    bool Emit() ZL_WALK_RESTRICT;
    void Finish() ZL_WALK_RESTRICT {
        if (skip_ == 0) Store();
    }
    bool Advance() ZL_WALK_RESTRICT;
    // Input sample j, extent w, before the output sample that starts u into
    // it: the value at that output sample's centre.
    void Interpolate() ZL_WALK_RESTRICT;
    bool IsLastSample() const ZL_WALK_RESTRICT { return j_ + 1 >= line_.sampleCount; }
    bool RunReducing(uint32_t &room) ZL_WALK_RESTRICT;

    const LineSetup &line_;
    const PieceLayout &pieces_;
    int piece_ = -1;
    int32_t pieceLeft_ = 0;  // input samples left in the current piece
    int32_t pieceEnd_ = 0;   // first input sample after it
    uint64_t e1_ = 0;        // first difference, 16.16 coverage units (two's complement)
    uint64_t e2_ = 0;        // second difference
    uint32_t fraction_ = 0;  // 16-bit fraction of the accumulated extents, in the high half
    int64_t skip_;           // output samples still to discard
    int64_t remaining_;      // output samples that may still be stored
    int64_t index_;          // current output sample
    int64_t indexStep_;
    Sums sums_;
    int32_t j_ = 0;   // current input sample
    uint64_t w_ = 0;  // its extent
    uint64_t u_ = 0;  // its part given out
    bool reducing_ = false;  // every sample of the current piece fits in one output sample
};

inline __attribute__((always_inline)) bool LineWalk::LoadPiece(int32_t iStart) ZL_WALK_RESTRICT {
    while (++piece_ < pieces_.count) {
        SegmentSteps steps =
            StepSegment(line_.knots[pieces_.endKnots[piece_]].s, iStart, line_.sampleCount, line_.reversed, *line_.fn);
        if (steps.iEnd <= iStart) continue;
        e1_ = static_cast<uint64_t>(steps.e1);
        e2_ = static_cast<uint64_t>(steps.e2);
        pieceLeft_ = steps.iEnd - iStart;
        pieceEnd_ = steps.iEnd;
        // The first differences of a piece change linearly, so its samples'
        // extents all lie within 0 ... 255 units when both ends' do.
        reducing_ = false;
        if (line_.fast && pieceLeft_ > 1 && steps.e2 > -(int64_t{1} << 24) && steps.e2 < (int64_t{1} << 24)) {
            int64_t last = steps.e1 + steps.e2 * (pieceLeft_ - 1);
            reducing_ = steps.e1 >= 0 && last >= 0 && steps.e1 < (int64_t{255} << 16) && last < (int64_t{255} << 16);
        }
        return true;
    }
    return false;
}

inline __attribute__((always_inline)) void LineWalk::Store() ZL_WALK_RESTRICT {
    if (index_ < line_.storeLo || index_ >= line_.storeHi) return;
    uint32_t pixel = sums_.Pixel();
    if (pixel != 0)
        *reinterpret_cast<uint32_t *>(line_.outLine + static_cast<intptr_t>(index_) * line_.outSampleStep) = pixel;
}

// The current output sample is complete. False when the line has ended.
inline __attribute__((always_inline)) bool LineWalk::Emit() ZL_WALK_RESTRICT {
    if (skip_ > 0) {
        --skip_;
        return true;
    }
    Store();
    index_ += indexStep_;
    return --remaining_ > 0;
}

// A negative first difference (rounding on a line of almost no length, or a
// piece whose quadratic dips) would read as an enormous unsigned extent and
// smear one sample over the whole line; it is given none.
static uint64_t ExtentOf(int64_t whole) { return whole < 0 ? 0 : static_cast<uint64_t>(whole); }

// Next input sample. False when the line's input is used up.
inline __attribute__((always_inline)) bool LineWalk::Advance() ZL_WALK_RESTRICT {
    ++j_;
    if (--pieceLeft_ == 0) {
        // A new piece starts with its own first difference: stepping it once
        // more would give its first sample the second sample's extent and
        // push the rest of the line past the image's true end.
        if (!LoadPiece(pieceEnd_)) return false;
    } else {
        e1_ += e2_;
    }
    uint32_t before = fraction_;
    fraction_ += static_cast<uint32_t>(e1_) << 16;
    w_ = ExtentOf((static_cast<int64_t>(e1_) >> 16) + (fraction_ < before ? 1 : 0));
    return true;
}

inline __attribute__((always_inline)) void LineWalk::Interpolate() ZL_WALK_RESTRICT {
    // Twice the centre's offset into sample j, against twice the half-way
    // point w: past it the value moves toward sample j + 1, before it toward
    // j - 1, in proportion to the distance in input samples.
    uint64_t centre = 2 * u_ + 255;
    int32_t neighbour = centre >= w_ ? j_ + 1 : j_ - 1;
    uint64_t distance = centre >= w_ ? centre - w_ : w_ - centre;
    uint64_t mix = neighbour < 0 || neighbour >= line_.sampleCount ? 0 : distance * 255 / (2 * w_);
    if (mix > 255) mix = 255;
    sums_.Start(Sample(j_), 255 - static_cast<uint32_t>(mix));
    sums_.Add(Sample(neighbour), static_cast<uint32_t>(mix));
}

// The walk through the samples of a reducing piece, all but its last (whose
// Advance loads the next piece), while no output sample is skipped: each
// sample either adds to the current output sample or completes it and opens
// the next with its rest. The same steps as the general walk, with its state
// in registers and the extents in 32 bits, which hold them there. False when
// the line has ended.
inline __attribute__((always_inline)) bool LineWalk::RunReducing(uint32_t &room) ZL_WALK_RESTRICT {
    int32_t count = pieceLeft_ - 1;
    if (line_.readable - j_ < count) count = line_.readable - j_;
    if (count <= 0) return true;
    const intptr_t inStep = line_.inSampleStep;
    const uint8_t *in = line_.inLine + static_cast<intptr_t>(j_) * inStep;
    int64_t index = index_;
    const int64_t storeLo = line_.storeLo, storeHi = line_.storeHi;
    int64_t remaining = remaining_;
    int32_t e1 = static_cast<int32_t>(e1_), e2 = static_cast<int32_t>(e2_);
    uint32_t fraction = fraction_;
    uint32_t w = static_cast<uint32_t>(w_);
    uint32_t left = room;
    FastSums sums;
    sums.Load(sums_);
    bool ended = false;
    for (int32_t k = 0; k < count; ++k) {
        uint32_t sample = *reinterpret_cast<const uint32_t *>(in);
        if (w < left) {
            sums.Add(sample, w);
            left -= w;
        } else {
            sums.Add(sample, left);
            if (index >= storeLo && index < storeHi) {
                uint32_t pixel = sums.Pixel();
                if (pixel != 0)
                    *reinterpret_cast<uint32_t *>(line_.outLine + static_cast<intptr_t>(index) * line_.outSampleStep) =
                        pixel;
            }
            index += indexStep_;
            if (--remaining == 0) {
                ended = true;
                break;
            }
            uint32_t rest = w - left;
            left = 255 - rest;
            sums.Start(sample, rest);
        }
        in += inStep;
        e1 += e2;
        uint32_t before = fraction;
        fraction += static_cast<uint32_t>(e1) << 16;
        w = static_cast<uint32_t>(e1 >> 16) + (fraction < before ? 1 : 0);
        ++j_;
        --pieceLeft_;
    }
    index_ = index;
    remaining_ = remaining;
    e1_ = static_cast<uint64_t>(static_cast<int64_t>(e1));
    fraction_ = fraction;
    w_ = w;
    room = left;
    sums.StoreTo(sums_);
    return !ended;
}

void LineWalk::Run(uint32_t covered) ZL_WALK_RESTRICT {
    if (!LoadPiece(0)) return;
    if (static_cast<int64_t>(e1_) > int64_t{255} << 16) {
        // An enlarged line: its sample boundaries are rounded up, like its
        // extents, so that it reaches at least its true end.
        fraction_ = 0xFFFF0000u;
        fraction_ += static_cast<uint32_t>(e1_) << 16;
        w_ = ExtentOf((static_cast<int64_t>(e1_) >> 16) + (fraction_ < 0xFFFF0000u ? 1 : 0));
    } else {
        w_ = ExtentOf(static_cast<int64_t>(e1_) >> 16);
    }
    uint32_t room = 255 - covered;
    for (;;) {
        if (reducing_ && skip_ == 0 && !RunReducing(room)) return;
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
            // An output sample that reaches past the line's last sample is
            // only partly covered: it is filled like the line's start.
            if (w_ <= 255 || (IsLastSample() && u_ + 255 > w_)) break;
            // Sample j covers more than one output sample. Output samples
            // that are skipped anyway are passed over in one step.
            if (skip_ > 0 && u_ + 255 < w_) {
                uint64_t passable = (w_ - 1 - u_) / 255;
                uint64_t k = static_cast<uint64_t>(skip_) < passable ? static_cast<uint64_t>(skip_) : passable;
                u_ += 255 * k;
                skip_ -= static_cast<int64_t>(k);
            }
            Interpolate();
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

// Starts the walk of one line whose image begins `start` output samples from
// the walk's first output sample.
void WalkLine(const LineSetup &line, double start) {
    if (start != start) return;
    int32_t first = FloorToInt32(start);
    int32_t covered = FloorToInt32((start - static_cast<double>(first)) * 255.0);
    if (covered < 0) covered = 0;
    if (covered > 254) covered = 254;
    int64_t skip = 0;
    if (first < 0) {
        skip = -static_cast<int64_t>(first);
        first = 0;
    } else if (first > line.outSamples) {
        first = line.outSamples;
    }
    int64_t remaining = static_cast<int64_t>(line.outSamples) - first;
    if (remaining <= 0) return;
    LineWalk(line, first, skip, remaining).Run(static_cast<uint32_t>(covered));
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

// Runs in the library's floating-point environment; not inlined, so that
// none of its arithmetic moves out of it.
__attribute__((noinline)) void ResampleLines(const LayerAccess &outAccess, const LayerAccess &inAccess, const FourCornerPlan &plan,
                                             LineWalkKind walk) {
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
        setup.fast = walk == LineWalkKind::Fast;
        WalkLine(setup, start);
    }
}

}  // namespace

// Rounds a 16.16 difference down, but takes a value a rounding error below a
// whole unit as that unit: an exact scale (the identity, a mirror, a quarter
// turn) must not come out one unit short and drift by a pixel down the line.
// Kept well inside 64 bits, so that extents of any magnification fit.
int64_t FloorFixed(double value) {
    constexpr double kSlack = 1.0 / 4096;
    constexpr double kLimit = 4503599627370496.0;  // 2^52
    if (value != value) return 0;
    value += kSlack;
    if (value < -kLimit) return -static_cast<int64_t>(kLimit);
    if (value > kLimit) return static_cast<int64_t>(kLimit);
    return static_cast<int64_t>(std::floor(value));
}

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
    // An enlarging piece rounds its extents up: they must add up to at least
    // the line's true length, or a line ending on a pixel boundary would
    // leave its last pixel a unit short of opaque.
    double first = (a1 + a2) * 255 * 65536;
    steps.e1 = first > 255.0 * 65536 ? -FloorFixed(-first) : FloorFixed(first);
    steps.e2 = FloorFixed(a2 * 255 * 131072);
    return steps;
}

int32_t ResamplePass(Layer *output, Layer *input, const FourCornerPlan *plan, LineWalkKind walk) {
    LayerAccess outAccess;
    LayerAccess inAccess;
    bool outOpen = BeginLayerAccess(&outAccess, output, nullptr) != 0;
    bool inOpen = BeginLayerAccess(&inAccess, input, nullptr) != 0;
    // The accesses may call the host's hooks: they run in the host's own
    // floating-point environment, the lines in the library's.
    if (outOpen && inOpen && plan != nullptr) {
        ScopedFpEnvironment environment;
        ResampleLines(outAccess, inAccess, *plan, walk);
    }
    EndLayerAccess(&inAccess);
    return EndLayerAccess(&outAccess);
}

}  // namespace zl
