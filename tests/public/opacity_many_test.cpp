// Layer compositing with an opacity, and stacks of layers.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;
using zltest::Mix;

using zltest::Pattern;

uint32_t Faded(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFF) | ((opacity & 0xFF) * (pixel >> 24) / 255) << 24;
}

using ExOp = int32_t(ZL_CALL *)(Layer *, Layer *, int32_t);
using PlainOp = int32_t(ZL_CALL *)(Layer *, Layer *);

TEST(CompositLayersEx, EachPixelIsTheFadedBlend) {
    for (int32_t opacity : {0, 1, 128, 254, 255, 0x1FF, 0x180}) {
        HostCanvas first(9, 7), second(9, 7);
        Pattern(first, 1);
        Pattern(second, 2);
        std::vector<uint32_t> f = first.raw(), s = second.raw();
        EXPECT_EQ(CompositOnTopLayerEx(first.layer(), second.layer(), opacity), 1);
        EXPECT_EQ(second.raw(), s);
        for (size_t i = 0; i < f.size(); ++i)
            ASSERT_EQ(Hex(first.raw()[i]), Hex(CompositPel(f[i], Faded(s[i], opacity)))) << opacity << " @" << i;

        first.raw() = f;
        EXPECT_EQ(CompositOnBottomLayerEx(first.layer(), second.layer(), opacity), 1);
        EXPECT_EQ(first.raw(), f);
        for (size_t i = 0; i < f.size(); ++i)
            ASSERT_EQ(Hex(second.raw()[i]), Hex(CompositPel(Faded(f[i], opacity), s[i]))) << opacity << " @" << i;
    }
}

TEST(CompositLayersEx, FullOpacityEqualsThePlainForms) {
    struct Pair {
        ExOp ex;
        PlainOp plain;
    } pairs[] = {{CompositOnTopLayerEx, CompositOnTopLayer}, {CompositOnBottomLayerEx, CompositOnBottomLayer}};
    for (const Pair &pair : pairs) {
        for (int32_t opacity : {255, 0x1FF, -1}) {
            HostCanvas a1(11, 5), b1(11, 5), a2(11, 5), b2(11, 5);
            Pattern(a1, 3);
            Pattern(b1, 4);
            a2.raw() = a1.raw();
            b2.raw() = b1.raw();
            pair.ex(a1.layer(), b1.layer(), opacity);
            pair.plain(a2.layer(), b2.layer());
            EXPECT_EQ(a1.raw(), a2.raw()) << opacity;
            EXPECT_EQ(b1.raw(), b2.raw()) << opacity;
        }
    }
}

TEST(CompositLayersEx, OpacityZero) {
    HostCanvas first(4, 1), second(4, 1);
    first.raw() = {0xFF112233, 0x80445566, 0x00778899, 0xFFABCDEF};
    second.raw() = {0x80FFFFFF, 0xFF000000, 0xFF0000FF, 0x00FEDCBA};
    std::vector<uint32_t> f = first.raw(), s = second.raw();
    CompositOnTopLayerEx(first.layer(), second.layer(), 0);
    EXPECT_EQ(first.raw(), f) << "the faded second layer is fully transparent";
    CompositOnBottomLayerEx(first.layer(), second.layer(), 0);
    EXPECT_EQ(second.raw(), (std::vector<uint32_t>{0x80FFFFFF, 0xFF000000, 0xFF0000FF, 0x00ABCDEF}))
        << "only the transparent second pixel takes the first's colour, with alpha 0";
}

TEST(CompositLayersEx, HalfOpacityHalvesTheAlphaThatIsRead) {
    HostCanvas second(2, 1);
    second.raw() = {0xFFFF0000, 0x01FF0000};
    // Over a transparent first pixel the faded second shows as it is: alpha
    // 255 becomes 128, and alpha 1 becomes 0, which leaves the first pixel.
    HostCanvas top(2, 1, 0x00FFFFFF);
    CompositOnTopLayerEx(top.layer(), second.layer(), 128);
    EXPECT_EQ(top.raw()[0], 0x80FF0000u);
    EXPECT_EQ(top.raw()[1], 0x00FFFFFFu);
    // Faded as the top of the blend: alpha 255 enters with 128.
    HostCanvas under(1, 1, 0xFF0000FF);
    CompositOnBottomLayerEx(second.layer(), under.layer(), 128);
    EXPECT_EQ(under.raw()[0], 0xFF80007Fu);
}

