// Which change notifications the stacking, opacity, flip and alpha-clip
// operations send, inside refresh and update chains.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using zltest::HostCanvas;

using Heard = zltest::NotifyTest::Heard;

class MoreOpsNotifyTest : public zltest::NotifyTest {
protected:
    MoreOpsNotifyTest() : NotifyTest({"a", "b", "out"}, {0x80FF0000, 0xFF0000FF, 0x400000FF}) {}
    HostCanvas &a = Canvas(0), &b = Canvas(1), &out = Canvas(2);
};

TEST_F(MoreOpsNotifyTest, TwoLayerRefreshesBothLayersAndUpdatesTheOutput) {
    EXPECT_EQ(InBothChains([&] { TwoLayerComposit(out.layer(), a.layer(), b.layer()); }),
              (Heard{"a.refresh", "b.refresh", "out.update"}));
    EXPECT_EQ(InBothChains([&] { TwoLayerComposit(nullptr, a.layer(), b.layer()); }), Heard{});
}

TEST_F(MoreOpsNotifyTest, ThreeLayerSendsNothing) {
    HostCanvas c(4, 4, 0xFF00FF00);
    EXPECT_EQ(InBothChains([&] { ThreeLayerComposit(out.layer(), a.layer(), b.layer(), c.layer(), 255); }),
              Heard{});
    EXPECT_NE(out.at(0, 0), 0x400000FFu) << "the output was written";
}

TEST_F(MoreOpsNotifyTest, OpacityFormsRefreshBothThenUpdateTheWrittenLayer) {
    EXPECT_EQ(InBothChains([&] { CompositOnTopLayerEx(a.layer(), b.layer(), 128); }),
              (Heard{"b.refresh", "a.refresh", "a.update"}));
    EXPECT_EQ(InBothChains([&] { CompositOnBottomLayerEx(a.layer(), b.layer(), 128); }),
              (Heard{"b.refresh", "a.refresh", "b.update"}));
    HostCanvas far(4, 4);
    Layer *outside = CreateClippedLayer(far.layer());
    ClipLayerXYWH(outside, 9, 9, 4, 4);
    far.layer()->refreshNotifier = RefreshReceiver(1);
    EXPECT_EQ(InBothChains([&] { CompositOnTopLayerEx(a.layer(), outside, 128); }),
              (Heard{"b.refresh", "a.refresh"}))
        << "no overlap: refreshes, no update";
    DeleteLayer(outside);
}

TEST_F(MoreOpsNotifyTest, CompositManyNotifiesOnlyThroughTheBaseCopy) {
    CompositEntry entries[] = {{a.layer(), 255}, {b.layer(), 255}};
    EXPECT_EQ(InBothChains([&] { CompositMany(out.layer(), entries, 2); }), (Heard{"a.refresh", "out.update"}));
    CompositEntry faded[] = {{b.layer(), 10}, {a.layer(), 255}};
    EXPECT_EQ(InBothChains([&] { CompositMany(out.layer(), faded, 2); }), (Heard{"b.refresh", "out.update"}));
    EXPECT_EQ(InBothChains([&] { CompositMany(out.layer(), entries, -1); }), (Heard{"out.update"}));
}

TEST_F(MoreOpsNotifyTest, FlipsRefreshAndUpdateTheLayer) {
    EXPECT_EQ(InBothChains([&] { FlipHorzLayer(a.layer()); }), (Heard{"a.refresh", "a.update"}));
    EXPECT_EQ(InBothChains([&] { FlipVertLayer(a.layer()); }), (Heard{"a.refresh", "a.update"}));
    HostCanvas column(1, 5), row(5, 1);
    column.layer()->refreshNotifier = RefreshReceiver(0);
    column.layer()->updateNotifier = UpdateReceiver(0);
    row.layer()->refreshNotifier = RefreshReceiver(1);
    row.layer()->updateNotifier = UpdateReceiver(1);
    EXPECT_EQ(InBothChains([&] { FlipHorzLayer(column.layer()); }), (Heard{"a.refresh"}))
        << "one pixel wide: nothing moves, no update";
    EXPECT_EQ(InBothChains([&] { FlipVertLayer(row.layer()); }), (Heard{"b.refresh"}));
    EXPECT_EQ(InBothChains([&] { FlipVertLayer(column.layer()); }), (Heard{"a.refresh", "a.update"}));
}

TEST_F(MoreOpsNotifyTest, AlphaClipSendsNothing) {
    Layer *window = CreateClippedLayer(a.layer());
    EXPECT_EQ(InBothChains([&] { ClipToAlphaLayer(window); }), Heard{});
    EXPECT_EQ(InBothChains([&] { DeleteLayer(ClipToAlphaLayerEx(a.layer(), nullptr, nullptr, nullptr, nullptr)); }),
              Heard{});
    DeleteLayer(window);
}

}  // namespace
