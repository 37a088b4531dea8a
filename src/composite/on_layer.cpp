#include "composite/composite.h"
#include "layer/layer.h"

namespace zl {

namespace {

enum class Written { Top, Bottom };

int32_t CompositeLayers(Layer *top, Layer *bottom, Written written) {
    AccessBracket bracket(top, bottom);
    if (!bracket.Opened()) return 1;
    const LayerAccess &access = bracket.Access();
    NotifyRefresh(access.layer2);
    if (access.pixels2 == nullptr) return 1;
    if (written == Written::Top) {
        ForEachRow(access, [&](uint32_t *topRow, uint32_t *bottomRow) {
            CompositeRowInto(topRow, topRow, bottomRow, access.width);
        });
        NotifyUpdate(access.layer);
    } else {
        // Blocks that keep the bottom's pixels are not stored.
        ForEachRow(access, [&](uint32_t *topRow, uint32_t *bottomRow) {
            CompositeRowInto(bottomRow, topRow, bottomRow, access.width);
        });
        NotifyUpdate(access.layer2);
    }
    return 1;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL CompositOnTopLayer(Layer *top, Layer *bottom) { return CompositeLayers(top, bottom, Written::Top); }

int32_t ZL_CALL CompositOnBottomLayer(Layer *top, Layer *bottom) {
    return CompositeLayers(top, bottom, Written::Bottom);
}

int32_t ZL_CALL CompositOnTopLayerCorrect(Layer *top, Layer *bottom) { return CompositOnTopLayer(top, bottom); }

int32_t ZL_CALL CompositOnBottomLayerCorrect(Layer *top, Layer *bottom) { return CompositOnBottomLayer(top, bottom); }

}  // extern "C"
