#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

using zltest::ExpectRect;
using zltest::HostCanvas;

struct HookLog {
    int begins = 0;
    int ends = 0;
    Layer *lastEndLayer = nullptr;
    int32_t endResult = 1;
    uint32_t *suppliedPixels = nullptr;
};
HookLog hooks;

int32_t ZL_CALL CountBegin(Layer *root, void *unused) {
    EXPECT_EQ(unused, nullptr);
    ++hooks.begins;
    if (hooks.suppliedPixels != nullptr) root->pixels = hooks.suppliedPixels;
    return 0;
}

int32_t ZL_CALL CountEnd(Layer *, Layer *layer) {
    ++hooks.ends;
    hooks.lastEndLayer = layer;
    return hooks.endResult;
}

class AccessTest : public ::testing::Test {
protected:
    HostCanvas root{100, 50};
    void SetUp() override {
        hooks = HookLog{};
        root.layer()->beginAccess = CountBegin;
        root.layer()->endAccess = CountEnd;
    }
    uint32_t *RootPixel(int32_t x, int32_t y) { return &root.at(x, y); }
};

TEST_F(AccessTest, RootIsOpenedThroughATemporaryChild) {
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, root.layer(), nullptr), 1);
    Layer *standIn = access.layer;
    ASSERT_NE(standIn, root.layer());
    EXPECT_EQ(standIn->flags, 3u);
    EXPECT_EQ(standIn->parent, root.layer());
    ExpectRect(access.region, 0, 0, 100, 50);
    EXPECT_EQ(access.width, 100);
    EXPECT_EQ(access.height, 50);
    EXPECT_EQ(access.pixels, root.layer()->pixels);
    EXPECT_EQ(access.origin, root.layer()->pixels);
    EXPECT_EQ(access.rowBytes, 400);
    EXPECT_EQ(access.layer2, nullptr);
    EXPECT_EQ(access.pixels2, nullptr);
    ExpectRect(access.visible2, 0, 0, 100, 50);
    EXPECT_EQ(root.layer()->accessCount, 1);
    EXPECT_EQ(root.layer()->refCount, 2);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(root.layer()->firstChild, nullptr);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(root.layer()->refCount, 1);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 1);
    EXPECT_EQ(hooks.lastEndLayer, root.layer());  // the layer passed, not the stand-in
}

TEST_F(AccessTest, ClippedWindowsHandOutTheirVisiblePart) {
    Layer *c = CreateClippedLayer(root.layer());
    struct Case {
        LayerRect clip;
        int32_t x, y, width, height;
        LayerRect region;
    } cases[] = {
        {{10, 20, 30, 45}, 10, 20, 20, 25, {0, 0, 20, 25}},
        {{10, 20, 30, 60}, 10, 20, 20, 30, {0, 0, 20, 30}},
        {{90, 40, 120, 70}, 90, 40, 10, 10, {0, 0, 10, 10}},
        {{-5, -7, 10, 10}, 0, 0, 10, 10, {5, 7, 15, 17}},
    };
    for (const Case &k : cases) {
        ClipLayer(c, &k.clip);
        LayerAccess access;
        ASSERT_EQ(BeginLayerAccess(&access, c, nullptr), 1);
        EXPECT_EQ(access.layer, c);  // no temporary layer for a clipped one
        EXPECT_EQ(access.pixels, RootPixel(k.x, k.y));
        EXPECT_EQ(access.width, k.width);
        EXPECT_EQ(access.height, k.height);
        ExpectRect(access.region, k.region.left, k.region.top, k.region.right, k.region.bottom);
        EXPECT_EQ(EndLayerAccess(&access), 1);
        EXPECT_EQ(hooks.lastEndLayer, c);
    }
    DeleteLayer(c);
}

