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
    // A layer comes before its root in the entry, so a child is freed before
    // the root whose last reference it held.
    for (int32_t i = 0; i < kKeptLayers; ++i) {
        Layer *layer = entry->layers[i];
        if (layer == nullptr || layer->refCount != 0 || IsKeptAlive(layer)) continue;
        for (int32_t j = i + 1; j < kKeptLayers; ++j)
            if (entry->layers[j] == layer) entry->layers[j] = nullptr;
        FreeDroppedLayer(layer);
    }
    std::free(entry);
}

}  // namespace zl
