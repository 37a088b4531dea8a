#include "layer/layer.h"

namespace zl {

namespace {

// Places a clipped layer's bounds from its clipRect and its parent's bounds.
void PlaceInParent(Layer *layer) {
    const LayerRect &parentBounds = layer->parent->bounds;
    const LayerRect &rect = layer->clipRect;
    layer->bounds.left = WrapAdd(parentBounds.left, rect.left);
    layer->bounds.top = WrapAdd(parentBounds.top, rect.top);
    layer->bounds.right = WrapAdd(layer->bounds.left, WrapSub(rect.right, rect.left));
    layer->bounds.bottom = WrapAdd(layer->bounds.top, WrapSub(rect.bottom, rect.top));
}

// Next layer of a pre-order walk of top's descendants; null at the end. A
// layer that is not a clipped layer is placed by nobody, nor are its children.
Layer *NextDescendant(Layer *current, Layer *top) {
    if (current->firstChild != nullptr && (current == top || IsClippedLayer(current))) return current->firstChild;
    while (current != top) {
        if (current->nextSibling != nullptr) return current->nextSibling;
        current = current->parent;
    }
    return nullptr;
}

// Re-places every descendant relative to its (moved) parent. Iterative, so
// that the depth of a tree is not limited by the stack.
void PlaceDescendants(Layer *top) {
    for (Layer *layer = NextDescendant(top, top); layer != nullptr; layer = NextDescendant(layer, top)) {
        if (IsClippedLayer(layer)) PlaceInParent(layer);
    }
}

void SetVisibleFromBounds(Layer *layer) {
    layer->width = WrapSub(layer->visibleBounds.right, layer->visibleBounds.left);
    layer->height = WrapSub(layer->visibleBounds.bottom, layer->visibleBounds.top);
    layer->visibleRect.left = WrapSub(layer->visibleBounds.left, layer->bounds.left);
    layer->visibleRect.top = WrapSub(layer->visibleBounds.top, layer->bounds.top);
    layer->visibleRect.right = WrapAdd(layer->visibleRect.left, layer->width);
    layer->visibleRect.bottom = WrapAdd(layer->visibleRect.top, layer->height);
}

}  // namespace

int32_t ComputeVisibleBounds(Layer *layer) {
    if (layer == nullptr) return 0;
    layer->visibleBounds = layer->bounds;
    for (Layer *ancestor = layer->parent; ancestor != nullptr; ancestor = ancestor->parent)
        layer->visibleBounds = IntersectRects(layer->visibleBounds, ancestor->bounds);
    // A child whose parent was freed has no ancestors left, but it still lies
    // in its root's buffer and must not reach past it.
    if (layer->root != nullptr && layer->root != layer)
        layer->visibleBounds = IntersectRects(layer->visibleBounds, layer->root->bounds);
    SetVisibleFromBounds(layer);
    return 1;
}

int32_t UpdateVisibleRect(Layer *layer) {
    if (ComputeVisibleBounds(layer) == 0) return 0;
    Layer *view = layer->root;
    if (!IsViewLayer(view)) return 1;
    Layer *target = view->target;
    if (target == nullptr) return 0;
    ComputeVisibleBounds(target);
    // The target's visible part, in the target's own coordinates, placed at
    // the view's target offset.
    LayerRect shown;
    if (IsProperRect(target->visibleBounds)) {
        shown.left = WrapAdd(view->targetX, target->visibleRect.left);
        shown.top = WrapAdd(view->targetY, target->visibleRect.top);
        shown.right = WrapAdd(shown.left, target->width);
        shown.bottom = WrapAdd(shown.top, target->height);
    } else {
        shown = LayerRect{0, 0, 0, 0};
    }
    layer->visibleBounds = IntersectRects(layer->visibleBounds, shown);
    SetVisibleFromBounds(layer);
    return 1;
}

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL ClipLayer(Layer *layer, const LayerRect *rect) {
    if (rect == nullptr || !IsClippedLayer(layer)) return 0;
    layer->clipRect = *rect;
    if (layer->parent == nullptr) return 0;
    PlaceInParent(layer);
    PlaceDescendants(layer);
    return 1;
}

int32_t ZL_CALL ClipLayerXYWH(Layer *layer, int32_t x, int32_t y, int32_t w, int32_t h) {
    LayerRect rect{x, y, WrapAdd(x, w), WrapAdd(y, h)};
    ClipLayer(layer, &rect);
    return 1;
}

int32_t ZL_CALL GetUnionRectRef(Layer *a, Layer *b, LayerRect *out) {
    if (out == nullptr || a == nullptr || b == nullptr || a->root != b->root) return 0;
    LayerRect overlap = IntersectRects(a->bounds, b->bounds);
    overlap.left = WrapSub(overlap.left, a->bounds.left);
    overlap.right = WrapSub(overlap.right, a->bounds.left);
    overlap.top = WrapSub(overlap.top, a->bounds.top);
    overlap.bottom = WrapSub(overlap.bottom, a->bounds.top);
    *out = overlap;
    return 1;
}

}  // extern "C"
