#include "blend/composite_run.h"

#include <cstddef>

#include "blend/blend.h"

namespace zl {

void CompositeRunPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = TableComposite(top[i], bottom[i]);
}

void CompositeRunFadedPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                            uint32_t opacity) {
    uint32_t o = opacity & 0xFF;
    for (int32_t i = 0; i < count; ++i) out[i] = TableComposite(FadeAlpha(top[i], o), bottom[i]);
}

void CompositeRunFadedBottomPlain(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                  uint32_t opacity) {
    uint32_t o = opacity & 0xFF;
    for (int32_t i = 0; i < count; ++i) out[i] = TableComposite(top[i], FadeAlpha(bottom[i], o));
}

void FadeRunPlain(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity) {
    uint32_t o = opacity & 0xFF;
    for (int32_t i = 0; i < count; ++i) out[i] = FadeAlpha(in[i], o);
}

bool AllOpaquePlain(const uint32_t *pixels, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if ((pixels[i] >> 24) != 255) return false;
    }
    return true;
}

void CompositeOverOpaquePlain(const uint32_t *top, uint32_t *out, int32_t count, uint32_t opacity) {
    CompositeRunFadedPlain(top, out, out, count, opacity);
}

void CompositeAgainstColourPlain(uint32_t *row, uint32_t colour, int32_t count) {
    for (int32_t i = 0; i < count; ++i) row[i] = TableComposite(row[i], colour);
}

bool ReadsNearWrites(const uint32_t *out, const uint32_t *in, int32_t pixels) {
    uintptr_t span = static_cast<uintptr_t>(pixels) * sizeof(uint32_t);
    uintptr_t o = reinterpret_cast<uintptr_t>(out), i = reinterpret_cast<uintptr_t>(in);
    return (o >= i ? o - i : i - o) < span;
}

const CompositeRunSet kPlainRuns = {"plain",           CompositeRunPlain, CompositeRunFadedPlain,
                                    CompositeRunFadedBottomPlain, FadeRunPlain,
                                    CompositeRunPlain, AllOpaquePlain,
                                    CompositeOverOpaquePlain, CompositeAgainstColourPlain};

namespace {

// The baseline set until the module has asked the processor.
#if defined(__SSE2__)
const CompositeRunSet *selected = &kPackedSse2Runs;
#else
const CompositeRunSet *selected = &kPlainRuns;
#endif

}  // namespace

void SelectCompositeRuns(bool processorHasAvx2, bool processorHasAvx512Bw) {
#if defined(ZL_HAS_AVX512_RUNS)
    if (processorHasAvx512Bw) {
        selected = &kPackedAvx512Runs;
        return;
    }
#endif
    (void)processorHasAvx512Bw;
#if defined(ZL_HAS_AVX2_RUNS)
    if (processorHasAvx2) {
        selected = &kPackedAvx2Runs;
        return;
    }
#endif
    (void)processorHasAvx2;
}

const CompositeRunSet &SelectedCompositeRuns() { return *selected; }

void CompositeRunFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    selected->composite(top, bottom, out, count);
}

void CompositeRunFadedFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                           uint32_t opacity) {
    selected->faded(top, bottom, out, count, opacity);
}

void CompositeRunFadedBottomFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                 uint32_t opacity) {
    selected->fadedBottom(top, bottom, out, count, opacity);
}

void FadeRunFast(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity) {
    selected->fade(in, out, count, opacity);
}

void CompositeRunStreamed(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    selected->compositeStreamed(top, bottom, out, count);
}

bool AllOpaqueFast(const uint32_t *pixels, int32_t count) { return selected->allOpaque(pixels, count); }

void ReadPixelsThrough(const uint32_t *pixels, int32_t count) {
    uint32_t any = 0;
    for (int32_t i = 0; i < count; i += 16) any |= pixels[i];
    volatile uint32_t read = any;
    (void)read;
}

void CompositeAgainstColourFast(uint32_t *row, uint32_t colour, int32_t count) {
    selected->againstColour(row, colour, count);
}

void CompositeOverOpaqueFast(const uint32_t *top, uint32_t *out, int32_t count, uint32_t opacity) {
    selected->overOpaque(top, out, count, opacity);
}


}  // namespace zl
