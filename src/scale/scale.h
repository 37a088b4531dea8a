// Internals of the scanline scaler: axis tables and line production.
#pragma once

#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

// Fills the header and dstSize entries of an axis table (dstSize + 1
// elements). Returns 0 and writes nothing when table is null or a size is
// 0 or negative.
int32_t BuildScaleAxis(ScaleAxis *table, int32_t srcSize, int32_t dstSize);

inline double WholeWeight(const ScaleAxis *table) { return table[0].leadWeight; }
inline const ScaleAxisEntry &AxisEntry(const ScaleAxis *table, int32_t i) { return table[i + 1]; }

// Sum of the advances of the first min(n, dstSize) entries; 0 when n <= 0.
int32_t SourceStart(const ScaleAxis *table, int32_t dstSize, int32_t n);

// Index into the ring of line buffers, reduced by one subtraction.
inline int32_t RingIndex(int32_t index, int32_t lineCount) { return index >= lineCount ? index - lineCount : index; }

struct WidePlan;

// A scaler's allocation: the record the host sees, then the library's own.
struct ScalerBlock {
    ScanlineScaler scaler;
    WidePlan *widePlan;  // null: lines take the packed path
};
inline WidePlan *WidePlanOf(ScanlineScaler *scaler) { return reinterpret_cast<ScalerBlock *>(scaler)->widePlan; }

// BeginScaleScanline and ScaleScanline without their switch to the known
// floating-point environment: callers that already run in it (a whole
// resize pass) use these and switch once.
ScanlineScaler *BeginScalerInKnownEnvironment(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                                              int32_t dstHeight);
int32_t ScaleScanlineInKnownEnvironment(uint32_t *dstRow, const uint32_t *srcRow, ScanlineScaler *scaler);

// The footprint of one destination line: the source rows, leading first.
struct LineFootprint {
    const uint32_t *const *rows;  // rows[0] leading, rows[1 .. d] whole, rows[d + 1] trailing
    const ScaleAxisEntry *entry;  // the vertical entry
    double wholeWeight;           // the vertical whole weight
};

// Writes `columnCount` pixels of one destination line into dstRow, from the
// horizontal entries firstColumn on. The plain tap-by-tap form.
void ProduceLinePlain(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                      int32_t columnCount);

// The same pixels as ProduceLinePlain, by a faster route.
void ProduceLine(uint32_t *dstRow, const LineFootprint &line, const ScaleAxis *horizontal, int32_t firstColumn,
                 int32_t columnCount);

}  // namespace zl
