// Throughput of the straight-alpha blends, with pixman's OVER as a speed peer.
//
// Every benchmark works on one 1920 x 1080 frame. CompositPels and
// CompositPelsMMXOnly are called once per iteration for the whole frame
// (count = 1920 * 1080); CompositOnTopLayer and pixman each composite the
// whole frame per iteration. The two in-place operations get their
// destination restored from a pristine copy before each iteration, outside
// the timed region (PauseTiming/ResumeTiming).
//
// pixman reads its a8r8g8b8 pixels as premultiplied, so its output differs
// from ours on the same data; it is only here for speed.

#include <benchmark/benchmark.h>
#include <pixman.h>

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
constexpr uint32_t kSeed = 0x5A4E5452u;

enum class Mix { Random, Opaque90, Clear90 };

const char *MixName(Mix mix) {
    switch (mix) {
        case Mix::Random: return "random";
        case Mix::Opaque90: return "opaque90";
        case Mix::Clear90: return "clear90";
    }
    return "?";
}

struct Frame {
    std::vector<uint32_t> top;
    std::vector<uint32_t> bottom;
};

// Raw mt19937 words only: the standard fixes that sequence exactly, whereas
// the distributions may differ between library versions.
Frame MakeFrame(Mix mix) {
    std::mt19937 gen(kSeed + static_cast<uint32_t>(mix));
    // 90 % of 2^32, for a per-pixel choice of the forced alpha.
    constexpr uint32_t kNinetyPercent = 3865470566u;
    Frame f;
    f.top.resize(kPixels);
    f.bottom.resize(kPixels);
    for (int32_t i = 0; i < kPixels; ++i) {
        uint32_t t = gen();
        if (mix != Mix::Random && gen() < kNinetyPercent) {
            t = (mix == Mix::Opaque90) ? (t | 0xFF000000u) : (t & 0x00FFFFFFu);
        }
        f.top[i] = t;
        f.bottom[i] = gen();
    }
    return f;
}

// One frame per mix, built on first use and shared by every benchmark of that
// mix so that ours and pixman see the same pixels.
const Frame &FrameFor(Mix mix) {
    static std::unique_ptr<Frame> frames[3];
    auto &slot = frames[static_cast<int>(mix)];
    if (!slot) slot = std::make_unique<Frame>(MakeFrame(mix));
    return *slot;
}

void SetPixelRate(benchmark::State &state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}

using PelsFn = uint32_t(ZL_CALL *)(const uint32_t *, const uint32_t *, uint32_t *, int32_t);

void RunPels(benchmark::State &state, Mix mix, PelsFn fn) {
    const Frame &f = FrameFor(mix);
    std::vector<uint32_t> out(kPixels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fn(f.top.data(), f.bottom.data(), out.data(), kPixels));
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

void RunOnTopLayer(benchmark::State &state, Mix mix) {
    const Frame &f = FrameFor(mix);
    std::vector<uint32_t> top(f.top);
    std::vector<uint32_t> bottom(f.bottom);
    Layer *topLayer = CreateCompatibleLayer(top.data(), kWidth, kHeight, kRowBytes);
    Layer *bottomLayer = CreateCompatibleLayer(bottom.data(), kWidth, kHeight, kRowBytes);
    if (topLayer == nullptr || bottomLayer == nullptr) {
        state.SkipWithError("CreateCompatibleLayer failed");
    } else {
        for (auto _ : state) {
            state.PauseTiming();
            std::memcpy(top.data(), f.top.data(), sizeof(uint32_t) * kPixels);
            state.ResumeTiming();
            if (CompositOnTopLayer(topLayer, bottomLayer) == 0) {
                state.SkipWithError("CompositOnTopLayer failed");
                break;
            }
            benchmark::ClobberMemory();
        }
        SetPixelRate(state);
    }
    if (topLayer != nullptr) DeleteLayer(topLayer);
    if (bottomLayer != nullptr) DeleteLayer(bottomLayer);
}

// pixman's OVER writes into its destination, so the bottom pixels play the
// destination and are restored exactly as the top layer is above.
void RunPixmanOver(benchmark::State &state, Mix mix) {
    const Frame &f = FrameFor(mix);
    std::vector<uint32_t> src(f.top);
    std::vector<uint32_t> dst(f.bottom);
    pixman_image_t *srcImage =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, src.data(), kRowBytes);
    pixman_image_t *dstImage =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, dst.data(), kRowBytes);
    if (srcImage == nullptr || dstImage == nullptr) {
        state.SkipWithError("pixman_image_create_bits failed");
    } else {
        for (auto _ : state) {
            state.PauseTiming();
            std::memcpy(dst.data(), f.bottom.data(), sizeof(uint32_t) * kPixels);
            state.ResumeTiming();
            pixman_image_composite32(PIXMAN_OP_OVER, srcImage, nullptr, dstImage, 0, 0, 0, 0, 0, 0,
                                     kWidth, kHeight);
            benchmark::ClobberMemory();
        }
        SetPixelRate(state);
    }
    if (srcImage != nullptr) pixman_image_unref(srcImage);
    if (dstImage != nullptr) pixman_image_unref(dstImage);
}

std::string Name(const char *function, Mix mix) { return std::string("BM_") + function + "/" + MixName(mix); }

void RegisterAll() {
    // Grouped by mix so that each of ours runs next to its pixman peer.
    for (Mix mix : {Mix::Random, Mix::Opaque90, Mix::Clear90}) {
        benchmark::RegisterBenchmark(Name("CompositPels", mix).c_str(), RunPels, mix, &CompositPels)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("CompositPelsMMXOnly", mix).c_str(), RunPels, mix,
                                     &CompositPelsMMXOnly)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("CompositOnTopLayer", mix).c_str(), RunOnTopLayer, mix)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("Pixman_Over", mix).c_str(), RunPixmanOver, mix)
            ->Unit(benchmark::kMillisecond);
    }
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
