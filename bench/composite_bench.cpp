// Throughput of the straight-alpha blends, with pixman's OVER as a speed peer
// and memcpy / memset of the frame as baselines.
//
// Every benchmark works on one 1920 x 1080 frame per iteration. The workloads:
//   random       uniformly random pixels on top and bottom (the worst case)
//   title        a title over video: opaque video below; above it a
//                translucent lower-third band, opaque strokes with 1-pixel
//                antialiased edges, the rest transparent
//   pip          a picture in picture: an opaque inset with a soft 4-pixel
//                edge and a soft drop shadow on a transparent layer, over video
//   opaque       a fully opaque top
//   transparent  a fully transparent top
// The in-place operations (CompositOnTopLayer, CompositOnBottomLayer, pixman,
// which writes into its destination) get the written frame restored from a
// pristine copy before each iteration, untimed, and the copy is dropped from
// the caches again (see TimeIterations). Every buffer lies at a fixed
// place modulo 4 KiB (see FrameBuffer).
//
// pixman reads its a8r8g8b8 pixels as premultiplied, so its output differs
// from ours on the same data; it is only here for speed.
//
// Each iteration is timed on its own (wall clock) and the time reported is
// the sum, as usual; the counters use the fastest iteration instead, which a
// machine shared with other work disturbs least:
//   ms         our fastest frame
//   pixman_ms  pixman's OVER on the same workload, fastest frame, same run
//   vs_pixman  pixman_ms / ms: 1 or more is as fast as pixman or faster
//   floor_ms   the least memory traffic the exact result needs, in frame
//              transfers, at the speed of this run's memcpy: one transfer
//              (a frame read or a frame written) takes half a memcpy of
//              the frame (the fastest this run has timed, see MemcpyMs)
//   to_floor   floor_ms / ms: 1 is the memory floor
//   to_dram_floor  the same floor at the speed of a memcpy whose frames are
//              in no cache (ColdMemcpyMs): main memory's floor, which an
//              operation meets whose frames outgrow the last-level cache
//   vs_pels    ms per layer blended over CompositPels' ms on the workload:
//              the per-pixel cost of the operation against the plain blend
//
// The floors, counted per 64-byte line of 16 pixels of the top layer (the
// layer read first; "opaque" and "clear" are the shares of its lines whose
// 16 alphas are all 255 or all 0, after any fade). A line of an all-opaque
// top gives the top exactly, so its bottom need not be read; a line of an
// all-clear top gives the bottom (the top's colour only over a clear
// bottom, so the bottom is still read), and a result in the bottom then
// need not be written:
//   CompositPels, CompositOnOutputLayer    2 + (1 - opaque): read the top,
//                                          the bottom unless opaque, write
//                                          the output
//   CompositOnTopLayer, CompositOnTopRows  1 + 2 (1 - opaque): read the top;
//                                          unless opaque, read the bottom and
//                                          write the top
//   CompositOnBottomLayer, -Rows           1 + (1 - opaque) + (1 - clear)
//   CompositOnTopLayerEx (second faded)    as CompositOnTopLayer
//   CompositOnBottomLayerEx (first faded), CompositOnTopExRows (top faded)
//                                          as the plain forms with the
//                                          shares of the faded top (at
//                                          opacity 200 no line is opaque)
//   CompositAgainstColourRows              1 + (1 - opaque): the colour is
//                                          not memory
//   TwoLayerComposit                       the output is the top: read it;
//                                          unless opaque, read the first and
//                                          write the output; read the second
//                                          unless the output over the first
//                                          is opaque: 1 + 2 (1 - opaque) +
//                                          (1 - opaque of both)
//   ThreeLayerComposit                     read the top, the middle unless
//                                          the top is opaque, the bottom
//                                          unless the top over the faded
//                                          middle is, write the output
//   CompositMany8                          write the output; read the
//                                          topmost layer, and each layer
//                                          below it unless a layer above is
//                                          opaque there: 2 + 7 (1 - opaque)
//   CopyLayer, CopyWithOpacityLayer        2 (read, write)
//   ClearLayer, SetLayer                   1 (write)

#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <pixman.h>
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ZantrelLayer.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int32_t kRowBytes = kWidth * 4;
constexpr int32_t kPixels = kWidth * kHeight;
constexpr size_t kFrameBytes = sizeof(uint32_t) * kPixels;
constexpr uint32_t kSeed = 0x5A4E5452u;

