// Fuzz target: layer trees and the pixel operations on them.
//
// Each input decodes to a sequence of calls on roots over guarded host memory
// (padded, bottom-up, tiny, zero-sized, supplied late by beginAccess, or
// moved by beginAccess between two buffers of different strides, or to a
// fresh buffer each time while the host frees the old one, whose pages then
// fault on any use), library-owned roots, host-made view roots with and
// without targets, and clipped windows nested and moved anywhere. Every layer operation runs on
// random members of the trees. Host hooks and overrides log every call and
// return what the input chose; receivers of change notifications may run
// further library operations on other trees, which reach further receivers.
// After every call a model of the host's own checks the library: tree shape
// and links, reference and access counts, the hooks, overrides and
// notifications called and their order, the results, that no pixel outside
// the written layer's visible part changed, and the exact pixels where they
// follow from the inputs alone (fills, copies, flips, opacity copies, equal
// size resizes, and blends whose top or bottom pixel is fully transparent or
// fully opaque). The host drops references on any layer while its own
// accesses are open: a layer an open access names (either layer, or the root
// of either) is only counted down, and the last access naming it frees it
// after the root's endAccess, windows before their root (a destroy procedure
// sees a live root). At the end every access is closed, every
// access count must be 0, and every reference the sequence left is dropped,
// which must free every record once.
//
// Set ZL_FUZZ_TRACE to have the decoded calls printed.
//
// Host misuse that the library cannot detect is not generated:
// - using a layer after its last DeleteLayer (or after dropping its last
//   reference while an open access keeps the record), or dropping more
//   references than it took (a root's own);
// - freeing a layer that a view's target still names (the host clears the
//   target first), or DeleteLayer on a view root's record, which the host
//   owns;
// - hooks and overrides that call back into the library; receivers whose
//   library calls reach a tree that an operation in progress has open, or
//   that create or delete layers (so an operation's own hold on the layers
//   it was given is not exercised here);
// - a row stride that is not a multiple of 4, or a size larger than the
//   memory behind the pixels;
// - a beginAccess that moves a buffer that an open access of an operation in
//   progress reaches through a view: the root's own access count is 0 then.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ZantrelLayer.h"
#include "fuzz_support.h"

namespace {

using zlfuzz::FuzzInput;
using zlfuzz::GuardedBuffer;

using zlfuzz::Add;
using zlfuzz::Sub;
using zlfuzz::Proper;
using zlfuzz::Intersect;
using zlfuzz::SameRect;
using zlfuzz::RectHas;
using zlfuzz::Mix;
LayerRect Offset(const LayerRect &r, int32_t x, int32_t y) {
    return LayerRect{Add(r.left, x), Add(r.top, y), Add(r.right, x), Add(r.bottom, y)};
}

// The straight-alpha blend where it needs no arithmetic: a transparent
// bottom or an opaque top gives the top, a transparent top the bottom.
bool KnownBlend(uint32_t top, uint32_t bottom, uint32_t &out) {
    if ((bottom >> 24) == 0 || (top >> 24) == 255) {
        out = top;
        return true;
    }
    if ((top >> 24) == 0) {
        out = bottom;
        return true;
    }
    return false;
}
// A blend of two values that may themselves be unknown.
bool KnownBlend(bool topKnown, uint32_t top, bool bottomKnown, uint32_t bottom, uint32_t &out) {
    if (bottomKnown && (bottom >> 24) == 0 && topKnown) {
        out = top;
        return true;
    }
    if (!topKnown) return false;
    if ((top >> 24) == 255) {
        out = top;
        return true;
    }
    if ((top >> 24) == 0 && bottomKnown) {
        out = (bottom >> 24) == 0 ? top : bottom;
        return true;
    }
    return bottomKnown && KnownBlend(top, bottom, out);
}
uint32_t Fade(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFFu) | ((opacity * (pixel >> 24) / 255u) << 24);
}

enum class Kind { HostRoot, LibRoot, View, Clipped };

enum class Ev { Begin, End, Destroy, Clear, Set, Copy, Notify };
struct Event {
    Ev type;
    const void *a;
    const void *b;
    uint32_t value;
    bool operator==(const Event &o) const { return type == o.type && a == o.a && b == o.b && value == o.value; }
};

// Stands in the log for a layer that the library made for itself.
const void *const kLibraryLayer = reinterpret_cast<const void *>(static_cast<uintptr_t>(1));

// Host records reached from layers; the library's part comes first.
struct HostOverrides {
    LayerOverrides table;
    int32_t result[3];  // clear, set, copy
};
struct HostNotifier {
    LayerNotifier base;
    int32_t result;
    int action;  // the library call it makes, an index into the session's actions; -1 for none
};

// One buffer behind a host root.
struct HostBuffer {
    std::unique_ptr<GuardedBuffer> memory;
    uint32_t *first = nullptr;  // pixel (0, 0)
    size_t words = 0;
    int32_t strideWords = 0;
    int32_t rowBytes = 0;
    bool bottomUp = false;
    bool lowFlush = false;
};

// Host memory for a buffer of the given layout; the caller fills it.
HostBuffer AllocateBuffer(int32_t strideWords, int32_t rows, bool bottomUp, bool lowFlush) {
    HostBuffer b;
    b.strideWords = strideWords;
    b.bottomUp = bottomUp;
    b.lowFlush = lowFlush;
    b.words = static_cast<size_t>(strideWords) * static_cast<size_t>(rows);
    b.memory = std::make_unique<GuardedBuffer>(b.words * 4, lowFlush);
    b.first = b.memory->data();
    if (bottomUp && rows > 0) b.first += static_cast<size_t>(strideWords) * static_cast<size_t>(rows - 1);
    b.rowBytes = (bottomUp ? -4 : 4) * strideWords;
    return b;
}

struct Node {
    Layer *layer = nullptr;
    bool alive = true;
    bool zombie = false;  // the host's references are gone; an open access that names it keeps it
    Kind kind = Kind::Clipped;
    int parent = -1;
    int root = -1;
    std::vector<int> children;  // newest first
    int32_t refCount = 1;
    LayerRect clipRect{0, 0, 0, 0};
    LayerRect bounds{0, 0, 0, 0};
    // Clipped layers: the parent's pixels and rowBytes fields at creation.
    const uint32_t *pixelsField = nullptr;
    int32_t rowBytesField = 0;
    // Roots.
    int32_t accessCount = 0;
    int32_t width = 0, height = 0;
    HostBuffer buf;  // the buffer in use (host roots; library roots have no memory here)
    HostBuffer alt;  // moving roots: the other buffer (its layout only when the old one is freed)
    bool moving = false;
    bool freesOld = false;  // each move goes to a fresh buffer and frees the old one
    std::vector<std::unique_ptr<GuardedBuffer>> retired;  // freed buffers, kept inaccessible
    bool hasPixels = false;
    bool supply = false;  // beginAccess supplies the buffer
    bool hasBegin = false, hasEnd = false, hasDestroy = false;
    int32_t endResult = 1;
    std::unique_ptr<HostOverrides> overrides;
    // Views.
    std::unique_ptr<Layer> viewRecord;
    int target = -1;
    int32_t targetX = 0, targetY = 0;
    // Any layer.
    std::unique_ptr<HostNotifier> refresh, update;
};

// Where a layer's pixels live and which part of them it shows.
struct Placement {
    bool resolved = false;  // a root with pixels behind it
    int pixelRoot = -1;
    int32_t x = 0, y = 0;   // layer's top-left corner in pixelRoot's coordinates
    LayerRect visibleRect{0, 0, 0, 0};
    LayerRect visibleBounds{0, 0, 0, 0};
};

struct SimAccess {
    int first = -1, second = -1;
    bool firstCounted = false, secondCounted = false;
    bool opened = false, usable = false;
    bool firstTemp = false, secondTemp = false;
    Placement p1, p2;
    LayerRect region{0, 0, 0, 0};
    std::vector<int> busy;  // trees this access marked as in use
    int32_t Width() const { return Sub(region.right, region.left); }
    int32_t Height() const { return Sub(region.bottom, region.top); }
};

struct OpenAccess {
    LayerAccess record;
    SimAccess sim;
    int named[4];  // the layers it keeps: the first, its root, the second, its root
};

// A layer as an operation reports it: a node, or the temporary stand-in
// that an access made for a root node.
struct Ref {
    int node;
    bool temp;
};

// One library call on nodes of the model, made by the host directly or by a
// receiver.
enum class Op { Fill, Copy, Composite, Notify, Two, Three, Ex, Many, Flip, ClipAlpha, Resize, ResizeCorrect };
struct Action {
    Op op = Op::Fill;
    int a = -1, b = -1, c = -1, d = -1;
    int which = 0;
    uint32_t value = 0;
    bool flag = false;
    std::vector<std::pair<int, uint8_t>> entries;
    int32_t count = 0;
};

// A call that a receiver makes, as the model expects it.
struct ReceiverPlan {
    size_t event;  // index of the notification that triggers it
    int action;
    int32_t result;
};
// What a moving root's beginAccess does.
struct MovePlan {
    bool move;
    uint32_t *from, *to;
    int32_t fromStride, toStride, toRowBytes, width, height;
    GuardedBuffer *retire;  // the old buffer, freed once the pixels are over
};

// The words of one buffer before a call.
struct Shot {
    int node;
    const uint32_t *base;  // lowest word
    const uint32_t *first; // pixel (0, 0)
    size_t words;
    int32_t strideWords, width, height;
    bool bottomUp;
    bool host;             // host memory: padding is checked too
    const GuardedBuffer *memory;
    std::vector<uint32_t> before;
};

class Session;
Session *current = nullptr;

class Session {
public:
    explicit Session(FuzzInput &in) : in_(in), trace_(std::getenv("ZL_FUZZ_TRACE") != nullptr) { current = this; }
    ~Session() { current = nullptr; }
    void Run();

    // Hook side.
    void Log(Ev type, const void *a, const void *b, uint32_t value) { log_.push_back(Event{type, a, b, value}); }
    // A live node first; the model may already have freed a record that the
    // library frees only later in the same call (a root kept by stand-ins).
    Node *Find(const Layer *layer) {
        Node *freed = nullptr;
        for (Node &n : nodes_) {
            if (n.layer != layer) continue;
            if (n.alive) return &n;
            freed = &n;
        }
        return freed;
    }
    const MovePlan *NextMove() { return moveCursor_ < movePlans_.size() ? &movePlans_[moveCursor_++] : nullptr; }
    int32_t NextCopyAnswer() { return copyCursor_ < copyPlans_.size() ? copyPlans_[copyCursor_++] : 0; }
    void RunReceiverPlan();

private:
    static constexpr size_t kMaxNodes = 24;
    static constexpr int kMaxDepth = 3;
    static constexpr size_t kMaxPlans = 6;

    FuzzInput &in_;
    bool trace_;
    std::vector<Node> nodes_;
    std::vector<Event> log_, expected_;
    std::vector<std::unique_ptr<OpenAccess>> open_;
    std::vector<Shot> shots_;
    std::vector<int> shotOf_;  // node -> shot of its buffer in use
    std::vector<std::pair<int, LayerRect>> allowed_;
    std::vector<std::function<void()>> exact_;
    std::vector<Action> actions_;
    std::vector<ReceiverPlan> receiverPlans_;
    size_t receiverCursor_ = 0;
    std::vector<MovePlan> movePlans_;
    size_t moveCursor_ = 0;
    std::vector<int32_t> copyPlans_;
    size_t copyCursor_ = 0;
    std::vector<int> busy_ = std::vector<int>(kMaxNodes, 0);
    bool refreshActive_ = false, updateActive_ = false;
    int depth_ = 0;
    int quiet_ = 0;  // inside a step whose result a later step overwrites

    int Pick(bool allowNull);
    void Step();
    void Expect(Ev type, const void *a, const void *b, uint32_t value) { expected_.push_back(Event{type, a, b, value}); }
    bool Usable(int i) const { return i >= 0 && i < static_cast<int>(nodes_.size()) && nodes_[i].alive && !nodes_[i].zombie; }

