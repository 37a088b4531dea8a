#include <algorithm>
#include <cstring>

#include "layer/layer.h"
#include "ops/ops.h"

namespace zl {

namespace {

// Regions at least this large are filled with the string store, which writes
// whole cache lines without reading each one in first; below it, a plain loop
// has less to start up.
constexpr size_t kStreamBytes = 1u << 20;

bool BytesAllEqual(uint32_t value) { return value == (value & 0xFFu) * 0x01010101u; }

// count pixels of value from p; the string store when `stream` is set.
void FillPixels(uint32_t *p, size_t count, uint32_t value, bool stream) {
#if defined(__i386__) || defined(__x86_64__)
    if (stream) {
        // The processor's string store writes whole lines without reading
        // them first, as memset does; some hosts' memset (the DLL's runtime
        // under wine, measured) takes three times as long.
        __asm__ volatile("rep stosl" : "+D"(p), "+c"(count) : "a"(value) : "memory");
        return;
    }
#else
    (void)stream;
#endif
    if (BytesAllEqual(value)) {
        std::memset(p, static_cast<int>(value & 0xFF), count * sizeof(uint32_t));
        return;
    }
    std::fill_n(p, count, value);
}

bool WorthStreaming(const LayerAccess &access) {
    return static_cast<size_t>(access.width) * static_cast<size_t>(access.height) * sizeof(uint32_t) >= kStreamBytes;
}

bool RowsAreContiguous(const LayerAccess &access) {
    return static_cast<int64_t>(access.width) * 4 == access.rowBytes;
}

void FillRegion(const LayerAccess &access, uint32_t value) {
    bool stream = WorthStreaming(access);
    if (RowsAreContiguous(access)) {
        FillPixels(access.pixels, static_cast<size_t>(access.width) * static_cast<size_t>(access.height), value,
                   stream);
        return;
    }
    ForEachRow(access, [&](uint32_t *row, uint32_t *) { FillPixels(row, access.width, value, stream); });
}

int32_t FillLayer(Layer *layer, uint32_t value) {
    AccessBracket bracket(layer, nullptr);
    if (bracket.Opened()) {
        FillRegion(bracket.Access(), value);
        NotifyUpdate(bracket.Access().layer);
    }
    return 1;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL ClearLayer(Layer *layer) {
    if (layer == nullptr || layer->root == nullptr) return 0;
    if (HostOverrideTookOver(layer, &LayerOverrides::clearLayer, layer)) return 1;
    return FillLayer(layer, 0);
}

int32_t ZL_CALL SetLayer(Layer *layer, uint32_t colour) {
    if (layer == nullptr || layer->root == nullptr) return 0;
    if (HostOverrideTookOver(layer, &LayerOverrides::setLayer, layer, colour)) return 1;
    return FillLayer(layer, colour);
}

int32_t ZL_CALL SetAlphaLayer(Layer *layer, int32_t alpha) {
    AccessBracket bracket(layer, nullptr);
    if (bracket.Opened()) {
        const LayerAccess &access = bracket.Access();
        uint32_t alphaBits = (static_cast<uint32_t>(alpha) & 0xFF) << 24;
        ForEachRow(access, [&](uint32_t *row, uint32_t *) {
            for (int32_t x = 0; x < access.width; ++x) row[x] = (row[x] & 0x00FFFFFFu) | alphaBits;
        });
        NotifyUpdate(access.layer);
    }
    return 1;
}

}  // extern "C"
