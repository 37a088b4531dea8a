// Two layers slid beneath an output, and three layers stacked into it.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;
using zltest::Mix;

using zltest::Pattern;

// A layer whose visible part, in its own coordinates, is exactly
// [left, right) x [top, bottom): a window onto a canvas of that size, cut off
// by the canvas at its left and top. Co-registered with an output at their
// top-left corners, it covers those output pixels.
class Placed {
public:
    Placed(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t seed)
        : left_(left), top_(top), canvas_(right - left, bottom - top) {
        Pattern(canvas_, seed);
        window_ = CreateClippedLayer(canvas_.layer());
        ClipLayerXYWH(window_, -left, -top, right, bottom);
    }
    ~Placed() { DeleteLayer(window_); }
    Layer *layer() const { return window_; }
    bool Covers(int32_t x, int32_t y) const {
        return x >= left_ && y >= top_ && x - left_ < canvas_.width() && y - top_ < canvas_.height();
    }
    uint32_t At(int32_t x, int32_t y) { return canvas_.at(x - left_, y - top_); }
    std::vector<uint32_t> &raw() { return canvas_.raw(); }

private:
    int32_t left_, top_;
    HostCanvas canvas_;
    Layer *window_ = nullptr;
};

// The output pixel under both layers: the output on top, the first layer
// beneath it, the second beneath both.
std::vector<uint32_t> ExpectedTwoLayer(HostCanvas &output, Placed *first, Placed *second) {
    std::vector<uint32_t> expected;
    for (int32_t y = 0; y < output.height(); ++y) {
        for (int32_t x = 0; x < output.width(); ++x) {
            uint32_t p = output.at(x, y);
            if (first != nullptr && first->Covers(x, y)) p = CompositPel(p, first->At(x, y));
            if (second != nullptr && second->Covers(x, y)) p = CompositPel(p, second->At(x, y));
            expected.push_back(p);
        }
    }
    return expected;
}

void CheckTwoLayer(int32_t w, int32_t h, Placed *first, Placed *second, void (*shape)(HostCanvas &) = nullptr) {
    HostCanvas output(w, h);
    Pattern(output, 99);
    if (shape != nullptr) shape(output);
    std::vector<uint32_t> expected = ExpectedTwoLayer(output, first, second);
    std::vector<uint32_t> firstBefore, secondBefore;
    if (first) firstBefore = first->raw();
    if (second) secondBefore = second->raw();
    EXPECT_EQ(TwoLayerComposit(output.layer(), first ? first->layer() : nullptr, second ? second->layer() : nullptr),
              1);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(Hex(output.at(x, y)), Hex(expected[static_cast<size_t>(y) * w + x])) << x << "," << y;
    if (first) {
        EXPECT_EQ(first->raw(), firstBefore);
    }
    if (second) {
        EXPECT_EQ(second->raw(), secondBefore);
    }
}

TEST(TwoLayerComposit, BothLayersCoverTheWholeOutput) {
    Placed first(0, 0, 12, 9, 1), second(0, 0, 12, 9, 2);
    CheckTwoLayer(12, 9, &first, &second);
}

TEST(TwoLayerComposit, OpaqueStretchesOfTheOutputBetweenBlendedOnes) {
    Placed first(0, 0, 2100, 3, 21), second(0, 0, 2100, 3, 22);
    // Opaque after a blend partway through a row, at the start of a row
    // after a blended one, and from a row's start into a blend.
    CheckTwoLayer(2100, 3, &first, &second, [](HostCanvas &output) {
        for (int32_t x = 0; x < 2100; ++x) {
            if (x >= 1024 && x < 2048) output.raw()[x] |= 0xFF000000u;
            if (x < 1024) output.raw()[2100 + x] |= 0xFF000000u;
            if (x < 300) output.raw()[4200 + x] |= 0xFF000000u;
        }
    });
}

TEST(TwoLayerComposit, VerticalRunsWithAGapBetween) {
    Placed first(0, 0, 10, 10, 3), second(0, 20, 10, 30, 4);
    CheckTwoLayer(10, 30, &first, &second);
    // The rows in between are passed over; wider output columns too.
    Placed narrowFirst(2, 0, 8, 10, 5), narrowSecond(2, 20, 8, 30, 6);
    CheckTwoLayer(12, 32, &narrowFirst, &narrowSecond);
    CheckTwoLayer(12, 32, &narrowSecond, &narrowFirst);
}