enum class Work { Random, Title, Pip, Opaque, Transparent };
constexpr Work kWorks[] = {Work::Random, Work::Title, Work::Pip, Work::Opaque, Work::Transparent};

const char *WorkName(Work work) {
    switch (work) {
        case Work::Random: return "random";
        case Work::Title: return "title";
        case Work::Pip: return "pip";
        case Work::Opaque: return "opaque";
        case Work::Transparent: return "transparent";
    }
    return "?";
}

struct Frame {
    std::vector<uint32_t> top;
    std::vector<uint32_t> bottom;
};

uint32_t WithAlpha(uint32_t colour, uint32_t alpha) { return (colour & 0x00FFFFFFu) | (alpha << 24); }

// Opaque "video": a smooth gradient with noise, as decoded frames are.
void FillVideo(std::vector<uint32_t> &frame, std::mt19937 &gen) {
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint32_t noise = gen() & 0x0F0F0F;
            uint32_t r = (x * 255 / kWidth), g = (y * 255 / kHeight), b = ((x + y) / 12) & 0xFF;
            frame[static_cast<size_t>(y) * kWidth + x] = 0xFF000000u | (((r << 16) | (g << 8) | b) ^ noise);
        }
    }
}

// A lower-third band at alpha 160 with white letters drawn as strokes 6
// pixels wide whose outer pixels are at alpha 128.
void DrawTitle(std::vector<uint32_t> &top) {
    const int32_t bandTop = 800, bandBottom = 960;
    for (int32_t y = bandTop; y < bandBottom; ++y)
        for (int32_t x = 160; x < 1760; ++x) top[static_cast<size_t>(y) * kWidth + x] = WithAlpha(0x102040, 160);
    // Strokes: vertical bars and horizontal bars of a blocky typeface.
    for (int32_t letter = 0; letter < 24; ++letter) {
        int32_t left = 200 + letter * 62;
        auto stroke = [&](int32_t x0, int32_t y0, int32_t w, int32_t h) {
            for (int32_t y = y0; y < y0 + h; ++y) {
                for (int32_t x = x0; x < x0 + w; ++x) {
                    bool edge = x == x0 || x == x0 + w - 1 || y == y0 || y == y0 + h - 1;
                    top[static_cast<size_t>(y) * kWidth + x] = WithAlpha(0xF0F0F0, edge ? 128 : 255);
                }
            }
        };
        stroke(left, 830, 8, 100);
        stroke(left + 36, 830, 8, 100);
        stroke(left, 830 + (letter % 3) * 45, 44, 8);
    }
}

// An inset of video at 640 x 360 with a 4-pixel alpha ramp, over a shadow
// offset by 12 pixels that fades over 16 pixels.
void DrawPip(std::vector<uint32_t> &top, std::mt19937 &gen) {
    const int32_t x0 = 1200, y0 = 80, w = 640, h = 360;
    auto inside = [](int32_t v, int32_t lo, int32_t hi) { return std::min(v - lo, hi - 1 - v); };
    for (int32_t y = y0 - 20; y < y0 + h + 32; ++y) {
        for (int32_t x = x0 - 20; x < x0 + w + 32; ++x) {
            int32_t d = std::min(inside(x, x0 + 12, x0 + 12 + w), inside(y, y0 + 12, y0 + 12 + h));
            if (d < -16) continue;
            uint32_t shadow = d >= 0 ? 120 : static_cast<uint32_t>(120 * (16 + d) / 16);
            top[static_cast<size_t>(y) * kWidth + x] = WithAlpha(0, shadow);
        }
    }
    for (int32_t y = y0; y < y0 + h; ++y) {
        for (int32_t x = x0; x < x0 + w; ++x) {
            int32_t d = std::min(inside(x, x0, x0 + w), inside(y, y0, y0 + h));
            uint32_t alpha = d >= 4 ? 255 : static_cast<uint32_t>(51 * (d + 1));
            uint32_t colour = ((x * 3) << 16 | (y * 5) << 8 | (gen() & 0x1F)) & 0xFFFFFF;
            top[static_cast<size_t>(y) * kWidth + x] = WithAlpha(colour, alpha);
        }
    }
}

