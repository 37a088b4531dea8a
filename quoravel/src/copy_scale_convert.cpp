// Scaling of one ARGB rectangle into another: area averaging where an axis
// shrinks, linear interpolation where it grows; see Quoravel.h.
#include "Quoravel.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "fp_env.h"

namespace {

struct Rect {
    int64_t left, top, right, bottom;
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
};

// Pixel rows addressed in wrapping pointer arithmetic, as the caller's
// 32-bit addresses and strides are.
const uint32_t *RowAt(const void *base, int32_t rowBytes, int64_t y) {
    uintptr_t offset = static_cast<uintptr_t>(static_cast<intptr_t>(rowBytes)) * static_cast<uintptr_t>(y);
    return reinterpret_cast<const uint32_t *>(reinterpret_cast<uintptr_t>(base) + offset);
}
uint32_t *RowAt(void *base, int32_t rowBytes, int64_t y) {
    return const_cast<uint32_t *>(RowAt(static_cast<const void *>(base), rowBytes, y));
}

// The source pixels under one destination pixel on one axis, with the
// covered part of each as a fraction of the destination pixel.
struct Span {
    int64_t first;
    size_t count;
    size_t weightIndex;
};

// Plain heap arrays rather than containers: the library is built without
// exceptions, and an allocation that fails is reported, not thrown.
struct Axis {
    Span *spans = nullptr;
    double *weights = nullptr;
    size_t weightCount = 0;

    Axis() = default;
    Axis(const Axis &) = delete;
    Axis &operator=(const Axis &) = delete;
    ~Axis() {
        std::free(spans);
        std::free(weights);
    }
};

// Reducing (or keeping) an axis: source pixel i spans [i * dst, (i + 1) * dst)
// and destination pixel x spans [x * src, (x + 1) * src): both rectangles
// measured in the same units. Every destination pixel but the first starts
// inside the source pixel where the one before it ended, so there are at
// most src + dst weights.
bool BuildAreaAxis(Axis &axis, int64_t src, int64_t dst) {
    axis.spans = static_cast<Span *>(std::calloc(static_cast<size_t>(dst), sizeof(Span)));
    axis.weights = static_cast<double *>(std::calloc(static_cast<size_t>(src + dst), sizeof(double)));
    if (axis.spans == nullptr || axis.weights == nullptr) return false;
    for (int64_t x = 0; x < dst; ++x) {
        int64_t from = x * src;
        int64_t to = from + src;
        Span &span = axis.spans[static_cast<size_t>(x)];
        span.first = from / dst;
        span.weightIndex = axis.weightCount;
        for (int64_t i = span.first; i * dst < to; ++i) {
            int64_t lo = i * dst > from ? i * dst : from;
            int64_t hi = (i + 1) * dst < to ? (i + 1) * dst : to;
            if (hi > lo) {
                axis.weights[axis.weightCount++] = static_cast<double>(hi - lo) / static_cast<double>(src);
                ++span.count;
            }
        }
    }
    return true;
}

// Enlarging an axis: linear between pixel centres. The centre of destination
// pixel x lies at source position (x + 1/2) * src / dst - 1/2, kept exact as
// the fraction ((2x + 1) * src - dst) / (2 * dst); positions before the first
// centre or after the last take that pixel, so the edges are held.
bool BuildLinearAxis(Axis &axis, int64_t src, int64_t dst) {
    axis.spans = static_cast<Span *>(std::calloc(static_cast<size_t>(dst), sizeof(Span)));
    axis.weights = static_cast<double *>(std::calloc(static_cast<size_t>(dst) * 2, sizeof(double)));
    if (axis.spans == nullptr || axis.weights == nullptr) return false;
    const int64_t denominator = 2 * dst;
    for (int64_t x = 0; x < dst; ++x) {
        int64_t numerator = (2 * x + 1) * src - dst;
        Span &span = axis.spans[static_cast<size_t>(x)];
        span.weightIndex = axis.weightCount;
        int64_t rest = numerator > 0 ? numerator % denominator : 0;
        span.first = numerator > 0 ? numerator / denominator : 0;
        if (span.first >= src - 1) {
            span.first = src - 1;
            rest = 0;
        }
        if (rest == 0) {
            axis.weights[axis.weightCount++] = 1.0;
            span.count = 1;
        } else {
            axis.weights[axis.weightCount++] =
                static_cast<double>(denominator - rest) / static_cast<double>(denominator);
            axis.weights[axis.weightCount++] = static_cast<double>(rest) / static_cast<double>(denominator);
            span.count = 2;
        }
    }
    return true;
}

bool BuildAxis(Axis &axis, int64_t src, int64_t dst) {
    return dst > src ? BuildLinearAxis(axis, src, dst) : BuildAreaAxis(axis, src, dst);
}

uint32_t RoundToByte(double value) {
    double rounded = std::floor(value + 0.5);
    if (!(rounded > 0.0)) return 0;
    if (rounded >= 255.0) return 255;
    return static_cast<uint32_t>(rounded);
}

uint32_t AveragePixel(const void *srcPixels, int32_t srcRowBytes, const Rect &src, const Axis &ax, const Span &sx,
                      const Axis &ay, const Span &sy) {
    double alpha = 0, blue = 0, green = 0, red = 0;
    for (size_t j = 0; j < sy.count; ++j) {
        const uint32_t *row = RowAt(srcPixels, srcRowBytes, src.top + sy.first + static_cast<int64_t>(j));
        double wy = ay.weights[sy.weightIndex + j];
        for (size_t i = 0; i < sx.count; ++i) {
            uint32_t p = row[src.left + sx.first + static_cast<int64_t>(i)];
            double t = wy * ax.weights[sx.weightIndex + i] * static_cast<double>(p >> 24);
            alpha += t;
            blue += t * static_cast<double>(p & 0xFF);
            green += t * static_cast<double>((p >> 8) & 0xFF);
            red += t * static_cast<double>((p >> 16) & 0xFF);
        }
    }
    uint32_t a = RoundToByte(alpha);
    if (a == 0) return 0;
    return a << 24 | RoundToByte(red / alpha) << 16 | RoundToByte(green / alpha) << 8 | RoundToByte(blue / alpha);
}

void CopyRows(const void *srcPixels, int32_t srcRowBytes, const Rect &src, void *dstPixels, int32_t dstRowBytes,
              const Rect &dst) {
    size_t bytes = static_cast<size_t>(dst.Width()) * 4;
    for (int64_t y = 0; y < dst.Height(); ++y) {
        const uint32_t *from = RowAt(srcPixels, srcRowBytes, src.top + y) + src.left;
        uint32_t *to = RowAt(dstPixels, dstRowBytes, dst.top + y) + dst.left;
        std::memmove(to, from, bytes);
    }
}

bool Scale(const void *srcPixels, int32_t srcRowBytes, const Rect &src, void *dstPixels, int32_t dstRowBytes,
           const Rect &dst) {
    if (src.Width() == dst.Width() && src.Height() == dst.Height()) {
        CopyRows(srcPixels, srcRowBytes, src, dstPixels, dstRowBytes, dst);
        return true;
    }
    Axis ax;
    Axis ay;
    if (!BuildAxis(ax, src.Width(), dst.Width()) || !BuildAxis(ay, src.Height(), dst.Height())) return false;
    for (int64_t y = 0; y < dst.Height(); ++y) {
        uint32_t *out = RowAt(dstPixels, dstRowBytes, dst.top + y) + dst.left;
        const Span &sy = ay.spans[static_cast<size_t>(y)];
        for (int64_t x = 0; x < dst.Width(); ++x)
            out[x] = AveragePixel(srcPixels, srcRowBytes, src, ax, ax.spans[static_cast<size_t>(x)], ay, sy);
    }
    return true;
}

bool Proper(const Rect &r) { return r.right > r.left && r.bottom > r.top; }

}  // namespace