TEST(TwoLayerComposit, HorizontalOverlapAndOneInsideTheOther) {
    Placed first(0, 0, 10, 6, 7), second(5, 0, 15, 6, 8);
    CheckTwoLayer(16, 6, &first, &second);
    CheckTwoLayer(16, 6, &second, &first);
    Placed inner(5, 0, 10, 6, 9), outer(0, 0, 10, 6, 10);
    CheckTwoLayer(10, 6, &inner, &outer);
    CheckTwoLayer(10, 6, &outer, &inner);
}

TEST(TwoLayerComposit, StaggeredInBothDirections) {
    Placed first(1, 2, 9, 11, 11), second(4, 6, 14, 15, 12);
    CheckTwoLayer(16, 16, &first, &second);
    CheckTwoLayer(16, 16, &second, &first);
    Placed apart(0, 0, 4, 4, 13), far(9, 8, 13, 12, 14);  // disjoint in x and in y
    CheckTwoLayer(14, 13, &apart, &far);
    CheckTwoLayer(14, 13, &far, &apart);
    Placed cross1(3, 0, 6, 12, 15), cross2(0, 4, 12, 7, 16);  // a plus sign
    CheckTwoLayer(12, 12, &cross1, &cross2);
}

TEST(TwoLayerComposit, LayersPartlyOutsideTheOutputAreCutToIt) {
    Placed first(2, 3, 30, 30, 17), second(0, 0, 5, 40, 18);
    CheckTwoLayer(8, 9, &first, &second);
}

TEST(TwoLayerComposit, ALayerThatMissesTheOutputIsLeftOut) {
    Placed first(1, 1, 7, 5, 19), missing(50, 50, 60, 60, 20);
    CheckTwoLayer(8, 6, &first, nullptr);
    HostCanvas output(8, 6), reference(8, 6);
    Pattern(output, 21);
    Pattern(reference, 21);
    TwoLayerComposit(output.layer(), first.layer(), missing.layer());
    TwoLayerComposit(reference.layer(), first.layer(), nullptr);
    EXPECT_EQ(output.raw(), reference.raw());
    // Only the second layer, the first missing the output.
    CheckTwoLayer(8, 6, nullptr, &first);
    HostCanvas alone(8, 6);
    Pattern(alone, 22);
    std::vector<uint32_t> expected = ExpectedTwoLayer(alone, nullptr, &first);
    TwoLayerComposit(alone.layer(), missing.layer(), first.layer());
    EXPECT_EQ(alone.raw(), expected);
}

TEST(TwoLayerComposit, TheOutputStaysOnTop) {
    HostCanvas output(3, 1);
    output.at(0, 0) = 0xFF102030;  // opaque: unchanged
    output.at(1, 0) = 0x00FFFFFF;  // transparent: becomes the layer pixel
    output.at(2, 0) = 0x00FFFFFF;
    HostCanvas layer(3, 1);
    layer.at(0, 0) = 0xFF0000FF;
    layer.at(1, 0) = 0x80ABCDEF;
    layer.at(2, 0) = 0x00123456;  // transparent layer pixel under a transparent output
    EXPECT_EQ(TwoLayerComposit(output.layer(), layer.layer(), nullptr), 1);
    EXPECT_EQ(output.at(0, 0), 0xFF102030u);
    EXPECT_EQ(output.at(1, 0), 0x80ABCDEFu);
    EXPECT_EQ(output.at(2, 0), 0x00FFFFFFu) << "the output is the top of the blend";
}

TEST(TwoLayerComposit, AWindowedOutputIsWrittenOnlyInsideItsWindow) {
    HostCanvas canvas(20, 20);
    Pattern(canvas, 23);
    std::vector<uint32_t> before = canvas.raw();
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, 5, 4, 9, 8);
    Placed first(0, 0, 6, 8, 24), second(3, 2, 12, 12, 25);
    EXPECT_EQ(TwoLayerComposit(window, first.layer(), second.layer()), 1);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            uint32_t was = before[static_cast<size_t>(y) * 20 + x];
            int32_t ox = x - 5, oy = y - 4;
            if (ox < 0 || oy < 0 || ox >= 9 || oy >= 8) {
                ASSERT_EQ(canvas.at(x, y), was) << x << "," << y;
                continue;
            }
            uint32_t p = was;
            if (first.Covers(ox, oy)) p = CompositPel(p, first.At(ox, oy));
            if (second.Covers(ox, oy)) p = CompositPel(p, second.At(ox, oy));
            ASSERT_EQ(Hex(canvas.at(x, y)), Hex(p)) << x << "," << y;
        }
    }
    DeleteLayer(window);
}

