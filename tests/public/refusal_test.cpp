// One test per row of the README's table of refusals: each bad argument gets
// its documented 0 or null, and nothing the call could reach is changed.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

using zltest::HostCanvas;

// The whole record, to show that a refusal leaves it as it was.
std::vector<unsigned char> Bytes(const Layer *layer) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(layer);
    return std::vector<unsigned char>(p, p + sizeof *layer);
}

TEST(Refusal, CreateLayerRefusesNonPositiveAndOversizedSizes) {
    EXPECT_EQ(CreateLayer(0, 10, 1), nullptr);
    EXPECT_EQ(CreateLayer(10, -1, 1), nullptr);
    EXPECT_EQ(CreateLayer(10, 10, 0), nullptr);
    EXPECT_EQ(CreateLayer(INT_MIN, 1, 1), nullptr);
    EXPECT_EQ(CreateLayer(0x10000, 0x10000, 1), nullptr);  // 2^34 bytes
    EXPECT_EQ(CreateLayer(0x20000000, 1, 1), nullptr);     // a row wider than a signed stride
    EXPECT_EQ(CreateLayer(1, 1, 0x40000000), nullptr);     // the planes overflow
    Layer *ok = CreateLayer(1, 1, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(DeleteLayer(ok), 1);
}

TEST(Refusal, CreateCompatibleLayerStoresWhateverItIsGiven) {
    Layer *layer = CreateCompatibleLayer(nullptr, -5, INT_MIN, 3);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->width, -5);
    EXPECT_EQ(layer->height, INT_MIN);
    EXPECT_EQ(layer->rowBytes, 3);
    EXPECT_EQ(DeleteLayer(layer), 1);
}

TEST(Refusal, CreateClippedLayerOfNullIsNull) { EXPECT_EQ(CreateClippedLayer(nullptr), nullptr); }

TEST(Refusal, ReferenceCountingOfNullReturnsZero) {
    EXPECT_EQ(AddRefCountLayer(nullptr), 0);
    EXPECT_EQ(DeleteLayer(nullptr), 0);
}

TEST(Refusal, ClipLayerRefusesNullsRootsViewsAndOrphans) {
    HostCanvas canvas(8, 8);
    Layer *root = canvas.layer();
    LayerRect rect{1, 1, 3, 3};
    auto before = Bytes(root);
    EXPECT_EQ(ClipLayer(root, &rect), 0);
    EXPECT_EQ(Bytes(root), before);
    EXPECT_EQ(ClipLayer(nullptr, &rect), 0);

    Layer *child = CreateClippedLayer(root);
    auto childBefore = Bytes(child);
    EXPECT_EQ(ClipLayer(child, nullptr), 0);
    EXPECT_EQ(Bytes(child), childBefore);

    Layer view;
    std::memset(&view, 0, sizeof view);
    view.flags = LayerKindView;
    view.refCount = 1;
    view.root = &view;
    EXPECT_EQ(ClipLayer(&view, &rect), 0);
    EXPECT_EQ(view.clipRect.right, 0);

    // A clipped layer whose parent was freed keeps the rectangle but is not
    // placed: there is no parent to place it in.
    Layer *parent = CreateClippedLayer(root);
    Layer *orphan = CreateClippedLayer(parent);
    EXPECT_EQ(DeleteLayer(parent), 1);
    LayerRect orphanBounds = orphan->bounds;
    EXPECT_EQ(ClipLayer(orphan, &rect), 0);
    EXPECT_EQ(orphan->clipRect.right, 3);
    EXPECT_EQ(orphan->bounds.right, orphanBounds.right);
    DeleteLayer(orphan);
    DeleteLayer(child);
}

TEST(Refusal, ClipLayerXYWHReportsSuccessEvenWhenRefused) {
    HostCanvas canvas(8, 8);
    auto before = Bytes(canvas.layer());
    EXPECT_EQ(ClipLayerXYWH(canvas.layer(), 1, 1, 2, 2), 1);
    EXPECT_EQ(ClipLayerXYWH(nullptr, 1, 1, 2, 2), 1);
    EXPECT_EQ(Bytes(canvas.layer()), before);
}

TEST(Refusal, GetUnionRectRefRefusesNullsAndDifferentTrees) {
    HostCanvas a(8, 8), b(8, 8);
    LayerRect out{7, 7, 7, 7};
    EXPECT_EQ(GetUnionRectRef(a.layer(), b.layer(), &out), 0);
    EXPECT_EQ(GetUnionRectRef(nullptr, a.layer(), &out), 0);
    EXPECT_EQ(GetUnionRectRef(a.layer(), nullptr, &out), 0);
    zltest::ExpectRect(out, 7, 7, 7, 7);
    EXPECT_EQ(GetUnionRectRef(a.layer(), a.layer(), nullptr), 0);
}

int begins = 0, ends = 0;
int32_t ZL_CALL CountBegin(Layer *, void *) {
    ++begins;
    return 0;
}
int32_t ZL_CALL RefuseEnd(Layer *, Layer *) {
    ++ends;
    return 0;
}

