// ResizeLayerCorrect and ResizeLayer through the exports, and the Quoravel
// conversion library that ResizeLayer calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Quoravel.h"
#include "test_support.h"

namespace {

using zltest::HostCanvas;
using zltest::Mix;

std::vector<uint32_t> Pattern(int32_t w, int32_t h, uint32_t seed) {
    static const uint32_t alphas[] = {0, 255, 3, 128, 90, 254, 255, 0, 201, 255};
    std::vector<uint32_t> img(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < img.size(); ++i) {
        uint32_t m = Mix(static_cast<uint32_t>(i) + seed * 7919u);
        img[i] = alphas[m % 10] << 24 | (m >> 8 & 0xFFFFFF);
    }
    return img;
}

void Fill(HostCanvas &canvas, const std::vector<uint32_t> &img, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) canvas.at(x0 + x, y0 + y) = img[static_cast<size_t>(y) * w + x];
}

// The scanline scaler driven directly over a packed image.
std::vector<uint32_t> ScaleDirectly(const std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    ScanlineScaler *s = BeginScaleScanline(sw, sh, dw, dh);
    EXPECT_NE(s, nullptr);
    std::vector<uint32_t> dst(static_cast<size_t>(dw) * dh);
    const uint32_t *srcRow = src.data();
    uint32_t *dstRow = dst.data();
    do {
        ScaleScanline(dstRow, srcRow, s);
        if (s->needInput) srcRow += sw;
        if (s->outputReady) dstRow += dw;
    } while (s->needInput || s->outputReady);
    EndScaleScanline(s);
    return dst;
}

Layer *Window(Layer *parent, int32_t x, int32_t y, int32_t w, int32_t h) {
    Layer *window = CreateClippedLayer(parent);
    ClipLayerXYWH(window, x, y, w, h);
    return window;
}

TEST(ResizeLayerCorrect, EqualRootsSizesReproduceTheSource) {
    std::vector<uint32_t> img = Pattern(6, 5, 1);
    HostCanvas src(6, 5);
    HostCanvas dst(6, 5, 0x12345678u);
    Fill(src, img, 0, 0, 6, 5);
    EXPECT_EQ(ResizeLayerCorrect(dst.layer(), src.layer()), 1);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            uint32_t p = img[static_cast<size_t>(y) * 6 + x];
            EXPECT_EQ(dst.at(x, y), (p >> 24) == 0 ? 0u : p) << x << "," << y;
        }
}

