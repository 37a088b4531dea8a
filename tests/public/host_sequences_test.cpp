// Host call sequences that the interface allows and that once corrupted
// memory: each must keep its documented order of hooks and notifications and
// touch only live records and the memory the host handed over.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using zltest::HostCanvas;

std::vector<std::string> events;

int32_t ZL_CALL LogEndAccess(Layer *root, Layer *) {
    // The root is still alive here, with its count already lowered.
    events.push_back("endAccess:" + std::to_string(root->accessCount) + "/" + std::to_string(root->refCount));
    return 1;
}

int32_t ZL_CALL LogDestroy(Layer *, void *) {
    events.push_back("destroy");
    return 1;
}

class HostSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { events.clear(); }
};

TEST_F(HostSequenceTest, RootDeletedWhileItsOwnAccessIsOpenLivesUntilTheClose) {
    for (bool asSecond : {false, true}) {
        events.clear();
        HostCanvas other(4, 4);
        Layer *root = CreateLayer(4, 4, 1);
        root->endAccess = LogEndAccess;
        root->destroy = LogDestroy;
        LayerAccess access;
        if (asSecond)
            ASSERT_EQ(BeginLayerAccess(&access, other.layer(), root), 1);
        else
            ASSERT_EQ(BeginLayerAccess(&access, root, nullptr), 1);
        EXPECT_EQ(DeleteLayer(root), 0);  // the open access still holds it
        EXPECT_TRUE(events.empty());
        EXPECT_EQ(EndLayerAccess(&access), 1);
        // endAccess ran on the live root (no access and no reference left),
        // and only then the root was freed, once.
        EXPECT_EQ(events, (std::vector<std::string>{"endAccess:0/0", "destroy"})) << asSecond;
        EXPECT_EQ(other.layer()->accessCount, 0);
        EXPECT_EQ(other.layer()->refCount, 1);
    }
}

// The host drops its last reference on a layer that its own open bracket
// names, of every kind; the record lives until the close, which frees it
// after the root's endAccess.
TEST_F(HostSequenceTest, EveryLayerABracketNamesLivesUntilTheClose) {
    enum Case { Clipped, RootWithoutPixels, SecondLayer, ViewWithoutTarget };
    for (Case c : {Clipped, RootWithoutPixels, SecondLayer, ViewWithoutTarget}) {
        events.clear();
        HostCanvas canvas(4, 4);
        canvas.layer()->endAccess = LogEndAccess;
        Layer *dropped = nullptr;
        LayerAccess access;
        switch (c) {
            case Clipped:
                dropped = CreateClippedLayer(canvas.layer());
                BeginLayerAccess(&access, dropped, nullptr);
                break;
            case RootWithoutPixels:
                dropped = CreateCompatibleLayer(nullptr, 4, 4, 16);
                dropped->endAccess = LogEndAccess;
                BeginLayerAccess(&access, dropped, nullptr);
                break;
            case SecondLayer:
                dropped = CreateClippedLayer(canvas.layer());
                BeginLayerAccess(&access, CreateLayer(2, 2, 1), dropped);
                break;
            case ViewWithoutTarget:
                dropped = static_cast<Layer *>(calloc(1, sizeof(Layer)));
                dropped->flags = LayerKindView;
                dropped->refCount = 1;
                dropped->root = dropped;
                dropped->endAccess = LogEndAccess;
                BeginLayerAccess(&access, dropped, nullptr);
                break;
        }
        dropped->destroy = LogDestroy;
        Layer *first = c == SecondLayer ? access.layer->parent : nullptr;
        EXPECT_EQ(DeleteLayer(dropped), 0) << c;
        EXPECT_TRUE(events.empty()) << c;
        EndLayerAccess(&access);
        std::string end = c == Clipped || c == SecondLayer ? "endAccess:0/1" : "endAccess:0/0";
        EXPECT_EQ(events, (std::vector<std::string>{end, "destroy"})) << c;
        EXPECT_EQ(canvas.layer()->refCount, 1) << c;
        EXPECT_EQ(canvas.layer()->firstChild, nullptr) << c;
        if (first != nullptr) DeleteLayer(first);
    }
}

// An operation's own bracket: a receiver called while it runs drops the last
// host reference on the layer the operation writes. Notifications reach
// receivers only inside RefreshLayerEx, so the operation runs from a
// receiver of a trigger layer.
struct DropDuringOperation {
    LayerNotifier dropOnRefresh;
    LayerNotifier runOnRefresh;
    Layer *top;
    Layer *written;
    bool fourCorner;
};
DropDuringOperation drop;