    // Model.
    bool IsRoot(int i) const { return nodes_[i].kind != Kind::Clipped; }
    int32_t RootWidth(int r) const { return nodes_[r].kind == Kind::View ? INT_MAX : nodes_[r].width; }
    int32_t RootHeight(int r) const { return nodes_[r].kind == Kind::View ? INT_MAX : nodes_[r].height; }
    const uint32_t *PixelsField(int i) const;
    void PlaceInParent(int i);
    void PlaceDescendants(int i);
    void Visible(int i, LayerRect &rect, LayerRect &bounds) const;
    Placement Place(int i) const;
    void Count(int root);
    bool Release(int layer, const void *endLayer);
    SimAccess SimBegin(int a, int b, bool markBusy = true);
    bool SimEnd(SimAccess &s);
    bool Kept(int i) const;
    bool SimClose(OpenAccess &o);
    void Allow(int root, const LayerRect &rect) { allowed_.push_back({root, rect}); }
    void AllowFirst(const SimAccess &s) { Allow(s.p1.pixelRoot, Offset(s.region, s.p1.x, s.p1.y)); }
    void AllowSecond(const SimAccess &s) { Allow(s.p2.pixelRoot, Offset(s.region, s.p2.x, s.p2.y)); }
    int32_t SimNotify(bool refresh, Ref r);
    Ref FirstRef(const SimAccess &s) const { return Ref{s.first, s.firstTemp}; }
    Ref SecondRef(const SimAccess &s) const { return Ref{s.second, s.secondTemp}; }
    bool TreeFree(int i) const;
    int SimDelete(int i);
    void FreeRecord(int i);
    bool DropsUntaken(int i) const;
    void SimClipRect(int i, const LayerRect &rect);

    // Operations as the model sees them (expected result) and as the host
    // makes them (actual result).
    int32_t Sim(const Action &act);
    int32_t Exec(const Action &act);
    int32_t SimFill(const Action &act);
    int32_t SimCopyLayer(int d, int s);
    int32_t SimCopyWithOpacity(int d, int s, uint32_t opacity);
    int32_t SimComposite(const Action &act);
    int32_t SimNotifyOp(const Action &act);
    int32_t SimTwo(const Action &act);
    int32_t SimThree(const Action &act);
    int32_t SimEx(const Action &act);
    int32_t SimMany(const Action &act);
    int32_t SimFlip(const Action &act);
    int32_t SimClipAlpha(int i);
    int32_t SimResize(const Action &act);
    int32_t SimResizeCorrect(const Action &act);
    void RunTop(const Action &act);

    // Exact pixel oracles, run after a call that no receiver joined.
    bool CanExact() const { return depth_ == 0 && quiet_ == 0; }
    size_t ShotIndex(int root, int32_t x, int32_t y) const;
    uint32_t Before(int root, int32_t x, int32_t y) const;
    uint32_t After(int root, int32_t x, int32_t y) const;
    bool Apart(const SimAccess &s, bool firstSecond, const SimAccess *t = nullptr) const;
    void ExpectBlendOnFirst(const SimAccess &s, bool intoSecond, uint32_t opacity, bool fadeTop);

    // Checks.
    void Snapshot();
    void SyncMovingBuffers();
    void CheckAll();
    void CheckEvents();
    void CheckTree();
    void CheckPixels();
    uint32_t *Address(const Node &root, int32_t x, int32_t y) const;
    int TempsOn(int root) const;

    // Host calls.
    void NewHostRoot();
    void NewLibRoot();
    void NewView();
    void NewClipped();
    void Clip();
    void AddRef();
    void Delete();
    void UnionRect();
    void Open();
    void Close();
    void Configure();
    void ConfigureReceiverCall();
    void MakeMoving();
    void ClipAlphaEx();
    Action DecodeFill();
    Action DecodeCopy();
    Action DecodeComposite();
    Action DecodeNotify();
    Action DecodeNew(Op op);
    void Finish();
};

int32_t ZL_CALL HookBegin(Layer *root, void *unused) {
    current->Log(Ev::Begin, root, unused, 0);
    Node *n = current->Find(root);
    if (n != nullptr && n->supply) root->pixels = n->buf.first;
    if (n != nullptr && n->moving) {
        const MovePlan *m = current->NextMove();
        if (m != nullptr && m->move) {
            // The host brings its pixels over to the other buffer.
            for (int32_t y = 0; y < m->height; ++y)
                std::memcpy(m->to + static_cast<ptrdiff_t>(y) * m->toStride, m->from + static_cast<ptrdiff_t>(y) * m->fromStride,
                            static_cast<size_t>(m->width) * 4);
            root->pixels = m->to;
            root->rowBytes = m->toRowBytes;
            if (m->retire != nullptr) m->retire->Revoke();
        }
    }
    return 0;
}
int32_t ZL_CALL HookEnd(Layer *root, Layer *layer) {
    current->Log(Ev::End, root, layer, 0);
    Node *n = current->Find(root);
    return n != nullptr ? n->endResult : 1;
}
int32_t ZL_CALL HookDestroy(Layer *layer, void *unused) {
    current->Log(Ev::Destroy, layer, unused, 0);
    // The layer is still linked when its destroy runs: its root is a record.
    if (layer->root != nullptr) ZL_FUZZ_CHECK(layer->root->root == layer->root);
    return 0;
}
const HostOverrides *OverridesOf(Layer *layer) { return reinterpret_cast<const HostOverrides *>(layer->root->overrides); }
int32_t ZL_CALL OverrideClear(Layer *layer) {
    current->Log(Ev::Clear, layer, nullptr, 0);
    return OverridesOf(layer)->result[0];
}
int32_t ZL_CALL OverrideSet(Layer *layer, uint32_t colour) {
    current->Log(Ev::Set, layer, nullptr, colour);
    return OverridesOf(layer)->result[1];
}
int32_t ZL_CALL OverrideCopy(Layer *destination, Layer *source) {
    // Tried on the destination's root, then on the source's: which table
    // answers is the model's to say.
    Node *known = current->Find(source);
    current->Log(Ev::Copy, destination, source == nullptr || (known != nullptr && known->alive) ? source : kLibraryLayer, 0);
    return current->NextCopyAnswer();
}
int32_t ZL_CALL Receive(Layer *layer, LayerNotifier *notifier) {
    // A root is reported through the stand-in of its access.
    bool standIn = layer != nullptr && layer->flags == static_cast<uint32_t>(LayerKindAccess);
    current->Log(Ev::Notify, standIn ? layer->parent : layer, notifier, standIn ? 1u : 0u);
    current->RunReceiverPlan();
    return reinterpret_cast<HostNotifier *>(notifier)->result;
}

void Session::RunReceiverPlan() {
    if (receiverCursor_ >= receiverPlans_.size() || receiverPlans_[receiverCursor_].event != log_.size() - 1) return;
    ReceiverPlan plan = receiverPlans_[receiverCursor_++];
    if (trace_) std::fprintf(stderr, "  receiver runs action %d\n", plan.action);
    int32_t result = Exec(actions_[static_cast<size_t>(plan.action)]);
    ZL_FUZZ_CHECK(result == plan.result);
}

// ---- model ----

// The layer's own pixels field: a root's buffer, or what a clipped layer
// copied from its parent when it was made.
const uint32_t *Session::PixelsField(int i) const {
    const Node &n = nodes_[i];
    if (n.kind == Kind::Clipped) return n.pixelsField;
    if (n.kind == Kind::View) return nullptr;
    return n.hasPixels ? n.buf.first : nullptr;
}

void Session::PlaceInParent(int i) {
    Node &n = nodes_[i];
    const LayerRect &pb = nodes_[n.parent].bounds;
    n.bounds.left = Add(pb.left, n.clipRect.left);
    n.bounds.top = Add(pb.top, n.clipRect.top);
    n.bounds.right = Add(n.bounds.left, Sub(n.clipRect.right, n.clipRect.left));
    n.bounds.bottom = Add(n.bounds.top, Sub(n.clipRect.bottom, n.clipRect.top));
}

void Session::PlaceDescendants(int i) {
    for (int c : nodes_[i].children) {
        PlaceInParent(c);
        PlaceDescendants(c);
    }
}

// The visible part as an access computes it: the layer's bounds within every
// ancestor's and the root's; a root is seen through a child with its bounds.
void Session::Visible(int i, LayerRect &rect, LayerRect &vb) const {
    const Node &n = nodes_[i];
    vb = n.bounds;
    for (int a = n.parent; a >= 0; a = nodes_[a].parent) vb = Intersect(vb, nodes_[a].bounds);
    vb = Intersect(vb, nodes_[n.root].bounds);
    int32_t w = Sub(vb.right, vb.left), h = Sub(vb.bottom, vb.top);
    rect.left = Sub(vb.left, n.bounds.left);
    rect.top = Sub(vb.top, n.bounds.top);
    rect.right = Add(rect.left, w);
    rect.bottom = Add(rect.top, h);
}

Placement Session::Place(int i) const {
    Placement p;
    const Node &n = nodes_[i];
    const Node &root = nodes_[n.root];
    p.x = n.bounds.left;
    p.y = n.bounds.top;
    p.pixelRoot = n.root;
    Visible(i, p.visibleRect, p.visibleBounds);
    if (root.kind != Kind::View) {
        p.resolved = root.hasPixels;
        return p;
    }
    if (root.target < 0) return p;
    const Node &t = nodes_[root.target];
    p.x = Add(p.x, Sub(t.bounds.left, root.targetX));
    p.y = Add(p.y, Sub(t.bounds.top, root.targetY));
    p.pixelRoot = t.root;
    LayerRect tRect, tBounds;
    Visible(root.target, tRect, tBounds);
    LayerRect shown{0, 0, 0, 0};
    if (Proper(tBounds)) {
        shown.left = Add(root.targetX, tRect.left);
        shown.top = Add(root.targetY, tRect.top);
        shown.right = Add(shown.left, Sub(tBounds.right, tBounds.left));
        shown.bottom = Add(shown.top, Sub(tBounds.bottom, tBounds.top));
    }
    p.visibleBounds = Intersect(p.visibleBounds, shown);
    int32_t w = Sub(p.visibleBounds.right, p.visibleBounds.left), h = Sub(p.visibleBounds.bottom, p.visibleBounds.top);
    p.visibleRect.left = Sub(p.visibleBounds.left, n.bounds.left);
    p.visibleRect.top = Sub(p.visibleBounds.top, n.bounds.top);
    p.visibleRect.right = Add(p.visibleRect.left, w);
    p.visibleRect.bottom = Add(p.visibleRect.top, h);
    p.resolved = nodes_[t.root].kind != Kind::View && nodes_[t.root].hasPixels;
    return p;
}

void Session::Count(int r) {
    Node &root = nodes_[r];
    if (root.accessCount == 0 && root.hasBegin) {
        Expect(Ev::Begin, root.layer, nullptr, 0);
        if (root.supply) root.hasPixels = true;
        if (root.moving) {
            // Moved only while no access of a call in progress reaches the
            // buffer through a view.
            MovePlan m{busy_[static_cast<size_t>(r)] == 0, root.buf.first, root.alt.first, root.buf.rowBytes / 4,
                       root.alt.rowBytes / 4, root.alt.rowBytes, root.width, root.height, nullptr};
            if (m.move && root.freesOld) {
                // To a fresh buffer in the other layout; the old one is freed.
                HostBuffer fresh = AllocateBuffer(root.alt.strideWords, root.height, root.alt.bottomUp, root.alt.lowFlush);
                for (size_t k = 0; k < fresh.words; ++k) fresh.memory->data()[k] = Mix(0x5eed0000u + static_cast<uint32_t>(k));
                // Filled now as the move will fill it, for a model that
                // reads the pixels before the call (ClipToAlphaLayer).
                for (int32_t y = 0; y < root.height; ++y)
                    std::memcpy(fresh.first + static_cast<ptrdiff_t>(y) * (fresh.rowBytes / 4),
                                root.buf.first + static_cast<ptrdiff_t>(y) * (root.buf.rowBytes / 4), static_cast<size_t>(root.width) * 4);
                m.to = fresh.first;
                m.retire = root.buf.memory.get();
                root.retired.push_back(std::move(root.buf.memory));
                root.alt = std::move(root.buf);
                root.alt.first = nullptr;
                root.buf = std::move(fresh);
            } else if (m.move) {
                std::swap(root.buf, root.alt);
            }
            movePlans_.push_back(m);
        }
    }
    root.accessCount = Add(root.accessCount, 1);
}

