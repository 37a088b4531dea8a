// Speed of ResizeLayerCorrect (the scanline scaler) from one 1920 x 1080
// frame to 960 x 540, 1280 x 720 and 3840 x 2160, each next to pixman
// scaling the same pixels to the same size: a separable-convolution box
// filter for the reductions, the bilinear filter for the enlargement.
// Rates are destination pixels per second. pixman reads a8r8g8b8 as
// premultiplied, so its pixels differ from ours; it is here for speed only.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ZantrelLayer.h"

namespace {

constexpr int32_t kSrcWidth = 1920;
constexpr int32_t kSrcHeight = 1080;
constexpr uint32_t kSeed = 0x52455A45u;

struct Size {
    int32_t width;
    int32_t height;
};
const Size kTargets[] = {{960, 540}, {1280, 720}, {3840, 2160}};

// Random colours; a tenth of the pixels transparent, a tenth translucent.
const std::vector<uint32_t> &SourceFrame() {
    static const std::vector<uint32_t> frame = [] {
        std::mt19937 gen(kSeed);
        std::vector<uint32_t> pixels(static_cast<size_t>(kSrcWidth) * kSrcHeight);
        for (uint32_t &p : pixels) {
            uint32_t r = gen();
            uint32_t pick = gen() % 10;
            uint32_t alpha = pick == 0 ? 0 : pick == 1 ? (r >> 24) : 255;
            p = alpha << 24 | (r & 0xFFFFFF);
        }
        return pixels;
    }();
    return frame;
}

void SetRate(benchmark::State &state, const Size &size) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * size.width * size.height);
}

void RunResizeLayerCorrect(benchmark::State &state, Size size) {
    std::vector<uint32_t> src(SourceFrame());
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    Layer *from = CreateCompatibleLayer(src.data(), kSrcWidth, kSrcHeight, kSrcWidth * 4);
    Layer *to = CreateCompatibleLayer(dst.data(), size.width, size.height, size.width * 4);
    for (auto _ : state) {
        if (ResizeLayerCorrect(to, from) != 1) {
            state.SkipWithError("ResizeLayerCorrect failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetRate(state, size);
    DeleteLayer(from);
    DeleteLayer(to);
}

void RunPixman(benchmark::State &state, Size size) {
    std::vector<uint32_t> src(SourceFrame());
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    pixman_image_t *from = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSrcWidth, kSrcHeight, src.data(), kSrcWidth * 4);
    pixman_image_t *to = pixman_image_create_bits(PIXMAN_a8r8g8b8, size.width, size.height, dst.data(), size.width * 4);
    double sx = static_cast<double>(kSrcWidth) / size.width;
    double sy = static_cast<double>(kSrcHeight) / size.height;
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
    pixman_image_set_transform(from, &transform);
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    pixman_fixed_t *params = nullptr;
    if (sx > 1.0) {
        int count = 0;
        params = pixman_filter_create_separable_convolution(&count, pixman_double_to_fixed(sx),
                                                            pixman_double_to_fixed(sy), PIXMAN_KERNEL_BOX,
                                                            PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX,
                                                            1, 1);
        pixman_image_set_filter(from, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    } else {
        pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, size.width, size.height);
        benchmark::ClobberMemory();
    }
    SetRate(state, size);
    std::free(params);
    pixman_image_unref(from);
    pixman_image_unref(to);
}

std::string SizeName(const Size &size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

void RegisterAll() {
    for (const Size &size : kTargets) {
        const char *peer = size.width < kSrcWidth ? "BM_Pixman_Box/" : "BM_Pixman_Bilinear/";
        benchmark::RegisterBenchmark(("BM_ResizeLayerCorrect/" + SizeName(size)).c_str(), RunResizeLayerCorrect, size)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((peer + SizeName(size)).c_str(), RunPixman, size)->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::AddCustomContext("source", std::to_string(kSrcWidth) + "x" + std::to_string(kSrcHeight));
    benchmark::AddCustomContext("pixman", pixman_version_string());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