// Raw mt19937 words only: the standard fixes that sequence exactly, whereas
// the distributions may differ between library versions.
Frame MakeFrame(Work work) {
    std::mt19937 gen(kSeed + static_cast<uint32_t>(work));
    Frame f;
    f.top.assign(kPixels, 0);
    f.bottom.assign(kPixels, 0);
    switch (work) {
        case Work::Random:
            for (int32_t i = 0; i < kPixels; ++i) {
                f.top[i] = gen();
                f.bottom[i] = gen();
            }
            break;
        case Work::Title:
            FillVideo(f.bottom, gen);
            DrawTitle(f.top);
            break;
        case Work::Pip:
            FillVideo(f.bottom, gen);
            DrawPip(f.top, gen);
            break;
        case Work::Opaque:
            for (int32_t i = 0; i < kPixels; ++i) f.top[i] = gen() | 0xFF000000u;
            FillVideo(f.bottom, gen);
            break;
        case Work::Transparent:
            for (int32_t i = 0; i < kPixels; ++i) f.top[i] = gen() & 0x00FFFFFFu;
            FillVideo(f.bottom, gen);
            break;
    }
    return f;
}

// A frame's pixels placed at a fixed distance past a 4 KiB boundary, the
// same in every run whatever ran before. Where a buffer lies does matter:
// a load whose address matches a store still in flight in its low 12 bits
// waits for that store, so an output a block or two past an input (modulo
// 4 KiB) runs up to a quarter slower, ours and pixman's alike. Consecutive
// heap blocks of one frame's size (1920 x 1080 x 4 is a multiple of 4 KiB)
// lie 16 bytes apart in that sense, and earlier benchmarks decided which
// memory the allocator handed out: that is why one operation measured 0.34
// of pixman in a full run and 0.74 alone. Each role has its own slot, a
// quarter of 4 KiB apart; BM_*/random_adjacent place the output as the heap
// would.
constexpr uint32_t kTopAt = 0, kBottomAt = 1024, kOutAt = 2048, kSpareAt = 3072;

// Frame memory on 2 MiB boundaries, backed by huge pages where the system
// gives them on request (Linux's transparent huge pages in madvise mode; a
// system that gives them always, as hosts' frames of this size then get,
// needs no request). With 4 KiB pages the medians of five runs of one
// benchmark were up to half as long again as on huge pages, and single runs
// twice as long (measured): each run's frames land elsewhere in physical
// memory, and their page walks and places in the caches differ with it.
constexpr size_t kFrameAlign = size_t{2} << 20;

uint32_t *AllocateFrameMemory(size_t bytes) {
    void *p = nullptr;
#if defined(MADV_HUGEPAGE)
    if (posix_memalign(&p, kFrameAlign, bytes) != 0) return nullptr;
    madvise(p, bytes, MADV_HUGEPAGE);
#else
    p = std::malloc(bytes);
#endif
    return static_cast<uint32_t *>(p);
}

class FrameBuffer {
public:
    explicit FrameBuffer(uint32_t offsetBytes, uint32_t fill = 0) {
        const size_t bytes = (kFrameBytes + 2 * 4096 + kFrameAlign - 1) & ~(kFrameAlign - 1);
        memory_.reset(AllocateFrameMemory(bytes));
        if (!memory_) std::abort();
        uintptr_t base = reinterpret_cast<uintptr_t>(memory_.get());
        uintptr_t start = ((base + 4095) & ~uintptr_t{4095}) + offsetBytes;
        data_ = memory_.get() + (start - base) / sizeof(uint32_t);
        std::fill(data_, data_ + kPixels, fill);
    }
    FrameBuffer(uint32_t offsetBytes, const std::vector<uint32_t> &from) : FrameBuffer(offsetBytes) {
        std::memcpy(data_, from.data(), kFrameBytes);
    }
    uint32_t *data() { return data_; }
    const uint32_t *data() const { return data_; }

private:
    struct Free {
        void operator()(uint32_t *p) const { std::free(p); }
    };
    std::unique_ptr<uint32_t, Free> memory_;
    uint32_t *data_;
};

// One frame per workload, built on first use and shared by every benchmark
// of that workload so that ours and pixman see the same pixels.
const Frame &FrameFor(Work work) {
    static std::unique_ptr<Frame> frames[5];
    auto &slot = frames[static_cast<int>(work)];
    if (!slot) slot = std::make_unique<Frame>(MakeFrame(work));
    return *slot;
}

// Shares of a frame's 64-byte lines (16 pixels, each row starting a line)
// whose alphas are all 255 or all 0.
struct LineShares {
    double opaque = 0;
    double clear = 0;
};