SimAccess Session::SimBegin(int a, int b, bool markBusy) {
    SimAccess s;
    s.first = a;
    if (a < 0) return s;
    Count(nodes_[a].root);
    s.firstCounted = true;
    s.p1 = Place(a);
    if (s.p1.resolved) {
        s.firstTemp = IsRoot(a);
        if (Proper(s.p1.visibleRect) && Proper(s.p1.visibleBounds)) {
            LayerRect visible2 = s.p1.visibleRect;
            if (b >= 0) {
                s.second = b;
                Count(nodes_[b].root);
                s.secondCounted = true;
                s.p2 = Place(b);
                if (s.p2.resolved) {
                    s.secondTemp = IsRoot(b);
                    if (Proper(s.p2.visibleBounds)) {
                        visible2 = s.p2.visibleRect;
                        s.usable = true;
                    }
                }
            }
            s.region = Intersect(s.p1.visibleRect, visible2);
            if (!s.usable || !Proper(s.region)) {
                s.region = s.p1.visibleRect;
                s.usable = false;
            }
            s.opened = true;
        }
    }
    if (markBusy) {
        // Every tree the access reaches is in use until it closes.
        s.busy.push_back(nodes_[a].root);
        if (s.p1.pixelRoot >= 0) s.busy.push_back(s.p1.pixelRoot);
        if (s.secondCounted) {
            s.busy.push_back(nodes_[b].root);
            if (s.p2.pixelRoot >= 0) s.busy.push_back(s.p2.pixelRoot);
        }
        for (int t : s.busy) ++busy_[static_cast<size_t>(t)];
    }
    return s;
}

// Releases one access slot.
bool Session::Release(int i, const void *endLayer) {
    Node &root = nodes_[nodes_[i].root];
    bool ok = true;
    if (root.accessCount != 0) {
        root.accessCount = Sub(root.accessCount, 1);
        if (root.accessCount == 0 && root.hasEnd) {
            Expect(Ev::End, root.layer, endLayer, 0);
            ok = root.endResult != 0;
        }
    }
    return ok;
}

bool Session::SimEnd(SimAccess &s) {
    for (int t : s.busy) --busy_[static_cast<size_t>(t)];
    s.busy.clear();
    if (s.first < 0) return false;
    bool ok = Release(s.first, nodes_[s.first].layer);
    if (s.secondCounted) ok = Release(s.second, nodes_[s.second].layer) && ok;
    return ok;
}

// A layer that one of the host's open accesses names: its record stays
// until the last of them closes.
bool Session::Kept(int i) const {
    for (const auto &o : open_)
        for (int k : o->named)
            if (k == i) return true;
    return false;
}

// The host's close of one of its accesses, already taken out of open_: the
// slots are released (endAccess), then the layers it named that the host
// dropped meanwhile and no other open access names are freed, in the order
// they were named, the roots last: a window's destroy still sees its root.
bool Session::SimClose(OpenAccess &o) {
    bool ok = SimEnd(o.sim);
    for (bool roots : {false, true})
        for (int k : o.named)
            if (k >= 0 && IsRoot(k) == roots && nodes_[k].alive && nodes_[k].zombie && !Kept(k)) {
                if (trace_) std::fprintf(stderr, "  node %d freed at the close\n", k);
                FreeRecord(k);
            }
    return ok;
}

// A report reaches the nearest receiver up the chain, only while the thread
// is inside the matching Ex call; the receiver may make a library call of
// its own on trees that no call in progress has open.
int32_t Session::SimNotify(bool refresh, Ref r) {
    if (!(refresh ? refreshActive_ : updateActive_) || r.node < 0) return 0;
    for (int h = r.node; h >= 0; h = nodes_[h].parent) {
        const HostNotifier *n = refresh ? nodes_[h].refresh.get() : nodes_[h].update.get();
        if (n == nullptr) continue;
        if (n->base.notify == nullptr) return 1;
        Expect(Ev::Notify, nodes_[r.node].layer, n, r.temp ? 1u : 0u);
        if (n->action >= 0 && depth_ < kMaxDepth && receiverPlans_.size() < kMaxPlans) {
            const Action &act = actions_[static_cast<size_t>(n->action)];
            int used[] = {act.a, act.b, act.c, act.d};
            bool free = true;
            for (int u : used)
                if (u >= 0 && !TreeFree(u)) free = false;
            for (const auto &e : act.entries)
                if (e.first >= 0 && !TreeFree(e.first)) free = false;
            if (free) {
                size_t k = receiverPlans_.size();
                receiverPlans_.push_back(ReceiverPlan{expected_.size() - 1, n->action, 0});
                ++depth_;
                int32_t result = Sim(act);
                --depth_;
                receiverPlans_[k].result = result;
            }
        }
        return n->result != 0 ? 1 : 0;
    }
    return 0;
}

// A live layer whose tree (and, for a view, its target's tree) no access of
// a call in progress has open.
bool Session::TreeFree(int i) const {
    if (!Usable(i)) return false;
    if (busy_[static_cast<size_t>(nodes_[i].root)] != 0) return false;
    Placement p = Place(i);
    return p.pixelRoot < 0 || busy_[static_cast<size_t>(p.pixelRoot)] == 0;
}

void Session::FreeRecord(int i) {
    Node &n = nodes_[i];
    if (n.hasDestroy) Expect(Ev::Destroy, n.layer, nullptr, 0);
    if (n.parent >= 0) {
        std::vector<int> &siblings = nodes_[n.parent].children;
        for (size_t k = 0; k < siblings.size(); ++k)
            if (siblings[k] == i) {
                siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(k));
                break;
            }
    }
    for (int c : n.children) nodes_[c].parent = -1;
    n.children.clear();
    n.parent = -1;
    n.alive = false;
    n.zombie = false;
}

// Drops one reference in the model; returns 1 when the record is freed. A
// layer that an open access of the host names stays until the last such
// access closes; a clipped layer's reference on its root goes at once.
int Session::SimDelete(int i) {
    Node &n = nodes_[i];
    int held = n.kind == Kind::Clipped ? n.root : -1;
    n.refCount = Sub(n.refCount, 1);
    int freed = 0;
    if (n.refCount == 0) {
        if (Kept(i)) {
            if (trace_) std::fprintf(stderr, "  node %d kept until the close\n", i);
            n.zombie = true;
        } else {
            FreeRecord(i);
            freed = 1;
        }
    }
    if (held >= 0) SimDelete(held);
    return freed;
}

// The host drops only references it took: a root's count less those its
// clipped layers hold. It keeps one on a view record it owns.
bool Session::DropsUntaken(int i) const {
    const Node &n = nodes_[i];
    if (!IsRoot(i)) return false;
    int32_t held = 0;
    for (const Node &c : nodes_)
        if (c.alive && c.kind == Kind::Clipped && c.root == i) held = Add(held, c.refCount);
    return Sub(n.refCount, held) <= (n.kind == Kind::View ? 1 : 0);
}

void Session::SimClipRect(int i, const LayerRect &rect) {
    Node &n = nodes_[i];
    n.clipRect = rect;
    if (n.parent >= 0) {
        PlaceInParent(i);
        PlaceDescendants(i);
    }
}

// ---- checks ----

uint32_t *Session::Address(const Node &root, int32_t x, int32_t y) const {
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uintptr_t>(root.buf.first) +
                                        static_cast<uintptr_t>(static_cast<intptr_t>(root.buf.rowBytes) * y) +
                                        static_cast<uintptr_t>(x) * 4u);
}

// Between calls the host keeps both buffers of a moving root alike.
void Session::SyncMovingBuffers() {
    for (Node &n : nodes_) {
        if (!n.alive || !n.moving || n.freesOld) continue;
        for (int32_t y = 0; y < n.height; ++y)
            std::memcpy(n.alt.first + static_cast<ptrdiff_t>(y) * (n.alt.rowBytes / 4),
                        n.buf.first + static_cast<ptrdiff_t>(y) * (n.buf.rowBytes / 4), static_cast<size_t>(n.width) * 4);
    }
}

void Session::Snapshot() {
    SyncMovingBuffers();
    shots_.clear();
    shotOf_.assign(nodes_.size(), -1);
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const Node &n = nodes_[i];
        if (!n.alive) continue;
        auto add = [&](const HostBuffer &b) {
            Shot s;
            s.node = static_cast<int>(i);
            s.host = b.memory != nullptr;
            s.base = s.host ? b.memory->data() : b.first;
            s.first = b.first;
            s.words = b.words;
            s.strideWords = b.strideWords;
            s.width = n.width;
            s.height = n.height;
            s.bottomUp = b.bottomUp;
            s.memory = b.memory.get();
            s.before.assign(s.base, s.base + s.words);
            shots_.push_back(std::move(s));
        };
        if (n.kind == Kind::LibRoot || (n.kind == Kind::HostRoot && n.buf.memory != nullptr)) {
            shotOf_[i] = static_cast<int>(shots_.size());
            add(n.buf);
        }
        if (n.moving && !n.freesOld) add(n.alt);
    }
    allowed_.clear();
    log_.clear();
    expected_.clear();
    exact_.clear();
    receiverPlans_.clear();
    receiverCursor_ = 0;
    movePlans_.clear();
    moveCursor_ = 0;
    copyPlans_.clear();
    copyCursor_ = 0;
}

// A pixel of a root as it was before the call, and as it is now.
size_t Session::ShotIndex(int r, int32_t x, int32_t y) const {
    const Shot &s = shots_[static_cast<size_t>(shotOf_[static_cast<size_t>(r)])];
    int32_t row = s.bottomUp ? s.height - 1 - y : y;
    return static_cast<size_t>(row) * static_cast<size_t>(s.strideWords) + static_cast<size_t>(x);
}
uint32_t Session::Before(int r, int32_t x, int32_t y) const {
    return shots_[static_cast<size_t>(shotOf_[static_cast<size_t>(r)])].before[ShotIndex(r, x, y)];
}
uint32_t Session::After(int r, int32_t x, int32_t y) const { return *Address(nodes_[r], x, y); }

void Session::CheckEvents() {
    if (trace_ && !(log_ == expected_)) {
        std::fprintf(stderr, "  events %zu, expected %zu\n", log_.size(), expected_.size());
        for (size_t i = 0; i < log_.size() || i < expected_.size(); ++i) {
            if (i < log_.size()) std::fprintf(stderr, "   got  %d %p %p %u\n", static_cast<int>(log_[i].type), log_[i].a, log_[i].b, log_[i].value);
            if (i < expected_.size())
                std::fprintf(stderr, "   want %d %p %p %u\n", static_cast<int>(expected_[i].type), expected_[i].a, expected_[i].b, expected_[i].value);
        }
    }
    ZL_FUZZ_CHECK(log_.size() == expected_.size());
    for (size_t i = 0; i < log_.size(); ++i) ZL_FUZZ_CHECK(log_[i] == expected_[i]);
    ZL_FUZZ_CHECK(receiverCursor_ == receiverPlans_.size());
    ZL_FUZZ_CHECK(moveCursor_ == movePlans_.size());
    ZL_FUZZ_CHECK(copyCursor_ == copyPlans_.size());
}

