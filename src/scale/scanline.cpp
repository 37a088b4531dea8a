#include <cstring>

#include "layer/layer.h"
#include "module/fp_env.h"
#include "scale/scale.h"
#include "scale/wide.h"

namespace zl {

namespace {

// Copy mode: keeps the line when the current footprint still lacks lines;
// otherwise points rowPointers at the held lines and the passed one.
// Returns true when the line was only kept.
bool TakeCopiedLine(ScanlineScaler *s, const uint32_t *srcRow, int32_t d) {
    bool lastLineComplete = s->bufferedLines == d && s->currentLine + 1 == s->dstHeight;
    if (s->bufferedLines < d + 1 && !lastLineComplete) {
        s->needInput = 1;
        uint32_t *buffer = s->lineBuffers[s->bufferedLines];
        if (srcRow != buffer) std::memcpy(buffer, srcRow, s->lineBytes);
        ++s->bufferedLines;
        return true;
    }
    for (int32_t k = 0; k < s->bufferedLines; ++k) s->rowPointers[k] = s->lineBuffers[k];
    s->rowPointers[s->bufferedLines] = srcRow;
    return false;
}

// In-place mode: the caller has written the line into the ring; asks for
// more until the footprint is complete, then points rowPointers at the ring.
bool TakeRingLine(ScanlineScaler *s, const ScaleAxisEntry &v) {
    int32_t needed = v.wholeCount + 1 + (v.trailWeight != 0.0 ? 1 : 0);
    if (s->bufferedLines + 1 < needed) {
        s->needInput = 1;
        ++s->bufferedLines;
        return true;
    }
    for (int32_t k = 0; k <= s->bufferedLines; ++k)
        s->rowPointers[k] = s->lineBuffers[RingIndex(s->ringStart + k, s->lineCount)];
    s->ringStart = RingIndex(s->ringStart + v.advance, s->lineCount);
    return false;
}

}  // namespace

}  // namespace zl

using namespace zl;

// Out of line, so that no arithmetic moves across the environment switch of
// the export.
__attribute__((noinline)) int32_t zl::ScaleScanlineInKnownEnvironment(uint32_t *dstRow, const uint32_t *srcRow,
                                                                     ScanlineScaler *scaler) {
    if (scaler == nullptr || dstRow == nullptr || scaler->valid == 0) return 0;
    scaler->outputReady = 0;
    scaler->needInput = 0;
    if (scaler->currentLine >= scaler->dstHeight) return 0;
    const ScaleGeometry &g = *scaler->geometry;
    const ScaleAxisEntry &v = AxisEntry(g.vertical, scaler->currentLine);
    bool onlyTaken = srcRow != nullptr ? TakeCopiedLine(scaler, srcRow, v.wholeCount) : TakeRingLine(scaler, v);
    if (onlyTaken) return 1;

    scaler->outputReady = 1;
    scaler->bufferedLines -= v.advance;
    if (scaler->bufferedLines < 0) {
        scaler->bufferedLines += 1;
        scaler->needInput = 1;
    }
    scaler->currentLine += 1;
    if (scaler->currentLine == scaler->dstHeight) scaler->needInput = 0;

    LineFootprint line{scaler->rowPointers, &v, WholeWeight(g.vertical)};
    WidePlan *plan = WidePlanOf(scaler);
    const WideKernels *wide = WideKernelsAvx();
    if (wide == nullptr) wide = WideKernelsSse2();
    if (plan != nullptr && wide != nullptr && scaler->columnCount > 0) {
        ProduceLineWide(*wide, *plan, dstRow, line, scaler->firstColumn, scaler->columnCount);
    } else {
        ProduceLine(dstRow, line, g.horizontal, scaler->firstColumn, scaler->columnCount);
    }
    return 1;
}

// The pixels' rounding is the default round-to-nearest: the host's own
// floating-point environment is set aside for the call.
extern "C" int32_t ZL_CALL ScaleScanline(uint32_t *dstRow, const uint32_t *srcRow, ScanlineScaler *scaler) {
    ScopedFpEnvironment environment;
    return ScaleScanlineInKnownEnvironment(dstRow, srcRow, scaler);
}
