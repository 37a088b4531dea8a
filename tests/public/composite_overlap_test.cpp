// Layers that are windows of one buffer, composited onto one another: rows
// top to bottom, pixels left to right, each pixel pair read before the pixel
// is written, whatever loop the library runs inside.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;
using zltest::Mix;

constexpr int32_t kCanvasW = 48, kCanvasH = 12;
constexpr int32_t kW = 23, kH = 4;
constexpr int32_t kBaseX = 10, kBaseY = 4;

void Pattern(HostCanvas &canvas) {
    for (size_t i = 0; i < canvas.raw().size(); ++i) {
        uint32_t v = Mix(static_cast<uint32_t>(i) * 13 + 5);
        switch (v % 4) {
            case 0: v &= 0x00FFFFFF; break;
            case 1: v |= 0xFF000000; break;
            default: break;
        }
        canvas.raw()[i] = v;
    }
}

struct Window {
    int32_t x, y;
};

Layer *OpenWindow(HostCanvas &canvas, Window w) {
    Layer *layer = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(layer, w.x, w.y, kW, kH);
    return layer;
}

// The documented order, pixel by pixel, on a copy of the canvas.
void CompositeInOrder(HostCanvas &canvas, Window top, Window bottom, Window out) {
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            uint32_t t = canvas.at(top.x + x, top.y + y);
            uint32_t b = canvas.at(bottom.x + x, bottom.y + y);
            canvas.at(out.x + x, out.y + y) = CompositPel(t, b);
        }
    }
}

enum class Written { Top, Bottom, Output };

void ExpectPlainOrder(Written written, Window top, Window bottom, Window out) {
    HostCanvas canvas(kCanvasW, kCanvasH), expected(kCanvasW, kCanvasH);
    Pattern(canvas);
    Pattern(expected);
    Layer *topLayer = OpenWindow(canvas, top);
    Layer *bottomLayer = OpenWindow(canvas, bottom);
    Layer *outLayer = OpenWindow(canvas, out);
    switch (written) {
        case Written::Top: EXPECT_EQ(CompositOnTopLayer(topLayer, bottomLayer), 1); break;
        case Written::Bottom: EXPECT_EQ(CompositOnBottomLayer(topLayer, bottomLayer), 1); break;
        case Written::Output: EXPECT_EQ(CompositOnOutputLayer(topLayer, bottomLayer, outLayer), 1); break;
    }
    CompositeInOrder(expected, top, bottom, out);
    for (size_t i = 0; i < canvas.raw().size(); ++i) {
        ASSERT_EQ(Hex(canvas.raw()[i]), Hex(expected.raw()[i]))
            << "pixel " << i << " top " << top.x << "," << top.y << " bottom " << bottom.x << "," << bottom.y
            << " out " << out.x << "," << out.y;
    }
    DeleteLayer(outLayer);
    DeleteLayer(bottomLayer);
    DeleteLayer(topLayer);
}

TEST(CompositOverlappingWindows, OnTopAndOnBottomAtEverySmallOffset) {
    Window base{kBaseX, kBaseY};
    for (int32_t dy = -2; dy <= 2; ++dy) {
        for (int32_t dx = -9; dx <= 9; ++dx) {
            Window other{kBaseX + dx, kBaseY + dy};
            ExpectPlainOrder(Written::Top, base, other, base);
            ExpectPlainOrder(Written::Bottom, other, base, base);
        }
    }
}

TEST(CompositOverlappingWindows, OutputOverlappingEitherInputAtEverySmallOffset) {
    Window top{kBaseX, kBaseY};
    Window bottom{kBaseX + 3, kBaseY + 1};
    for (int32_t dy = -2; dy <= 2; ++dy) {
        for (int32_t dx = -9; dx <= 9; ++dx) {
            ExpectPlainOrder(Written::Output, top, bottom, Window{top.x + dx, top.y + dy});
            ExpectPlainOrder(Written::Output, top, bottom, Window{bottom.x + dx, bottom.y + dy});
        }
    }
}

// A run through CompositPels whose output starts a few pixels past an input.
TEST(CompositOverlappingWindows, CompositPelsOverItsOwnInputs) {
    std::vector<uint32_t> original(80);
    for (size_t i = 0; i < original.size(); ++i) original[i] = Mix(static_cast<uint32_t>(i) + 99) | ((i % 3) ? 0 : 0xFF000000u);
    for (int32_t shift = -8; shift <= 8; ++shift) {
        std::vector<uint32_t> fast = original, plain = original;
        int32_t outAt = 20 + shift;
        uint32_t last = CompositPels(&fast[20], &fast[30], &fast[outAt], 40);
        for (int32_t i = 0; i < 40; ++i) plain[outAt + i] = CompositPel(plain[20 + i], plain[30 + i]);
        EXPECT_EQ(fast, plain) << "shift " << shift;
        EXPECT_EQ(Hex(last), Hex(plain[outAt + 39]));
        fast = original;
        CompositPelsNonMMX(&fast[30], &fast[20], &fast[outAt], 40);
        plain = original;
        for (int32_t i = 0; i < 40; ++i) plain[outAt + i] = CompositPel(plain[30 + i], plain[20 + i]);
        EXPECT_EQ(fast, plain) << "shift " << shift;
    }
}

}  // namespace
