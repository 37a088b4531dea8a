// Fuzz target: layer trees and the pixel operations on them.
//
// Each input decodes to a sequence of calls on roots over guarded host memory
// (padded, bottom-up, tiny, zero-sized, or supplied late by beginAccess),
// library-owned roots, host-made view roots with and without targets, and
// clipped windows nested and moved anywhere. Host hooks and overrides log
// every call and return what the input chose. After every call a model of the
// host's own checks the library: tree shape and links, reference and access
// counts, the hooks and overrides called and their order, the results, and
// that no pixel outside the written layer's visible part changed (plus the
// exact values of fills). At the end every access is closed, every access
// count must be 0, and every reference the sequence left is dropped, which
// must free every record once.
//
// Set ZL_FUZZ_TRACE to have the decoded calls printed.
//
// Host misuse that the library cannot detect is not generated:
// - using a layer after its last DeleteLayer, dropping more references than
//   it took (a root's own), or freeing a layer that an open
//   access or a view's target still names (the host clears the target first);
// - DeleteLayer on a view root's record, which the host owns;
// - hooks, overrides or receivers that call back into the library;
// - a row stride that is not a multiple of 4, or a size larger than the
//   memory behind the pixels;
// - a beginAccess that moves a buffer that is already in use.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ZantrelLayer.h"
#include "fuzz_support.h"