TEST(CompositLayersEx, OnlyTheOverlapChanges) {
    HostCanvas big(8, 8), small(3, 5);
    Pattern(big, 5);
    Pattern(small, 6);
    std::vector<uint32_t> b = big.raw(), s = small.raw();
    CompositOnTopLayerEx(big.layer(), small.layer(), 200);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            uint32_t was = b[static_cast<size_t>(y) * 8 + x];
            uint32_t want = (x < 3 && y < 5) ? CompositPel(was, Faded(small.at(x, y), 200)) : was;
            ASSERT_EQ(big.at(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(small.raw(), s);
    // A null or invisible layer changes nothing.
    EXPECT_EQ(CompositOnTopLayerEx(nullptr, small.layer(), 9), 1);
    EXPECT_EQ(CompositOnBottomLayerEx(big.layer(), nullptr, 9), 1);
    EXPECT_EQ(small.raw(), s);
}

// CompositMany's model: the base replaces the output over their overlap;
// every later usable layer goes over it with its faded alpha where it has
// pixels.
struct Stack {
    std::vector<CompositEntry> entries;
    std::vector<HostCanvas *> canvases;
};

std::vector<uint32_t> ExpectedStack(HostCanvas &output, const std::vector<CompositEntry> &entries,
                                    const std::vector<HostCanvas *> &canvases) {
    std::vector<uint32_t> out = output.raw();
    bool placedBase = false;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].layer == nullptr || entries[k].opacity == 0) continue;
        HostCanvas &c = *canvases[k];
        for (int32_t y = 0; y < output.height() && y < c.height(); ++y) {
            for (int32_t x = 0; x < output.width() && x < c.width(); ++x) {
                uint32_t &o = out[static_cast<size_t>(y) * output.width() + x];
                uint32_t p = Faded(c.at(x, y), entries[k].opacity);
                o = placedBase ? CompositPel(p, o) : p;
            }
        }
        placedBase = true;
    }
    return out;
}

TEST(CompositMany, StacksUsableEntriesInListOrder) {
    HostCanvas output(20, 6), l0(20, 6), l1(20, 6), l2(20, 6), l3(20, 6);
    Pattern(output, 7);
    for (HostCanvas *c : {&l0, &l1, &l2, &l3}) Pattern(*c, static_cast<uint32_t>(c->raw()[0]));
    std::vector<HostCanvas *> canvases = {&l0, nullptr, &l1, &l2, &l3, nullptr, &l0};
    std::vector<CompositEntry> entries = {{l0.layer(), 0},    {nullptr, 255},  {l1.layer(), 200}, {l2.layer(), 255},
                                          {l3.layer(), 0},    {nullptr, 9},    {l0.layer(), 77}};
    std::vector<uint32_t> expected = ExpectedStack(output, entries, canvases);
    EXPECT_EQ(CompositMany(output.layer(), entries.data(), static_cast<int32_t>(entries.size())), 1);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(Hex(output.raw()[i]), Hex(expected[i])) << i;
    for (HostCanvas *c : {&output, &l0, &l1, &l2, &l3}) EXPECT_EQ(c->layer()->accessCount, 0);
    EXPECT_EQ(l0.layer()->refCount, 1) << "temporary access layers are gone";
}

TEST(CompositMany, HalfOpacityOverAnOpaqueOutput) {
    HostCanvas output(1, 1), base(1, 1, 0xFF0000FF), red(1, 1, 0xFFFF0000);
    CompositEntry entries[] = {{base.layer(), 255}, {red.layer(), 128}};
    CompositMany(output.layer(), entries, 2);
    EXPECT_EQ(output.raw()[0], CompositPel(0x80FF0000, 0xFF0000FF));
}

TEST(CompositMany, SingleEntryIsACopy) {
    HostCanvas output(5, 4, 0x11111111), layer(5, 4);
    Pattern(layer, 8);
    CompositEntry full{layer.layer(), 255};
    EXPECT_EQ(CompositMany(output.layer(), &full, 1), 1);
    EXPECT_EQ(output.raw(), layer.raw());
    CompositEntry half{layer.layer(), 128};
    EXPECT_EQ(CompositMany(output.layer(), &half, 1), 1);
    for (size_t i = 0; i < layer.raw().size(); ++i) ASSERT_EQ(output.raw()[i], Faded(layer.raw()[i], 128)) << i;
}