// Every word of every buffer, host padding included, is unchanged unless it
// lies in a part of the root that the call may write. A buffer the host
// freed during the call is compared pixel by pixel with the one its pixels
// moved to.
void Session::CheckPixels() {
    for (const Shot &s : shots_) {
        const Node &n = nodes_[static_cast<size_t>(s.node)];
        if (!n.alive && !s.host) continue;  // a freed library buffer
        bool moved = s.memory != nullptr && s.memory->Revoked();
        for (size_t w = 0; w < s.words; ++w) {
            int32_t row = static_cast<int32_t>(w / static_cast<size_t>(s.strideWords));
            int32_t x = static_cast<int32_t>(w % static_cast<size_t>(s.strideWords));
            int32_t y = s.bottomUp ? s.height - 1 - row : row;
            if (moved ? x >= s.width || *Address(n, x, y) == s.before[w] : s.base[w] == s.before[w]) continue;
            bool ok = x < s.width;
            if (ok) {
                ok = false;
                for (const auto &a : allowed_)
                    if (a.first == s.node && RectHas(a.second, x, y)) ok = true;
            }
            if (!ok && trace_) {
                std::fprintf(stderr, "  pixel (%d, %d) of node %d changed; may change:", x, y, s.node);
                for (const auto &a : allowed_)
                    std::fprintf(stderr, " node %d (%d, %d, %d, %d)", a.first, a.second.left, a.second.top, a.second.right, a.second.bottom);
                std::fprintf(stderr, "\n");
            }
            ZL_FUZZ_CHECK(ok);
        }
    }
}

int Session::TempsOn(int r) const {
    int count = 0;
    for (const auto &o : open_) {
        if (o->sim.firstTemp && o->sim.first == r) ++count;
        if (o->sim.secondTemp && o->sim.second == r) ++count;
    }
    return count;
}

void Session::CheckTree() {
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const Node &n = nodes_[i];
        if (!n.alive) continue;
        const Layer *l = n.layer;
        int idx = static_cast<int>(i);
        ZL_FUZZ_CHECK(l->refCount == Add(n.refCount, IsRoot(idx) ? TempsOn(idx) : 0));
        ZL_FUZZ_CHECK(l->root == nodes_[n.root].layer);
        ZL_FUZZ_CHECK(l->parent == (n.parent >= 0 ? nodes_[n.parent].layer : nullptr));
        uint32_t flags = n.kind == Kind::HostRoot ? 0u
                         : n.kind == Kind::LibRoot ? static_cast<uint32_t>(LayerOwnsPixels)
                         : n.kind == Kind::View    ? static_cast<uint32_t>(LayerKindView)
                                                   : static_cast<uint32_t>(LayerKindClipped);
        ZL_FUZZ_CHECK(l->flags == flags);
        if (IsRoot(idx)) {
            ZL_FUZZ_CHECK(l->accessCount == n.accessCount);
            if (n.kind == Kind::HostRoot && n.hasPixels) ZL_FUZZ_CHECK(l->pixels == n.buf.first && l->rowBytes == n.buf.rowBytes);
        } else {
            ZL_FUZZ_CHECK(SameRect(l->clipRect, n.clipRect));
            ZL_FUZZ_CHECK(l->pixels == n.pixelsField && l->rowBytes == n.rowBytesField);
        }
        ZL_FUZZ_CHECK(SameRect(l->bounds, n.bounds));
        // The child list, newest first, with the temporary access children
        // of open accesses left out.
        size_t k = 0;
        const Layer *prev = nullptr;
        for (const Layer *c = l->firstChild; c != nullptr; prev = c, c = c->nextSibling) {
            ZL_FUZZ_CHECK(c->prevSibling == prev);
            ZL_FUZZ_CHECK(c->parent == l);
            if (c->flags == static_cast<uint32_t>(LayerKindAccess)) continue;
            ZL_FUZZ_CHECK(k < n.children.size() && c == nodes_[n.children[k]].layer);
            ++k;
        }
        ZL_FUZZ_CHECK(k == n.children.size());
    }
}

void Session::CheckAll() {
    CheckEvents();
    CheckTree();
    CheckPixels();
}

// True when the two layers of an access (or the first layers of two
// accesses) lie in different buffers or in disjoint parts of one, so that
// what is written cannot be read again.
bool Session::Apart(const SimAccess &s, bool firstSecond, const SimAccess *t) const {
    const Placement &pa = s.p1;
    const Placement &pb = t != nullptr ? (firstSecond ? t->p2 : t->p1) : s.p2;
    const SimAccess &sb = t != nullptr ? *t : s;
    if (pa.pixelRoot != pb.pixelRoot) return true;
    LayerRect ra = Offset(s.region, pa.x, pa.y), rb = Offset(sb.region, pb.x, pb.y);
    return !Proper(Intersect(ra, rb));
}

// Exact pixels of a two-layer blend where they follow without arithmetic:
// the first layer is the top, the second the bottom; the result goes into
// the first layer or the second; the top or the bottom is faded first.
void Session::ExpectBlendOnFirst(const SimAccess &s, bool intoSecond, uint32_t opacity, bool fadeTop) {
    if (!CanExact() || !Apart(s, true)) return;
    SimAccess a = s;
    exact_.push_back([this, a, intoSecond, opacity, fadeTop]() {
        for (int32_t y = 0; y < a.Height(); ++y)
            for (int32_t x = 0; x < a.Width(); ++x) {
                int32_t x1 = Add(a.p1.x, Add(a.region.left, x)), y1 = Add(a.p1.y, Add(a.region.top, y));
                int32_t x2 = Add(a.p2.x, Add(a.region.left, x)), y2 = Add(a.p2.y, Add(a.region.top, y));
                uint32_t top = Before(a.p1.pixelRoot, x1, y1), bottom = Before(a.p2.pixelRoot, x2, y2), out;
                if (fadeTop) top = Fade(top, opacity);
                else bottom = Fade(bottom, opacity);
                if (!KnownBlend(top, bottom, out)) continue;
                uint32_t now = intoSecond ? After(a.p2.pixelRoot, x2, y2) : After(a.p1.pixelRoot, x1, y1);
                ZL_FUZZ_CHECK(now == out);
            }
    });
}

// ---- operations: the model's side ----

int32_t Session::Sim(const Action &act) {
    switch (act.op) {
        case Op::Fill: return SimFill(act);
        case Op::Copy: return act.flag ? SimCopyWithOpacity(act.a, act.b, act.value & 0xFF) : SimCopyLayer(act.a, act.b);
        case Op::Composite: return SimComposite(act);
        case Op::Notify: return SimNotifyOp(act);
        case Op::Two: return SimTwo(act);
        case Op::Three: return SimThree(act);
        case Op::Ex: return SimEx(act);
        case Op::Many: return SimMany(act);
        case Op::Flip: return SimFlip(act);
        case Op::ClipAlpha: return SimClipAlpha(act.a);
        case Op::Resize: return SimResize(act);
        default: return SimResizeCorrect(act);
    }
}

int32_t Session::SimFill(const Action &act) {
    int i = act.a;
    if (act.which < 2) {
        if (i < 0) return 0;
        const HostOverrides *o = nodes_[nodes_[i].root].overrides.get();
        bool has = o != nullptr && (act.which == 0 ? o->table.clearLayer != nullptr : o->table.setLayer != nullptr);
        if (has) {
            Expect(act.which == 0 ? Ev::Clear : Ev::Set, nodes_[i].layer, nullptr, act.which == 0 ? 0 : act.value);
            if (o->result[act.which] != 0) return 1;
        }
    }
    SimAccess s = SimBegin(i, -1);
    if (s.opened) {
        AllowFirst(s);
        uint32_t value = act.which == 0 ? 0 : act.which == 1 ? act.value : act.value << 24;
        uint32_t mask = act.which == 2 ? 0xFF000000u : 0xFFFFFFFFu;
        if (CanExact())
            exact_.push_back([this, s, value, mask]() {
                for (int32_t y = 0; y < s.Height(); ++y)
                    for (int32_t x = 0; x < s.Width(); ++x) {
                        int32_t px = Add(s.p1.x, Add(s.region.left, x)), py = Add(s.p1.y, Add(s.region.top, y));
                        uint32_t now = After(s.p1.pixelRoot, px, py);
                        ZL_FUZZ_CHECK((now & mask) == (value & mask));
                        ZL_FUZZ_CHECK((now & ~mask) == (Before(s.p1.pixelRoot, px, py) & ~mask));
                    }
            });
        SimNotify(false, FirstRef(s));
    }
    SimEnd(s);
    return 1;
}

// CopyLayer's override answers: the destination root's table first, then the
// source root's. The source may be a layer of the library's own (-2).
int32_t Session::SimCopyLayer(int d, int s) {
    if (d < 0) return 0;
    const void *sourceLayer = s == -2 ? kLibraryLayer : s >= 0 ? nodes_[s].layer : nullptr;
    const HostOverrides *od = nodes_[nodes_[d].root].overrides.get();
    if (od != nullptr && od->table.copyLayer != nullptr) {
        Expect(Ev::Copy, nodes_[d].layer, sourceLayer, 0);
        copyPlans_.push_back(od->result[2]);
        if (od->result[2] != 0) return 1;
    }
    if (s == -1) return 0;
    if (s >= 0) {
        const HostOverrides *os = nodes_[nodes_[s].root].overrides.get();
        if (os != nullptr && os->table.copyLayer != nullptr) {
            Expect(Ev::Copy, nodes_[d].layer, sourceLayer, 0);
            copyPlans_.push_back(os->result[2]);
            if (os->result[2] != 0) return 1;
        }
    }
    if (s == -2) return 1;  // the caller models the copy from its own layer
    SimAccess a = SimBegin(d, s);
    if (a.opened) {
        SimNotify(true, SecondRef(a));
        if (a.usable) {
            AllowFirst(a);
            if (CanExact())
                exact_.push_back([this, a]() {
                    // Row by row, left to right, as the copy goes: rows of
                    // one buffer that overlap see what was copied before.
                    bool same = a.p1.pixelRoot == a.p2.pixelRoot;
                    std::vector<uint32_t> work;
                    if (same) work = shots_[static_cast<size_t>(shotOf_[static_cast<size_t>(a.p1.pixelRoot)])].before;
                    for (int32_t y = 0; y < a.Height(); ++y)
                        for (int32_t x = 0; x < a.Width(); ++x) {
                            int32_t sx = Add(a.p2.x, Add(a.region.left, x)), sy = Add(a.p2.y, Add(a.region.top, y));
                            int32_t dx = Add(a.p1.x, Add(a.region.left, x)), dy = Add(a.p1.y, Add(a.region.top, y));
                            uint32_t v = same ? work[ShotIndex(a.p2.pixelRoot, sx, sy)] : Before(a.p2.pixelRoot, sx, sy);
                            if (same) work[ShotIndex(a.p1.pixelRoot, dx, dy)] = v;
                            else ZL_FUZZ_CHECK(After(a.p1.pixelRoot, dx, dy) == v);
                        }
                    if (same)
                        for (int32_t y = 0; y < a.Height(); ++y)
                            for (int32_t x = 0; x < a.Width(); ++x) {
                                int32_t dx = Add(a.p1.x, Add(a.region.left, x)), dy = Add(a.p1.y, Add(a.region.top, y));
                                ZL_FUZZ_CHECK(After(a.p1.pixelRoot, dx, dy) == work[ShotIndex(a.p1.pixelRoot, dx, dy)]);
                            }
                });
            SimNotify(false, FirstRef(a));
        }
    }
    SimEnd(a);
    return 1;
}

int32_t Session::SimCopyWithOpacity(int d, int s, uint32_t opacity) {
    SimAccess a = SimBegin(d, s);
    if (a.opened) {
        SimNotify(true, SecondRef(a));
        if (a.usable) {
            AllowFirst(a);
            if (CanExact() && Apart(a, true))
                exact_.push_back([this, a, opacity]() {
                    for (int32_t y = 0; y < a.Height(); ++y)
                        for (int32_t x = 0; x < a.Width(); ++x) {
                            uint32_t src = Before(a.p2.pixelRoot, Add(a.p2.x, Add(a.region.left, x)), Add(a.p2.y, Add(a.region.top, y)));
                            ZL_FUZZ_CHECK(After(a.p1.pixelRoot, Add(a.p1.x, Add(a.region.left, x)), Add(a.p1.y, Add(a.region.top, y))) ==
                                          Fade(src, opacity));
                        }
                });
            SimNotify(false, FirstRef(a));
        }
    }
    SimEnd(a);
    return 1;
}

