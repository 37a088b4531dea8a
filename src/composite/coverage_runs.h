// Coverage runs: which parts of an output two layers cover, so that
// TwoLayerComposit walks only those parts without testing each pixel.
#pragma once

#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

// Coverage bits of a run: the first layer, the second layer.
enum : uint32_t { CoverFirst = 1, CoverSecond = 2 };

// A 0-terminated list of groups. Each group: row count (> 0) and vertical
// coverage, then (pixel count > 0, coverage) pairs left to right ended by a 0
// word. All groups start at the union's top-left corner and follow one
// another downwards. At most 3 groups of at most 3 runs.
using CoverageRuns = uint32_t;
constexpr int32_t kCoverageRunsWords = 32;
constexpr int32_t kSpanListWords = 8;

// Merges [a0, a1) of the first layer and [b0, b1) of the second into runs
// written at out, coverage ANDed with mask; returns the word after the 0
// terminator. Comparisons are unsigned.
uint32_t *MergeSpans(uint32_t a0, uint32_t b0, uint32_t a1, uint32_t b1, uint32_t *out, uint32_t mask);

// The runs of two open accesses that share their first layer (the output);
// null when either access is null or memory runs out. Freed with free().
CoverageRuns *BuildCoverageRuns(const LayerAccess *first, const LayerAccess *second);

}  // namespace zl