constexpr int32_t kLinePixels = 16;
static_assert(kWidth % kLinePixels == 0, "rows hold whole lines");

// alphaOf(i) gives the alpha of pixel i as the operation sees it.
template <class AlphaOf>
LineShares SharesOf(AlphaOf alphaOf) {
    int64_t opaque = 0, clear = 0, lines = kPixels / kLinePixels;
    for (int32_t line = 0; line < kPixels; line += kLinePixels) {
        bool allOpaque = true, allClear = true;
        for (int32_t i = line; i < line + kLinePixels; ++i) {
            uint32_t a = alphaOf(i);
            allOpaque = allOpaque && a == 255;
            allClear = allClear && a == 0;
        }
        opaque += allOpaque;
        clear += allClear;
    }
    return LineShares{static_cast<double>(opaque) / lines, static_cast<double>(clear) / lines};
}

LineShares TopShares(Work work) {
    const Frame &f = FrameFor(work);
    return SharesOf([&](int32_t i) { return f.top[i] >> 24; });
}

// The top with its alpha scaled by an opacity, as the Ex forms read it.
LineShares FadedTopShares(Work work, uint32_t opacity) {
    const Frame &f = FrameFor(work);
    return SharesOf([&](int32_t i) { return opacity * (f.top[i] >> 24) / 255; });
}

