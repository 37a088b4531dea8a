// The phases of the wide producer, written once over a lane type `L` and
// compiled once per instruction set (wide_sse2.cpp, wide_avx.cpp). Include
// it only inside an unnamed namespace: each instruction set's copy must stay
// in its own file, never merged with another's by the linker.
//
// L provides: kLanes; D (doubles) with Set1, Load, Store, Add, Sub, Mul; I
// (32-bit pixels) with LoadPixels, Channel<shift> (a byte of each pixel as a
// double); Gather; and StoreSums (rounding, division by the rounded alpha,
// packing).

// One tap's pixels of one row for `count` columns from `column`, then 0 up
// to `padded`.
template <class L>
inline void GatherRow(uint32_t *out, const uint32_t *row, const WidePlan &plan, int32_t m, int32_t column,
                      int32_t base, int32_t count, int32_t padded) {
    const int32_t *offsets = plan.offsets + static_cast<size_t>(m) * plan.stride + column;
    int32_t i = L::Gather(out, row, plan, m, column, base, count);
    for (; i < count; ++i) out[i] = row[offsets[i] - base];
    for (; i < padded; ++i) out[i] = 0;
}

template <class L>
void GatherTaps(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count) {
    const int32_t padded = (count + L::kLanes - 1) / L::kLanes * L::kLanes;
    const int32_t taps = plan.taps, lines = line.lines;
    for (int32_t k = 0; k < lines; ++k)
        for (int32_t m = 0; m < taps; ++m)
            GatherRow<L>(plan.scratch + (static_cast<size_t>(k) * taps + m) * kWideChunk, line.rows[k], plan, m,
                         column, line.base, count, padded);
}

// The sums of one tap in every lane, as the plain walk adds them.
template <class L>
struct LaneSums {
    typename L::D remainder = L::Set1(1.0), alpha = L::Set1(0.0), blue = alpha, green = alpha, red = alpha;

    void Tap(const uint32_t *pixels, const double *columnWeights, typename L::D lineWeight) {
        const typename L::I p = L::LoadPixels(pixels);
        const typename L::D w = L::Mul(lineWeight, L::Load(columnWeights));
        const typename L::D t = L::Mul(w, L::template Channel<24>(p));
        remainder = L::Sub(remainder, w);
        alpha = L::Add(alpha, t);
        blue = L::Add(blue, L::Mul(L::template Channel<0>(p), t));
        green = L::Add(green, L::Mul(L::template Channel<8>(p), t));
        red = L::Add(red, L::Mul(L::template Channel<16>(p), t));
    }
    // The same from a kept line: the channels are doubles already (alpha,
    // blue, green, red, 4 columns apart).
    void Tap(const double *values, const double *columnWeights, typename L::D lineWeight) {
        const typename L::D w = L::Mul(lineWeight, L::Load(columnWeights));
        const typename L::D t = L::Mul(w, L::Load(values));
        remainder = L::Sub(remainder, w);
        alpha = L::Add(alpha, t);
        blue = L::Add(blue, L::Mul(L::Load(values + 4), t));
        green = L::Add(green, L::Mul(L::Load(values + 8), t));
        red = L::Add(red, L::Mul(L::Load(values + 12), t));
    }
    // The last pixel read takes the remainder; the sums go to the chunk's.
    void Finish(const uint32_t *lastPixels, double *sums) {
        const typename L::I p = L::LoadPixels(lastPixels);
        const typename L::D t = L::Mul(remainder, L::template Channel<24>(p));
        L::Store(sums, L::Add(alpha, t));
        L::Store(sums + kWideChunk, L::Add(blue, L::Mul(L::template Channel<0>(p), t)));
        L::Store(sums + 2 * kWideChunk, L::Add(green, L::Mul(L::template Channel<8>(p), t)));
        L::Store(sums + 3 * kWideChunk, L::Add(red, L::Mul(L::template Channel<16>(p), t)));
    }
    void Finish(const double *last) {
        const typename L::D t = L::Mul(remainder, L::Load(last));
        alpha = L::Add(alpha, t);
        blue = L::Add(blue, L::Mul(L::Load(last + 4), t));
        green = L::Add(green, L::Mul(L::Load(last + 8), t));
        red = L::Add(red, L::Mul(L::Load(last + 12), t));
    }
};

