// One test per row of the README's table of refusals: each bad argument gets
// its documented 0 or null, and nothing the call could reach is changed.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
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

// ---- Helpers for the refusals of the compositing, pixel, scaler and
// four-corner exports.

// A canvas's pixels and its layer record, to show that a call left both as
// they were (counts, links, rectangles and hooks included).
class Kept {
public:
    explicit Kept(HostCanvas &canvas) : canvas_(canvas), pixels_(canvas.raw()), record_(Bytes(canvas.layer())) {}
    bool PixelsKept() const { return canvas_.raw() == pixels_; }
    bool RecordKept() const { return Bytes(canvas_.layer()) == record_; }

private:
    HostCanvas &canvas_;
    std::vector<uint32_t> pixels_;
    std::vector<unsigned char> record_;
};

#define EXPECT_KEPT(kept)                 \
    do {                                  \
        EXPECT_TRUE((kept).PixelsKept()); \
        EXPECT_TRUE((kept).RecordKept()); \
    } while (0)

// Notifications reach the host only inside RefreshLayerEx or UpdateLayerEx,
// so a call is run once inside each, from a receiver of a layer of its own.
struct Reports {
    int refreshes = 0;
    int updates = 0;
};
Reports reports;
std::function<void()> reportedCall;
int32_t ZL_CALL CountRefresh(Layer *, LayerNotifier *) {
    ++reports.refreshes;
    return 1;
}
int32_t ZL_CALL CountUpdate(Layer *, LayerNotifier *) {
    ++reports.updates;
    return 1;
}
int32_t ZL_CALL RunReportedCall(Layer *, LayerNotifier *) {
    reportedCall();
    return 1;
}

// The refresh and update reports that call makes on the watched layers (or
// their descendants). The call runs twice, so it must repeat what it did.
Reports ReportsOf(std::initializer_list<Layer *> watched, const std::function<void()> &call) {
    static LayerNotifier refresh{CountRefresh}, update{CountUpdate}, driver{RunReportedCall};
    for (Layer *layer : watched) {
        layer->refreshNotifier = &refresh;
        layer->updateNotifier = &update;
    }
    HostCanvas trigger(1, 1);
    trigger.layer()->refreshNotifier = &driver;
    trigger.layer()->updateNotifier = &driver;
    reportedCall = call;
    reports = Reports{};
    RefreshLayerEx(trigger.layer());
    UpdateLayerEx(trigger.layer());
    for (Layer *layer : watched) {
        layer->refreshNotifier = nullptr;
        layer->updateNotifier = nullptr;
    }
    return reports;
}

int hookBegins = 0, hookEnds = 0;
int32_t ZL_CALL HookBegin(Layer *, void *) {
    ++hookBegins;
    return 1;
}
int32_t ZL_CALL HookEnd(Layer *, Layer *) {
    ++hookEnds;
    return 1;
}
void HookAccess(HostCanvas &canvas) {
    canvas.layer()->beginAccess = HookBegin;
    canvas.layer()->endAccess = HookEnd;
}

void ExpectSameRect(const LayerRect &r, const LayerRect &want) {
    zltest::ExpectRect(r, want.left, want.top, want.right, want.bottom);
}

// A clipped window placed entirely outside its root: nothing of it is visible.
Layer *Hidden(HostCanvas &canvas) {
    Layer *hidden = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(hidden, canvas.width() + 4, canvas.height() + 4, 2, 2);
    return hidden;
}

// ---- Row compositing and single pixels.