TEST_F(AccessTest, StridesWiderThanTheRowAndBottomUpBuffers) {
    HostCanvas wide(10, 6, 0, 16);
    HostCanvas upsideDown(10, 6, 0, 0, true);
    for (HostCanvas *canvas : {&wide, &upsideDown}) {
        Layer *c = CreateClippedLayer(canvas->layer());
        ClipLayerXYWH(c, 2, 3, 4, 2);
        LayerAccess access;
        ASSERT_EQ(BeginLayerAccess(&access, c, nullptr), 1);
        EXPECT_EQ(access.rowBytes, canvas->layer()->rowBytes);
        EXPECT_EQ(access.pixels, &canvas->at(2, 3));
        uint32_t *secondRow = reinterpret_cast<uint32_t *>(reinterpret_cast<char *>(access.pixels) + access.rowBytes);
        EXPECT_EQ(secondRow, &canvas->at(2, 4));
        EndLayerAccess(&access);
        DeleteLayer(c);
    }
}

TEST_F(AccessTest, TwoLayersMeetAtTheirTopLeftCorners) {
    HostCanvas other(40, 80);
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, root.layer(), other.layer()), 1);
    ExpectRect(access.region, 0, 0, 40, 50);
    EXPECT_EQ(access.width, 40);
    EXPECT_EQ(access.height, 50);
    EXPECT_EQ(access.pixels2, &other.at(0, 0));
    EXPECT_EQ(access.rowBytes2, 160);
    EXPECT_EQ(access.layer2->parent, other.layer());
    EXPECT_EQ(other.layer()->accessCount, 1);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(other.layer()->accessCount, 0);
    EXPECT_EQ(other.layer()->firstChild, nullptr);
    EXPECT_EQ(other.layer()->refCount, 1);
}

TEST_F(AccessTest, SecondLayerOffsetInsideTheFirst) {
    Layer *a = CreateClippedLayer(root.layer());
    Layer *b = CreateClippedLayer(root.layer());
    ClipLayerXYWH(a, 10, 10, 30, 30);
    ClipLayerXYWH(b, 60, 5, 50, 20);  // cut at the root's right edge: 40 wide
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, a, b), 1);
    ExpectRect(access.region, 0, 0, 30, 20);
    EXPECT_EQ(access.pixels, RootPixel(10, 10));
    EXPECT_EQ(access.pixels2, RootPixel(60, 5));
    EXPECT_EQ(hooks.begins, 1);  // one tree, counted twice, opened once
    EXPECT_EQ(root.layer()->accessCount, 2);
    EndLayerAccess(&access);
    EXPECT_EQ(hooks.ends, 1);
    EXPECT_EQ(root.layer()->accessCount, 0);
    DeleteLayer(a);
    DeleteLayer(b);
}

TEST_F(AccessTest, SecondLayerThatDoesNotOverlapLeavesTheFirstAlone) {
    Layer *a = CreateClippedLayer(root.layer());
    Layer *b = CreateClippedLayer(root.layer());
    ClipLayerXYWH(a, 0, 0, 30, 30);
    ClipLayerXYWH(b, 500, 0, 10, 10);  // invisible
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, a, b), 1);
    ExpectRect(access.region, 0, 0, 30, 30);
    ExpectRect(access.visible2, 0, 0, 30, 30);
    EXPECT_EQ(access.pixels2, nullptr);
    EXPECT_EQ(access.origin2, nullptr);
    EXPECT_EQ(access.layer2, b);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(root.layer()->accessCount, 0);

    // A second root without pixels does not fail the open either.
    Layer *empty = CreateCompatibleLayer(nullptr, 10, 10, 40);
    ASSERT_EQ(BeginLayerAccess(&access, a, empty), 1);
    EXPECT_EQ(access.pixels2, nullptr);
    EXPECT_EQ(access.layer2, empty);
    EXPECT_EQ(empty->accessCount, 1);
    EndLayerAccess(&access);
    EXPECT_EQ(empty->accessCount, 0);
    DeleteLayer(empty);
    DeleteLayer(a);
    DeleteLayer(b);
}

