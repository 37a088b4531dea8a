#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;
using zltest::Mix;

using zltest::Pattern;

using TwoLayerOp = int32_t(ZL_CALL *)(Layer *, Layer *);

TEST(CompositLayers, OnTopAndOnBottomOfEqualLayers) {
    struct Variant {
        TwoLayerOp op;
        bool writesTop;
    } variants[] = {{CompositOnTopLayer, true},
                    {CompositOnTopLayerCorrect, true},
                    {CompositOnBottomLayer, false},
                    {CompositOnBottomLayerCorrect, false}};
    for (const Variant &v : variants) {
        HostCanvas top(13, 7), bottom(13, 7);
        Pattern(top, 1);
        Pattern(bottom, 2);
        std::vector<uint32_t> topBefore = top.raw(), bottomBefore = bottom.raw();
        EXPECT_EQ(v.op(top.layer(), bottom.layer()), 1);
        const std::vector<uint32_t> &written = v.writesTop ? top.raw() : bottom.raw();
        const std::vector<uint32_t> &untouched = v.writesTop ? bottom.raw() : top.raw();
        EXPECT_EQ(untouched, v.writesTop ? bottomBefore : topBefore);
        for (size_t i = 0; i < written.size(); ++i)
            ASSERT_EQ(Hex(written[i]), Hex(CompositPel(topBefore[i], bottomBefore[i]))) << i;
    }
}

TEST(CompositLayers, PartialOverlapChangesOnlyTheOverlap) {
    // Bottom is a window of a larger canvas, partly outside it, with a
    // stride wider than the canvas and a bottom-up buffer.
    for (bool bottomUp : {false, true}) {
        HostCanvas top(6, 6), canvas(10, 8, 0, 12, bottomUp);
        Pattern(top, 3);
        Pattern(canvas, 4);
        std::vector<uint32_t> before = canvas.raw();
        Layer *window = CreateClippedLayer(canvas.layer());
        ClipLayerXYWH(window, 7, -2, 6, 6);  // visible: x 7..9, y 0..3
        EXPECT_EQ(CompositOnBottomLayer(top.layer(), window), 1);
        HostCanvas reference(10, 8, 0, 12, bottomUp);
        reference.raw() = before;
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 12; ++x) {
                uint32_t expected = reference.at(x, y);
                if (x >= 7 && x < 10 && y < 4) expected = CompositPel(top.at(x - 7, y + 2), expected);
                ASSERT_EQ(Hex(canvas.at(x, y)), Hex(expected)) << x << "," << y;
            }
        }
        DeleteLayer(window);
    }
}

TEST(CompositLayers, TransparentPixelsTakeTheEarlyExits) {
    HostCanvas top(2, 1), bottom(2, 1);
    top.at(0, 0) = 0x00123456;
    bottom.at(0, 0) = 0x80ABCDEF;
    top.at(1, 0) = 0x7F336699;
    bottom.at(1, 0) = 0x00FFFFFF;
    CompositOnTopLayer(top.layer(), bottom.layer());
    EXPECT_EQ(Hex(top.at(0, 0)), "0x80ABCDEF");
    EXPECT_EQ(Hex(top.at(1, 0)), "0x7F336699");
}

TEST(CompositLayers, NullOrMissingLayersChangeNothing) {
    HostCanvas top(2, 2, 0x80FF0000), bottom(2, 2, 0xFF0000FF);
    EXPECT_EQ(CompositOnTopLayer(nullptr, bottom.layer()), 1);
    EXPECT_EQ(CompositOnBottomLayer(nullptr, bottom.layer()), 1);
    EXPECT_EQ(CompositOnTopLayer(top.layer(), nullptr), 1);
    EXPECT_EQ(CompositOnBottomLayer(top.layer(), nullptr), 1);
    EXPECT_EQ(CompositOnOutputLayer(top.layer(), bottom.layer(), nullptr), 1);
    EXPECT_EQ(top.at(1, 1), 0x80FF0000u);
    EXPECT_EQ(bottom.at(1, 1), 0xFF0000FFu);
}

TEST(CompositLayers, OutputOfThreeEqualLayers) {
    for (auto op : {CompositOnOutputLayer, CompositOnOutputLayerCorrect}) {
        HostCanvas top(9, 4), bottom(9, 4), output(9, 4, 0x55555555);
        Pattern(top, 5);
        Pattern(bottom, 6);
        std::vector<uint32_t> topBefore = top.raw(), bottomBefore = bottom.raw();
        EXPECT_EQ(op(top.layer(), bottom.layer(), output.layer()), 1);
        EXPECT_EQ(top.raw(), topBefore);
        EXPECT_EQ(bottom.raw(), bottomBefore);
        for (size_t i = 0; i < output.raw().size(); ++i)
            ASSERT_EQ(Hex(output.raw()[i]), Hex(CompositPel(topBefore[i], bottomBefore[i]))) << i;
    }
}