TEST(Refusal, RowCompositingWithNoCountWritesNothing) {
    // Pixels that a count of 1 does change, so a write would show.
    uint32_t top[2] = {0x80FF0000u, 0x40123456u}, bottom[2] = {0xFF0000FFu, 0x80ABCDEFu};
    for (int32_t count : {0, -1, INT_MIN}) {
        EXPECT_EQ(CompositOnTop(top, bottom, count), 0u) << count;
        EXPECT_EQ(CompositOnBottom(top, bottom, count), 0u) << count;
        EXPECT_EQ(CompositOnTopEx(top, bottom, count, 255), 0u) << count;
        EXPECT_EQ(CompositAgainstColour(top, 0xFF0000FFu, count), 0u) << count;
    }
    EXPECT_EQ(top[0], 0x80FF0000u);
    EXPECT_EQ(top[1], 0x40123456u);
    EXPECT_EQ(bottom[0], 0xFF0000FFu);
    EXPECT_EQ(bottom[1], 0x80ABCDEFu);
    EXPECT_EQ(CompositOnTop(top, bottom, 1), 0xFF80007Fu);
    EXPECT_EQ(top[1], 0x40123456u);
}

TEST(Refusal, CompositPelHasNoRefusal) {
    // The degenerate pairs still get their composite: both transparent gives
    // the top, a transparent top over a visible bottom gives the bottom.
    EXPECT_EQ(CompositPel(0x00123456u, 0x00ABCDEFu), 0x00123456u);
    EXPECT_EQ(CompositPel(0x00123456u, 0x80ABCDEFu), 0x80ABCDEFu);
    EXPECT_EQ(CompositPel(0xFFFFFFFFu, 0u), 0xFFFFFFFFu);
}

// ---- Layer compositing.

TEST(Refusal, TwoLayerCompositWithoutAUsableOutputWritesAndReportsNothing) {
    // A half-transparent output over opaque layers: any blend would change it.
    HostCanvas output(4, 4, 0x80402010u), first(4, 4, 0xFF0000FFu), second(4, 4, 0xFF00FF00u);
    for (HostCanvas *c : {&output, &first, &second}) HookAccess(*c);
    Layer *hidden = Hidden(output);
    Kept keptOutput(output), keptFirst(first), keptSecond(second);
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({output.layer(), first.layer(), second.layer()}, [&] {
        EXPECT_EQ(TwoLayerComposit(nullptr, first.layer(), second.layer()), 1);
        EXPECT_EQ(TwoLayerComposit(hidden, first.layer(), second.layer()), 1);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    EXPECT_EQ(hookBegins, hookEnds);
    EXPECT_KEPT(keptOutput);
    EXPECT_KEPT(keptFirst);
    EXPECT_KEPT(keptSecond);

    // Neither layer given: no pixel is covered, so none is written; the
    // output is still reported as the layer written.
    r = ReportsOf({output.layer()}, [&] { EXPECT_EQ(TwoLayerComposit(output.layer(), nullptr, nullptr), 1); });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 1);
    EXPECT_TRUE(keptOutput.PixelsKept());
    DeleteLayer(hidden);
}

TEST(Refusal, ThreeLayerCompositRefusesALayerThatMissesTheOutput) {
    HostCanvas output(4, 4, 0x80402010u), bottom(4, 4, 0xFF0000FFu), middle(4, 4, 0x8000FF00u),
        top(4, 4, 0x40FF0000u), far(4, 4, 0xFFFFFFFFu);
    for (HostCanvas *c : {&output, &bottom, &middle, &top, &far}) HookAccess(*c);
    Layer *beside = Hidden(far);
    Kept kept[] = {Kept(output), Kept(bottom), Kept(middle), Kept(top)};
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({output.layer(), bottom.layer(), middle.layer(), top.layer()}, [&] {
        // Each position in turn missing the output: null, or nothing visible.
        EXPECT_EQ(ThreeLayerComposit(output.layer(), nullptr, middle.layer(), top.layer(), 255), 0);
        EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), nullptr, top.layer(), 255), 0);
        EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), nullptr, 255), 0);
        EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), beside, top.layer(), 255), 0);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    EXPECT_GT(hookBegins, 0);
    EXPECT_EQ(hookBegins, hookEnds) << "every access opened is closed";
    for (const Kept &k : kept) EXPECT_KEPT(k);
    EXPECT_EQ(far.layer()->refCount, 2);
    EXPECT_EQ(far.layer()->accessCount, 0);
    DeleteLayer(beside);
}

