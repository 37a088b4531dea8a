// Fills of regions large enough to be written past the cache: every pixel of
// the region gets the value, nothing around it changes, whatever the start's
// alignment and whether the rows lie back to back.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;

constexpr int32_t kW = 700, kH = 420;  // more than a mebibyte of pixels

void ExpectFilled(HostCanvas &canvas, int32_t left, int32_t top, int32_t w, int32_t h, uint32_t inside,
                  uint32_t outside) {
    for (int32_t y = 0; y < canvas.height(); ++y) {
        for (int32_t x = 0; x < canvas.width(); ++x) {
            bool in = x >= left && x < left + w && y >= top && y < top + h;
            uint32_t want = in ? inside : outside;
            if (canvas.at(x, y) != want) {
                ASSERT_EQ(Hex(canvas.at(x, y)), Hex(want)) << x << "," << y;
            }
        }
    }
}

TEST(LargeFill, SetLayerOverAWholeLayerAndAClippedWindow) {
    for (uint32_t colour : {0x80FF0000u, 0x01020304u, 0xFFFFFFFFu}) {
        HostCanvas whole(kW, kH, 0x11111111u);
        EXPECT_EQ(SetLayer(whole.layer(), colour), 1);
        ExpectFilled(whole, 0, 0, kW, kH, colour, 0);
        // A window one pixel in from each side: rows apart, and a start that
        // is not on a 16-byte boundary.
        for (int32_t left : {1, 2, 3, 4}) {
            HostCanvas canvas(kW, kH, 0x11111111u);
            Layer *window = CreateClippedLayer(canvas.layer());
            ClipLayerXYWH(window, left, 1, kW - left - 1, kH - 2);
            EXPECT_EQ(SetLayer(window, colour), 1);
            ExpectFilled(canvas, left, 1, kW - left - 1, kH - 2, colour, 0x11111111u);
            EXPECT_EQ(ClearLayer(window), 1);
            ExpectFilled(canvas, left, 1, kW - left - 1, kH - 2, 0, 0x11111111u);
            DeleteLayer(window);
        }
    }
}

}  // namespace
