/**
 * @file ZantrelLayer.h
 * @brief ZantrelLayer: layers of straight-alpha ARGB pixels, their trees of
 * clipped windows, and the operations that combine and transform them.
 *
 * Pixels are 32-bit 0xAARRGGBB values with straight (non-premultiplied) alpha.
 * Every record here is shared with the host: field order and widths are part
 * of the interface. On 32-bit targets every field is one 32-bit word.
 *
 * The conventions that every export follows (results, ownership, the access
 * bracket, notifications, threads) are on the @ref index "main page".
 * Each export's entry lists its arguments and result, what it refuses, who
 * owns what, the notifications it sends and the host procedures it calls.
 */

/**
 * @def ZL_CALL
 * The calling convention of every export and of every host procedure stored
 * in a record: the C convention (`__cdecl` on 32-bit Windows), the caller
 * removes the arguments.
 *
 * @def ZL_API
 * Marks an export. On Windows the names and ordinals come from the module
 * definition file `ZantrelLayer.def`; elsewhere the symbol is made visible.
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

/**
 * A rectangle of whole pixels, x to the right and y downwards. Right and
 * bottom are exclusive, so the width is right - left. Rectangles are never
 * normalised: one whose right is not greater than its left (or bottom not
 * greater than top) is empty.
 */
typedef struct LayerRect {
    int32_t left;   /**< First column. */
    int32_t top;    /**< First row. */
    int32_t right;  /**< Column after the last. */
    int32_t bottom; /**< Row after the last. */
} LayerRect;

/** The record that describes one layer; see struct Layer. */
typedef struct Layer Layer;
/** A host-owned receiver of change notifications; see struct LayerNotifier. */
typedef struct LayerNotifier LayerNotifier;

/**
 * Host procedure in a root's Layer::beginAccess, called when the root's
 * access count goes from 0 to 1, before the buffer address is read: it may
 * set or move the root's `pixels` and `rowBytes`. Called with the root and
 * null; the result is ignored.
 */
typedef int32_t(ZL_CALL *LayerBeginAccessProc)(Layer *root, void *unused);
/**
 * Host procedure in a root's Layer::endAccess, called when the root's access
 * count returns to 0. Called with the root and the layer that the caller of
 * BeginLayerAccess passed (never a temporary access layer). Returning 0 makes
 * EndLayerAccess return 0.
 */
typedef int32_t(ZL_CALL *LayerEndAccessProc)(Layer *root, Layer *layer);
/**
 * Host procedure in Layer::destroy, called by DeleteLayer with the layer and
 * null when the layer's last reference goes, before the record is unlinked
 * and freed. The result is ignored.
 */
typedef int32_t(ZL_CALL *LayerDestroyProc)(Layer *layer, void *unused);
/**
 * The procedure of a LayerNotifier, called with the layer reported (for a
 * root, the temporary access layer that stands for it) and the notifier
 * record itself. Non-zero means the receiver did its work.
 */
typedef int32_t(ZL_CALL *LayerNotifyProc)(Layer *layer, LayerNotifier *notifier);

/** Override of ClearLayer: non-zero means the host has cleared the layer. */
typedef int32_t(ZL_CALL *LayerClearOverrideProc)(Layer *layer);
/** Override of SetLayer: non-zero means the host has filled the layer with colour. */
typedef int32_t(ZL_CALL *LayerSetOverrideProc)(Layer *layer, uint32_t colour);
/** Override of CopyLayer: non-zero means the host has copied source into destination. */
typedef int32_t(ZL_CALL *LayerCopyOverrideProc)(Layer *destination, Layer *source);

/**
 * Host-owned table of override procedures, hung on a root's
 * Layer::overrides. Only the root's table is consulted, whichever layer of
 * the tree an operation is given. A procedure that returns non-zero has done
 * the whole operation: the library then touches no pixel, opens no access
 * and sends no notification. A null entry, or a result of 0, lets the
 * library do the work. The library never writes or frees the table.
 */
typedef struct LayerOverrides {
    void *unused0;                      /**< Not used by the library. */
    void *unused1;                      /**< Not used by the library. */
    LayerClearOverrideProc clearLayer;  /**< Tried by ClearLayer with the layer. */
    LayerSetOverrideProc setLayer;      /**< Tried by SetLayer with the layer and the colour. */
    LayerCopyOverrideProc copyLayer;    /**< Tried by CopyLayer with (destination, source), first on
                                             the destination's root, then on the source's root. */
} LayerOverrides;

/**
 * Host-owned receiver of change notifications, hung on a layer's
 * Layer::refreshNotifier or Layer::updateNotifier. Only the first word is
 * the library's; the host may embed this record at the start of a larger
 * one and find its own data from the pointer it is handed.
 */
struct LayerNotifier {
    /** Called with (layer, this record); may be null, which counts as a receiver that succeeded. */
    LayerNotifyProc notify;
};

/** Layer kinds, in bits 0-1 of Layer::flags, and the flag of owned pixels. */
enum {
    LayerKindRoot = 0,    /**< A root with a pixel buffer (CreateLayer, CreateCompatibleLayer). */
    LayerKindView = 1,    /**< A root without pixels that shows Layer::target; no export makes one. */
    LayerKindClipped = 2, /**< A clipped window onto its parent (CreateClippedLayer). */
    LayerKindAccess = 3,  /**< A temporary clipped child that stands for a root during one access. */
    LayerKindMask = 3,    /**< Mask of the kind bits. */
    LayerOwnsPixels = 16  /**< The library allocated the buffer and frees it with the layer. */
};

/**
 * One layer: a rectangle of pixels in a root's buffer, and its place in a
 * tree of clipped windows. The library allocates the record (zero-filled);
 * the host reads its fields and installs its own procedures and receivers by
 * writing Layer::overrides, Layer::beginAccess, Layer::endAccess,
 * Layer::destroy, Layer::refreshNotifier and Layer::updateNotifier. No export
 * sets those fields. The other fields belong to the library.
 */
