// Helpers shared by the fill and copy operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

// Copies count pixels in ascending address order. Where the destination
// overlaps the source from above, that order repeats the source's leading
// pixels, and this copy keeps that result.
void CopyPixelsForward(uint32_t *destination, const uint32_t *source, size_t count);

// The root's override table, or null.
inline const LayerOverrides *OverridesOf(const Layer *layer) {
    return layer->root != nullptr ? layer->root->overrides : nullptr;
}

}  // namespace zl
