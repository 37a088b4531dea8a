#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using zltest::HostCanvas;
using zltest::Mix;

// Records override calls in order; each entry returns what the test sets.
struct OverrideLog {
    std::vector<std::string> calls;
    Layer *first = nullptr;
    Layer *second = nullptr;
    uint32_t colour = 0;
    int32_t result = 0;
};
OverrideLog overrideLog;

int32_t ZL_CALL ClearOverride(Layer *layer) {
    overrideLog.calls.push_back("clear");
    overrideLog.first = layer;
    return overrideLog.result;
}
int32_t ZL_CALL SetOverride(Layer *layer, uint32_t colour) {
    overrideLog.calls.push_back("set");
    overrideLog.first = layer;
    overrideLog.colour = colour;
    return overrideLog.result;
}
int32_t ZL_CALL CopyOverrideA(Layer *destination, Layer *source) {
    overrideLog.calls.push_back("copyA");
    overrideLog.first = destination;
    overrideLog.second = source;
    return overrideLog.result;
}
int32_t ZL_CALL CopyOverrideB(Layer *destination, Layer *source) {
    overrideLog.calls.push_back("copyB");
    overrideLog.first = destination;
    overrideLog.second = source;
    return overrideLog.result;
}

int updates = 0;
int32_t ZL_CALL CountUpdate(Layer *, LayerNotifier *) { return ++updates; }
int begins = 0;
int32_t ZL_CALL CountBegin(Layer *, void *) { return ++begins; }

class FillCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        overrideLog = OverrideLog{};
        updates = 0;
        begins = 0;
    }
    static void Pattern(HostCanvas &canvas, uint32_t seed) {
        for (size_t i = 0; i < canvas.raw().size(); ++i) canvas.raw()[i] = Mix(static_cast<uint32_t>(i) + seed);
    }
};

TEST_F(FillCopyTest, FillsTouchOnlyTheVisibleWindow) {
    for (int stride : {0, 13}) {
        for (bool bottomUp : {false, true}) {
            HostCanvas canvas(10, 8, 0x12345678, stride, bottomUp);
            Layer *window = CreateClippedLayer(canvas.layer());
            ClipLayerXYWH(window, 7, -2, 6, 5);  // visible part: x 7..9, y 0..2
            EXPECT_EQ(SetLayer(window, 0x80FF0000), 1);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < (stride ? stride : 10); ++x)
                    ASSERT_EQ(canvas.at(x, y), (x >= 7 && x < 10 && y < 3) ? 0x80FF0000u : 0x12345678u)
                        << x << "," << y << " stride " << stride << " bottomUp " << bottomUp;
            EXPECT_EQ(ClearLayer(window), 1);
            EXPECT_EQ(canvas.at(8, 1), 0u);
            EXPECT_EQ(canvas.at(6, 1), 0x12345678u);
            DeleteLayer(window);
        }
    }
}

TEST_F(FillCopyTest, ContiguousRootIsFilledWhole) {
    Layer *layer = CreateLayer(7, 5, 1);
    EXPECT_EQ(SetLayer(layer, 0xDEADBEEF), 1);
    for (int i = 0; i < 35; ++i) ASSERT_EQ(layer->pixels[i], 0xDEADBEEFu);
    EXPECT_EQ(ClearLayer(layer), 1);
    for (int i = 0; i < 35; ++i) ASSERT_EQ(layer->pixels[i], 0u);
    DeleteLayer(layer);
}

TEST_F(FillCopyTest, SetAlphaKeepsColoursAndUsesTheLowByte) {
    HostCanvas canvas(4, 3);
    Pattern(canvas, 5);
    std::vector<uint32_t> before = canvas.raw();
    EXPECT_EQ(SetAlphaLayer(canvas.layer(), 0x1FF), 1);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(canvas.raw()[i], before[i] | 0xFF000000u);
    EXPECT_EQ(SetAlphaLayer(canvas.layer(), 256), 1);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(canvas.raw()[i], before[i] & 0x00FFFFFFu);
    EXPECT_EQ(SetAlphaLayer(nullptr, 7), 1);
}