// Two lines of two taps (every enlargement and the reductions up to 2 to 1),
// the taps written out.
template <class L>
void AccumulateTwoByTwo(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count) {
    const typename L::D lead = L::Set1(line.lineWeights[0]), second = L::Set1(line.lineWeights[1]);
    const double *w0 = plan.weights + column, *w1 = (line.trailingLine ? plan.trailWeights : plan.weights) + column;
    const size_t stride = static_cast<size_t>(plan.stride);
    const bool corner = line.trailingLine && plan.lastTapIsCorner;  // its tap weighs 0: skipped
    const uint32_t *p = plan.scratch;
    for (int32_t i = 0; i < count; i += L::kLanes) {
        LaneSums<L> sums;
        sums.Tap(p + i, w0 + i, lead);
        sums.Tap(p + kWideChunk + i, w0 + stride + i, lead);
        sums.Tap(p + 2 * kWideChunk + i, w1 + i, second);
        if (!corner) sums.Tap(p + 3 * kWideChunk + i, w1 + stride + i, second);
        sums.Finish(p + 3 * kWideChunk + i, plan.sums + i);
    }
}

// Any number of lines and taps; kTaps: the plan's taps when known at
// compile time (the common two), else 0.
template <class L, int32_t kTaps>
void AccumulateTapsOf(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count) {
    const int32_t planTaps = kTaps != 0 ? kTaps : plan.taps;
    const int32_t lastLine = line.lines - 1;
    const size_t lastTap = static_cast<size_t>(lastLine) * planTaps + planTaps - 1;
    for (int32_t i = 0; i < count; i += L::kLanes) {
        LaneSums<L> sums;
        for (int32_t k = 0; k <= lastLine; ++k) {
            const bool trailing = line.trailingLine && k == lastLine;
            const double *weights = (trailing ? plan.trailWeights : plan.weights) + column + i;
            // The corner weighs 0 everywhere: skipping it changes no sum.
            const int32_t taps = trailing && plan.lastTapIsCorner ? planTaps - 1 : planTaps;
            const typename L::D lineWeight = L::Set1(line.lineWeights[k]);
            const uint32_t *pixels = plan.scratch + static_cast<size_t>(k) * planTaps * kWideChunk + i;
            for (int32_t m = 0; m < taps; ++m)
                sums.Tap(pixels + static_cast<size_t>(m) * kWideChunk, weights + static_cast<size_t>(m) * plan.stride,
                         lineWeight);
        }
        sums.Finish(plan.scratch + lastTap * kWideChunk + i, plan.sums + i);
    }
}

template <class L>
void AccumulateTaps(const WideLine &line, const WidePlan &plan, int32_t column, int32_t count) {
    if (plan.taps == 2 && line.lines == 2) {
        AccumulateTwoByTwo<L>(line, plan, column, count);
    } else if (plan.taps == 2) {
        AccumulateTapsOf<L, 2>(line, plan, column, count);
    } else {
        AccumulateTapsOf<L, 0>(line, plan, column, count);
    }
}

template <class L>
inline void StorePixels(uint32_t *dst, const double *a, const double *b, const double *g, const double *r) {
    L::StoreSums(dst, L::Load(a), L::Load(b), L::Load(g), L::Load(r));
}

template <class L>
void StoreLine(uint32_t *dst, const WidePlan &plan, int32_t count) {
    const double *s = plan.sums;
    int32_t i = 0;
    for (; i + L::kLanes <= count; i += L::kLanes)
        StorePixels<L>(dst + i, s + i, s + kWideChunk + i, s + 2 * kWideChunk + i, s + 3 * kWideChunk + i);
    if (i < count) {
        uint32_t tail[L::kLanes];
        StorePixels<L>(tail, s + i, s + kWideChunk + i, s + 2 * kWideChunk + i, s + 3 * kWideChunk + i);
        for (int32_t j = 0; i + j < count; ++j) dst[i + j] = tail[j];
    }
}

template <class L>
void ProduceWideLineWith(uint32_t *dstRow, const WideLine &line, const WidePlan &plan, int32_t columnCount) {
    for (int32_t done = 0; done < columnCount; done += kWideChunk) {
        const int32_t count = columnCount - done < kWideChunk ? columnCount - done : kWideChunk;
        GatherTaps<L>(line, plan, line.firstColumn + done, count);
        AccumulateTaps<L>(line, plan, line.firstColumn + done, count);
        StoreLine<L>(dstRow + done, plan, count);
    }
}