TEST_F(AccessTest, FailedOpensAreUndoneByTheClose) {
    Layer *c = CreateClippedLayer(root.layer());
    ClipLayerXYWH(c, 200, 0, 10, 10);
    LayerAccess access;
    EXPECT_EQ(BeginLayerAccess(&access, c, nullptr), 0);
    EXPECT_EQ(root.layer()->accessCount, 1);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(root.layer()->refCount, 2);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 1);

    // A root without pixels: counted, then released.
    Layer *empty = CreateCompatibleLayer(nullptr, 10, 10, 40);
    EXPECT_EQ(BeginLayerAccess(&access, empty, root.layer()), 0);
    EXPECT_EQ(access.layer2, nullptr);
    EXPECT_EQ(empty->accessCount, 1);
    EndLayerAccess(&access);
    EXPECT_EQ(empty->accessCount, 0);
    EXPECT_EQ(empty->firstChild, nullptr);
    EXPECT_EQ(root.layer()->accessCount, 0);
    DeleteLayer(empty);
    DeleteLayer(c);
}

TEST_F(AccessTest, BeginAccessMaySupplyTheBuffer) {
    std::vector<uint32_t> buffer(8 * 4, 0);
    Layer *lazy = CreateCompatibleLayer(nullptr, 8, 4, 32);
    lazy->beginAccess = CountBegin;
    hooks.suppliedPixels = buffer.data();
    ASSERT_EQ(SetLayer(lazy, 0x11223344), 1);
    EXPECT_EQ(buffer[31], 0x11223344u);
    DeleteLayer(lazy);
}

TEST_F(AccessTest, NestedAccessesCallTheHooksOnce) {
    LayerAccess outer, inner;
    ASSERT_EQ(BeginLayerAccess(&outer, root.layer(), nullptr), 1);
    ASSERT_EQ(BeginLayerAccess(&inner, root.layer(), nullptr), 1);
    EXPECT_EQ(root.layer()->accessCount, 2);
    EndLayerAccess(&inner);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 0);
    EndLayerAccess(&outer);
    EXPECT_EQ(hooks.ends, 1);
    // Closing again finds a count of 0 and leaves it alone.
    LayerAccess stale{};
    stale.layer = root.layer();
    EXPECT_EQ(EndLayerAccess(&stale), 1);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(hooks.ends, 1);
}

TEST_F(AccessTest, RefusedEndStillReleasesTheSecondLayer) {
    HostCanvas other(10, 10);
    hooks.endResult = 0;
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, root.layer(), other.layer()), 1);
    EXPECT_EQ(EndLayerAccess(&access), 0);
    EXPECT_EQ(other.layer()->accessCount, 0);
    EXPECT_EQ(other.layer()->firstChild, nullptr);
    EXPECT_EQ(other.layer()->refCount, 1);
    EXPECT_EQ(root.layer()->refCount, 1);
}

TEST_F(AccessTest, NullArgumentsAreRefused) {
    EXPECT_EQ(BeginLayerAccess(nullptr, root.layer(), nullptr), 0);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(hooks.begins, 0);
    EXPECT_EQ(EndLayerAccess(nullptr), 0);
    LayerAccess access;
    std::memset(&access, 0x5A, sizeof access);
    EXPECT_EQ(BeginLayerAccess(&access, nullptr, root.layer()), 0);
    EXPECT_EQ(access.layer, nullptr);
    EXPECT_EQ(access.layer2, nullptr);
    EXPECT_EQ(access.pixels, nullptr);
    EXPECT_EQ(EndLayerAccess(&access), 0);
    EXPECT_EQ(root.layer()->accessCount, 0);
}

