/*
 * ZantrelLayer: layers of straight-alpha ARGB pixels, their trees of clipped
 * windows, and the operations that combine and transform them.
 *
 * Pixels are 32-bit 0xAARRGGBB values with straight (non-premultiplied) alpha.
 * Every record here is shared with the host: field order and widths are part
 * of the interface. On 32-bit targets every field is one 32-bit word.
 */
#ifndef ZANTREL_LAYER_H
#define ZANTREL_LAYER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZL_CALL __cdecl
#else
#define ZL_CALL
#endif

#if defined(_WIN32)
/* Exports are named, with fixed ordinals, by the module definition file. */
#define ZL_API
#elif defined(__GNUC__)
#define ZL_API __attribute__((visibility("default")))
#else
#define ZL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Right and bottom are exclusive. Rectangles are never normalised. */
typedef struct LayerRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} LayerRect;

typedef struct Layer Layer;
typedef struct LayerNotifier LayerNotifier;

/* Host procedures stored in layer records. */
typedef int32_t(ZL_CALL *LayerBeginAccessProc)(Layer *root, void *unused);
typedef int32_t(ZL_CALL *LayerEndAccessProc)(Layer *root, Layer *layer);
typedef int32_t(ZL_CALL *LayerDestroyProc)(Layer *layer, void *unused);
typedef int32_t(ZL_CALL *LayerNotifyProc)(Layer *layer, LayerNotifier *notifier);

/* Override procedures: a non-zero result means the host has done the work. */
typedef int32_t(ZL_CALL *LayerClearOverrideProc)(Layer *layer);
typedef int32_t(ZL_CALL *LayerSetOverrideProc)(Layer *layer, uint32_t colour);
typedef int32_t(ZL_CALL *LayerCopyOverrideProc)(Layer *destination, Layer *source);

/* Host-owned table of override procedures, hung on a root's `overrides`.
 * The first two entries are not used by the library; null entries are skipped. */
typedef struct LayerOverrides {
    void *unused0;
    void *unused1;
    LayerClearOverrideProc clearLayer;
    LayerSetOverrideProc setLayer;
    LayerCopyOverrideProc copyLayer;
} LayerOverrides;

/* Host-owned receiver of change notifications. Only the first word is the
 * library's; the host may embed this record at the start of a larger one. */
struct LayerNotifier {
    LayerNotifyProc notify;
};

/* Layer kinds, in bits 0-1 of `flags`. */
enum {
    LayerKindRoot = 0,
    LayerKindView = 1,
    LayerKindClipped = 2,
    LayerKindAccess = 3,
    LayerKindMask = 3,
    LayerOwnsPixels = 16
};

struct Layer {
    uint32_t *pixels;
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    LayerOverrides *overrides;
    LayerBeginAccessProc beginAccess;
    LayerEndAccessProc endAccess;
    LayerDestroyProc destroy;
    LayerNotifier *refreshNotifier;
    LayerNotifier *updateNotifier;
    int32_t refCount;
    uint32_t flags;
    int32_t accessCount;
    Layer *root;
    Layer *parent;
    Layer *firstChild;
    Layer *prevSibling;
    Layer *nextSibling;
    Layer *target;
    int32_t targetX;
    int32_t targetY;
    LayerRect visibleRect;
    LayerRect bounds;
    LayerRect clipRect;
    LayerRect visibleBounds;
};

/* Filled by BeginLayerAccess, closed by EndLayerAccess. Pixel (x, y) of the
 * region lies at byte address pixels + y * rowBytes + 4 * x. */
typedef struct LayerAccess {
    int32_t width;
    int32_t height;
    LayerRect region;
    Layer *layer;
    uint32_t *origin;
    uint32_t *pixels;
    int32_t rowBytes;
    LayerRect visible;
    Layer *layer2;
    uint32_t *origin2;
    uint32_t *pixels2;
    int32_t rowBytes2;
    LayerRect visible2;
} LayerAccess;