TEST(Refusal, ThreeLayerCompositReportsSuccessForAFailedAccessOrUnequalOverlaps) {
    HostCanvas output(4, 4, 0x80402010u), bottom(4, 4, 0xFF0000FFu), middle(4, 4, 0x8000FF00u),
        top(4, 4, 0x40FF0000u), narrow(3, 4, 0xFF00FF00u);
    for (HostCanvas *c : {&output, &bottom, &middle, &top, &narrow}) HookAccess(*c);
    Layer *hidden = Hidden(output);
    Kept kept[] = {Kept(output), Kept(bottom), Kept(middle), Kept(top), Kept(narrow)};
    hookBegins = hookEnds = 0;
    EXPECT_EQ(ThreeLayerComposit(nullptr, bottom.layer(), middle.layer(), top.layer(), 255), 1);
    EXPECT_EQ(ThreeLayerComposit(hidden, bottom.layer(), middle.layer(), top.layer(), 255), 1);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), narrow.layer(), top.layer(), 255), 1);
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), narrow.layer(), 255), 1);
    EXPECT_EQ(hookBegins, hookEnds);
    for (const Kept &k : kept) EXPECT_KEPT(k);
    // The same layers of equal size are composited: the inputs do write.
    EXPECT_EQ(ThreeLayerComposit(output.layer(), bottom.layer(), middle.layer(), top.layer(), 255), 1);
    EXPECT_FALSE(kept[0].PixelsKept());
    DeleteLayer(hidden);
}

TEST(Refusal, FadedLayerCompositingNeverRefusesAndChangesNothingWithoutAPair) {
    HostCanvas first(4, 4, 0x80402010u), second(4, 4, 0xC0FF00FFu), far(4, 4, 0xFFFFFFFFu);
    for (HostCanvas *c : {&first, &second}) HookAccess(*c);
    Layer *hidden = Hidden(first);
    Layer *beside = Hidden(far);
    Kept keptFirst(first), keptSecond(second);
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({first.layer(), second.layer()}, [&] {
        for (int32_t opacity : {255, 0x80}) {
            EXPECT_EQ(CompositOnTopLayerEx(nullptr, second.layer(), opacity), 1);
            EXPECT_EQ(CompositOnTopLayerEx(hidden, second.layer(), opacity), 1);
            EXPECT_EQ(CompositOnBottomLayerEx(nullptr, second.layer(), opacity), 1);
            EXPECT_EQ(CompositOnBottomLayerEx(hidden, second.layer(), opacity), 1);
        }
    });
    EXPECT_EQ(r.refreshes, 0) << "a failed access reports nothing";
    EXPECT_EQ(r.updates, 0);
    // No second layer, or one that misses the first: both are refreshed, none
    // is updated, nothing is written.
    r = ReportsOf({first.layer(), second.layer(), far.layer()},
                  [&] { EXPECT_EQ(CompositOnTopLayerEx(first.layer(), beside, 255), 1); });
    EXPECT_EQ(r.refreshes, 2);
    EXPECT_EQ(r.updates, 0);
    r = ReportsOf({first.layer(), second.layer(), far.layer()},
                  [&] { EXPECT_EQ(CompositOnBottomLayerEx(first.layer(), beside, 255), 1); });
    EXPECT_EQ(r.refreshes, 2);
    EXPECT_EQ(r.updates, 0);
    r = ReportsOf({first.layer(), second.layer()},
                  [&] { EXPECT_EQ(CompositOnBottomLayerEx(first.layer(), nullptr, 255), 1); });
    EXPECT_EQ(r.refreshes, 1);
    EXPECT_EQ(r.updates, 0);
    EXPECT_EQ(hookBegins, hookEnds);
    EXPECT_TRUE(keptFirst.PixelsKept());
    EXPECT_TRUE(keptSecond.PixelsKept());
    EXPECT_EQ(first.layer()->accessCount, 0);
    EXPECT_EQ(second.layer()->accessCount, 0);
    DeleteLayer(hidden);
    DeleteLayer(beside);
}

