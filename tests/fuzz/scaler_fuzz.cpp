// Fuzz target: the scanline scaler.
//
// Each input decodes to a sequence of calls on up to three live scalers of
// small sizes (1 to 40 pixels per axis, so reductions and enlargements of
// every ratio in that range) and on sizes that must be refused: 0, negative,
// INT_MIN, INT_MAX, widths whose line bytes or whose axis table bytes pass 32
// bits, and height ratios whose line buffers pass 32 bits. Between them come
// whole passes and sub-rectangle passes (OffsetScaleScanline) driven as the
// calling protocol says, fed in copy mode from host rows, in copy mode through
// the scaler's own buffer, or in place (GetBufferScaleScanline); loose
// ScaleScanline calls with any source line, a null destination row, or after
// the pass is over; offsets in and out of range; ConvertRectangleScaleScanline
// on any rectangle; null scalers and rectangles; EndScaleScanline.
//
// Every row handed to the library is guarded memory of exactly the size that
// the call may touch: a source row is lineBytes long, a destination row
// columnCount pixels (none at all for 0). In a sub-rectangle pass the part of
// a source row past the last source column holds junk that no output may use.
//
// A model of its own checks the library after every call:
// - each refusal returns its 0 or null and changes nothing;
// - the axis tables equal the ones worked out here from the two pixel grids
//   (area overlaps on a reduction, interpolation positions on an enlargement),
//   lineCount and every other field of every live scaler hold what the
//   sequence of calls leaves in them, and fresh line buffers are zero;
// - every output pixel has the exact bits of the scaler's tap walk, computed
//   here from the lines the model knows the scaler holds;
// - a call that produces no line leaves the destination row untouched, and no
//   call writes to a source row;
// - a pass asks for every source line from the first it needs to the last,
//   one at a time, never one past the last, and produces each destination
//   line once;
// - whole images agree with each other and with simple truths: the same
//   pixels in every feeding mode, a sub-rectangle pass gives that part of the
//   whole pass, an equal-size scale copies every pixel (alpha 0 giving
//   0x00000000), and a one-colour source gives that colour everywhere;
// - after a pass the line buffers hold the lines the model put there.
//
// Set ZL_FUZZ_TRACE to have the decoded calls printed.
//
// Host misuse that the library cannot detect is not generated:
// - using a scaler after EndScaleScanline, or writing any of its fields;
// - switching between copy and in-place feeding within one pass;
// - source rows with fewer than lineBytes readable bytes, destination rows
//   with room for fewer than columnCount pixels, writing more than lineBytes
//   into the buffer of GetBufferScaleScanline or writing into any other line
//   buffer, passing another line buffer than that one as a copy-mode row;
// - sizes that are accepted but too large to allocate on this machine (only
//   sizes that must be refused are passed at full size).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "ZantrelLayer.h"
#include "fuzz_support.h"

namespace {

using zlfuzz::FuzzInput;
using zlfuzz::GuardedBuffer;

constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr size_t kMaxScalers = 3;
constexpr int kMaxSteps = 40;
constexpr int32_t kLargestModelled = 64;  // sizes up to this are scaled for real

using zlfuzz::Mix;

int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t WrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A pixel as the scaler gives it back when nothing is mixed: alpha 0 loses
// its colour.
uint32_t Visible(uint32_t pixel) { return (pixel >> 24) == 0 ? 0u : pixel; }

// Source pixel reached by an enlarging axis for the position p (in 1/dst
// source pixels past the first centre): the first pixel while p < 0.
int64_t EnlargedPixel(int64_t p, int64_t dst) { return p < 0 ? 0 : p / dst; }

// A guarded row taken from a pool that outlives the input: mapping and
// protecting pages for every row would cost more than the scaling. A row is
// always filled before the library sees it, so reuse hides nothing.
class Row {
public:
    Row() = default;
    Row(size_t bytes, bool lowFlush) : key_(bytes * 2 + (lowFlush ? 1 : 0)) {
        std::vector<std::unique_ptr<GuardedBuffer>> &free = Free()[key_];
        if (free.empty()) {
            buffer_ = std::make_unique<GuardedBuffer>(bytes, lowFlush);
        } else {
            buffer_ = std::move(free.back());
            free.pop_back();
        }
    }
    ~Row() { Release(); }
    Row(Row &&other) noexcept = default;
    Row &operator=(Row &&other) noexcept {
        Release();
        buffer_ = std::move(other.buffer_);
        key_ = other.key_;
        return *this;
    }
    GuardedBuffer *operator->() const { return buffer_.get(); }
    GuardedBuffer &operator*() const { return *buffer_; }

private:
    static std::map<size_t, std::vector<std::unique_ptr<GuardedBuffer>>> &Free() {
        static std::map<size_t, std::vector<std::unique_ptr<GuardedBuffer>>> free;
        return free;
    }
    void Release() {
        if (buffer_) Free()[key_].push_back(std::move(buffer_));
    }
    std::unique_ptr<GuardedBuffer> buffer_;
    size_t key_ = 0;
};

// One axis worked out per destination pixel from the two grids, not stepped
// along them.
struct AxisModel {
    int64_t src;
    int64_t dst;
    int64_t phase0;  // enlargement: position of destination pixel 0
    double wholeWeight;
    std::vector<ScaleAxisEntry> entries;

