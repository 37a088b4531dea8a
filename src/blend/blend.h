// Blend tables and the straight-alpha over-blend built on them.
#pragma once

#include <cstdint>

namespace zl {

// [a][b] tables are stored row by row: entry a * 256 + b.
extern uint16_t ProductTable[65536];     // floor((x*y*256 + 127) / 255): x*y/255 in 8.8
extern uint8_t UnderAlphaTable[65536];   // floor((255 - topA) * bottomA / 255)
extern uint16_t OverWeightTable[65536];  // q*256 + (255 - q): top and bottom colour weights
// Four 16-bit lanes per entry, lane 0 least significant: r(n), r(n), r(n), 515.
extern uint64_t ReciprocalTable[256];
extern const double AlphaInverseTable[256];

// MMX constants: forces the alpha lane to 255, and rounds an alpha product.
constexpr uint64_t AlphaLaneMask = 0xFF000000FF000000ull;
constexpr uint64_t RoundWord255 = 0x00FF00FF00FF00FFull;

void BuildBlendTables();

inline uint32_t TableIndex(uint32_t high, uint32_t low) { return (high << 8) | low; }

// floor(a * b / 255) for 8-bit a and b.
inline uint32_t ScaleByAlpha(uint32_t a, uint32_t b) { return ProductTable[TableIndex(a, b)] >> 8; }

inline uint32_t BlendChannel(uint32_t top, uint32_t bottom, int shift, uint32_t q, uint32_t p) {
    uint32_t t = (top >> shift) & 0xFF;
    uint32_t b = (bottom >> shift) & 0xFF;
    return static_cast<uint32_t>(ProductTable[TableIndex(t, q)] + ProductTable[TableIndex(b, p)]) >> 8;
}

// The library's reference over-blend of top on bottom, with its early exits
// tested in this order: transparent bottom, opaque top, transparent top.
inline uint32_t TableComposite(uint32_t top, uint32_t bottom) {
    uint32_t topA = top >> 24;
    uint32_t bottomA = bottom >> 24;
    if (bottomA == 0 || topA == 255) return top;
    if (topA == 0) return bottom;
    uint32_t under = UnderAlphaTable[TableIndex(topA, bottomA)];
    uint32_t weights = OverWeightTable[TableIndex(topA, under)];
    uint32_t q = weights >> 8;
    uint32_t p = weights & 0xFF;
    return ((topA + under) << 24) | (BlendChannel(top, bottom, 16, q, p) << 16) |
           (BlendChannel(top, bottom, 8, q, p) << 8) | BlendChannel(top, bottom, 0, q, p);
}

// The MMX blend computed one lane at a time with plain integers; it gives the
// same bits as the packed form.
uint32_t MmxCompositeScalar(uint32_t top, uint32_t bottom);

// Runs of the MMX blend; the packed form where the platform has it.
void MmxCompositeRun(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);

}  // namespace zl

namespace zl {

// A pixel with its colour kept and its alpha scaled by an 8-bit opacity:
// floor(opacity * alpha / 255).
inline uint32_t FadeAlpha(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFFu) | (ScaleByAlpha(opacity, pixel >> 24) << 24);
}

// Row blends with one side faded by an 8-bit opacity first. Each reads the
// pair at x before it writes out[x], so out may be the top or the bottom row
// itself (not a shifted copy of either).
// out[x] = TableComposite(FadeAlpha(top[x], opacity), bottom[x]).
void CompositeFadedTopRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width,
                              uint32_t opacity);
// out[x] = TableComposite(top[x], FadeAlpha(bottom[x], opacity)).
void CompositeFadedBottomRowInto(uint32_t *out, const uint32_t *top, const uint32_t *bottom, int32_t width,
                                 uint32_t opacity);

}  // namespace zl
