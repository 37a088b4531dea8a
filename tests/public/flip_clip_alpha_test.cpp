// Mirroring layers and shrinking windows to their non-transparent pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "test_support.h"

namespace {

using zltest::ExpectRect;
using zltest::HostCanvas;

void Number(HostCanvas &canvas) {
    for (size_t i = 0; i < canvas.raw().size(); ++i) canvas.raw()[i] = 0xFF000000u | static_cast<uint32_t>(i);
}

TEST(FlipLayer, DocumentedRowsAndColumns) {
    HostCanvas three(3, 1), four(4, 1), rows(2, 3);
    three.raw() = {0xA, 0xB, 0xC};
    four.raw() = {0xA, 0xB, 0xC, 0xD};
    rows.raw() = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(FlipHorzLayer(three.layer()), 1);
    EXPECT_EQ(FlipHorzLayer(four.layer()), 1);
    EXPECT_EQ(FlipVertLayer(rows.layer()), 1);
    EXPECT_EQ(three.raw(), (std::vector<uint32_t>{0xC, 0xB, 0xA}));
    EXPECT_EQ(four.raw(), (std::vector<uint32_t>{0xD, 0xC, 0xB, 0xA}));
    EXPECT_EQ(rows.raw(), (std::vector<uint32_t>{5, 6, 3, 4, 1, 2}));
}

TEST(FlipLayer, OddAndEvenSizesWithStridesAndBottomUpBuffers) {
    for (int32_t w : {1, 2, 5, 8}) {
        for (int32_t h : {1, 2, 3, 6}) {
            for (bool bottomUp : {false, true}) {
                HostCanvas canvas(w, h, 0, w + 2, bottomUp);
                Number(canvas);
                std::vector<uint32_t> before = canvas.raw();
                HostCanvas copy(w, h, 0, w + 2, bottomUp);
                copy.raw() = before;
                FlipHorzLayer(canvas.layer());
                FlipVertLayer(copy.layer());
                for (int32_t y = 0; y < h; ++y) {
                    for (int32_t x = 0; x < w + 2; ++x) {
                        int32_t row = bottomUp ? h - 1 - y : y;
                        uint32_t was = before[static_cast<size_t>(row) * (w + 2) + x];
                        if (x >= w) {  // the stride's spare columns are not the layer's
                            ASSERT_EQ(canvas.at(x, y), was);
                            ASSERT_EQ(copy.at(x, y), was);
                            continue;
                        }
                        int32_t mirrorRow = bottomUp ? y : h - 1 - y;
                        ASSERT_EQ(canvas.at(w - 1 - x, y), was) << w << "x" << h << " " << x << "," << y;
                        ASSERT_EQ(copy.raw()[static_cast<size_t>(mirrorRow) * (w + 2) + x], was)
                            << w << "x" << h << " " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(FlipLayer, AClippedWindowPartlyOutsideMirrorsItsVisiblePartOnly) {
    HostCanvas canvas(6, 5);
    Number(canvas);
    std::vector<uint32_t> before = canvas.raw();
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, 3, -2, 10, 5);  // visible: columns 3-5, rows 0-2
    FlipHorzLayer(window);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            bool inside = x >= 3 && y < 3;
            uint32_t want = before[static_cast<size_t>(y) * 6 + (inside ? 3 + 5 - x : x)];
            ASSERT_EQ(canvas.at(x, y), want) << x << "," << y;
        }
    canvas.raw() = before;
    FlipVertLayer(window);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            bool inside = x >= 3 && y < 3;
            uint32_t want = before[static_cast<size_t>(inside ? 2 - y : y) * 6 + x];
            ASSERT_EQ(canvas.at(x, y), want) << x << "," << y;
        }
    // Wholly outside, or null: nothing happens and 1 is returned.
    ClipLayerXYWH(window, 20, 20, 3, 3);
    canvas.raw() = before;
    EXPECT_EQ(FlipHorzLayer(window), 1);
    EXPECT_EQ(FlipVertLayer(window), 1);
    EXPECT_EQ(FlipHorzLayer(nullptr), 1);
    EXPECT_EQ(FlipVertLayer(nullptr), 1);
    EXPECT_EQ(canvas.raw(), before);
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    DeleteLayer(window);
}

TEST(ClipToAlpha, ShrinksAWindowToItsNonTransparentPixels) {
    HostCanvas canvas(100, 100, 0x00FFFFFF);
    canvas.at(10, 20) = 0x01000000;
    canvas.at(30, 25) = 0x80123456;
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, 0, 0, 100, 100);
    EXPECT_EQ(ClipToAlphaLayer(window), 1);
    ExpectRect(window->clipRect, 10, 20, 31, 26);
    EXPECT_EQ(ClipToAlphaLayer(window), 1);
    ExpectRect(window->clipRect, 10, 20, 31, 26);
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    DeleteLayer(window);
}

TEST(ClipToAlpha, InsideANestedWindow) {
    HostCanvas canvas(50, 50, 0);
    canvas.at(22, 17) = 0xFF000001;
    canvas.at(25, 19) = 0xFF000001;
    Layer *outer = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(outer, 10, 10, 30, 30);
    Layer *inner = CreateClippedLayer(outer);
    ClipLayerXYWH(inner, 5, 5, 20, 20);  // root (15, 15) to (35, 35)
    ClipToAlphaLayer(inner);
    ExpectRect(inner->clipRect, 12, 7, 16, 10);  // in the outer window's coordinates
    ExpectRect(inner->bounds, 22, 17, 26, 20);
    DeleteLayer(inner);
    DeleteLayer(outer);
}

TEST(ClipToAlpha, AWindowCutOffAtItsLeftAndTopLandsOnThePixelsFound) {
    // The window starts 5 pixels left of and above the canvas, so its first
    // visible pixel is its own (5, 5). The new window must hold the pixel.
    HostCanvas canvas(40, 40, 0);
    canvas.at(3, 4) = 0xFF00FF00;
    canvas.at(6, 9) = 0x80FF0000;
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, -5, -5, 20, 20);
    ClipToAlphaLayer(window);
    ExpectRect(window->clipRect, 3, 4, 7, 10);
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, window, nullptr), 1);
    EXPECT_EQ(access.width, 4);
    EXPECT_EQ(access.height, 6);
    EXPECT_EQ(access.pixels[0], 0xFF00FF00u);
    EndLayerAccess(&access);
    DeleteLayer(window);
}