    AxisModel(int32_t srcSize, int32_t dstSize)
        : src(srcSize), dst(dstSize), phase0((srcSize - dstSize) / 2), wholeWeight(0.0),
          entries(static_cast<size_t>(dstSize)) {
        if (Reduces()) {
            BuildReduction();
        } else {
            BuildEnlargement();
        }
    }

    bool Reduces() const { return src >= dst; }

    // Destination pixel i covers [i * src, (i + 1) * src) in units where a
    // source pixel is dst long; each source pixel weighs its overlap / src.
    void BuildReduction() {
        wholeWeight = static_cast<double>(dst) / static_cast<double>(src);
        for (int64_t i = 0; i < dst; ++i) {
            int64_t begin = i * src, end = (i + 1) * src;
            int64_t first = begin / dst, past = end / dst;
            ScaleAxisEntry &e = entries[static_cast<size_t>(i)];
            e.wholeCount = static_cast<int32_t>(past - first - 1);
            e.advance = static_cast<int32_t>(past - first);
            e.leadWeight = static_cast<double>((first + 1) * dst - begin) / static_cast<double>(src);
            e.trailWeight = static_cast<double>(end % dst) / static_cast<double>(src);
        }
    }

    // Destination pixel i sits at phase0 + i * src (1/dst source pixels past
    // the first source centre); it interpolates the pixel there and the next,
    // clamped at both ends.
    void BuildEnlargement() {
        wholeWeight = 0.0;
        for (int64_t i = 0; i < dst; ++i) {
            int64_t p = phase0 + i * src;
            int64_t pixel = EnlargedPixel(p, dst);
            int64_t phase = p < 0 ? p : p % dst;
            ScaleAxisEntry &e = entries[static_cast<size_t>(i)];
            if (phase < 1 || pixel == src - 1) {
                e.wholeCount = -1;
                e.leadWeight = 1.0;
                e.trailWeight = 0.0;
            } else {
                e.leadWeight = static_cast<double>(dst - phase) / static_cast<double>(dst);
                e.trailWeight = static_cast<double>(phase) / static_cast<double>(dst);
                e.wholeCount = e.trailWeight > 0 ? 0 : -1;
            }
            e.advance = static_cast<int32_t>(EnlargedPixel(p + src, dst) - pixel);
        }
    }

    // First source pixel of destination pixel n (n clamped to 0 .. dst).
    int64_t Start(int64_t n) const {
        if (n <= 0) return 0;
        int64_t m = std::min(n, dst);
        return Reduces() ? m * src / dst : EnlargedPixel(phase0 + m * src, dst);
    }
};

// Line buffers a scaler needs: the most source lines one destination line
// reaches, plus one.
uint64_t LinesNeeded(int64_t srcHeight, int64_t dstHeight) {
    if (srcHeight < dstHeight) return 2;
    return static_cast<uint64_t>((srcHeight + dstHeight - 1) / dstHeight) + 1;
}

// Whether BeginScaleScanline must refuse: a size 0 or negative, or memory of
// the scaler whose byte count does not fit in 32 bits.
bool BeginRefuses(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return true;
    const uint64_t lineBytes = static_cast<uint64_t>(srcWidth) * 4;
    const uint64_t entry = sizeof(ScaleAxisEntry);
    if (lineBytes > kMax32) return true;
    if ((static_cast<uint64_t>(dstWidth) + 1) * entry > kMax32) return true;
    if ((static_cast<uint64_t>(dstHeight) + 1) * entry > kMax32) return true;
    const uint64_t lines = LinesNeeded(srcHeight, dstHeight);
    return lines * lineBytes > kMax32 || (lines + 1) * 4 > kMax32;
}

uint32_t ClampByte(double rounded) {
    if (!(rounded > 0.0)) return 0;
    if (rounded >= 255.0) return 255;
    return static_cast<uint32_t>(rounded);
}

// The five sums of one output pixel, kept as the tap walk defines them.
struct Sums {
    bool started = false;
    double remainder = 0, alpha = 0, blue = 0, green = 0, red = 0;
    uint32_t last = 0;

