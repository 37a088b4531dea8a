#include <cstdlib>
#include <cstring>

#include "layer/layer.h"
#include "module/platform.h"

namespace zl {

namespace {

// Bytes for width x height x planeCount pixels; 0 when the count does not fit
// in 32 bits or a row is too wide for a signed stride.
uint32_t LayerBufferBytes(int32_t width, int32_t height, int32_t planeCount) {
    constexpr uint64_t kMaxPixels = 0xFFFFFFFFull / 4;
    if (static_cast<uint64_t>(width) * 4 > 0x7FFFFFFFull) return 0;
    uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixels > kMaxPixels) return 0;
    pixels *= static_cast<uint64_t>(planeCount);
    if (pixels > kMaxPixels) return 0;
    return static_cast<uint32_t>(pixels * 4);
}

Layer *NewRootRecord(uint32_t *pixels, int32_t width, int32_t height, int32_t rowBytes) {
    Layer *layer = static_cast<Layer *>(std::calloc(1, sizeof(Layer)));
    if (layer == nullptr) return nullptr;
    layer->pixels = pixels;
    layer->width = width;
    layer->height = height;
    layer->rowBytes = rowBytes;
    layer->refCount = 1;
    layer->root = layer;
    layer->bounds = LayerRect{0, 0, width, height};
    return layer;
}

void UnlinkFromSiblings(Layer *layer) {
    Layer *prev = layer->prevSibling;
    Layer *next = layer->nextSibling;
    if (prev != nullptr) prev->nextSibling = next;
    if (next != nullptr) next->prevSibling = prev;
    if (layer->parent != nullptr && layer->parent->firstChild == layer) layer->parent->firstChild = next;
    layer->parent = nullptr;
    layer->root = nullptr;
    layer->prevSibling = nullptr;
    layer->nextSibling = nullptr;
}

// Children that outlive their parent keep their root (and the references they
// hold on it) but lose every link to the freed record.
void DetachChildren(Layer *layer) {
    Layer *child = layer->firstChild;
    while (child != nullptr) {
        Layer *next = child->nextSibling;
        child->parent = nullptr;
        child->prevSibling = nullptr;
        child->nextSibling = nullptr;
        child = next;
    }
    layer->firstChild = nullptr;
}

void FreeLayerRecord(Layer *layer) {
    if ((layer->flags & LayerOwnsPixels) != 0) std::free(layer->pixels);
    std::memset(layer, 0, sizeof *layer);
    std::free(layer);
}

}  // namespace

void FreeDroppedLayer(Layer *layer) {
    if (layer->destroy != nullptr) layer->destroy(layer, nullptr);
    UnlinkFromSiblings(layer);
    DetachChildren(layer);
    FreeLayerRecord(layer);
}

Layer *NewClippedLayer(Layer *parent) {
    if (parent == nullptr) return nullptr;
    Layer *layer = static_cast<Layer *>(std::calloc(1, sizeof(Layer)));
    if (layer == nullptr) return nullptr;
    layer->root = parent->root;
    layer->pixels = parent->pixels;
    layer->width = parent->width;
    layer->height = parent->height;
    layer->rowBytes = parent->rowBytes;
    layer->refCount = 1;
    layer->flags = LayerKindClipped;
    AddRefCountLayer(parent->root);
    layer->clipRect = LayerRect{0, 0, parent->width, parent->height};
    layer->bounds = parent->bounds;
    layer->parent = parent;
    layer->nextSibling = parent->firstChild;
    if (parent->firstChild != nullptr) parent->firstChild->prevSibling = layer;
    parent->firstChild = layer;
    return layer;
}

}  // namespace zl

using namespace zl;

extern "C" {

Layer *ZL_CALL CreateLayer(int32_t width, int32_t height, int32_t planeCount) {
    if (width <= 0 || height <= 0 || planeCount <= 0) return nullptr;
    uint32_t bytes = LayerBufferBytes(width, height, planeCount);
    if (bytes == 0) return nullptr;
    uint32_t *pixels = static_cast<uint32_t *>(std::calloc(bytes, 1));
    if (pixels == nullptr) return nullptr;
    Layer *layer = NewRootRecord(pixels, width, height, width * 4);
    if (layer == nullptr) {
        std::free(pixels);
        return nullptr;
    }
    layer->flags = LayerOwnsPixels;
    return layer;
}

Layer *ZL_CALL CreateCompatibleLayer(uint32_t *pixels, int32_t width, int32_t height, int32_t rowBytes) {
    return NewRootRecord(pixels, width, height, rowBytes);
}

Layer *ZL_CALL CreateClippedLayer(Layer *parent) { return NewClippedLayer(parent); }

int32_t ZL_CALL AddRefCountLayer(Layer *layer) {
    if (layer == nullptr) return 0;
    if (CountsOnRoot(layer)) layer->root->refCount = WrapAdd(layer->root->refCount, 1);
    layer->refCount = WrapAdd(layer->refCount, 1);
    return 1;
}

int32_t ZL_CALL DeleteLayer(Layer *layer) {
    if (layer == nullptr) return 0;
    LayerLockGuard lock;
    // A child holds one reference on its root for each of its own; the root is
    // found through the child's own link, which outlives a freed parent.
    Layer *heldRoot = CountsOnRoot(layer) ? layer->root : nullptr;
    bool freed = false;
    layer->refCount = WrapSub(layer->refCount, 1);
    // A layer an open bracket names is freed when that bracket closes.
    if (layer->refCount == 0 && !IsKeptAlive(layer)) {
        FreeDroppedLayer(layer);
        freed = true;
    }
    if (heldRoot != nullptr) DeleteLayer(heldRoot);
    return freed ? 1 : 0;
}

}  // extern "C"