TEST(Refusal, BeginLayerAccessRefusalsAreReleasedByTheClose) {
    HostCanvas canvas(8, 8);
    Layer *root = canvas.layer();
    LayerAccess access;
    std::memset(&access, 0x5A, sizeof access);
    EXPECT_EQ(BeginLayerAccess(nullptr, root, nullptr), 0);
    EXPECT_EQ(BeginLayerAccess(&access, nullptr, nullptr), 0);
    EXPECT_EQ(access.layer, nullptr);
    EXPECT_EQ(EndLayerAccess(&access), 0);

    // Empty visible part: refused, but the count taken is released.
    Layer *outside = CreateClippedLayer(root);
    ClipLayerXYWH(outside, 20, 20, 4, 4);
    begins = 0;
    root->beginAccess = CountBegin;
    EXPECT_EQ(BeginLayerAccess(&access, outside, nullptr), 0);
    EXPECT_EQ(root->accessCount, 1);
    EXPECT_EQ(begins, 1);
    EndLayerAccess(&access);
    EXPECT_EQ(root->accessCount, 0);

    // No pixels.
    Layer *empty = CreateCompatibleLayer(nullptr, 8, 8, 32);
    EXPECT_EQ(BeginLayerAccess(&access, empty, nullptr), 0);
    EndLayerAccess(&access);
    EXPECT_EQ(empty->accessCount, 0);
    EXPECT_EQ(empty->refCount, 1);

    // A view without a target.
    Layer view;
    std::memset(&view, 0, sizeof view);
    view.flags = LayerKindView;
    view.refCount = 1;
    view.root = &view;
    view.bounds = LayerRect{0, 0, INT_MAX, INT_MAX};
    EXPECT_EQ(BeginLayerAccess(&access, &view, nullptr), 0);
    EndLayerAccess(&access);
    EXPECT_EQ(view.accessCount, 0);
    EXPECT_EQ(view.refCount, 1);
    DeleteLayer(empty);
    DeleteLayer(outside);
}

TEST(Refusal, EndLayerAccessRefusesNullAndReportsARefusingHook) {
    EXPECT_EQ(EndLayerAccess(nullptr), 0);
    HostCanvas canvas(8, 8);
    canvas.layer()->endAccess = RefuseEnd;
    LayerAccess access;
    ASSERT_EQ(BeginLayerAccess(&access, canvas.layer(), nullptr), 1);
    ends = 0;
    EXPECT_EQ(EndLayerAccess(&access), 0);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(canvas.layer()->accessCount, 0);
    EXPECT_EQ(canvas.layer()->refCount, 1);
}

int32_t ZL_CALL ReceiveZero(Layer *, LayerNotifier *) { return 0; }

TEST(Refusal, NotificationsWithNoLayerNoReceiverOrARefusingReceiverReturnZero) {
    EXPECT_EQ(RefreshLayerEx(nullptr), 0);
    EXPECT_EQ(UpdateLayerEx(nullptr), 0);
    HostCanvas canvas(4, 4);
    EXPECT_EQ(RefreshLayerEx(canvas.layer()), 0);
    LayerNotifier zero{ReceiveZero};
    canvas.layer()->updateNotifier = &zero;
    EXPECT_EQ(UpdateLayerEx(canvas.layer()), 0);
}

TEST(Refusal, PixelRunsWithNoCountWriteNothing) {
    uint32_t top[2] = {0xFF112233u, 0xFF445566u}, bottom[2] = {0xFF000000u, 0xFF000000u};
    uint32_t out[2] = {7, 7};
    EXPECT_EQ(CompositPels(top, bottom, out, 0), 0u);
    EXPECT_EQ(CompositPelsNonMMX(top, bottom, out, -1), 0u);
    EXPECT_EQ(CompositPelsMMXOnly(top, bottom, out, INT_MIN), 0u);
    EXPECT_EQ(out[0], 7u);
    EXPECT_EQ(out[1], 7u);
}

TEST(Refusal, FillAndCopyRefuseNullLayersAndLayersWithoutRoot) {
    HostCanvas canvas(4, 4, 0x12345678u);
    EXPECT_EQ(ClearLayer(nullptr), 0);
    EXPECT_EQ(SetLayer(nullptr, 1), 0);
    EXPECT_EQ(CopyLayer(nullptr, canvas.layer()), 0);
    EXPECT_EQ(CopyLayer(canvas.layer(), nullptr), 0);
    Layer rootless;
    std::memset(&rootless, 0, sizeof rootless);
    EXPECT_EQ(ClearLayer(&rootless), 0);
    EXPECT_EQ(SetLayer(&rootless, 1), 0);
    EXPECT_EQ(CopyLayer(canvas.layer(), &rootless), 0);
    EXPECT_EQ(CopyLayer(&rootless, canvas.layer()), 0);
    for (uint32_t p : canvas.raw()) EXPECT_EQ(p, 0x12345678u);
}

TEST(Refusal, OperationsThatAlwaysSucceedChangeNothingForNullLayers) {
    HostCanvas canvas(4, 4, 0x80402010u);
    EXPECT_EQ(SetAlphaLayer(nullptr, 255), 1);
    EXPECT_EQ(CopyWithOpacityLayer(nullptr, canvas.layer(), 255), 1);
    EXPECT_EQ(CopyWithOpacityLayer(canvas.layer(), nullptr, 255), 1);
    EXPECT_EQ(CompositOnTopLayer(nullptr, canvas.layer()), 1);
    EXPECT_EQ(CompositOnTopLayer(canvas.layer(), nullptr), 1);
    EXPECT_EQ(CompositOnBottomLayer(canvas.layer(), nullptr), 1);
    EXPECT_EQ(CompositOnBottomLayerCorrect(nullptr, canvas.layer()), 1);
    EXPECT_EQ(CompositOnTopLayerCorrect(nullptr, nullptr), 1);
    EXPECT_EQ(CompositOnOutputLayer(nullptr, nullptr, canvas.layer()), 1);
    EXPECT_EQ(CompositOnOutputLayerCorrect(canvas.layer(), canvas.layer(), nullptr), 1);
    for (uint32_t p : canvas.raw()) EXPECT_EQ(p, 0x80402010u);
    EXPECT_EQ(canvas.layer()->refCount, 1);
    EXPECT_EQ(canvas.layer()->accessCount, 0);
}

}  // namespace