    void Tap(uint32_t pixel, double weight) {
        const double a = static_cast<double>(pixel >> 24);
        const double t = weight * a;
        const double b = static_cast<double>(pixel & 0xFF), g = static_cast<double>((pixel >> 8) & 0xFF),
                     r = static_cast<double>((pixel >> 16) & 0xFF);
        if (!started) {
            started = true;
            remainder = 1 - weight;
            alpha = t;
            blue = b * t;
            green = g * t;
            red = r * t;
        } else {
            remainder -= weight;
            alpha += t;
            blue += b * t;
            green += g * t;
            red += r * t;
        }
        last = pixel;
    }
    void ReadOnly(uint32_t pixel) { last = pixel; }
    uint32_t Finish() {
        const double t = remainder * static_cast<double>(last >> 24);
        alpha += t;
        blue += static_cast<double>(last & 0xFF) * t;
        green += static_cast<double>((last >> 8) & 0xFF) * t;
        red += static_cast<double>((last >> 16) & 0xFF) * t;
        const uint32_t a = ClampByte(std::nearbyint(alpha));
        if (a == 0) return 0;
        const double inverse = 1.0 / static_cast<double>(a);
        const uint32_t b = ClampByte(std::nearbyint(blue * inverse));
        const uint32_t g = ClampByte(std::nearbyint(green * inverse));
        const uint32_t r = ClampByte(std::nearbyint(red * inverse));
        return a << 24 | r << 16 | g << 8 | b;
    }
};

// The rows of one destination line's footprint and how long each row is.
struct Rows {
    std::vector<const uint32_t *> row;
    size_t length = 0;
    uint32_t At(size_t line, size_t x) const {
        // A row the scaler does not hold, or a pixel past the end of a
        // source row, would be read outside the memory it was given.
        ZL_FUZZ_CHECK(line < row.size());
        ZL_FUZZ_CHECK(x < length);
        return row[line][x];
    }
};

// One output pixel: the footprint's taps line by line, leading line first;
// the bottom-right corner is read but its weight is left to the remainder.
uint32_t ModelPixel(const Rows &rows, const ScaleAxisEntry &v, double wv, const ScaleAxisEntry &h, double wh,
                    size_t column) {
    Sums sums;
    const int32_t d = v.wholeCount;
    const bool trailingLine = d != -1 && v.trailWeight > 0;
    const bool trailingPixel = h.wholeCount != -1 && h.trailWeight > 0;
    const size_t lines = static_cast<size_t>(d >= 1 ? d : 0) + 1 + (trailingLine ? 1 : 0);
    for (size_t k = 0; k < lines; ++k) {
        const bool isTrailing = trailingLine && k == lines - 1;
        const double lineWeight = k == 0 ? v.leadWeight : isTrailing ? v.trailWeight : wv;
        sums.Tap(rows.At(k, column), lineWeight * h.leadWeight);
        for (int32_t x = 1; x <= h.wholeCount; ++x) sums.Tap(rows.At(k, column + static_cast<size_t>(x)), lineWeight * wh);
        if (trailingPixel) {
            uint32_t corner = rows.At(k, column + static_cast<size_t>(h.wholeCount) + 1);
            if (isTrailing) {
                sums.ReadOnly(corner);
            } else {
                sums.Tap(corner, lineWeight * h.trailWeight);
            }
        }
    }
    return sums.Finish();
}

enum class Feed { None, Copy, CopyThroughBuffer, InPlace };
const char *FeedName(Feed f) {
    switch (f) {
        case Feed::Copy: return "copy";
        case Feed::CopyThroughBuffer: return "copy-through-buffer";
        case Feed::InPlace: return "in-place";
        default: return "none";
    }
}

// A live scaler and everything the host knows it must hold.
struct Scaler {
    ScanlineScaler *s;
    int32_t srcW, srcH, dstW, dstH;
    AxisModel hor, ver;
    int32_t lineCount;
    // The fields after the last call.
    int32_t outputReady = 0, needInput = 0, currentLine = 0, bufferedLines = 0;
    int32_t firstColumn = 0, columnCount, ringStart = 0;
    ScaleGeometry *geometry = nullptr;
    uint32_t **lineBuffers = nullptr;
    const uint32_t **rowPointers = nullptr;
    std::vector<std::vector<uint32_t>> held;  // contents of the line buffers
    // The source image of the passes and the pass under way.
    std::vector<uint32_t> image;
    bool constant = false;
    uint32_t junkSeed = 0;
    Feed feed = Feed::None;
    bool fresh = true;  // no line taken or produced since Begin or Offset
    Row dstRow;
    Row srcRows[2];
    int nextSrc = 0;
    std::vector<uint32_t> reference;  // the whole destination image of a full pass
    bool haveReference = false;

    Scaler(ScanlineScaler *scaler, int32_t sw, int32_t sh, int32_t dw, int32_t dh)
        : s(scaler), srcW(sw), srcH(sh), dstW(dw), dstH(dh), hor(sw, dw), ver(sh, dh),
          lineCount(static_cast<int32_t>(LinesNeeded(sh, dh))), columnCount(dw) {}
};

struct Expected {
    int32_t result = 0;
    bool wrote = false;
    std::vector<uint32_t> line;
};

class Session {
public:
    explicit Session(FuzzInput &in) : in_(in), trace_(std::getenv("ZL_FUZZ_TRACE") != nullptr) {}
    void Run();

private:
    void Step();
    void Finish();
    Scaler *Pick();

    int32_t SmallSize();
    int32_t WildSize();
    void Begin();
    void BeginWild();
    void CreateScaler(int32_t sw, int32_t sh, int32_t dw, int32_t dh);
    void NewImage(Scaler &m);
    void End();
    void Offset(Scaler &m);
    bool OffsetTo(Scaler &m, int32_t firstColumn, int32_t firstLine, int32_t columnCount);
    void Convert(Scaler &m);
    void CheckBuffer(Scaler &m);
    void NullArguments(Scaler &m);
    void Pass(Scaler &m);
    void LooseCall(Scaler &m);
    void Interject(Scaler &m);

    std::vector<uint32_t> LineFor(const Scaler &m, int64_t y) const;
    uint32_t *WriteIntoBuffer(Scaler &m, const std::vector<uint32_t> &line);
    Expected Model(Scaler &m, const std::vector<uint32_t> *copied);
    std::vector<uint32_t> ModelLine(const Scaler &m, const Rows &rows, const ScaleAxisEntry &v) const;
    int32_t Call(Scaler &m, const std::vector<uint32_t> *line, bool nullDst);
    void CheckPassImage(Scaler &m, int32_t firstLine, const std::vector<uint32_t> &produced);
    void CheckFields(const Scaler &m) const;
    void CheckAll() const;
    void CheckHeld(const Scaler &m) const;

