// Two layers slid beneath an output, and three layers stacked into one.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "composite/composite.h"
#include "composite/coverage_runs.h"
#include "layer/layer.h"

namespace zl {

namespace {

struct RowCursor {
    uint32_t *output;
    const uint32_t *first;
    const uint32_t *second;
};

// Beneath an opaque stretch of n pixels the layers a and b are not needed,
// but while readOn (counted in pixels, from kReadOnPixels after a blend)
// lasts they are read all the same, keeping the processor's prefetch of
// them going for the blend that follows (see kReadOnPixels).
void ReadOnBeneath(const uint32_t *a, const uint32_t *b, int32_t n, int32_t &readOn) {
    if (readOn <= 0) return;
    ReadPixelsThrough(a, n);
    ReadPixelsThrough(b, n);
    readOn -= n;
}

// out[x] = TableComposite(TableComposite(out[x], first[x]), second[x]), in
// stretches: both layers go beneath one stretch before the next. An input
// closer to the output than a stretch could see the first pass's writes where
// the one-pixel-at-a-time order sees the output as it was (or the reverse);
// then each pixel is taken whole, one at a time.
void CompositeBeneathBoth(uint32_t *out, const uint32_t *first, const uint32_t *second, int32_t n, int32_t &readOn) {
    if (ReadsNearWrites(out, first, kStretchPixels) || ReadsNearWrites(out, second, kStretchPixels)) {
        for (int32_t x = 0; x < n; ++x) out[x] = TableComposite(TableComposite(out[x], first[x]), second[x]);
        return;
    }
    for (int32_t x = 0; x < n; x += kStretchPixels) {
        int32_t m = std::min(kStretchPixels, n - x);
        // An opaque output stays as it is beneath anything. The layers are
        // read on beneath a stretch that is opaque, or starts so, where the
        // runs would not read on until they had blended themselves: a frame
        // with an opaque half-row on every row took nearly twice as long
        // without this (measured).
        if ((out[x] >> 24) == 255) ReadOnBeneath(first + x, second + x, m, readOn);
        if (AllOpaqueFast(out + x, m)) continue;
        readOn = kReadOnPixels;
        CompositeRowInto(out + x, out + x, first + x, m);
        CompositeRowInto(out + x, out + x, second + x, m);
    }
}

// Walks one row's horizontal runs; returns the word after their terminator.
// readOn counts the pixels of opaque output whose layers beneath are still
// read, carried from row to row: a row that starts opaque after a row that
// blended is read beneath too.
const uint32_t *CompositeRowRuns(const uint32_t *run, RowCursor at, int32_t &readOn) {
    for (; run[0] != 0; run += 2) {
        int32_t n = static_cast<int32_t>(run[0]);
        switch (run[1]) {
            case CoverFirst:
                CompositeRowInto(at.output, at.output, at.first, n);
                at.first += n;
                break;
            case CoverSecond:
                CompositeRowInto(at.output, at.output, at.second, n);
                at.second += n;
                break;
            case CoverFirst | CoverSecond:
                // The first layer goes beneath the output, the second beneath both.
                CompositeBeneathBoth(at.output, at.first, at.second, n, readOn);
                at.first += n;
                at.second += n;
                break;
            default:
                break;
        }
        at.output += n;
    }
    return run + 1;
}

void WalkCoverageRuns(const CoverageRuns *runs, const LayerAccess &first, const LayerAccess &second) {
    int32_t left = Min32(first.region.left, second.region.left);
    int32_t top = Min32(first.region.top, second.region.top);
    // Stepped back from the first region's own corner: the two regions lie
    // within one visible part, so the step is small, where origin plus the
    // region's corner wraps around in 32 bits and not on 64-bit targets.
    uint32_t *output = PixelAddress(first.pixels, first.rowBytes, WrapSub(left, first.region.left),
                                    WrapSub(top, first.region.top));
    RowCursor row{output, first.pixels2, second.pixels2};
    int32_t readOn = 0;
    const uint32_t *group = runs;
    while (group[0] != 0) {
        uint32_t rows = group[0];
        uint32_t vertical = group[1];
        const uint32_t *rowRuns = group + 2;
        const uint32_t *next = rowRuns;
        for (uint32_t y = 0; y < rows; ++y) {
            next = CompositeRowRuns(rowRuns, row, readOn);
            row.output = NextRow(row.output, first.rowBytes);
            if (vertical & CoverFirst) row.first = NextRow(row.first, first.rowBytes2);
            if (vertical & CoverSecond) row.second = NextRow(row.second, second.rowBytes2);
        }
        group = next;
    }
}

// Pixels of the top-over-faded-middle blend held at once on the stack. Each
// chunk takes two run calls, and in 32-bit code a call costs more (its stack
// frame realigned, its constants kept on the stack): there chunks of 1024
// took up to a fifth less time than chunks of 256 (measured). Natively
// chunks of 256 are faster, by up to a tenth.
constexpr int32_t kStackChunk = sizeof(void *) == 4 ? 1024 : 256;

// out = (top over faded middle) over bottom, a chunk of the row at a time.
// The chunk's top and middle pixels are all read before any of its output is
// written; where either lies closer to the output than a chunk, that could
// read an output pixel before it is written where the one-pixel-at-a-time
// order reads it after, so each pixel is then taken whole, one at a time.
// readOn counts the pixels of opaque top whose layers beneath are still read
// (kReadOnPixels), carried from row to row: a row that starts opaque after a
// row that blended is read beneath too.
void CompositeThreeRows(uint32_t *out, const uint32_t *top, const uint32_t *middle, const uint32_t *bottom,
                        int32_t width, uint32_t opacity, int32_t &readOn) {
    if (ReadsNearWrites(out, top, kStackChunk) || ReadsNearWrites(out, middle, kStackChunk)) {
        for (int32_t x = 0; x < width; ++x)
            out[x] = TableComposite(TableComposite(top[x], FadeAlpha(middle[x], opacity)), bottom[x]);
        return;
    }
    // On a whole cache line: the widest runs read it a line per vector.
    alignas(64) uint32_t upper[kStackChunk];
    for (int32_t x = 0; x < width; x += kStackChunk) {
        int32_t n = std::min(kStackChunk, width - x);
        // An opaque top is the result whatever lies beneath it; the output
        // lies a chunk or more from it. Partway through a row the layers
        // beneath are read on for a while all the same (kReadOnPixels).
        if (AllOpaqueFast(top + x, n)) {
            std::memcpy(out + x, top + x, static_cast<size_t>(n) * sizeof(uint32_t));
            ReadOnBeneath(middle + x, bottom + x, n, readOn);
            continue;
        }
        // A chunk that starts opaque: its runs read on only once they have
        // blended themselves, so the layers beneath are read here (a picture
        // in picture whose inset ended partway through a chunk took half as
        // long again without this, measured).
        if ((top[x] >> 24) == 255) ReadOnBeneath(middle + x, bottom + x, n, readOn);
        readOn = kReadOnPixels;
        CompositeFadedBottomRowInto(upper, top + x, middle + x, n, opacity);
        CompositeRowInto(out + x, upper, bottom + x, n);
    }
}

bool SameSize(const LayerAccess &a, const LayerAccess &b) { return a.width == b.width && a.height == b.height; }

bool SameRect(const LayerRect &a, const LayerRect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL TwoLayerComposit(Layer *output, Layer *first, Layer *second) {
    AccessBracket withFirst(output, first);
    if (!withFirst.Opened()) return 1;
    AccessBracket withSecond(output, second);
    if (!withSecond.Opened()) return 1;
    const LayerAccess &a = withFirst.Access();
    const LayerAccess &b = withSecond.Access();
    // Both regions are walked inside the output's visible part as the first
    // access sees it. The two opens see the same part unless a host hook
    // moved the output in between; then nothing is walked.
    if (!SameRect(a.visible, b.visible)) return 1;
    CoverageRuns *runs = BuildCoverageRuns(&a, &b);
    if (runs == nullptr) return 1;
    NotifyRefresh(a.layer2);
    NotifyRefresh(b.layer2);
    WalkCoverageRuns(runs, a, b);
    std::free(runs);
    NotifyUpdate(a.layer);
    return 1;
}

int32_t ZL_CALL ThreeLayerComposit(Layer *output, Layer *bottom, Layer *middle, Layer *top, int32_t opacity) {
    AccessBracket withTop(output, top);
    if (!withTop.Opened()) return 1;
    AccessBracket withMiddle(output, middle);
    if (!withMiddle.Opened()) return 1;
    AccessBracket withBottom(output, bottom);
    if (!withBottom.Opened()) return 1;
    const LayerAccess &t = withTop.Access();
    const LayerAccess &m = withMiddle.Access();
    const LayerAccess &b = withBottom.Access();
    if (!SameSize(t, m) || !SameSize(t, b)) return 1;
    if (t.pixels2 == nullptr || m.pixels2 == nullptr || b.pixels2 == nullptr) return 0;
    uint32_t o = static_cast<uint32_t>(opacity) & 0xFF;
    const uint32_t *middleRow = m.pixels2;
    const uint32_t *bottomRow = b.pixels2;
    // Pixels of opaque top whose layers beneath are still read, carried from
    // row to row (see CompositeThreeRows).
    int32_t readOn = 0;
    ForEachRow(t, [&](uint32_t *outRow, uint32_t *topRow) {
        CompositeThreeRows(outRow, topRow, middleRow, bottomRow, t.width, o, readOn);
        middleRow = NextRow(middleRow, m.rowBytes2);
        bottomRow = NextRow(bottomRow, b.rowBytes2);
    });
    return 1;
}

}  // extern "C"
