// Shrinking a clipped layer's window to its non-transparent pixels.
#include "layer/layer.h"

namespace zl {

namespace {

inline bool IsOpaqueAtAll(uint32_t pixel) { return pixel > 0x00FFFFFFu; }

// Bounding box of the non-transparent pixels, in region coordinates.
struct AlphaBox {
    int32_t minX = 2147483647;
    int32_t minY = 2147483647;
    int32_t maxX = 0;
    int32_t maxY = 0;
    bool Found() const { return minX != 2147483647; }
};

// Each row is searched from both ends, so only its outermost
// non-transparent pixels are located.
AlphaBox FindAlphaBox(const LayerAccess &access) {
    AlphaBox box;
    int32_t y = 0;
    ForEachRow(access, [&](uint32_t *row, uint32_t *) {
        int32_t first = 0;
        while (first < access.width && !IsOpaqueAtAll(row[first])) ++first;
        if (first < access.width) {
            int32_t last = access.width - 1;
            while (!IsOpaqueAtAll(row[last])) --last;
            box.minX = Min32(box.minX, first);
            box.maxX = Max32(box.maxX, last);
            box.minY = Min32(box.minY, y);
            box.maxY = Max32(box.maxY, y);
        }
        ++y;
    });
    return box;
}

// The box found in the access region, which starts at the region's corner
// inside the layer: where an ancestor cuts the layer off at its left or top,
// that corner lies inside the layer and is added, so the window lands on
// the pixels that were found.
bool ScanAlphaBox(Layer *layer, AlphaBox &box, LayerRect &region) {
    AccessBracket bracket(layer, nullptr);
    if (!bracket.Opened()) return false;
    box = FindAlphaBox(bracket.Access());
    region = bracket.Access().region;
    return box.Found();
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL ClipToAlphaLayer(Layer *layer) {
    AlphaBox box;
    LayerRect region{};
    if (!ScanAlphaBox(layer, box, region)) return 1;
    int32_t left = WrapAdd(WrapAdd(layer->clipRect.left, region.left), box.minX);
    int32_t top = WrapAdd(WrapAdd(layer->clipRect.top, region.top), box.minY);
    ClipLayerXYWH(layer, left, top, box.maxX - box.minX + 1, box.maxY - box.minY + 1);
    return 1;
}

Layer *ZL_CALL ClipToAlphaLayerEx(Layer *layer, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
    Layer *child = CreateClippedLayer(layer);
    if (child == nullptr) return nullptr;
    ClipToAlphaLayer(child);
    const LayerRect &window = child->clipRect;
    if (x != nullptr) *x = window.left;
    if (y != nullptr) *y = window.top;
    if (w != nullptr) *w = WrapSub(window.right, window.left);
    if (h != nullptr) *h = WrapSub(window.bottom, window.top);
    return child;
}

}  // extern "C"
