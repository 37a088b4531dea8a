#include "composite/coverage_runs.h"

#include <cstdlib>

#include "layer/layer.h"

namespace zl {

namespace {

class RunWriter {
public:
    RunWriter(uint32_t *out, uint32_t mask) : out_(out), mask_(mask) {}
    void Emit(uint32_t count, uint32_t coverage) {
        *out_++ = count;
        *out_++ = coverage & mask_;
    }
    void Skip(uint32_t count) {
        *out_++ = count;
        *out_++ = 0;
    }
    uint32_t *Finish() {
        *out_++ = 0;
        return out_;
    }

private:
    uint32_t *out_;
    uint32_t mask_;
};

uint32_t *EmitShared(RunWriter &runs, uint32_t s, uint32_t a1, uint32_t b1) {
    if (a1 == b1) {
        runs.Emit(b1 - s, CoverFirst | CoverSecond);
    } else if (a1 > b1) {
        runs.Emit(b1 - s, CoverFirst | CoverSecond);
        runs.Emit(a1 - b1, CoverFirst);
    } else {
        runs.Emit(a1 - s, CoverFirst | CoverSecond);
        runs.Emit(b1 - a1, CoverSecond);
    }
    return runs.Finish();
}

uint32_t CoverageMask(const LayerAccess &first, const LayerAccess &second) {
    return (first.pixels2 != nullptr ? CoverFirst : 0u) | (second.pixels2 != nullptr ? CoverSecond : 0u);
}

// A region's edges relative to a corner. Both regions lie inside the
// output's visible part, so measured from its corner every edge is a
// non-negative int32 and the unsigned comparisons order them as the
// picture does, whatever the layer's own coordinates are.
struct Edges {
    uint32_t left, top, right, bottom;
};

Edges EdgesFrom(const LayerRect &r, int32_t x0, int32_t y0) {
    return Edges{static_cast<uint32_t>(WrapSub(r.left, x0)), static_cast<uint32_t>(WrapSub(r.top, y0)),
                 static_cast<uint32_t>(WrapSub(r.right, x0)), static_cast<uint32_t>(WrapSub(r.bottom, y0))};
}

uint32_t *AppendRowRuns(uint32_t *out, uint32_t vertical, const Edges &a, const Edges &b, uint32_t unionWidth,
                        uint32_t mask) {
    RunWriter runs(out, mask);
    switch (vertical) {
        case 0:
            runs.Skip(unionWidth);
            return runs.Finish();
        case CoverFirst:
            if (a.left > b.left) runs.Skip(a.left - b.left);
            runs.Emit(a.right - a.left, CoverFirst);
            if (b.right > a.right) runs.Skip(b.right - a.right);
            return runs.Finish();
        case CoverSecond:
            if (b.left > a.left) runs.Skip(b.left - a.left);
            runs.Emit(b.right - b.left, CoverSecond);
            if (a.right > b.right) runs.Skip(a.right - b.right);
            return runs.Finish();
        default:
            return MergeSpans(a.left, b.left, a.right, b.right, out, mask);
    }
}

}  // namespace

uint32_t *MergeSpans(uint32_t a0, uint32_t b0, uint32_t a1, uint32_t b1, uint32_t *out, uint32_t mask) {
    RunWriter runs(out, mask);
    uint32_t s = a0;
    if (a0 > b0) {
        if (a0 >= b1) {
            runs.Emit(b1 - b0, CoverSecond);
            if (a0 != b1) runs.Skip(a0 - b1);
            runs.Emit(a1 - a0, CoverFirst);
            return runs.Finish();
        }
        runs.Emit(a0 - b0, CoverSecond);
    } else if (a0 < b0) {
        if (b0 >= a1) {
            runs.Emit(a1 - a0, CoverFirst);
            if (b0 != a1) runs.Skip(b0 - a1);
            runs.Emit(b1 - b0, CoverSecond);
            return runs.Finish();
        }
        runs.Emit(b0 - a0, CoverFirst);
        s = b0;
    }
    return EmitShared(runs, s, a1, b1);
}

CoverageRuns *BuildCoverageRuns(const LayerAccess *first, const LayerAccess *second) {
    if (first == nullptr || second == nullptr) return nullptr;
    uint32_t mask = CoverageMask(*first, *second);
    Edges a = EdgesFrom(first->region, first->visible.left, first->visible.top);
    Edges b = EdgesFrom(second->region, first->visible.left, first->visible.top);
    uint32_t minLeft = a.left < b.left ? a.left : b.left;
    uint32_t maxRight = a.right > b.right ? a.right : b.right;
    uint32_t unionWidth = maxRight - minLeft;

    auto *vertical = static_cast<uint32_t *>(std::calloc(kSpanListWords, sizeof(uint32_t)));
    auto *result = static_cast<uint32_t *>(std::calloc(kCoverageRunsWords, sizeof(uint32_t)));
    if (vertical == nullptr || result == nullptr) {
        std::free(vertical);
        std::free(result);
        return nullptr;
    }
    MergeSpans(a.top, b.top, a.bottom, b.bottom, vertical, mask);
    uint32_t *out = result;
    for (const uint32_t *run = vertical; run[0] != 0; run += 2) {
        *out++ = run[0];
        *out++ = run[1];
        out = AppendRowRuns(out, run[1], a, b, unionWidth, mask);
    }
    *out = 0;
    std::free(vertical);
    return result;
}

}  // namespace zl