    FuzzInput &in_;
    bool trace_;
    std::vector<std::unique_ptr<Scaler>> scalers_;
    uint32_t calls_ = 0;
};

void Session::CheckFields(const Scaler &m) const {
    const ScanlineScaler &s = *m.s;
    ZL_FUZZ_CHECK(s.outputReady == m.outputReady);
    ZL_FUZZ_CHECK(s.needInput == m.needInput);
    ZL_FUZZ_CHECK(s.valid == 1);
    ZL_FUZZ_CHECK(s.currentLine == m.currentLine);
    ZL_FUZZ_CHECK(s.dstHeight == m.dstH);
    ZL_FUZZ_CHECK(s.geometry == m.geometry);
    ZL_FUZZ_CHECK(s.lineBuffers == m.lineBuffers);
    ZL_FUZZ_CHECK(s.rowPointers == m.rowPointers);
    ZL_FUZZ_CHECK(s.lineCount == m.lineCount);
    ZL_FUZZ_CHECK(s.lineBytes == static_cast<uint32_t>(m.srcW) * 4u);
    ZL_FUZZ_CHECK(s.bufferedLines == m.bufferedLines);
    ZL_FUZZ_CHECK(s.firstColumn == m.firstColumn);
    ZL_FUZZ_CHECK(s.dstWidth == m.dstW);
    ZL_FUZZ_CHECK(s.columnCount == m.columnCount);
    ZL_FUZZ_CHECK(s.ringStart == m.ringStart);
    const ScaleGeometry &g = *s.geometry;
    ZL_FUZZ_CHECK(g.srcWidth == m.srcW && g.srcHeight == m.srcH && g.dstWidth == m.dstW && g.dstHeight == m.dstH);
}

void Session::CheckAll() const {
    for (const auto &m : scalers_) CheckFields(*m);
}

// The line buffers hold exactly what the model put in them.
void Session::CheckHeld(const Scaler &m) const {
    for (int32_t k = 0; k < m.lineCount; ++k)
        ZL_FUZZ_CHECK(std::memcmp(m.lineBuffers[k], m.held[k].data(), static_cast<size_t>(m.srcW) * 4) == 0);
}

void CheckAxis(const ScaleAxis *table, const AxisModel &a) {
    ZL_FUZZ_CHECK(table != nullptr);
    ZL_FUZZ_CHECK(table[0].leadWeight == a.wholeWeight);
    ZL_FUZZ_CHECK(table[0].wholeCount == 0 && table[0].advance == 0 && table[0].trailWeight == 0.0);
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const ScaleAxisEntry &got = table[i + 1], &want = a.entries[i];
        ZL_FUZZ_CHECK(got.wholeCount == want.wholeCount);
        ZL_FUZZ_CHECK(got.advance == want.advance);
        ZL_FUZZ_CHECK(got.leadWeight == want.leadWeight);
        ZL_FUZZ_CHECK(got.trailWeight == want.trailWeight);
    }
}

// Mostly tiny, sometimes up to 40: every reduction and enlargement ratio in
// that range.
int32_t Session::SmallSize() {
    uint8_t b = in_.Byte();
    if (b < 176) return 1 + b % 8;
    if (b < 240) return 1 + b % 24;
    return 1 + b % 40;
}

// Any size, weighted towards the limits that decide a refusal.
int32_t Session::WildSize() {
    switch (in_.Byte() % 10) {
        case 0: return 0;
        case 1: return -1 - static_cast<int32_t>(in_.Byte() % 4);
        case 2: return INT_MIN + static_cast<int32_t>(in_.Byte() % 2);
        case 3: return INT_MAX - static_cast<int32_t>(in_.Byte() % 2);
        case 4: return 0x3FFFFFFF + static_cast<int32_t>(in_.Byte() % 3) - 1;  // line bytes
        case 5: return 178956969 + static_cast<int32_t>(in_.Byte() % 3) - 1;   // axis table bytes
        case 6: return static_cast<int32_t>(in_.Word());
        case 7: return static_cast<int32_t>(1u << (in_.Byte() % 31)) + static_cast<int32_t>(in_.Byte() % 3) - 1;
        default: return 1 + static_cast<int32_t>(in_.Byte() % 16);
    }
}

void Session::Begin() {
    int32_t sw = SmallSize(), sh = SmallSize(), dw = SmallSize(), dh = SmallSize();
    CreateScaler(sw, sh, dw, dh);
}

// Sizes anywhere: the ones that must be refused are passed and must give
// null; small accepted ones make a scaler; large accepted ones are skipped.
void Session::BeginWild() {
    int32_t sw = WildSize(), sh = WildSize(), dw = WildSize(), dh = WildSize();
    if (!BeginRefuses(sw, sh, dw, dh)) {
        if (sw <= kLargestModelled && sh <= kLargestModelled && dw <= kLargestModelled && dh <= kLargestModelled)
            CreateScaler(sw, sh, dw, dh);
        return;
    }
    if (trace_) std::fprintf(stderr, "BeginScaleScanline(%d, %d, %d, %d) refused\n", sw, sh, dw, dh);
    ScanlineScaler *s = BeginScaleScanline(sw, sh, dw, dh);
    if (s != nullptr) EndScaleScanline(s);
    ZL_FUZZ_CHECK(s == nullptr);
    CheckAll();
}

