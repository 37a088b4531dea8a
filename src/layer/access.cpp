#include "layer/layer.h"
#include "module/platform.h"

namespace zl {

namespace {

// Where a layer's pixels live: the root whose buffer holds them and the
// layer's top-left corner in that root's coordinates.
struct PixelPlace {
    Layer *root = nullptr;
    int32_t x = 0;
    int32_t y = 0;
};

// Follows a view root to its target's root. False when there is no target,
// no target root, or the target is itself shown through a view (no pixels).
bool ResolvePixelPlace(Layer *layer, Layer *root, PixelPlace &place) {
    place.root = root;
    place.x = layer->bounds.left;
    place.y = layer->bounds.top;
    if (!IsViewLayer(root)) return true;
    Layer *target = root->target;
    if (target == nullptr) return false;
    place.x = WrapAdd(place.x, WrapSub(target->bounds.left, root->targetX));
    place.y = WrapAdd(place.y, WrapSub(target->bounds.top, root->targetY));
    place.root = target->root;
    return place.root != nullptr && !IsViewLayer(place.root);
}

void CountAccess(Layer *root) {
    if (root->accessCount == 0 && root->beginAccess != nullptr) root->beginAccess(root, nullptr);
    root->accessCount = WrapAdd(root->accessCount, 1);
}

// A root is accessed through a temporary clipped child that stands for it.
Layer *StandInFor(Layer *layer) {
    if (IsClippedLayer(layer)) return layer;
    Layer *child = NewClippedLayer(layer);
    if (child != nullptr) child->flags = LayerKindAccess;
    return child;
}

// The visible part is usable when it is a rectangle both in root coordinates
// and in the layer's own: wrapped coordinates must never yield a region that
// lies outside the root's buffer.
bool HasUsableVisiblePart(const Layer *layer) {
    return IsProperRect(layer->visibleRect) && IsProperRect(layer->visibleBounds);
}

// The address of region pixel (left, top), computed from the absolute
// position so that it is exact on 64-bit targets as well.
uint32_t *RegionAddress(const PixelPlace &place, const LayerRect &region) {
    return PixelAddress(place.root->pixels, place.root->rowBytes, WrapAdd(place.x, region.left),
                        WrapAdd(place.y, region.top));
}

void SetFirstAddress(LayerAccess *access, const PixelPlace &place) {
    access->origin = PixelAddress(place.root->pixels, place.root->rowBytes, place.x, place.y);
    access->rowBytes = place.root->rowBytes;
}

enum class Release { Done, EndRefused, Missing };

// Lowers the access count of layer's root and calls the root's endAccess
// when the count returns to 0.
Release ReleaseCount(Layer *layer) {
    if (layer == nullptr) return Release::Missing;
    Layer *root = layer->root;
    if (root == nullptr) return Release::Missing;
    if (root->accessCount == 0) return Release::Done;
    root->accessCount = WrapSub(root->accessCount, 1);
    if (root->accessCount == 0 && root->endAccess != nullptr && root->endAccess(root, layer) == 0)
        return Release::EndRefused;
    return Release::Done;
}

// Drops the bracket's reference on a kind-3 layer (deleting the stand-in it
// made, or giving back the one taken on a caller's kind-3 layer), then
// releases the access on the root. The layers the bracket names are kept
// alive until it has closed, so the root is still there for endAccess even
// when the host dropped its last reference meanwhile.
Release ReleaseAccess(Layer *&slot) {
    Layer *layer = slot;
    if (layer == nullptr) return Release::Missing;
    if (layer->flags != LayerKindAccess) return ReleaseCount(layer);
    slot = layer->parent;
    DeleteLayer(layer);
    return ReleaseCount(slot);
}

// A kind-3 layer passed in by a caller (the stand-in of an outer access,
// handed to a notification receiver) is not the bracket's own: the bracket
// takes a reference on it, so that closing drops only that reference.
void HoldCallersAccessLayer(Layer *layer) {
    if (layer->flags == LayerKindAccess) AddRefCountLayer(layer);
}

// Opens the second layer (steps that never fail the whole access, except
// when its root is missing or its stand-in cannot be made). `usable` tells
// whether its pixels can be used; its addresses are computed by the caller
// once every hook has run.
bool OpenSecondLayer(LayerAccess *access, Layer *layer2, PixelPlace &place2, bool &usable) {
    usable = false;
    Layer *root2 = layer2->root;
    if (root2 == nullptr) return false;
    CountAccess(root2);
    HoldCallersAccessLayer(layer2);
    access->layer2 = layer2;
    if (!ResolvePixelPlace(layer2, root2, place2) || place2.root->pixels == nullptr) {
        place2.root = nullptr;
        return true;
    }
    Layer *second = StandInFor(layer2);
    if (second == nullptr) return false;
    access->layer2 = second;
    UpdateVisibleRect(second);
    if (IsProperRect(second->visibleBounds)) {
        access->visible2 = second->visibleRect;
        usable = true;
    }
    return true;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL BeginLayerAccess(LayerAccess *access, Layer *layer, Layer *layer2) {
    if (access == nullptr) return 0;
    *access = LayerAccess{};
    access->layer = layer;
    if (layer == nullptr) return 0;
    // Hooks and receivers may drop the host's last reference on any of these.
    if (!KeepLayersAlive(reinterpret_cast<uintptr_t>(access), {layer, layer->root, layer2, KeepAlive::RootOf(layer2)}))
        return 0;
    HoldCallersAccessLayer(layer);
    Layer *root = layer->root;
    if (root == nullptr) return 0;
    CountAccess(root);  // before the buffer is read: beginAccess may supply it

    PixelPlace place;
    if (!ResolvePixelPlace(layer, root, place) || place.root->pixels == nullptr) return 0;
    SetFirstAddress(access, place);

    Layer *first = StandInFor(layer);
    if (first == nullptr) return 0;
    access->layer = first;
    UpdateVisibleRect(first);
    if (!HasUsableVisiblePart(first)) return 0;
    access->visible = first->visibleRect;
    access->visible2 = first->visibleRect;

    PixelPlace place2;
    bool secondUsable = false;
    if (layer2 != nullptr && !OpenSecondLayer(access, layer2, place2, secondUsable)) return 0;

    // Every hook has run now; the second root's beginAccess may have moved
    // either buffer. Addresses and strides are read from the roots' fields as
    // they stand, never mixed with values read before a hook.
    if (place.root->pixels == nullptr) return 0;
    SetFirstAddress(access, place);
    if (place2.root != nullptr && place2.root->pixels != nullptr) {
        access->origin2 = PixelAddress(place2.root->pixels, place2.root->rowBytes, place2.x, place2.y);
        access->rowBytes2 = place2.root->rowBytes;
    } else {
        secondUsable = false;
    }

    LayerRect region = IntersectRects(access->visible, access->visible2);
    if (!secondUsable || !IsProperRect(region)) {
        // No usable overlap: the access covers the first layer alone.
        region = access->visible;
        access->visible2 = access->visible;
        access->origin2 = nullptr;
        secondUsable = false;
    }
    access->region = region;
    access->width = WrapSub(region.right, region.left);
    access->height = WrapSub(region.bottom, region.top);
    access->pixels = RegionAddress(place, region);
    if (secondUsable) access->pixels2 = RegionAddress(place2, region);
    return 1;
}

int32_t ZL_CALL EndLayerAccess(LayerAccess *access) {
    if (access == nullptr) return 0;
    Release first = ReleaseAccess(access->layer);
    // The second layer is released even when the first root's endAccess
    // refused, so that its count and temporary layer are never left behind.
    Release second = first != Release::Missing && access->layer2 != nullptr ? ReleaseAccess(access->layer2)
                                                                            : Release::Done;
    LetLayersGo(reinterpret_cast<uintptr_t>(access));
    return first == Release::Done && second == Release::Done ? 1 : 0;
}

}  // extern "C"