TEST_F(FillCopyTest, NullLayersAreRefusedWhereTheResultSaysSo) {
    EXPECT_EQ(ClearLayer(nullptr), 0);
    EXPECT_EQ(SetLayer(nullptr, 1), 0);
    Layer rootless{};
    EXPECT_EQ(ClearLayer(&rootless), 0);
    HostCanvas canvas(2, 2, 5);
    EXPECT_EQ(CopyLayer(canvas.layer(), nullptr), 0);
    EXPECT_EQ(CopyLayer(nullptr, canvas.layer()), 0);
    EXPECT_EQ(CopyLayer(canvas.layer(), &rootless), 0);
    EXPECT_EQ(CopyWithOpacityLayer(canvas.layer(), nullptr, 255), 1);
    EXPECT_EQ(canvas.at(1, 1), 5u);
}

TEST_F(FillCopyTest, OverridesTakeOverClearAndSet) {
    HostCanvas canvas(4, 4, 0x11111111);
    LayerOverrides overrides{};
    overrides.clearLayer = ClearOverride;
    overrides.setLayer = SetOverride;
    canvas.layer()->overrides = &overrides;
    canvas.layer()->beginAccess = CountBegin;
    Layer *child = CreateClippedLayer(canvas.layer());

    overrideLog.result = 1;
    EXPECT_EQ(ClearLayer(child), 1);
    EXPECT_EQ(SetLayer(child, 0xABCDEF01), 1);
    EXPECT_EQ(overrideLog.calls, (std::vector<std::string>{"clear", "set"}));
    EXPECT_EQ(overrideLog.first, child);  // the root's table, called with the layer passed
    EXPECT_EQ(overrideLog.colour, 0xABCDEF01u);
    EXPECT_EQ(canvas.at(0, 0), 0x11111111u);
    EXPECT_EQ(begins, 0);  // no access was opened

    overrideLog.result = 0;  // the host declines: the library does the work
    EXPECT_EQ(SetLayer(child, 0x22222222), 1);
    EXPECT_EQ(canvas.at(3, 3), 0x22222222u);
    EXPECT_EQ(begins, 1);
    DeleteLayer(child);
}

TEST_F(FillCopyTest, CopyOverridesAreTriedOnTheDestinationRootThenTheSource) {
    HostCanvas destination(4, 4, 0x11111111), source(4, 4, 0x22222222);
    LayerOverrides destinationTable{}, sourceTable{};
    destinationTable.copyLayer = CopyOverrideA;
    sourceTable.copyLayer = CopyOverrideB;
    destination.layer()->overrides = &destinationTable;
    source.layer()->overrides = &sourceTable;

    EXPECT_EQ(CopyLayer(destination.layer(), source.layer()), 1);
    EXPECT_EQ(overrideLog.calls, (std::vector<std::string>{"copyA", "copyB"}));
    EXPECT_EQ(destination.at(2, 2), 0x22222222u);  // both declined

    destination.raw().assign(16, 0x11111111);
    overrideLog.calls.clear();
    destinationTable.copyLayer = nullptr;
    overrideLog.result = 1;
    EXPECT_EQ(CopyLayer(destination.layer(), source.layer()), 1);
    EXPECT_EQ(overrideLog.calls, (std::vector<std::string>{"copyB"}));
    EXPECT_EQ(overrideLog.first, destination.layer());
    EXPECT_EQ(overrideLog.second, source.layer());
    EXPECT_EQ(destination.at(2, 2), 0x11111111u);

    // A missing source is refused after the destination's table was tried.
    overrideLog.calls.clear();
    destinationTable.copyLayer = CopyOverrideA;
    overrideLog.result = 0;
    EXPECT_EQ(CopyLayer(destination.layer(), nullptr), 0);
    EXPECT_EQ(overrideLog.calls, (std::vector<std::string>{"copyA"}));
}