// Where the top or the bottom is opaque, their composite is.
LineShares EitherOpaqueShares(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b) {
    return SharesOf([&](int32_t i) { return (a[i] >> 24) == 255 || (b[i] >> 24) == 255 ? 255u : 1u; });
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

// The fastest memcpy of one frame that this run has timed so far, in
// milliseconds: BM_Memcpy's frames, and at least ten copies and 25 ms of
// copying before each benchmark. The copies before one benchmark alone fell
// into one of a shared machine's slow spells often enough that the floors
// of one run's benchmarks differed by a fifth, and by up to three times
// between runs (measured).
double fastestMemcpyMs = 1e30;

double MemcpyMs() {
    static FrameBuffer src(kTopAt, 0x12345678), dst(kOutAt);
    const Clock::time_point start = Clock::now();
    for (int k = 0; k < 10 || Seconds(start, Clock::now()) < 0.025; ++k) {
        Clock::time_point t0 = Clock::now();
        std::memcpy(dst.data(), src.data(), kFrameBytes);
        benchmark::ClobberMemory();
        fastestMemcpyMs = std::min(fastestMemcpyMs, Seconds(t0, Clock::now()) * 1e3);
    }
    return fastestMemcpyMs;
}

// Drops a frame's lines from every cache.
void DropFromCaches(const FrameBuffer &frame) {
    const char *p = reinterpret_cast<const char *>(frame.data());
    for (size_t offset = 0; offset < kFrameBytes; offset += 64) _mm_clflush(p + offset);
    _mm_mfence();
}

// MemcpyMs with neither frame in any cache before each copy: main memory's
// speed. Between MemcpyMs' copies its two frames stay in a last-level cache
// of 16 MiB or more, as the frames of an operation with few frames do; an
// operation whose frames together outgrow that cache (three layers stacked,
// eight) meets main memory instead.
double ColdMemcpyMs() {
    static FrameBuffer src(kTopAt, 0x12345678), dst(kOutAt);
    double best = 1e30;
    for (int k = 0; k < 10; ++k) {
        DropFromCaches(src);
        DropFromCaches(dst);
        Clock::time_point t0 = Clock::now();
        std::memcpy(dst.data(), src.data(), kFrameBytes);
        benchmark::ClobberMemory();
        best = std::min(best, Seconds(t0, Clock::now()));
    }
    return best * 1e3;
}

// An operation that writes over one of its inputs needs that input put back
// before each frame, from a pristine copy. The copy's lines are then dropped
// from the caches again (clflush, untimed), so that the frame finds the
// caches as a frame without a restore would: a pristine copy left behind
// there crowds out the lines the frame reads (up to a quarter of a frame
// that writes nothing, measured), and that is not the operation's cost.
// The restored frame itself stays cached, as a host's freshly made layer
// would be. restore() runs untimed before each op().
template <class Restore, class Op>
double TimeIterations(benchmark::State &state, Restore restore, Op op) {
    double best = 1e30;
    for (auto _ : state) {
        restore();
        Clock::time_point t0 = Clock::now();
        op();
        benchmark::ClobberMemory();
        double seconds = Seconds(t0, Clock::now());
        state.SetIterationTime(seconds);
        best = std::min(best, seconds);
    }
    return best * 1e3;
}

// Runs the benchmark's iterations, each op() timed on its own. Returns the
// fastest iteration in milliseconds.
template <class Op>
double TimeIterations(benchmark::State &state, Op op) {
    return TimeIterations(state, [] {}, op);
}

// Puts a frame back from its pristine copy and drops the copy from the
// caches.
void Restore(FrameBuffer &written, const FrameBuffer &pristine) {
    std::memcpy(written.data(), pristine.data(), kFrameBytes);
    DropFromCaches(pristine);
}

// pixman's and CompositPels' fastest frames per workload, from this run:
// each workload's pixman benchmark and CompositPels run before the others.
double pixmanMs[5];
double pelsMs[5];

void Report(benchmark::State &state, Work work, double ms, double floorTransfers, double copyMs,
            int64_t layersBlended) {
    double floorMs = floorTransfers * copyMs / 2;
    state.counters["ms"] = ms;
    state.counters["floor_ms"] = floorMs;
    state.counters["to_floor"] = floorMs / ms;
    state.counters["to_dram_floor"] = floorTransfers * ColdMemcpyMs() / 2 / ms;
    double pixman = pixmanMs[static_cast<int>(work)];
    if (pixman > 0) {
        state.counters["pixman_ms"] = pixman;
        state.counters["vs_pixman"] = pixman / ms;
    }
    double pels = pelsMs[static_cast<int>(work)];
    if (pels > 0) state.counters["vs_pels"] = ms / static_cast<double>(layersBlended) / pels;
}

// Floors of the two-input forms from the top's line shares.
double FloorToOutput(const LineShares &top) { return 2 + (1 - top.opaque); }
double FloorOnTop(const LineShares &top) { return 1 + 2 * (1 - top.opaque); }
double FloorOnBottom(const LineShares &top) { return 1 + (1 - top.opaque) + (1 - top.clear); }

void SetPixelRate(benchmark::State &state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

Layer *FrameLayer(FrameBuffer &pixels) { return CreateCompatibleLayer(pixels.data(), kWidth, kHeight, kRowBytes); }

using PelsFn = uint32_t(ZL_CALL *)(const uint32_t *, const uint32_t *, uint32_t *, int32_t);

// Where the buffers lie: in their own slots, or as consecutive heap blocks
// of a frame's size come (16 bytes apart modulo 4 KiB, the output last).
enum class Placement { Slots, Adjacent };

void RunPels(benchmark::State &state, Work work, PelsFn fn, Placement placement) {
    const Frame &f = FrameFor(work);
    bool adjacent = placement == Placement::Adjacent;
    FrameBuffer top(adjacent ? 0 : kTopAt, f.top), bottom(adjacent ? 16 : kBottomAt, f.bottom);
    FrameBuffer out(adjacent ? 32 : kOutAt);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(
        state, [&] { benchmark::DoNotOptimize(fn(top.data(), bottom.data(), out.data(), kPixels)); });
    if (fn == &CompositPels && !adjacent) pelsMs[static_cast<int>(work)] = ms;
    Report(state, work, ms, FloorToOutput(TopShares(work)), copyMs, 1);
    SetPixelRate(state);
}

// CompositOnTopLayer or CompositOnBottomLayer, in place.
void RunInPlace(benchmark::State &state, Work work, bool writesTop) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom);
    FrameBuffer &written = writesTop ? top : bottom;
    const FrameBuffer pristine(kSpareAt, writesTop ? f.top : f.bottom);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(
        state, [&] { Restore(written, pristine); },
        [&] {
            if (writesTop)
                CompositOnTopLayer(topLayer, bottomLayer);
            else
                CompositOnBottomLayer(topLayer, bottomLayer);
        });
    LineShares shares = TopShares(work);
    Report(state, work, ms, writesTop ? FloorOnTop(shares) : FloorOnBottom(shares), copyMs, 1);
    SetPixelRate(state);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
}

void RunOnOutput(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom), out(kOutAt);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(state, [&] { CompositOnOutputLayer(topLayer, bottomLayer, outLayer); });
    Report(state, work, ms, FloorToOutput(TopShares(work)), copyMs, 1);
    SetPixelRate(state);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// pixman's OVER writes into its destination, so the bottom pixels play the
