// Row compositing in place: on top, underneath, with an opacity and against
// one colour.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::Mix;

// Alphas 0 and 255 with colour bits set, and values in between.
std::vector<uint32_t> Row(size_t count, uint32_t seed) {
    std::vector<uint32_t> row(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t v = Mix(static_cast<uint32_t>(i) * 7919 + seed);
        if (v % 5 == 0) v &= 0x00FFFFFF;
        if (v % 5 == 1) v |= 0xFF000000;
        row[i] = v;
    }
    return row;
}

uint32_t Faded(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFF) | ((opacity & 0xFF) * (pixel >> 24) / 255) << 24;
}

TEST(RowComposite, DocumentedPixels) {
    uint32_t top[] = {0x80FF0000}, bottom[] = {0xFF0000FF};
    EXPECT_EQ(CompositOnTop(top, bottom, 1), 0xFF80007Fu);
    EXPECT_EQ(top[0], 0xFF80007Fu);
    EXPECT_EQ(bottom[0], 0xFF0000FFu);

    uint32_t top2[] = {0x80FF0000}, bottom2[] = {0xFF0000FF};
    EXPECT_EQ(CompositOnBottom(top2, bottom2, 1), 0xFF80007Fu);
    EXPECT_EQ(bottom2[0], 0xFF80007Fu);
    EXPECT_EQ(top2[0], 0x80FF0000u);

    uint32_t row[] = {0x80FF0000, 0x00123456, 0xFF123456};
    EXPECT_EQ(CompositAgainstColour(row, 0xFF0000FF, 3), 0xFF123456u);
    EXPECT_EQ(row[0], 0xFF80007Fu);
    EXPECT_EQ(row[1], 0xFF0000FFu) << "a transparent row pixel becomes the colour";
    EXPECT_EQ(row[2], 0xFF123456u);

    uint32_t opaqueTop[] = {0xFF010203}, anyBottom[] = {0x80FFFFFF};
    CompositOnBottom(opaqueTop, anyBottom, 1);
    EXPECT_EQ(anyBottom[0], 0xFF010203u);
}

TEST(RowComposite, EveryPixelEqualsCompositPelInPlace) {
    // 600 pixels: more than one chunk of the constant colour.
    const size_t n = 600;
    std::vector<uint32_t> top = Row(n, 1), bottom = Row(n, 2);
    for (uint32_t colour : {0xFF0000FFu, 0x80336699u, 0x00FFFFFFu, 0x01000000u}) {
        std::vector<uint32_t> onTop = top, under = bottom, against = top;
        std::vector<uint32_t> bottomCopy = bottom, topCopy = top;
        EXPECT_EQ(CompositOnTop(onTop.data(), bottomCopy.data(), static_cast<int32_t>(n)),
                  CompositPel(top[n - 1], bottom[n - 1]));
        EXPECT_EQ(CompositOnBottom(topCopy.data(), under.data(), static_cast<int32_t>(n)),
                  CompositPel(top[n - 1], bottom[n - 1]));
        EXPECT_EQ(CompositAgainstColour(against.data(), colour, static_cast<int32_t>(n)),
                  CompositPel(top[n - 1], colour));
        EXPECT_EQ(bottomCopy, bottom);
        EXPECT_EQ(topCopy, top);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(Hex(onTop[i]), Hex(CompositPel(top[i], bottom[i]))) << i;
            ASSERT_EQ(Hex(under[i]), Hex(CompositPel(top[i], bottom[i]))) << i;
            ASSERT_EQ(Hex(against[i]), Hex(CompositPel(top[i], colour))) << i;
        }
    }
}

TEST(RowComposite, AgainstATransparentColourLeavesTheRow) {
    std::vector<uint32_t> row = Row(300, 3), before = row;
    CompositAgainstColour(row.data(), 0x00ABCDEF, 300);
    EXPECT_EQ(row, before);
}

TEST(RowComposite, OnTopExFadesTheTopRowFirst) {
    const size_t n = 257;
    std::vector<uint32_t> top = Row(n, 4), bottom = Row(n, 5);
    for (uint32_t opacity : {0u, 1u, 128u, 254u, 255u, 0x180u, 0x1FFu, 0xFFFFFF80u}) {
        std::vector<uint32_t> ex = top;
        uint32_t last = CompositOnTopEx(ex.data(), bottom.data(), static_cast<int32_t>(n), opacity);
        EXPECT_EQ(last, ex[n - 1]);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(Hex(ex[i]), Hex(CompositPel(Faded(top[i], opacity), bottom[i]))) << opacity << " @" << i;
    }
    // 255 (and 0x1FF, whose low byte is 255) equal the plain form.
    std::vector<uint32_t> plain = top, full = top, wrapped = top;
    CompositOnTop(plain.data(), bottom.data(), static_cast<int32_t>(n));
    CompositOnTopEx(full.data(), bottom.data(), static_cast<int32_t>(n), 255);
    CompositOnTopEx(wrapped.data(), bottom.data(), static_cast<int32_t>(n), 0x1FF);
    EXPECT_EQ(full, plain);
    EXPECT_EQ(wrapped, plain);
}

TEST(RowComposite, OnTopExWithOpacityZeroShowsTheBottom) {
    uint32_t top[] = {0xFF112233, 0x80445566, 0xFF778899};
    const uint32_t bottom[] = {0x80ABCDEF, 0xFF000000, 0x00FFFFFF};
    CompositOnTopEx(top, bottom, 3, 0);
    EXPECT_EQ(top[0], 0x80ABCDEFu);
    EXPECT_EQ(top[1], 0xFF000000u);
    EXPECT_EQ(top[2], 0x00778899u) << "over a transparent bottom the faded top stays, alpha 0";

    uint32_t half[] = {0xFFFF0000};
    const uint32_t blue[] = {0xFF0000FF};
    CompositOnTopEx(half, blue, 1, 0x180);
    EXPECT_EQ(half[0], CompositPel(0x80FF0000, 0xFF0000FF)) << "only the low byte 0x80 counts";
}

TEST(RowComposite, ZeroAndNegativeCountsWriteNothing) {
    // The rows sit inside guard pixels; nothing around or inside may change.
    for (int32_t count : {0, -1, -1000, INT32_MIN}) {
        std::vector<uint32_t> top = Row(8, 6), bottom = Row(8, 7);
        std::vector<uint32_t> topBefore = top, bottomBefore = bottom;
        EXPECT_EQ(CompositOnTop(top.data() + 4, bottom.data() + 4, count), 0u);
        EXPECT_EQ(CompositOnBottom(top.data() + 4, bottom.data() + 4, count), 0u);
        EXPECT_EQ(CompositOnTopEx(top.data() + 4, bottom.data() + 4, count, 128), 0u);
        EXPECT_EQ(CompositAgainstColour(top.data() + 4, 0xFF0000FF, count), 0u);
        EXPECT_EQ(top, topBefore) << count;
        EXPECT_EQ(bottom, bottomBefore) << count;
    }
}

TEST(RowComposite, WritesExactlyCountPixels) {
    std::vector<uint32_t> top = Row(10, 8), bottom = Row(10, 9);
    std::vector<uint32_t> topBefore = top;
    CompositOnTop(top.data(), bottom.data(), 5);
    for (size_t i = 5; i < 10; ++i) EXPECT_EQ(top[i], topBefore[i]) << i;
    std::vector<uint32_t> row = Row(10, 10), rowBefore = row;
    CompositAgainstColour(row.data(), 0xFF0000FF, 3);
    for (size_t i = 3; i < 10; ++i) EXPECT_EQ(row[i], rowBefore[i]) << i;
}

}  // namespace
