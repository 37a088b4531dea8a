// Whole-layer compositing internals.
#pragma once

#include <cstdint>

#include "blend/blend.h"

namespace zl {

// One row: out[x] = TableComposite(top[x], bottom[x]); out may be top or
// bottom itself (the row compositing and stacking operations rely on both).
inline void CompositeRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width) {
    for (int32_t x = 0; x < width; ++x) out[x] = TableComposite(top[x], bottom[x]);
}

}  // namespace zl