struct Layer {
    /** Root: address of pixel (0, 0) of the buffer. Clipped layer: the root buffer's pixel (0, 0) as well. */
    uint32_t *pixels;
    /** Root: width in pixels. Clipped layer: width of its visible part as last computed by an access. */
    int32_t width;
    /** Root: height in rows. Clipped layer: height of its visible part as last computed by an access. */
    int32_t height;
    /** Bytes from the start of one row to the next; negative for bottom-up buffers. */
    int32_t rowBytes;
    /** Root only; may be null. Host table of override procedures (LayerOverrides). */
    LayerOverrides *overrides;
    /** Root only; may be null. Called when the first access on the tree opens. */
    LayerBeginAccessProc beginAccess;
    /** Root only; may be null. Called when the last access on the tree closes. */
    LayerEndAccessProc endAccess;
    /** Any layer; may be null. Called by DeleteLayer when the last reference goes. */
    LayerDestroyProc destroy;
    /** May be null. Receiver of refresh notifications for this layer and its descendants. */
    LayerNotifier *refreshNotifier;
    /** May be null. Receiver of update notifications for this layer and its descendants. */
    LayerNotifier *updateNotifier;
    /** Number of references; 1 at creation. A root also counts every reference on its clipped layers. */
    int32_t refCount;
    /** Bits 0-1: the kind (LayerKindRoot ... LayerKindAccess); bit 4: LayerOwnsPixels. */
    uint32_t flags;
    /** Root only: number of accesses open on the tree. */
    int32_t accessCount;
    /** Root of the tree; a root points to itself. */
    Layer *root;
    /** Parent layer; null for roots. */
    Layer *parent;
    /** Newest child; children are linked from newest to oldest. */
    Layer *firstChild;
    /** Next newer child of the same parent; null for the newest. */
    Layer *prevSibling;
    /** Next older child of the same parent; null for the oldest. */
    Layer *nextSibling;
    /** View root only: the layer whose pixels the view shows. */
    Layer *target;
    /** View root only: horizontal offset of the target. */
    int32_t targetX;
    /** View root only: vertical offset of the target. */
    int32_t targetY;
    /** Visible part, relative to the layer's own top-left corner; computed at every access. */
    LayerRect visibleRect;
    /** The layer's rectangle in the root's coordinates; a root's is (0, 0, width, height). */
    LayerRect bounds;
    /** The layer's rectangle relative to its parent's top-left corner, as last set by ClipLayer; 0 for roots. */
    LayerRect clipRect;
    /** Visible part in the root's coordinates; computed at every access. */
    LayerRect visibleBounds;
};

/**
 * The region that BeginLayerAccess opens on one or two layers, closed by
 * EndLayerAccess. The caller provides the record (usually a local); the two
 * layers are laid on each other with their top-left corners together. Pixel
 * (x, y) of the region lies at byte address `pixels + y * rowBytes + 4 * x`,
 * and in the second layer at `pixels2 + y * rowBytes2 + 4 * x`.
 */
