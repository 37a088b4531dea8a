// A stack of layers with per-layer opacity composited into one output.
#include <cstdlib>
#include <cstring>

#include "composite/composite.h"
#include "layer/layer.h"
#include "module/platform.h"
#include "ops/ops.h"

namespace zl {

namespace {

bool IsUsable(const CompositEntry &entry) { return entry.layer != nullptr && entry.opacity != 0; }

// One layer of the stacking phase: its open access and current row.
struct StackedLayer {
    LayerAccess access;
    bool opened;
    const uint32_t *row;
    uint32_t opacity;
    int32_t rowWidth;  // pixels of the current output row that it covers
};

// The base of the stack replaces the output where the two overlap.
void PlaceBase(Layer *output, const CompositEntry &base) {
    if (base.opacity == 255) {
        CopyLayer(output, base.layer);
    } else {
        CopyWithOpacityLayer(output, base.layer, base.opacity);
    }
}

// The base's pixels for one output row, when its copy is folded into the
// stacking: columns [left, right) of the row come from pixels.
struct BaseRow {
    const uint32_t *pixels;  // null where the base does not reach the row
    int32_t left;
    int32_t right;
    uint32_t opacity;
};

// The base over out[x, x + m), where it covers the row: as its copy, or
// its faded copy, would have left it.
void PlaceBaseOver(uint32_t *out, const BaseRow &base, int32_t x, int32_t m) {
    if (base.pixels == nullptr) return;
    const int32_t from = Max32(x, base.left);
    const int32_t to = Min32(x + m, base.right);
    if (from >= to) return;
    const uint32_t *in = base.pixels + (from - base.left);
    if (base.opacity == 255) {
        std::memcpy(out + from, in, static_cast<size_t>(to - from) * sizeof(uint32_t));
    } else {
        FadeRunFast(in, out + from, to - from, base.opacity);
    }
}

// Opens every usable entry in [begin, end); returns how many were recorded.
int32_t OpenStackedLayers(const CompositEntry *begin, const CompositEntry *end, StackedLayer *stacked) {
    int32_t n = 0;
    for (const CompositEntry *entry = begin; entry != end; ++entry) {
        if (!IsUsable(*entry)) continue;
        StackedLayer &s = stacked[n++];
        s.opened = BeginLayerAccess(&s.access, entry->layer, nullptr) != 0;
        s.row = s.access.pixels;
        s.opacity = entry->opacity;
    }
    return n;
}

void CloseStackedLayers(StackedLayer *stacked, int32_t n) {
    for (int32_t k = n - 1; k >= 0; --k) EndLayerAccess(&stacked[k].access);
}

// One layer over out[0, n): pixel x becomes the layer's pixel, faded by its
// opacity, over what the output holds. An output that is opaque over the
// stretch stays so, which the blend over it can rely on.
void StackLayerOnto(uint32_t *out, const StackedLayer &s, int32_t x, int32_t n, bool outOpaque) {
    if (outOpaque) {
        CompositeOverOpaqueFast(s.row + x, out + x, n, s.opacity);
    } else if (s.opacity == 255) {
        CompositeRowInto(out + x, s.row + x, out + x, n);
    } else {
        CompositeFadedTopRowInto(out + x, s.row + x, out + x, n, s.opacity);
    }
}

// Sets each layer's width over row y: 0 where the layer does not reach it.
void MeasureRow(int32_t y, int32_t width, StackedLayer *stacked, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        StackedLayer &s = stacked[k];
        s.rowWidth = (s.opened && y < s.access.height) ? Min32(width, s.access.width) : 0;
    }
}

// Each pixel through the whole stack before the next: the order to keep when
// a layer's row lies close to the output row.
void StackRowPixelByPixel(uint32_t *outRow, int32_t width, const StackedLayer *stacked, int32_t n) {
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t k = 0; k < n; ++k) {
            const StackedLayer &s = stacked[k];
            if (x >= s.rowWidth) continue;
            uint32_t p = s.row[x];
            if (s.opacity != 255) p = FadeAlpha(p, s.opacity);
            outRow[x] = TableComposite(p, outRow[x]);
        }
    }
}

// The layers of the stack that show over out[x, x + m): from the topmost
// layer at full opacity that is opaque over the whole stretch, which is
// then copied into it (what lies beneath an opaque pixel never shows, so
// neither the output nor the layers beneath it are read), or from the first.
int32_t FirstShowingLayer(uint32_t *out, const StackedLayer *stacked, int32_t n, int32_t x, int32_t m) {
    for (int32_t k = n - 1; k >= 0; --k) {
        const StackedLayer &s = stacked[k];
        if (s.opacity != 255 || s.rowWidth < x + m || !AllOpaqueFast(s.row + x, m)) continue;
        std::memcpy(out + x, s.row + x, static_cast<size_t>(m) * sizeof(uint32_t));
        return k + 1;
    }
    return 0;
}