TEST(CompositMany, RefusalsAndClears) {
    HostCanvas output(3, 3, 0x55555555), layer(3, 3, 0xFF123456);
    CompositEntry entry{layer.layer(), 255};
    EXPECT_EQ(CompositMany(nullptr, &entry, 1), 0);
    EXPECT_EQ(CompositMany(output.layer(), nullptr, 1), 0);
    EXPECT_EQ(CompositMany(output.layer(), &entry, 0), 0);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(9, 0x55555555)) << "refusals change nothing";

    EXPECT_EQ(CompositMany(output.layer(), &entry, -1), 1);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(9, 0)) << "a negative count clears";

    output.raw().assign(9, 0x55555555);
    CompositEntry unusable[] = {{nullptr, 255}, {layer.layer(), 0}, {nullptr, 0}};
    EXPECT_EQ(CompositMany(output.layer(), unusable, 3), 1);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(9, 0));
}

TEST(CompositMany, SmallerLayersContributeOnlyWhereTheyHavePixels) {
    // Each layer has its own exactly sized heap buffer: a read past any of
    // them is caught by the address sanitizer.
    HostCanvas output(16, 10), base(16, 10), narrow(5, 10), low(16, 3), tiny(1, 1);
    Pattern(output, 9);
    Pattern(base, 10);
    Pattern(narrow, 11);
    Pattern(low, 12);
    Pattern(tiny, 13);
    std::vector<CompositEntry> entries = {
        {base.layer(), 255}, {narrow.layer(), 255}, {low.layer(), 100}, {tiny.layer(), 255}};
    std::vector<HostCanvas *> canvases = {&base, &narrow, &low, &tiny};
    std::vector<uint32_t> expected = ExpectedStack(output, entries, canvases);
    EXPECT_EQ(CompositMany(output.layer(), entries.data(), 4), 1);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(Hex(output.raw()[i]), Hex(expected[i])) << i;

    // A smaller base is copied over the overlap only; the rest of the output
    // keeps what it held.
    HostCanvas output2(6, 6, 0x22222222), smallBase(2, 2, 0xFF0000FF);
    CompositEntry onlySmall{smallBase.layer(), 255};
    CompositMany(output2.layer(), &onlySmall, 1);
    EXPECT_EQ(output2.at(1, 1), 0xFF0000FFu);
    EXPECT_EQ(output2.at(2, 2), 0x22222222u);
}

// Rows wide enough for whole blocks: the stack over the part that every
// layer covers, the rest where only wider layers reach, and an opaque layer
// that hides what lies beneath it.
TEST(CompositMany, WideRowsWithANarrowLayerAndAnOpaqueOne) {
    HostCanvas output(53, 4), base(53, 4), narrow(37, 4), opaque(53, 2, 0xFF336699), over(53, 4);
    Pattern(base, 21);
    Pattern(narrow, 22);
    Pattern(over, 23);
    opaque.raw()[2 * 53 - 1] = 0xFE336699;  // the second row is not opaque to its end
    std::vector<HostCanvas *> canvases = {&base, &narrow, &opaque, &over, &narrow};
    std::vector<CompositEntry> entries = {{base.layer(), 255},
                                          {narrow.layer(), 255},
                                          {opaque.layer(), 255},
                                          {over.layer(), 140},
                                          {narrow.layer(), 255}};
    std::vector<uint32_t> expected = ExpectedStack(output, entries, canvases);
    EXPECT_EQ(CompositMany(output.layer(), entries.data(), 5), 1);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(Hex(output.raw()[i]), Hex(expected[i])) << i;
}

// Rows of two stretches, with an opaque top layer on every other row: the
// base and a layer beneath it, both narrower than the output and each in a
// buffer of its own exact size, are still read where the top hides them
// after a blend, but never past their own pixels.
TEST(CompositMany, LayersHiddenAfterABlendAreReadOnlyWithinTheirPixels) {
    HostCanvas output(1100, 4), base(1030, 4), narrow(1000, 4), top(1100, 4);
    Pattern(base, 24);
    Pattern(narrow, 25);
    Pattern(top, 26);
    for (int32_t y : {1, 3})
        for (int32_t x = 0; x < 1100; ++x) top.at(x, y) |= 0xFF000000u;
    std::vector<HostCanvas *> canvases = {&base, &narrow, &top};
    std::vector<CompositEntry> entries = {{base.layer(), 255}, {narrow.layer(), 255}, {top.layer(), 255}};
    std::vector<uint32_t> expected = ExpectedStack(output, entries, canvases);
    EXPECT_EQ(CompositMany(output.layer(), entries.data(), 3), 1);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(Hex(output.raw()[i]), Hex(expected[i])) << i;
}