int32_t ZL_CALL DropWrittenLayer(Layer *, LayerNotifier *) {
    if (drop.written != nullptr) {
        EXPECT_EQ(DeleteLayer(drop.written), 0);
    }
    drop.written = nullptr;
    return 1;
}

int32_t ZL_CALL RunOperation(Layer *, LayerNotifier *) {
    const double x[4] = {0, 4, 4, 0}, y[4] = {0, 0, 4, 4};
    if (drop.fourCorner) return FourCornerMapLayer(drop.written, drop.top, x, y);
    return CompositOnBottomLayer(drop.top, drop.written);
}

TEST_F(HostSequenceTest, ReceiverDroppingALayerTheOperationOpenedLeavesItUntilTheEnd) {
    for (bool fourCorner : {false, true}) {
        HostCanvas top(4, 4, 0x80FF0000), bottom(4, 4, 0xFF0000FF), trigger(1, 1);
        drop = DropDuringOperation{{DropWrittenLayer}, {RunOperation}, top.layer(),
                                   CreateClippedLayer(bottom.layer()), fourCorner};
        drop.written->destroy = LogDestroy;
        top.layer()->refreshNotifier = &drop.dropOnRefresh;  // the source the mapping reads
        drop.written->refreshNotifier = &drop.dropOnRefresh;  // the bottom the composite reads
        trigger.layer()->refreshNotifier = &drop.runOnRefresh;
        events.clear();
        EXPECT_EQ(RefreshLayerEx(trigger.layer()), 1) << fourCorner;
        EXPECT_EQ(events, std::vector<std::string>{"destroy"}) << fourCorner;
        EXPECT_NE(bottom.at(1, 1), 0xFF0000FFu) << fourCorner;
        EXPECT_EQ(bottom.layer()->refCount, 1) << fourCorner;
    }
}

// A bracket on two windows of one root (or the root and a window), all
// dropped by the host while it is open: the close frees the windows before
// the root, so a window's destroy never sees its root freed.
Layer *destroyedRoot = nullptr;
int32_t ZL_CALL LogDestroyKind(Layer *layer, void *) {
    events.push_back(layer == destroyedRoot ? "destroy root" : "destroy window");
    return 1;
}

TEST_F(HostSequenceTest, CloseFreesDroppedWindowsBeforeTheirRoot) {
    for (bool rootFirst : {false, true}) {
        events.clear();
        destroyedRoot = CreateLayer(4, 4, 1);
        Layer *first = rootFirst ? destroyedRoot : CreateClippedLayer(destroyedRoot);
        Layer *second = CreateClippedLayer(destroyedRoot);
        for (Layer *layer : {destroyedRoot, first, second}) layer->destroy = LogDestroyKind;
        LayerAccess access;
        ASSERT_EQ(BeginLayerAccess(&access, first, second), 1) << rootFirst;
        EXPECT_EQ(DeleteLayer(second), 0) << rootFirst;
        if (!rootFirst) {
            EXPECT_EQ(DeleteLayer(first), 0);
        }
        EXPECT_EQ(DeleteLayer(destroyedRoot), 0) << rootFirst;
        EXPECT_EQ(EndLayerAccess(&access), 1) << rootFirst;
        std::vector<std::string> want{"destroy window", "destroy window", "destroy root"};
        if (rootFirst) want.erase(want.begin());
        EXPECT_EQ(events, want) << rootFirst;
    }
}

// A refresh receiver that redraws the layer it is handed with library
// operations: the layer is the temporary child of the caller's open access.
// Reading the handed layer again refreshes it again: like a real host, the
// receiver ignores the calls its own redrawing causes.
struct Redraw {
    LayerNotifier notifier;
    Layer *mirror;
    int calls;
    bool redrawing;
    int32_t refCountSeen;
};

int32_t ZL_CALL RedrawHandedLayer(Layer *layer, LayerNotifier *notifier) {
    Redraw *redraw = reinterpret_cast<Redraw *>(notifier);
    if (redraw->redrawing) return 1;
    redraw->redrawing = true;
    ++redraw->calls;
    EXPECT_EQ(layer->flags, 3u);
    SetLayer(layer, 0xFF00FF00);
    CopyLayer(redraw->mirror, layer);  // the handed layer as a second layer, too
    CompositOnBottomLayer(redraw->mirror, layer);
    redraw->refCountSeen = layer->refCount;
    redraw->redrawing = false;
    return 1;
}