// The base and the layers [0, hidden) under an opaque layer over
// out[x, x + m) are not needed there, but while readOn (counted in pixels,
// from kReadOnPixels after a stretch that read them all) lasts they are read
// all the same, keeping the processor's prefetch of them going for the
// stretch that blends them next (see kReadOnPixels).
void ReadOnBeneathOpaqueLayer(const StackedLayer *stacked, int32_t hidden, const BaseRow &base, int32_t x,
                              int32_t m, int32_t &readOn) {
    if (readOn <= 0) return;
    for (int32_t k = 0; k < hidden; ++k) {
        const int32_t covered = Min32(m, stacked[k].rowWidth - x);
        if (covered > 0) ReadPixelsThrough(stacked[k].row + x, covered);
    }
    if (base.pixels != nullptr) {
        const int32_t from = Max32(x, base.left);
        const int32_t to = Min32(x + m, base.right);
        if (from < to) ReadPixelsThrough(base.pixels + (from - base.left), to - from);
    }
    readOn -= m;
}

bool AnyRowNear(const uint32_t *outRow, const StackedLayer *stacked, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        if (stacked[k].rowWidth > 0 && ReadsNearWrites(outRow, stacked[k].row, kStretchPixels)) return true;
    }
    return false;
}

// Each layer goes over the output row where it has pixels: a layer smaller
// than the output leaves the rest of the output as it is, as a transparent
// pixel would, and is never read beyond its visible part. The stack is
// applied a stretch of the row at a time, so the output stays in cache,
// from the topmost layer that hides all beneath it over the stretch; a
// layer row closer to the output row than a stretch could read a pixel that
// another layer of the same stretch has already changed, or not yet, where
// the one-pixel-at-a-time order differs, so such rows go pixel by pixel.
// A folded base goes into each stretch first, unless a layer hides it there.
// readOn (see ReadOnBeneathOpaqueLayer) is carried from row to row.
void StackRow(uint32_t *outRow, int32_t y, int32_t width, StackedLayer *stacked, int32_t n, const BaseRow &base,
              int32_t &readOn) {
    MeasureRow(y, width, stacked, n);
    if (AnyRowNear(outRow, stacked, n)) {
        PlaceBaseOver(outRow, base, 0, width);
        StackRowPixelByPixel(outRow, width, stacked, n);
    } else {
        for (int32_t x = 0; x < width; x += kStretchPixels) {
            const int32_t stretch = Min32(kStretchPixels, width - x);
            int32_t k = FirstShowingLayer(outRow, stacked, n, x, stretch);
            if (k == 0) {
                readOn = kReadOnPixels;
                PlaceBaseOver(outRow, base, x, stretch);
            } else {
                ReadOnBeneathOpaqueLayer(stacked, k - 1, base, x, stretch, readOn);
            }
            // A layer copied over the whole stretch left it opaque already.
            const bool outOpaque = k < n && (k > 0 || AllOpaqueFast(outRow + x, stretch));
            for (; k < n; ++k) {
                int32_t m = Min32(kStretchPixels, stacked[k].rowWidth - x);
                if (m > 0) StackLayerOnto(outRow, stacked[k], x, m, outOpaque);
            }
        }
    }
    for (int32_t k = 0; k < n; ++k) {
        if (stacked[k].opened && y < stacked[k].access.height)
            stacked[k].row = NextRow(stacked[k].row, stacked[k].access.rowBytes);
    }
}

void StackRows(const LayerAccess &out, StackedLayer *stacked, int32_t n) {
    int32_t y = 0;
    int32_t readOn = 0;
    const BaseRow none{nullptr, 0, 0, 255};
    ForEachRow(out, [&](uint32_t *outRow, uint32_t *) { StackRow(outRow, y++, out.width, stacked, n, none, readOn); });
}

void StackOnto(Layer *output, StackedLayer *stacked, int32_t n) {
    AccessBracket bracket(output, nullptr);
    if (bracket.Opened()) StackRows(bracket.Access(), stacked, n);
}

// The stacking with the base's copy folded in: copy is the access that the
// copy opens (output and base), out the stacking's own on the output.
void StackRowsOverBase(const LayerAccess &out, const LayerAccess &copy, uint32_t opacity, StackedLayer *stacked,
                       int32_t n) {
    // The copy's region lies inside the output's visible part.
    const int32_t left = WrapSub(copy.region.left, out.region.left);
    const int32_t top = WrapSub(copy.region.top, out.region.top);
    const uint32_t *baseRow = copy.pixels2;
    int32_t y = 0, readOn = 0;
    ForEachRow(out, [&](uint32_t *outRow, uint32_t *) {
        const bool covered = y >= top && y - top < copy.height;
        const BaseRow base{covered ? baseRow : nullptr, left, left + copy.width, opacity};
        StackRow(outRow, y++, out.width, stacked, n, base, readOn);
        if (covered) baseRow = NextRow(baseRow, copy.rowBytes2);
    });
}