TEST(CompositMany, ALayerWhoseAccessFailsIsSkipped) {
    HostCanvas output(4, 4), base(4, 4), over(4, 4, 0x80FF0000), far(4, 4, 0xFFFFFFFF);
    Pattern(base, 14);
    Layer *outside = CreateClippedLayer(far.layer());
    ClipLayerXYWH(outside, 40, 40, 4, 4);  // nothing visible
    CompositEntry entries[] = {{base.layer(), 255}, {outside, 255}, {over.layer(), 255}};
    EXPECT_EQ(CompositMany(output.layer(), entries, 3), 1);
    for (size_t i = 0; i < 16; ++i) ASSERT_EQ(output.raw()[i], CompositPel(0x80FF0000, base.raw()[i])) << i;
    EXPECT_EQ(far.layer()->accessCount, 0);
    EXPECT_EQ(far.layer()->refCount, 2);
    DeleteLayer(outside);
}

// Host code that runs while the stack is built sees the base copied whole,
// though nothing above it shows through.
std::vector<uint32_t> *seenOutput;
HostCanvas *watchedOutput;
int32_t ZL_CALL RecordOutput(Layer *, void *) {
    *seenOutput = watchedOutput->raw();
    return 1;
}

TEST(CompositMany, AnAccessHookSeesTheBaseCopiedFirst) {
    HostCanvas output(40, 3), base(40, 3), over(40, 3, 0xFF123456);
    Pattern(base, 17);
    std::vector<uint32_t> seen;
    seenOutput = &seen;
    watchedOutput = &output;
    over.layer()->beginAccess = RecordOutput;
    CompositEntry entries[] = {{base.layer(), 255}, {over.layer(), 255}};
    EXPECT_EQ(CompositMany(output.layer(), entries, 2), 1);
    EXPECT_EQ(seen, base.raw());
    EXPECT_EQ(output.raw(), over.raw());
}

// The base's copy covers only where the base's visible part meets the
// output's, in layer coordinates; the layers above align with the output's.
TEST(CompositMany, ABaseVisibleOnlyInPartIsCopiedWhereItMeetsTheOutput) {
    HostCanvas output(10, 10, 0x40302010), parent(10, 10), over(10, 10);
    Pattern(parent, 19);
    Pattern(over, 20);
    Layer *base = CreateClippedLayer(parent.layer());
    ClipLayerXYWH(base, -3, -2, 10, 10);  // visible from (3, 2) on
    CompositEntry entries[] = {{base, 255}, {over.layer(), 200}};
    EXPECT_EQ(CompositMany(output.layer(), entries, 2), 1);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) {
            uint32_t under = x >= 3 && y >= 2 ? parent.at(x - 3, y - 2) : 0x40302010u;
            ASSERT_EQ(Hex(output.at(x, y)), Hex(CompositPel(Faded(over.at(x, y), 200), under))) << x << "," << y;
        }
    DeleteLayer(base);
}

TEST(CompositMany, AWindowedOutputAlignsLayersWithItsVisiblePart) {
    HostCanvas canvas(10, 10, 0x33333333), base(10, 10), over(10, 10);
    Pattern(base, 15);
    Pattern(over, 16);
    Layer *window = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(window, 2, 3, 5, 4);
    CompositEntry entries[] = {{base.layer(), 255}, {over.layer(), 90}};
    CompositMany(window, entries, 2);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) {
            int32_t wx = x - 2, wy = y - 3;
            bool inside = wx >= 0 && wy >= 0 && wx < 5 && wy < 4;
            uint32_t want = inside ? CompositPel(Faded(over.at(wx, wy), 90), base.at(wx, wy)) : 0x33333333u;
            ASSERT_EQ(Hex(canvas.at(x, y)), Hex(want)) << x << "," << y;
        }
    DeleteLayer(window);
}

}  // namespace