TEST(TwoLayerComposit, AnOutputCutOffAtItsLeftAndTopKeepsItsOwnCorner) {
    // The output window starts 3 columns left of and 2 rows above its canvas:
    // its visible part begins at its own (3, 2), and the layers, laid at the
    // output's own corner, meet the canvas with that offset.
    HostCanvas canvas(10, 8);
    Pattern(canvas, 40);
    std::vector<uint32_t> before = canvas.raw();
    Layer *output = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(output, -3, -2, 13, 10);
    Placed first(0, 0, 12, 12, 41), second(1, 0, 6, 9, 42);
    EXPECT_EQ(TwoLayerComposit(output, first.layer(), second.layer()), 1);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 10; ++x) {
            int32_t ox = x + 3, oy = y + 2;
            uint32_t p = before[static_cast<size_t>(y) * 10 + x];
            if (first.Covers(ox, oy)) p = CompositPel(p, first.At(ox, oy));
            if (second.Covers(ox, oy)) p = CompositPel(p, second.At(ox, oy));
            ASSERT_EQ(Hex(canvas.at(x, y)), Hex(p)) << x << "," << y;
        }
    DeleteLayer(output);
}

TEST(TwoLayerComposit, WindowsWhoseCornerWrapsAroundThe32BitRange) {
    // Windows that start at -2^31 and reach 1: their visible part is pixel
    // (0, 0) of each canvas, 2^31 columns into the window, where the window's
    // corner plus that offset wraps around. Only that pixel is touched.
    HostCanvas canvas(2, 2, 0xFF102030), under(2, 2, 0x80C0C0C0), beneath(2, 2, 0x40A0B0C0);
    Layer *windows[3];
    HostCanvas *canvases[3] = {&canvas, &under, &beneath};
    for (int k = 0; k < 3; ++k) {
        windows[k] = CreateClippedLayer(canvases[k]->layer());
        LayerRect rect{INT_MIN, 0, 1, 1};
        ASSERT_EQ(ClipLayer(windows[k], &rect), 1);
    }
    canvas.at(0, 0) = 0x00000000;  // transparent: the layers show through
    EXPECT_EQ(TwoLayerComposit(windows[0], windows[1], windows[2]), 1);
    EXPECT_EQ(Hex(canvas.at(0, 0)), Hex(CompositPel(CompositPel(0x00000000, 0x80C0C0C0), 0x40A0B0C0)));
    EXPECT_EQ(Hex(canvas.at(1, 0)), Hex(0xFF102030));
    EXPECT_EQ(Hex(canvas.at(0, 1)), Hex(0xFF102030));
    EXPECT_EQ(under.raw(), std::vector<uint32_t>(4, 0x80C0C0C0));
    for (Layer *w : windows) DeleteLayer(w);
}

TEST(TwoLayerComposit, NullOrInvisibleOutputChangesNothing) {
    Placed first(0, 0, 4, 4, 26);
    std::vector<uint32_t> before = first.raw();
    EXPECT_EQ(TwoLayerComposit(nullptr, first.layer(), first.layer()), 1);
    HostCanvas canvas(4, 4, 0x11223344);
    Layer *outside = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(outside, 10, 10, 4, 4);
    EXPECT_EQ(TwoLayerComposit(outside, first.layer(), nullptr), 1);
    EXPECT_EQ(canvas.raw(), std::vector<uint32_t>(16, 0x11223344));
    EXPECT_EQ(first.raw(), before);
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    EXPECT_EQ(canvas.layer()->refCount, 2);
    DeleteLayer(outside);
}

Layer *windowToMove = nullptr;
int32_t ZL_CALL MoveTheWindow(Layer *, void *) {
    ClipLayerXYWH(windowToMove, 0, 0, 20, 20);
    return 1;
}

TEST(TwoLayerComposit, AnOutputMovedByAHostHookBetweenTheOpensIsLeftAlone) {
    // The first layer's hook moves the output window after the first open
    // has measured it: the second open sees another visible part, and the
    // two cannot be walked together.
    HostCanvas canvas(20, 20, 0x11223344), first(20, 20, 0xFF0000FF), second(20, 20, 0xFF00FF00);
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, -10, -10, 20, 20);
    windowToMove = window;
    first.layer()->beginAccess = MoveTheWindow;
    EXPECT_EQ(TwoLayerComposit(window, first.layer(), second.layer()), 1);
    EXPECT_EQ(canvas.raw(), std::vector<uint32_t>(400, 0x11223344));
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    first.layer()->beginAccess = nullptr;
    DeleteLayer(window);
}

uint32_t Faded(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFF) | ((opacity & 0xFF) * (pixel >> 24) / 255) << 24;
}

