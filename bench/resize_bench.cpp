// Speed of ResizeLayerCorrect (the scanline scaler) from one 1920 x 1080
// frame to 960 x 540, 1280 x 720 and 3840 x 2160, each next to pixman
// scaling the same pixels to the same size: a separable-convolution box
// filter for the reductions, the bilinear filter for the enlargement. The
// scaler is also driven row by row by a host loop (ScaleScanline in copy
// mode), as an editor that feeds its own rows would. Rates are destination
// pixels per second; after the runs a table gives ours, the host loop's and
// pixman's rates (medians when --benchmark_repetitions is given) and the
// ratio. pixman reads a8r8g8b8 as premultiplied, so its pixels differ from
// ours; it is here for speed only. zl_resize_phase_bench splits our time
// into the scaler's phases.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// The host's own loop: its rows handed to ScaleScanline in copy mode.
void RunScaleScanline(benchmark::State &state, Size size) {
    std::vector<uint32_t> src(SourceFrame());
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    for (auto _ : state) {
        ScanlineScaler *scaler = BeginScaleScanline(kSrcWidth, kSrcHeight, size.width, size.height);
        if (scaler == nullptr) {
            state.SkipWithError("BeginScaleScanline failed");
            break;
        }
        const uint32_t *srcRow = src.data();
        uint32_t *dstRow = dst.data();
        do {
            ScaleScanline(dstRow, srcRow, scaler);
            if (scaler->needInput) srcRow += kSrcWidth;
            if (scaler->outputReady) dstRow += size.width;
        } while (scaler->needInput || scaler->outputReady);
        EndScaleScanline(scaler);
        benchmark::ClobberMemory();
    }
    SetRate(state, size);
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
        benchmark::RegisterBenchmark(("BM_ScaleScanline/" + SizeName(size)).c_str(), RunScaleScanline, size)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((peer + SizeName(size)).c_str(), RunPixman, size)->Unit(benchmark::kMillisecond);
    }
}

// Keeps each benchmark's rate: the median of its repetitions, or its one run.
class RateTable : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            auto rate = run.counters.find("items_per_second");
            if (run.error_occurred || rate == run.counters.end()) continue;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && medians_.count(run.run_name.str()) == 0))
                rates_[run.run_name.str()] = rate->second.value / 1e6;
            if (median) medians_[run.run_name.str()] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary() const {
        std::printf("\n%-10s %12s %12s %12s %8s %10s\n", "size", "ours Mpx/s", "host loop", "pixman", "ratio",
                    "peer");
        for (const Size &size : kTargets) {
            const std::string name = SizeName(size);
            const bool reducing = size.width < kSrcWidth;
            const double ours = Rate("BM_ResizeLayerCorrect/" + name);
            const double host = Rate("BM_ScaleScanline/" + name);
            const double peer = Rate((reducing ? "BM_Pixman_Box/" : "BM_Pixman_Bilinear/") + name);
            std::printf("%-10s %12.1f %12.1f %12.1f %7.2fx %10s\n", name.c_str(), ours, host, peer,
                        peer > 0 ? ours / peer : 0.0, reducing ? "box" : "bilinear");
        }
    }

private:
    double Rate(const std::string &name) const {
        auto found = rates_.find(name);
        return found == rates_.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> rates_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::AddCustomContext("source", std::to_string(kSrcWidth) + "x" + std::to_string(kSrcHeight));
    benchmark::AddCustomContext("pixman", pixman_version_string());
    RateTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    table.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
