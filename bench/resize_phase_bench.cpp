// Where the scaler's time goes: the wide line producer's three phases timed
// apart over whole frames (1920 x 1080 to each size of zl_resize_bench), for
// each lane width this build and processor run. Each phase runs over every
// line of the frame on its own (CPU time; medians with
// --benchmark_repetitions=5). Built from the library's objects, since the
// phases are internal.
//   horizontal: gathering each footprint line's tap pixels; where the
//               vertical axis enlarges, keeping each source line once (its
//               taps gathered and turned into doubles)
//   vertical:   the tap walk's products and sums (on kept lines: two kept
//               lines stand for every footprint)
//   store:      rounding, division by the alpha, packing and storing
// The library runs the vertical and store phases of kept lines as one loop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "module/fp_env.h"
#include "resize_frame.h"
#include "scale/scale.h"
#include "scale/wide.h"

namespace {

constexpr int32_t kSrcWidth = 1920, kSrcHeight = 1080;

std::vector<uint32_t> SourceFrame() { return RandomResizeSource(kSrcWidth, kSrcHeight); }

// Each destination line's footprint rows, straight from the frame.
struct Frame {
    std::vector<std::vector<const uint32_t *>> rows;
};

Frame Footprints(const std::vector<uint32_t> &src, const ScaleAxis *vertical, int32_t dstHeight) {
    Frame f;
    int32_t top = 0;
    for (int32_t y = 0; y < dstHeight; ++y) {
        const ScaleAxisEntry &v = vertical[y + 1];
        std::vector<const uint32_t *> rows;
        for (int32_t k = 0; k < v.wholeCount + 2; ++k)
            rows.push_back(&src[static_cast<size_t>(std::min(top + k, kSrcHeight - 1)) * kSrcWidth]);
        f.rows.push_back(rows);
        top += v.advance;
    }
    return f;
}

struct Case {
    int32_t width, height;
    const char *lanes;
    const zl::WideKernels *kernels;
    int phase;  // 0 horizontal, 1 vertical, 2 store
};

const char *const kPhaseNames[] = {"horizontal", "vertical", "store"};

// One frame of one phase per iteration, in the known floating-point
// environment the library's exports run in.
void RunPhase(benchmark::State &state, Case c) {
    static const std::vector<uint32_t> src = SourceFrame();
    ScanlineScaler *scaler = BeginScaleScanline(kSrcWidth, kSrcHeight, c.width, c.height);
    zl::WidePlan *plan = scaler != nullptr ? zl::WidePlanOf(scaler) : nullptr;
    if (plan == nullptr) {
        state.SkipWithError("no wide plan for this size");
        EndScaleScanline(scaler);
        return;
    }
    const Frame frame = Footprints(src, scaler->geometry->vertical, c.height);
    const double wholeWeight = zl::WholeWeight(scaler->geometry->vertical);
    std::vector<uint32_t> dst(static_cast<size_t>(c.width) * c.height);
    const zl::WidePhases &phases = c.kernels->phases;
    zl::ScopedFpEnvironment environment;
    zl::CachedPass pass{};
    if (plan->cacheLines) {
        for (int32_t k = 0; k < 2; ++k)
            c.kernels->keepLine(plan->cached[k].values, &src[static_cast<size_t>(k) * kSrcWidth], *plan, 0, c.width);
        pass.values[0] = plan->cached[0].values;
        pass.values[1] = plan->cached[1].values;
    }
    for (auto _ : state) {
        if (plan->cacheLines && c.phase == 0) {
            for (int32_t y = 0; y < kSrcHeight; ++y)
                c.kernels->keepLine(plan->cached[y % 2].values, &src[static_cast<size_t>(y) * kSrcWidth], *plan, 0,
                                    c.width);
        }
        for (int32_t y = 0; y < c.height; ++y) {
            const ScaleAxisEntry &v = scaler->geometry->vertical[y + 1];
            zl::LineFootprint footprint{frame.rows[static_cast<size_t>(y)].data(), &v, wholeWeight};
            const zl::WideLine line = zl::PrepareWideLine(*plan, footprint, 0);
            pass.trailingLine = line.trailingLine;
            pass.lines = line.lines;
            pass.lineWeights[0] = v.leadWeight;
            pass.lineWeights[1] = v.trailWeight;
            for (int32_t column = 0; column < c.width; column += zl::kWideChunk) {
                const int32_t n = std::min(zl::kWideChunk, c.width - column);
                if (c.phase == 0 && !plan->cacheLines) phases.horizontal(line, *plan, column, n);
                if (c.phase == 1) {
                    if (plan->cacheLines) {
                        phases.cachedVertical(pass, *plan, column, n);
                    } else {
                        phases.vertical(line, *plan, column, n);
                    }
                }
                if (c.phase == 2) phases.store(&dst[static_cast<size_t>(y) * c.width + column], *plan, n);
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c.width * c.height);
    EndScaleScanline(scaler);
}

std::string CaseName(const Case &c) {
    return std::string("BM_Phase/") + std::to_string(c.width) + "x" + std::to_string(c.height) + "/" + c.lanes + "/" +
           kPhaseNames[c.phase];
}

// Keeps each case's CPU time per frame: the median of its repetitions, or
// its one run; then prints each phase's share.
class PhaseTable : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && medians_.count(run.run_name.str()) == 0))
                seconds_[run.run_name.str()] = run.GetAdjustedCPUTime() / 1e3;  // reported in milliseconds
            if (median) medians_[run.run_name.str()] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary(const std::vector<Case> &cases) const {
        std::printf("\n%-10s %-8s %10s %11s %11s %11s\n", "size", "lanes", "all Mpx/s", "horizontal", "vertical",
                    "store");
        for (size_t i = 0; i + 2 < cases.size(); i += 3) {
            double t[3];
            bool all = true;
            for (int p = 0; p < 3; ++p) {
                auto found = seconds_.find(CaseName(cases[i + p]));
                all = all && found != seconds_.end();
                t[p] = all ? found->second : 0;
            }
            if (!all) continue;
            const double sum = t[0] + t[1] + t[2];
            std::printf("%4dx%-5d %-8s %10.1f %10.1f%% %10.1f%% %10.1f%%\n", cases[i].width, cases[i].height,
                        cases[i].lanes, static_cast<double>(cases[i].width) * cases[i].height / sum / 1e6,
                        100 * t[0] / sum, 100 * t[1] / sum, 100 * t[2] / sum);
        }
    }

private:
    std::map<std::string, double> seconds_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const int32_t sizes[][2] = {{960, 540}, {1280, 720}, {3840, 2160}};
    const zl::WideKernels *const lanes[] = {zl::WideKernelsAvx(), zl::WideKernelsSse2()};
    std::vector<Case> cases;
    for (const auto &size : sizes)
        for (const zl::WideKernels *l : lanes)
            for (int phase = 0; phase < 3; ++phase)
                if (l != nullptr) cases.push_back({size[0], size[1], l->name, l, phase});
    for (const Case &c : cases) benchmark::RegisterBenchmark(CaseName(c).c_str(), RunPhase, c)->Unit(benchmark::kMillisecond);
    PhaseTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    table.PrintSummary(cases);
    benchmark::Shutdown();
    return 0;
}