TEST(ThreeLayerComposit, StacksTopOverFadedMiddleOverBottom) {
    for (int32_t opacity : {0, 1, 128, 255, 0x1FF, 0x180}) {
        constexpr size_t kW = 1100;
        HostCanvas output(kW, 3), bottom(kW, 3), middle(kW, 3), top(kW, 3);
        Pattern(output, 30);
        Pattern(bottom, 31);
        Pattern(middle, 32);
        Pattern(top, 33);
        // Opaque runs on top: one that stops short of a row's first 256
        // pixels, one that covers its first 1024, and one from pixel 256 to
        // the row's end, after translucent pixels.
        for (size_t x = 0; x < kW; ++x) {
            if (x < 200) top.raw()[x] |= 0xFF000000u;
            if (x < 1024) top.raw()[kW + x] |= 0xFF000000u;
            if (x >= 256) top.raw()[2 * kW + x] |= 0xFF000000u;
        }
        EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), top.layer(), opacity), 1);
        for (size_t i = 0; i < output.raw().size(); ++i) {
            uint32_t t = top.raw()[i], m = Faded(middle.raw()[i], static_cast<uint32_t>(opacity));
            ASSERT_EQ(Hex(output.raw()[i]), Hex(CompositPel(CompositPel(t, m), bottom.raw()[i])))
                << "opacity " << opacity << " @" << i;
        }
    }
}

TEST(ThreeLayerComposit, EqualSizedOverlapsAtDifferentPlacesAreEachReadFromTheirOwn) {
    // Three 6 x 6 overlaps with the output at (2, 2), (0, 0) and (1, 1): the
    // output is written over the top layer's, and each layer is read from
    // the first pixel of its own overlap. Exactly sized buffers let the
    // address sanitizer catch a read outside any of them.
    HostCanvas output(8, 8);
    Pattern(output, 43);
    std::vector<uint32_t> before = output.raw();
    Placed top(2, 2, 8, 8, 44), bottom(1, 1, 7, 7, 45);
    HostCanvas middle(6, 6);
    Pattern(middle, 46);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), top.layer(), 0x1A0), 1);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            uint32_t want = before[static_cast<size_t>(y) * 8 + x];
            if (x >= 2 && y >= 2) {
                int32_t i = x - 2, j = y - 2;
                uint32_t upper = CompositPel(top.At(x, y), Faded(middle.at(i, j), 0xA0));
                want = CompositPel(upper, bottom.At(1 + i, 1 + j));
            }
            ASSERT_EQ(Hex(output.at(x, y)), Hex(want)) << x << "," << y;
        }
}

TEST(ThreeLayerComposit, OpacityZeroDropsTheMiddleLayer) {
    HostCanvas output(5, 5), bottom(5, 5), middle(5, 5, 0xFFFFFFFF), top(5, 5);
    Pattern(bottom, 34);
    Pattern(top, 35);
    ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), top.layer(), 0);
    for (size_t i = 0; i < output.raw().size(); ++i)
        ASSERT_EQ(output.raw()[i], CompositPel(CompositPel(top.raw()[i], 0x00FFFFFF), bottom.raw()[i])) << i;
}

TEST(ThreeLayerComposit, UnequalOverlapsWriteNothingAndReturn1) {
    HostCanvas output(8, 8, 0x12345678), bottom(8, 8, 0xFF0000FF), middle(8, 7, 0xFF00FF00), top(8, 8, 0xFFFF0000);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), top.layer(), 255), 1);
    HostCanvas narrow(7, 8, 0xFF00FF00);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), narrow.layer(), middle.layer(), top.layer(), 255), 1);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(64, 0x12345678));
    EXPECT_EQ(ThreeLayerComposit(nullptr, bottom.layer(), middle.layer(), top.layer(), 255), 1);
    for (HostCanvas *c : {&output, &bottom, &middle, &top, &narrow}) EXPECT_EQ(c->layer()->accessCount, 0);
}

TEST(ThreeLayerComposit, ALayerMissingTheOutputGives0AndWritesNothing) {
    HostCanvas output(6, 6, 0x12345678), bottom(6, 6, 0xFF0000FF), top(6, 6, 0xFFFF0000), far(6, 6, 0xFF00FF00);
    Layer *outside = CreateClippedLayer(far.layer());
    ClipLayerXYWH(outside, -20, -20, 26, 26);  // visible part (20, 20, 26, 26): past the output
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), outside, top.layer(), 255), 0);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), nullptr, top.layer(), 255), 0);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), nullptr, bottom.layer(), top.layer(), 255), 0);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(36, 0x12345678));
    for (HostCanvas *c : {&output, &bottom, &top, &far}) EXPECT_EQ(c->layer()->accessCount, 0);
    EXPECT_EQ(far.layer()->refCount, 2) << "temporary access layers are gone";
    DeleteLayer(outside);
}

}  // namespace
