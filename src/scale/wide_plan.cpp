#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "module/cpu_features.h"
#include "scale/scale.h"
#include "scale/wide.h"

namespace zl {

namespace {

// Taps of one footprint: the leading pixel, the whole ones, the trailing one.
int32_t TapCount(const ScaleAxisEntry &e) {
    return 1 + (e.wholeCount > 0 ? e.wholeCount : 0) + (e.wholeCount != -1 && e.trailWeight > 0 ? 1 : 0);
}

bool PlanWindows(WidePlan &plan, int32_t dstWidth, int32_t srcWidth) {
    const int32_t blocks = static_cast<int32_t>((static_cast<uint32_t>(dstWidth) + 7u) / 8u);
    const size_t count = static_cast<size_t>(static_cast<uint32_t>(blocks)) * static_cast<uint32_t>(plan.taps);
    auto *windows = static_cast<int32_t *>(std::calloc(count, sizeof(int32_t)));
    auto *permutes = static_cast<int32_t *>(std::calloc(count * 8, sizeof(int32_t)));
    plan.windows = windows;
    plan.permutes = permutes;
    plan.blocks = blocks;
    if (windows == nullptr || permutes == nullptr) return false;
    for (int32_t m = 0; m < plan.taps; ++m) {
        for (int32_t b = 0; b < blocks; ++b) {
            const int32_t *offsets = plan.offsets + static_cast<size_t>(m) * plan.stride + 8 * b;
            const int32_t n = dstWidth - 8 * b < 8 ? dstWidth - 8 * b : 8;
            int32_t low = offsets[0], high = offsets[0];
            for (int32_t i = 1; i < n; ++i) {
                low = offsets[i] < low ? offsets[i] : low;
                high = offsets[i] > high ? offsets[i] : high;
            }
            const size_t at = static_cast<size_t>(m) * blocks + b;
            // The 8 pixels read must lie in the line.
            const int32_t start = low < srcWidth - 8 ? low : srcWidth - 8;
            if (n < 8 || start < 0 || high - start >= 8) {
                windows[at] = -1;
                continue;
            }
            windows[at] = start;
            for (int32_t i = 0; i < 8; ++i) permutes[at * 8 + i] = offsets[i] - start;
        }
    }
    return true;
}

// Every entry of the axis is (1, 2, 0.5, 0) and its whole weight 0.5: each
// destination pixel is two source pixels of weight 0.5.
bool Halves(const ScaleAxis *table, int32_t dstSize) {
    if (WholeWeight(table) != 0.5) return false;
    for (int32_t i = 0; i < dstSize; ++i) {
        const ScaleAxisEntry &e = AxisEntry(table, i);
        if (e.wholeCount != 1 || e.advance != 2 || e.leadWeight != 0.5 || e.trailWeight != 0.0) return false;
    }
    return true;
}

// Whether two runs of pixels are equal: 16 bytes a step where SSE2 is there
// (the C library's memcmp is byte by byte in some runtimes).
bool SamePixels(const uint32_t *a, const uint32_t *b, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(x, y)) != 0xFFFF) return false;
    }
#endif
    for (; i < count; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// The slots for kept lines: the source pixels of a whole line, and 16
// doubles per tap for every group of 4 columns.
bool PlanKeptLines(WidePlan &plan, int32_t srcWidth, int32_t dstWidth) {
    const size_t groups = (static_cast<size_t>(dstWidth) + 3) / 4;
    for (CachedLine &slot : plan.cached) {
        slot.pixels = static_cast<uint32_t *>(std::calloc(static_cast<size_t>(srcWidth), sizeof(uint32_t)));
        slot.values = static_cast<double *>(
            std::calloc(groups * static_cast<size_t>(plan.taps) * kCachedTapDoubles, sizeof(double)));
        if (slot.pixels == nullptr || slot.values == nullptr) return false;
    }
    plan.cacheLines = true;
    return true;
}

}  // namespace

