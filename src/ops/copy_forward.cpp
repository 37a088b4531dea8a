#include <cstring>

#include "ops/ops.h"

namespace zl {

void CopyPixelsForward(uint32_t *destination, const uint32_t *source, size_t count) {
    uintptr_t d = reinterpret_cast<uintptr_t>(destination);
    uintptr_t s = reinterpret_cast<uintptr_t>(source);
    if (d == s || count == 0) return;
    // A destination below the source, or apart from it, gives the same result
    // with memmove as with an element-by-element ascending copy.
    if (d < s || d - s >= count * sizeof(uint32_t)) {
        std::memmove(destination, source, count * sizeof(uint32_t));
        return;
    }
    for (size_t i = 0; i < count; ++i) destination[i] = source[i];
}

}  // namespace zl
