#include "blend/blend.h"
#include "blend/composite_run.h"

namespace zl {

void CompositeFadedTopRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width,
                              uint32_t opacity) {
    CompositeRunFadedFast(top, bottom, out, width, opacity);
}

void CompositeFadedBottomRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width,
                                 uint32_t opacity) {
    CompositeRunFadedBottomFast(top, bottom, out, width, opacity);
}

}  // namespace zl
