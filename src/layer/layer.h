// Internals of the layer model: kind tests, 32-bit wrapping rectangle
// arithmetic, pixel addressing, visible parts and notifications.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "ZantrelLayer.h"

namespace zl {

inline uint32_t LayerKind(const Layer *layer) { return layer->flags & LayerKindMask; }

inline bool IsClippedLayer(const Layer *layer) {
    return layer != nullptr && (LayerKind(layer) == LayerKindClipped || LayerKind(layer) == LayerKindAccess);
}

inline bool IsViewLayer(const Layer *layer) { return layer != nullptr && LayerKind(layer) == LayerKindView; }

// Kinds 2 and 3 share bit 1: reference counting treats such a layer as a child
// that holds references on its root.
inline bool CountsOnRoot(const Layer *layer) {
    return (layer->flags & 2u) != 0 && layer->root != nullptr && layer->root != layer;
}

// Signed 32-bit arithmetic that wraps around, as rectangle coordinates do.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Max32(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t Min32(int32_t a, int32_t b) { return a < b ? a : b; }

inline LayerRect IntersectRects(const LayerRect &a, const LayerRect &b) {
    return LayerRect{Max32(a.left, b.left), Max32(a.top, b.top), Min32(a.right, b.right),
                     Min32(a.bottom, b.bottom)};
}

// Not empty in plain signed comparison: right > left and bottom > top.
inline bool IsProperRect(const LayerRect &r) { return r.right > r.left && r.bottom > r.top; }

// Byte offsets are computed in unsigned pointer-sized arithmetic: they wrap
// like the 32-bit addresses they stand for and never overflow a signed type.
inline uint32_t *OffsetBytes(uint32_t *p, intptr_t bytes) {
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(bytes));
}

inline uint32_t *PixelAddress(uint32_t *base, int32_t rowBytes, int32_t x, int32_t y) {
    uintptr_t rowOffset = static_cast<uintptr_t>(static_cast<intptr_t>(rowBytes)) *
                          static_cast<uintptr_t>(static_cast<intptr_t>(y));
    uintptr_t columnOffset = static_cast<uintptr_t>(static_cast<intptr_t>(x)) * 4u;
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uintptr_t>(base) + rowOffset + columnOffset);
}

inline uint32_t *NextRow(uint32_t *row, int32_t rowBytes) { return OffsetBytes(row, rowBytes); }
inline const uint32_t *NextRow(const uint32_t *row, int32_t rowBytes) {
    return OffsetBytes(const_cast<uint32_t *>(row), rowBytes);
}

// A new clipped child (kind 2) at the head of parent's children, holding one
// reference on the root. Null when parent is null or memory runs out.
Layer *NewClippedLayer(Layer *parent);

// Frees a layer whose last reference was dropped while something kept it
// alive: runs its destroy procedure, unlinks it and frees the record (and an
// owned buffer). The reference it held on its root is already gone.
void FreeDroppedLayer(Layer *layer);

// Every layer an open access bracket (or an operation) names stays a valid
// record until the bracket closes: DeleteLayer only counts such a layer down
// to 0, and LetLayersGo frees it then.
constexpr int32_t kKeptLayers = 4;
// The owner is the address of the bracket's LayerAccess or of a KeepAlive.
bool KeepLayersAlive(uintptr_t owner, std::initializer_list<Layer *> layers);
bool IsKeptAlive(const Layer *layer);
void LetLayersGo(uintptr_t owner);

// Keeps a call's layers (and their roots) alive for the whole call, across
// the notifications it sends outside its access brackets.
class KeepAlive {
public:
    KeepAlive(Layer *first, Layer *second)
        : kept_(KeepLayersAlive(Owner(), {first, RootOf(first), second, RootOf(second)})) {}
    ~KeepAlive() {
        if (kept_) LetLayersGo(Owner());
    }
    KeepAlive(const KeepAlive &) = delete;
    KeepAlive &operator=(const KeepAlive &) = delete;
    bool Kept() const { return kept_; }

    static Layer *RootOf(Layer *layer) { return layer != nullptr ? layer->root : nullptr; }

private:
    uintptr_t Owner() const { return reinterpret_cast<uintptr_t>(this); }
    bool kept_;
};

int32_t ComputeVisibleBounds(Layer *layer);
int32_t UpdateVisibleRect(Layer *layer);

int32_t NotifyRefresh(Layer *layer);
int32_t NotifyUpdate(Layer *layer);

// An access bracket that is closed when the scope ends, also when opening it
// failed.
class AccessBracket {
public:
    AccessBracket(Layer *layer, Layer *layer2) : opened_(BeginLayerAccess(&access_, layer, layer2) != 0) {}
    ~AccessBracket() { EndLayerAccess(&access_); }
    AccessBracket(const AccessBracket &) = delete;
    AccessBracket &operator=(const AccessBracket &) = delete;

    bool Opened() const { return opened_; }
    const LayerAccess &Access() const { return access_; }

private:
    LayerAccess access_;
    bool opened_;
};

// Calls fn(row, row2) for each of the access's rows, stepping each pointer by
// its own stride; row2 is null when the access has no second layer.
template <class RowFn>
void ForEachRow(const LayerAccess &access, RowFn fn) {
    uint32_t *row = access.pixels;
    uint32_t *row2 = access.pixels2;
    for (int32_t y = 0; y < access.height; ++y) {
        fn(row, row2);
        row = NextRow(row, access.rowBytes);
        if (row2 != nullptr) row2 = NextRow(row2, access.rowBytes2);
    }
}

}  // namespace zl