TEST_F(FillCopyTest, CopyCoversTheOverlapOnly) {
    for (bool bottomUp : {false, true}) {
        HostCanvas destination(6, 5, 0xEEEEEEEE, 9, bottomUp), source(4, 7, 0, 0, false);
        Pattern(source, 77);
        EXPECT_EQ(CopyLayer(destination.layer(), source.layer()), 1);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(destination.at(x, y), x < 4 ? source.at(x, y) : 0xEEEEEEEEu) << x << "," << y;
    }
}

TEST_F(FillCopyTest, CopyBetweenDisjointWindowsChangesNothing) {
    HostCanvas canvas(10, 10, 3);
    Layer *a = CreateClippedLayer(canvas.layer());
    Layer *b = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(a, 0, 0, 5, 5);
    ClipLayerXYWH(b, 20, 20, 5, 5);
    EXPECT_EQ(CopyLayer(a, b), 1);
    EXPECT_EQ(canvas.at(0, 0), 3u);
    DeleteLayer(a);
    DeleteLayer(b);
}

TEST_F(FillCopyTest, OverlappingCopyRunsInAscendingAddressOrder) {
    // Rows back to back: one block. The destination starts one pixel after
    // the source, so an ascending copy repeats the source's first pixel.
    std::vector<uint32_t> buffer(12);
    for (uint32_t i = 0; i < 12; ++i) buffer[i] = i;
    Layer *source = CreateCompatibleLayer(buffer.data(), 11, 1, 44);
    Layer *destination = CreateCompatibleLayer(buffer.data() + 1, 11, 1, 44);
    EXPECT_EQ(CopyLayer(destination, source), 1);
    for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(buffer[i], 0u) << i;
    // Destination before the source: a plain shift down.
    for (uint32_t i = 0; i < 12; ++i) buffer[i] = i;
    EXPECT_EQ(CopyLayer(source, destination), 1);
    for (uint32_t i = 0; i < 11; ++i) EXPECT_EQ(buffer[i], i + 1) << i;
    DeleteLayer(source);
    DeleteLayer(destination);

    // Row by row within one buffer: windows of one root, offset by a column.
    HostCanvas canvas(8, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) canvas.at(x, y) = 10 * y + x;
    Layer *from = CreateClippedLayer(canvas.layer());
    Layer *to = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(from, 0, 0, 6, 3);
    ClipLayerXYWH(to, 2, 0, 6, 3);
    CopyLayer(to, from);
    for (int y = 0; y < 3; ++y) {
        const uint32_t expected[8] = {0, 1, 0, 1, 0, 1, 0, 1};
        for (int x = 0; x < 8; ++x) EXPECT_EQ(canvas.at(x, y), expected[x] + 10 * y) << x << "," << y;
    }
    DeleteLayer(from);
    DeleteLayer(to);
}

TEST_F(FillCopyTest, CopyWithOpacityScalesAlphaAndKeepsColour) {
    struct Case {
        int32_t opacity;
        uint32_t alpha, expected;
    } cases[] = {{255, 200, 200}, {128, 255, 128}, {128, 128, 64}, {1, 254, 0},
                 {1, 255, 1},     {0, 255, 0},     {0x180, 255, 128}};
    for (const Case &c : cases) {
        HostCanvas destination(3, 2, 0x99999999), source(3, 2, c.alpha << 24 | 0x00A1B2C3);
        EXPECT_EQ(CopyWithOpacityLayer(destination.layer(), source.layer(), c.opacity), 1);
        EXPECT_EQ(destination.at(2, 1), c.expected << 24 | 0x00A1B2C3) << c.opacity << "/" << c.alpha;
    }
    // Every opacity and alpha: floor(o * a / 255).
    HostCanvas destination(256, 1), source(256, 1);
    for (uint32_t a = 0; a < 256; ++a) source.at(a, 0) = a << 24 | 0x123456;
    for (uint32_t o = 0; o < 256; ++o) {
        CopyWithOpacityLayer(destination.layer(), source.layer(), static_cast<int32_t>(o));
        for (uint32_t a = 0; a < 256; ++a) ASSERT_EQ(destination.at(a, 0) >> 24, o * a / 255) << o << "," << a;
    }
}

