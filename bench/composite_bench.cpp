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
// pristine copy before each iteration, outside the timed region.
//
// pixman reads its a8r8g8b8 pixels as premultiplied, so its output differs
// from ours on the same data; it is only here for speed.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

// One frame per workload, built on first use and shared by every benchmark
// of that workload so that ours and pixman see the same pixels.
const Frame &FrameFor(Work work) {
    static std::unique_ptr<Frame> frames[5];
    auto &slot = frames[static_cast<int>(work)];
    if (!slot) slot = std::make_unique<Frame>(MakeFrame(work));
    return *slot;
}

void SetPixelRate(benchmark::State &state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

Layer *FrameLayer(std::vector<uint32_t> &pixels) {
    return CreateCompatibleLayer(pixels.data(), kWidth, kHeight, kRowBytes);
}

using PelsFn = uint32_t(ZL_CALL *)(const uint32_t *, const uint32_t *, uint32_t *, int32_t);

void RunPels(benchmark::State &state, Work work, PelsFn fn) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> out(kPixels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fn(f.top.data(), f.bottom.data(), out.data(), kPixels));
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

// CompositOnTopLayer or CompositOnBottomLayer, in place.
void RunInPlace(benchmark::State &state, Work work, bool writesTop) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), bottom(f.bottom);
    std::vector<uint32_t> &written = writesTop ? top : bottom;
    const std::vector<uint32_t> &pristine = writesTop ? f.top : f.bottom;
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(written.data(), pristine.data(), kFrameBytes);
        state.ResumeTiming();
        if (writesTop)
            CompositOnTopLayer(topLayer, bottomLayer);
        else
            CompositOnBottomLayer(topLayer, bottomLayer);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
}

void RunOnOutput(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), bottom(f.bottom), out(kPixels);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    for (auto _ : state) {
        CompositOnOutputLayer(topLayer, bottomLayer, outLayer);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// pixman's OVER writes into its destination, so the bottom pixels play the
// destination and are restored as above.
void RunPixmanOver(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> src(f.top), dst(f.bottom);
    pixman_image_t *srcImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, src.data(), kRowBytes);
    pixman_image_t *dstImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, dst.data(), kRowBytes);
    if (srcImage == nullptr || dstImage == nullptr) {
        state.SkipWithError("pixman_image_create_bits failed");
    } else {
        for (auto _ : state) {
            state.PauseTiming();
            std::memcpy(dst.data(), f.bottom.data(), kFrameBytes);
            state.ResumeTiming();
            pixman_image_composite32(PIXMAN_OP_OVER, srcImage, nullptr, dstImage, 0, 0, 0, 0, 0, 0, kWidth, kHeight);
            benchmark::ClobberMemory();
        }
        SetPixelRate(state);
    }
    if (srcImage != nullptr) pixman_image_unref(srcImage);
    if (dstImage != nullptr) pixman_image_unref(dstImage);
}

// Baselines: one frame copied, one frame filled.
void RunMemcpy(benchmark::State &state) {
    std::vector<uint32_t> src(kPixels, 0x12345678), dst(kPixels);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kFrameBytes);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

