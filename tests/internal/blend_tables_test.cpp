#include <gtest/gtest.h>

#include <cstring>

#include "blend/blend.h"

namespace {

using zl::TableIndex;

uint32_t Lane(uint64_t entry, int lane) { return static_cast<uint32_t>(entry >> (16 * lane)) & 0xFFFF; }

TEST(ProductTable, KnownEntriesAndSymmetry) {
    EXPECT_EQ(zl::ProductTable[TableIndex(255, 255)], 65280);
    EXPECT_EQ(zl::ProductTable[TableIndex(1, 1)], 1);
    EXPECT_EQ(zl::ProductTable[TableIndex(128, 255)], 32768);
    EXPECT_EQ(zl::ProductTable[TableIndex(255, 128)], 32768);
    EXPECT_EQ(zl::ProductTable[TableIndex(1, 127)], 127);
    EXPECT_EQ(zl::ProductTable[TableIndex(1, 128)], 129);
    EXPECT_EQ(zl::ProductTable[TableIndex(100, 200)], 20078);
    EXPECT_EQ(zl::ProductTable[TableIndex(2, 1)], 2);
    for (uint32_t x = 0; x < 256; ++x) {
        EXPECT_EQ(zl::ProductTable[TableIndex(x, 255)], x * 256);
        EXPECT_EQ(zl::ProductTable[TableIndex(x, 0)], 0);
        for (uint32_t y = 0; y < 256; ++y) {
            ASSERT_EQ(zl::ProductTable[TableIndex(x, y)], zl::ProductTable[TableIndex(y, x)]);
            // The high byte is the truncated product that scaling relies on.
            ASSERT_EQ(zl::ScaleByAlpha(x, y), x * y / 255) << x << "," << y;
            ASSERT_EQ(zl::ProductTable[TableIndex(x, y)], (x * y * 256 + 127) / 255);
        }
    }
}

TEST(UnderAlphaTable, KnownEntries) {
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(255, 200)], 0);
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(0, 77)], 77);
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(128, 255)], 127);
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(1, 1)], 0);
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(1, 255)], 254);
    EXPECT_EQ(zl::UnderAlphaTable[TableIndex(254, 255)], 1);
}

TEST(OverWeightTable, KnownEntriesIncludingTheUnreachableCase) {
    EXPECT_EQ(zl::OverWeightTable[TableIndex(0, 0)], 0);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(255, 0)], 0xFF00);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(0, 1)], 0x00FF);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(1, 1)], 0x807F);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(2, 2)], 0x807F);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(128, 127)], 0x807F);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(100, 55)], 0xA55A);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(1, 254)], 0x01FE);
    EXPECT_EQ(zl::OverWeightTable[TableIndex(200, 100)], 0xC837);
    for (uint32_t i = 1; i < 65536; ++i) {
        uint32_t w = zl::OverWeightTable[i];
        ASSERT_EQ((w >> 8) + (w & 0xFF), 255u) << i;  // the weights always sum to 255
    }
}

TEST(ReciprocalTable, KnownEntries) {
    struct Case {
        int n;
        uint32_t r;
    } cases[] = {{0, 0}, {1, 32767}, {4, 32767}, {5, 26265}, {6, 21887}, {128, 1025}, {254, 517}, {255, 515}};
    for (const Case &c : cases) {
        for (int lane = 0; lane < 3; ++lane) EXPECT_EQ(Lane(zl::ReciprocalTable[c.n], lane), c.r) << c.n;
        EXPECT_EQ(Lane(zl::ReciprocalTable[c.n], 3), 515u) << c.n;
    }
}

TEST(AlphaInverseTable, HoldsNearestReciprocalsAndAnAllOnesEntryZero) {
    EXPECT_EQ(zl::AlphaInverseTable[1], 1.0);
    EXPECT_EQ(zl::AlphaInverseTable[255], 1.0 / 255.0);
    for (int n = 1; n < 256; ++n) {
        volatile double divisor = n;
        EXPECT_EQ(zl::AlphaInverseTable[n], 1.0 / divisor) << n;
    }
    uint64_t bits;
    std::memcpy(&bits, &zl::AlphaInverseTable[0], sizeof bits);
    EXPECT_EQ(bits, ~uint64_t{0});
}

// Only where the run is packed MMX code: elsewhere it is the lane model
// itself, and the comparison could not fail.
#if defined(__i386__) || defined(__x86_64__)
TEST(MmxComposite, PackedRunEqualsTheLaneModelForEveryAlphaPair) {
    // Odd and even positions, so that both halves of a packed pair and the
    // lone last pixel are covered.
    static uint32_t top[65537], bottom[65537], out[65537];
    for (uint32_t i = 0; i < 65536; ++i) {
        uint32_t colourSeed = i * 2654435761u;
        top[i + 1] = (i >> 8) << 24 | (colourSeed & 0xFFFFFF);
        bottom[i + 1] = (i & 0xFF) << 24 | ((colourSeed >> 7) & 0xFFFFFF);
    }
    top[0] = 0x12345678;
    bottom[0] = 0x9ABCDEF0;
    for (int start = 0; start < 2; ++start) {
        int32_t count = 65537 - start;
        zl::MmxCompositeRun(top + start, bottom + start, out + start, count);
        for (int32_t i = start; i < 65537; ++i)
            ASSERT_EQ(out[i], zl::MmxCompositeScalar(top[i], bottom[i])) << i;
    }
}
#endif

}  // namespace