// destination and are restored as above. Its floor is that of
// CompositOnBottomLayer.
void RunPixmanOver(benchmark::State &state, Work work, Placement placement) {
    const Frame &f = FrameFor(work);
    bool adjacent = placement == Placement::Adjacent;
    FrameBuffer src(adjacent ? 0 : kTopAt, f.top), dst(adjacent ? 16 : kBottomAt, f.bottom);
    const FrameBuffer pristine(kSpareAt, f.bottom);
    pixman_image_t *srcImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, src.data(), kRowBytes);
    pixman_image_t *dstImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, dst.data(), kRowBytes);
    if (srcImage == nullptr || dstImage == nullptr) {
        state.SkipWithError("pixman_image_create_bits failed");
    } else {
        double copyMs = MemcpyMs();
        double ms = TimeIterations(
            state, [&] { Restore(dst, pristine); },
            [&] {
                pixman_image_composite32(PIXMAN_OP_OVER, srcImage, nullptr, dstImage, 0, 0, 0, 0, 0, 0, kWidth,
                                         kHeight);
            });
        if (!adjacent) pixmanMs[static_cast<int>(work)] = ms;
        Report(state, work, ms, FloorOnBottom(TopShares(work)), copyMs, 1);
        SetPixelRate(state);
    }
    if (srcImage != nullptr) pixman_image_unref(srcImage);
    if (dstImage != nullptr) pixman_image_unref(dstImage);
}

// Baselines: one frame copied, one frame filled.
void RunMemcpy(benchmark::State &state) {
    FrameBuffer src(kTopAt, 0x12345678), dst(kOutAt);
    double ms = TimeIterations(state, [&] { std::memcpy(dst.data(), src.data(), kFrameBytes); });
    fastestMemcpyMs = std::min(fastestMemcpyMs, ms);
    state.counters["ms"] = ms;
    SetPixelRate(state);
}

void RunMemset(benchmark::State &state) {
    FrameBuffer dst(kOutAt, 1);
    double ms = TimeIterations(state, [&] { std::memset(dst.data(), 0, kFrameBytes); });
    state.counters["ms"] = ms;
    SetPixelRate(state);
}

enum class FillCopy { Clear, Set, Copy };

void RunFillCopy(benchmark::State &state, FillCopy op) {
    FrameBuffer src(kTopAt, 0x12345678), dst(kOutAt, 1);
    Layer *srcLayer = FrameLayer(src);
    Layer *dstLayer = FrameLayer(dst);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(state, [&] {
        switch (op) {
            case FillCopy::Clear: ClearLayer(dstLayer); break;
            case FillCopy::Set: SetLayer(dstLayer, 0x80FF0000u); break;
            case FillCopy::Copy: CopyLayer(dstLayer, srcLayer); break;
        }
    });
    double floorMs = (op == FillCopy::Copy ? 2 : 1) * copyMs / 2;
    state.counters["ms"] = ms;
    state.counters["floor_ms"] = floorMs;
    state.counters["to_floor"] = floorMs / ms;
    SetPixelRate(state);
    DeleteLayer(srcLayer);
    DeleteLayer(dstLayer);
}

// The multi-layer, Ex and row forms. Each counts one item per pixel per
// layer blended, so its items per second compare with pixman's OVER of one
// layer directly. Frames that an operation writes are restored before each
// iteration, as above.
void SetBlendRate(benchmark::State &state, int64_t layersBlended) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels * layersBlended);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

// An output and eight layers: the video copied as the base, then the
// workload's top seven times over it, every second one at opacity 180.
void RunMany(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom), out(kOutAt);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    CompositEntry list[8];
    list[0] = CompositEntry{bottomLayer, 255};
    for (int k = 1; k < 8; ++k) list[k] = CompositEntry{topLayer, static_cast<uint8_t>(k % 2 ? 255 : 180)};
    double copyMs = MemcpyMs();
    double ms = TimeIterations(state, [&] { CompositMany(outLayer, list, 8); });
    // The topmost layer (7) is at 255.
    Report(state, work, ms, 2 + 7 * (1 - TopShares(work).opaque), copyMs, 7);
    SetBlendRate(state, 7);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// TwoLayerComposit: the workload's top as the output (restored each time),