void Session::CreateScaler(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    if (scalers_.size() >= kMaxScalers) return;
    if (trace_) std::fprintf(stderr, "BeginScaleScanline(%d, %d, %d, %d)\n", sw, sh, dw, dh);
    ScanlineScaler *s = BeginScaleScanline(sw, sh, dw, dh);
    ZL_FUZZ_CHECK(s != nullptr);
    auto m = std::make_unique<Scaler>(s, sw, sh, dw, dh);
    // The buffer count from the grids must match the one from the tables.
    int32_t largest = 0;
    for (const ScaleAxisEntry &e : m->ver.entries) largest = std::max(largest, e.wholeCount);
    ZL_FUZZ_CHECK(m->lineCount == largest + 2);

    ZL_FUZZ_CHECK(s->geometry != nullptr && s->lineBuffers != nullptr && s->rowPointers != nullptr);
    m->geometry = s->geometry;
    m->lineBuffers = s->lineBuffers;
    m->rowPointers = s->rowPointers;
    CheckFields(*m);
    CheckAxis(s->geometry->horizontal, m->hor);
    CheckAxis(s->geometry->vertical, m->ver);
    m->held.assign(static_cast<size_t>(m->lineCount), std::vector<uint32_t>(static_cast<size_t>(sw), 0u));
    for (int32_t k = 0; k < m->lineCount; ++k) {
        ZL_FUZZ_CHECK(s->lineBuffers[k] != nullptr);
        for (int32_t j = 0; j < k; ++j) ZL_FUZZ_CHECK(s->lineBuffers[j] != s->lineBuffers[k]);
    }
    CheckHeld(*m);

    const size_t lineBytes = static_cast<size_t>(sw) * 4;
    m->srcRows[0] = Row(lineBytes, in_.Bit());
    m->srcRows[1] = Row(lineBytes, in_.Bit());
    m->dstRow = Row(static_cast<size_t>(dw) * 4, in_.Bit());
    NewImage(*m);
    scalers_.push_back(std::move(m));
    CheckAll();
}

// A new source image: one colour, or hashed pixels with alphas that are
// random, opaque, 0 or 255, or near 0.
void Session::NewImage(Scaler &m) {
    const uint8_t kind = in_.Byte();
    const uint32_t seed = in_.Word();
    m.constant = kind % 4 == 0;
    m.junkSeed = Mix(seed ^ 0x9e3779b9U);
    m.haveReference = false;
    m.image.resize(static_cast<size_t>(m.srcW) * static_cast<size_t>(m.srcH));
    for (size_t i = 0; i < m.image.size(); ++i) {
        uint32_t p = m.constant ? seed : Mix(seed + static_cast<uint32_t>(i));
        switch ((kind >> 2) % 4) {
            case 1: p |= 0xFF000000u; break;
            case 2: p = (Mix(p) & 1) != 0 ? (p | 0xFF000000u) : (p & 0x00FFFFFFu); break;
            case 3: p = (p & 0x00FFFFFFu) | ((Mix(p) % 4) << 24); break;
            default: break;
        }
        m.image[i] = p;
    }
}

Scaler *Session::Pick() {
    if (scalers_.empty()) return nullptr;
    return scalers_[in_.Below(scalers_.size())].get();
}

void Session::End() {
    if (scalers_.empty()) return;
    size_t i = in_.Below(scalers_.size());
    if (trace_) std::fprintf(stderr, "EndScaleScanline(#%u)\n", static_cast<unsigned>(i));
    CheckHeld(*scalers_[i]);
    ZL_FUZZ_CHECK(EndScaleScanline(scalers_[i]->s) == 1);
    scalers_.erase(scalers_.begin() + static_cast<std::ptrdiff_t>(i));
    CheckAll();
}

// Calls OffsetScaleScanline and checks that it refuses exactly the
// out-of-range requests; an accepted one starts a new pass.
bool Session::OffsetTo(Scaler &m, int32_t firstColumn, int32_t firstLine, int32_t columnCount) {
    const bool refused = firstColumn < 0 || firstLine < 0 || firstColumn > m.dstW ||
                         static_cast<int64_t>(firstColumn) + columnCount > m.dstW || firstLine > m.dstH;
    if (trace_)
        std::fprintf(stderr, "OffsetScaleScanline(%d, %d, %d)%s\n", firstColumn, firstLine, columnCount,
                     refused ? " refused" : "");
    ZL_FUZZ_CHECK(OffsetScaleScanline(m.s, firstColumn, firstLine, columnCount) == (refused ? 0 : 1));
    if (!refused) {
        m.currentLine = firstLine;
        m.columnCount = columnCount;
        m.firstColumn = firstColumn;
        m.bufferedLines = 0;
        m.ringStart = 0;
        m.feed = Feed::None;
        m.fresh = true;
        m.dstRow = Row(static_cast<size_t>(std::max(columnCount, 0)) * 4, in_.Bit());
    }
    CheckAll();
    return !refused;
}

