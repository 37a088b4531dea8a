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
// Where the vertical axis enlarges, the horizontal phase is done once per
// source line and kept (CachedLine), and the other two run as one loop over
// the whole line. Where both axes halve exactly, the sums are integers
// (HalveLine in wide_kernel.h) and only the store is done as above.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZantrelLayer.h"

namespace zl {

struct LineFootprint;

// A source line's taps turned into doubles once, for the several destination
// lines of a vertical enlargement that read it (about four when it doubles):
// per group of 4 columns, per tap, the alpha, blue, green and red of the 4
// columns' pixels (16 doubles). A slot is found again by its columns and the
// source pixels it was made from, compared whole, so a line rewritten in
// place (a ring buffer, a host's reused row) is never taken for another.
struct CachedLine {
    int32_t firstColumn;
    int32_t columnCount;
    int32_t pixelCount;  // source pixels it was made from; 0: empty
    uint32_t lastUse;
    uint32_t *pixels;    // those pixels
    double *values;
};

constexpr int32_t kCachedLines = 2;    // the two lines of an enlarging footprint
constexpr int32_t kCacheMaxTaps = 4;   // longer footprints keep the gathering path
constexpr int32_t kCachedTapDoubles = 16;

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
    // Both axes exactly 2 to 1 (every entry (1, 2, 0.5, 0), whole weight
    // 0.5): lines take the integer route of the `halfLine` kernels.
    bool halves;
    // Kept lines, where the vertical axis enlarges; cacheLines false: none.
    bool cacheLines;
    uint32_t uses;
    CachedLine cached[kCachedLines];
};

constexpr int32_t kWideChunk = 64;   // columns per chunk; a multiple of every lane count
constexpr int32_t kWideMaxTaps = 16;  // longer footprints take the packed path
constexpr int64_t kWideMaxScratch = 1 << 20;  // gathered pixels per chunk at most

// Makes the plan for a horizontal table and a vertical table of lineCount
// lines held at most; null when the footprints are too long or memory runs
// out (the scaler then uses the packed path). Where the vertical axis
// enlarges the plan keeps lines; where both axes halve it takes the integer
// route.
WidePlan *NewWidePlan(const ScaleAxis *horizontal, int32_t srcWidth, int32_t dstWidth, const ScaleAxis *vertical,
                      int32_t srcHeight, int32_t dstHeight, int32_t lineCount);
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

// One destination line of a vertical enlargement from kept lines: the
// leading line's values, and the trailing line's when lines is 2.
struct CachedPass {
    const double *values[2];
    double lineWeights[2];
    int32_t lines;
    bool trailingLine;
    int32_t firstColumn;
};

// The three phases of one chunk, apart, for measuring their shares; on kept
// lines the horizontal phase is keeping a line (once per source line), the
// vertical one reads them.
struct WidePhases {
    void (*horizontal)(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count);
    void (*vertical)(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count);
    void (*store)(uint32_t *dst, const WidePlan &plan, int32_t count);
    // start: the chunk's first column counted from the pass's first column.
    void (*cachedVertical)(const CachedPass &pass, const WidePlan &plan, int32_t start, int32_t count);
};

// The routines of one lane width.
struct WideKernels {
    // A line from the footprint's rows.
    void (*line)(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount);
    // Fills a kept line's values from a row that starts at the source pixel
    // of firstColumn.
    void (*keepLine)(double *values, const uint32_t *row, const WidePlan &plan, int32_t firstColumn,
                     int32_t columnCount);
    // A line from kept lines.
    void (*cachedLine)(uint32_t *dstRow, const CachedPass &pass, const WidePlan &plan, int32_t columnCount);
    // A line of a plan that halves both axes, from its two source rows.
    void (*halfLine)(uint32_t *dstRow, const uint32_t *top, const uint32_t *bottom, int32_t columnCount);
    WidePhases phases;
    const char *name;
};

// Two lanes of SSE2, and four lanes of AVX2 (only where the processor and
// the build have it).
extern const WideKernels kWideSse2;
extern const WideKernels kWideAvx;

// The kernels this build and processor can run: AVX where the build has it
// and the processor and operating system run it; SSE2 on every x86 build.
// Null where not.
const WideKernels *WideKernelsAvx();
const WideKernels *WideKernelsSse2();

// The footprint's lines as the wide producers take them (their weights are
// kept in the plan); firstColumn must be a column of the plan.
WideLine PrepareWideLine(WidePlan &plan, const LineFootprint &line, int32_t firstColumn);

// The kept line for a row of the pass (firstColumn, columnCount), made when
// no slot holds its pixels; never the slot `keep`.
const CachedLine &KeptLine(const WideKernels &kernels, WidePlan &plan, const uint32_t *row, int32_t firstColumn,
                           int32_t columnCount, const CachedLine *keep);

// Makes one line with wide kernels from the footprint the scaler set up.
void ProduceLineWide(const WideKernels &kernels, WidePlan &plan, uint32_t *dstRow, const LineFootprint &line,
                     int32_t firstColumn, int32_t columnCount);

}  // namespace zl