// Whether no host procedure can run from the base's copy to the end of the
// stacking, so that nothing can see the output between the two: no access
// hook on any root involved, no copy override, and no change notification
// (receivers are only called inside the notifying calls).
bool RunsNoHostCode(const Layer *layer) {
    const Layer *root = layer->root;
    return root != nullptr && root->beginAccess == nullptr && root->endAccess == nullptr &&
           (root->overrides == nullptr || root->overrides->copyLayer == nullptr);
}

bool StackRunsNoHostCode(const Layer *output, const CompositEntry *base, const CompositEntry *end) {
    if (GetNotifyFlag(NotifyFlag::Refresh) || GetNotifyFlag(NotifyFlag::Update)) return false;
    if (!RunsNoHostCode(output)) return false;
    for (const CompositEntry *entry = base; entry != end; ++entry) {
        if (IsUsable(*entry) && !RunsNoHostCode(entry->layer)) return false;
    }
    return true;
}

// The bytes from the first to the last pixel of an access's rows.
struct ByteSpan {
    uintptr_t begin;
    uintptr_t end;
};

ByteSpan RowsSpan(const uint32_t *pixels, int32_t rowBytes, int32_t width, int32_t height) {
    const int64_t last = static_cast<int64_t>(height - 1) * rowBytes;
    const uintptr_t first = reinterpret_cast<uintptr_t>(pixels);
    const int64_t low = last < 0 ? last : 0;
    const int64_t high = (last > 0 ? last : 0) + static_cast<int64_t>(width) * 4;
    return ByteSpan{first + static_cast<uintptr_t>(low), first + static_cast<uintptr_t>(high)};
}

bool Overlap(ByteSpan a, ByteSpan b) { return a.begin < b.end && b.begin < a.end; }

// Whether the base or a stacked layer shares memory with the output: then
// the stacked layers must see the base's copy whole, as it comes first.
bool ReadsShareOutput(const LayerAccess &out, const LayerAccess &copy, const StackedLayer *stacked, int32_t n) {
    const ByteSpan written = RowsSpan(out.pixels, out.rowBytes, out.width, out.height);
    if (Overlap(written, RowsSpan(copy.pixels2, copy.rowBytes2, copy.width, copy.height))) return true;
    for (int32_t k = 0; k < n; ++k) {
        const LayerAccess &a = stacked[k].access;
        if (stacked[k].opened && Overlap(written, RowsSpan(a.pixels, a.rowBytes, a.width, a.height))) return true;
    }
    return false;
}

// The base's copy and the stacking, when nothing can tell them apart from
// the copy made whole first: each stretch of the output gets the base's
// pixels while it is in cache, and none where an opaque layer hides them.
void PlaceBaseAndStack(Layer *output, const CompositEntry &base, StackedLayer *stacked, int32_t n) {
    AccessBracket copyBracket(output, base.layer);
    AccessBracket outBracket(output, nullptr);
    const LayerAccess &copy = copyBracket.Access();
    const LayerAccess &out = outBracket.Access();
    const bool hasBase = copyBracket.Opened() && copy.pixels2 != nullptr;
    if (hasBase && outBracket.Opened() && n > 0 && !ReadsShareOutput(out, copy, stacked, n)) {
        StackRowsOverBase(out, copy, base.opacity, stacked, n);
        return;
    }
    if (hasBase) {
        if (base.opacity == 255) {
            CopyAccessRegion(copy);
        } else {
            FadeAccessRegion(copy, base.opacity);
        }
    }
    if (outBracket.Opened() && n > 0) StackRows(out, stacked, n);
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL CompositMany(Layer *output, const CompositEntry *list, int32_t count) {
    if (output == nullptr || list == nullptr || count == 0) return 0;
    const CompositEntry *end = list + (count > 0 ? count : 0);
    const CompositEntry *base = list;
    while (base != end && !IsUsable(*base)) ++base;
    if (base == end) {
        ClearLayer(output);
        return 1;
    }
    size_t remaining = static_cast<size_t>(end - (base + 1));
    const bool fold = remaining > 0 && StackRunsNoHostCode(output, base, end);
    if (!fold) PlaceBase(output, *base);
    if (remaining == 0) return 1;
    auto *stacked = static_cast<StackedLayer *>(std::calloc(remaining, sizeof(StackedLayer)));
    if (stacked == nullptr) {
        if (fold) PlaceBase(output, *base);
        return 0;
    }
    int32_t n = OpenStackedLayers(base + 1, end, stacked);
    if (fold) {
        PlaceBaseAndStack(output, *base, stacked, n);
    } else if (n > 0) {
        StackOnto(output, stacked, n);
    }
    CloseStackedLayers(stacked, n);
    std::free(stacked);
    return 1;
}

}  // extern "C"