int refreshes = 0;
int32_t ZL_CALL CountRefresh(Layer *, LayerNotifier *) { return ++refreshes; }
Layer *chainSource = nullptr;
Layer *chainDestination = nullptr;

// Runs every fill and copy on the chain layers from inside a receiver.
int32_t ZL_CALL RunEveryOperation(Layer *, LayerNotifier *) {
    CopyLayer(chainDestination, chainSource);
    CopyWithOpacityLayer(chainDestination, chainSource, 9);
    SetLayer(chainDestination, 0);
    ClearLayer(chainDestination);
    SetAlphaLayer(chainDestination, 1);
    return 1;
}

TEST_F(FillCopyTest, SourcesAreRefreshedAndDestinationsUpdated) {
    HostCanvas destination(4, 4), source(4, 4, 0xFF000000), trigger(1, 1);
    LayerNotifier refresh{CountRefresh}, update{CountUpdate}, driver{RunEveryOperation};
    source.layer()->refreshNotifier = &refresh;
    source.layer()->updateNotifier = &update;
    destination.layer()->refreshNotifier = &refresh;
    destination.layer()->updateNotifier = &update;
    chainSource = source.layer();
    chainDestination = destination.layer();

    trigger.layer()->updateNotifier = &driver;
    UpdateLayerEx(trigger.layer());
    EXPECT_EQ(updates, 5);    // every operation wrote the destination
    EXPECT_EQ(refreshes, 0);  // no refresh inside an update chain

    updates = 0;
    trigger.layer()->refreshNotifier = &driver;
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(refreshes, 2);  // the two copies read the source
    EXPECT_EQ(updates, 0);
}

// Runs the three operations that a host may take over.
int32_t ZL_CALL RunOverridableOperations(Layer *, LayerNotifier *) {
    CopyLayer(chainDestination, chainSource);
    SetLayer(chainDestination, 0x33333333);
    ClearLayer(chainDestination);
    return 1;
}

TEST_F(FillCopyTest, AnOverrideThatTakesOverSendsNoNotification) {
    HostCanvas destination(4, 4, 0x11111111), source(4, 4, 0xFF000000), trigger(1, 1);
    LayerOverrides table{};
    table.copyLayer = CopyOverrideA;
    table.setLayer = SetOverride;
    table.clearLayer = ClearOverride;
    destination.layer()->overrides = &table;
    LayerNotifier refresh{CountRefresh}, update{CountUpdate}, driver{RunOverridableOperations};
    source.layer()->refreshNotifier = &refresh;
    destination.layer()->updateNotifier = &update;
    trigger.layer()->updateNotifier = &driver;
    trigger.layer()->refreshNotifier = &driver;
    chainSource = source.layer();
    chainDestination = destination.layer();
    refreshes = 0;

    overrideLog.result = 1;  // the host does every piece of work
    UpdateLayerEx(trigger.layer());
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(overrideLog.calls, (std::vector<std::string>{"copyA", "set", "clear", "copyA", "set", "clear"}));
    EXPECT_EQ(updates, 0);
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(destination.at(1, 1), 0x11111111u);

    overrideLog.result = 0;  // the host declines: the library works and reports
    UpdateLayerEx(trigger.layer());
    EXPECT_EQ(updates, 3);
    RefreshLayerEx(trigger.layer());
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(destination.at(1, 1), 0u);
}

}  // namespace