int32_t Session::SimComposite(const Action &act) {
    int t = act.a, b = act.b;
    if (act.which < 4) {
        SimAccess a = SimBegin(t, b);
        if (a.opened) {
            SimNotify(true, SecondRef(a));
            if (a.usable) {
                bool intoSecond = act.which % 2 == 1;
                if (intoSecond) AllowSecond(a);
                else AllowFirst(a);
                ExpectBlendOnFirst(a, intoSecond, 255, false);
                SimNotify(false, intoSecond ? SecondRef(a) : FirstRef(a));
            }
        }
        SimEnd(a);
        return 1;
    }
    int out = act.c;
    SimAccess withTop = SimBegin(out, t);
    if (withTop.opened) {
        SimAccess withBottom = SimBegin(out, b);
        if (withBottom.opened) {
            SimNotify(true, SecondRef(withTop));
            SimNotify(true, SecondRef(withBottom));
            bool update = true;
            if (!withTop.usable) {
                if (b >= 0) SimCopyLayer(out, b);
                else update = false;
            } else if (!withBottom.usable) {
                if (t >= 0) SimCopyLayer(out, t);
                else update = false;
            } else {
                // Where all three overlap, each input read under its own
                // output pixel.
                LayerRect common = Intersect(withTop.region, withBottom.region);
                if (Proper(common)) {
                    Allow(withTop.p1.pixelRoot, Offset(common, withTop.p1.x, withTop.p1.y));
                    if (CanExact() && Apart(withTop, true) && Apart(withTop, true, &withBottom)) {
                        SimAccess ta = withTop, ba = withBottom;
                        exact_.push_back([this, ta, ba, common]() {
                            for (int32_t y = common.top; y < common.bottom; ++y)
                                for (int32_t x = common.left; x < common.right; ++x) {
                                    uint32_t top = Before(ta.p2.pixelRoot, Add(ta.p2.x, x), Add(ta.p2.y, y));
                                    uint32_t bottom = Before(ba.p2.pixelRoot, Add(ba.p2.x, x), Add(ba.p2.y, y)), want;
                                    if (KnownBlend(top, bottom, want))
                                        ZL_FUZZ_CHECK(After(ta.p1.pixelRoot, Add(ta.p1.x, x), Add(ta.p1.y, y)) == want);
                                }
                        });
                    }
                }
            }
            if (update) SimNotify(false, FirstRef(withTop));
        }
        SimEnd(withBottom);
    }
    SimEnd(withTop);
    return 1;
}

int32_t Session::SimNotifyOp(const Action &act) {
    bool refresh = act.flag;
    refreshActive_ = refresh;
    updateActive_ = !refresh;
    int32_t result = SimNotify(refresh, Ref{act.a, false});
    refreshActive_ = updateActive_ = false;
    return result;
}

int32_t Session::SimTwo(const Action &act) {
    SimAccess first = SimBegin(act.a, act.b);
    if (first.opened) {
        SimAccess second = SimBegin(act.a, act.c);
        if (second.opened) {
            SimNotify(true, SecondRef(first));
            SimNotify(true, SecondRef(second));
            if (trace_)
                for (const SimAccess *t : {&first, &second}) {
                    const Node &r1 = nodes_[t->p1.pixelRoot];
                    std::fprintf(stderr, "  region (%d %d %d %d) usable %d p1 %d@(%d,%d) p2 %d@(%d,%d) root %dx%d stride %d kind %d\n", t->region.left,
                                 t->region.top, t->region.right, t->region.bottom, t->usable, t->p1.pixelRoot, t->p1.x, t->p1.y,
                                 t->p2.pixelRoot, t->p2.x, t->p2.y, r1.width, r1.height, r1.buf.rowBytes, static_cast<int>(nodes_[t->first].kind));
                }
            if (first.usable) Allow(first.p1.pixelRoot, Offset(first.region, first.p1.x, first.p1.y));
            if (second.usable) Allow(second.p1.pixelRoot, Offset(second.region, second.p1.x, second.p1.y));
            // The output is written over both regions; neither layer may
            // be read from where the output is written.
            auto apart = [&](const SimAccess &written, const SimAccess &read) {
                if (!written.usable || !read.usable || written.p1.pixelRoot != read.p2.pixelRoot) return true;
                return !Proper(Intersect(Offset(written.region, written.p1.x, written.p1.y), Offset(read.region, read.p2.x, read.p2.y)));
            };
            bool apartAll = apart(first, first) && apart(first, second) && apart(second, first) && apart(second, second);
            if (CanExact() && apartAll && (first.usable || second.usable)) {
                SimAccess f = first, s = second;
                exact_.push_back([this, f, s]() {
                    // The output stays on top, the first layer beneath it and
                    // the second beneath both.
                    LayerRect all = f.usable ? f.region : s.region;
                    if (f.usable && s.usable) {
                        all.left = f.region.left < s.region.left ? f.region.left : s.region.left;
                        all.top = f.region.top < s.region.top ? f.region.top : s.region.top;
                        all.right = f.region.right > s.region.right ? f.region.right : s.region.right;
                        all.bottom = f.region.bottom > s.region.bottom ? f.region.bottom : s.region.bottom;
                    }
                    for (int32_t y = all.top; y < all.bottom; ++y)
                        for (int32_t x = all.left; x < all.right; ++x) {
                            bool inF = f.usable && RectHas(f.region, x, y), inS = s.usable && RectHas(s.region, x, y);
                            int32_t ox = Add(f.p1.x, x), oy = Add(f.p1.y, y);
                            uint32_t out = Before(f.p1.pixelRoot, ox, oy), want = out;
                            bool known = true;
                            if (inF) known = KnownBlend(true, out, true, Before(f.p2.pixelRoot, Add(f.p2.x, x), Add(f.p2.y, y)), want);
                            if (inS) {
                                uint32_t upper = want;
                                known = KnownBlend(known, upper, true, Before(s.p2.pixelRoot, Add(s.p2.x, x), Add(s.p2.y, y)), want);
                            }
                            if (known) ZL_FUZZ_CHECK(After(f.p1.pixelRoot, ox, oy) == want);
                        }
                });
            }
            SimNotify(false, FirstRef(first));
        }
        SimEnd(second);
    }
    SimEnd(first);
    return 1;
}

int32_t Session::SimThree(const Action &act) {
    // Output, bottom, middle, top: opened top first.
    int out = act.a, bottom = act.b, middle = act.c, top = act.d;
    SimAccess t = SimBegin(out, top);
    int32_t result = 1;
    if (t.opened) {
        SimAccess m = SimBegin(out, middle);
        if (m.opened) {
            SimAccess b = SimBegin(out, bottom);
            if (b.opened) {
                bool sameSize = t.Width() == m.Width() && t.Width() == b.Width() && t.Height() == m.Height() &&
                                t.Height() == b.Height();
                if (sameSize && (!t.usable || !m.usable || !b.usable)) {
                    result = 0;
                } else if (sameSize) {
                    AllowFirst(t);
                    uint32_t o = act.value & 0xFF;
                    if (CanExact() && Apart(t, true) && Apart(t, true, &m) && Apart(t, true, &b))
                        exact_.push_back([this, t, m, b, o]() {
                            for (int32_t y = 0; y < t.Height(); ++y)
                                for (int32_t x = 0; x < t.Width(); ++x) {
                                    auto at = [&](const SimAccess &s) {
                                        return Before(s.p2.pixelRoot, Add(s.p2.x, Add(s.region.left, x)), Add(s.p2.y, Add(s.region.top, y)));
                                    };
                                    uint32_t upper, want;
                                    bool known = KnownBlend(true, at(t), true, Fade(at(m), o), upper);
                                    if (KnownBlend(known, upper, true, at(b), want))
                                        ZL_FUZZ_CHECK(After(t.p1.pixelRoot, Add(t.p1.x, Add(t.region.left, x)), Add(t.p1.y, Add(t.region.top, y))) == want);
                                }
                        });
                }
            }
            SimEnd(b);
        }
        SimEnd(m);
    }
    SimEnd(t);
    return result;
}

int32_t Session::SimEx(const Action &act) {
    bool intoSecond = act.flag;
    SimAccess a = SimBegin(act.a, act.b);
    if (a.opened) {
        SimNotify(true, SecondRef(a));
        SimNotify(true, FirstRef(a));
        if (a.usable) {
            if (intoSecond) AllowSecond(a);
            else AllowFirst(a);
            ExpectBlendOnFirst(a, intoSecond, act.value & 0xFF, intoSecond);
            SimNotify(false, intoSecond ? SecondRef(a) : FirstRef(a));
        }
    }
    SimEnd(a);
    return 1;
}

int32_t Session::SimMany(const Action &act) {
    if (act.a < 0 || act.flag || act.count == 0) return 0;
    int32_t n = act.count > 0 ? act.count : 0;
    int32_t base = 0;
    while (base < n && (act.entries[static_cast<size_t>(base)].first < 0 || act.entries[static_cast<size_t>(base)].second == 0)) ++base;
    if (base == n) {
        SimFill(Action{Op::Fill, act.a, -1, -1, -1, 0, 0, false, {}, 0});
        return 1;
    }
    const auto &e = act.entries[static_cast<size_t>(base)];
    bool more = base + 1 < n;
    quiet_ += more ? 1 : 0;
    if (e.second == 255) SimCopyLayer(act.a, e.first);
    else SimCopyWithOpacity(act.a, e.first, e.second);
    quiet_ -= more ? 1 : 0;
    if (!more) return 1;
    std::vector<SimAccess> stacked;
    for (int32_t k = base + 1; k < n; ++k) {
        const auto &s = act.entries[static_cast<size_t>(k)];
        if (s.first >= 0 && s.second != 0) stacked.push_back(SimBegin(s.first, -1));
    }
    if (!stacked.empty()) {
        SimAccess o = SimBegin(act.a, -1);
        if (o.opened) AllowFirst(o);
        SimEnd(o);
    }
    for (size_t k = stacked.size(); k-- > 0;) SimEnd(stacked[k]);
    return 1;
}

int32_t Session::SimFlip(const Action &act) {
    bool vertical = act.flag;
    SimAccess a = SimBegin(act.a, -1);
    if (a.opened) {
        SimNotify(true, FirstRef(a));
        if ((vertical ? a.Height() : a.Width()) / 2 != 0) {
            AllowFirst(a);
            if (CanExact())
                exact_.push_back([this, a, vertical]() {
                    for (int32_t y = 0; y < a.Height(); ++y)
                        for (int32_t x = 0; x < a.Width(); ++x) {
                            int32_t fx = vertical ? x : a.Width() - 1 - x, fy = vertical ? a.Height() - 1 - y : y;
                            uint32_t was = Before(a.p1.pixelRoot, Add(a.p1.x, Add(a.region.left, fx)), Add(a.p1.y, Add(a.region.top, fy)));
                            ZL_FUZZ_CHECK(After(a.p1.pixelRoot, Add(a.p1.x, Add(a.region.left, x)), Add(a.p1.y, Add(a.region.top, y))) == was);
                        }
                });
            SimNotify(false, FirstRef(a));
        }
    }
    SimEnd(a);
    return 1;
}