TEST(ClipToAlpha, RootsTransparentLayersAndFailedAccessesStayAsTheyAre) {
    HostCanvas root(8, 8, 0);
    root.at(3, 3) = 0xFF000000;
    EXPECT_EQ(ClipToAlphaLayer(root.layer()), 1);
    ExpectRect(root.layer()->bounds, 0, 0, 8, 8);
    ExpectRect(root.layer()->clipRect, 0, 0, 0, 0);

    HostCanvas clear(8, 8, 0x00FFFFFF);
    Layer *window = CreateClippedLayer(clear.layer());
    ClipLayerXYWH(window, 1, 2, 5, 5);
    EXPECT_EQ(ClipToAlphaLayer(window), 1);
    ExpectRect(window->clipRect, 1, 2, 6, 7);
    ClipLayerXYWH(window, 30, 30, 5, 5);
    EXPECT_EQ(ClipToAlphaLayer(window), 1);
    ExpectRect(window->clipRect, 30, 30, 35, 35);
    EXPECT_EQ(ClipToAlphaLayer(nullptr), 1);
    EXPECT_EQ(clear.layer()->accessCount, 0);
    DeleteLayer(window);
}

TEST(ClipToAlphaEx, ReportsTheBoxOfARoot) {
    HostCanvas root(64, 32, 0);
    root.at(5, 6) = 0xFF000000;
    int32_t x = -1, y = -1, w = -1, h = -1;
    Layer *child = ClipToAlphaLayerEx(root.layer(), &x, &y, &w, &h);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->flags, 2u);
    EXPECT_EQ(child->parent, root.layer());
    ExpectRect(child->clipRect, 5, 6, 6, 7);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(root.layer()->refCount, 2);
    Layer *quiet = ClipToAlphaLayerEx(root.layer(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(quiet, nullptr);
    ExpectRect(quiet->clipRect, 5, 6, 6, 7);
    EXPECT_EQ(DeleteLayer(quiet), 1);
    EXPECT_EQ(DeleteLayer(child), 1);
    EXPECT_EQ(root.layer()->refCount, 1);
}

TEST(ClipToAlphaEx, TransparentLayersAndNull) {
    HostCanvas root(7, 3, 0x00FFFFFF);
    int32_t x = -1, y = -1, w = -1, h = -1;
    Layer *child = ClipToAlphaLayerEx(root.layer(), &x, &y, &w, &h);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 3);
    DeleteLayer(child);
    x = y = w = h = 42;
    EXPECT_EQ(ClipToAlphaLayerEx(nullptr, &x, &y, &w, &h), nullptr);
    EXPECT_EQ(x + y + w + h, 4 * 42) << "nothing written";
}

}  // namespace