// a second copy of it beneath, the video beneath both.
void RunTwoLayer(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    FrameBuffer out(kOutAt, f.top), first(kTopAt, f.top), second(kBottomAt, f.bottom);
    const FrameBuffer pristine(kSpareAt, f.top);
    Layer *outLayer = FrameLayer(out);
    Layer *firstLayer = FrameLayer(first);
    Layer *secondLayer = FrameLayer(second);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(
        state, [&] { Restore(out, pristine); },
        [&] { TwoLayerComposit(outLayer, firstLayer, secondLayer); });
    LineShares output = TopShares(work);
    Report(state, work, ms, FloorOnTop(output) + (1 - EitherOpaqueShares(f.top, f.top).opaque), copyMs, 2);
    SetBlendRate(state, 2);
    DeleteLayer(outLayer);
    DeleteLayer(firstLayer);
    DeleteLayer(secondLayer);
}

// ThreeLayerComposit: the workload's top over itself at opacity 200, over
// the video.
void RunThreeLayer(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), middle(kSpareAt, f.top), bottom(kBottomAt, f.bottom), out(kOutAt);
    Layer *topLayer = FrameLayer(top);
    Layer *middleLayer = FrameLayer(middle);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(state, [&] { ThreeLayerComposit(outLayer, bottomLayer, middleLayer, topLayer, 200); });
    // The faded middle is never opaque, so top over middle is opaque where
    // the top is.
    LineShares topShares = TopShares(work);
    Report(state, work, ms, 1 + 2 * (1 - topShares.opaque) + 1, copyMs, 2);
    SetBlendRate(state, 2);
    DeleteLayer(topLayer);
    DeleteLayer(middleLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// The Ex forms at opacity 200: the faded layer is the one read.
void RunEx(benchmark::State &state, Work work, bool writesTop) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom);
    FrameBuffer &written = writesTop ? top : bottom;
    const FrameBuffer pristine(kSpareAt, writesTop ? f.top : f.bottom);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(
        state, [&] { Restore(written, pristine); },
        [&] {
            if (writesTop)
                CompositOnTopLayerEx(topLayer, bottomLayer, 200);
            else
                CompositOnBottomLayerEx(topLayer, bottomLayer, 200);
        });
    double floor = writesTop ? FloorOnTop(TopShares(work)) : FloorOnBottom(FadedTopShares(work, 200));
    Report(state, work, ms, floor, copyMs, 1);
    SetBlendRate(state, 1);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
}

enum class RowForm { OnTop, OnBottom, OnTopEx, AgainstColour };

// The row exports called once per row of the frame, in place.
void RunRows(benchmark::State &state, Work work, RowForm form) {
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom);
    bool writesTop = form != RowForm::OnBottom;
    FrameBuffer &written = writesTop ? top : bottom;
    const FrameBuffer pristine(kSpareAt, writesTop ? f.top : f.bottom);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(
        state, [&] { Restore(written, pristine); },
        [&] {
            for (int32_t y = 0; y < kHeight; ++y) {
                uint32_t *t = top.data() + static_cast<size_t>(y) * kWidth;
                uint32_t *b = bottom.data() + static_cast<size_t>(y) * kWidth;
                switch (form) {
                    case RowForm::OnTop: CompositOnTop(t, b, kWidth); break;
                    case RowForm::OnBottom: CompositOnBottom(t, b, kWidth); break;
                    case RowForm::OnTopEx: CompositOnTopEx(t, b, kWidth, 200); break;
                    case RowForm::AgainstColour: CompositAgainstColour(t, 0xFF204060u, kWidth); break;
                }
            }
        });
    LineShares shares = TopShares(work);
    double floor = 0;
    switch (form) {
        case RowForm::OnTop: floor = FloorOnTop(shares); break;
        case RowForm::OnBottom: floor = FloorOnBottom(shares); break;
        case RowForm::OnTopEx: floor = FloorOnTop(FadedTopShares(work, 200)); break;
        case RowForm::AgainstColour: floor = 1 + (1 - shares.opaque); break;
    }
    Report(state, work, ms, floor, copyMs, 1);
    SetBlendRate(state, 1);
}

// CompositOnTop over the first 1000 pixels of each row, as a host's layer
// of an odd width: every row ends in pixels short of a whole block (1000 =
// 31 x 32 + 8 and 62 x 16 + 8 pixels in the AVX-512 and AVX2 runs). Its
// counter is ms alone: the rows hold 1000 / 1920 of the frame.
void RunOddRows(benchmark::State &state, Work work) {
    constexpr int32_t kOddWidth = 1000;
    const Frame &f = FrameFor(work);
    FrameBuffer top(kTopAt, f.top), bottom(kBottomAt, f.bottom);
    const FrameBuffer pristine(kSpareAt, f.top);
    double ms = TimeIterations(
        state, [&] { Restore(top, pristine); },
        [&] {
            for (int32_t y = 0; y < kHeight; ++y) {
                size_t row = static_cast<size_t>(y) * kWidth;
                CompositOnTop(top.data() + row, bottom.data() + row, kOddWidth);
            }
        });
    state.counters["ms"] = ms;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kOddWidth * kHeight);
}