TEST(Refusal, CompositManyRefusesNoOutputNoListAndNoCount) {
    HostCanvas output(4, 4, 0x80402010u), layer(4, 4, 0xFF0000FFu);
    CompositEntry list[2] = {{layer.layer(), 255}, {layer.layer(), 128}};
    Kept keptOutput(output), keptLayer(layer);
    Reports r = ReportsOf({output.layer(), layer.layer()}, [&] {
        EXPECT_EQ(CompositMany(nullptr, list, 2), 0);
        EXPECT_EQ(CompositMany(output.layer(), nullptr, 2), 0);
        EXPECT_EQ(CompositMany(output.layer(), list, 0), 0);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0) << "a refused call neither clears nor copies";
    EXPECT_KEPT(keptOutput);
    EXPECT_KEPT(keptLayer);
    // A negative count is no refusal: the output is cleared.
    EXPECT_EQ(CompositMany(output.layer(), list, -1), 1);
    EXPECT_EQ(output.raw(), std::vector<uint32_t>(16, 0u));
}

// ---- Flips and alpha clipping.

TEST(Refusal, FlipsNeverRefuseAndLeaveANullOrInvisibleLayerAlone) {
    HostCanvas canvas(4, 4);
    for (size_t i = 0; i < canvas.raw().size(); ++i) canvas.raw()[i] = zltest::Mix(static_cast<uint32_t>(i)) | 0xFF000000u;
    HookAccess(canvas);
    Layer *hidden = Hidden(canvas);
    Kept kept(canvas);
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({canvas.layer()}, [&] {
        EXPECT_EQ(FlipHorzLayer(nullptr), 1);
        EXPECT_EQ(FlipVertLayer(nullptr), 1);
        EXPECT_EQ(FlipHorzLayer(hidden), 1);
        EXPECT_EQ(FlipVertLayer(hidden), 1);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    EXPECT_EQ(hookBegins, 4) << "the hidden window's accesses are opened";
    EXPECT_EQ(hookEnds, 4) << "and closed";
    EXPECT_KEPT(kept);
    DeleteLayer(hidden);
}

TEST(Refusal, ClipToAlphaNeverRefusesAndLeavesRootsAndEmptyLayersAsTheyAre) {
    HostCanvas canvas(8, 8);
    canvas.at(3, 2) = 0xFF000000u;  // one visible pixel: a clipped layer would shrink to it
    HookAccess(canvas);
    Layer *hidden = Hidden(canvas);
    HostCanvas clear(8, 8, 0x00FFFFFFu);  // colour without alpha counts as transparent
    Layer *window = CreateClippedLayer(clear.layer());
    ClipLayerXYWH(window, 1, 1, 6, 6);
    Kept kept(canvas), keptClear(clear);
    // Their visible parts are recomputed by every access; the window is what
    // a clip would change.
    const LayerRect hiddenClip = hidden->clipRect, windowClip = window->clipRect, windowBounds = window->bounds;
    Reports r = ReportsOf({canvas.layer(), clear.layer()}, [&] {
        EXPECT_EQ(ClipToAlphaLayer(nullptr), 1);
        EXPECT_EQ(ClipToAlphaLayer(canvas.layer()), 1);  // a root cannot be clipped
        EXPECT_EQ(ClipToAlphaLayer(hidden), 1);
        EXPECT_EQ(ClipToAlphaLayer(window), 1);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    EXPECT_KEPT(kept);
    EXPECT_KEPT(keptClear);
    ExpectSameRect(hidden->clipRect, hiddenClip);
    ExpectSameRect(window->clipRect, windowClip);
    ExpectSameRect(window->bounds, windowBounds);
    DeleteLayer(window);
    DeleteLayer(hidden);
}

TEST(Refusal, ClipToAlphaLayerExOfNullIsNullAndWritesNothing) {
    int32_t x = 77, y = 78, w = 79, h = 80;
    EXPECT_EQ(ClipToAlphaLayerEx(nullptr, &x, &y, &w, &h), nullptr);
    EXPECT_EQ(x, 77);
    EXPECT_EQ(y, 78);
    EXPECT_EQ(w, 79);
    EXPECT_EQ(h, 80);
}

// ---- Scanline scaler.

TEST(Refusal, BeginScaleScanlineRefusesNonPositiveAndOversizedSizes) {
    const int32_t bad[] = {0, -1, INT_MIN};
    for (int32_t b : bad) {
        EXPECT_EQ(BeginScaleScanline(b, 2, 2, 2), nullptr) << b;
        EXPECT_EQ(BeginScaleScanline(2, b, 2, 2), nullptr) << b;
        EXPECT_EQ(BeginScaleScanline(2, 2, b, 2), nullptr) << b;
        EXPECT_EQ(BeginScaleScanline(2, 2, 2, b), nullptr) << b;
    }
    // A source line of 2^32 bytes, and axis tables of more than 2^32 bytes
    // (24-byte entries), are refused before anything is allocated.
    EXPECT_EQ(BeginScaleScanline(0x40000000, 1, 1, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 1, 0x0AAAAAAB, 1), nullptr);
    EXPECT_EQ(BeginScaleScanline(1, 1, 1, 0x0AAAAAAB), nullptr);
    ScanlineScaler *ok = BeginScaleScanline(1, 1, 1, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(EndScaleScanline(ok), 1);
    EXPECT_EQ(EndScaleScanline(nullptr), 0);
}

std::vector<unsigned char> ScalerBytes(const ScanlineScaler *scaler) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(scaler);
    return std::vector<unsigned char>(p, p + sizeof *scaler);
}

TEST(Refusal, OffsetScaleScanlineRefusesOutOfRangeRequestsAndChangesNothing) {
    EXPECT_EQ(OffsetScaleScanline(nullptr, 0, 0, 1), 0);
    ScanlineScaler *scaler = BeginScaleScanline(6, 5, 4, 3);
    ASSERT_NE(scaler, nullptr);
    uint32_t line[6] = {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u, 0xFF000005u, 0xFF000006u};
    uint32_t out[4] = {};
    ASSERT_EQ(ScaleScanline(out, line, scaler), 1);  // a line held: the state is not fresh
    auto before = ScalerBytes(scaler);
    EXPECT_EQ(OffsetScaleScanline(scaler, -1, 0, 1), 0);
    EXPECT_EQ(OffsetScaleScanline(scaler, 0, -1, 1), 0);
    EXPECT_EQ(OffsetScaleScanline(scaler, 5, 0, 0), 0);    // firstColumn > dstWidth
    EXPECT_EQ(OffsetScaleScanline(scaler, 1, 0, 4), 0);    // one column past the end
    EXPECT_EQ(OffsetScaleScanline(scaler, 1, 0, INT_MAX), 0);  // the sum must not wrap
    EXPECT_EQ(OffsetScaleScanline(scaler, 0, 4, 4), 0);    // firstLine > dstHeight
    EXPECT_EQ(OffsetScaleScanline(scaler, INT_MIN, INT_MIN, INT_MIN), 0);
    EXPECT_EQ(ScalerBytes(scaler), before);
    // The edges themselves are accepted.
    EXPECT_EQ(OffsetScaleScanline(scaler, 4, 3, 0), 1);
    EXPECT_EQ(scaler->firstColumn, 4);
    EXPECT_EQ(scaler->currentLine, 3);
    EXPECT_EQ(scaler->bufferedLines, 0);
    EndScaleScanline(scaler);
}

TEST(Refusal, ConvertRectangleAndGetBufferRefuseANullOrInvalidScaler) {
    LayerRect rect{1, 2, 3, 4};
    EXPECT_EQ(ConvertRectangleScaleScanline(nullptr, &rect), 0);
    zltest::ExpectRect(rect, 1, 2, 3, 4);
    ScanlineScaler *scaler = BeginScaleScanline(8, 8, 4, 4);
    ASSERT_NE(scaler, nullptr);
    auto before = ScalerBytes(scaler);
    EXPECT_EQ(ConvertRectangleScaleScanline(scaler, nullptr), 0);
    EXPECT_EQ(ScalerBytes(scaler), before);
    EXPECT_EQ(GetBufferScaleScanline(nullptr), nullptr);
    ASSERT_EQ(GetBufferScaleScanline(scaler), scaler->lineBuffers[0]);
    scaler->valid = 0;  // what EndScaleScanline leaves, on a record that still exists
    EXPECT_EQ(GetBufferScaleScanline(scaler), nullptr);
    scaler->valid = 1;
    EndScaleScanline(scaler);
}

TEST(Refusal, ScaleScanlineRefusesNullsAnInvalidScalerAndAFinishedPass) {
    uint32_t line[2] = {0xFF102030u, 0xFF405060u};
    uint32_t out[2] = {0x12345678u, 0x12345678u};
    EXPECT_EQ(ScaleScanline(out, line, nullptr), 0);
    ScanlineScaler *scaler = BeginScaleScanline(2, 2, 2, 1);
    ASSERT_NE(scaler, nullptr);
    ASSERT_EQ(ScaleScanline(out, line, scaler), 1);
    ASSERT_EQ(scaler->needInput, 1);  // the first line is held
    auto before = ScalerBytes(scaler);
    // Null destination row, or a scaler marked invalid: the state, flags
    // included, stays as it was, and no line is taken.
    EXPECT_EQ(ScaleScanline(nullptr, line, scaler), 0);
    EXPECT_EQ(ScalerBytes(scaler), before);
    scaler->valid = 0;
    EXPECT_EQ(ScaleScanline(out, line, scaler), 0);
    scaler->valid = 1;
    EXPECT_EQ(ScalerBytes(scaler), before);
    EXPECT_EQ(out[0], 0x12345678u);
    // The pass ends with the one destination line; later calls give 0, clear
    // both flags and write nothing.
    ASSERT_EQ(ScaleScanline(out, line + 0, scaler), 1);
    ASSERT_EQ(scaler->outputReady, 1);
    scaler->outputReady = 1;
    scaler->needInput = 1;
    uint32_t after[2] = {0xABCDEF01u, 0xABCDEF01u};
    int32_t line0 = scaler->currentLine;
    EXPECT_EQ(ScaleScanline(after, line, scaler), 0);
    EXPECT_EQ(ScaleScanline(after, nullptr, scaler), 0);
    EXPECT_EQ(scaler->outputReady, 0);
    EXPECT_EQ(scaler->needInput, 0);
    EXPECT_EQ(scaler->currentLine, line0);
    EXPECT_EQ(after[0], 0xABCDEF01u);
    EXPECT_EQ(after[1], 0xABCDEF01u);
    EndScaleScanline(scaler);
}

// ---- Resize.

TEST(Refusal, ResizeLayerRefusesNullRootlessAndOutOfBufferLayers) {
    HostCanvas destination(4, 4, 0x12345678u), source(4, 4, 0xFF0000FFu);
    Layer rootless;
    std::memset(&rootless, 0, sizeof rootless);
    rootless.width = rootless.height = 1;
    rootless.bounds = LayerRect{0, 0, 1, 1};
    // Windows reaching past their root's buffer, on each side.
    Layer *pastRight = CreateClippedLayer(source.layer());
    ClipLayerXYWH(pastRight, 2, 0, 4, 4);
    Layer *pastTop = CreateClippedLayer(destination.layer());
    ClipLayerXYWH(pastTop, 0, -1, 2, 2);
    Kept keptDestination(destination), keptSource(source);
    EXPECT_EQ(ResizeLayer(nullptr, source.layer()), 0);
    EXPECT_EQ(ResizeLayer(destination.layer(), nullptr), 0);
    EXPECT_EQ(ResizeLayer(&rootless, source.layer()), 0);
    EXPECT_EQ(ResizeLayer(destination.layer(), &rootless), 0);
    EXPECT_EQ(ResizeLayer(destination.layer(), pastRight), 0);
    EXPECT_EQ(ResizeLayer(pastTop, source.layer()), 0);
    EXPECT_KEPT(keptDestination);
    EXPECT_KEPT(keptSource);
    // Windows inside their buffers are scaled.
    EXPECT_EQ(ResizeLayer(destination.layer(), source.layer()), 1);
    EXPECT_EQ(destination.at(0, 0), 0xFF0000FFu);
    DeleteLayer(pastRight);
    DeleteLayer(pastTop);
}

TEST(Refusal, ResizeLayerCorrectRefusesWhatItCannotOpenAndClosesEveryAccess) {
    HostCanvas destination(4, 4, 0x12345678u), source(4, 4, 0xFF0000FFu);
    HookAccess(destination);
    HookAccess(source);
    Layer *hiddenDestination = Hidden(destination);
    Layer *hiddenSource = Hidden(source);
    Layer *noPixels = CreateCompatibleLayer(nullptr, 4, 4, 16);
    Kept keptDestination(destination), keptSource(source);
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({destination.layer(), source.layer()}, [&] {
        EXPECT_EQ(ResizeLayerCorrect(nullptr, source.layer()), 0);
        EXPECT_EQ(ResizeLayerCorrect(destination.layer(), nullptr), 0);
        EXPECT_EQ(ResizeLayerCorrect(destination.layer(), hiddenSource), 0);
        EXPECT_EQ(ResizeLayerCorrect(hiddenDestination, source.layer()), 0);
        EXPECT_EQ(ResizeLayerCorrect(destination.layer(), noPixels), 0);
    });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    EXPECT_GT(hookBegins, 0);
    EXPECT_EQ(hookBegins, hookEnds);
    EXPECT_KEPT(keptDestination);
    EXPECT_KEPT(keptSource);
    EXPECT_EQ(noPixels->accessCount, 0);
    EXPECT_EQ(noPixels->refCount, 1);
    DeleteLayer(noPixels);
    DeleteLayer(hiddenDestination);
    DeleteLayer(hiddenSource);
}

TEST(Refusal, ResizeLayerCorrectInOneBufferRefusesAHiddenDestinationOrSource) {
    // Both windows in one root take the path through a temporary layer.
    HostCanvas canvas(8, 8, 0x12345678u);
    for (int32_t x = 0; x < 4; ++x) canvas.at(x, 0) = 0xFF0000FFu;
    HookAccess(canvas);
    Layer *destination = CreateClippedLayer(canvas.layer());
    ClipLayerXYWH(destination, 4, 4, 4, 4);
    Layer *hidden = Hidden(canvas);
    Kept kept(canvas);
    hookBegins = hookEnds = 0;
    Reports r = ReportsOf({canvas.layer()}, [&] {
        EXPECT_EQ(ResizeLayerCorrect(hidden, destination), 0);
        EXPECT_EQ(ResizeLayerCorrect(destination, hidden), 0);
    });
    EXPECT_EQ(r.refreshes, 0) << "no copy into the destination";
    EXPECT_EQ(r.updates, 0);
    EXPECT_EQ(hookBegins, hookEnds);
    EXPECT_KEPT(kept);
    DeleteLayer(hidden);
    DeleteLayer(destination);
}

// ---- Four-corner mapping.

TEST(Refusal, TestFourCornerRefusesMissingCornersAndInvalidQuads) {
    const double x[4] = {2.5, 7.5, 7.5, 2.5}, y[4] = {1.2, 1.2, 3.9, 3.9};
    LayerRect rect{9, 9, 9, 9};
    EXPECT_EQ(TestFourCorner(x, y, nullptr), 0);
    EXPECT_EQ(TestFourCorner(nullptr, y, &rect), 0);
    zltest::ExpectRect(rect, 0, 0, 0, 0);
    rect = LayerRect{9, 9, 9, 9};
    EXPECT_EQ(TestFourCorner(x, nullptr, &rect), 0);
    zltest::ExpectRect(rect, 0, 0, 0, 0);
    // A bow tie (corners 2 and 3 swapped) and a concave order: refused, the
    // rectangle still reported.
    const double bowX[4] = {2.5, 7.5, 2.5, 7.5};
    rect = LayerRect{9, 9, 9, 9};
    EXPECT_EQ(TestFourCorner(bowX, y, &rect), 0);
    zltest::ExpectRect(rect, 2, 1, 8, 4);
    const double concaveX[4] = {0, 11, 4, 0}, concaveY[4] = {0, 0, 4, 11};
    EXPECT_EQ(TestFourCorner(concaveX, concaveY, &rect), 0);
    zltest::ExpectRect(rect, 0, 0, 12, 12);
    const double nanX[4] = {2.5, std::nan(""), 7.5, 2.5};
    EXPECT_EQ(TestFourCorner(nanX, y, &rect), 0);
    EXPECT_EQ(TestFourCorner(x, y, &rect), 1);
    zltest::ExpectRect(rect, 2, 1, 8, 4);
}

int32_t ZL_CALL RefuseEndCounted(Layer *, Layer *) {
    ++hookEnds;
    return 0;
}

TEST(Refusal, FourCornerMapLayerRefusalsLeaveTheDestinationAndReportAsDocumented) {
    HostCanvas source(4, 4, 0xFF336699u), destination(8, 8, 0x12345678u);
    HookAccess(source);
    HookAccess(destination);
    const double x[4] = {1, 7, 7, 1}, y[4] = {1, 1, 7, 7};
    const double concaveX[4] = {0, 7, 3, 0}, concaveY[4] = {0, 0, 3, 7};
    // A valid quad whose intermediate layer (a billion pixels wide) cannot be made.
    const double wideX[4] = {0, 1e9, 1e9, 0}, wideY[4] = {0, 0, 3, 3};
    LayerRect rect{};
    ASSERT_EQ(TestFourCorner(wideX, wideY, &rect), 1);
    Kept keptSource(source), keptDestination(destination);
    hookBegins = hookEnds = 0;
    // No source: nothing is reported at all.
    Reports r = ReportsOf({source.layer(), destination.layer()},
                          [&] { EXPECT_EQ(FourCornerMapLayer(destination.layer(), nullptr, x, y), 0); });
    EXPECT_EQ(r.refreshes, 0);
    EXPECT_EQ(r.updates, 0);
    // Missing corners, an invalid quad, no intermediate layer, no
    // destination: the source is refreshed, nothing is updated.
    struct Case {
        Layer *destination;
        const double *x, *y;
    } cases[] = {{destination.layer(), nullptr, y},
                 {destination.layer(), x, nullptr},
                 {destination.layer(), concaveX, concaveY},
                 {destination.layer(), wideX, wideY},
                 {nullptr, x, y}};
    for (const Case &c : cases) {
        r = ReportsOf({source.layer(), destination.layer()},
                      [&] { EXPECT_EQ(FourCornerMapLayer(c.destination, source.layer(), c.x, c.y), 0); });
        EXPECT_EQ(r.refreshes, 1);
        EXPECT_EQ(r.updates, 0);
    }
    EXPECT_EQ(hookBegins, hookEnds);
    EXPECT_KEPT(keptSource);
    EXPECT_KEPT(keptDestination);
}

TEST(Refusal, FourCornerMapLayerReportsARefusingEndAccessOfTheDestination) {
    const double x[4] = {1, 7, 7, 1}, y[4] = {1, 1, 7, 7};
    HostCanvas source(4, 4, 0xFF336699u), expected(8, 8, 0x12345678u), destination(8, 8, 0x12345678u);
    ASSERT_EQ(FourCornerMapLayer(expected.layer(), source.layer(), x, y), 1);
    destination.layer()->endAccess = RefuseEndCounted;
    hookEnds = 0;
    EXPECT_EQ(FourCornerMapLayer(destination.layer(), source.layer(), x, y), 0);
    EXPECT_EQ(hookEnds, 1);
    // The image was drawn before the close failed; the access is released.
    EXPECT_EQ(destination.raw(), expected.raw());
    EXPECT_EQ(destination.layer()->accessCount, 0);
    EXPECT_EQ(destination.layer()->refCount, 1);
}

}  // namespace