void Session::Offset(Scaler &m) {
    auto value = [&](int32_t size) -> int32_t {
        switch (in_.Byte() % 8) {
            case 4: return -1 - static_cast<int32_t>(in_.Byte() % 3);
            case 5: return size - static_cast<int32_t>(in_.Byte() % 3) + 1;
            case 6: return in_.Coordinate();
            default: return static_cast<int32_t>(in_.Below(static_cast<size_t>(size) + 2));
        }
    };
    int32_t firstColumn = value(m.dstW);
    int32_t firstLine = value(m.dstH);
    int32_t columnCount;
    switch (in_.Byte() % 8) {
        case 0: columnCount = WrapSub(m.dstW, firstColumn); break;
        case 1: columnCount = WrapAdd(WrapSub(m.dstW, firstColumn), 1); break;
        case 2: columnCount = -static_cast<int32_t>(in_.Byte() % 3); break;
        case 3: columnCount = in_.Bit() ? INT_MAX : INT_MIN; break;
        case 4: columnCount = in_.Coordinate(); break;
        default: columnCount = static_cast<int32_t>(in_.Below(static_cast<size_t>(m.dstW) + 1)); break;
    }
    OffsetTo(m, firstColumn, firstLine, columnCount);
}

// Maps a rectangle through the tables; the model sums its own advances.
void Session::Convert(Scaler &m) {
    LayerRect r{in_.Coordinate(), in_.Coordinate(), in_.Coordinate(), in_.Coordinate()};
    LayerRect want{static_cast<int32_t>(m.hor.Start(r.left)), static_cast<int32_t>(m.ver.Start(r.top)),
                   WrapAdd(static_cast<int32_t>(m.hor.Start(r.right)), 1),
                   WrapAdd(static_cast<int32_t>(m.ver.Start(r.bottom)), 1)};
    if (trace_) std::fprintf(stderr, "ConvertRectangleScaleScanline(%d, %d, %d, %d)\n", r.left, r.top, r.right, r.bottom);
    ZL_FUZZ_CHECK(ConvertRectangleScaleScanline(m.s, &r) == 1);
    ZL_FUZZ_CHECK(r.left == want.left && r.top == want.top && r.right == want.right && r.bottom == want.bottom);
    CheckAll();
}

void Session::CheckBuffer(Scaler &m) {
    uint32_t *buffer = GetBufferScaleScanline(m.s);
    ZL_FUZZ_CHECK(buffer == m.lineBuffers[(m.bufferedLines + m.ringStart) % m.lineCount]);
    CheckAll();
}

// Every export refuses a null scaler, rectangle or destination row and
// changes nothing; flags stay as they were when dstRow is null.
void Session::NullArguments(Scaler &m) {
    if (trace_) std::fprintf(stderr, "null arguments\n");
    LayerRect r{1, 2, 3, 4};
    ZL_FUZZ_CHECK(ConvertRectangleScaleScanline(nullptr, &r) == 0);
    ZL_FUZZ_CHECK(r.left == 1 && r.top == 2 && r.right == 3 && r.bottom == 4);
    ZL_FUZZ_CHECK(ConvertRectangleScaleScanline(m.s, nullptr) == 0);
    ZL_FUZZ_CHECK(OffsetScaleScanline(nullptr, 0, 0, 0) == 0);
    ZL_FUZZ_CHECK(GetBufferScaleScanline(nullptr) == nullptr);
    ZL_FUZZ_CHECK(EndScaleScanline(nullptr) == 0);
    ZL_FUZZ_CHECK(ScaleScanline(m.dstRow->data(), m.srcRows[0]->data(), nullptr) == 0);
    ZL_FUZZ_CHECK(ScaleScanline(m.dstRow->data(), nullptr, nullptr) == 0);
    CheckAll();
}

// Source line y as a pass from firstColumn on reads it: its pixels from the
// pass's first source column, then junk up to lineBytes. Lines outside the
// image are all junk.
std::vector<uint32_t> Session::LineFor(const Scaler &m, int64_t y) const {
    std::vector<uint32_t> line(static_cast<size_t>(m.srcW));
    const int64_t x0 = m.hor.Start(m.firstColumn);
    for (int64_t x = 0; x < m.srcW; ++x) {
        const int64_t sx = x0 + x;
        const bool real = y >= 0 && y < m.srcH && sx < m.srcW;
        line[static_cast<size_t>(x)] = real ? m.image[static_cast<size_t>(y * m.srcW + sx)]
                                            : Mix(m.junkSeed ^ static_cast<uint32_t>(y * 7919 + x));
    }
    return line;
}

// The host writes a line into the buffer the scaler offers.
uint32_t *Session::WriteIntoBuffer(Scaler &m, const std::vector<uint32_t> &line) {
    const int32_t index = (m.bufferedLines + m.ringStart) % m.lineCount;
    uint32_t *buffer = GetBufferScaleScanline(m.s);
    ZL_FUZZ_CHECK(buffer == m.lineBuffers[index]);
    std::memcpy(buffer, line.data(), line.size() * 4);
    m.held[static_cast<size_t>(index)] = line;
    return buffer;
}

std::vector<uint32_t> Session::ModelLine(const Scaler &m, const Rows &rows, const ScaleAxisEntry &v) const {
    std::vector<uint32_t> out(static_cast<size_t>(std::max(m.columnCount, 0)));
    size_t column = 0;
    for (size_t j = 0; j < out.size(); ++j) {
        const ScaleAxisEntry &h = m.hor.entries[static_cast<size_t>(m.firstColumn) + j];
        out[j] = ModelPixel(rows, v, m.ver.wholeWeight, h, m.hor.wholeWeight, column);
        column += static_cast<size_t>(h.advance);
    }
    return out;
}

