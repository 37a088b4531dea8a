#include <algorithm>

#include "layer/layer.h"
#include "ops/ops.h"

namespace zl {

namespace {

bool RowsAreContiguous(const LayerAccess &access) {
    return static_cast<int64_t>(access.width) * 4 == access.rowBytes;
}

void FillRegion(const LayerAccess &access, uint32_t value) {
    if (RowsAreContiguous(access)) {
        std::fill_n(access.pixels, static_cast<size_t>(access.width) * static_cast<size_t>(access.height), value);
        return;
    }
    ForEachRow(access, [&](uint32_t *row, uint32_t *) { std::fill_n(row, access.width, value); });
}

int32_t FillLayer(Layer *layer, uint32_t value) {
    AccessBracket bracket(layer, nullptr);
    if (bracket.Opened()) {
        FillRegion(bracket.Access(), value);
        NotifyUpdate(bracket.Access().layer);
    }
    return 1;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL ClearLayer(Layer *layer) {
    if (layer == nullptr || layer->root == nullptr) return 0;
    if (HostOverrideTookOver(layer, &LayerOverrides::clearLayer, layer)) return 1;
    return FillLayer(layer, 0);
}

int32_t ZL_CALL SetLayer(Layer *layer, uint32_t colour) {
    if (layer == nullptr || layer->root == nullptr) return 0;
    if (HostOverrideTookOver(layer, &LayerOverrides::setLayer, layer, colour)) return 1;
    return FillLayer(layer, colour);
}

int32_t ZL_CALL SetAlphaLayer(Layer *layer, int32_t alpha) {
    AccessBracket bracket(layer, nullptr);
    if (bracket.Opened()) {
        const LayerAccess &access = bracket.Access();
        uint32_t alphaBits = (static_cast<uint32_t>(alpha) & 0xFF) << 24;
        ForEachRow(access, [&](uint32_t *row, uint32_t *) {
            for (int32_t x = 0; x < access.width; ++x) row[x] = (row[x] & 0x00FFFFFFu) | alphaBits;
        });
        NotifyUpdate(access.layer);
    }
    return 1;
}

}  // extern "C"