#if (defined(__i386__) || defined(_M_IX86)) && !defined(_WIN64)
#if defined(__cplusplus)
#define ZL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#define ZL_CHECK_WORD(type, field, word) \
    ZL_STATIC_ASSERT(offsetof(type, field) == 4 * (word), #type "." #field " is at word " #word)
ZL_STATIC_ASSERT(sizeof(LayerRect) == 16, "LayerRect is 4 words");
ZL_STATIC_ASSERT(sizeof(Layer) == 148, "Layer is 37 words");
ZL_CHECK_WORD(Layer, pixels, 0);
ZL_CHECK_WORD(Layer, width, 1);
ZL_CHECK_WORD(Layer, height, 2);
ZL_CHECK_WORD(Layer, rowBytes, 3);
ZL_CHECK_WORD(Layer, overrides, 4);
ZL_CHECK_WORD(Layer, beginAccess, 5);
ZL_CHECK_WORD(Layer, endAccess, 6);
ZL_CHECK_WORD(Layer, destroy, 7);
ZL_CHECK_WORD(Layer, refreshNotifier, 8);
ZL_CHECK_WORD(Layer, updateNotifier, 9);
ZL_CHECK_WORD(Layer, refCount, 10);
ZL_CHECK_WORD(Layer, flags, 11);
ZL_CHECK_WORD(Layer, accessCount, 12);
ZL_CHECK_WORD(Layer, root, 13);
ZL_CHECK_WORD(Layer, parent, 14);
ZL_CHECK_WORD(Layer, firstChild, 15);
ZL_CHECK_WORD(Layer, prevSibling, 16);
ZL_CHECK_WORD(Layer, nextSibling, 17);
ZL_CHECK_WORD(Layer, target, 18);
ZL_CHECK_WORD(Layer, targetX, 19);
ZL_CHECK_WORD(Layer, targetY, 20);
ZL_CHECK_WORD(Layer, visibleRect, 21);
ZL_CHECK_WORD(Layer, bounds, 25);
ZL_CHECK_WORD(Layer, clipRect, 29);
ZL_CHECK_WORD(Layer, visibleBounds, 33);
ZL_STATIC_ASSERT(sizeof(LayerOverrides) == 20, "LayerOverrides has 5 entries");
ZL_STATIC_ASSERT(sizeof(LayerAccess) == 88, "LayerAccess is 22 words");
ZL_CHECK_WORD(LayerAccess, width, 0);
ZL_CHECK_WORD(LayerAccess, height, 1);
ZL_CHECK_WORD(LayerAccess, region, 2);
ZL_CHECK_WORD(LayerAccess, layer, 6);
ZL_CHECK_WORD(LayerAccess, origin, 7);
ZL_CHECK_WORD(LayerAccess, pixels, 8);
ZL_CHECK_WORD(LayerAccess, rowBytes, 9);
ZL_CHECK_WORD(LayerAccess, visible, 10);
ZL_CHECK_WORD(LayerAccess, layer2, 14);
ZL_CHECK_WORD(LayerAccess, origin2, 15);
ZL_CHECK_WORD(LayerAccess, pixels2, 16);
ZL_CHECK_WORD(LayerAccess, rowBytes2, 17);
ZL_CHECK_WORD(LayerAccess, visible2, 18);
#undef ZL_CHECK_WORD
#undef ZL_STATIC_ASSERT
#endif

/* Layer lifetime */
ZL_API Layer *ZL_CALL CreateLayer(int32_t width, int32_t height, int32_t planeCount);
ZL_API Layer *ZL_CALL CreateCompatibleLayer(uint32_t *pixels, int32_t width, int32_t height,
                                            int32_t rowBytes);
ZL_API Layer *ZL_CALL CreateClippedLayer(Layer *parent);
ZL_API int32_t ZL_CALL AddRefCountLayer(Layer *layer);
ZL_API int32_t ZL_CALL DeleteLayer(Layer *layer);

/* Clipping and rectangles */
ZL_API int32_t ZL_CALL ClipLayer(Layer *layer, const LayerRect *rect);
ZL_API int32_t ZL_CALL ClipLayerXYWH(Layer *layer, int32_t x, int32_t y, int32_t w, int32_t h);
ZL_API int32_t ZL_CALL GetUnionRectRef(Layer *a, Layer *b, LayerRect *out);

/* Access bracket */
ZL_API int32_t ZL_CALL BeginLayerAccess(LayerAccess *access, Layer *layer, Layer *layer2);
ZL_API int32_t ZL_CALL EndLayerAccess(LayerAccess *access);

/* Change notifications */
ZL_API int32_t ZL_CALL RefreshLayerEx(Layer *layer);
ZL_API int32_t ZL_CALL UpdateLayerEx(Layer *layer);

/* Pixel compositing: the top pixel is blended over the bottom pixel. */
ZL_API uint32_t ZL_CALL CompositPel(uint32_t top, uint32_t bottom);
ZL_API uint32_t ZL_CALL CompositPels(const uint32_t *top, const uint32_t *bottom, uint32_t *out,
                                     int32_t count);
ZL_API uint32_t ZL_CALL CompositPelsNonMMX(const uint32_t *top, const uint32_t *bottom,
                                           uint32_t *out, int32_t count);
ZL_API uint32_t ZL_CALL CompositPelsMMXOnly(const uint32_t *top, const uint32_t *bottom,
                                            uint32_t *out, int32_t count);

/* Layer-on-layer compositing */
ZL_API int32_t ZL_CALL CompositOnTopLayer(Layer *top, Layer *bottom);
ZL_API int32_t ZL_CALL CompositOnBottomLayer(Layer *top, Layer *bottom);
ZL_API int32_t ZL_CALL CompositOnOutputLayer(Layer *top, Layer *bottom, Layer *output);
ZL_API int32_t ZL_CALL CompositOnTopLayerCorrect(Layer *top, Layer *bottom);
ZL_API int32_t ZL_CALL CompositOnBottomLayerCorrect(Layer *top, Layer *bottom);
ZL_API int32_t ZL_CALL CompositOnOutputLayerCorrect(Layer *top, Layer *bottom, Layer *output);

/* Fill and copy: the destination is the first layer, the source the second. */
ZL_API int32_t ZL_CALL ClearLayer(Layer *layer);
ZL_API int32_t ZL_CALL SetLayer(Layer *layer, uint32_t colour);
ZL_API int32_t ZL_CALL SetAlphaLayer(Layer *layer, int32_t alpha);
ZL_API int32_t ZL_CALL CopyLayer(Layer *destination, Layer *source);
ZL_API int32_t ZL_CALL CopyWithOpacityLayer(Layer *destination, Layer *source, int32_t opacity);

/* ---- Row compositing, multi-layer compositing, flips and alpha clipping ---- */

/** One layer of a CompositMany stack.
 *  layer:   the layer to stack; a null layer skips the entry.
 *  opacity: 0 skips the entry, 255 uses the layer's own alpha, any other
 *           value scales the layer's alpha to floor(opacity * alpha / 255). */
typedef struct CompositEntry {
    Layer *layer;
    uint8_t opacity;
} CompositEntry;

#if (defined(__i386__) || defined(_M_IX86)) && !defined(_WIN64)
#if defined(__cplusplus)
static_assert(sizeof(CompositEntry) == 8, "CompositEntry is 2 words");
static_assert(offsetof(CompositEntry, opacity) == 4, "CompositEntry.opacity is at word 1");
#else
_Static_assert(sizeof(CompositEntry) == 8, "CompositEntry is 2 words");
_Static_assert(offsetof(CompositEntry, opacity) == 4, "CompositEntry.opacity is at word 1");
#endif
#endif

/** Composites a row onto another in place: top[i] = CompositPel(top[i], bottom[i])
 *  for i from 0 to count - 1; the bottom row is only read.
 *  @return the last pixel written, top[count - 1]; 0 when count is 0 or
 *          negative, which writes nothing. Pointers are not checked.
 *  Calls no host procedure and sends no notification. */
ZL_API uint32_t ZL_CALL CompositOnTop(uint32_t *top, const uint32_t *bottom, int32_t count);

/** As CompositOnTop, but writes the bottom row: bottom[i] = CompositPel(top[i], bottom[i]).
 *  The top row is only read. @return bottom[count - 1]; 0 and nothing written
 *  when count is 0 or negative. No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositOnBottom(const uint32_t *top, uint32_t *bottom, int32_t count);

/** As CompositOnTop with the top pixel faded first: its colour is kept and its
 *  alpha becomes floor(o * alpha / 255), o the low 8 bits of opacity.
 *  @return top[count - 1]; 0 and nothing written when count is 0 or negative.
 *  No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositOnTopEx(uint32_t *top, const uint32_t *bottom, int32_t count,
                                        uint32_t opacity);

/** Composites a row over one colour in place: row[i] = CompositPel(row[i], colour).
 *  @return row[count - 1]; 0 and nothing written when count is 0 or negative.
 *  No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositAgainstColour(uint32_t *row, uint32_t colour, int32_t count);

/** Slides two layers beneath the output's present content: where only the
 *  first covers, output = CompositPel(output, first); where only the second,
 *  CompositPel(output, second); where both, CompositPel(CompositPel(output,
 *  first), second). Each layer is aligned at the output's top-left corner and
 *  used over its overlap with the output; output pixels neither covers are
 *  not touched. A layer that does not overlap the output is left out.
 *  @return 1 always (also for a null output or a failed access).
 *  Notifications: refresh of the first, then the second layer; update of the
 *  output. Host procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL TwoLayerComposit(Layer *output, Layer *first, Layer *second);

/** Overwrites the output's region with CompositPel(CompositPel(top, faded
 *  middle), bottom), the middle layer's alpha scaled by the low 8 bits of
 *  opacity. The output's previous content is not read.
 *  @return 1, also when an access fails or the three overlaps with the output
 *          differ in width or height (nothing written then); 0 when a layer
 *          does not overlap the output (nothing written).
 *  Sends no notifications. Host procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL ThreeLayerComposit(Layer *output, Layer *bottom, Layer *middle, Layer *top,
                                          int32_t opacity);

/** Composites the second layer, faded by the low 8 bits of opacity, beneath
 *  the first: first = CompositPel(first, faded second) over their overlap,
 *  the two aligned at their top-left corners.
 *  @return 1 always; nothing changes for a null layer, a failed access or no
 *          overlap. Notifications: refresh of the second, then the first
 *          layer; update of the first when it was written. Host procedures:
 *          the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositOnTopLayerEx(Layer *first, Layer *second, int32_t opacity);

/** Composites the first layer, faded by the low 8 bits of opacity, over the
 *  second: second = CompositPel(faded first, second) over their overlap,
 *  every pixel stored. @return 1 always; nothing changes for a null layer, a
 *  failed access or no overlap. Notifications: refresh of the second, then
 *  the first layer; update of the second when it was written. Host
 *  procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositOnBottomLayerEx(Layer *first, Layer *second, int32_t opacity);

/** Builds the output from a stack of layers, list[0] at the bottom. Entries
 *  with a null layer or opacity 0 are skipped. The first usable layer is
 *  copied into the output (CopyLayer, or CopyWithOpacityLayer below opacity
 *  255); each later one is composited over the output with its alpha scaled
 *  by its opacity. Every layer is aligned at the output's top-left corner and
 *  contributes only where it has pixels; a layer whose access fails is left out.
 *  With no usable entry, or a negative count, the output is cleared (ClearLayer).
 *  @return 0 for a null output, a null list or a count of 0 (nothing changes),
 *          and when working memory cannot be allocated (the base layer is
 *          then already placed); 1 otherwise.
 *  Notifications and host overrides: only those of ClearLayer, CopyLayer and
 *  CopyWithOpacityLayer; the stacking itself sends none. Host procedures:
 *  also the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositMany(Layer *output, const CompositEntry *list, int32_t count);

/** Mirrors each row of the layer's visible part left to right in place.
 *  @return 1 always; a null or invisible layer is left alone. Notifications:
 *  refresh of the layer; update when pixels moved (not for a region one pixel
 *  wide). Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL FlipHorzLayer(Layer *layer);

/** Mirrors the order of the rows of the layer's visible part in place.
 *  @return 1 always; a null or invisible layer is left alone. Notifications:
 *  refresh of the layer; update when rows moved (not for a region one row
 *  high). Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL FlipVertLayer(Layer *layer);

/** Sets a clipped layer's window to the bounding box of its visible pixels
 *  whose alpha is not 0 (ClipLayerXYWH). Roots, all-transparent layers and
 *  failed accesses are left unchanged. @return 1 always. Sends no
 *  notifications. Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL ClipToAlphaLayer(Layer *layer);

/** Makes a new clipped child of layer, applies ClipToAlphaLayer to it and
 *  writes its window, in layer's coordinates, to those of x, y, w, h that are
 *  not null. A layer without visible non-transparent pixels yields the
 *  child's whole window (0, 0, width, height). Sends no notifications; host
 *  procedures: the root's access hooks.
 *  @return the child, owned by the caller (release it with DeleteLayer);
 *          null, with nothing written, for a null layer or when memory runs out. */
ZL_API Layer *ZL_CALL ClipToAlphaLayerEx(Layer *layer, int32_t *x, int32_t *y, int32_t *w, int32_t *h);
/* Four-corner mapping */

/**
 * Reports the destination rectangle that a four-corner mapping onto the
 * given corners covers, and whether the corners can be mapped.
 *
 * @param x     four corner x coordinates in destination pixels: corner 0
 *              receives the source's top-left corner, then top-right,
 *              bottom-right, bottom-left. Pixel (i, j) covers x from i to i + 1.
 * @param y     the four corner y coordinates, in the same order.
 * @param rect  receives (left, top, right, bottom), right and bottom
 *              exclusive: left and top are the smallest corner coordinates
 *              rounded toward zero, right and bottom reach one pixel past the
 *              largest ones (rounded toward zero). Written also for an
 *              invalid quad; (0, 0, 0, 0) when x or y is null.
 * @return 1 when the corners, in the given order, form a convex quad (either
 *         winding); 0 for a concave or self-intersecting order, non-finite
 *         corners, a null x or y, a null rect (nothing written) or when
 *         memory runs out.
 *
 * Touches no layer, sends no notification, calls no host procedure. The
 * caller's floating-point environment (rounding, precision, exception masks
 * and flags) is unchanged on return.
 */
ZL_API int32_t ZL_CALL TestFourCorner(const double *x, const double *y, LayerRect *rect);

/**
 * Draws the whole source layer, with perspective, into the quad given by four
 * corners, with antialiased edges.
 *
 * @param destination  the layer drawn into; its pixel (0, 0) stands for the
 *                     point (left, top) of the rectangle TestFourCorner
 *                     reports for the same corners. A clipped window cut off
 *                     by an ancestor receives in its visible part what the
 *                     whole window would receive there.
 * @param source       the layer drawn, mapped as its visible part.
 * @param x, y         the four corners, as for TestFourCorner.
 * @return 1 when the source was drawn (also when nothing of it is visible);
 *         0 when source is null, x or y is null, the quad is invalid, every
 *         pass plan would fold, the destination is null, memory for the
 *         intermediate layer runs out, or the destination root's endAccess
 *         procedure returned 0.
 *
 * Pixels of the mapped image replace the destination's pixels wherever the
 * image is not 0 (nothing is composited); edge pixels get an alpha reduced by
 * their coverage; everything else keeps its content. Sends a refresh
 * notification for the source (unless it is null) and, after the drawing or
 * when every plan folded, an update notification for the destination. Opens
 * access brackets on the source, the destination and an intermediate layer
 * of its own, so the roots' beginAccess and endAccess procedures are called.
 * The caller's floating-point environment is unchanged on return.
 */
ZL_API int32_t ZL_CALL FourCornerMapLayer(Layer *destination, Layer *source, const double *x, const double *y);

#ifdef __cplusplus
}
#endif

#endif /* ZANTREL_LAYER_H */