TEST_F(AccessTest, WrappedCoordinatesNeverReachOutsideTheBuffer) {
    Layer *c = CreateClippedLayer(root.layer());
    // Its right edge wraps to a negative value: visible in no sane sense.
    ClipLayerXYWH(c, INT_MAX - 1, 0, 7, 10);
    LayerAccess access;
    EXPECT_EQ(BeginLayerAccess(&access, c, nullptr), 0);
    EndLayerAccess(&access);
    EXPECT_EQ(SetLayer(c, 0xFFFFFFFF), 1);  // writes nothing (ASan would see it)

    // A window from INT_MIN to 100 covers the root's row start: its region
    // starts at the wrapped offset INT_MIN but addresses pixel (0, 0).
    LayerRect huge{INT_MIN, 0, 100, 10};
    ClipLayer(c, &huge);
    ASSERT_EQ(BeginLayerAccess(&access, c, nullptr), 1);
    EXPECT_EQ(access.region.left, INT_MIN);
    EXPECT_EQ(access.width, 100);
    EXPECT_EQ(access.pixels, RootPixel(0, 0));
    EndLayerAccess(&access);
    SetLayer(c, 0x01020304);
    EXPECT_EQ(root.at(99, 9), 0x01020304u);
    EXPECT_EQ(root.at(0, 10), 0u);
    DeleteLayer(c);
}

TEST_F(AccessTest, DetachedChildrenStayInsideTheirRoot) {
    Layer *parent = CreateClippedLayer(root.layer());
    ClipLayerXYWH(parent, 90, 40, 10, 10);
    Layer *orphan = CreateClippedLayer(parent);
    ClipLayerXYWH(orphan, 0, 0, 30, 30);  // beyond its parent and the root
    DeleteLayer(parent);
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, orphan, nullptr), 1);
    EXPECT_EQ(access.width, 10);
    EXPECT_EQ(access.height, 10);
    EXPECT_EQ(access.pixels, RootPixel(90, 40));
    EndLayerAccess(&access);
    DeleteLayer(orphan);
}

// A view root as a host makes one: a zeroed record set up by hand.
struct ViewRoot {
    Layer record{};
    ViewRoot(Layer *target, int32_t x, int32_t y) {
        record.flags = LayerKindView;
        record.refCount = 1;
        record.root = &record;
        record.width = INT_MAX;
        record.height = INT_MAX;
        record.bounds = LayerRect{0, 0, INT_MAX, INT_MAX};
        record.target = target;
        record.targetX = x;
        record.targetY = y;
        record.beginAccess = CountBegin;
        record.endAccess = CountEnd;
    }
};

TEST_F(AccessTest, ViewWithoutTargetIsRefusedAndReleased) {
    ViewRoot view(nullptr, 0, 0);
    LayerAccess access;
    EXPECT_EQ(BeginLayerAccess(&access, &view.record, nullptr), 0);
    EXPECT_EQ(view.record.accessCount, 1);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(view.record.accessCount, 0);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 1);
}

TEST_F(AccessTest, ViewShowsARootTargetAtItsOffset) {
    ViewRoot view(root.layer(), 10, 5);
    root.layer()->beginAccess = nullptr;
    root.layer()->endAccess = nullptr;
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, &view.record, nullptr), 1);
    EXPECT_EQ(access.layer->parent, &view.record);
    ExpectRect(access.region, 10, 5, 110, 55);
    EXPECT_EQ(access.width, 100);
    EXPECT_EQ(access.height, 50);
    EXPECT_EQ(access.pixels, RootPixel(0, 0));
    EXPECT_EQ(view.record.accessCount, 1);
    EXPECT_EQ(root.layer()->accessCount, 0);  // the target's root is not counted
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(view.record.accessCount, 0);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 1);  // the view's own hooks pair up
    EXPECT_EQ(hooks.lastEndLayer, &view.record);

    // A window of the view lying partly over the shown target.
    Layer *window = CreateClippedLayer(&view.record);
    ClipLayerXYWH(window, 100, 50, 40, 20);
    ASSERT_EQ(BeginLayerAccess(&access, window, nullptr), 1);
    EXPECT_EQ(access.width, 10);
    EXPECT_EQ(access.height, 5);
    EXPECT_EQ(access.pixels, RootPixel(90, 45));
    EndLayerAccess(&access);
    DeleteLayer(window);
    EXPECT_EQ(view.record.refCount, 1);
}