TEST(CompositLayers, OutputCompositesOnlyWhereAllThreeOverlap) {
    // The top is a window hanging over its own canvas's top-left corner, so
    // its visible part starts at (3, 2); the bottom covers only four rows.
    HostCanvas topCanvas(20, 20), bottom(10, 4), output(10, 10, 0x55555555);
    Pattern(topCanvas, 7);
    Pattern(bottom, 8);
    Layer *top = CreateClippedLayer(topCanvas.layer());
    ClipLayerXYWH(top, -3, -2, 8, 8);
    EXPECT_EQ(CompositOnOutputLayer(top, bottom.layer(), output.layer()), 1);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            uint32_t expected = 0x55555555;
            if (x >= 3 && x < 5 + 3 && y >= 2 && y < 4)
                expected = CompositPel(topCanvas.at(x - 3, y - 2), bottom.at(x, y));
            ASSERT_EQ(Hex(output.at(x, y)), Hex(expected)) << x << "," << y;
        }
    }
    // Disjoint inputs: nothing in common, nothing written.
    HostCanvas lowBottom(10, 1);
    output.raw().assign(100, 0x55555555);
    Layer *shifted = CreateClippedLayer(output.layer());
    ClipLayerXYWH(shifted, 0, 5, 10, 5);
    EXPECT_EQ(CompositOnOutputLayer(top, lowBottom.layer(), shifted), 1);
    for (uint32_t px : output.raw()) ASSERT_EQ(px, 0x55555555u);
    DeleteLayer(shifted);
    DeleteLayer(top);
}

TEST(CompositLayers, OutputWithOneInputMissingCopiesTheOther) {
    HostCanvas top(3, 3, 0x80FF0000), bottom(3, 3, 0x400000FF), output(3, 3, 0x11111111);
    CompositOnOutputLayer(nullptr, bottom.layer(), output.layer());
    EXPECT_EQ(output.at(2, 2), 0x400000FFu);
    CompositOnOutputLayer(top.layer(), nullptr, output.layer());
    EXPECT_EQ(output.at(2, 2), 0x80FF0000u);
    output.raw().assign(9, 0x11111111);
    CompositOnOutputLayer(nullptr, nullptr, output.layer());
    EXPECT_EQ(output.at(2, 2), 0x11111111u);
}

// Which receivers each operation reaches, inside each kind of chain.
class CompositNotifyTest : public zltest::NotifyTest {
protected:
    CompositNotifyTest() : NotifyTest({"top", "bottom", "output"}, {0x80FF0000, 0xFF0000FF, 0}) {}
    HostCanvas &top = Canvas(0), &bottom = Canvas(1), &output = Canvas(2);
};

TEST_F(CompositNotifyTest, OnTopRefreshesTheBottomAndUpdatesTheTop) {
    EXPECT_EQ(InBothChains([&] { CompositOnTopLayer(top.layer(), bottom.layer()); }),
              (std::vector<std::string>{"bottom.refresh", "top.update"}));
}

TEST_F(CompositNotifyTest, OnBottomRefreshesAndUpdatesTheBottom) {
    EXPECT_EQ(InBothChains([&] { CompositOnBottomLayerCorrect(top.layer(), bottom.layer()); }),
              (std::vector<std::string>{"bottom.refresh", "bottom.update"}));
}

TEST_F(CompositNotifyTest, NoOverlapRefreshesButDoesNotUpdate) {
    HostCanvas small(8, 8);
    Layer *outside = CreateClippedLayer(small.layer());
    ClipLayerXYWH(outside, 50, 50, 4, 4);  // invisible as a second layer
    small.layer()->refreshNotifier = RefreshReceiver(1);
    EXPECT_EQ(InBothChains([&] { CompositOnTopLayer(top.layer(), outside); }),
              (std::vector<std::string>{"bottom.refresh"}));
    EXPECT_EQ(top.at(0, 0), 0x80FF0000u);
    DeleteLayer(outside);
}

TEST_F(CompositNotifyTest, OutputRefreshesBothInputsAndUpdatesTheOutput) {
    EXPECT_EQ(InBothChains([&] { CompositOnOutputLayer(top.layer(), bottom.layer(), output.layer()); }),
              (std::vector<std::string>{"top.refresh", "bottom.refresh", "output.update"}));
}

TEST_F(CompositNotifyTest, OutputCopyingOneInputUpdatesTwice) {
    EXPECT_EQ(InBothChains([&] { CompositOnOutputLayer(nullptr, bottom.layer(), output.layer()); }),
              (std::vector<std::string>{"bottom.refresh", "bottom.refresh", "output.update", "output.update"}));
    EXPECT_EQ(output.at(0, 0), 0xFF0000FFu);
}

