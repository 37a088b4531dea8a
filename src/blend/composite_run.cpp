#include "blend/composite_run.h"

#include <cstddef>

#include "blend/blend.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool ReadsNearWrites(const uint32_t *out, const uint32_t *in, int32_t pixels) {
    uintptr_t span = static_cast<uintptr_t>(pixels) * sizeof(uint32_t);
    uintptr_t o = reinterpret_cast<uintptr_t>(out), i = reinterpret_cast<uintptr_t>(in);
    return (o >= i ? o - i : i - o) < span;
}

#if defined(__SSE2__)

namespace {

// The packed helpers must melt into the loop: as calls they would pass their
// vectors through memory (the 32-bit target aligns its stack to 4 bytes only).
#define ZL_PACKED inline __attribute__((always_inline))

// Pixels per block: each block is read whole before any of it is written.
constexpr int32_t kBlockPixels = 8;
constexpr uintptr_t kBlockBytes = kBlockPixels * sizeof(uint32_t);

// True when out starts less than one block past in: the plain order would
// then read, later in the same block, a pixel that an earlier pixel of the
// block has already written. Reads ahead of out, or a block or more behind
// it, see exactly what the plain order sees.
bool ReadsCouldSeeOwnWrites(const uint32_t *out, const uint32_t *in) {
    uintptr_t distance = reinterpret_cast<uintptr_t>(out) - reinterpret_cast<uintptr_t>(in);
    return distance - 1 < kBlockBytes - 1;
}

ZL_PACKED __m128i Load(const uint32_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
ZL_PACKED void Store(uint32_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// floor(x / 255) in every 16-bit lane, exact for every x below 65536:
// (x * 0x8081) >> 23.
ZL_PACKED __m128i DivideBy255(__m128i x) {
    return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
}

// ProductTable[x][y] = m + floor((m + 127) / 255) with m = x * y, per lane.
// For every m up to 255 * 255, floor((m + 127) / 255) equals
// ((m + 128) * 257) >> 16: one high multiplication and no shift.
ZL_PACKED __m128i Product(__m128i x, __m128i y) {
    __m128i m = _mm_mullo_epi16(x, y);
    return _mm_add_epi16(m, _mm_mulhi_epu16(_mm_add_epi16(m, _mm_set1_epi16(128)), _mm_set1_epi16(257)));
}

// The high byte of ProductTable[top][q] + ProductTable[bottom][p] per lane;
// the sum never passes 65,280.
ZL_PACKED __m128i BlendLanes(__m128i top, __m128i q, __m128i bottom, __m128i p) {
    return _mm_srli_epi16(_mm_add_epi16(Product(top, q), Product(bottom, p)), 8);
}

// The alphas of eight pixels (two vectors of four) as eight 16-bit lanes.
ZL_PACKED __m128i Alphas(__m128i first, __m128i second) {
    return _mm_packs_epi32(_mm_srli_epi32(first, 24), _mm_srli_epi32(second, 24));
}

// The over-weight quotient floor((255 * tA + floor(s / 2)) / s) of four
// lanes. Single precision division is exact here: the numerator stays below
// 2^16 and a quotient that is not whole lies at least 1/255 from the next
// integer, far more than the rounding error in any rounding mode. A zero
// divisor is replaced by 1, so no lane raises a floating-point exception that
// the host may have unmasked.
ZL_PACKED __m128i Quotient(__m128i numerator, __m128i divisor) {
    return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(numerator), _mm_cvtepi32_ps(divisor)));
}

// The green bytes of eight pixels (two vectors of four) as eight 16-bit lanes.
ZL_PACKED __m128i Greens(__m128i first, __m128i second) {
    return _mm_packs_epi32(_mm_srli_epi32(_mm_slli_epi32(first, 16), 24), _mm_srli_epi32(_mm_slli_epi32(second, 16), 24));
}

// TableComposite of eight pixels. The arithmetic alone already gives each
// early exit's result, so no pixel needs choosing: a transparent bottom
// (u = 0) or an opaque top (u = 0) makes q = 255 and p = 0, which gives the
// top back; a transparent top over a visible bottom makes q = 0 and p = 255,
// which gives the bottom back. Only with both alphas 0 is there no quotient,
// and q = 255 is set there so that the top comes back.
ZL_PACKED void BlendEight(__m128i t0, __m128i t1, __m128i b0, __m128i b1, __m128i tA, __m128i bA, __m128i &r0,
                          __m128i &r1) {
    const __m128i k255 = _mm_set1_epi16(255);
    const __m128i zero = _mm_setzero_si128();
    __m128i under = DivideBy255(_mm_mullo_epi16(_mm_sub_epi16(k255, tA), bA));
    __m128i sum = _mm_add_epi16(tA, under);
    __m128i numerator = _mm_add_epi16(_mm_mullo_epi16(tA, k255), _mm_srli_epi16(sum, 1));
    __m128i divisor = _mm_max_epi16(sum, _mm_set1_epi16(1));
    __m128i q = _mm_packs_epi32(
        Quotient(_mm_unpacklo_epi16(numerator, zero), _mm_unpacklo_epi16(divisor, zero)),
        Quotient(_mm_unpackhi_epi16(numerator, zero), _mm_unpackhi_epi16(divisor, zero)));
    q = _mm_or_si128(q, _mm_and_si128(_mm_cmpeq_epi16(sum, zero), k255));
    __m128i p = _mm_sub_epi16(k255, q);
    // Blue and red of four pixels per set of 16-bit lanes, with each weight
    // held twice; green of all eight in one set, with the weights as they are.
    const __m128i lowBytes = _mm_set1_epi16(0xFF);
    __m128i blueRed0 = BlendLanes(_mm_and_si128(t0, lowBytes), _mm_unpacklo_epi16(q, q), _mm_and_si128(b0, lowBytes),
                                  _mm_unpacklo_epi16(p, p));
    __m128i blueRed1 = BlendLanes(_mm_and_si128(t1, lowBytes), _mm_unpackhi_epi16(q, q), _mm_and_si128(b1, lowBytes),
                                  _mm_unpackhi_epi16(p, p));
    __m128i green = BlendLanes(Greens(t0, t1), q, Greens(b0, b1), p);
    // Green beside the output alpha, in the byte order of a pixel's upper half.
    r0 = _mm_or_si128(blueRed0, _mm_slli_epi16(_mm_unpacklo_epi16(green, sum), 8));
    r1 = _mm_or_si128(blueRed1, _mm_slli_epi16(_mm_unpackhi_epi16(green, sum), 8));
}

// A side's pixels as they enter the blend: unchanged, or with their alpha
// scaled by an opacity.
struct Kept {
    static constexpr bool kChanges = false;
    uint32_t operator()(uint32_t t) const { return t; }
    ZL_PACKED __m128i operator()(__m128i t) const { return t; }
};

// floor(opacity * alpha / 255) in the alpha byte of four pixels, colour kept.
ZL_PACKED __m128i FadeFour(__m128i t, __m128i opacity) {
    // The lanes hold values below 65536, so 16-bit products leave every
    // high half 0.
    __m128i alpha = DivideBy255(_mm_mullo_epi16(_mm_srli_epi32(t, 24), opacity));
    return _mm_or_si128(_mm_and_si128(t, _mm_set1_epi32(0x00FFFFFF)), _mm_slli_epi32(alpha, 24));
}

struct Faded {
    static constexpr bool kChanges = true;
    uint32_t opacity;
    uint32_t operator()(uint32_t t) const { return FadeAlpha(t, opacity); }
    ZL_PACKED __m128i operator()(__m128i t) const { return FadeFour(t, _mm_set1_epi32(static_cast<int>(opacity))); }
};

template <class Top, class Bottom>
void PackedRun(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count, Top enter,
               Bottom enterBottom) {
    // A block that gives back the pixels already in out need not be stored.
    const bool outHoldsTop = out == top && !Top::kChanges;
    const bool outHoldsBottom = out == bottom && !Bottom::kChanges;
    int32_t i = 0;
    // Single pixels up to an aligned out, so that the block stores are aligned.
    if ((reinterpret_cast<uintptr_t>(out) & 3) == 0) {
        for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0; ++i)
            out[i] = TableComposite(enter(top[i]), enterBottom(bottom[i]));
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i k255 = _mm_set1_epi16(255);
    for (; i + kBlockPixels <= count; i += kBlockPixels) {
        __m128i t0 = enter(Load(top + i));
        __m128i t1 = enter(Load(top + i + 4));
        __m128i tA = Alphas(t0, t1);
        // Blocks that take an early exit whole skip the arithmetic; one
        // opaque on top does not even read its bottom.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(tA, k255)) == 0xFFFF) {
            if (!outHoldsTop) {
                Store(out + i, t0);
                Store(out + i + 4, t1);
            }
            continue;
        }
        __m128i b0 = enterBottom(Load(bottom + i));
        __m128i b1 = enterBottom(Load(bottom + i + 4));
        __m128i bA = Alphas(b0, b1);
        __m128i bottomClear = _mm_cmpeq_epi16(bA, zero);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(tA, zero)) == 0xFFFF && _mm_movemask_epi8(bottomClear) == 0) {
            if (!outHoldsBottom) {
                Store(out + i, b0);
                Store(out + i + 4, b1);
            }
            continue;
        }
        if (_mm_movemask_epi8(_mm_or_si128(bottomClear, _mm_cmpeq_epi16(tA, k255))) == 0xFFFF) {
            if (!outHoldsTop) {
                Store(out + i, t0);
                Store(out + i + 4, t1);
            }
            continue;
        }
        __m128i r0, r1;
        BlendEight(t0, t1, b0, b1, tA, bA, r0, r1);
        Store(out + i, r0);
        Store(out + i + 4, r1);
    }
    for (; i < count; ++i) out[i] = TableComposite(enter(top[i]), enterBottom(bottom[i]));
}