TEST(ResizeLayerCorrect, ScalesVisibleRegionOntoVisibleRegion) {
    // The source window is cut by its root's right edge and the destination
    // window by its root's bottom edge; strides are wider than the layers and
    // the destination buffer is bottom-up.
    HostCanvas srcRoot(20, 12, 0, 23);
    HostCanvas dstRoot(16, 9, 0xA5A5A5A5u, 19, true);
    std::vector<uint32_t> img = Pattern(20, 12, 2);
    Fill(srcRoot, img, 0, 0, 20, 12);
    Layer *srcWindow = Window(srcRoot.layer(), 13, 2, 10, 9);  // visible 7 x 9 at (13, 2)
    Layer *dstWindow = Window(dstRoot.layer(), 3, 4, 11, 8);   // visible 11 x 5 at (3, 4)
    EXPECT_EQ(ResizeLayerCorrect(dstWindow, srcWindow), 1);

    std::vector<uint32_t> region;
    for (int32_t y = 2; y < 11; ++y)
        for (int32_t x = 13; x < 20; ++x) region.push_back(srcRoot.at(x, y));
    std::vector<uint32_t> expected = ScaleDirectly(region, 7, 9, 11, 5);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 19; ++x) {
            bool inside = x >= 3 && x < 14 && y >= 4;
            uint32_t want = inside ? expected[static_cast<size_t>(y - 4) * 11 + (x - 3)] : 0xA5A5A5A5u;
            EXPECT_EQ(dstRoot.at(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(srcRoot.layer()->accessCount, 0);
    EXPECT_EQ(dstRoot.layer()->accessCount, 0);
    DeleteLayer(srcWindow);
    DeleteLayer(dstWindow);
    EXPECT_EQ(srcRoot.layer()->refCount, 1);
    EXPECT_EQ(dstRoot.layer()->refCount, 1);
}

TEST(ResizeLayerCorrect, FailsWithoutAnAccessAndLeavesCountsAsTheyWere) {
    HostCanvas a(8, 8, 0xFF00FF00u);
    HostCanvas b(4, 4, 0xFF0000FFu);
    Layer *outside = Window(a.layer(), 40, 40, 4, 4);
    EXPECT_EQ(ResizeLayerCorrect(nullptr, b.layer()), 0);
    EXPECT_EQ(ResizeLayerCorrect(b.layer(), nullptr), 0);
    EXPECT_EQ(ResizeLayerCorrect(b.layer(), outside), 0);
    EXPECT_EQ(ResizeLayerCorrect(outside, b.layer()), 0);
    EXPECT_EQ(a.layer()->accessCount, 0);
    EXPECT_EQ(b.layer()->accessCount, 0);
    EXPECT_EQ(a.layer()->refCount, 2);
    EXPECT_EQ(b.layer()->refCount, 1);
    EXPECT_EQ(b.at(0, 0), 0xFF0000FFu);
    DeleteLayer(outside);
}

TEST(ResizeLayerCorrect, SharedStorageScalesThroughATemporaryLayer) {
    HostCanvas root(12, 6, 0x11111111u);
    // Four opaque 2 x 2 blocks in the left 4 x 4 square.
    const uint32_t blocks[4] = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) root.at(x, y) = blocks[(y / 2) * 2 + x / 2];
    Layer *src = Window(root.layer(), 0, 0, 4, 4);
    Layer *dst = Window(root.layer(), 6, 1, 2, 2);
    EXPECT_EQ(ResizeLayerCorrect(dst, src), 1);
    EXPECT_EQ(root.at(6, 1), blocks[0]);
    EXPECT_EQ(root.at(7, 1), blocks[1]);
    EXPECT_EQ(root.at(6, 2), blocks[2]);
    EXPECT_EQ(root.at(7, 2), blocks[3]);
    EXPECT_EQ(root.at(5, 1), 0x11111111u);
    EXPECT_EQ(root.at(8, 1), 0x11111111u);
    EXPECT_EQ(root.at(6, 0), 0x11111111u);
    EXPECT_EQ(root.at(6, 3), 0x11111111u);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(root.layer()->refCount, 3);  // the two windows; the temporary is gone

    // A source window reaching outside the buffer is scaled as its visible
    // part; one with nothing visible, or no size, is refused with 0 and the
    // destination keeps its pixels.
    root.at(11, 5) = 0xFF00FF00u;
    ClipLayerXYWH(src, 10, 4, 8, 8);
    EXPECT_EQ(ResizeLayerCorrect(dst, src), 1);
    EXPECT_EQ(root.at(6, 1), 0x11111111u);
    EXPECT_EQ(root.at(7, 2), 0xFF00FF00u);
    for (LayerRect hidden : {LayerRect{20, 2, 24, 6}, LayerRect{2, 2, 2, 2}}) {
        root.at(6, 1) = blocks[0];
        ClipLayer(src, &hidden);
        EXPECT_EQ(ResizeLayerCorrect(dst, src), 0);
        EXPECT_EQ(ResizeLayer(dst, src), 0);
        EXPECT_EQ(root.at(6, 1), blocks[0]);
        EXPECT_EQ(root.layer()->accessCount, 0);
    }
    DeleteLayer(src);
    DeleteLayer(dst);
}

// A host whose beginAccess moves the root's buffer and frees the old one:
// windows made before the move must be read where the buffer is now.
int32_t ZL_CALL MoveAndFreeBuffer(Layer *root, void *) {
    size_t count = static_cast<size_t>(root->height) * root->width;
    uint32_t *moved = static_cast<uint32_t *>(std::malloc(count * 4));
    std::memcpy(moved, root->pixels, count * 4);
    std::free(root->pixels);
    root->pixels = moved;
    return 0;
}

TEST(ResizeLayerCorrect, SharedStorageReadsTheBufferWhereBeginAccessMovedIt) {
    std::vector<uint32_t> img = Pattern(4, 4, 5);
    uint32_t *pixels = static_cast<uint32_t *>(std::malloc(8 * 4 * 4));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) pixels[y * 8 + x] = x < 4 ? img[static_cast<size_t>(y) * 4 + x] : 0;
    Layer *root = CreateCompatibleLayer(pixels, 8, 4, 32);
    root->beginAccess = MoveAndFreeBuffer;
    Layer *left = Window(root, 0, 0, 4, 4), *right = Window(root, 4, 0, 4, 4);
    EXPECT_EQ(ResizeLayerCorrect(right, left), 1);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(root->pixels[y * 8 + 4 + x], img[static_cast<size_t>(y) * 4 + x]);
    DeleteLayer(left);
    DeleteLayer(right);
    std::free(root->pixels);
    DeleteLayer(root);
}