WidePlan *NewWidePlan(const ScaleAxis *horizontal, int32_t srcWidth, int32_t dstWidth, const ScaleAxis *vertical,
                      int32_t srcHeight, int32_t dstHeight, int32_t lineCount) {
    const bool enlarging = srcHeight < dstHeight;
    int32_t taps = 1;
    for (int32_t j = 0; j < dstWidth; ++j) {
        const int32_t n = TapCount(AxisEntry(horizontal, j));
        if (n > kWideMaxTaps) return nullptr;
        if (n > taps) taps = n;
    }
    if (static_cast<int64_t>(lineCount) * taps * kWideChunk > kWideMaxScratch) return nullptr;
    const size_t stride = static_cast<size_t>(dstWidth) + 4;  // the last chunk's lanes read past the end
    const size_t entries = stride * static_cast<size_t>(taps);
    auto *plan = static_cast<WidePlan *>(std::calloc(1, sizeof(WidePlan)));
    if (plan == nullptr) return nullptr;
    auto *offsets = static_cast<int32_t *>(std::calloc(entries, sizeof(int32_t)));
    auto *weights = static_cast<double *>(std::calloc(entries, sizeof(double)));
    auto *trailWeights = static_cast<double *>(std::calloc(entries, sizeof(double)));
    plan->scratch = static_cast<uint32_t *>(
        std::calloc(static_cast<size_t>(lineCount) * static_cast<size_t>(taps) * kWideChunk, sizeof(uint32_t)));
    plan->sums = static_cast<double *>(std::calloc(4 * kWideChunk, sizeof(double)));
    plan->lineWeights = static_cast<double *>(std::calloc(static_cast<size_t>(lineCount), sizeof(double)));
    plan->offsets = offsets;
    plan->weights = weights;
    plan->trailWeights = trailWeights;
    if (offsets == nullptr || weights == nullptr || trailWeights == nullptr || plan->scratch == nullptr ||
        plan->sums == nullptr || plan->lineWeights == nullptr) {
        DeleteWidePlan(plan);
        return nullptr;
    }
    plan->taps = taps;
    plan->stride = static_cast<int32_t>(stride);
    plan->maxLines = lineCount;
    const double wholeWeight = WholeWeight(horizontal);
    int32_t start = 0;
    bool lastTapIsCorner = true;
    for (int32_t j = 0; j < dstWidth; ++j) {
        const ScaleAxisEntry &e = AxisEntry(horizontal, j);
        const int32_t n = TapCount(e);
        const bool hasTrailing = e.wholeCount != -1 && e.trailWeight > 0;
        for (int32_t m = 0; m < taps; ++m) {
            const size_t at = static_cast<size_t>(m) * stride + static_cast<size_t>(j);
            // Past the footprint: the last pixel again, weighing nothing.
            offsets[at] = start + (m < n ? m : n - 1);
            double w = 0.0, trailLineWeight = 0.0;
            if (m == 0) {
                w = trailLineWeight = e.leadWeight;
            } else if (hasTrailing && m == n - 1) {
                w = e.trailWeight;  // the corner on a trailing line: read, not weighed
            } else if (m < n) {
                w = trailLineWeight = wholeWeight;
            }
            weights[at] = w;
            trailWeights[at] = trailLineWeight;
            if (m == taps - 1 && trailLineWeight != 0.0) lastTapIsCorner = false;
        }
        start += e.advance;
    }
    plan->lastTapIsCorner = lastTapIsCorner;
    plan->halves = Halves(horizontal, dstWidth) && Halves(vertical, dstHeight);
    if (!PlanWindows(*plan, dstWidth, srcWidth) ||
        (enlarging && taps <= kCacheMaxTaps && !PlanKeptLines(*plan, srcWidth, dstWidth))) {
        DeleteWidePlan(plan);
        return nullptr;
    }
    return plan;
}

void DeleteWidePlan(WidePlan *plan) {
    if (plan == nullptr) return;
    std::free(const_cast<int32_t *>(plan->offsets));
    std::free(const_cast<double *>(plan->weights));
    std::free(const_cast<double *>(plan->trailWeights));
    std::free(plan->scratch);
    std::free(plan->sums);
    std::free(plan->lineWeights);
    std::free(const_cast<int32_t *>(plan->windows));
    std::free(const_cast<int32_t *>(plan->permutes));
    for (CachedLine &slot : plan->cached) {
        std::free(slot.pixels);
        std::free(slot.values);
    }
    std::free(plan);
}