void RunMemset(benchmark::State &state) {
    std::vector<uint32_t> dst(kPixels, 1);
    for (auto _ : state) {
        std::memset(dst.data(), 0, kFrameBytes);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

enum class FillCopy { Clear, Set, Copy };

void RunFillCopy(benchmark::State &state, FillCopy op) {
    std::vector<uint32_t> src(kPixels, 0x12345678), dst(kPixels, 1);
    Layer *srcLayer = FrameLayer(src);
    Layer *dstLayer = FrameLayer(dst);
    for (auto _ : state) {
        switch (op) {
            case FillCopy::Clear: ClearLayer(dstLayer); break;
            case FillCopy::Set: SetLayer(dstLayer, 0x80FF0000u); break;
            case FillCopy::Copy: CopyLayer(dstLayer, srcLayer); break;
        }
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
    DeleteLayer(srcLayer);
    DeleteLayer(dstLayer);
}

// The multi-layer, Ex and row forms. Each counts one item per pixel per
// layer blended, so its items per second compare with pixman's OVER of one
// layer directly. Frames that an operation writes are restored before each
// iteration outside the timed region, as above.
void SetBlendRate(benchmark::State &state, int64_t layersBlended) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels * layersBlended);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

// An output and eight layers: the video copied as the base, then the
// workload's top seven times over it, every second one at opacity 180.
void RunMany(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), bottom(f.bottom), out(kPixels);
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    CompositEntry list[8];
    list[0] = CompositEntry{bottomLayer, 255};
    for (int k = 1; k < 8; ++k) list[k] = CompositEntry{topLayer, static_cast<uint8_t>(k % 2 ? 255 : 180)};
    for (auto _ : state) {
        CompositMany(outLayer, list, 8);
        benchmark::ClobberMemory();
    }
    SetBlendRate(state, 7);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// TwoLayerComposit: the workload's top as the output (restored each time),
// a second copy of it beneath, the video beneath both.
void RunTwoLayer(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> out(f.top), first(f.top), second(f.bottom);
    Layer *outLayer = FrameLayer(out);
    Layer *firstLayer = FrameLayer(first);
    Layer *secondLayer = FrameLayer(second);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(out.data(), f.top.data(), kFrameBytes);
        state.ResumeTiming();
        TwoLayerComposit(outLayer, firstLayer, secondLayer);
        benchmark::ClobberMemory();
    }
    SetBlendRate(state, 2);
    DeleteLayer(outLayer);
    DeleteLayer(firstLayer);
    DeleteLayer(secondLayer);
}

// ThreeLayerComposit: the workload's top over itself at opacity 200, over
// the video.
void RunThreeLayer(benchmark::State &state, Work work) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), middle(f.top), bottom(f.bottom), out(kPixels);
    Layer *topLayer = FrameLayer(top);
    Layer *middleLayer = FrameLayer(middle);
    Layer *bottomLayer = FrameLayer(bottom);
    Layer *outLayer = FrameLayer(out);
    for (auto _ : state) {
        ThreeLayerComposit(outLayer, bottomLayer, middleLayer, topLayer, 200);
        benchmark::ClobberMemory();
    }
    SetBlendRate(state, 2);
    DeleteLayer(topLayer);
    DeleteLayer(middleLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(outLayer);
}

// The Ex forms at opacity 200: the faded layer is the one read.
void RunEx(benchmark::State &state, Work work, bool writesTop) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), bottom(f.bottom);
    std::vector<uint32_t> &written = writesTop ? top : bottom;
    const std::vector<uint32_t> &pristine = writesTop ? f.top : f.bottom;
    Layer *topLayer = FrameLayer(top);
    Layer *bottomLayer = FrameLayer(bottom);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(written.data(), pristine.data(), kFrameBytes);
        state.ResumeTiming();
        if (writesTop)
            CompositOnTopLayerEx(topLayer, bottomLayer, 200);
        else
            CompositOnBottomLayerEx(topLayer, bottomLayer, 200);
        benchmark::ClobberMemory();
    }
    SetBlendRate(state, 1);
    DeleteLayer(topLayer);
    DeleteLayer(bottomLayer);
}

enum class RowForm { OnTop, OnBottom, OnTopEx, AgainstColour };

// The row exports called once per row of the frame, in place.
void RunRows(benchmark::State &state, Work work, RowForm form) {
    const Frame &f = FrameFor(work);
    std::vector<uint32_t> top(f.top), bottom(f.bottom);
    bool writesTop = form != RowForm::OnBottom;
    std::vector<uint32_t> &written = writesTop ? top : bottom;
    const std::vector<uint32_t> &pristine = writesTop ? f.top : f.bottom;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(written.data(), pristine.data(), kFrameBytes);
        state.ResumeTiming();
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
        benchmark::ClobberMemory();
    }
    SetBlendRate(state, 1);
}

void RunCopyWithOpacity(benchmark::State &state) {
    std::vector<uint32_t> src(kPixels, 0x92345678), dst(kPixels, 1);
    Layer *srcLayer = FrameLayer(src);
    Layer *dstLayer = FrameLayer(dst);
    for (auto _ : state) {
        CopyWithOpacityLayer(dstLayer, srcLayer, 200);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
    DeleteLayer(srcLayer);
    DeleteLayer(dstLayer);
}

std::string Name(const char *function, Work work) { return std::string("BM_") + function + "/" + WorkName(work); }

template <class... Args>
void Register(const std::string &name, Args &&...args) {
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)->Unit(benchmark::kMillisecond);
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
        Register(Name("Pixman_Over", work), RunPixmanOver, work);
        Register(Name("CompositPels", work), RunPels, work, &CompositPels);
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
    }
    Register(Name("CompositPelsNonMMX", Work::Random), RunPels, Work::Random, &CompositPelsNonMMX);
    Register(Name("CompositPelsMMXOnly", Work::Random), RunPels, Work::Random, &CompositPelsMMXOnly);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::AddCustomContext("frame", std::to_string(kWidth) + "x" + std::to_string(kHeight));
    benchmark::AddCustomContext("seed", std::to_string(kSeed));
    benchmark::AddCustomContext("pixman", pixman_version_string());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