typedef struct LayerAccess {
    int32_t width;     /**< Width of the region in pixels; above 0 after a successful open. */
    int32_t height;    /**< Height of the region in rows; above 0 after a successful open. */
    LayerRect region;  /**< The region, relative to the first layer's top-left corner. */
    Layer *layer;      /**< The first layer, or the temporary access layer that stands for a root.
                            Leave it as set: EndLayerAccess releases it. */
    uint32_t *origin;  /**< Address of the first layer's pixel (0, 0) in the root buffer. */
    uint32_t *pixels;  /**< Address of the region's first pixel in the first layer. */
    int32_t rowBytes;  /**< Row stride of the first layer's buffer in bytes. */
    LayerRect visible; /**< The first layer's visible part (its Layer::visibleRect). */
    Layer *layer2;     /**< The second layer (or its temporary access layer); null when there is none. */
    uint32_t *origin2; /**< As origin, for the second layer; null when there is none. */
    uint32_t *pixels2; /**< Address of the region's first pixel in the second layer; null when there is
                            no second layer, its pixels cannot be resolved or the two do not overlap. */
    int32_t rowBytes2; /**< Row stride of the second layer's buffer in bytes. */
    LayerRect visible2; /**< The second layer's visible part; equal to visible when it is not usable. */
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

/**
 * Creates a root over a new zero-filled buffer (all pixels 0x00000000,
 * transparent black) of width x height x planeCount pixels, with
 * `rowBytes` = 4 x width and Layer::flags exactly LayerOwnsPixels. The layer
 * covers the first width x height pixels; pass planeCount 1.
 * @param width Width in pixels, at least 1.
 * @param height Height in rows, at least 1.
 * @param planeCount Number of width x height planes to allocate, at least 1.
 * @return The new root with one reference, or null.
 * @par Refusals
 * Null when an argument is 0 or negative, when the buffer's byte count does
 * not fit in 32 bits (or a row's in a signed 32-bit stride), or when memory
 * runs out; nothing then stays allocated.
 * @par Ownership
 * The caller owns the one reference and drops it with DeleteLayer; the
 * library frees the buffer with the record.
 * @par Notifications and host procedures
 * None.
 */
ZL_API Layer *ZL_CALL CreateLayer(int32_t width, int32_t height, int32_t planeCount);
/**
 * Creates a root that wraps host memory, without copying or checking it.
 * @param pixels Address of pixel (0, 0); for a bottom-up buffer the first
 *        pixel of the top row, with a negative rowBytes.
 * @param width Width in pixels.
 * @param height Height in rows.
 * @param rowBytes Bytes from one row to the next (negative for bottom-up).
 * @return The new root with one reference (Layer::flags 0), or null.
 * @par Refusals
 * Null only when memory runs out. No argument is validated: the host
 * vouches that width x height pixels at that stride are its memory.
 * @par Ownership
 * The buffer stays the host's and must outlive the layer (the host may also
 * supply or move it later from Layer::beginAccess). The caller owns the one
 * reference and drops it with DeleteLayer, which never frees the buffer.
 * @par Notifications and host procedures
 * None.
 */
ZL_API Layer *ZL_CALL CreateCompatibleLayer(uint32_t *pixels, int32_t width, int32_t height,
                                            int32_t rowBytes);
/**
 * Creates a clipped window (LayerKindClipped) onto parent, a root or another
 * clipped layer. The window first covers the parent, Layer::clipRect
 * (0, 0, parent width, parent height); place it with ClipLayer or
 * ClipLayerXYWH. It becomes the parent's Layer::firstChild.
 * @param parent The layer to open the window on.
 * @return The new clipped layer with one reference, or null.
 * @par Refusals
 * Null when parent is null or memory runs out.
 * @par Ownership
 * The caller owns the one reference and drops it with DeleteLayer. Each
 * reference on a clipped layer also counts on its root, so the root outlives
 * it. Delete a clipped layer's own clipped children before its last
 * reference goes; a child whose parent is freed first is detached: it keeps
 * its root, stays clipped to the root's buffer and can still be deleted.
 * @par Notifications and host procedures
 * None. The new layer's procedures and receivers are null; accesses and
 * notifications find them on its ancestors.
 */
ZL_API Layer *ZL_CALL CreateClippedLayer(Layer *parent);
/**
 * Adds a reference to a layer; for a clipped layer also one to its root.
 * @param layer The layer.
 * @return 1, or 0 for a null layer.
 * @par Refusals
 * A null layer (0, nothing changes).
 * @par Ownership
 * The caller owns the added reference and drops it with DeleteLayer.
 * @par Notifications and host procedures
 * None.
 */
ZL_API int32_t ZL_CALL AddRefCountLayer(Layer *layer);
/**
 * Drops a reference, and frees the layer with the last one. For a clipped
 * layer the reference it held on its root is dropped too, which may free the
 * root as well (the child's Layer::destroy runs before the root's). Runs
 * under the process-wide layer lock, so deletions of layers of one tree from
 * several threads are serialised.
 * @param layer The layer.
 * @return 1 when the layer's record was freed, 0 when it is still referenced,
 *         is kept by an open access, or layer is null.
 * @par Refusals
 * A null layer (0, nothing changes).
 * @par Ownership
 * Frees the record when its count reaches 0, and the buffer when the layer
 * has LayerOwnsPixels. The record is cleared before it is freed; the host
 * must not use a layer after the DeleteLayer that dropped its last reference.
 * A layer that an open access names (or the root of one) is only counted
 * down: the close of the last such access frees it, after the root's
 * endAccess, and runs its destroy then.
 * @par Host procedures called
 * Layer::destroy (layer, null) of each layer freed, before it is unlinked.
 * @par Notifications
 * None.
 */
ZL_API int32_t ZL_CALL DeleteLayer(Layer *layer);

/* Clipping and rectangles */

/**
 * Places a clipped layer's window in its parent and moves all of its
 * descendants with it (each keeps its own Layer::clipRect relative to its
 * moved parent). The rectangle is not checked and need not lie inside the
 * parent: what lies outside any ancestor is simply not visible, and an empty
 * or inverted rectangle makes the layer invisible.
 * @param layer A clipped layer (LayerKindClipped or LayerKindAccess).
 * @param rect The window, relative to the parent's top-left corner.
 * @return 1 on success, 0 when refused.
 * @par Refusals
 * 0 when rect or layer is null or the layer is not a clipped layer (nothing
 * changes), or when it has no parent (the rectangle is then kept in
 * Layer::clipRect but nothing is placed).
 * @par Ownership, notifications and host procedures
 * None.
 */
ZL_API int32_t ZL_CALL ClipLayer(Layer *layer, const LayerRect *rect);
/**
 * ClipLayer with the rectangle (x, y, x + w, y + h), the sums wrapping
 * around in 32 bits.
 * @param layer A clipped layer.
 * @param x Left edge relative to the parent.
 * @param y Top edge relative to the parent.
 * @param w Width.
 * @param h Height.
 * @return Always 1, also when ClipLayer refused.
 * @par Refusals
 * As ClipLayer, but not reported.
 * @par Ownership, notifications and host procedures
 * None.
 */
ZL_API int32_t ZL_CALL ClipLayerXYWH(Layer *layer, int32_t x, int32_t y, int32_t w, int32_t h);
/**
 * Writes the intersection (not the union, whatever the name says) of the
 * Layer::bounds of two layers of one tree, relative to a's top-left corner.
 * The result is not tested for emptiness: for disjoint layers right <= left
 * or bottom <= top.
 * @param a The layer whose coordinates the result is in.
 * @param b The other layer.
 * @param out Receives the overlap.
 * @return 1, or 0 when refused.
 * @par Refusals
 * 0, leaving out alone, when an argument is null or the layers have
 * different roots.
 * @par Ownership, notifications and host procedures
 * None.
 */
ZL_API int32_t ZL_CALL GetUnionRectRef(Layer *a, Layer *b, LayerRect *out);

/* Access bracket */

/**
 * Opens one layer, or two laid on each other at their top-left corners, for
 * pixel access: resolves each to its place in its root's buffer, computes its
 * visible part through all of its ancestors, and fills access with the
 * region where the visible parts overlap (or the first layer's visible part
 * when the second is null, has no pixels or does not overlap; then
 * LayerAccess::pixels2 is null). Every operation of the library brackets its
 * work this way, and so may the host. Always call EndLayerAccess afterwards,
 * also when this returned 0: that releases what a failed open already took.
 * @param access Caller's record; cleared first.
 * @param layer The first layer.
 * @param layer2 The second layer, or null.
 * @return 1 when the region is ready (width and height above 0), else 0.
 * @par Refusals
 * 0 when access or layer is null, a layer has no root, the first layer's
 * root (or a view's target) has no pixels, its visible part is empty, or a
 * temporary layer cannot be made. A second layer that cannot be used is not
 * a refusal. The region never reaches outside the root's buffer, also when
 * 32-bit coordinates wrap around.
 * @par Ownership
 * For a root, a temporary LayerKindAccess child stands for it in
 * LayerAccess::layer (or LayerAccess::layer2), holding one reference on the
 * root until EndLayerAccess deletes it. Each root involved has its
 * Layer::accessCount raised until then. Accesses nest.
 * @par Host procedures called
 * Layer::beginAccess (root, null) of each root whose access count goes from
 * 0 to 1, before its buffer address is read.
 * @par Notifications
 * None.
 */
ZL_API int32_t ZL_CALL BeginLayerAccess(LayerAccess *access, Layer *layer, Layer *layer2);
/**
 * Closes what BeginLayerAccess opened in access: deletes the temporary
 * access layers and lowers the roots' access counts. Leave
 * LayerAccess::layer and LayerAccess::layer2 as BeginLayerAccess set them.
 * @param access The record that BeginLayerAccess filled.
 * @return 1 on success; 0 when refused or when an Layer::endAccess procedure
 *         returned 0.
 * @par Refusals
 * 0 when access or its layer is null or a layer has no root. A root whose
 * access count is already 0 is left alone.
 * @par Ownership
 * Drops the references the temporary layers held. The second layer is
 * released even when the first root's endAccess returned 0.
 * @par Host procedures called
 * Layer::endAccess (root, layer passed to BeginLayerAccess) of each root
 * whose access count returns to 0.
 * @par Notifications
 * None.
 */
ZL_API int32_t ZL_CALL EndLayerAccess(LayerAccess *access);

/* Change notifications */

/**
 * Asks the nearest refresh receiver of layer (Layer::refreshNotifier on the
 * layer or its nearest ancestor that has one) to bring the layer up to date.
 * While the receiver runs, every layer that library operations read as a
 * source is reported to its own refresh receiver first (a pull chain);
 * update reports reach no receiver. Outside RefreshLayerEx and UpdateLayerEx,
 * operations call no receiver at all.
 * @param layer The layer to refresh.
 * @return 1 when the receiver returned non-zero or has no procedure; 0 when
 *         layer is null, no receiver was found, or the receiver returned 0.
 * @par Refusals
 * A null layer (0).
 * @par Notifications
 * One refresh notification for layer, and those of the chain it starts.
 * @par Host procedures called
 * LayerNotifier::notify (layer, notifier) of the receiver found. Both of the
 * calling thread's notification flags are 0 again when this returns.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL RefreshLayerEx(Layer *layer);
/**
 * Tells the nearest update receiver of layer (Layer::updateNotifier, found
 * as for RefreshLayerEx) that the layer's pixels changed. While the receiver
 * runs, every layer that library operations write is reported to its own
 * update receiver (a push chain); refresh reports reach no receiver.
 * @param layer The layer that changed.
 * @return As RefreshLayerEx.
 * @par Refusals
 * A null layer (0).
 * @par Notifications
 * One update notification for layer, and those of the chain it starts.
 * @par Host procedures called
 * LayerNotifier::notify (layer, notifier) of the receiver found.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL UpdateLayerEx(Layer *layer);

/* Pixel compositing: the top pixel is blended over the bottom pixel. */

/**
 * The straight-alpha over-blend of one pixel on another, computed with the
 * blend tables; every compositing operation of the library blends this way.
 * A bottom alpha of 0 gives the top pixel unchanged (colour included, even
 * when both alphas are 0); a top alpha of 255 gives the top pixel; a top
 * alpha of 0 gives the bottom pixel.
 * @param top The pixel in front.
 * @param bottom The pixel behind.
 * @return The composite pixel, e.g. 0x80FF0000 over 0xFF0000FF gives 0xFF80007F.
 * @par Refusals, ownership, notifications and host procedures
 * None; any thread may call it at any time.
 */
ZL_API uint32_t ZL_CALL CompositPel(uint32_t top, uint32_t bottom);
/**
 * Composites a run of pixels: out[i] = CompositPel(top[i], bottom[i]) for i
 * from 0 to count - 1. Each pair is read before out[i] is written, so out may
 * be top or bottom.
 * @param top count pixels in front.
 * @param bottom count pixels behind.
 * @param out Receives count composites.
 * @param count Number of pixels; 0 or less writes nothing.
 * @return out[count - 1], the last composite; 0 when count is 0 or less.
 * @par Refusals
 * None; the pointers are not checked and must hold count pixels.
 * @par Ownership, notifications and host procedures
 * None; any thread may call it at any time.
 */
ZL_API uint32_t ZL_CALL CompositPels(const uint32_t *top, const uint32_t *bottom, uint32_t *out,
                                     int32_t count);
/**
 * The same operation as CompositPels, under a second name.
 * @param top count pixels in front.
 * @param bottom count pixels behind.
 * @param out Receives count composites; may be top or bottom.
 * @param count Number of pixels; 0 or less writes nothing.
 * @return As CompositPels.
 * @par Refusals, ownership, notifications and host procedures
 * As CompositPels.
 */
ZL_API uint32_t ZL_CALL CompositPelsNonMMX(const uint32_t *top, const uint32_t *bottom,
                                           uint32_t *out, int32_t count);
/**
 * Composites a run of pixels with the MMX arithmetic, two pixels per step.
 * It has no early exits and approximates the output alpha on its own, so it
 * differs from CompositPel by up to one level in most cases and more at low
 * alphas: two fully transparent pixels give 0x00000000, an output alpha
 * under 5 darkens the colours. The result is the same on every target.
 * @param top count pixels in front.
 * @param bottom count pixels behind.
 * @param out Receives count composites; may be top or bottom.
 * @param count Number of pixels; 0 or less writes nothing.
 * @return Carries no information.
 * @par Refusals
 * None; the pointers are not checked and must hold count pixels. Nothing
 * beyond index count - 1 is read or written.
 * @par Ownership, notifications and host procedures
 * None; any thread may call it at any time. The MMX state is cleared before
 * it returns.
 */
ZL_API uint32_t ZL_CALL CompositPelsMMXOnly(const uint32_t *top, const uint32_t *bottom,
                                            uint32_t *out, int32_t count);

/* Layer-on-layer compositing */

/**
 * Composites top over bottom into top: where the two layers' visible parts
 * overlap (top-left corners together), every top pixel becomes
 * CompositPel(top pixel, bottom pixel). Pixels outside the overlap are not
 * touched.
 * @param top The layer in front, which receives the result.
 * @param bottom The layer behind; only read.
 * @return Always 1, whether or not anything was composited.
 * @par Refusals
 * None reported: a null layer, a failed access or no overlap change nothing.
 * @par Notifications
 * Refresh for bottom before reading; update for top after writing (none when
 * there is no overlap). A root is reported as its temporary access layer.
 * @par Host procedures called
 * The roots' Layer::beginAccess and Layer::endAccess through the access
 * bracket, and the receivers of the notifications.
 * @par Ownership
 * None; temporary layers live only during the call.
 */
ZL_API int32_t ZL_CALL CompositOnTopLayer(Layer *top, Layer *bottom);
/**
 * Composites top over bottom into bottom: where the visible parts overlap,
 * every bottom pixel becomes CompositPel(top pixel, bottom pixel); a pixel
 * whose value does not change is not stored.
 * @param top The layer in front; only read.
 * @param bottom The layer behind, which receives the result.
 * @return Always 1.
 * @par Refusals
 * None reported: a null layer, a failed access or no overlap change nothing.
 * @par Notifications
 * Refresh for bottom (the layer written) before reading; update for bottom
 * after writing (none when there is no overlap). top is not reported.
 * @par Host procedures called
 * The roots' access procedures and the notification receivers.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL CompositOnBottomLayer(Layer *top, Layer *bottom);
/**
 * Composites top over bottom into a third layer. Each input is laid on the
 * output with its top-left corner on the output's; where the output, top and
 * bottom all overlap, each output pixel becomes CompositPel of the top and
 * bottom pixels at that place. When top is null (or has no pixels or misses
 * the output), bottom is copied into the output as CopyLayer(output, bottom)
 * does; likewise top when bottom is unusable.
 * @param top The layer in front, or null.
 * @param bottom The layer behind, or null.
 * @param output The layer that receives the result.
 * @return Always 1.
 * @par Refusals
 * None reported: a null or invisible output, or neither input usable,
 * change nothing.
 * @par Notifications
 * Refresh for top, then for bottom, before reading; update for output after
 * writing. A copy in place of the composite sends CopyLayer's own
 * notifications and then one more update for output.
 * @par Host procedures called
 * The roots' access procedures, the notification receivers, and, when it
 * copies, the LayerOverrides::copyLayer override as CopyLayer tries it.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL CompositOnOutputLayer(Layer *top, Layer *bottom, Layer *output);
/**
 * CompositOnTopLayer under a second name: the same pixels, notifications and
 * result.
 * @param top The layer in front, which receives the result.
 * @param bottom The layer behind.
 * @return Always 1.
 * @par Refusals, notifications, host procedures, ownership
 * As CompositOnTopLayer.
 */
ZL_API int32_t ZL_CALL CompositOnTopLayerCorrect(Layer *top, Layer *bottom);
/**
 * CompositOnBottomLayer under a second name.
 * @param top The layer in front.
 * @param bottom The layer behind, which receives the result.
 * @return Always 1.
 * @par Refusals, notifications, host procedures, ownership
 * As CompositOnBottomLayer.
 */
ZL_API int32_t ZL_CALL CompositOnBottomLayerCorrect(Layer *top, Layer *bottom);
/**
 * CompositOnOutputLayer under a second name.
 * @param top The layer in front, or null.
 * @param bottom The layer behind, or null.
 * @param output The layer that receives the result.
 * @return Always 1.
 * @par Refusals, notifications, host procedures, ownership
 * As CompositOnOutputLayer.
 */
ZL_API int32_t ZL_CALL CompositOnOutputLayerCorrect(Layer *top, Layer *bottom, Layer *output);

/* Fill and copy: the destination is the first layer, the source the second. */

/**
 * Sets every pixel of the layer's visible part to 0x00000000 (transparent
 * black), unless the host's override does it.
 * @param layer The layer to clear.
 * @return 1, or 0 when refused.
 * @par Refusals
 * 0 when layer or its root is null. An invisible layer is not a refusal.
 * @par Host procedures called
 * First LayerOverrides::clearLayer (layer) of the root's table, when there is
 * one: non-zero ends the call at once (no pixels, no access, no
 * notification). Otherwise the root's access procedures.
 * @par Notifications
 * Update for layer after writing.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL ClearLayer(Layer *layer);
/**
 * Stores colour, exactly as given (no blending, no premultiplication), in
 * every pixel of the layer's visible part, unless the host's override does it.
 * @param layer The layer to fill.
 * @param colour The 0xAARRGGBB pixel to store.
 * @return 1, or 0 when refused.
 * @par Refusals
 * 0 when layer or its root is null.
 * @par Host procedures called
 * First LayerOverrides::setLayer (layer, colour) of the root's table: non-zero
 * ends the call at once. Otherwise the root's access procedures.
 * @par Notifications
 * Update for layer after writing.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL SetLayer(Layer *layer, uint32_t colour);
/**
 * Replaces the alpha of every pixel of the layer's visible part; the colours
 * stay. Only the low 8 bits of alpha count: 0x1FF gives 255, 256 gives 0.
 * @param layer The layer.
 * @param alpha The new alpha in its low byte.
 * @return Always 1.
 * @par Refusals
 * None reported: a null or invisible layer changes nothing.
 * @par Host procedures called
 * The root's access procedures; no override.
 * @par Notifications
 * Update for layer after writing.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL SetAlphaLayer(Layer *layer, int32_t alpha);
/**
 * Copies source into destination where their visible parts overlap (top-left
 * corners together), pixel for pixel, alpha included: the destination's
 * pixels are replaced, not blended. Layers of one buffer are copied in
 * ascending address order.
 * @param destination The layer written.
 * @param source The layer read.
 * @return 1, or 0 when refused; 1 also when nothing overlaps.
 * @par Refusals
 * 0 when either layer or either root is null (the destination is checked,
 * and its override tried, before the source is looked at).
 * @par Host procedures called
 * LayerOverrides::copyLayer (destination, source) of the destination's root,
 * then of the source's root: non-zero ends the call at once. Otherwise the
 * roots' access procedures.
 * @par Notifications
 * Refresh for source before reading; update for destination after writing
 * (none when nothing overlaps).
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL CopyLayer(Layer *destination, Layer *source);
/**
 * Copies source into destination where they overlap, scaling each alpha by
 * an opacity: every destination pixel gets the source colour and the alpha
 * floor(opacity x alpha / 255). Opacity 255 copies exactly; opacity 0 copies
 * the colours with alpha 0.
 * @param destination The layer written.
 * @param source The layer read.
 * @param opacity The opacity in its low byte (0x180 counts as 0x80).
 * @return Always 1.
 * @par Refusals
 * None reported: a null layer, a failed access or no overlap change nothing.
 * @par Host procedures called
 * The roots' access procedures; no override.
 * @par Notifications
 * Refresh for source before reading; update for destination after writing.
 * @par Ownership
 * None.
 */
ZL_API int32_t ZL_CALL CopyWithOpacityLayer(Layer *destination, Layer *source, int32_t opacity);

/* ---- Row compositing, multi-layer compositing, flips and alpha clipping ---- */

/** One layer of a CompositMany stack.
 *  layer:   the layer to stack; a null layer skips the entry.
 *  opacity: 0 skips the entry, 255 uses the layer's own alpha, any other
 *           value scales the layer's alpha to floor(opacity * alpha / 255). */
typedef struct CompositEntry {
    Layer *layer;     /**< The layer to stack; null skips the entry. */
    uint8_t opacity;  /**< 0 skips the entry, 255 keeps the layer's alpha, others scale it. */
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
 *  @param top the row in front; receives the result.
 *  @param bottom the row behind; only read.
 *  @param count number of pixels.
 *  @return the last pixel written, top[count - 1]; 0 when count is 0 or
 *          negative, which writes nothing. Pointers are not checked.
 *  Calls no host procedure and sends no notification. */
ZL_API uint32_t ZL_CALL CompositOnTop(uint32_t *top, const uint32_t *bottom, int32_t count);

/** As CompositOnTop, but writes the bottom row: bottom[i] = CompositPel(top[i], bottom[i]).
 *  The top row is only read.
 *  @param top the row in front; only read.
 *  @param bottom the row behind; receives the result.
 *  @param count number of pixels.
 *  @return bottom[count - 1]; 0 and nothing written
 *  when count is 0 or negative. No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositOnBottom(const uint32_t *top, uint32_t *bottom, int32_t count);

/** As CompositOnTop with the top pixel faded first: its colour is kept and its
 *  alpha becomes floor(o * alpha / 255), o the low 8 bits of opacity.
 *  @param top the row in front; receives the result.
 *  @param bottom the row behind; only read.
 *  @param count number of pixels.
 *  @param opacity fade of the top row; only its low 8 bits count.
 *  @return top[count - 1]; 0 and nothing written when count is 0 or negative.
 *  No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositOnTopEx(uint32_t *top, const uint32_t *bottom, int32_t count,
                                        uint32_t opacity);

/** Composites a row over one colour in place: row[i] = CompositPel(row[i], colour).
 *  @param row the pixels in front; receive the result.
 *  @param colour the ARGB pixel behind every pixel of the row.
 *  @param count number of pixels.
 *  @return row[count - 1]; 0 and nothing written when count is 0 or negative.
 *  No host procedure, no notification. */
ZL_API uint32_t ZL_CALL CompositAgainstColour(uint32_t *row, uint32_t colour, int32_t count);

/** Slides two layers beneath the output's present content: where only the
 *  first covers, output = CompositPel(output, first); where only the second,
 *  CompositPel(output, second); where both, CompositPel(CompositPel(output,
 *  first), second). Each layer is aligned at the output's top-left corner and
 *  used over its overlap with the output; output pixels neither covers are
 *  not touched. A layer that does not overlap the output is left out.
 *  @param output the layer written; its present content stays in front.
 *  @param first the layer directly beneath the output.
 *  @param second the layer beneath the first.
 *  @return 1 always (also for a null output or a failed access).
 *  Notifications: refresh of the first, then the second layer; update of the
 *  output. Host procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL TwoLayerComposit(Layer *output, Layer *first, Layer *second);

/** Overwrites the output's region with CompositPel(CompositPel(top, faded
 *  middle), bottom), the middle layer's alpha scaled by the low 8 bits of
 *  opacity. The output's previous content is not read. Each layer is laid
 *  on the output at the two layers' own top-left corners, as BeginLayerAccess
 *  lays them, and used where its visible part overlaps the output's: a top
 *  clipped to the window (40, 30, 90, 80) of its root puts its root pixel
 *  (40, 30) on the output's pixel (0, 0), and where an ancestor cuts off the
 *  output's first 10 columns, the top's first 10 columns are not used.
 *  @param output the layer written.
 *  @param bottom the layer at the back.
 *  @param middle the layer between, faded by opacity.
 *  @param top the layer in front.
 *  @param opacity fade of the middle layer; only its low 8 bits count.
 *  @return 1, also when an access fails or the three overlaps with the output
 *          differ in width or height (nothing written then); 0 when a layer
 *          does not overlap the output (nothing written).
 *  Sends no notifications. Host procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL ThreeLayerComposit(Layer *output, Layer *bottom, Layer *middle, Layer *top,
                                          int32_t opacity);

/** Composites the second layer, faded by the low 8 bits of opacity, beneath
 *  the first: first = CompositPel(first, faded second) over their overlap,
 *  the two aligned at their top-left corners.
 *  @param first the layer in front; receives the result.
 *  @param second the layer behind, faded by opacity; only read.
 *  @param opacity fade of the second layer; only its low 8 bits count.
 *  @return 1 always; nothing changes for a null layer, a failed access or no
 *          overlap. Notifications: refresh of the second, then the first
 *          layer; update of the first when it was written. Host procedures:
 *          the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositOnTopLayerEx(Layer *first, Layer *second, int32_t opacity);

/** Composites the first layer, faded by the low 8 bits of opacity, over the
 *  second: second = CompositPel(faded first, second) over their overlap,
 *  every pixel stored.
 *  @param first the layer in front, faded by opacity; only read.
 *  @param second the layer behind; receives the result.
 *  @param opacity fade of the first layer; only its low 8 bits count.
 *  @return 1 always; nothing changes for a null layer, a
 *  failed access or no overlap. Notifications: refresh of the second, then
 *  the first layer; update of the second when it was written. Host
 *  procedures: the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositOnBottomLayerEx(Layer *first, Layer *second, int32_t opacity);

/** Builds the output from a stack of layers, list[0] at the bottom. Entries
 *  with a null layer or opacity 0 are skipped. The first usable layer is
 *  copied into the output (CopyLayer, or CopyWithOpacityLayer below opacity
 *  255); each later one is composited over the output with its alpha scaled
 *  by its opacity. Every layer is aligned by the top-left corner of its
 *  visible part on that of the output's, and contributes only where it has
 *  pixels: a layer clipped to the window (40, 30, 90, 80) of its root puts
 *  its root pixel (40, 30) on the output's first visible pixel and covers at
 *  most 50 x 50 output pixels from there. A layer whose access fails is left out.
 *  With no usable entry, or a negative count, the output is cleared (ClearLayer).
 *  @param output the layer that receives the stack.
 *  @param list the entries, list[0] at the bottom.
 *  @param count number of entries.
 *  @return 0 for a null output, a null list or a count of 0 (nothing changes),
 *          and when working memory cannot be allocated (the base layer is
 *          then already placed); 1 otherwise.
 *  Notifications and host overrides: only those of ClearLayer, CopyLayer and
 *  CopyWithOpacityLayer; the stacking itself sends none. Host procedures:
 *  also the roots' access hooks. */
ZL_API int32_t ZL_CALL CompositMany(Layer *output, const CompositEntry *list, int32_t count);

/** Mirrors each row of the layer's visible part left to right in place.
 *  @param layer the layer mirrored in place.
 *  @return 1 always; a null or invisible layer is left alone. Notifications:
 *  refresh of the layer; update when pixels moved (not for a region one pixel
 *  wide). Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL FlipHorzLayer(Layer *layer);

/** Mirrors the order of the rows of the layer's visible part in place.
 *  @param layer the layer mirrored in place.
 *  @return 1 always; a null or invisible layer is left alone. Notifications:
 *  refresh of the layer; update when rows moved (not for a region one row
 *  high). Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL FlipVertLayer(Layer *layer);

/** Sets a clipped layer's window to the bounding box of its visible pixels
 *  whose alpha is not 0 (ClipLayerXYWH). Roots, all-transparent layers and
 *  failed accesses are left unchanged.
 *  @param layer the clipped layer whose window shrinks.
 *  @return 1 always. Sends no
 *  notifications. Host procedures: the root's access hooks. */
ZL_API int32_t ZL_CALL ClipToAlphaLayer(Layer *layer);

/** Makes a new clipped child of layer, applies ClipToAlphaLayer to it and
 *  writes its window, in layer's coordinates, to those of x, y, w, h that are
 *  not null. A layer without visible non-transparent pixels yields the
 *  child's whole window (0, 0, width, height). Sends no notifications; host
 *  procedures: the root's access hooks.
 *  @param layer the layer searched; it is not changed.
 *  @param x receives the window's left edge, or null.
 *  @param y receives the window's top edge, or null.
 *  @param w receives the window's width, or null.
 *  @param h receives the window's height, or null.
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
 * @return 1 when the source was drawn; 0 when source is null, x or y is
 *         null, the quad is invalid, every pass plan would fold, the
 *         destination is null, the intermediate layer cannot be made
 *         (memory runs out, or the source has nothing visible: then no update
 *         is sent), or the destination root's endAccess procedure returned 0.
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

/* ---- Scanline scaler and resize ---------------------------------------- */

/** The footprint of one destination pixel on one axis of a scaler.
 * Source pixel s (the sum of the advances of the entries before it) is the
 * leading pixel, weighted `leadWeight`; then `wholeCount` whole pixels follow,
 * each weighted by the axis's whole weight; then, when `wholeCount` is not -1
 * and `trailWeight` > 0, one trailing pixel weighted `trailWeight`.
 * `wholeCount` -1 means that the leading pixel is the whole footprint. */
typedef struct ScaleAxisEntry {
    int32_t wholeCount;  /**< whole pixels after the leading one; -1: the leading pixel is all */
    int32_t advance;     /**< source pixels to step before the next entry's leading pixel */
    double leadWeight;   /**< weight of the leading pixel */
    double trailWeight;  /**< weight of the trailing pixel */
} ScaleAxisEntry;

/** One axis table: an array of destination size + 1 entries. Element 0 is a
 * header whose `leadWeight` holds the axis's whole weight (destination size
 * over source size on a reduction, 0 on an enlargement); element i + 1 is the
 * entry of destination pixel i. */
typedef ScaleAxisEntry ScaleAxis;

/** Sizes and axis tables of a scaler; owned by its scaler. */
typedef struct ScaleGeometry {
    int32_t srcWidth;  /**< source width in pixels */
    int32_t srcHeight; /**< source height in lines */
    int32_t dstWidth;  /**< destination width in pixels */
    int32_t dstHeight; /**< destination height in lines */
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
    int32_t dstHeight;     /**< destination height in lines */
    ScaleGeometry *geometry; /**< sizes and axis tables, owned by the scaler */
    uint32_t **lineBuffers;        /**< `lineCount` held source lines */
    const uint32_t **rowPointers;  /**< `lineCount` + 1 scratch row addresses */
    int32_t lineCount;     /**< largest vertical whole count (at least 0) + 2 */
    uint32_t lineBytes;    /**< srcWidth * 4 */
    int32_t bufferedLines; /**< source lines held for the current destination line */
    int32_t firstColumn;   /**< first destination column produced */
    int32_t dstWidth;      /**< destination width in pixels */
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
 *
 * @param srcWidth source width in pixels.
 * @param srcHeight source height in lines.
 * @param dstWidth destination width in pixels.
 * @param dstHeight destination height in lines.
 * @return the new scaler, owned by the caller until EndScaleScanline; null
 *   when a size is 0 or negative, when srcWidth * 4, the byte size of an
 *   axis table or the bytes of all line buffers (lineCount * srcWidth * 4,
 *   lineCount being srcHeight / dstHeight rounded up, plus 1, on a reduction,
 *   and 2 otherwise) do not fit in 32 bits, or when memory runs out (then
 *   nothing stays allocated). No notifications, no host procedures. The
 *   tables are computed in round-to-nearest whatever the caller's
 *   floating-point environment, which is unchanged on return. */
ZL_API ScanlineScaler *ZL_CALL BeginScaleScanline(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                                                  int32_t dstHeight);

/** Releases a scaler and everything it holds; the pointer must not be used
 * again.
 * @param scaler the scaler to release, or null.
 * @return 1, or 0 for a null scaler. No notifications, no host
 * procedures. */
ZL_API int32_t ZL_CALL EndScaleScanline(ScanlineScaler *scaler);

/** Starts a new pass that produces destination lines firstLine .. dstHeight - 1,
 * columns firstColumn .. firstColumn + columnCount - 1 (written from dstRow[0]);
 * held lines are dropped. The caller then feeds source lines from the line
 * that ConvertRectangleScaleScanline gives for firstLine on, each starting at
 * the source column that it gives for firstColumn.
 *
 * @param scaler the scaler.
 * @param firstColumn first destination column of the pass.
 * @param firstLine first destination line of the pass.
 * @param columnCount destination columns per line.
 * @return 1; 0 (scaler unchanged) when the scaler is null, firstColumn or
 *   firstLine is negative, firstColumn > dstWidth, firstColumn + columnCount
 *   > dstWidth or firstLine > dstHeight. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL OffsetScaleScanline(ScanlineScaler *scaler, int32_t firstColumn, int32_t firstLine,
                                           int32_t columnCount);

/** Rewrites a rectangle of destination pixels, in place, as the source
 * rectangle that the scaler starts reading it from: left and top become the
 * first source column and line, right and bottom one past the last source
 * column and line reached (not clipped to the source size).
 *
 * @param scaler the scaler whose tables are read.
 * @param rect in: destination rectangle; out: source rectangle.
 * @return 1; 0 (nothing written) when the scaler or rect is null. Reads only
 *   the tables. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL ConvertRectangleScaleScanline(ScanlineScaler *scaler, LayerRect *rect);

/** For in-place feeding: the scaler's line buffer (lineBytes bytes, owned by
 * the scaler) into which the caller writes the next source line.
 *
 * @param scaler the scaler.
 * @return the buffer; null when the scaler is null or not valid. */
ZL_API uint32_t *ZL_CALL GetBufferScaleScanline(ScanlineScaler *scaler);

/** Takes one source line, or produces one destination line, or both.
 * @param dstRow where a produced line's columnCount pixels go; never null.
 * @param scaler the scaler, made by BeginScaleScanline.
 * @param srcRow copy mode: a source line of lineBytes readable bytes, copied
 *   when the scaler keeps it; in-place mode: null, the line having been
 *   written into GetBufferScaleScanline's buffer.
 * After the call `outputReady` 1 means dstRow received a line and `needInput`
 * 1 means the next source line is due (otherwise the same line is passed
 * again). Pixels are alpha-weighted averages rounded to nearest, ties to even;
 * a pixel whose alpha rounds to 0 is 0x00000000. They do not depend on the
 * caller's floating-point environment (rounding mode, x87 precision,
 * flush-to-zero, exception masks), which is unchanged on return, flags
 * included.
 * @return 1 when a line was taken or produced; 0 when the scaler or dstRow
 *   is null, the scaler is not valid, or every line of the pass is done.
 *   Allocates nothing. No notifications, no host procedures. */
ZL_API int32_t ZL_CALL ScaleScanline(uint32_t *dstRow, const uint32_t *srcRow, ScanlineScaler *scaler);

/** Scales the source layer's `bounds` rectangle of its root buffer into the
 * destination layer's `bounds` rectangle of its root buffer, through the
 * sibling library's ExportedQV_CopyScaleConvert (Quoravel), which it calls
 * once with both pixel addresses, strides, "argb" formats and rectangles.
 * The addresses and strides are the roots' `pixels` and `rowBytes` as they
 * stand at the call (a clipped layer's own copies date from its creation).
 * Opens no access and delivers no notifications; calls no host procedure.
 *
 * @param destination the layer whose bounds rectangle receives the pixels.
 * @param source the layer whose bounds rectangle is read.
 * @return the sibling library's result: 1 when it scaled, 0 when it refused
 *   (an empty rectangle, a root without pixels) and wrote nothing; 0 without
 *   calling it when a layer is null, has no root, or has a bounds rectangle
 *   outside its root's buffer. */
ZL_API int32_t ZL_CALL ResizeLayer(Layer *destination, Layer *source);

/** Scales the visible part of the source layer onto the visible part of the
 * destination layer with a scanline scaler (the two parts are not laid on
 * each other: each fills its own region). When both layers share a root the
 * sibling library scales the source's visible part into a temporary layer,
 * which CopyLayer then copies over the destination's visible part (CopyLayer
 * sends its notifications and may call the root's copy override); otherwise
 * no notifications are sent. The roots' beginAccess and endAccess procedures
 * run as the access brackets open and close, in the caller's floating-point
 * environment; the scaling runs in round-to-nearest with exceptions masked,
 * and the caller's environment is unchanged on return.
 *
 * @param destination the layer whose visible part receives the pixels.
 * @param source the layer whose visible part is read.
 * @return 1 when the pixels were scaled; 0 when an access cannot be opened
 *   (null layers included, or a source with nothing visible), the sibling
 *   library refuses, or the scaler or temporary layer cannot be made; the
 *   destination is then unchanged. */
ZL_API int32_t ZL_CALL ResizeLayerCorrect(Layer *destination, Layer *source);

#ifdef __cplusplus
}
#endif

#endif /* ZANTREL_LAYER_H */