// The rounded alpha of each lane, clamped to 0 .. 255, picks the divisor; a
// lane of alpha 0 takes entry 1 (its pixel is 0 whatever the colour sums).
inline double InverseOf(uint32_t alphaByte) { return AlphaInverseTable[alphaByte + (alphaByte == 0 ? 1u : 0u)]; }

// Keeping a line: its tap pixels gathered a chunk at a time, each channel
// turned into doubles (the conversion the tap walk would do) and laid out in
// groups of 4 columns; lanes past the count hold pixel 0.
template <class L>
void KeepLine(double *values, const uint32_t *row, const WidePlan &plan, int32_t firstColumn, int32_t columnCount) {
    const int32_t taps = plan.taps, base = plan.offsets[firstColumn];
    for (int32_t done = 0; done < columnCount; done += kWideChunk) {
        const int32_t count = columnCount - done < kWideChunk ? columnCount - done : kWideChunk;
        const int32_t padded = (count + 3) / 4 * 4;
        for (int32_t m = 0; m < taps; ++m) {
            uint32_t *pixels = plan.scratch + static_cast<size_t>(m) * kWideChunk;
            GatherRow<L>(pixels, row, plan, m, firstColumn + done, base, count, padded);
            for (int32_t i = 0; i < padded; i += L::kLanes) {
                const typename L::I p = L::LoadPixels(pixels + i);
                double *out = values + (static_cast<size_t>(done + i) / 4 * taps + m) * kCachedTapDoubles + i % 4;
                L::Store(out, L::template Channel<24>(p));
                L::Store(out + 4, L::template Channel<0>(p));
                L::Store(out + 8, L::template Channel<8>(p));
                L::Store(out + 12, L::template Channel<16>(p));
            }
        }
    }
}

// The tap walk over kept lines for the columns start .. start + count - 1 of
// the pass (start a multiple of 4), each lane's sums handed to `out`: the
// leading line's taps, then the trailing line's without its corner, then the
// remainder on the last pixel read.
template <class L, int32_t kTaps, int32_t kLines, class Out>
inline void WalkKeptLines(const CachedPass &pass, const WidePlan &plan, int32_t start, int32_t count, Out out) {
    using D = typename L::D;
    const int32_t taps = kTaps != 0 ? kTaps : plan.taps;
    const size_t stride = static_cast<size_t>(plan.stride);
    const double *w0 = plan.weights + pass.firstColumn;
    const double *w1 = (pass.trailingLine ? plan.trailWeights : plan.weights) + pass.firstColumn;
    const int32_t secondTaps = pass.trailingLine && plan.lastTapIsCorner ? taps - 1 : taps;
    const D lead = L::Set1(pass.lineWeights[0]), second = L::Set1(pass.lineWeights[1]);
    const size_t last = static_cast<size_t>(taps - 1) * kCachedTapDoubles;
    for (int32_t i = start; i < start + count; i += L::kLanes) {
        const size_t at = static_cast<size_t>(i) / 4 * static_cast<size_t>(taps) * kCachedTapDoubles + i % 4;
        const double *v0 = pass.values[0] + at;
        LaneSums<L> sums;
        for (int32_t m = 0; m < taps; ++m) sums.Tap(v0 + m * kCachedTapDoubles, w0 + m * stride + i, lead);
        if (kLines == 2) {
            const double *v1 = pass.values[1] + at;
            for (int32_t m = 0; m < secondTaps; ++m) sums.Tap(v1 + m * kCachedTapDoubles, w1 + m * stride + i, second);
            sums.Finish(v1 + last);
        } else {
            sums.Finish(v0 + last);
        }
        out(i, sums.alpha, sums.blue, sums.green, sums.red);
    }
}

