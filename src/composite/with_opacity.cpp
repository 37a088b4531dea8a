// Layer-on-layer compositing with the layer that is read faded by an opacity.
#include "composite/composite.h"
#include "layer/layer.h"

namespace zl {

namespace {

enum class Written { First, Second };

int32_t CompositeLayersFaded(Layer *first, Layer *second, int32_t opacity, Written written) {
    AccessBracket bracket(first, second);
    if (!bracket.Opened()) return 1;
    const LayerAccess &access = bracket.Access();
    NotifyRefresh(access.layer2);
    NotifyRefresh(access.layer);
    if (access.pixels2 == nullptr) return 1;
    uint32_t o = static_cast<uint32_t>(opacity) & 0xFF;
    if (written == Written::First) {
        ForEachRow(access, [&](uint32_t *firstRow, uint32_t *secondRow) {
            CompositeFadedBottomRowInto(firstRow, firstRow, secondRow, access.width, o);
        });
        NotifyUpdate(access.layer);
    } else {
        ForEachRow(access, [&](uint32_t *firstRow, uint32_t *secondRow) {
            CompositeFadedTopRowInto(secondRow, firstRow, secondRow, access.width, o);
        });
        NotifyUpdate(access.layer2);
    }
    return 1;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL CompositOnTopLayerEx(Layer *first, Layer *second, int32_t opacity) {
    return CompositeLayersFaded(first, second, opacity, Written::First);
}

int32_t ZL_CALL CompositOnBottomLayerEx(Layer *first, Layer *second, int32_t opacity) {
    return CompositeLayersFaded(first, second, opacity, Written::Second);
}

}  // extern "C"