// One ScaleScanline call on the model: the flags, the line bookkeeping of the
// two feeding modes, and the line produced. `copied` is the line passed in
// copy mode, null in in-place mode.
Expected Session::Model(Scaler &m, const std::vector<uint32_t> *copied) {
    Expected e;
    m.outputReady = 0;
    m.needInput = 0;
    if (m.currentLine >= m.dstH) return e;
    const ScaleAxisEntry &v = m.ver.entries[static_cast<size_t>(m.currentLine)];
    const int32_t d = v.wholeCount;
    Rows rows;
    rows.length = static_cast<size_t>(m.srcW);
    e.result = 1;
    if (copied != nullptr) {
        const bool lastLineComplete = m.bufferedLines == d && m.currentLine + 1 == m.dstH;
        if (m.bufferedLines < d + 1 && !lastLineComplete) {
            ZL_FUZZ_CHECK(m.bufferedLines < m.lineCount);  // the copy lands in a line buffer
            m.needInput = 1;
            m.held[static_cast<size_t>(m.bufferedLines)] = *copied;
            ++m.bufferedLines;
            return e;
        }
        for (int32_t k = 0; k < m.bufferedLines; ++k) rows.row.push_back(m.held[static_cast<size_t>(k)].data());
        rows.row.push_back(copied->data());
    } else {
        const int32_t needed = d + 1 + (v.trailWeight != 0.0 ? 1 : 0);
        if (m.bufferedLines + 1 < needed) {
            m.needInput = 1;
            ++m.bufferedLines;
            return e;
        }
        for (int32_t k = 0; k <= m.bufferedLines; ++k)
            rows.row.push_back(m.held[static_cast<size_t>((m.ringStart + k) % m.lineCount)].data());
        m.ringStart = (m.ringStart + v.advance) % m.lineCount;
    }
    m.outputReady = 1;
    m.bufferedLines -= v.advance;
    if (m.bufferedLines < 0) {
        m.bufferedLines += 1;
        m.needInput = 1;
    }
    m.currentLine += 1;
    if (m.currentLine == m.dstH) m.needInput = 0;
    e.wrote = true;
    e.line = ModelLine(m, rows, v);
    return e;
}

// Hands `line` over as the pass's feeding mode does (in place, a null line
// means the host wrote nothing this time), makes one ScaleScanline call and
// checks it against the model. Returns the call's result.
int32_t Session::Call(Scaler &m, const std::vector<uint32_t> *line, bool nullDst) {
    const uint32_t *srcRow = nullptr;
    const GuardedBuffer *hostRow = nullptr;
    // Copy modes always hand a line over, except to a call with a null
    // destination row, which must refuse before looking at it.
    ZL_FUZZ_CHECK(line != nullptr || nullDst || m.feed == Feed::InPlace);
    if (line != nullptr) switch (m.feed) {
        case Feed::InPlace:
            WriteIntoBuffer(m, *line);
            break;
        case Feed::CopyThroughBuffer:
            srcRow = WriteIntoBuffer(m, *line);
            break;
        default: {
            GuardedBuffer &row = *m.srcRows[m.nextSrc];
            m.nextSrc ^= 1;
            std::memcpy(row.data(), line->data(), row.bytes());
            srcRow = row.data();
            hostRow = &row;
            break;
        }
    }
    const size_t dstWords = m.dstRow->bytes() / 4;
    const uint32_t sentinel = Mix(++calls_);
    uint32_t *dst = m.dstRow->data();
    for (size_t j = 0; j < dstWords; ++j) dst[j] = sentinel + static_cast<uint32_t>(j);

    Expected e;
    if (!nullDst) e = Model(m, m.feed == Feed::InPlace ? nullptr : line);
    if (trace_)
        std::fprintf(stderr, "ScaleScanline(%s, %s) line %d -> %d%s%s\n", nullDst ? "null" : "row", FeedName(m.feed),
                     m.currentLine - (e.wrote ? 1 : 0), e.result, e.wrote ? " output" : "",
                     m.needInput ? " input" : "");
    const int32_t result = ScaleScanline(nullDst ? nullptr : dst, srcRow, m.s);
    ZL_FUZZ_CHECK(result == e.result);
    CheckAll();
    if (e.wrote) {
        ZL_FUZZ_CHECK(e.line.size() == dstWords);
        for (size_t j = 0; j < dstWords; ++j) ZL_FUZZ_CHECK(dst[j] == e.line[j]);
    } else {
        for (size_t j = 0; j < dstWords; ++j) ZL_FUZZ_CHECK(dst[j] == sentinel + static_cast<uint32_t>(j));
    }
    if (hostRow != nullptr) ZL_FUZZ_CHECK(std::memcmp(hostRow->data(), line->data(), hostRow->bytes()) == 0);
    if (!nullDst) m.fresh = false;
    return result;
}

// Between the calls of a pass the host may look at other things: none of it
// changes the pass.
void Session::Interject(Scaler &m) {
    switch (in_.Byte() % 16) {
        case 1: Convert(m); break;
        case 2: CheckBuffer(m); break;
        case 3: Call(m, nullptr, true); break;
        default: break;
    }
}

