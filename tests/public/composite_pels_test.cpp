#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::Mix;
using zltest::ReferenceOver;

uint32_t MmxOne(uint32_t top, uint32_t bottom) {
    uint32_t out = 0;
    CompositPelsMMXOnly(&top, &bottom, &out, 1);
    return out;
}

TEST(CompositPel, DocumentedPairs) {
    EXPECT_EQ(Hex(CompositPel(0x80FF0000, 0xFF0000FF)), "0xFF80007F");
    EXPECT_EQ(Hex(CompositPel(0x800000FF, 0x80FF0000)), "0xBF5400AB");
    EXPECT_EQ(Hex(CompositPel(0x40FFFFFF, 0x40000000)), "0x6F939393");
    EXPECT_EQ(Hex(CompositPel(0x01FFFFFF, 0x01000000)), "0x01FFFFFF");
}

TEST(CompositPel, EarlyExitsInTheirOrder) {
    // A transparent bottom is tested first: two transparent pixels give the top.
    EXPECT_EQ(Hex(CompositPel(0x00123456, 0x00ABCDEF)), "0x00123456");
    EXPECT_EQ(Hex(CompositPel(0x7F336699, 0x00FFFFFF)), "0x7F336699");
    EXPECT_EQ(Hex(CompositPel(0x00123456, 0x80ABCDEF)), "0x80ABCDEF");
    EXPECT_EQ(Hex(CompositPel(0xFF123456, 0x80ABCDEF)), "0xFF123456");
}

