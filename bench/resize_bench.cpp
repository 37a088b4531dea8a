// Speed of ResizeLayerCorrect (the scanline scaler) from one 1920 x 1080
// frame to 960 x 540, 1280 x 720 and 3840 x 2160, and from a 1280 x 720
// frame to 640 x 360 (the picture-in-picture of `zantrel video --pip`, both
// axes halved: the integer route), each next to pixman
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
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "resize_frame.h"

namespace {


struct Size {
    int32_t width;
    int32_t height;
};
struct Target {
    Size src;
    Size dst;
};
const Target kTargets[] = {
    {{1920, 1080}, {960, 540}}, {{1920, 1080}, {1280, 720}}, {{1920, 1080}, {3840, 2160}}, {{1280, 720}, {640, 360}}};

std::vector<uint32_t> SourceFrame(Size size) { return RandomResizeSource(size.width, size.height); }

void SetRate(benchmark::State &state, const Size &size) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * size.width * size.height);
}

void RunResizeLayerCorrect(benchmark::State &state, Target target) {
    const Size size = target.dst;
    std::vector<uint32_t> src(SourceFrame(target.src));
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    Layer *from = CreateCompatibleLayer(src.data(), target.src.width, target.src.height, target.src.width * 4);
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
void RunScaleScanline(benchmark::State &state, Target target) {
    const Size size = target.dst;
    std::vector<uint32_t> src(SourceFrame(target.src));
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    for (auto _ : state) {
        ScanlineScaler *scaler = BeginScaleScanline(target.src.width, target.src.height, size.width, size.height);
        if (scaler == nullptr) {
            state.SkipWithError("BeginScaleScanline failed");
            break;
        }
        const uint32_t *srcRow = src.data();
        uint32_t *dstRow = dst.data();
        do {
            ScaleScanline(dstRow, srcRow, scaler);
            if (scaler->needInput) srcRow += target.src.width;
            if (scaler->outputReady) dstRow += size.width;
        } while (scaler->needInput || scaler->outputReady);
        EndScaleScanline(scaler);
        benchmark::ClobberMemory();
    }
    SetRate(state, size);
}

void RunPixman(benchmark::State &state, Target target) {
    const Size size = target.dst;
    std::vector<uint32_t> src(SourceFrame(target.src));
    std::vector<uint32_t> dst(static_cast<size_t>(size.width) * size.height);
    pixman_image_t *from = pixman_image_create_bits(PIXMAN_a8r8g8b8, target.src.width, target.src.height, src.data(),
                                                    target.src.width * 4);
    pixman_image_t *to = pixman_image_create_bits(PIXMAN_a8r8g8b8, size.width, size.height, dst.data(), size.width * 4);
    double sx = static_cast<double>(target.src.width) / size.width;
    double sy = static_cast<double>(target.src.height) / size.height;
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
std::string TargetName(const Target &target) {
    return target.src.width == 1920 ? SizeName(target.dst) : SizeName(target.src) + "-" + SizeName(target.dst);
}

void RegisterAll() {
    for (const Target &target : kTargets) {
        const char *peer = target.dst.width < target.src.width ? "BM_Pixman_Box/" : "BM_Pixman_Bilinear/";
        const std::string name = TargetName(target);
        benchmark::RegisterBenchmark(("BM_ResizeLayerCorrect/" + name).c_str(), RunResizeLayerCorrect, target)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_ScaleScanline/" + name).c_str(), RunScaleScanline, target)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((peer + name).c_str(), RunPixman, target)->Unit(benchmark::kMillisecond);
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
        std::printf("\n%-18s %12s %12s %12s %8s %10s\n", "size", "ours Mpx/s", "host loop", "pixman", "ratio",
                    "peer");
        for (const Target &target : kTargets) {
            const std::string name = TargetName(target);
            const bool reducing = target.dst.width < target.src.width;
            const double ours = Rate("BM_ResizeLayerCorrect/" + name);
            const double host = Rate("BM_ScaleScanline/" + name);
            const double peer = Rate((reducing ? "BM_Pixman_Box/" : "BM_Pixman_Bilinear/") + name);
            std::printf("%-18s %12.1f %12.1f %12.1f %7.2fx %10s\n", name.c_str(), ours, host, peer,
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
    benchmark::AddCustomContext("source", "1920x1080 (1280x720 where named)");
    benchmark::AddCustomContext("pixman", pixman_version_string());
    RateTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    table.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
