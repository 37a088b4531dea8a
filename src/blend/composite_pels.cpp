#include "ZantrelLayer.h"
#include "blend/blend.h"
#include "blend/composite_run.h"

namespace {

uint32_t CompositeRun(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    if (count <= 0) return 0;
    if (out != top && out != bottom && count >= zl::kStreamedRunPixels)
        zl::CompositeRunStreamed(top, bottom, out, count);
    else
        zl::CompositeRunFast(top, bottom, out, count);
    return out[count - 1];  // the last store of the run
}

}  // namespace

extern "C" {

uint32_t ZL_CALL CompositPel(uint32_t top, uint32_t bottom) { return zl::TableComposite(top, bottom); }

uint32_t ZL_CALL CompositPels(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    return CompositeRun(top, bottom, out, count);
}

uint32_t ZL_CALL CompositPelsNonMMX(const uint32_t *top, const uint32_t *bottom, uint32_t *out,
                                    int32_t count) {
    return CompositeRun(top, bottom, out, count);
}

uint32_t ZL_CALL CompositPelsMMXOnly(const uint32_t *top, const uint32_t *bottom, uint32_t *out,
                                     int32_t count) {
    if (count <= 0) return 0;
    zl::MmxCompositeRun(top, bottom, out, count);
    return 0;
}

}  // extern "C"