void RunCopyWithOpacity(benchmark::State &state) {
    FrameBuffer src(kTopAt, 0x92345678), dst(kOutAt, 1);
    Layer *srcLayer = FrameLayer(src);
    Layer *dstLayer = FrameLayer(dst);
    double copyMs = MemcpyMs();
    double ms = TimeIterations(state, [&] { CopyWithOpacityLayer(dstLayer, srcLayer, 200); });
    state.counters["ms"] = ms;
    state.counters["floor_ms"] = copyMs;
    state.counters["to_floor"] = copyMs / ms;
    SetPixelRate(state);
    DeleteLayer(srcLayer);
    DeleteLayer(dstLayer);
}

std::string Name(const char *function, Work work) { return std::string("BM_") + function + "/" + WorkName(work); }

template <class... Args>
void Register(const std::string &name, Args &&...args) {
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
}

void RegisterAll() {
    Register("BM_Memcpy", RunMemcpy);
    Register("BM_Memset", RunMemset);
    Register("BM_ClearLayer", RunFillCopy, FillCopy::Clear);
    Register("BM_SetLayer", RunFillCopy, FillCopy::Set);
    Register("BM_CopyLayer", RunFillCopy, FillCopy::Copy);
    Register("BM_CopyWithOpacityLayer", RunCopyWithOpacity);
    // Grouped by workload so that each of ours runs next to its pixman peer.
    for (Work work : kWorks) {
        Register(Name("Pixman_Over", work), RunPixmanOver, work, Placement::Slots);
        Register(Name("CompositPels", work), RunPels, work, &CompositPels, Placement::Slots);
        Register(Name("CompositOnTopLayer", work), RunInPlace, work, true);
        Register(Name("CompositOnBottomLayer", work), RunInPlace, work, false);
        Register(Name("CompositOnOutputLayer", work), RunOnOutput, work);
        Register(Name("CompositMany8", work), RunMany, work);
        Register(Name("TwoLayerComposit", work), RunTwoLayer, work);
        Register(Name("ThreeLayerComposit", work), RunThreeLayer, work);
        Register(Name("CompositOnTopLayerEx", work), RunEx, work, true);
        Register(Name("CompositOnBottomLayerEx", work), RunEx, work, false);
        Register(Name("CompositOnTopRows", work), RunRows, work, RowForm::OnTop);
        Register(Name("CompositOnBottomRows", work), RunRows, work, RowForm::OnBottom);
        Register(Name("CompositOnTopExRows", work), RunRows, work, RowForm::OnTopEx);
        Register(Name("CompositAgainstColourRows", work), RunRows, work, RowForm::AgainstColour);
        Register(Name("CompositOnTopRows1000", work), RunOddRows, work);
    }
    Register(Name("CompositPelsNonMMX", Work::Random), RunPels, Work::Random, &CompositPelsNonMMX, Placement::Slots);
    Register(Name("CompositPelsMMXOnly", Work::Random), RunPels, Work::Random, &CompositPelsMMXOnly,
             Placement::Slots);
    Register("BM_Pixman_Over/random_adjacent", RunPixmanOver, Work::Random, Placement::Adjacent);
    Register("BM_CompositPels/random_adjacent", RunPels, Work::Random, &CompositPels, Placement::Adjacent);
}

// The widest instructions the processor offers of those the library
// chooses its blends by, as the figures differ with them: the compiler's
// check also asks whether the system saves the wider registers.
const char *WidestVectors() {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw")) return "avx512bw";
    if (__builtin_cpu_supports("avx2")) return "avx2";
    return "sse2";
#else
    return "unknown";
#endif
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::AddCustomContext("frame", std::to_string(kWidth) + "x" + std::to_string(kHeight));
    benchmark::AddCustomContext("seed", std::to_string(kSeed));
    benchmark::AddCustomContext("pixman", pixman_version_string());
    benchmark::AddCustomContext("vectors", WidestVectors());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
