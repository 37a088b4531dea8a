// Runs of the table over-blend: the loops that every compositing operation
// shares. The build picks the arithmetic for its target once (packed SSE2
// lanes where the target has them, the plain table loop elsewhere); the
// pixels are the same bits either way.
#pragma once

#include <cstdint>

namespace zl {

// out[i] = TableComposite(top[i], bottom[i]) for i from 0 to count - 1, with
// the results of the documented order (each pair read before out[i] is
// written, left to right) also when out overlaps an input. Where out equals
// an input, a block of pixels that all keep that input's value is not stored.
void CompositeRunFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);

// The same over a top pixel whose alpha is first scaled by the low byte of
// opacity: the high byte of ProductTable[opacity][alpha].
void CompositeRunFadedFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                           uint32_t opacity);

// The same over a bottom pixel whose alpha is first scaled by the opacity.
void CompositeRunFadedBottomFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                 uint32_t opacity);

// out[i] = in[i] with its alpha scaled by the low byte of opacity, left to
// right, with the plain order's results also when out overlaps in.
void FadeRunFast(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity);

// The plain one-pixel-at-a-time loops, the reference for the fast ones.
void CompositeRunPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);
void CompositeRunFadedPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                            uint32_t opacity);
void CompositeRunFadedBottomPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                  uint32_t opacity);
void FadeRunPlain(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity);

// True when in lies less than `pixels` pixels from out, either way (equal
// included). Operations that take several passes over `pixels` pixels of out
// at a time use it to keep the one-pixel-at-a-time order: beyond that
// distance no pass reads what another pass of the same stretch wrote.
bool ReadsNearWrites(const uint32_t *out, const uint32_t *in, int32_t pixels);

}  // namespace zl
