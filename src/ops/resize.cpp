#include "Quoravel.h"
#include "layer/layer.h"
#include "module/fp_env.h"
#include "scale/scale.h"

namespace zl {

namespace {

// Feeds the source region's rows to a new scaler top to bottom and stores
// each produced line in the next destination row. Runs in the known
// floating-point environment; out of line so that none of its arithmetic
// moves across the switch. False when the scaler cannot be made.
__attribute__((noinline)) bool RunCopyModePass(const LayerAccess &source, const LayerAccess &destination) {
    ScanlineScaler *scaler =
        BeginScalerInKnownEnvironment(source.width, source.height, destination.width, destination.height);
    if (scaler == nullptr) return false;
    const uint32_t *srcRow = source.pixels;
    uint32_t *dstRow = destination.pixels;
    do {
        ScaleScanlineInKnownEnvironment(dstRow, srcRow, scaler);
        if (scaler->needInput) srcRow = NextRow(srcRow, source.rowBytes);
        if (scaler->outputReady) dstRow = NextRow(dstRow, destination.rowBytes);
    } while (scaler->needInput || scaler->outputReady);
    EndScaleScanline(scaler);
    return true;
}

// Both layers live in one pixel buffer: the sibling library scales the
// source's visible part into a separate layer, which is then copied over the
// destination. Addresses come from the open accesses, read after the root's
// beginAccess ran (it may have moved the buffer).
int32_t ResizeThroughTemporary(Layer *destination, Layer *source) {
    AccessBracket destinationBracket(destination, nullptr);
    if (!destinationBracket.Opened()) return 0;
    AccessBracket sourceBracket(source, nullptr);
    if (!sourceBracket.Opened()) return 0;
    const LayerAccess &src = sourceBracket.Access();
    const LayerAccess &dst = destinationBracket.Access();
    Layer *temporary = CreateLayer(dst.width, dst.height, 1);
    if (temporary == nullptr) return 0;
    // A refused scale leaves the destination as it was.
    int32_t scaled = ExportedQV_CopyScaleConvert(src.pixels, src.rowBytes, QV_FORMAT_ARGB, 0, 0, src.width,
                                                 src.height, temporary->pixels, temporary->rowBytes,
                                                 QV_FORMAT_ARGB, 0, 0, dst.width, dst.height, 0);
    if (scaled) CopyLayer(destination, temporary);
    DeleteLayer(temporary);
    return scaled != 0 ? 1 : 0;
}

int32_t ResizeWithScaler(Layer *destination, Layer *source) {
    AccessBracket sourceBracket(source, nullptr);
    if (!sourceBracket.Opened()) return 0;
    // Declared second, so closed first.
    AccessBracket destinationBracket(destination, nullptr);
    if (!destinationBracket.Opened()) return 0;
    // The host's access hooks ran and run in its own environment; only the
    // scaling itself runs in the known one.
    ScopedFpEnvironment environment;
    return RunCopyModePass(sourceBracket.Access(), destinationBracket.Access()) ? 1 : 0;
}

// The layer's rectangle lies inside its root's buffer (or is empty), so the
// sibling library, which trusts the rectangles, stays inside that buffer.
bool BoundsInsideRoot(const Layer *layer) {
    const Layer *root = layer->root;
    if (root == nullptr) return false;
    const LayerRect &b = layer->bounds;
    if (!IsProperRect(b)) return true;
    return b.left >= 0 && b.top >= 0 && b.right <= root->width && b.bottom <= root->height;
}

// The root's buffer as it stands now: a clipped layer's own copy of the
// address and stride dates from its creation, and the root's beginAccess may
// have moved the buffer since.
int32_t ScaleBoundsOfRoots(Layer *destination, Layer *source) {
    const Layer *from = source->root;
    const Layer *to = destination->root;
    const LayerRect &s = source->bounds;
    const LayerRect &d = destination->bounds;
    return ExportedQV_CopyScaleConvert(from->pixels, from->rowBytes, QV_FORMAT_ARGB, s.left, s.top, s.right,
                                       s.bottom, to->pixels, to->rowBytes, QV_FORMAT_ARGB, d.left, d.top, d.right,
                                       d.bottom, 0);
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL ResizeLayer(Layer *destination, Layer *source) {
    if (destination == nullptr || source == nullptr) return 0;
    if (!BoundsInsideRoot(destination) || !BoundsInsideRoot(source)) return 0;
    return ScaleBoundsOfRoots(destination, source) != 0 ? 1 : 0;
}

int32_t ZL_CALL ResizeLayerCorrect(Layer *destination, Layer *source) {
    // Null layers fail the access bracket; the root test needs them not null.
    if (destination != nullptr && source != nullptr && destination->root == source->root)
        return ResizeThroughTemporary(destination, source);
    return ResizeWithScaler(destination, source);
}

}  // extern "C"