// The same walk with the footprint's shape known at compile time, one sum at
// a time: the weights, the remainder and the products weight * alpha of every
// tap first, then each sum over them in the tap order. Each lane does the
// same operations in the same order as the walk above, with fewer registers
// live at once (a 32-bit build has 8). kSkipCorner: the trailing line's last
// tap weighs 0 in every column.
template <class L, int32_t kTaps, int32_t kLines, bool kSkipCorner, class Out>
inline void WalkKeptLinesBySum(const CachedPass &pass, const WidePlan &plan, int32_t start, int32_t count, Out out) {
    using D = typename L::D;
    constexpr int32_t kWeighed = kTaps * kLines - (kSkipCorner ? 1 : 0);
    const size_t stride = static_cast<size_t>(plan.stride);
    const double *weights[2] = {plan.weights + pass.firstColumn,
                                (pass.trailingLine ? plan.trailWeights : plan.weights) + pass.firstColumn};
    const D lineWeights[2] = {L::Set1(pass.lineWeights[0]), L::Set1(pass.lineWeights[1])};
    for (int32_t i = start; i < start + count; i += L::kLanes) {
        const size_t at = static_cast<size_t>(i) / 4 * static_cast<size_t>(kTaps) * kCachedTapDoubles + i % 4;
        const double *pixels[kWeighed + 1];
        D t[kWeighed + 1];
        D remainder = L::Set1(1.0);
        for (int32_t n = 0; n < kWeighed; ++n) {
            const int32_t k = n / kTaps, m = n % kTaps;
            const D w = L::Mul(lineWeights[k], L::Load(weights[k] + m * stride + i));
            remainder = L::Sub(remainder, w);
            pixels[n] = pass.values[k] + at + m * kCachedTapDoubles;
            t[n] = L::Mul(w, L::Load(pixels[n]));
        }
        // The last pixel read takes the remainder.
        pixels[kWeighed] = pass.values[kLines - 1] + at + (kTaps - 1) * kCachedTapDoubles;
        t[kWeighed] = L::Mul(remainder, L::Load(pixels[kWeighed]));
        // Each sum starts as its first product: the products are +0 or
        // positive, so this is 0 + product to the bit.
        D sums[4];
        sums[0] = t[0];
        for (int32_t n = 1; n <= kWeighed; ++n) sums[0] = L::Add(sums[0], t[n]);
        for (int32_t c = 1; c < 4; ++c) {
            sums[c] = L::Mul(L::Load(pixels[0] + 4 * c), t[0]);
            for (int32_t n = 1; n <= kWeighed; ++n) sums[c] = L::Add(sums[c], L::Mul(L::Load(pixels[n] + 4 * c), t[n]));
        }
        out(i, sums[0], sums[1], sums[2], sums[3]);
    }
}

template <class L, class Out>
inline void WalkKeptLinesOf(const CachedPass &pass, const WidePlan &plan, int32_t start, int32_t count, Out out) {
    if (plan.taps == 2 && pass.lines == 2 && plan.lastTapIsCorner) {
        WalkKeptLinesBySum<L, 2, 2, true>(pass, plan, start, count, out);
    } else if (plan.taps == 2 && pass.lines == 2) {
        WalkKeptLinesBySum<L, 2, 2, false>(pass, plan, start, count, out);
    } else if (plan.taps == 2) {
        WalkKeptLinesBySum<L, 2, 1, false>(pass, plan, start, count, out);
    } else if (pass.lines == 2) {
        WalkKeptLines<L, 0, 2>(pass, plan, start, count, out);
    } else {
        WalkKeptLines<L, 0, 1>(pass, plan, start, count, out);
    }
}

// A whole line from kept lines, each lane's pixel stored as its sums come.
template <class L>
void ProduceKeptLine(uint32_t *dstRow, const CachedPass &pass, const WidePlan &plan, int32_t columnCount) {
    using D = typename L::D;
    WalkKeptLinesOf<L>(pass, plan, 0, columnCount, [dstRow, columnCount](int32_t i, D a, D b, D g, D r) {
        if (i + L::kLanes <= columnCount) {
            L::StoreSums(dstRow + i, a, b, g, r);
        } else {
            uint32_t tail[L::kLanes];
            L::StoreSums(tail, a, b, g, r);
            for (int32_t j = 0; i + j < columnCount; ++j) dstRow[i + j] = tail[j];
        }
    });
}

// The vertical phase alone over kept lines: the sums of one chunk into the
// plan's, for StoreLine.
template <class L>
void AccumulateKeptLines(const CachedPass &pass, const WidePlan &plan, int32_t start, int32_t count) {
    using D = typename L::D;
    double *sums = plan.sums;
    WalkKeptLinesOf<L>(pass, plan, start, count, [sums, start](int32_t i, D a, D b, D g, D r) {
        const int32_t at = i - start;
        L::Store(sums + at, a);
        L::Store(sums + kWideChunk + at, b);
        L::Store(sums + 2 * kWideChunk + at, g);
        L::Store(sums + 3 * kWideChunk + at, r);
    });
}

