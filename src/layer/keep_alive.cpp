#include <cstdlib>

#include "layer/layer.h"
#include "module/platform.h"

namespace zl {

namespace {

// One open bracket (or operation) and the layers it names. The list is
// process-wide, so it lives under the layer lock like every deletion.
struct KeepAliveEntry {
    uintptr_t owner;
    Layer *layers[kKeptLayers];
    KeepAliveEntry *next;
};

KeepAliveEntry *openEntries = nullptr;

bool EntryNames(const KeepAliveEntry *entry, const Layer *layer) {
    for (Layer *kept : entry->layers)
        if (kept == layer) return true;
    return false;
}

// Takes the newest entry of owner out of the list; null when there is none.
KeepAliveEntry *UnlinkEntry(uintptr_t owner) {
    for (KeepAliveEntry **link = &openEntries; *link != nullptr; link = &(*link)->next) {
        KeepAliveEntry *entry = *link;
        if (entry->owner != owner) continue;
        *link = entry->next;
        return entry;
    }
    return nullptr;
}

}  // namespace

bool KeepLayersAlive(uintptr_t owner, std::initializer_list<Layer *> layers) {
    KeepAliveEntry *entry = static_cast<KeepAliveEntry *>(std::calloc(1, sizeof(KeepAliveEntry)));
    if (entry == nullptr) return false;
    entry->owner = owner;
    int32_t count = 0;
    for (Layer *layer : layers) {
        if (count == kKeptLayers) break;
        entry->layers[count++] = layer;
    }
    LayerLockGuard lock;
    entry->next = openEntries;
    openEntries = entry;
    return true;
}

bool IsKeptAlive(const Layer *layer) {
    LayerLockGuard lock;
    for (const KeepAliveEntry *entry = openEntries; entry != nullptr; entry = entry->next)
        if (EntryNames(entry, layer)) return true;
    return false;
}

void LetLayersGo(uintptr_t owner) {
    LayerLockGuard lock;
    KeepAliveEntry *entry = UnlinkEntry(owner);
    if (entry == nullptr) return;
    // Layers the host dropped meanwhile are freed now: windows before roots,
    // so that no window outlives the root whose last reference it held.
    for (bool roots : {false, true}) {
        for (Layer *&layer : entry->layers) {
            if (layer == nullptr || (layer->root == layer) != roots) continue;
            Layer *dropped = layer;
            for (Layer *&same : entry->layers)
                if (same == dropped) same = nullptr;
            if (dropped->refCount == 0 && !IsKeptAlive(dropped)) FreeDroppedLayer(dropped);
        }
    }
    std::free(entry);
}

}  // namespace zl
