#include "layer/layer.h"
#include "module/platform.h"

namespace zl {

namespace {

// Calls the nearest receiver up the parent chain, handing it the layer that
// was reported. Only while this thread is inside the matching Ex call.
int32_t Notify(Layer *layer, NotifyFlag flag, LayerNotifier *Layer::*receiverField) {
    if (!GetNotifyFlag(flag) || layer == nullptr) return 0;
    for (Layer *holder = layer; holder != nullptr; holder = holder->parent) {
        LayerNotifier *receiver = holder->*receiverField;
        if (receiver == nullptr) continue;
        if (receiver->notify == nullptr) return 1;
        return receiver->notify(layer, receiver) != 0 ? 1 : 0;
    }
    return 0;
}

// Runs one notification with the flags set as given, and leaves both flags
// off afterwards whatever they were before.
int32_t NotifyWithFlags(Layer *layer, bool refresh) {
    SetNotifyFlag(NotifyFlag::Refresh, refresh);
    SetNotifyFlag(NotifyFlag::Update, !refresh);
    int32_t result = refresh ? NotifyRefresh(layer) : NotifyUpdate(layer);
    SetNotifyFlag(NotifyFlag::Refresh, false);
    SetNotifyFlag(NotifyFlag::Update, false);
    return result;
}

}  // namespace

int32_t NotifyRefresh(Layer *layer) { return Notify(layer, NotifyFlag::Refresh, &Layer::refreshNotifier); }

int32_t NotifyUpdate(Layer *layer) { return Notify(layer, NotifyFlag::Update, &Layer::updateNotifier); }

}  // namespace zl

extern "C" {

int32_t ZL_CALL RefreshLayerEx(Layer *layer) { return zl::NotifyWithFlags(layer, true); }

int32_t ZL_CALL UpdateLayerEx(Layer *layer) { return zl::NotifyWithFlags(layer, false); }

}  // extern "C"
