// Runs of the table over-blend: the loops that every compositing operation
// shares. They come in sets: the plain table loops, packed SSE2 lanes on x86,
// packed AVX2 lanes where the processor has them, and AVX-512 lanes where
// it has those; the module picks the
// widest set the processor runs once, at load. The pixels are the same bits
// in every set.
#pragma once

#include <cstdint>

namespace zl {

// One implementation of the four runs declared below.
struct CompositeRunSet {
    const char *name;
    void (*composite)(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);
    void (*faded)(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count, uint32_t opacity);
    void (*fadedBottom)(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                        uint32_t opacity);
    void (*fade)(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity);
    // composite storing whole 64-byte lines past the caches.
    void (*compositeStreamed)(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);
    bool (*allOpaque)(const uint32_t *pixels, int32_t count);
    void (*overOpaque)(const uint32_t *top, uint32_t *out, int32_t count, uint32_t opacity);
    void (*againstColour)(uint32_t *row, uint32_t colour, int32_t count);
};

// A run of at least this many bytes written in one call apart from its
// inputs is stored past the caches: a plain store would first read every
// line of the output in, only to overwrite it. Only one long call gains:
// rows and stretches of a layer (measured) lose more at their ends than the
// streamed middle saves.
constexpr int32_t kStreamedRunPixels = (2 << 20) / 4;

// The packed sets, defined where the target has the instructions (the SSE2
// set is the x86 baseline; the AVX2 set may only run where the processor
// reports AVX2 and the system saves its registers).
extern const CompositeRunSet kPlainRuns;
#if defined(__SSE2__)
extern const CompositeRunSet kPackedSse2Runs;
#if defined(__GNUC__) || defined(__clang__)
#define ZL_HAS_AVX2_RUNS 1
extern const CompositeRunSet kPackedAvx2Runs;
#define ZL_HAS_AVX512_RUNS 1
extern const CompositeRunSet kPackedAvx512Runs;
#endif
#endif

// Makes the *Fast runs use the widest set that the processor runs, given
// what it has. Called once at load, before any run.
void SelectCompositeRuns(bool processorHasAvx2, bool processorHasAvx512Bw);

// The set the *Fast runs use.
const CompositeRunSet &SelectedCompositeRuns();

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

// CompositeRunFast for a long run apart from the inputs (see
// kStreamedRunPixels); the same pixels.
void CompositeRunStreamed(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);

// out[i] = TableComposite(FadeAlpha(top[i], opacity), out[i]) for an out
// whose pixels all have alpha 255 (which they keep), with the plain order's
// results also when out overlaps top. Faster than the general run: no
// division, and clear pixels of the top leave out unread.
void CompositeOverOpaqueFast(const uint32_t *top, uint32_t *out, int32_t count, uint32_t opacity);

// row[i] = TableComposite(row[i], colour): the row over one colour.
void CompositeAgainstColourFast(uint32_t *row, uint32_t colour, int32_t count);

// True when every pixel of pixels[0, count) has alpha 255 (also when count
// is 0 or less). Stops within a block of the first that does not.
bool AllOpaqueFast(const uint32_t *pixels, int32_t count);

// Under an opaque top the inputs beneath are not needed. But a pass that
// stops reading an input partway (a picture in picture's inset) loses the
// processor's prefetch of it, and when the top turns translucent again the
// next pixels each wait for memory: two layers went beneath a frame with an
// opaque 640 x 360 inset in 1.6 times the time they took beneath a clear
// frame, though less was read (measured). So a pass that has blended reads
// on beneath an opaque stretch for up to this many pixels of it.
constexpr int32_t kReadOnPixels = 2048;

// Reads a 64-byte line's worth of pixels[0, count) at a time, to no other
// end (see kReadOnPixels).
void ReadPixelsThrough(const uint32_t *pixels, int32_t count);

// The plain one-pixel-at-a-time loops, the reference for the fast ones.
void CompositeRunPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count);
void CompositeRunFadedPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                            uint32_t opacity);
void CompositeRunFadedBottomPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                  uint32_t opacity);
void FadeRunPlain(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity);
bool AllOpaquePlain(const uint32_t *pixels, int32_t count);
void CompositeOverOpaquePlain(const uint32_t *top, uint32_t *out, int32_t count, uint32_t opacity);
void CompositeAgainstColourPlain(uint32_t *row, uint32_t colour, int32_t count);

// True when in lies less than `pixels` pixels from out, either way (equal
// included). Operations that take several passes over `pixels` pixels of out
// at a time use it to keep the one-pixel-at-a-time order: beyond that
// distance no pass reads what another pass of the same stretch wrote.
bool ReadsNearWrites(const uint32_t *out, const uint32_t *in, int32_t pixels);

}  // namespace zl
