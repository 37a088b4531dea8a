// The wide line producer: several destination pixels side by side, each in
// its own lane, each lane doing exactly the plain tap walk's products and
// sums in the same order (see produce.cpp), so the bits are the plain ones.
//
// Every footprint of an axis is made as long as the longest by repeating
// its last pixel with weight 0: a tap of weight 0 adds +0 to every sum and
// takes 0 from the remainder, which changes no bit, and the repeat keeps the
// last pixel read (the one that takes the remainder) where it was. The
// corner of a footprint (trailing pixel of the trailing line) is such a tap
// too: read, weight 0. So every lane of a line walks the same taps.
//
// A line is made in chunks of columns, in three phases:
//   horizontal: gather each footprint line's tap pixels into one array per
//               tap, so that the lanes read them side by side;
//   vertical:   walk the taps, lines outer and taps inner, and keep the
//               alpha and colour sums;
//   store:      round, divide by the rounded alpha, pack and store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

struct LineFootprint;

// The horizontal axis laid out for the wide producer, made once per scaler.
struct WidePlan {
    int32_t taps;             // taps per footprint after padding
    int32_t stride;           // entries per tap row: dstWidth rounded up, plus one chunk
    int32_t maxLines;         // the most footprint lines the scratch holds
    bool lastTapIsCorner;     // on a trailing line the last tap weighs 0 in every column
    const int32_t *offsets;   // [tap][column]: source pixel of the tap
    const double *weights;    // [tap][column]: column weight on a leading or whole line
    const double *trailWeights;  // [tap][column]: on a trailing line (its trailing pixel weighs 0)
    uint32_t *scratch;        // maxLines * taps * kWideChunk gathered pixels
    double *sums;             // 4 * kWideChunk: alpha, blue, green, red sums of a chunk
    double *lineWeights;      // maxLines: the weights of the current line's footprint lines
    // Gathering by blocks of 8 columns: where a block's pixels of one tap lie
    // within 8 source pixels, windows[tap][block] is the first of those 8
    // (never past srcWidth - 8) and permutes[tap][block][8] picks each
    // column's pixel from them; -1 where they do not.
    const int32_t *windows;
    const int32_t *permutes;
    int32_t blocks;
};

constexpr int32_t kWideChunk = 64;   // columns per chunk; a multiple of every lane count
constexpr int32_t kWideMaxTaps = 16;  // longer footprints take the packed path
constexpr int64_t kWideMaxScratch = 1 << 20;  // gathered pixels per chunk at most

// Makes the plan for a horizontal table and a vertical table of lineCount
// lines held at most; null when the footprints are too long or memory runs
// out (the scaler then uses the packed path).
WidePlan *NewWidePlan(const ScaleAxis *horizontal, int32_t srcWidth, int32_t dstWidth, int32_t lineCount);
void DeleteWidePlan(WidePlan *plan);

// The phases of one line, for each lane width. `lines` and `lineWeights`
// describe the footprint's lines in walking order; the last one is a
// trailing line when trailingLine is set.
struct WideLine {
    const uint32_t *const *rows;
    const double *lineWeights;
    int32_t lines;
    bool trailingLine;
    int32_t firstColumn;  // in the plan's columns
    int32_t base;         // source pixel at which the rows start
};

using WideLineProc = void (*)(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount);

// Two lanes of SSE2.
void ProduceWideLineSse2(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount);
// Four lanes of AVX; only where the processor and the build have it.
void ProduceWideLineAvx(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount);

// The three phases of one chunk, apart, for measuring their shares.
struct WidePhases {
    void (*horizontal)(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count);
    void (*vertical)(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count);
    void (*store)(uint32_t *dst, const WidePlan &plan, int32_t count);
};
WidePhases WidePhasesSse2();
WidePhases WidePhasesAvx();

// The producers this build and processor can run: AVX where the build has
// it and the processor and operating system run it; SSE2 on every x86
// build. Null where not.
WideLineProc WideLineAvx();
WideLineProc WideLineSse2();
WidePhases WidePhasesOf(WideLineProc proc);

// The footprint's lines as the wide producers take them (their weights are
// kept in the plan); firstColumn must be a column of the plan.
WideLine PrepareWideLine(WidePlan &plan, const LineFootprint &line, int32_t firstColumn);

// Makes one line with a wide producer from the footprint the scaler set up.
void ProduceLineWide(WideLineProc proc, WidePlan &plan, uint32_t *dstRow, const LineFootprint &line,
                     int32_t firstColumn, int32_t columnCount);

}  // namespace zl
