#include <cstdlib>

#include "layer/layer.h"
#include "module/fp_env.h"
#include "scale/scale.h"
#include "scale/wide.h"

namespace zl {

namespace {

constexpr uint64_t kMax32 = 0xFFFFFFFFull;

// The lineCount that the vertical table will give: a reducing destination
// line reaches at most ceil(srcHeight / dstHeight) source lines (largest
// whole count + 1), and the scaler keeps one line more.
uint64_t LinesNeeded(int32_t srcHeight, int32_t dstHeight) {
    if (srcHeight < dstHeight) return 2;
    return (static_cast<uint64_t>(srcHeight) + static_cast<uint64_t>(dstHeight) - 1) / static_cast<uint64_t>(dstHeight) + 1;
}

// Refuses sizes whose line, table or line-buffer byte counts do not fit in
// 32 bits, so that both flavours accept the same sizes, no size computation
// wraps, and a tall source over a short destination cannot ask for more
// line buffers than memory can address.
bool SizesFit(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
    const uint64_t entryBytes = sizeof(ScaleAxisEntry);
    const uint64_t lineBytes = static_cast<uint64_t>(srcWidth) * 4;
    const uint64_t lines = LinesNeeded(srcHeight, dstHeight);
    return lineBytes <= kMax32 && (static_cast<uint64_t>(dstWidth) + 1) * entryBytes <= kMax32 &&
           (static_cast<uint64_t>(dstHeight) + 1) * entryBytes <= kMax32 && lines * lineBytes <= kMax32 &&
           (lines + 1) * 4 <= kMax32;
}

ScaleAxis *NewAxis(int32_t dstSize) {
    return static_cast<ScaleAxis *>(std::calloc(static_cast<size_t>(dstSize) + 1, sizeof(ScaleAxisEntry)));
}

bool BuildGeometry(ScanlineScaler *scaler, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight) {
    auto *geometry = static_cast<ScaleGeometry *>(std::calloc(1, sizeof(ScaleGeometry)));
    if (geometry == nullptr) return false;
    scaler->geometry = geometry;
    geometry->horizontal = NewAxis(dstWidth);
    if (geometry->horizontal == nullptr) return false;
    geometry->vertical = NewAxis(dstHeight);
    if (geometry->vertical == nullptr) return false;
    geometry->srcWidth = srcWidth;
    geometry->srcHeight = srcHeight;
    geometry->dstWidth = dstWidth;
    geometry->dstHeight = dstHeight;
    BuildScaleAxis(geometry->horizontal, srcWidth, dstWidth);
    BuildScaleAxis(geometry->vertical, srcHeight, dstHeight);
    return true;
}

int32_t LargestWholeCount(const ScaleAxis *table, int32_t dstSize) {
    int32_t largest = 0;
    for (int32_t i = 0; i < dstSize; ++i) largest = Max32(largest, AxisEntry(table, i).wholeCount);
    return largest;
}

bool AllocateLines(ScanlineScaler *scaler, int32_t srcWidth) {
    const size_t count = static_cast<size_t>(scaler->lineCount);
    scaler->lineBuffers = static_cast<uint32_t **>(std::calloc(count, sizeof(uint32_t *)));
    if (scaler->lineBuffers == nullptr) return false;
    scaler->rowPointers = static_cast<const uint32_t **>(std::calloc(count + 1, sizeof(uint32_t *)));
    if (scaler->rowPointers == nullptr) return false;
    scaler->lineBytes = static_cast<uint32_t>(srcWidth) * 4u;
    for (size_t i = 0; i < count; ++i) {
        scaler->lineBuffers[i] = static_cast<uint32_t *>(std::calloc(1, scaler->lineBytes));
        if (scaler->lineBuffers[i] == nullptr) return false;
    }
    return true;
}

}  // namespace

}  // namespace zl

using namespace zl;