bool NeedsPlainOrder(const uint32_t *top, const uint32_t *bottom, const uint32_t *out) {
    return ReadsCouldSeeOwnWrites(out, top) || ReadsCouldSeeOwnWrites(out, bottom);
}

}  // namespace

void CompositeRunFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    if (count <= 0) return;
    if (NeedsPlainOrder(top, bottom, out)) {
        CompositeRunPlain(top, bottom, out, count);
        return;
    }
    PackedRun(top, bottom, out, count, Kept{}, Kept{});
}

void CompositeRunFadedFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                           uint32_t opacity) {
    if (count <= 0) return;
    if (NeedsPlainOrder(top, bottom, out)) {
        CompositeRunFadedPlain(top, bottom, out, count, opacity);
        return;
    }
    PackedRun(top, bottom, out, count, Faded{opacity & 0xFF}, Kept{});
}

void CompositeRunFadedBottomFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                 uint32_t opacity) {
    if (count <= 0) return;
    if (NeedsPlainOrder(top, bottom, out)) {
        CompositeRunFadedBottomPlain(top, bottom, out, count, opacity);
        return;
    }
    PackedRun(top, bottom, out, count, Kept{}, Faded{opacity & 0xFF});
}

void FadeRunFast(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity) {
    if (count <= 0) return;
    if (ReadsCouldSeeOwnWrites(out, in)) {
        FadeRunPlain(in, out, count, opacity);
        return;
    }
    const __m128i o = _mm_set1_epi32(static_cast<int>(opacity & 0xFF));
    int32_t i = 0;
    for (; i + kBlockPixels <= count; i += kBlockPixels) {
        __m128i a = Load(in + i);
        __m128i b = Load(in + i + 4);
        Store(out + i, FadeFour(a, o));
        Store(out + i + 4, FadeFour(b, o));
    }
    FadeRunPlain(in + i, out + i, count - i, opacity);
}

#else  // no SSE2 on this target: the table loop is the fast loop

void CompositeRunFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count) {
    CompositeRunPlain(top, bottom, out, count);
}

void CompositeRunFadedFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                           uint32_t opacity) {
    CompositeRunFadedPlain(top, bottom, out, count, opacity);
}

void CompositeRunFadedBottomFast(const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t count,
                                 uint32_t opacity) {
    CompositeRunFadedBottomPlain(top, bottom, out, count, opacity);
}

void FadeRunFast(const uint32_t *in, uint32_t *out, int32_t count, uint32_t opacity) {
    FadeRunPlain(in, out, count, opacity);
}

#endif

}  // namespace zl