TEST(CompositPel, EqualsTheClosedFormOverEveryAlphaPair) {
    int mismatches = 0;
    for (uint32_t ta = 0; ta < 256; ++ta) {
        for (uint32_t ba = 0; ba < 256; ++ba) {
            for (uint32_t k = 0; k < 3; ++k) {
                uint32_t seed = (ta << 8 | ba) * 3 + k;
                uint32_t top = ta << 24 | (Mix(seed) & 0xFFFFFF);
                uint32_t bottom = ba << 24 | (Mix(seed + 0x9E3779B9u) & 0xFFFFFF);
                if (k == 1) top |= 0xFFFFFF;     // extreme colours reach the table ends
                if (k == 2) bottom &= 0xFF000000u;
                uint32_t got = CompositPel(top, bottom);
                if (got != ReferenceOver(top, bottom) && ++mismatches < 5)
                    ADD_FAILURE() << Hex(top) << " over " << Hex(bottom) << " gave " << Hex(got);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(CompositPelsMMXOnly, DocumentedPairs) {
    EXPECT_EQ(Hex(MmxOne(0x80FF0000, 0xFF0000FF)), "0xFF80007F");
    EXPECT_EQ(Hex(MmxOne(0x800000FF, 0x80FF0000)), "0xC05500AA");
    EXPECT_EQ(Hex(MmxOne(0x40FFFFFF, 0x40000000)), "0x70919191");
    EXPECT_EQ(Hex(MmxOne(0x00123456, 0x00ABCDEF)), "0x00000000");
    EXPECT_EQ(Hex(MmxOne(0x01FFFFFF, 0x01000000)), "0x003F3F3F");
    // An opaque top comes back, except that a channel of 1 becomes 0.
    EXPECT_EQ(Hex(MmxOne(0xFF01FE80, 0x80ABCDEF)), "0xFF00FE80");
}

TEST(CompositPelsMMXOnly, AlphaIsTheNominalOutputAlphaAndColoursStayNearTheMean) {
    for (uint32_t ta = 0; ta < 256; ++ta) {
        for (uint32_t ba = 0; ba < 256; ++ba) {
            uint32_t top = ta << 24 | 0xC08040, bottom = ba << 24 | 0x10F0A0;
            uint32_t out = MmxOne(top, bottom);
            uint32_t u = ba - ((ta * ba + 255) >> 8);
            uint32_t n = ta + u;
            ASSERT_EQ(out >> 24, n == 1 ? 0u : n) << ta << "," << ba;
            if (n < 5) continue;
            for (int shift = 0; shift <= 16; shift += 8) {
                double mean = (((top >> shift) & 0xFF) * ta + ((bottom >> shift) & 0xFF) * u) / double(n);
                double got = (out >> shift) & 0xFF;
                ASSERT_LE(got - mean, 1.0) << ta << "," << ba;
                ASSERT_GE(got - mean, -1.0) << ta << "," << ba;
            }
        }
    }
}

// Inputs of exactly count pixels (out-of-range reads fail under the address
// sanitizer) and an output with guard words on both sides.
void CheckRunStaysInBounds(uint32_t (*run)(const uint32_t *, const uint32_t *, uint32_t *, int32_t),
                           uint32_t (*pel)(uint32_t, uint32_t), int32_t count) {
    std::vector<uint32_t> top(count), bottom(count);
    for (int32_t i = 0; i < count; ++i) {
        top[i] = Mix(i * 2 + 1) | 0x01000000;
        bottom[i] = Mix(i * 2 + 2) | 0x01000000;
    }
    std::vector<uint32_t> out(count + 2, 0xA5A5A5A5);
    run(top.data(), bottom.data(), out.data() + 1, count);
    EXPECT_EQ(out.front(), 0xA5A5A5A5u) << count;
    EXPECT_EQ(out.back(), 0xA5A5A5A5u) << count;
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(Hex(out[i + 1]), Hex(pel(top[i], bottom[i]))) << count << ":" << i;
}

uint32_t TablePel(uint32_t top, uint32_t bottom) { return ReferenceOver(top, bottom); }

uint32_t PelsRun(const uint32_t *t, const uint32_t *b, uint32_t *o, int32_t n) { return CompositPels(t, b, o, n); }
uint32_t NonMmxRun(const uint32_t *t, const uint32_t *b, uint32_t *o, int32_t n) {
    return CompositPelsNonMMX(t, b, o, n);
}
uint32_t MmxRun(const uint32_t *t, const uint32_t *b, uint32_t *o, int32_t n) {
    return CompositPelsMMXOnly(t, b, o, n);
}

TEST(PixelRuns, WriteExactlyTheirCountFromTheirOwnInputs) {
    for (int32_t count : {1, 2, 3, 5}) {
        CheckRunStaysInBounds(PelsRun, TablePel, count);
        CheckRunStaysInBounds(NonMmxRun, TablePel, count);
        // A lone pixel takes the single-pixel path: every pixel of a run, paired
        // or not, must give that same result.
        CheckRunStaysInBounds(MmxRun, MmxOne, count);
    }
}

TEST(PixelRuns, ReturnTheLastCompositeAndWriteNothingForEmptyCounts) {
    uint32_t top[3] = {0x80FF0000, 0x00000000, 0x800000FF};
    uint32_t bottom[3] = {0xFF0000FF, 0x80808080, 0x80FF0000};
    uint32_t out[3] = {1, 2, 3};
    EXPECT_EQ(Hex(CompositPels(top, bottom, out, 3)), "0xBF5400AB");
    EXPECT_EQ(Hex(CompositPelsNonMMX(top, bottom, out, 1)), "0xFF80007F");
    uint32_t untouched[3] = {7, 8, 9};
    EXPECT_EQ(CompositPels(top, bottom, untouched + 1, 0), 0u);
    EXPECT_EQ(CompositPelsNonMMX(top, bottom, untouched + 1, -4), 0u);
    CompositPelsMMXOnly(top, bottom, untouched + 1, 0);
    CompositPelsMMXOnly(top, bottom, untouched + 1, -1);
    EXPECT_EQ(untouched[0], 7u);
    EXPECT_EQ(untouched[1], 8u);
    EXPECT_EQ(untouched[2], 9u);
}

TEST(PixelRuns, OutputMayBeEitherInput) {
    std::vector<uint32_t> top(9), bottom(9);
    for (int i = 0; i < 9; ++i) {
        top[i] = Mix(100 + i);
        bottom[i] = Mix(200 + i);
    }
    std::vector<uint32_t> expected(9), expectedMmx(9);
    for (int i = 0; i < 9; ++i) {
        expected[i] = ReferenceOver(top[i], bottom[i]);
        expectedMmx[i] = MmxOne(top[i], bottom[i]);
    }
    std::vector<uint32_t> t = top, b = bottom;
    CompositPels(t.data(), b.data(), t.data(), 9);
    EXPECT_EQ(t, expected);
    t = top;
    CompositPelsNonMMX(t.data(), b.data(), b.data(), 9);
    EXPECT_EQ(b, expected);
    b = bottom;
    CompositPelsMMXOnly(t.data(), b.data(), t.data(), 9);
    EXPECT_EQ(t, expectedMmx);
    t = top;
    CompositPelsMMXOnly(t.data(), b.data(), b.data(), 9);
    EXPECT_EQ(b, expectedMmx);
}

}  // namespace