// Reads the pixels as they are now: only the host calls it, before the call.
int32_t Session::SimClipAlpha(int i) {
    SimAccess a = SimBegin(i, -1);
    int32_t minX = INT_MAX, minY = INT_MAX, maxX = 0, maxY = 0;
    if (a.opened) {
        const Node &pr = nodes_[a.p1.pixelRoot];
        for (int32_t y = 0; y < a.Height(); ++y)
            for (int32_t x = 0; x < a.Width(); ++x)
                if (*Address(pr, Add(a.p1.x, Add(a.region.left, x)), Add(a.p1.y, Add(a.region.top, y))) > 0x00FFFFFFu) {
                    if (x < minX) minX = x;
                    if (y < minY) minY = y;
                    if (x > maxX) maxX = x;
                    if (y > maxY) maxY = y;
                }
    }
    LayerRect region = a.region;
    SimEnd(a);
    if (minX == INT_MAX || IsRoot(i)) return 1;
    // The box lands on the pixels found: the region's corner inside the
    // layer is added to the window's corner.
    int32_t left = Add(Add(nodes_[i].clipRect.left, region.left), minX);
    int32_t top = Add(Add(nodes_[i].clipRect.top, region.top), minY);
    SimClipRect(i, LayerRect{left, top, Add(left, maxX - minX + 1), Add(top, maxY - minY + 1)});
    return 1;
}

int32_t Session::SimResize(const Action &act) {
    int d = act.a, s = act.b;
    if (d < 0 || s < 0) return 0;
    auto inside = [&](int i) {
        const LayerRect &b = nodes_[i].bounds;
        int r = nodes_[i].root;
        return !Proper(b) || (b.left >= 0 && b.top >= 0 && b.right <= RootWidth(r) && b.bottom <= RootHeight(r));
    };
    if (!inside(d) || !inside(s)) return 0;
    const LayerRect &db = nodes_[d].bounds, &sb = nodes_[s].bounds;
    int dr = nodes_[d].root, sr = nodes_[s].root;
    // The sibling library gets the roots' buffers as they stand, and refuses
    // an empty rectangle or a missing buffer.
    if (PixelsField(dr) == nullptr || PixelsField(sr) == nullptr || !Proper(db) || !Proper(sb)) return 0;
    Allow(dr, db);
    // Equal sizes are copied as they are.
    if (CanExact() && dr != sr && Sub(db.right, db.left) == Sub(sb.right, sb.left) &&
        Sub(db.bottom, db.top) == Sub(sb.bottom, sb.top)) {
        LayerRect dd = db, ss = sb;
        exact_.push_back([this, dr, sr, dd, ss]() {
            for (int32_t y = 0; y < Sub(dd.bottom, dd.top); ++y)
                for (int32_t x = 0; x < Sub(dd.right, dd.left); ++x)
                    ZL_FUZZ_CHECK(After(dr, dd.left + x, dd.top + y) == Before(sr, ss.left + x, ss.top + y));
        });
    }
    return 1;
}

int32_t Session::SimResizeCorrect(const Action &act) {
    int d = act.a, s = act.b;
    if (d >= 0 && s >= 0 && nodes_[d].root == nodes_[s].root) {
        // The source's visible part is scaled into a library layer of the
        // destination's visible size, which is copied over the destination.
        SimAccess a = SimBegin(d, -1);
        int32_t result = 0;
        if (a.opened) {
            SimAccess b = SimBegin(s, -1);
            if (b.opened) {
                result = 1;
                int32_t w = a.Width(), h = a.Height();
                // CopyLayer(destination, library layer): the destination's
                // override, then an access co-registering the two at their
                // top-left corners.
                size_t copies = copyPlans_.size();
                SimCopyLayer(d, -2);
                bool tookOver = copyPlans_.size() > copies && copyPlans_.back() != 0;
                if (!tookOver) {
                    Count(nodes_[d].root);
                    LayerRect region = Intersect(a.p1.visibleRect, LayerRect{0, 0, w, h});
                    // The library layer has no receivers of its own.
                    if (Proper(region)) {
                        Allow(a.p1.pixelRoot, Offset(region, a.p1.x, a.p1.y));
                        // Equal sizes are copied as they are.
                        if (CanExact() && b.Width() == w && b.Height() == h) {
                            SimAccess dst = a, src = b;
                            exact_.push_back([this, dst, src, region]() {
                                for (int32_t y = region.top; y < region.bottom; ++y)
                                    for (int32_t x = region.left; x < region.right; ++x) {
                                        uint32_t want = Before(src.p1.pixelRoot, Add(src.p1.x, Add(src.region.left, x)),
                                                               Add(src.p1.y, Add(src.region.top, y)));
                                        ZL_FUZZ_CHECK(After(dst.p1.pixelRoot, Add(dst.p1.x, x), Add(dst.p1.y, y)) == want);
                                    }
                            });
                        }
                        SimNotify(false, FirstRef(a));
                    }
                    Release(d, nullptr);
                }
            }
            SimEnd(b);
        }
        SimEnd(a);
        return result;
    }
    SimAccess src = SimBegin(s, -1);
    int32_t result = 0;
    if (src.opened) {
        SimAccess dst = SimBegin(d, -1);
        if (dst.opened) {
            result = 1;
            AllowFirst(dst);
            // Equal sizes are copied, with every transparent pixel made 0.
            if (CanExact() && dst.p1.pixelRoot != src.p1.pixelRoot && dst.Width() == src.Width() && dst.Height() == src.Height())
                exact_.push_back([this, dst, src]() {
                    for (int32_t y = 0; y < dst.Height(); ++y)
                        for (int32_t x = 0; x < dst.Width(); ++x) {
                            uint32_t v = Before(src.p1.pixelRoot, Add(src.p1.x, Add(src.region.left, x)), Add(src.p1.y, Add(src.region.top, y)));
                            if ((v >> 24) == 0) v = 0;
                            ZL_FUZZ_CHECK(After(dst.p1.pixelRoot, Add(dst.p1.x, Add(dst.region.left, x)), Add(dst.p1.y, Add(dst.region.top, y))) == v);
                        }
                });
        }
        SimEnd(dst);
    }
    SimEnd(src);
    return result;
}

// ---- operations: the host's side ----

int32_t Session::Exec(const Action &act) {
    auto L = [&](int i) { return i >= 0 ? nodes_[i].layer : nullptr; };
    int32_t v = static_cast<int32_t>(act.value);
    switch (act.op) {
        case Op::Fill:
            return act.which == 0 ? ClearLayer(L(act.a)) : act.which == 1 ? SetLayer(L(act.a), act.value) : SetAlphaLayer(L(act.a), v);
        case Op::Copy: return act.flag ? CopyWithOpacityLayer(L(act.a), L(act.b), v) : CopyLayer(L(act.a), L(act.b));
        case Op::Composite:
            switch (act.which) {
                case 0: return CompositOnTopLayer(L(act.a), L(act.b));
                case 1: return CompositOnBottomLayer(L(act.a), L(act.b));
                case 2: return CompositOnTopLayerCorrect(L(act.a), L(act.b));
                case 3: return CompositOnBottomLayerCorrect(L(act.a), L(act.b));
                case 4: return CompositOnOutputLayer(L(act.a), L(act.b), L(act.c));
                default: return CompositOnOutputLayerCorrect(L(act.a), L(act.b), L(act.c));
            }
        case Op::Notify: return act.flag ? RefreshLayerEx(L(act.a)) : UpdateLayerEx(L(act.a));
        case Op::Two: return TwoLayerComposit(L(act.a), L(act.b), L(act.c));
        case Op::Three: return ThreeLayerComposit(L(act.a), L(act.b), L(act.c), L(act.d), v);
        case Op::Ex: return act.flag ? CompositOnBottomLayerEx(L(act.a), L(act.b), v) : CompositOnTopLayerEx(L(act.a), L(act.b), v);
        case Op::Many: {
            std::vector<CompositEntry> list;
            for (const auto &e : act.entries) {
                CompositEntry entry;
                std::memset(&entry, 0, sizeof entry);
                entry.layer = L(e.first);
                entry.opacity = e.second;
                list.push_back(entry);
            }
            return CompositMany(L(act.a), act.flag ? nullptr : list.data(), act.count);
        }
        case Op::Flip: return act.flag ? FlipVertLayer(L(act.a)) : FlipHorzLayer(L(act.a));
        case Op::ClipAlpha: return ClipToAlphaLayer(L(act.a));
        case Op::Resize: return ResizeLayer(L(act.a), L(act.b));
        default: return ResizeLayerCorrect(L(act.a), L(act.b));
    }
}

void Session::RunTop(const Action &act) {
    if (trace_) std::fprintf(stderr, "  action %d on %d %d %d %d which %d flag %d\n", static_cast<int>(act.op), act.a, act.b, act.c, act.d, act.which, act.flag);
    Snapshot();
    int32_t expected = Sim(act);
    int32_t result = Exec(act);
    ZL_FUZZ_CHECK(result == expected);
    CheckAll();
    for (const auto &check : exact_) check();
}

Action Session::DecodeFill() {
    Action act;
    act.op = Op::Fill;
    act.a = Pick(true);
    act.which = in_.Byte() % 3;
    act.value = in_.Word();
    return act;
}

Action Session::DecodeCopy() {
    Action act;
    act.op = Op::Copy;
    act.a = Pick(true);
    act.b = Pick(true);
    act.flag = in_.Bit();
    act.value = in_.Word();
    return act;
}

Action Session::DecodeComposite() {
    Action act;
    act.op = Op::Composite;
    act.a = Pick(true);
    act.b = Pick(true);
    act.which = in_.Byte() % 6;
    if (act.which >= 4) act.c = Pick(true);
    return act;
}

Action Session::DecodeNotify() {
    Action act;
    act.op = Op::Notify;
    act.a = Pick(true);
    act.flag = in_.Bit();
    return act;
}

Action Session::DecodeNew(Op op) {
    Action act;
    act.op = op;
    switch (op) {
        case Op::Two:
            act.a = Pick(true);
            act.b = Pick(true);
            act.c = Pick(true);
            break;
        case Op::Three:
            act.a = Pick(true);
            act.b = Pick(true);
            act.c = Pick(true);
            act.d = Pick(true);
            act.value = in_.Word();
            break;
        case Op::Ex:
            act.a = Pick(true);
            act.b = Pick(true);
            act.flag = in_.Bit();
            act.value = in_.Word();
            break;
        case Op::Many: {
            act.a = Pick(true);
            uint8_t shape = in_.Byte();
            int32_t n = 1 + shape % 5;
            for (int32_t k = 0; k < n; ++k) {
                int layer = Pick(true);
                uint8_t o = in_.Byte();
                uint8_t opacity = (o & 3) == 0 ? 0 : (o & 3) == 1 ? 255 : o;
                act.entries.push_back({layer, opacity});
            }
            uint8_t countKind = (shape >> 3) & 7;
            act.count = countKind == 6 ? 0 : countKind == 7 ? -1 - (shape >> 6) : n;
            act.flag = countKind == 5 && (shape & 0x40) != 0;  // no list
            break;
        }
        case Op::Flip:
            act.a = Pick(true);
            act.flag = in_.Bit();
            break;
        case Op::ClipAlpha: act.a = Pick(true); break;
        default:
            act.a = Pick(true);
            act.b = Pick(true);
            break;
    }
    return act;
}

// ---- the host's own calls ----

int Session::Pick(bool allowNull) {
    std::vector<int> live;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].alive && !nodes_[i].zombie) live.push_back(static_cast<int>(i));
    size_t choice = in_.Below(live.size() + (allowNull ? 1 : 0));
    return choice < live.size() ? live[choice] : -1;
}

