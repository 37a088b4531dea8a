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

// The copy and the faded copy of an open access's second layer into its
// first, over the region they share.
void CopyAccessRegion(const LayerAccess &access);
void FadeAccessRegion(const LayerAccess &access, uint32_t opacity);

// Offers the work to the host: calls the override procedure `entry` of the
// table on holder's root with args. True when the procedure exists and
// reports that the host has done the work (then the library does nothing,
// and sends no notification).
template <class Proc, class... Args>
bool HostOverrideTookOver(const Layer *holder, Proc LayerOverrides::*entry, Args... args) {
    const LayerOverrides *overrides = holder->root != nullptr ? holder->root->overrides : nullptr;
    if (overrides == nullptr) return false;
    Proc proc = overrides->*entry;
    return proc != nullptr && proc(args...) != 0;
}

}  // namespace zl
