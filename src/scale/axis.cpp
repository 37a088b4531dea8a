#include "scale/scale.h"

namespace zl {

namespace {

// Box filter with both grids aligned at the ends. A source pixel is dstSize
// units long and a destination pixel srcSize units; carry is the part of the
// leading source pixel that the previous destination pixel already used.
// 64-bit intermediates: carry + srcSize can pass the 32-bit range.
void BuildReduction(ScaleAxis *table, int64_t srcSize, int64_t dstSize) {
    const double src = static_cast<double>(srcSize);
    table[0].leadWeight = static_cast<double>(dstSize) / src;
    int64_t carry = 0;
    for (int64_t i = 0; i < dstSize; ++i) {
        ScaleAxisEntry &e = table[i + 1];
        int64_t wholeCount = (carry + srcSize - dstSize) / dstSize;
        e.wholeCount = static_cast<int32_t>(wholeCount);
        e.advance = static_cast<int32_t>(wholeCount + 1);
        e.leadWeight = static_cast<double>(dstSize - carry) / src;
        carry = carry + srcSize - (wholeCount + 1) * dstSize;
        e.trailWeight = static_cast<double>(carry) / src;
    }
}

// Linear interpolation with pixel centres aligned; phase is the distance of
// the destination centre past the current source centre in 1/dstSize units.
void BuildEnlargement(ScaleAxis *table, int64_t srcSize, int64_t dstSize) {
    table[0].leadWeight = 0.0;
    const double dst = static_cast<double>(dstSize);
    int64_t phase = (srcSize - dstSize) / 2;  // truncates toward zero
    int64_t position = 0;
    for (int64_t i = 0; i < dstSize; ++i) {
        ScaleAxisEntry &e = table[i + 1];
        if (phase < 1 || position == srcSize - 1) {
            e.wholeCount = -1;
            e.leadWeight = 1.0;
            e.trailWeight = 0.0;
        } else {
            e.leadWeight = static_cast<double>(dstSize - phase) / dst;
            e.trailWeight = static_cast<double>(phase) / dst;
            e.wholeCount = e.trailWeight > 0 ? 0 : -1;
        }
        phase += srcSize;
        if (phase >= dstSize) {
            phase -= dstSize;
            e.advance = 1;
        } else {
            e.advance = 0;
        }
        position += e.advance;
    }
}

}  // namespace

int32_t BuildScaleAxis(ScaleAxis *table, int32_t srcSize, int32_t dstSize) {
    if (table == nullptr || srcSize <= 0 || dstSize <= 0) return 0;
    if (srcSize >= dstSize) {
        BuildReduction(table, srcSize, dstSize);
    } else {
        BuildEnlargement(table, srcSize, dstSize);
    }
    return 1;
}

int32_t SourceStart(const ScaleAxis *table, int32_t dstSize, int32_t n) {
    int32_t count = n < dstSize ? n : dstSize;
    int64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) sum += AxisEntry(table, i).advance;
    return static_cast<int32_t>(sum);
}

}  // namespace zl