TEST_F(HostSequenceTest, ReceiverRedrawingTheTemporaryChildItIsHandedKeepsIt) {
    HostCanvas top(4, 4, 0x80FF0000), canvas(4, 4, 0x12345678), mirror(4, 4), trigger(1, 1);
    Redraw redraw{{RedrawHandedLayer}, mirror.layer(), 0, false, 0};
    canvas.layer()->refreshNotifier = &redraw.notifier;
    canvas.layer()->endAccess = LogEndAccess;

    // Inside a refresh chain the top is redrawn over the canvas; the canvas's
    // receiver redraws the canvas's stand-in before it is read.
    struct Driver {
        LayerNotifier notifier;
        Layer *top, *canvas;
    } driver{{[](Layer *, LayerNotifier *n) -> int32_t {
                  Driver *d = reinterpret_cast<Driver *>(n);
                  return CompositOnTopLayer(d->top, d->canvas);
              }},
             top.layer(), canvas.layer()};
    trigger.layer()->refreshNotifier = &driver.notifier;
    EXPECT_EQ(RefreshLayerEx(trigger.layer()), 1);

    EXPECT_EQ(redraw.calls, 1);
    EXPECT_EQ(redraw.refCountSeen, 1);  // the handed layer survived the receiver's own brackets
    EXPECT_EQ(top.at(3, 3), CompositPel(0x80FF0000, 0xFF00FF00));
    EXPECT_EQ(mirror.at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(canvas.at(3, 3), 0xFF00FF00u);
    // The canvas's endAccess ran once, when the outer access closed.
    EXPECT_EQ(events, (std::vector<std::string>{"endAccess:0/1"}));
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    EXPECT_EQ(canvas.layer()->refCount, 1);
    EXPECT_EQ(canvas.layer()->firstChild, nullptr);
}

// A root whose beginAccess moves its buffer to a narrower one.
struct MovingBuffer {
    std::vector<uint32_t> narrow;
    int moves = 0;
};
MovingBuffer moving;

int32_t ZL_CALL MoveToNarrowBuffer(Layer *root, void *) {
    ++moving.moves;
    for (int32_t y = 0; y < root->height; ++y)
        for (int32_t x = 0; x < root->width; ++x)
            moving.narrow[static_cast<size_t>(y * root->width + x)] =
                root->pixels[static_cast<size_t>(y * (root->rowBytes / 4) + x)];
    root->pixels = moving.narrow.data();
    root->rowBytes = root->width * 4;
    return 1;
}

TEST_F(HostSequenceTest, ViewAccessUsesTheBufferAndStrideItsTargetsRootMovedTo) {
    // The target's root starts on rows of 16 pixels and moves to rows of 4
    // when its first access opens, which happens for the second layer here,
    // after the view's pixels were first resolved.
    std::vector<uint32_t> wide(16 * 4);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint32_t>(i) + 1;
    std::vector<uint32_t> wideBefore = wide;
    moving = MovingBuffer{};
    moving.narrow.assign(4 * 4, 0);
    Layer *target = CreateCompatibleLayer(wide.data(), 4, 4, 64);
    target->beginAccess = MoveToNarrowBuffer;
    Layer view{};
    view.flags = LayerKindView;
    view.refCount = 1;
    view.root = &view;
    view.width = view.height = INT_MAX;
    view.bounds = LayerRect{0, 0, INT_MAX, INT_MAX};
    view.target = target;
    Layer *rightHalf = CreateClippedLayer(target);
    ClipLayerXYWH(rightHalf, 2, 0, 2, 4);

    EXPECT_EQ(CopyLayer(&view, rightHalf), 1);
    EXPECT_EQ(moving.moves, 1);
    for (int32_t y = 0; y < 4; ++y) {
        uint32_t row = static_cast<uint32_t>(y * 16);
        // Columns 0 and 1 of the moved buffer now hold columns 2 and 3.
        EXPECT_EQ(moving.narrow[static_cast<size_t>(y * 4 + 0)], row + 3) << y;
        EXPECT_EQ(moving.narrow[static_cast<size_t>(y * 4 + 1)], row + 4) << y;
        EXPECT_EQ(moving.narrow[static_cast<size_t>(y * 4 + 2)], row + 3) << y;
        EXPECT_EQ(moving.narrow[static_cast<size_t>(y * 4 + 3)], row + 4) << y;
    }
    EXPECT_EQ(wide, wideBefore);  // the old buffer is left alone
    EXPECT_EQ(view.accessCount, 0);
    EXPECT_EQ(view.firstChild, nullptr);
    DeleteLayer(rightHalf);
    DeleteLayer(target);
}

}  // namespace
