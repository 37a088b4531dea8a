#include "blend/blend.h"

namespace zl {

uint16_t ProductTable[65536];
uint8_t UnderAlphaTable[65536];
uint16_t OverWeightTable[65536];
alignas(8) uint64_t ReciprocalTable[256];

namespace {

uint64_t ReciprocalEntry(uint32_t r) {
    return static_cast<uint64_t>(r) | (static_cast<uint64_t>(r) << 16) |
           (static_cast<uint64_t>(r) << 32) | (uint64_t{515} << 48);
}

void BuildReciprocalTable() {
    ReciprocalTable[0] = ReciprocalEntry(0);
    // 131325 / n does not fit a signed 16-bit lane below 5: clamp.
    for (uint32_t n = 1; n <= 4; ++n) ReciprocalTable[n] = ReciprocalEntry(0x7FFF);
    for (uint32_t n = 5; n <= 255; ++n) ReciprocalTable[n] = ReciprocalEntry(131325u / n);
}

void BuildProductTable() {
    for (uint32_t x = 0; x < 256; ++x) {
        uint32_t sum = 0;
        for (uint32_t y = 0; y < 256; ++y) {
            ProductTable[TableIndex(x, y)] = static_cast<uint16_t>((sum + 127) / 255);
            sum += x * 256;
        }
    }
}

void BuildOverWeightTable() {
    for (uint32_t index = 0; index < 65536; ++index) {
        uint32_t topA = index >> 8;
        uint32_t underA = index & 0xFF;
        uint32_t s = topA + underA;
        uint32_t q;
        if (s == 0) {
            OverWeightTable[index] = 0;
            continue;
        }
        if (s >= 256) {
            q = topA;
        } else {
            q = (255 * topA + s / 2) / s;
        }
        OverWeightTable[index] = static_cast<uint16_t>(q * 256 + (255 - q));
    }
}

void BuildUnderAlphaTable() {
    for (uint32_t index = 0; index < 65536; ++index) {
        UnderAlphaTable[index] = static_cast<uint8_t>((255 - (index >> 8)) * (index & 0xFF) / 255);
    }
}

}  // namespace

void BuildBlendTables() {
    BuildReciprocalTable();
    BuildProductTable();
    BuildOverWeightTable();
    BuildUnderAlphaTable();
}

}  // namespace zl
