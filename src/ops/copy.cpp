#include "blend/blend.h"
#include "blend/composite_run.h"
#include "layer/layer.h"
#include "ops/ops.h"

namespace zl {

void CopyAccessRegion(const LayerAccess &access) {
    int64_t rowPixelsBytes = static_cast<int64_t>(access.width) * 4;
    if (rowPixelsBytes == access.rowBytes && rowPixelsBytes == access.rowBytes2) {
        CopyPixelsForward(access.pixels, access.pixels2,
                          static_cast<size_t>(access.width) * static_cast<size_t>(access.height));
        return;
    }
    ForEachRow(access, [&](uint32_t *row, uint32_t *row2) { CopyPixelsForward(row, row2, access.width); });
}

void FadeAccessRegion(const LayerAccess &access, uint32_t opacity) {
    ForEachRow(access, [&](uint32_t *row, uint32_t *row2) { FadeRunFast(row2, row, access.width, opacity); });
}

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL CopyLayer(Layer *destination, Layer *source) {
    if (destination == nullptr || destination->root == nullptr) return 0;
    if (HostOverrideTookOver(destination, &LayerOverrides::copyLayer, destination, source)) return 1;
    if (source == nullptr || source->root == nullptr) return 0;
    if (HostOverrideTookOver(source, &LayerOverrides::copyLayer, destination, source)) return 1;
    AccessBracket bracket(destination, source);
    if (bracket.Opened()) {
        const LayerAccess &access = bracket.Access();
        NotifyRefresh(access.layer2);
        if (access.pixels2 != nullptr) {
            CopyAccessRegion(access);
            NotifyUpdate(access.layer);
        }
    }
    return 1;
}

int32_t ZL_CALL CopyWithOpacityLayer(Layer *destination, Layer *source, int32_t opacity) {
    AccessBracket bracket(destination, source);
    if (bracket.Opened()) {
        const LayerAccess &access = bracket.Access();
        NotifyRefresh(access.layer2);
        if (access.pixels2 != nullptr) {
            FadeAccessRegion(access, static_cast<uint32_t>(opacity) & 0xFF);
            NotifyUpdate(access.layer);
        }
    }
    return 1;
}

}  // extern "C"
