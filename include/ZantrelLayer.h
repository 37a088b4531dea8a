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


/* ---- Scanline scaler and resize ---------------------------------------- */

/** The footprint of one destination pixel on one axis of a scaler.
 * Source pixel s (the sum of the advances of the entries before it) is the
 * leading pixel, weighted `leadWeight`; then `wholeCount` whole pixels follow,
 * each weighted by the axis's whole weight; then, when `wholeCount` is not -1
 * and `trailWeight` > 0, one trailing pixel weighted `trailWeight`.
 * `wholeCount` -1 means that the leading pixel is the whole footprint. */
typedef struct ScaleAxisEntry {
    int32_t wholeCount;
    int32_t advance;
    double leadWeight;
    double trailWeight;
} ScaleAxisEntry;

/** One axis table: an array of destination size + 1 entries. Element 0 is a
 * header whose `leadWeight` holds the axis's whole weight (destination size
 * over source size on a reduction, 0 on an enlargement); element i + 1 is the
 * entry of destination pixel i. */
typedef ScaleAxisEntry ScaleAxis;

/** Sizes and axis tables of a scaler; owned by its scaler. */
typedef struct ScaleGeometry {
    int32_t srcWidth;
    int32_t srcHeight;
    int32_t dstWidth;
    int32_t dstHeight;
    ScaleAxis *horizontal; /**< columns, srcWidth -> dstWidth */
    ScaleAxis *vertical;   /**< lines, srcHeight -> dstHeight */
} ScaleGeometry;

/** The state of one scaling pass, made by BeginScaleScanline and released by
 * EndScaleScanline. The host reads `outputReady` and `needInput` after every
 * ScaleScanline call and writes no field. */
typedef struct ScanlineScaler {
    int32_t outputReady;   /**< 1: the last ScaleScanline call wrote a destination line */
    int32_t needInput;     /**< 1: move on to the next source line */
    int32_t valid;         /**< 1 from BeginScaleScanline until EndScaleScanline */
    int32_t currentLine;   /**< next destination line to produce */
    int32_t dstHeight;
    ScaleGeometry *geometry;
    uint32_t **lineBuffers;        /**< `lineCount` held source lines */
    const uint32_t **rowPointers;  /**< `lineCount` + 1 scratch row addresses */
    int32_t lineCount;     /**< largest vertical whole count (at least 0) + 2 */
    uint32_t lineBytes;    /**< srcWidth * 4 */
    int32_t bufferedLines; /**< source lines held for the current destination line */
    int32_t firstColumn;   /**< first destination column produced */
    int32_t dstWidth;
    int32_t columnCount;   /**< destination columns produced per line */
    int32_t ringStart;     /**< in-place feeding: buffer of the oldest held line */
} ScanlineScaler;

/** Pixel format code "argb" ('a' in the most significant byte) of the
 * sibling conversion library's ExportedQV_CopyScaleConvert. */
#define ZL_FORMAT_ARGB 0x61726762u