namespace {

using zlfuzz::FuzzInput;
using zlfuzz::GuardedBuffer;

int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
int32_t Sub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
bool Proper(const LayerRect &r) { return r.right > r.left && r.bottom > r.top; }
LayerRect Intersect(const LayerRect &a, const LayerRect &b) {
    return LayerRect{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                     a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}
bool SameRect(const LayerRect &a, const LayerRect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
bool RectHas(const LayerRect &r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

enum class Kind { HostRoot, LibRoot, View, Clipped };

enum class Ev { Begin, End, Destroy, Clear, Set, Copy, Notify };
struct Event {
    Ev type;
    const void *a;
    const void *b;
    uint32_t value;
    bool operator==(const Event &o) const { return type == o.type && a == o.a && b == o.b && value == o.value; }
};

// Host records reached from layers; the library's part comes first.
struct HostOverrides {
    LayerOverrides table;
    int32_t result[3];  // clear, set, copy
};
struct HostNotifier {
    LayerNotifier base;
    int32_t result;
};

struct Node {
    Layer *layer = nullptr;
    bool alive = true;
    Kind kind = Kind::Clipped;
    int parent = -1;
    int root = -1;
    std::vector<int> children;  // newest first
    int32_t refCount = 1;
    LayerRect clipRect{0, 0, 0, 0};
    LayerRect bounds{0, 0, 0, 0};
    // Roots.
    int32_t accessCount = 0;
    int32_t width = 0, height = 0, rowBytes = 0;
    std::unique_ptr<GuardedBuffer> buffer;
    uint32_t *first = nullptr;  // pixel (0, 0) once supplied
    size_t words = 0;           // words behind `first`'s buffer
    int32_t strideWords = 0;
    bool bottomUp = false;
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
    LayerRect changeable{0, 0, 0, 0};  // in pixelRoot's coordinates
};

struct SimAccess {
    int first = -1, second = -1;
    bool firstCounted = false, secondCounted = false;
    bool opened = false, usable = false;
    bool firstTemp = false, secondTemp = false;
    Placement p1, p2;
    LayerRect region{0, 0, 0, 0};
};

struct OpenAccess {
    LayerAccess record;
    SimAccess sim;
};

class Session;
Session *current = nullptr;

class Session {
public:
    explicit Session(FuzzInput &in) : in_(in), trace_(std::getenv("ZL_FUZZ_TRACE") != nullptr) { current = this; }
    ~Session() { current = nullptr; }
    void Run();

    // Hook side.
    bool CopyOverrideCalled() const {
        for (const Event &e : log_)
            if (e.type == Ev::Copy) return true;
        return false;
    }
    void Log(Ev type, const void *a, const void *b, uint32_t value) { log_.push_back(Event{type, a, b, value}); }
    Node *Find(const Layer *layer) {
        for (Node &n : nodes_)
            if (n.alive && n.layer == layer) return &n;
        return nullptr;
    }

private:
    static constexpr size_t kMaxNodes = 24;

    FuzzInput &in_;
    bool trace_;
    std::vector<Node> nodes_;
    std::vector<Event> log_, expected_;
    std::vector<std::unique_ptr<OpenAccess>> open_;
    std::vector<std::vector<uint32_t>> snapshot_;
    std::vector<std::pair<int, LayerRect>> allowed_;

    int Pick(bool allowNull);
    void Step();
    void Expect(Ev type, const void *a, const void *b, uint32_t value) { expected_.push_back(Event{type, a, b, value}); }

    // Model.
    bool IsRoot(int i) const { return nodes_[i].kind != Kind::Clipped; }
    void PlaceInParent(int i);
    void PlaceDescendants(int i);
    void Visible(int i, LayerRect &rect, LayerRect &bounds) const;
    Placement Place(int i) const;
    void Count(int root);
    bool Release(int layer, const void *endLayer);
    SimAccess SimBegin(int a, int b);
    bool SimEnd(const SimAccess &s);
    void AllowWrite(int i);
    bool SimCopy(int d, int s);
    int SimDelete(int i);
    bool WouldFreeInUse(int i) const;

    // Checks.
    void Snapshot();
    void CheckAll();
    void CheckEvents();
    void CheckTree();
    void CheckPixels();
    void CheckFilled(const SimAccess &s, uint32_t value, uint32_t mask);
    uint32_t *Address(const Node &root, int32_t x, int32_t y) const;
    int TempsOn(int root) const;

    // Operations.
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
    void Fill();
    void Copy();
    void Composite();
    void Notify();
    void Configure();
    void Finish();
};

int32_t ZL_CALL HookBegin(Layer *root, void *unused) {
    current->Log(Ev::Begin, root, unused, 0);
    Node *n = current->Find(root);
    if (n != nullptr && n->supply) root->pixels = n->first;
    return 0;
}
int32_t ZL_CALL HookEnd(Layer *root, Layer *layer) {
    current->Log(Ev::End, root, layer, 0);
    Node *n = current->Find(root);
    return n != nullptr ? n->endResult : 1;
}
int32_t ZL_CALL HookDestroy(Layer *layer, void *unused) {
    current->Log(Ev::Destroy, layer, unused, 0);
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
    // Tried on the destination's root first, then on the source's: the
    // second call of one copy answers from the source root's table.
    bool second = current->CopyOverrideCalled();
    current->Log(Ev::Copy, destination, source, 0);
    const HostOverrides *o = OverridesOf(destination);
    if (second || o == nullptr || o->table.copyLayer == nullptr) o = OverridesOf(source);
    return o->result[2];
}
int32_t ZL_CALL Receive(Layer *layer, LayerNotifier *notifier) {
    current->Log(Ev::Notify, layer, notifier, 0);
    return reinterpret_cast<HostNotifier *>(notifier)->result;
}

// ---- model ----

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
        p.changeable = p.visibleBounds;
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
    // Whatever the view shows lies in the target's visible part.
    p.changeable = tBounds;
    p.resolved = nodes_[t.root].kind != Kind::View && nodes_[t.root].hasPixels;
    return p;
}

void Session::Count(int r) {
    Node &root = nodes_[r];
    if (root.accessCount == 0 && root.hasBegin) {
        Expect(Ev::Begin, root.layer, nullptr, 0);
        if (root.supply) root.hasPixels = true;
    }
    root.accessCount = Add(root.accessCount, 1);
}

SimAccess Session::SimBegin(int a, int b) {
    SimAccess s;
    s.first = a;
    if (a < 0) return s;
    Count(nodes_[a].root);
    s.firstCounted = true;
    s.p1 = Place(a);
    if (!s.p1.resolved) return s;
    s.firstTemp = IsRoot(a);
    if (!Proper(s.p1.visibleRect) || !Proper(s.p1.visibleBounds)) return s;
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
    return s;
}

bool Session::Release(int i, const void *endLayer) {
    Node &root = nodes_[nodes_[i].root];
    if (root.accessCount == 0) return true;
    root.accessCount = Sub(root.accessCount, 1);
    if (root.accessCount == 0 && root.hasEnd) {
        Expect(Ev::End, root.layer, endLayer, 0);
        return root.endResult != 0;
    }
    return true;
}

bool Session::SimEnd(const SimAccess &s) {
    if (s.first < 0) return false;
    bool ok = Release(s.first, nodes_[s.first].layer);
    if (s.secondCounted) ok = Release(s.second, nodes_[s.second].layer) && ok;
    return ok;
}

void Session::AllowWrite(int i) {
    Placement p = Place(i);
    if (p.pixelRoot >= 0) allowed_.push_back({p.pixelRoot, p.changeable});
}

bool Session::SimCopy(int d, int s) {
    if (d < 0) return false;
    const HostOverrides *od = nodes_[nodes_[d].root].overrides.get();
    if (od != nullptr && od->table.copyLayer != nullptr) {
        Expect(Ev::Copy, nodes_[d].layer, s >= 0 ? nodes_[s].layer : nullptr, 0);
        if (od->result[2] != 0) return true;
    }
    if (s < 0) return false;
    const HostOverrides *os = nodes_[nodes_[s].root].overrides.get();
    if (os != nullptr && os->table.copyLayer != nullptr) {
        Expect(Ev::Copy, nodes_[d].layer, nodes_[s].layer, 0);
        if (os->result[2] != 0) return true;
    }
    SimAccess a = SimBegin(d, s);
    if (a.opened && a.usable) AllowWrite(d);
    SimEnd(a);
    return true;
}

// Drops one reference in the model; returns 1 when the record is freed.
int Session::SimDelete(int i) {
    Node &n = nodes_[i];
    int held = n.kind == Kind::Clipped ? n.root : -1;
    n.refCount = Sub(n.refCount, 1);
    int freed = 0;
    if (n.refCount == 0) {
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
        freed = 1;
    }
    if (held >= 0) SimDelete(held);
    return freed;
}

bool Session::WouldFreeInUse(int i) const {
    const Node &n = nodes_[i];
    if (IsRoot(i)) {
        // The host drops only references it took: a root's count less those
        // its clipped layers hold. It keeps one on a view record it owns.
        int32_t held = 0;
        for (const Node &c : nodes_)
            if (c.alive && c.kind == Kind::Clipped && c.root == i) held = Add(held, c.refCount);
        if (Sub(n.refCount, held) <= (n.kind == Kind::View ? 1 : 0)) return true;
    }
    std::vector<int> freed;
    if (n.refCount == 1) freed.push_back(i);
    if (n.kind == Kind::Clipped && nodes_[n.root].refCount == 1) freed.push_back(n.root);
    for (int f : freed) {
        if (IsRoot(f) && nodes_[f].accessCount != 0) return true;
        for (const auto &o : open_)
            if (o->sim.first == f || o->sim.second == f) return true;
    }
    return false;
}

// ---- checks ----

uint32_t *Session::Address(const Node &root, int32_t x, int32_t y) const {
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uintptr_t>(root.first) +
                                        static_cast<uintptr_t>(static_cast<intptr_t>(root.rowBytes) * y) +
                                        static_cast<uintptr_t>(x) * 4u);
}

void Session::Snapshot() {
    snapshot_.assign(nodes_.size(), {});
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const Node &n = nodes_[i];
        if (!n.alive || n.buffer == nullptr) continue;
        snapshot_[i].assign(n.buffer->data(), n.buffer->data() + n.words);
    }
    allowed_.clear();
    log_.clear();
    expected_.clear();
}

void Session::CheckEvents() {
    ZL_FUZZ_CHECK(log_.size() == expected_.size());
    for (size_t i = 0; i < log_.size(); ++i) ZL_FUZZ_CHECK(log_[i] == expected_[i]);
}

// Every word of every host buffer, padding included, is unchanged unless it
// lies in a part of the root that the call may write.
void Session::CheckPixels() {
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const Node &n = nodes_[i];
        if (!n.alive || n.buffer == nullptr || snapshot_[i].size() != n.words) continue;
        const uint32_t *now = n.buffer->data();
        for (size_t w = 0; w < n.words; ++w) {
            if (now[w] == snapshot_[i][w]) continue;
            int32_t row = static_cast<int32_t>(w / static_cast<size_t>(n.strideWords));
            int32_t x = static_cast<int32_t>(w % static_cast<size_t>(n.strideWords));
            int32_t y = n.bottomUp ? n.height - 1 - row : row;
            bool ok = x < n.width;
            if (ok) {
                ok = false;
                for (const auto &a : allowed_)
                    if (a.first == static_cast<int>(i) && RectHas(a.second, x, y)) ok = true;
            }
            if (!ok && trace_) {
                std::fprintf(stderr, "  pixel (%d, %d) of node %zu changed; may change:", x, y, i);
                for (const auto &a : allowed_)
                    std::fprintf(stderr, " node %d (%d, %d, %d, %d)", a.first, a.second.left, a.second.top, a.second.right, a.second.bottom);
                std::fprintf(stderr, "\n");
            }
            ZL_FUZZ_CHECK(ok);
        }
    }
}