TEST(ResizeLayer, HandsTheBoundsInsideTheRootsToQuoravel) {
    HostCanvas srcRoot(6, 3, 0);
    const uint32_t left = 0xFF0000FFu, transparentRed = 0x00FF0000u;
    for (int32_t x = 0; x < 6; ++x) srcRoot.at(x, 1) = x % 2 == 0 ? left : transparentRed;
    Layer *srcWindow = Window(srcRoot.layer(), 2, 1, 4, 1);
    HostCanvas dstRoot(5, 5, 0x77777777u, 7);
    Layer *dstWindow = Window(dstRoot.layer(), 1, 2, 2, 1);
    EXPECT_EQ(ResizeLayer(dstWindow, srcWindow), 1);
    // Each output pixel averages one opaque blue and one transparent red.
    EXPECT_EQ(dstRoot.at(1, 2), 0x800000FFu);
    EXPECT_EQ(dstRoot.at(2, 2), 0x800000FFu);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            if (!(y == 2 && (x == 1 || x == 2))) {
                EXPECT_EQ(dstRoot.at(x, y), 0x77777777u) << x << "," << y;
            }
    EXPECT_EQ(dstRoot.layer()->accessCount, 0);
    DeleteLayer(srcWindow);
    DeleteLayer(dstWindow);
}

TEST(ResizeLayer, RefusesNullLayersAndBoundsOutsideTheBuffer) {
    HostCanvas srcRoot(4, 4, 0xFF010203u);
    HostCanvas dstRoot(4, 4, 0x55555555u);
    EXPECT_EQ(ResizeLayer(nullptr, srcRoot.layer()), 0);
    EXPECT_EQ(ResizeLayer(dstRoot.layer(), nullptr), 0);
    Layer *past = Window(dstRoot.layer(), 2, 2, 4, 4);
    Layer *before = Window(srcRoot.layer(), -1, 0, 2, 2);
    EXPECT_EQ(ResizeLayer(past, srcRoot.layer()), 0);
    EXPECT_EQ(ResizeLayer(dstRoot.layer(), before), 0);
    for (uint32_t p : dstRoot.raw()) EXPECT_EQ(p, 0x55555555u);
    EXPECT_EQ(ResizeLayer(dstRoot.layer(), srcRoot.layer()), 1);
    for (uint32_t p : dstRoot.raw()) EXPECT_EQ(p, 0xFF010203u);
    DeleteLayer(past);
    DeleteLayer(before);
}

// Calls the stand-in with packed buffers of the given widths.
int32_t Convert(const std::vector<uint32_t> &src, int32_t srcStride, LayerRect s, std::vector<uint32_t> &dst,
                int32_t dstStride, LayerRect d, uint32_t format = QV_FORMAT_ARGB, int32_t reserved = 0) {
    return ExportedQV_CopyScaleConvert(src.data(), srcStride * 4, format, s.left, s.top, s.right, s.bottom,
                                       dst.data(), dstStride * 4, QV_FORMAT_ARGB, d.left, d.top, d.right, d.bottom,
                                       reserved);
}

TEST(Quoravel, EqualSizesCopyExactly) {
    std::vector<uint32_t> src = Pattern(5, 4, 9);
    std::vector<uint32_t> dst(7 * 6, 0xEEEEEEEEu);
    EXPECT_EQ(Convert(src, 5, {1, 1, 4, 4}, dst, 7, {3, 2, 6, 5}), 1);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 7; ++x) {
            bool inside = x >= 3 && x < 6 && y >= 2 && y < 5;
            uint32_t want = inside ? src[static_cast<size_t>(y - 1) * 5 + (x - 2)] : 0xEEEEEEEEu;
            EXPECT_EQ(dst[static_cast<size_t>(y) * 7 + x], want) << x << "," << y;
        }
}

