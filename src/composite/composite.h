// Whole-layer compositing internals.
#pragma once

#include <cstdint>

#include "blend/blend.h"
#include "blend/composite_run.h"

namespace zl {

// Output pixels that a blend of several passes finishes before it goes on to
// the next stretch, so that the stretch stays in cache between the passes.
constexpr int32_t kStretchPixels = 1024;

// One row: out[x] = TableComposite(top[x], bottom[x]), in the plain order's
// results also when out overlaps top or bottom;
// the row compositing and stacking operations pass out equal to either.
inline void CompositeRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width) {
    CompositeRunFast(top, bottom, out, width);
}

}  // namespace zl