TEST_F(CompositNotifyTest, OutputWhoseInputsShareNoPixelStillUpdatesTheOutput) {
    // Both inputs overlap the output, but not each other where they are laid
    // on it: nothing is composited, and the output's update still goes out.
    Layer *topLeft = CreateClippedLayer(top.layer());
    ClipLayerXYWH(topLeft, 0, 0, 2, 2);
    Layer *shiftedBottom = CreateClippedLayer(bottom.layer());
    ClipLayerXYWH(shiftedBottom, -2, -2, 4, 4);  // visible part starts at (2, 2)
    EXPECT_EQ(InBothChains([&] { CompositOnOutputLayer(topLeft, shiftedBottom, output.layer()); }),
              (std::vector<std::string>{"top.refresh", "bottom.refresh", "output.update"}));
    for (uint32_t px : output.raw()) EXPECT_EQ(px, 0u);
    DeleteLayer(shiftedBottom);
    DeleteLayer(topLeft);
}

// The documented order of the row loops: row by row from the top, each row
// from left to right, every pixel read just before its composite is stored.
// Where two windows of one buffer overlap, later pixels read what earlier
// ones wrote.
void CompositeInDocumentedOrder(std::vector<uint32_t> &buffer, int32_t stride, int32_t topX, int32_t topY,
                                int32_t bottomX, int32_t bottomY, int32_t width, int32_t height, bool intoTop) {
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t &t = buffer[static_cast<size_t>((topY + y) * stride + topX + x)];
            uint32_t &b = buffer[static_cast<size_t>((bottomY + y) * stride + bottomX + x)];
            uint32_t result = CompositPel(t, b);
            (intoTop ? t : b) = result;
        }
    }
}

// Layers large enough, with rows back to back, to be composited as one run
// stored past the caches: apart, and with the output three rows below the
// top in one buffer, where later rows read what earlier rows wrote.
TEST(CompositLayers, OutputOfLargeLayersWithRowsBackToBack) {
    constexpr int32_t kW = 1024, kH = 512;
    for (bool shared : {false, true}) {
        HostCanvas canvas(kW, kH + 3), bottom(kW, kH), apart(kW, kH);
        Pattern(canvas, 7);
        Pattern(bottom, 8);
        Layer *top = CreateClippedLayer(canvas.layer());
        Layer *output = shared ? CreateClippedLayer(canvas.layer()) : apart.layer();
        ClipLayerXYWH(top, 0, 0, kW, kH);
        if (shared) ClipLayerXYWH(output, 0, 3, kW, kH);
        std::vector<uint32_t> in = canvas.raw(), out = shared ? in : apart.raw();
        const size_t outAt = shared ? 3 * kW : 0;
        for (size_t i = 0; i < static_cast<size_t>(kW) * kH; ++i) {
            uint32_t t = shared ? out[i] : in[i];
            out[outAt + i] = CompositPel(t, bottom.raw()[i]);
        }
        EXPECT_EQ(CompositOnOutputLayer(top, bottom.layer(), output), 1);
        const std::vector<uint32_t> &got = shared ? canvas.raw() : apart.raw();
        for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(Hex(got[i]), Hex(out[i])) << shared << " at " << i;
        if (shared) DeleteLayer(output);
        DeleteLayer(top);
    }
}

TEST(CompositLayers, OverlappingWindowsOfOneBufferFollowTheDocumentedOrder) {
    struct Case {
        int32_t topX, topY, bottomX, bottomY;
    } cases[] = {
        {3, 0, 0, 0},  // the written window lies right of the read one
        {0, 0, 3, 0},  // ... left of it
        {1, 2, 0, 0},  // below and to the right: rows read what rows wrote
        {0, 0, 1, 2},
    };
    for (bool intoTop : {true, false}) {
        for (const Case &k : cases) {
            HostCanvas canvas(12, 9);
            for (size_t i = 0; i < canvas.raw().size(); ++i)
                canvas.raw()[i] = (Mix(static_cast<uint32_t>(i) + 99) & 0x7FFFFFFF) | 0x10000000;
            std::vector<uint32_t> expected = canvas.raw();
            CompositeInDocumentedOrder(expected, 12, k.topX, k.topY, k.bottomX, k.bottomY, 8, 6, intoTop);
            Layer *topWindow = CreateClippedLayer(canvas.layer());
            Layer *bottomWindow = CreateClippedLayer(canvas.layer());
            ClipLayerXYWH(topWindow, k.topX, k.topY, 8, 6);
            ClipLayerXYWH(bottomWindow, k.bottomX, k.bottomY, 8, 6);
            if (intoTop)
                CompositOnTopLayer(topWindow, bottomWindow);
            else
                CompositOnBottomLayer(topWindow, bottomWindow);
            for (size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(Hex(canvas.raw()[i]), Hex(expected[i]))
                    << (intoTop ? "on top " : "on bottom ") << k.topX << "," << k.topY << " / " << k.bottomX
                    << "," << k.bottomY << " at " << i;
            DeleteLayer(bottomWindow);
            DeleteLayer(topWindow);
        }
    }
}

}  // namespace