void Session::NewHostRoot() {
    static const int32_t kSizes[] = {0, 1, 2, 3, 4, 5, 7, 9, 16, 23, -1, -7, INT_MIN};
    Node n;
    n.kind = Kind::HostRoot;
    n.width = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    n.height = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    uint8_t shape = in_.Byte();
    int32_t w = n.width > 0 ? n.width : 0, h = n.height > 0 ? n.height : 0;
    HostBuffer &b = n.buf;
    b.strideWords = w + (shape & 3);
    if (b.strideWords == 0) b.strideWords = 1;
    b.bottomUp = (shape & 4) != 0;
    b.words = static_cast<size_t>(b.strideWords) * static_cast<size_t>(h);
    b.memory = std::make_unique<GuardedBuffer>(b.words * 4, (shape & 8) != 0);
    b.first = b.memory->data();
    if (b.bottomUp && h > 0) b.first += static_cast<size_t>(b.strideWords) * static_cast<size_t>(h - 1);
    b.rowBytes = (b.bottomUp ? -4 : 4) * b.strideWords;
    uint32_t seed = in_.Word();
    bool extremes = (shape & 32) != 0;  // alphas mostly 0 or 255
    for (size_t i = 0; i < b.words; ++i) {
        uint32_t v = Mix(seed + static_cast<uint32_t>(i));
        if (extremes && (v & 0x300) != 0x300) v = (v & 0x00FFFFFFu) | ((v & 0x100) != 0 ? 0xFF000000u : 0u);
        b.memory->data()[i] = v;
    }
    n.supply = (shape & 16) != 0;  // pixels come from beginAccess
    n.hasPixels = !n.supply;
    n.layer = CreateCompatibleLayer(n.supply ? nullptr : b.first, n.width, n.height, b.rowBytes);
    ZL_FUZZ_CHECK(n.layer != nullptr);
    if (n.supply) {
        n.layer->beginAccess = HookBegin;
        n.hasBegin = true;
    }
    n.root = static_cast<int>(nodes_.size());
    n.bounds = LayerRect{0, 0, n.width, n.height};
    ZL_FUZZ_CHECK(n.layer->pixels == (n.supply ? nullptr : b.first) && n.layer->rowBytes == b.rowBytes);
    nodes_.push_back(std::move(n));
}

void Session::NewLibRoot() {
    static const int32_t kSizes[] = {1, 2, 3, 5, 16, 0, -1, 0x10000, 0x20000000, 0x40000000, INT_MAX, INT_MIN};
    static const int32_t kPlanes[] = {1, 1, 2, 0, -1, 0x40000000};
    int32_t w = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    int32_t h = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    int32_t p = kPlanes[in_.Below(sizeof kPlanes / sizeof kPlanes[0])];
    bool refused = w <= 0 || h <= 0 || p <= 0 || static_cast<uint64_t>(w) * 4 > 0x7FFFFFFFull;
    uint64_t pixels = refused ? 0 : static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    if (!refused && pixels > 0x3FFFFFFFull) refused = true;
    if (!refused) pixels *= static_cast<uint64_t>(p);
    if (!refused && pixels > 0x3FFFFFFFull) refused = true;
    if (!refused && pixels > 4096) return;  // valid but too large to check cheaply
    Layer *layer = CreateLayer(w, h, p);
    if (refused) {
        ZL_FUZZ_CHECK(layer == nullptr);
        return;
    }
    ZL_FUZZ_CHECK(layer != nullptr && layer->rowBytes == w * 4 && layer->flags == static_cast<uint32_t>(LayerOwnsPixels));
    for (uint64_t i = 0; i < pixels; ++i) ZL_FUZZ_CHECK(layer->pixels[i] == 0);
    Node n;
    n.kind = Kind::LibRoot;
    n.layer = layer;
    n.width = w;
    n.height = h;
    n.buf.first = layer->pixels;
    n.buf.words = static_cast<size_t>(w) * static_cast<size_t>(h);
    n.buf.strideWords = w;
    n.buf.rowBytes = w * 4;
    n.hasPixels = true;
    n.root = static_cast<int>(nodes_.size());
    n.bounds = LayerRect{0, 0, w, h};
    nodes_.push_back(std::move(n));
}

void Session::NewView() {
    Node n;
    n.kind = Kind::View;
    n.viewRecord = std::make_unique<Layer>();
    Layer *v = n.viewRecord.get();
    std::memset(v, 0, sizeof *v);
    v->flags = LayerKindView;
    v->refCount = 1;
    v->root = v;
    v->width = v->height = INT_MAX;
    v->bounds = LayerRect{0, 0, INT_MAX, INT_MAX};
    n.layer = v;
    n.bounds = v->bounds;
    n.root = static_cast<int>(nodes_.size());
    n.target = Pick(true);
    n.targetX = v->targetX = in_.Coordinate();
    n.targetY = v->targetY = in_.Coordinate();
    v->target = n.target >= 0 ? nodes_[n.target].layer : nullptr;
    nodes_.push_back(std::move(n));
}

// The model's side of CreateClippedLayer; the caller stores the record.
int AddClippedNode(std::vector<Node> &nodes, int parent, int32_t pw, int32_t ph, const uint32_t *pixels, int32_t rowBytes) {
    Node n;
    n.parent = parent;
    n.root = nodes[parent].root;
    n.clipRect = LayerRect{0, 0, pw, ph};
    n.bounds = nodes[parent].bounds;
    n.pixelsField = pixels;
    n.rowBytesField = rowBytes;
    int idx = static_cast<int>(nodes.size());
    nodes.push_back(std::move(n));
    nodes[parent].children.insert(nodes[parent].children.begin(), idx);
    Node &root = nodes[nodes[idx].root];
    root.refCount = Add(root.refCount, 1);
    return idx;
}

void Session::NewClipped() {
    int parent = Pick(true);
    if (parent < 0) {
        ZL_FUZZ_CHECK(CreateClippedLayer(nullptr) == nullptr);
        return;
    }
    Layer *p = nodes_[parent].layer;
    int32_t pw = p->width, ph = p->height;  // a clipped parent's last visible size
    const uint32_t *pixels = PixelsField(parent);
    int32_t rowBytes = IsRoot(parent) ? nodes_[parent].buf.rowBytes : nodes_[parent].rowBytesField;
    Layer *layer = CreateClippedLayer(p);
    ZL_FUZZ_CHECK(layer != nullptr);
    int idx = AddClippedNode(nodes_, parent, pw, ph, pixels, rowBytes);
    nodes_[idx].layer = layer;
    ZL_FUZZ_CHECK(layer->pixels == p->pixels && layer->rowBytes == p->rowBytes && layer->refCount == 1);
}

// ClipToAlphaLayerEx makes the child itself: the model knows its record only
// once the call returns, and stands a placeholder in for it until then.
void Session::ClipAlphaEx() {
    int parent = Pick(true);
    uint8_t nulls = in_.Byte();
    int32_t out[4] = {-5, -5, -5, -5};
    int32_t *ptr[4];
    for (int k = 0; k < 4; ++k) ptr[k] = (nulls >> k) & 1 ? nullptr : &out[k];
    Snapshot();
    if (parent < 0) {
        ZL_FUZZ_CHECK(ClipToAlphaLayerEx(nullptr, ptr[0], ptr[1], ptr[2], ptr[3]) == nullptr);
        for (int k = 0; k < 4; ++k) ZL_FUZZ_CHECK(out[k] == -5);
        CheckAll();
        return;
    }
    Layer *p = nodes_[parent].layer;
    const uint32_t *pixels = PixelsField(parent);
    int32_t rowBytes = IsRoot(parent) ? nodes_[parent].buf.rowBytes : nodes_[parent].rowBytesField;
    int idx = AddClippedNode(nodes_, parent, p->width, p->height, pixels, rowBytes);
    const void *placeholder = reinterpret_cast<const void *>(static_cast<uintptr_t>(2));
    nodes_[idx].layer = reinterpret_cast<Layer *>(const_cast<void *>(placeholder));
    SimClipAlpha(idx);
    Layer *child = ClipToAlphaLayerEx(p, ptr[0], ptr[1], ptr[2], ptr[3]);
    ZL_FUZZ_CHECK(child != nullptr);
    nodes_[idx].layer = child;
    for (Event &e : expected_) {
        if (e.a == placeholder) e.a = child;
        if (e.b == placeholder) e.b = child;
    }
    const LayerRect &c = nodes_[idx].clipRect;
    int32_t want[4] = {c.left, c.top, Sub(c.right, c.left), Sub(c.bottom, c.top)};
    for (int k = 0; k < 4; ++k) ZL_FUZZ_CHECK(out[k] == (ptr[k] != nullptr ? want[k] : -5));
    CheckAll();
}

void Session::Clip() {
    int i = Pick(true);
    uint8_t how = in_.Byte();
    LayerRect rect;
    int32_t x = in_.Coordinate(), y = in_.Coordinate(), a = in_.Coordinate(), b = in_.Coordinate();
    bool xywh = (how & 1) != 0;
    bool nullRect = !xywh && (how & 6) == 6;
    rect = xywh ? LayerRect{x, y, Add(x, a), Add(y, b)} : LayerRect{x, y, a, b};
    int32_t expected = 0;
    if (i >= 0 && !nullRect && !IsRoot(i)) {
        SimClipRect(i, rect);
        expected = nodes_[i].parent >= 0 ? 1 : 0;
    }
    Layer *layer = i >= 0 ? nodes_[i].layer : nullptr;
    int32_t result = xywh ? ClipLayerXYWH(layer, x, y, a, b) : ClipLayer(layer, nullRect ? nullptr : &rect);
    ZL_FUZZ_CHECK(result == (xywh ? 1 : expected));
}

void Session::AddRef() {
    int i = Pick(true);
    if (i < 0) {
        ZL_FUZZ_CHECK(AddRefCountLayer(nullptr) == 0);
        return;
    }
    Node &n = nodes_[i];
    n.refCount = Add(n.refCount, 1);
    if (n.kind == Kind::Clipped) nodes_[n.root].refCount = Add(nodes_[n.root].refCount, 1);
    ZL_FUZZ_CHECK(AddRefCountLayer(n.layer) == 1);
}

void Session::Delete() {
    int i = Pick(true);
    if (i < 0) {
        ZL_FUZZ_CHECK(DeleteLayer(nullptr) == 0);
        return;
    }
    if (DropsUntaken(i)) return;
    Layer *layer = nodes_[i].layer;
    // The host forgets a layer before it lets it go: views stop showing it.
    std::vector<int> freeing;
    if (nodes_[i].refCount == 1) freeing.push_back(i);
    if (nodes_[i].kind == Kind::Clipped && nodes_[nodes_[i].root].refCount == 1) freeing.push_back(nodes_[i].root);
    for (Node &v : nodes_)
        for (int f : freeing)
            if (v.alive && v.kind == Kind::View && v.target == f) {
                v.target = -1;
                v.layer->target = nullptr;
            }
    Snapshot();
    if (trace_) std::fprintf(stderr, "  delete node %d kind %d ref %d root %d\n", i, static_cast<int>(nodes_[i].kind), nodes_[i].refCount, nodes_[i].root);
    int expected = SimDelete(i);
    ZL_FUZZ_CHECK(DeleteLayer(layer) == expected);
    CheckAll();
}

void Session::UnionRect() {
    int a = Pick(true), b = Pick(true);
    bool nullOut = in_.Byte() == 0;
    LayerRect out{111, 222, 333, 444};
    int32_t result = GetUnionRectRef(a >= 0 ? nodes_[a].layer : nullptr, b >= 0 ? nodes_[b].layer : nullptr,
                                     nullOut ? nullptr : &out);
    if (nullOut || a < 0 || b < 0 || nodes_[a].root != nodes_[b].root) {
        ZL_FUZZ_CHECK(result == 0);
        ZL_FUZZ_CHECK(SameRect(out, LayerRect{111, 222, 333, 444}));
        return;
    }
    LayerRect e = Intersect(nodes_[a].bounds, nodes_[b].bounds);
    e = LayerRect{Sub(e.left, nodes_[a].bounds.left), Sub(e.top, nodes_[a].bounds.top), Sub(e.right, nodes_[a].bounds.left),
                  Sub(e.bottom, nodes_[a].bounds.top)};
    ZL_FUZZ_CHECK(result == 1 && SameRect(out, e));
}