TEST_F(AccessTest, ViewOfAClippedTargetShowsExactlyThatTarget) {
    Layer *target = CreateClippedLayer(root.layer());
    ClipLayerXYWH(target, 30, 20, 20, 20);
    ViewRoot view(target, 0, 0);
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, &view.record, nullptr), 1);
    EXPECT_EQ(access.width, 20);
    EXPECT_EQ(access.height, 20);
    EXPECT_EQ(access.pixels, RootPixel(30, 20));
    EndLayerAccess(&access);

    // A target partly outside its root shows only its visible part.
    ClipLayerXYWH(target, 90, 40, 30, 30);
    ViewRoot shifted(target, 7, 3);
    ASSERT_EQ(BeginLayerAccess(&access, &shifted.record, nullptr), 1);
    ExpectRect(access.region, 7, 3, 17, 13);
    EXPECT_EQ(access.pixels, RootPixel(90, 40));
    EndLayerAccess(&access);
    SetLayer(&shifted.record, 0xCAFEBABE);
    EXPECT_EQ(root.at(99, 49), 0xCAFEBABEu);
    EXPECT_EQ(root.at(89, 49), 0u);
    DeleteLayer(target);
}

TEST_F(AccessTest, ViewAsSecondLayerWithoutTargetDoesNotFail) {
    ViewRoot view(nullptr, 0, 0);
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, root.layer(), &view.record), 1);
    EXPECT_EQ(access.pixels2, nullptr);
    EXPECT_EQ(access.layer2, &view.record);
    EXPECT_EQ(view.record.accessCount, 1);
    EndLayerAccess(&access);
    EXPECT_EQ(view.record.accessCount, 0);
}

TEST_F(AccessTest, ViewWithATargetAsTheSecondLayer) {
    HostCanvas first(6, 6);
    for (size_t i = 0; i < root.raw().size(); ++i) root.raw()[i] = static_cast<uint32_t>(i) + 1;
    ViewRoot view(root.layer(), 2, 1);  // the target shows from (2, 1) of the view
    root.layer()->beginAccess = nullptr;
    root.layer()->endAccess = nullptr;
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, first.layer(), &view.record), 1);
    ExpectRect(access.region, 2, 1, 6, 6);
    ExpectRect(access.visible2, 2, 1, 102, 51);
    EXPECT_EQ(access.pixels, &first.at(2, 1));
    EXPECT_EQ(access.pixels2, RootPixel(0, 0));
    EXPECT_EQ(access.rowBytes2, 400);
    EXPECT_EQ(access.layer2->parent, &view.record);
    EXPECT_EQ(access.layer2->flags, 3u);
    EXPECT_EQ(view.record.accessCount, 1);
    EXPECT_EQ(root.layer()->accessCount, 0);
    EXPECT_EQ(EndLayerAccess(&access), 1);
    EXPECT_EQ(view.record.accessCount, 0);
    EXPECT_EQ(view.record.firstChild, nullptr);
    EXPECT_EQ(view.record.refCount, 1);
    EXPECT_EQ(hooks.begins, 1);
    EXPECT_EQ(hooks.ends, 1);

    // Copying from the view reads the target where the view shows it.
    EXPECT_EQ(CopyLayer(first.layer(), &view.record), 1);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            uint32_t expected = x >= 2 && y >= 1 ? root.at(x - 2, y - 1) : 0u;
            ASSERT_EQ(first.at(x, y), expected) << x << "," << y;
        }
}

}  // namespace
