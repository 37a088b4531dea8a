#include "blend/blend.h"

namespace zl {

namespace {

uint32_t Lane(uint64_t word, int lane) { return static_cast<uint32_t>(word >> (16 * lane)) & 0xFFFF; }

}  // namespace

uint32_t MmxCompositeScalar(uint32_t top, uint32_t bottom) {
    uint32_t topA = top >> 24;
    uint32_t bottomA = bottom >> 24;
    uint32_t shared = (topA * bottomA + 255) >> 8;
    uint32_t under = bottomA - shared;
    uint32_t n = topA + under;
    uint64_t reciprocal = ReciprocalTable[n];
    uint32_t maskedTop = top | 0xFF000000u;
    uint32_t maskedBottom = bottom | 0xFF000000u;
    uint32_t result = 0;
    for (int lane = 0; lane < 4; ++lane) {
        uint32_t t = (maskedTop >> (8 * lane)) & 0xFF;
        uint32_t b = (maskedBottom >> (8 * lane)) & 0xFF;
        uint32_t half = (t * topA + b * under) >> 1;
        uint32_t v = (half * Lane(reciprocal, lane)) >> 16;
        if (v > 255) v = 255;
        result |= v << (8 * lane);
    }
    return result;
}

}  // namespace zl