void Session::CheckFilled(const SimAccess &s, uint32_t value, uint32_t mask) {
    if (!s.opened || nodes_[nodes_[s.first].root].kind == Kind::View) return;
    const Node &root = nodes_[s.p1.pixelRoot];
    if (root.buffer == nullptr) return;
    for (int32_t y = s.region.top; y < s.region.bottom; ++y)
        for (int32_t x = s.region.left; x < s.region.right; ++x) {
            uint32_t *p = Address(root, Add(s.p1.x, x), Add(s.p1.y, y));
            ZL_FUZZ_CHECK((*p & mask) == (value & mask));
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
        } else {
            ZL_FUZZ_CHECK(SameRect(l->clipRect, n.clipRect));
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

// ---- operations ----

int Session::Pick(bool allowNull) {
    std::vector<int> live;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].alive) live.push_back(static_cast<int>(i));
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
    n.strideWords = w + (shape & 3);
    if (n.strideWords == 0) n.strideWords = 1;
    n.bottomUp = (shape & 4) != 0;
    n.words = static_cast<size_t>(n.strideWords) * static_cast<size_t>(h);
    n.buffer = std::make_unique<GuardedBuffer>(n.words * 4, (shape & 8) != 0);
    n.first = n.buffer->data();
    if (n.bottomUp && h > 0) n.first += static_cast<size_t>(n.strideWords) * static_cast<size_t>(h - 1);
    n.rowBytes = (n.bottomUp ? -4 : 4) * n.strideWords;
    uint32_t seed = in_.Word();
    for (size_t i = 0; i < n.words; ++i) n.buffer->data()[i] = Mix(seed + static_cast<uint32_t>(i));
    n.supply = (shape & 16) != 0;  // pixels come from beginAccess
    n.hasPixels = !n.supply;
    n.layer = CreateCompatibleLayer(n.supply ? nullptr : n.first, n.width, n.height, n.rowBytes);
    ZL_FUZZ_CHECK(n.layer != nullptr);
    if (n.supply) {
        n.layer->beginAccess = HookBegin;
        n.hasBegin = true;
    }
    n.root = static_cast<int>(nodes_.size());
    n.bounds = LayerRect{0, 0, n.width, n.height};
    ZL_FUZZ_CHECK(n.layer->pixels == (n.supply ? nullptr : n.first) && n.layer->rowBytes == n.rowBytes);
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
    n.rowBytes = w * 4;
    n.first = layer->pixels;
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

void Session::NewClipped() {
    int parent = Pick(true);
    if (parent < 0) {
        ZL_FUZZ_CHECK(CreateClippedLayer(nullptr) == nullptr);
        return;
    }
    Layer *p = nodes_[parent].layer;
    int32_t pw = p->width, ph = p->height;  // a clipped parent's last visible size
    Layer *layer = CreateClippedLayer(p);
    ZL_FUZZ_CHECK(layer != nullptr);
    Node n;
    n.layer = layer;
    n.parent = parent;
    n.root = nodes_[parent].root;
    n.clipRect = LayerRect{0, 0, pw, ph};
    n.bounds = nodes_[parent].bounds;
    int idx = static_cast<int>(nodes_.size());
    nodes_.push_back(std::move(n));
    nodes_[parent].children.insert(nodes_[parent].children.begin(), idx);
    Node &root = nodes_[nodes_[idx].root];
    root.refCount = Add(root.refCount, 1);
    ZL_FUZZ_CHECK(layer->pixels == p->pixels && layer->rowBytes == p->rowBytes && layer->refCount == 1);
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
        Node &n = nodes_[i];
        n.clipRect = rect;
        if (n.parent >= 0) {
            PlaceInParent(i);
            PlaceDescendants(i);
            expected = 1;
        }
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
    if (WouldFreeInUse(i)) return;
    Layer *layer = nodes_[i].layer;
    // The host forgets a layer before freeing it: views stop showing it.
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
    o->sim = SimBegin(a, b);
    int32_t result = BeginLayerAccess(&o->record, a >= 0 ? nodes_[a].layer : nullptr, b >= 0 ? nodes_[b].layer : nullptr);
    ZL_FUZZ_CHECK(result == (o->sim.opened ? 1 : 0));
    const LayerAccess &r = o->record;
    if (a >= 0 && o->sim.opened) {
        ZL_FUZZ_CHECK((r.layer != nodes_[a].layer) == o->sim.firstTemp);
        ZL_FUZZ_CHECK(SameRect(r.region, o->sim.region));
        ZL_FUZZ_CHECK(r.width == Sub(o->sim.region.right, o->sim.region.left));
        ZL_FUZZ_CHECK(r.height == Sub(o->sim.region.bottom, o->sim.region.top));
        const Node &root = nodes_[o->sim.p1.pixelRoot];
        ZL_FUZZ_CHECK(r.pixels == Address(root, Add(o->sim.p1.x, o->sim.region.left), Add(o->sim.p1.y, o->sim.region.top)));
        ZL_FUZZ_CHECK((r.pixels2 != nullptr) == o->sim.usable);
        if (o->sim.usable) {
            const Node &root2 = nodes_[o->sim.p2.pixelRoot];
            ZL_FUZZ_CHECK(r.pixels2 == Address(root2, Add(o->sim.p2.x, o->sim.region.left), Add(o->sim.p2.y, o->sim.region.top)));
        }
        // Every row handed out lies in the memory behind the root.
        for (int32_t y = 0; y < r.height; ++y) {
            const uint32_t *row = reinterpret_cast<const uint32_t *>(reinterpret_cast<uintptr_t>(r.pixels) +
                                                                     static_cast<uintptr_t>(static_cast<intptr_t>(r.rowBytes) * y));
            if (root.buffer != nullptr) ZL_FUZZ_CHECK(root.buffer->Contains(row, static_cast<size_t>(r.width) * 4));
            for (int32_t x = 0; x < r.width; ++x) const_cast<uint32_t *>(row)[x] = 0xA5000000u | static_cast<uint32_t>(x + y);
        }
        AllowWrite(a);
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
    bool expected = SimEnd(o->sim);
    ZL_FUZZ_CHECK(EndLayerAccess(&o->record) == (expected ? 1 : 0));
    CheckAll();
}

void Session::Fill() {
    int i = Pick(true);
    uint8_t which = in_.Byte() % 3;
    uint32_t value = in_.Word();
    Layer *layer = i >= 0 ? nodes_[i].layer : nullptr;
    Snapshot();
    int32_t expected = 1;
    bool took = false;
    if (which < 2) {
        if (i < 0) {
            expected = 0;
            took = true;
        } else {
            const HostOverrides *o = nodes_[nodes_[i].root].overrides.get();
            bool has = o != nullptr && (which == 0 ? o->table.clearLayer != nullptr : o->table.setLayer != nullptr);
            if (has) {
                Expect(which == 0 ? Ev::Clear : Ev::Set, layer, nullptr, which == 0 ? 0 : value);
                took = o->result[which] != 0;
            }
        }
    }
    SimAccess s;
    if (!took) {
        s = SimBegin(i, -1);
        if (s.opened) AllowWrite(i);
        SimEnd(s);
    }
    int32_t result = which == 0 ? ClearLayer(layer) : which == 1 ? SetLayer(layer, value) : SetAlphaLayer(layer, static_cast<int32_t>(value));
    ZL_FUZZ_CHECK(result == expected);
    CheckAll();
    if (!took) {
        if (which == 0) CheckFilled(s, 0, 0xFFFFFFFFu);
        if (which == 1) CheckFilled(s, value, 0xFFFFFFFFu);
        if (which == 2) CheckFilled(s, value << 24, 0xFF000000u);
    }
}

void Session::Copy() {
    int d = Pick(true), s = Pick(true);
    bool opacity = in_.Bit();
    int32_t o = static_cast<int32_t>(in_.Word());
    Layer *dl = d >= 0 ? nodes_[d].layer : nullptr, *sl = s >= 0 ? nodes_[s].layer : nullptr;
    Snapshot();
    int32_t expected = 1;
    if (opacity) {
        SimAccess a = SimBegin(d, s);
        if (a.opened && a.usable) AllowWrite(d);
        SimEnd(a);
    } else {
        expected = SimCopy(d, s) ? 1 : 0;
    }
    ZL_FUZZ_CHECK((opacity ? CopyWithOpacityLayer(dl, sl, o) : CopyLayer(dl, sl)) == expected);
    CheckAll();
}

void Session::Composite() {
    int t = Pick(true), b = Pick(true);
    uint8_t which = in_.Byte() % 6;
    Layer *tl = t >= 0 ? nodes_[t].layer : nullptr, *bl = b >= 0 ? nodes_[b].layer : nullptr;
    Snapshot();
    int32_t result = 0;
    if (which < 4) {
        SimAccess a = SimBegin(t, b);
        if (a.opened && a.usable) AllowWrite(which % 2 == 0 ? t : b);
        SimEnd(a);
        switch (which) {
            case 0: result = CompositOnTopLayer(tl, bl); break;
            case 1: result = CompositOnBottomLayer(tl, bl); break;
            case 2: result = CompositOnTopLayerCorrect(tl, bl); break;
            default: result = CompositOnBottomLayerCorrect(tl, bl); break;
        }
    } else {
        int out = Pick(true);
        Layer *ol = out >= 0 ? nodes_[out].layer : nullptr;
        SimAccess withTop = SimBegin(out, t);
        if (withTop.opened) {
            SimAccess withBottom = SimBegin(out, b);
            if (withBottom.opened) {
                if (!withTop.usable) {
                    if (b >= 0) SimCopy(out, b);
                } else if (!withBottom.usable) {
                    if (t >= 0) SimCopy(out, t);
                } else {
                    AllowWrite(out);
                }
            }
            SimEnd(withBottom);
        }
        SimEnd(withTop);
        result = which == 4 ? CompositOnOutputLayer(tl, bl, ol) : CompositOnOutputLayerCorrect(tl, bl, ol);
    }
    ZL_FUZZ_CHECK(result == 1);
    CheckAll();
}

void Session::Notify() {
    int i = Pick(true);
    bool refresh = in_.Bit();
    Layer *layer = i >= 0 ? nodes_[i].layer : nullptr;
    Snapshot();
    int32_t expected = 0;
    for (int h = i; h >= 0; h = nodes_[h].parent) {
        const HostNotifier *n = refresh ? nodes_[h].refresh.get() : nodes_[h].update.get();
        if (n == nullptr) continue;
        if (n->base.notify == nullptr) {
            expected = 1;
        } else {
            Expect(Ev::Notify, layer, n, 0);
            expected = n->result != 0 ? 1 : 0;
        }
        break;
    }
    ZL_FUZZ_CHECK((refresh ? RefreshLayerEx(layer) : UpdateLayerEx(layer)) == expected);
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
            if (!IsRoot(i) || n.supply) break;
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

void Session::Step() {
    uint8_t op = in_.Byte();
    if (trace_) std::fprintf(stderr, "op %d\n", op % 16);
    bool full = nodes_.size() >= kMaxNodes;
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
        case 10: Fill(); break;
        case 11: Copy(); break;
        case 12: case 13: Composite(); break;
        case 14: Notify(); break;
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
        bool expected = SimEnd(o->sim);
        ZL_FUZZ_CHECK(EndLayerAccess(&o->record) == (expected ? 1 : 0));
        CheckAll();
    }
    for (const Node &n : nodes_)
        if (n.alive && IsRoot(static_cast<int>(&n - nodes_.data()))) ZL_FUZZ_CHECK(n.layer->accessCount == 0);
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
    nodes_.reserve(kMaxNodes);
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
