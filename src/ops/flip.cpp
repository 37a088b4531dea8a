// Mirroring a layer's visible part in place.
#include <utility>

#include "layer/layer.h"

namespace zl {

namespace {

void ReverseRow(uint32_t *row, int32_t width) {
    for (int32_t i = 0, j = width - 1; i < j; ++i, --j) std::swap(row[i], row[j]);
}

// Element by element, so that rows which share memory (a stride narrower
// than the row) are still exchanged without undefined overlap.
void ExchangeRows(uint32_t *a, uint32_t *b, int32_t width) {
    for (int32_t x = 0; x < width; ++x) std::swap(a[x], b[x]);
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL FlipHorzLayer(Layer *layer) {
    AccessBracket bracket(layer, nullptr);
    if (!bracket.Opened()) return 1;
    const LayerAccess &access = bracket.Access();
    NotifyRefresh(access.layer);
    if (access.width / 2 == 0) return 1;
    ForEachRow(access, [&](uint32_t *row, uint32_t *) { ReverseRow(row, access.width); });
    NotifyUpdate(access.layer);
    return 1;
}

int32_t ZL_CALL FlipVertLayer(Layer *layer) {
    AccessBracket bracket(layer, nullptr);
    if (!bracket.Opened()) return 1;
    const LayerAccess &access = bracket.Access();
    NotifyRefresh(access.layer);
    int32_t pairs = access.height / 2;
    if (pairs == 0) return 1;
    for (int32_t i = 0; i < pairs; ++i) {
        ExchangeRows(PixelAddress(access.pixels, access.rowBytes, 0, i),
                     PixelAddress(access.pixels, access.rowBytes, 0, access.height - 1 - i), access.width);
    }
    NotifyUpdate(access.layer);
    return 1;
}

}  // extern "C"