#if (defined(__i386__) || defined(_M_IX86)) && !defined(_WIN64)
#if defined(__cplusplus)
#define ZL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#define ZL_CHECK_WORD(type, field, word) \
    ZL_STATIC_ASSERT(offsetof(type, field) == 4 * (word), #type "." #field " is at word " #word)
ZL_STATIC_ASSERT(sizeof(ScaleAxisEntry) == 24, "ScaleAxisEntry is two int32 and two doubles");
ZL_CHECK_WORD(ScaleAxisEntry, wholeCount, 0);
ZL_CHECK_WORD(ScaleAxisEntry, advance, 1);
ZL_CHECK_WORD(ScaleAxisEntry, leadWeight, 2);
ZL_CHECK_WORD(ScaleAxisEntry, trailWeight, 4);
ZL_STATIC_ASSERT(sizeof(ScaleGeometry) == 24, "ScaleGeometry is 6 words");
ZL_CHECK_WORD(ScaleGeometry, horizontal, 4);
ZL_CHECK_WORD(ScaleGeometry, vertical, 5);
ZL_STATIC_ASSERT(sizeof(ScanlineScaler) == 60, "ScanlineScaler is 15 words");
ZL_CHECK_WORD(ScanlineScaler, outputReady, 0);
ZL_CHECK_WORD(ScanlineScaler, needInput, 1);
ZL_CHECK_WORD(ScanlineScaler, valid, 2);
ZL_CHECK_WORD(ScanlineScaler, currentLine, 3);
ZL_CHECK_WORD(ScanlineScaler, dstHeight, 4);
ZL_CHECK_WORD(ScanlineScaler, geometry, 5);
ZL_CHECK_WORD(ScanlineScaler, lineBuffers, 6);
ZL_CHECK_WORD(ScanlineScaler, rowPointers, 7);
ZL_CHECK_WORD(ScanlineScaler, lineCount, 8);
ZL_CHECK_WORD(ScanlineScaler, lineBytes, 9);
ZL_CHECK_WORD(ScanlineScaler, bufferedLines, 10);
ZL_CHECK_WORD(ScanlineScaler, firstColumn, 11);
ZL_CHECK_WORD(ScanlineScaler, dstWidth, 12);
ZL_CHECK_WORD(ScanlineScaler, columnCount, 13);
ZL_CHECK_WORD(ScanlineScaler, ringStart, 14);
#undef ZL_CHECK_WORD
#undef ZL_STATIC_ASSERT
#endif

/** Creates a scaler from srcWidth x srcHeight to dstWidth x dstHeight pixels.
 * Each axis is an exact area average when it shrinks or keeps its size and a
 * linear interpolation (edge pixels repeated) when it grows.
 * @return the new scaler, owned by the caller until EndScaleScanline; null
 *   when a size is 0 or negative, when srcWidth * 4 or the byte size of an
 *   axis table does not fit in 32 bits, or when memory runs out (then
 *   nothing stays allocated). No notifications, no host procedures. */
ZL_API ScanlineScaler *ZL_CALL BeginScaleScanline(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                                                  int32_t dstHeight);

/** Releases a scaler and everything it holds; the pointer must not be used
 * again. @return 1, or 0 for a null scaler. No notifications, no host
 * procedures. */
ZL_API int32_t ZL_CALL EndScaleScanline(ScanlineScaler *scaler);

/** Starts a new pass that produces destination lines firstLine .. dstHeight - 1,
 * columns firstColumn .. firstColumn + columnCount - 1 (written from dstRow[0]);
 * held lines are dropped. The caller then feeds source lines from the line
 * that ConvertRectangleScaleScanline gives for firstLine on, each starting at
 * the source column that it gives for firstColumn.
 * @return 1; 0 (scaler unchanged) when the scaler is null, firstColumn or
 *   firstLine is negative, firstColumn > dstWidth, firstColumn + columnCount
 *   > dstWidth or firstLine > dstHeight. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL OffsetScaleScanline(ScanlineScaler *scaler, int32_t firstColumn, int32_t firstLine,
                                           int32_t columnCount);

/** Rewrites a rectangle of destination pixels, in place, as the source
 * rectangle that the scaler starts reading it from: left and top become the
 * first source column and line, right and bottom one past the last source
 * column and line reached (not clipped to the source size).
 * @return 1; 0 (nothing written) when the scaler or rect is null. Reads only
 *   the tables. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL ConvertRectangleScaleScanline(ScanlineScaler *scaler, LayerRect *rect);

/** For in-place feeding: the scaler's line buffer (lineBytes bytes, owned by
 * the scaler) into which the caller writes the next source line.
 * @return the buffer; null when the scaler is null or not valid. */
ZL_API uint32_t *ZL_CALL GetBufferScaleScanline(ScanlineScaler *scaler);

/** Takes one source line, or produces one destination line, or both.
 * @param dstRow where a produced line's columnCount pixels go; never null.
 * @param srcRow copy mode: a source line of lineBytes readable bytes, copied
 *   when the scaler keeps it; in-place mode: null, the line having been
 *   written into GetBufferScaleScanline's buffer.
 * After the call `outputReady` 1 means dstRow received a line and `needInput`
 * 1 means the next source line is due (otherwise the same line is passed
 * again). Pixels are alpha-weighted averages rounded to nearest, ties to even;
 * a pixel whose alpha rounds to 0 is 0x00000000.
 * @return 1 when a line was taken or produced; 0 when the scaler or dstRow
 *   is null, the scaler is not valid, or every line of the pass is done.
 *   Allocates nothing. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL ScaleScanline(uint32_t *dstRow, const uint32_t *srcRow, ScanlineScaler *scaler);

/** Scales the source layer's `bounds` rectangle of its root buffer into the
 * destination layer's `bounds` rectangle of its root buffer, through the
 * sibling library's ExportedQV_CopyScaleConvert (Quoravel), which it calls
 * once with both pixel addresses, strides, "argb" formats and rectangles.
 * Opens no access and delivers no notifications; calls no host procedure.
 * Both layers must be valid: they are not tested.
 * @return 1, always. */
ZL_API int32_t ZL_CALL ResizeLayer(Layer *destination, Layer *source);

/** Scales the visible part of the source layer onto the visible part of the
 * destination layer with a scanline scaler (the two parts are not laid on
 * each other: each fills its own region). When both layers share a root it
 * scales through a temporary layer with ResizeLayer and then CopyLayer, which
 * sends its notifications and may call the root's copy override; otherwise
 * no notifications are sent. The roots' beginAccess and endAccess procedures
 * run as the access brackets open and close.
 * @return 1 when the pixels were scaled; 0 when an access cannot be opened
 *   (null layers included), or the scaler or temporary layer cannot be made. */
ZL_API int32_t ZL_CALL ResizeLayerCorrect(Layer *destination, Layer *source);

#ifdef __cplusplus
}
#endif

#endif /* ZANTREL_LAYER_H */