TEST(Quoravel, AveragesColourWeightedByAlpha) {
    std::vector<uint32_t> dst(1, 0);
    EXPECT_EQ(Convert({0xFF0000FFu, 0x00FF0000u}, 2, {0, 0, 2, 1}, dst, 1, {0, 0, 1, 1}), 1);
    EXPECT_EQ(dst[0], 0x800000FFu);  // blue not darkened, red not mixed in
    dst.assign(2, 0);
    EXPECT_EQ(Convert({0xFF000000u, 0xFF00005Au, 0xFF0000D2u}, 3, {0, 0, 3, 1}, dst, 2, {0, 0, 2, 1}), 1);
    EXPECT_EQ(dst[0], 0xFF00001Eu);  // (0 + 90 / 2) / 1.5 = 30
    EXPECT_EQ(dst[1], 0xFF0000AAu);  // (90 / 2 + 210) / 1.5 = 170
    dst.assign(3, 0);
    EXPECT_EQ(Convert({0x80112233u}, 1, {0, 0, 1, 1}, dst, 3, {0, 0, 3, 1}), 1);
    EXPECT_EQ(dst, std::vector<uint32_t>(3, 0x80112233u));
}

TEST(Quoravel, RefusesBadArgumentsWithoutWriting) {
    std::vector<uint32_t> src = Pattern(4, 4, 5);
    std::vector<uint32_t> dst(16, 0x99999999u);
    const std::vector<uint32_t> untouched = dst;
    EXPECT_EQ(Convert(src, 4, {0, 0, 4, 4}, dst, 4, {0, 0, 2, 2}, 0x62677261u), 0);
    EXPECT_EQ(Convert(src, 4, {0, 0, 4, 4}, dst, 4, {0, 0, 2, 2}, QV_FORMAT_ARGB, 1), 0);
    EXPECT_EQ(Convert(src, 4, {0, 0, 0, 4}, dst, 4, {0, 0, 2, 2}), 0);
    EXPECT_EQ(Convert(src, 4, {0, 3, 4, 1}, dst, 4, {0, 0, 2, 2}), 0);
    EXPECT_EQ(Convert(src, 4, {0, 0, 4, 4}, dst, 4, {2, 0, 1, 2}), 0);
    EXPECT_EQ(Convert(src, 4, {0, 0, 4, 4}, dst, 4, {0, 2, 2, 2}), 0);
    EXPECT_EQ(ExportedQV_CopyScaleConvert(nullptr, 16, QV_FORMAT_ARGB, 0, 0, 4, 4, dst.data(), 16, QV_FORMAT_ARGB,
                                          0, 0, 2, 2, 0),
              0);
    EXPECT_EQ(ExportedQV_CopyScaleConvert(src.data(), 16, QV_FORMAT_ARGB, 0, 0, 4, 4, nullptr, 16, QV_FORMAT_ARGB,
                                          0, 0, 2, 2, 0),
              0);
    EXPECT_EQ(dst, untouched);
}

TEST(Quoravel, StaysInsideBothRectangles) {
    // Each rectangle is the last pixels of its own heap block, so a read or
    // write past it is caught by the address checks of the native build.
    const int32_t sizes[][4] = {{7, 5, 3, 2}, {3, 2, 7, 5}, {5, 5, 5, 5}, {9, 1, 1, 9}};
    for (const auto &z : sizes) {
        std::vector<uint32_t> src = Pattern(z[0], z[1], 3);
        std::vector<uint32_t> dst(static_cast<size_t>(z[2]) * z[3], 0);
        EXPECT_EQ(Convert(src, z[0], {0, 0, z[0], z[1]}, dst, z[2], {0, 0, z[2], z[3]}), 1);
        // A bottom-up source: the rectangle's last row is the block's first.
        uint32_t *last = &src[static_cast<size_t>(z[1] - 1) * z[0]];
        EXPECT_EQ(ExportedQV_CopyScaleConvert(last, -4 * z[0], QV_FORMAT_ARGB, 0, 0, z[0], z[1], dst.data(), 4 * z[2],
                                              QV_FORMAT_ARGB, 0, 0, z[2], z[3], 0),
                  1);
    }
}

}  // namespace