const WideKernels *WideKernelsAvx() {
#if defined(ZL_WIDE_AVX)
    if (ProcessorRunsAvx2()) return &kWideAvx;
#endif
    return nullptr;
}

const WideKernels *WideKernelsSse2() {
#if defined(__SSE2__)
    return &kWideSse2;
#else
    return nullptr;
#endif
}

const CachedLine &KeptLine(const WideKernels &kernels, WidePlan &plan, const uint32_t *row, int32_t firstColumn,
                           int32_t columnCount, const CachedLine *keep) {
    const size_t lastTap = static_cast<size_t>(plan.taps - 1) * static_cast<size_t>(plan.stride);
    const int32_t pixelCount =
        plan.offsets[lastTap + static_cast<size_t>(firstColumn + columnCount - 1)] - plan.offsets[firstColumn] + 1;
    const size_t bytes = static_cast<size_t>(pixelCount) * sizeof(uint32_t);
    CachedLine *victim = nullptr;
    for (CachedLine &slot : plan.cached) {
        if (slot.pixelCount == pixelCount && slot.firstColumn == firstColumn && slot.columnCount == columnCount &&
            SamePixels(slot.pixels, row, static_cast<size_t>(pixelCount))) {
            slot.lastUse = ++plan.uses;
            return slot;
        }
        if (&slot != keep && (victim == nullptr || slot.lastUse < victim->lastUse)) victim = &slot;
    }
    std::memcpy(victim->pixels, row, bytes);
    victim->firstColumn = firstColumn;
    victim->columnCount = columnCount;
    victim->pixelCount = pixelCount;
    victim->lastUse = ++plan.uses;
    kernels.keepLine(victim->values, row, plan, firstColumn, columnCount);
    return *victim;
}

void ProduceLineWide(const WideKernels &kernels, WidePlan &plan, uint32_t *dstRow, const LineFootprint &line,
                     int32_t firstColumn, int32_t columnCount) {
    if (plan.halves) {
        kernels.halfLine(dstRow, line.rows[0], line.rows[1], columnCount);
        return;
    }
    if (!plan.cacheLines) {
        kernels.line(dstRow, PrepareWideLine(plan, line, firstColumn), plan, columnCount);
        return;
    }
    // An enlarging footprint: the leading line alone, or it and a trailing line.
    const ScaleAxisEntry &v = *line.entry;
    CachedPass pass{};
    pass.trailingLine = v.wholeCount != -1 && v.trailWeight > 0;
    pass.lines = pass.trailingLine ? 2 : 1;
    pass.lineWeights[0] = v.leadWeight;
    pass.lineWeights[1] = v.trailWeight;
    pass.firstColumn = firstColumn;
    const CachedLine &lead = KeptLine(kernels, plan, line.rows[0], firstColumn, columnCount, nullptr);
    pass.values[0] = pass.values[1] = lead.values;
    if (pass.trailingLine)
        pass.values[1] = KeptLine(kernels, plan, line.rows[1], firstColumn, columnCount, &lead).values;
    kernels.cachedLine(dstRow, pass, plan, columnCount);
}

WideLine PrepareWideLine(WidePlan &plan, const LineFootprint &line, int32_t firstColumn) {
    const ScaleAxisEntry &v = *line.entry;
    const int32_t d = v.wholeCount;
    const bool trailingLine = d != -1 && v.trailWeight > 0;
    const int32_t lines = 1 + (d > 0 ? d : 0) + (trailingLine ? 1 : 0);
    plan.lineWeights[0] = v.leadWeight;
    for (int32_t k = 1; k <= d; ++k) plan.lineWeights[k] = line.wholeWeight;
    if (trailingLine) plan.lineWeights[lines - 1] = v.trailWeight;
    return WideLine{line.rows, plan.lineWeights, lines, trailingLine, firstColumn, plan.offsets[firstColumn]};
}

}  // namespace zl
