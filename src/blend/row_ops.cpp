// In-place row compositing for hosts that walk their own rows.

#include "ZantrelLayer.h"
#include "blend/blend.h"
#include "composite/composite.h"

namespace {

// A negative count writes nothing: it is treated like 0, not as a huge run.
bool HasPixels(int32_t count) { return count > 0; }

}  // namespace

using namespace zl;

extern "C" {

uint32_t ZL_CALL CompositOnTop(uint32_t *top, const uint32_t *bottom, int32_t count) {
    if (!HasPixels(count)) return 0;
    CompositeRowInto(top, top, bottom, count);
    return top[count - 1];
}

uint32_t ZL_CALL CompositOnBottom(const uint32_t *top, uint32_t *bottom, int32_t count) {
    if (!HasPixels(count)) return 0;
    CompositeRowInto(bottom, top, bottom, count);
    return bottom[count - 1];
}

uint32_t ZL_CALL CompositOnTopEx(uint32_t *top, const uint32_t *bottom, int32_t count, uint32_t opacity) {
    if (!HasPixels(count)) return 0;
    CompositeFadedTopRowInto(top, top, bottom, count, opacity & 0xFF);
    return top[count - 1];
}

uint32_t ZL_CALL CompositAgainstColour(uint32_t *row, uint32_t colour, int32_t count) {
    if (!HasPixels(count)) return 0;
    CompositeAgainstColourFast(row, colour, count);
    return row[count - 1];
}

}  // extern "C"
