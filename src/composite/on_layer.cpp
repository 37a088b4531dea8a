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
        ForEachRow(access, [&](uint32_t *topRow, uint32_t *bottomRow) {
            for (int32_t x = 0; x < access.width; ++x) {
                uint32_t b = bottomRow[x];
                uint32_t result = TableComposite(topRow[x], b);
                if (result != b) bottomRow[x] = result;  // unchanged pixels are not stored
            }
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
