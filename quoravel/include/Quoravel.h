/*
 * Quoravel: copy, scale and convert rectangles of pixels.
 *
 * This small library provides the one function that ZantrelLayer's
 * ResizeLayer imports. It knows one pixel format, QV_FORMAT_ARGB: 32-bit
 * 0xAARRGGBB pixels with straight (non-premultiplied) alpha.
 */
#ifndef QUORAVEL_H
#define QUORAVEL_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QV_CALL __cdecl
#else
#define QV_CALL
#endif

#if defined(_WIN32)
/* Exported by name through the module definition file. */
#define QV_API
#elif defined(__GNUC__)
#define QV_API __attribute__((visibility("default")))
#else
#define QV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Four-character code "argb", 'a' in the most significant byte. */
#define QV_FORMAT_ARGB 0x61726762u

/** Scales the source rectangle of one pixel buffer into the destination
 * rectangle of another (or the same) buffer.
 *
 * Each buffer is given by the address of its pixel (0, 0), its row stride in
 * bytes (negative for bottom-up buffers) and its format; each rectangle by
 * left, top, right, bottom in that buffer's pixels, right and bottom
 * exclusive. Pixel (x, y) lies at byte address pixels + y * rowBytes + 4 * x.
 *
 * Filter, separately on each axis. An axis that shrinks (or keeps its size)
 * is averaged by area: each destination pixel covers (source size /
 * destination size) source pixels, laid so that both rectangles' edges
 * meet, and receives the average of the source pixels under it, each
 * weighted by the part of it that is covered. An axis that grows is
 * interpolated linearly between pixel centres: destination pixel x takes the
 * source position (x + 1/2) * source size / destination size - 1/2 and mixes
 * the two source pixels around it by their distance; before the first centre
 * and after the last, the edge pixel is held. In both, colour is averaged
 * weighted by alpha (premultiplied), so transparent pixels add no colour and
 * do not darken edges; the output alpha is the weighted average of alpha,
 * rounded to nearest, and a pixel whose alpha rounds to 0 becomes
 * 0x00000000. Equal rectangle sizes copy the pixels exactly, bytes as they
 * are.
 *
 * Refusals: nothing is read or written when either format is not
 * QV_FORMAT_ARGB, a rectangle is empty or inverted (right <= left or
 * bottom <= top), a buffer address is null, `reserved` is not 0, or working
 * memory cannot be allocated.
 *
 * Only the pixels inside the two rectangles are read and written; the caller
 * guarantees that they lie in its buffers. Overlapping rectangles of one
 * buffer give an unspecified result (but no access outside them).
 *
 * The arithmetic runs in round-to-nearest with exceptions masked whatever
 * the caller's floating-point environment, which is unchanged on return.
 *
 * @return 1 when the destination rectangle was written, 0 when refused.
 */
QV_API int32_t QV_CALL ExportedQV_CopyScaleConvert(const void *srcPixels, int32_t srcRowBytes, uint32_t srcFormat,
                                                   int32_t srcLeft, int32_t srcTop, int32_t srcRight,
                                                   int32_t srcBottom, void *dstPixels, int32_t dstRowBytes,
                                                   uint32_t dstFormat, int32_t dstLeft, int32_t dstTop,
                                                   int32_t dstRight, int32_t dstBottom, int32_t reserved);

#ifdef __cplusplus
}
#endif

#endif /* QUORAVEL_H */