// The host opens an access of its own, checks what it was handed and writes
// the region through it; the access stays open over later calls.
void Session::Open() {
    if (open_.size() >= 4) return;
    int a = Pick(true);
    int b = in_.Bit() ? Pick(true) : -1;
    Snapshot();
    auto o = std::make_unique<OpenAccess>();
    o->sim = SimBegin(a, b, false);
    // The library keeps these from the moment the access names them.
    int named[4] = {a, a >= 0 ? nodes_[a].root : -1, a >= 0 ? b : -1, a >= 0 && b >= 0 ? nodes_[b].root : -1};
    std::memcpy(o->named, named, sizeof named);
    int32_t result = BeginLayerAccess(&o->record, a >= 0 ? nodes_[a].layer : nullptr, b >= 0 ? nodes_[b].layer : nullptr);
    ZL_FUZZ_CHECK(result == (o->sim.opened ? 1 : 0));
    const LayerAccess &r = o->record;
    if (a >= 0 && o->sim.opened) {
        ZL_FUZZ_CHECK((r.layer != nodes_[a].layer) == o->sim.firstTemp);
        ZL_FUZZ_CHECK(SameRect(r.region, o->sim.region));
        ZL_FUZZ_CHECK(r.width == o->sim.Width());
        ZL_FUZZ_CHECK(r.height == o->sim.Height());
        const Node &root = nodes_[o->sim.p1.pixelRoot];
        ZL_FUZZ_CHECK(r.rowBytes == root.buf.rowBytes);
        ZL_FUZZ_CHECK(r.pixels == Address(root, Add(o->sim.p1.x, o->sim.region.left), Add(o->sim.p1.y, o->sim.region.top)));
        ZL_FUZZ_CHECK((r.pixels2 != nullptr) == o->sim.usable);
        if (o->sim.usable) {
            const Node &root2 = nodes_[o->sim.p2.pixelRoot];
            ZL_FUZZ_CHECK(r.rowBytes2 == root2.buf.rowBytes);
            ZL_FUZZ_CHECK(r.pixels2 == Address(root2, Add(o->sim.p2.x, o->sim.region.left), Add(o->sim.p2.y, o->sim.region.top)));
        }
        // Every row handed out lies in the memory behind the root.
        for (int32_t y = 0; y < r.height; ++y) {
            const uint32_t *row = reinterpret_cast<const uint32_t *>(reinterpret_cast<uintptr_t>(r.pixels) +
                                                                     static_cast<uintptr_t>(static_cast<intptr_t>(r.rowBytes) * y));
            if (root.buf.memory != nullptr) ZL_FUZZ_CHECK(root.buf.memory->Contains(row, static_cast<size_t>(r.width) * 4));
            for (int32_t x = 0; x < r.width; ++x) const_cast<uint32_t *>(row)[x] = 0xA5000000u | static_cast<uint32_t>(x + y);
        }
        AllowFirst(o->sim);
    }
    if (b >= 0 && o->sim.secondCounted) ZL_FUZZ_CHECK((r.layer2 != nodes_[b].layer) == o->sim.secondTemp);
    open_.push_back(std::move(o));
    CheckAll();
}

void Session::Close() {
    if (open_.empty()) {
        ZL_FUZZ_CHECK(EndLayerAccess(nullptr) == 0);
        return;
    }
    size_t k = in_.Below(open_.size());
    std::unique_ptr<OpenAccess> o = std::move(open_[k]);
    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(k));
    Snapshot();
    bool expected = SimClose(*o);
    ZL_FUZZ_CHECK(EndLayerAccess(&o->record) == (expected ? 1 : 0));
    CheckAll();
}

// The host installs or removes its procedures by writing the fields.
void Session::Configure() {
    int i = Pick(false);
    if (i < 0) return;
    Node &n = nodes_[i];
    Layer *l = n.layer;
    uint8_t what = in_.Byte();
    int32_t result = static_cast<int32_t>(in_.Byte() % 3);  // 0, 1 or 2
    bool on = (what & 8) != 0;
    switch (what % 8) {
        case 0:
            if (!IsRoot(i) || n.supply || n.moving) break;
            n.hasBegin = on;
            l->beginAccess = on ? HookBegin : nullptr;
            break;
        case 1:
            if (!IsRoot(i)) break;
            n.hasEnd = on;
            n.endResult = result;
            l->endAccess = on ? HookEnd : nullptr;
            break;
        case 2:
            n.hasDestroy = on;
            l->destroy = on ? HookDestroy : nullptr;
            break;
        case 3:
        case 4: {
            if (!IsRoot(i)) break;
            if (!on) {
                n.overrides.reset();
                l->overrides = nullptr;
                break;
            }
            auto o = std::make_unique<HostOverrides>();
            std::memset(o.get(), 0, sizeof *o);
            uint8_t entries = in_.Byte();
            if (entries & 1) o->table.clearLayer = OverrideClear;
            if (entries & 2) o->table.setLayer = OverrideSet;
            if (entries & 4) o->table.copyLayer = OverrideCopy;
            for (int k = 0; k < 3; ++k) o->result[k] = (entries >> (3 + k)) & 1;
            l->overrides = &o->table;
            n.overrides = std::move(o);
            break;
        }
        case 5:
        case 6: {
            std::unique_ptr<HostNotifier> &slot = what % 8 == 5 ? n.refresh : n.update;
            LayerNotifier *&field = what % 8 == 5 ? l->refreshNotifier : l->updateNotifier;
            if (!on) {
                slot.reset();
                field = nullptr;
                break;
            }
            slot = std::make_unique<HostNotifier>();
            slot->base.notify = result == 2 ? nullptr : Receive;
            slot->result = result;
            slot->action = -1;
            field = &slot->base;
            break;
        }
        default:
            if (n.kind != Kind::View) break;
            n.target = Pick(true);
            n.targetX = l->targetX = in_.Coordinate();
            n.targetY = l->targetY = in_.Coordinate();
            l->target = n.target >= 0 ? nodes_[n.target].layer : nullptr;
            break;
    }
}

// Gives a layer a receiver that makes a library call of its own when it is
// reached.
void Session::ConfigureReceiverCall() {
    int i = Pick(false);
    if (i < 0 || actions_.size() >= 32) return;
    bool refresh = in_.Bit();
    static const Op kOps[] = {Op::Fill, Op::Copy, Op::Composite, Op::Notify, Op::Two, Op::Three,
                              Op::Ex, Op::Many, Op::Flip, Op::Resize, Op::ResizeCorrect};
    Op op = kOps[in_.Below(sizeof kOps / sizeof kOps[0])];
    Action act = op == Op::Fill ? DecodeFill() : op == Op::Copy ? DecodeCopy() : op == Op::Composite ? DecodeComposite()
                 : op == Op::Notify ? DecodeNotify() : DecodeNew(op);
    std::unique_ptr<HostNotifier> &slot = refresh ? nodes_[i].refresh : nodes_[i].update;
    if (slot == nullptr) {
        slot = std::make_unique<HostNotifier>();
        slot->result = 1;
        (refresh ? nodes_[i].layer->refreshNotifier : nodes_[i].layer->updateNotifier) = &slot->base;
    }
    slot->base.notify = Receive;
    slot->action = static_cast<int>(actions_.size());
    actions_.push_back(std::move(act));
}

// A host root whose beginAccess moves its pixels to a second buffer of
// another stride (and perhaps the other row order), and back at the next.
// With freesOld, every move goes to a fresh buffer in the other layout and
// the host frees the one it left.
void Session::MakeMoving() {
    int i = Pick(false);
    uint8_t shape = in_.Byte();
    if (i < 0) return;
    Node &n = nodes_[i];
    if (n.kind != Kind::HostRoot || n.supply || n.moving || n.width <= 0 || n.height <= 0) return;
    n.alt = AllocateBuffer(n.width + 1 + (shape & 3), n.height, (shape & 4) != 0, (shape & 8) != 0);
    HostBuffer &b = n.alt;
    for (size_t k = 0; k < b.words; ++k) b.memory->data()[k] = Mix(0x5eed0000u + static_cast<uint32_t>(k));
    n.freesOld = (shape & 16) != 0;
    if (n.freesOld) {
        b.memory.reset();
        b.first = nullptr;
    }
    n.moving = true;
    n.hasBegin = true;
    n.layer->beginAccess = HookBegin;
}

void Session::Step() {
    uint8_t op = in_.Byte();
    bool full = nodes_.size() >= kMaxNodes;
    if (op >= 208) {
        if (trace_) std::fprintf(stderr, "op new %d\n", (op - 208) % 12);
        switch ((op - 208) % 12) {
            case 0: RunTop(DecodeNew(Op::Two)); break;
            case 1: RunTop(DecodeNew(Op::Three)); break;
            case 2: RunTop(DecodeNew(Op::Ex)); break;
            case 3: RunTop(DecodeNew(Op::Many)); break;
            case 4: RunTop(DecodeNew(Op::Flip)); break;
            case 5: RunTop(DecodeNew(Op::ClipAlpha)); break;
            case 6: if (!full) ClipAlphaEx(); break;
            case 7: RunTop(DecodeNew(Op::Resize)); break;
            case 8: RunTop(DecodeNew(Op::ResizeCorrect)); break;
            case 9: MakeMoving(); break;
            default: ConfigureReceiverCall(); break;
        }
        return;
    }
    if (trace_) std::fprintf(stderr, "op %d\n", op % 16);
    switch (op % 16) {
        case 0: if (!full) NewHostRoot(); break;
        case 1: if (!full) NewLibRoot(); break;
        case 2: if (!full) NewView(); break;
        case 3: if (!full) NewClipped(); break;
        case 4: Clip(); break;
        case 5: AddRef(); break;
        case 6: Delete(); break;
        case 7: UnionRect(); break;
        case 8: Open(); break;
        case 9: Close(); break;
        case 10: RunTop(DecodeFill()); break;
        case 11: RunTop(DecodeCopy()); break;
        case 12: case 13: RunTop(DecodeComposite()); break;
        case 14: RunTop(DecodeNotify()); break;
        default: Configure(); break;
    }
}

// Closes the host's accesses, then drops every reference the sequence left:
// each record must be freed exactly once, the roots last.
void Session::Finish() {
    while (!open_.empty()) {
        std::unique_ptr<OpenAccess> o = std::move(open_.back());
        open_.pop_back();
        Snapshot();
        if (trace_)
            std::fprintf(stderr, "  close %d%s %d%s counted %d opened %d\n", o->sim.first, o->sim.firstTemp ? "t" : "", o->sim.second,
                         o->sim.secondTemp ? "t" : "", o->sim.secondCounted, o->sim.opened);
        bool expected = SimClose(*o);
        int32_t closed = EndLayerAccess(&o->record);
        if (trace_) std::fprintf(stderr, "  closed %d expected %d\n", closed, expected);
        ZL_FUZZ_CHECK(closed == (expected ? 1 : 0));
        CheckAll();
    }
    for (const Node &n : nodes_) {
        ZL_FUZZ_CHECK(!n.zombie);
        if (n.alive && IsRoot(static_cast<int>(&n - nodes_.data()))) ZL_FUZZ_CHECK(n.layer->accessCount == 0);
    }
    for (Node &v : nodes_)
        if (v.alive && v.kind == Kind::View) {
            v.target = -1;
            v.layer->target = nullptr;
        }
    for (size_t k = nodes_.size(); k-- > 0;) {
        int i = static_cast<int>(k);
        while (nodes_[i].alive && !(nodes_[i].kind == Kind::View && nodes_[i].refCount == 1)) {
            Snapshot();
            int expected = SimDelete(i);
            ZL_FUZZ_CHECK(DeleteLayer(nodes_[i].layer) == expected);
            CheckEvents();
        }
    }
    for (const Node &n : nodes_) {
        if (n.kind == Kind::View) {
            ZL_FUZZ_CHECK(n.layer->refCount == 1 && n.layer->firstChild == nullptr);
        } else {
            ZL_FUZZ_CHECK(!n.alive);
        }
    }
}

void Session::Run() {
    nodes_.reserve(kMaxNodes + 1);
    for (int steps = 0; steps < 200 && !in_.Empty(); ++steps) Step();
    Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    Session session(in);
    session.Run();
    return 0;
}