namespace {

// The export's work, kept out of line so that none of its arithmetic can be
// moved across the switch of floating-point environment around the call.
__attribute__((noinline)) int32_t CopyScaleConvert(const void *srcPixels, int32_t srcRowBytes, uint32_t srcFormat,
                                                   int32_t srcLeft, int32_t srcTop, int32_t srcRight,
                                                   int32_t srcBottom, void *dstPixels, int32_t dstRowBytes,
                                                   uint32_t dstFormat, int32_t dstLeft, int32_t dstTop,
                                                   int32_t dstRight, int32_t dstBottom, int32_t reserved) {
    if (srcFormat != QV_FORMAT_ARGB || dstFormat != QV_FORMAT_ARGB || reserved != 0) return 0;
    if (srcPixels == nullptr || dstPixels == nullptr) return 0;
    Rect src{srcLeft, srcTop, srcRight, srcBottom};
    Rect dst{dstLeft, dstTop, dstRight, dstBottom};
    if (!Proper(src) || !Proper(dst)) return 0;
    // False when the axis tables did not fit in memory: nothing was written.
    return Scale(srcPixels, srcRowBytes, src, dstPixels, dstRowBytes, dst) ? 1 : 0;
}

}  // namespace

extern "C" QV_API int32_t QV_CALL ExportedQV_CopyScaleConvert(const void *srcPixels, int32_t srcRowBytes,
                                                              uint32_t srcFormat, int32_t srcLeft, int32_t srcTop,
                                                              int32_t srcRight, int32_t srcBottom, void *dstPixels,
                                                              int32_t dstRowBytes, uint32_t dstFormat,
                                                              int32_t dstLeft, int32_t dstTop, int32_t dstRight,
                                                              int32_t dstBottom, int32_t reserved) {
    quoravel::KnownFpEnvironment environment;
    return CopyScaleConvert(srcPixels, srcRowBytes, srcFormat, srcLeft, srcTop, srcRight, srcBottom, dstPixels,
                            dstRowBytes, dstFormat, dstLeft, dstTop, dstRight, dstBottom, reserved);
}