// A pass as the calling protocol drives it: a new source line whenever the
// scaler asks, the next destination row whenever it reports one, until it
// reports neither.
void Session::Pass(Scaler &m) {
    const uint8_t how = in_.Byte();
    const Feed feed = how % 3 == 0 ? Feed::Copy : how % 3 == 1 ? Feed::CopyThroughBuffer : Feed::InPlace;
    const bool part = (how & 4) != 0;
    if (part || !m.fresh) {
        int32_t firstColumn = 0, firstLine = 0, columnCount = m.dstW;
        if (part) {
            firstColumn = static_cast<int32_t>(in_.Below(static_cast<size_t>(m.dstW) + 1));
            columnCount = static_cast<int32_t>(in_.Below(static_cast<size_t>(m.dstW - firstColumn) + 1));
            firstLine = static_cast<int32_t>(in_.Below(static_cast<size_t>(m.dstH) + 1));
        }
        ZL_FUZZ_CHECK(OffsetTo(m, firstColumn, firstLine, columnCount));
    }
    if (trace_) std::fprintf(stderr, "pass, %s\n", FeedName(feed));
    m.feed = feed;
    const int32_t firstLine = m.currentLine;
    int64_t srcLine = m.ver.Start(firstLine);
    int32_t dstLine = firstLine;
    std::vector<uint32_t> produced;
    bool due = true;
    const int limit = 2 * (m.srcH + m.dstH) + 4;
    for (int calls = 1;; ++calls) {
        ZL_FUZZ_CHECK(calls <= limit);
        Interject(m);
        const bool hand = feed != Feed::InPlace || due;
        // The protocol never asks for a line past the last.
        if (hand && m.currentLine < m.dstH) ZL_FUZZ_CHECK(srcLine < m.srcH);
        std::vector<uint32_t> line = LineFor(m, srcLine);
        Call(m, hand ? &line : nullptr, false);
        if (m.outputReady == 0 && m.needInput == 0) break;
        if (m.outputReady != 0) {
            const uint32_t *dst = m.dstRow->data();
            produced.insert(produced.end(), dst, dst + m.dstRow->bytes() / 4);
            ++dstLine;
        }
        due = m.needInput != 0;
        if (due) ++srcLine;
    }
    ZL_FUZZ_CHECK(m.currentLine == m.dstH && dstLine == m.dstH);
    if (firstLine < m.dstH) ZL_FUZZ_CHECK(srcLine == m.srcH - 1);  // every line up to the last was passed
    CheckHeld(m);
    CheckPassImage(m, firstLine, produced);
}

// Whole-image truths of a pass driven by the protocol over the current image.
void Session::CheckPassImage(Scaler &m, int32_t firstLine, const std::vector<uint32_t> &produced) {
    const size_t columns = static_cast<size_t>(std::max(m.columnCount, 0));
    const size_t lines = static_cast<size_t>(m.dstH - firstLine);
    ZL_FUZZ_CHECK(produced.size() == columns * lines);
    const size_t fc = static_cast<size_t>(m.firstColumn), w = static_cast<size_t>(m.dstW);
    for (size_t y = 0; y < lines; ++y) {
        for (size_t x = 0; x < columns; ++x) {
            const uint32_t got = produced[y * columns + x];
            const size_t dy = static_cast<size_t>(firstLine) + y, dx = fc + x;
            if (m.constant) ZL_FUZZ_CHECK(got == Visible(m.image[0]));
            if (m.srcW == m.dstW && m.srcH == m.dstH)
                ZL_FUZZ_CHECK(got == Visible(m.image[dy * static_cast<size_t>(m.srcW) + dx]));
            if (m.haveReference) ZL_FUZZ_CHECK(got == m.reference[dy * w + dx]);
        }
    }
    if (!m.haveReference && firstLine == 0 && m.firstColumn == 0 && m.columnCount == m.dstW) {
        m.reference = produced;
        m.haveReference = true;
    }
}

// One ScaleScanline call outside the protocol: any source line (or none
// written, in place), sometimes a null destination row.
void Session::LooseCall(Scaler &m) {
    if (m.feed == Feed::None) {
        const uint8_t b = in_.Byte() % 3;
        m.feed = b == 0 ? Feed::Copy : b == 1 ? Feed::CopyThroughBuffer : Feed::InPlace;
    }
    const bool nullDst = in_.Byte() % 16 == 0;
    const int64_t y = static_cast<int64_t>(in_.Below(static_cast<size_t>(m.srcH) + 2)) - 1;
    const bool write = m.feed != Feed::InPlace || in_.Bit();
    std::vector<uint32_t> line = LineFor(m, y);
    Call(m, write ? &line : nullptr, nullDst);
}

void Session::Step() {
    const uint8_t op = in_.Byte();
    if (op % 16 == 0 && scalers_.size() < kMaxScalers) {
        Begin();
        return;
    }
    if (op % 16 == 1) {
        BeginWild();
        return;
    }
    if (op % 16 == 2) {
        End();
        return;
    }
    Scaler *m = Pick();
    if (m == nullptr) {
        Begin();
        return;
    }
    switch (op % 16) {
        case 3: case 4: case 5: case 6: Pass(*m); break;
        case 7: case 8: case 9: LooseCall(*m); break;
        case 10: Offset(*m); break;
        case 11: Convert(*m); break;
        case 12: CheckBuffer(*m); break;
        case 13: NullArguments(*m); break;
        case 14: NewImage(*m); break;
        default: Begin(); break;
    }
}

void Session::Finish() {
    while (!scalers_.empty()) {
        CheckHeld(*scalers_.back());
        ZL_FUZZ_CHECK(EndScaleScanline(scalers_.back()->s) == 1);
        scalers_.pop_back();
    }
}

void Session::Run() {
    for (int steps = 0; steps < kMaxSteps && !in_.Empty(); ++steps) Step();
    Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    Session session(in);
    session.Run();
    return 0;
}
