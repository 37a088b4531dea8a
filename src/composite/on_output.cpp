#include <cstdint>

#include "composite/composite.h"
#include "layer/layer.h"

namespace zl {

namespace {

uint32_t *RegionPixel(uint32_t *first, int32_t rowBytes, const LayerRect &from, const LayerRect &at) {
    return PixelAddress(first, rowBytes, WrapSub(at.left, from.left), WrapSub(at.top, from.top));
}

// True when the rows of all three follow one another with no gap, and are
// together long enough to be stored past the caches as one run: visited in
// the same order, the pixels are those of the row-by-row loop, and a long
// output apart from its inputs need not be read into the caches only to be
// overwritten.
bool IsOneLongRun(const LayerAccess &rows, int32_t bottomRowBytes) {
    int64_t rowBytes = static_cast<int64_t>(rows.width) * 4;
    int64_t pixels = static_cast<int64_t>(rows.width) * rows.height;
    return rows.rowBytes == rowBytes && rows.rowBytes2 == rowBytes && bottomRowBytes == rowBytes &&
           pixels >= kStreamedRunPixels && pixels <= INT32_MAX;
}

// Composites where the output, the top and the bottom all overlap. Both
// accesses have the output as their first layer, so their regions share the
// output's coordinates; each input is read at its own position under each
// output pixel. False when the three have no common pixel.
bool CompositeCommonPart(const LayerAccess &top, const LayerAccess &bottom) {
    LayerRect common = IntersectRects(top.region, bottom.region);
    if (!IsProperRect(common)) return false;
    LayerAccess rows = top;
    rows.width = WrapSub(common.right, common.left);
    rows.height = WrapSub(common.bottom, common.top);
    rows.pixels = RegionPixel(top.pixels, top.rowBytes, top.region, common);
    rows.pixels2 = RegionPixel(top.pixels2, top.rowBytes2, top.region, common);
    const uint32_t *bottomRow = RegionPixel(bottom.pixels2, bottom.rowBytes2, bottom.region, common);
    if (IsOneLongRun(rows, bottom.rowBytes2) && rows.pixels != rows.pixels2 && rows.pixels != bottomRow) {
        CompositeRunStreamed(rows.pixels2, bottomRow, rows.pixels,
                             static_cast<int32_t>(static_cast<int64_t>(rows.width) * rows.height));
        return true;
    }
    ForEachRow(rows, [&](uint32_t *outRow, uint32_t *topRow) {
        CompositeRowInto(outRow, topRow, bottomRow, rows.width);
        bottomRow = NextRow(bottomRow, bottom.rowBytes2);
    });
    return true;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL CompositOnOutputLayer(Layer *top, Layer *bottom, Layer *output) {
    AccessBracket withTop(output, top);
    if (!withTop.Opened()) return 1;
    AccessBracket withBottom(output, bottom);
    if (!withBottom.Opened()) return 1;
    const LayerAccess &accessTop = withTop.Access();
    const LayerAccess &accessBottom = withBottom.Access();
    NotifyRefresh(accessTop.layer2);
    NotifyRefresh(accessBottom.layer2);
    if (accessTop.pixels2 == nullptr) {
        if (bottom == nullptr) return 1;
        CopyLayer(output, bottom);
    } else if (accessBottom.pixels2 == nullptr) {
        if (top == nullptr) return 1;
        CopyLayer(output, top);
    } else {
        // Inputs that share no pixel composite nothing, but the output was
        // still the operation's target: its update goes out all the same.
        CompositeCommonPart(accessTop, accessBottom);
    }
    NotifyUpdate(accessTop.layer);
    return 1;
}

int32_t ZL_CALL CompositOnOutputLayerCorrect(Layer *top, Layer *bottom, Layer *output) {
    return CompositOnOutputLayer(top, bottom, output);
}

}  // extern "C"