// Both axes exactly 2 to 1: every tap weighs 0.5 * 0.5 = 0.25 and the
// remainder is 0, so each product and sum of the plain walk is exact in
// double (colour * alpha / 4 and their sums are multiples of 1/4 below
// 2^16): the alpha sum is sum(alpha) * 0.25 and each colour sum
// sum(colour * alpha) * 0.25, whatever the order. Those integer sums are
// made here in 32 bits; the rounding and the division are the plain walk's.
//
// From 4 source pixels of a row, for the 2 destination pixels they make:
// sum(blue * alpha), sum(green * alpha), sum(red * alpha), sum(alpha).
inline void HalveRow(__m128i four, __m128i &first, __m128i &second) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i swapped = _mm_shuffle_epi32(four, _MM_SHUFFLE(3, 1, 2, 0));  // p0 p2 p1 p3
    // b0 b1 g0 g1 r0 r1 a0 a1, then the same of p2 and p3.
    const __m128i bytes = _mm_unpacklo_epi8(swapped, _mm_srli_si128(swapped, 8));
    const __m128i words0 = _mm_unpacklo_epi8(bytes, zero), words1 = _mm_unpackhi_epi8(bytes, zero);
    // Each word pair times its pixels' alphas, the alpha pair times 1.
    const __m128i colours = _mm_set_epi32(0, -1, -1, -1), ones = _mm_set_epi32(0x00010001, 0, 0, 0);
    first = _mm_madd_epi16(words0, _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(words0, 0xFF), colours), ones));
    second = _mm_madd_epi16(words1, _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(words1, 0xFF), colours), ones));
}

// 4 destination pixels from 8 source pixels of each row.
template <class L>
inline void HalveFour(uint32_t *dst, const uint32_t *top, const uint32_t *bottom) {
    __m128i p[4], q[4];
    HalveRow(_mm_loadu_si128(reinterpret_cast<const __m128i *>(top)), p[0], p[1]);
    HalveRow(_mm_loadu_si128(reinterpret_cast<const __m128i *>(top + 4)), p[2], p[3]);
    HalveRow(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom)), q[0], q[1]);
    HalveRow(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + 4)), q[2], q[3]);
    for (int32_t k = 0; k < 4; ++k) p[k] = _mm_add_epi32(p[k], q[k]);
    // From a pixel per register to a channel per register.
    const __m128i bg01 = _mm_unpacklo_epi32(p[0], p[1]), bg23 = _mm_unpacklo_epi32(p[2], p[3]);
    const __m128i ra01 = _mm_unpackhi_epi32(p[0], p[1]), ra23 = _mm_unpackhi_epi32(p[2], p[3]);
    const __m128i sums[4] = {_mm_unpackhi_epi64(ra01, ra23), _mm_unpacklo_epi64(bg01, bg23),
                             _mm_unpackhi_epi64(bg01, bg23), _mm_unpacklo_epi64(ra01, ra23)};
    const typename L::D quarter = L::Set1(0.25);
    for (int32_t h = 0; h < 4; h += L::kLanes)
        L::StoreSums(dst + h, L::Mul(L::Doubles(sums[0], h), quarter), L::Mul(L::Doubles(sums[1], h), quarter),
                     L::Mul(L::Doubles(sums[2], h), quarter), L::Mul(L::Doubles(sums[3], h), quarter));
}

template <class L>
void HalveLine(uint32_t *dstRow, const uint32_t *top, const uint32_t *bottom, int32_t columnCount) {
    int32_t j = 0;
    for (; j + 4 <= columnCount; j += 4) HalveFour<L>(dstRow + j, top + 2 * j, bottom + 2 * j);
    if (j < columnCount) {
        // The last pixels from copies, so that nothing past the rows is read.
        uint32_t topTail[8] = {}, bottomTail[8] = {}, out[4];
        for (int32_t k = 0; k < 2 * (columnCount - j); ++k) {
            topTail[k] = top[2 * j + k];
            bottomTail[k] = bottom[2 * j + k];
        }
        HalveFour<L>(out, topTail, bottomTail);
        for (int32_t k = 0; j + k < columnCount; ++k) dstRow[j + k] = out[k];
    }
}