// Out of line: the table weights are divisions, which must not be moved
// across the environment switch of the export.
__attribute__((noinline)) ScanlineScaler *zl::BeginScalerInKnownEnvironment(int32_t srcWidth, int32_t srcHeight,
                                                                           int32_t dstWidth, int32_t dstHeight) {
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return nullptr;
    if (!SizesFit(srcWidth, srcHeight, dstWidth, dstHeight)) return nullptr;
    auto *block = static_cast<ScalerBlock *>(std::calloc(1, sizeof(ScalerBlock)));
    if (block == nullptr) return nullptr;
    ScanlineScaler *scaler = &block->scaler;
    scaler->dstHeight = dstHeight;
    scaler->dstWidth = dstWidth;
    scaler->columnCount = dstWidth;
    bool built = BuildGeometry(scaler, srcWidth, srcHeight, dstWidth, dstHeight);
    if (built) {
        scaler->lineCount = LargestWholeCount(scaler->geometry->vertical, dstHeight) + 2;
        scaler->bufferedLines = 0;
        built = AllocateLines(scaler, srcWidth);
    }
    if (!built) {
        EndScaleScanline(scaler);
        return nullptr;
    }
    // Without a plan (footprints too long, no memory) lines take the packed path.
    block->widePlan = NewWidePlan(scaler->geometry->horizontal, srcWidth, dstWidth, scaler->geometry->vertical,
                                  srcHeight, dstHeight, scaler->lineCount);
    scaler->valid = 1;
    return scaler;
}

extern "C" {

ScanlineScaler *ZL_CALL BeginScaleScanline(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                                           int32_t dstHeight) {
    ScopedFpEnvironment environment;
    return BeginScalerInKnownEnvironment(srcWidth, srcHeight, dstWidth, dstHeight);
}

int32_t ZL_CALL EndScaleScanline(ScanlineScaler *scaler) {
    if (scaler == nullptr) return 0;
    if (scaler->geometry != nullptr) {
        std::free(scaler->geometry->horizontal);
        std::free(scaler->geometry->vertical);
        std::free(scaler->geometry);
    }
    if (scaler->lineBuffers != nullptr) {
        for (int32_t i = 0; i < scaler->lineCount; ++i) std::free(scaler->lineBuffers[i]);
        std::free(scaler->lineBuffers);
    }
    std::free(scaler->rowPointers);
    DeleteWidePlan(WidePlanOf(scaler));
    scaler->valid = 0;
    std::free(reinterpret_cast<ScalerBlock *>(scaler));
    return 1;
}

int32_t ZL_CALL OffsetScaleScanline(ScanlineScaler *scaler, int32_t firstColumn, int32_t firstLine,
                                    int32_t columnCount) {
    if (firstColumn < 0 || firstLine < 0 || scaler == nullptr) return 0;
    if (firstColumn > scaler->dstWidth) return 0;
    if (static_cast<int64_t>(firstColumn) + columnCount > scaler->dstWidth) return 0;
    if (firstLine > scaler->dstHeight) return 0;
    scaler->currentLine = firstLine;
    scaler->columnCount = columnCount;
    scaler->firstColumn = firstColumn;
    scaler->bufferedLines = 0;
    scaler->ringStart = 0;
    return 1;
}

int32_t ZL_CALL ConvertRectangleScaleScanline(ScanlineScaler *scaler, LayerRect *rect) {
    if (scaler == nullptr || rect == nullptr || scaler->geometry == nullptr) return 0;
    const ScaleGeometry &g = *scaler->geometry;
    rect->left = SourceStart(g.horizontal, g.dstWidth, rect->left);
    rect->right = WrapAdd(SourceStart(g.horizontal, g.dstWidth, rect->right), 1);
    rect->top = SourceStart(g.vertical, g.dstHeight, rect->top);
    rect->bottom = WrapAdd(SourceStart(g.vertical, g.dstHeight, rect->bottom), 1);
    return 1;
}

uint32_t *ZL_CALL GetBufferScaleScanline(ScanlineScaler *scaler) {
    if (scaler == nullptr || scaler->valid == 0) return nullptr;
    return scaler->lineBuffers[RingIndex(scaler->bufferedLines + scaler->ringStart, scaler->lineCount)];
}

}  // extern "C"
