// Fuzz target: the four-corner mapping (TestFourCorner, FourCornerMapLayer).
//
// Each input decodes to host roots over guarded memory (tiny sizes, padded
// strides, bottom-up, zero or negative sizes), clipped windows on them (cut
// off by ancestors, outside, empty, inverted, near the 32-bit limits, moved
// between calls), and a sequence of calls: TestFourCorner and
// FourCornerMapLayer with corners decoded anywhere (free doubles from raw
// bits: NaN, infinities, huge, outside the 32-bit range, coincident,
// concave, bow ties, tiny and huge quads; near-rectangles with perspective;
// exact axis-aligned rectangles of the source's size, plain and mirrored),
// null arguments, sources with nothing visible, sources and destinations on
// one root, called directly or from inside a refresh or an update chain, and
// always under a random caller floating-point environment (rounding mode,
// x87 precision, unmasked exceptions, sticky SSE flags, flush-to-zero and
// denormals-are-zero).
//
// Checks, from the host's side only:
// - the caller's environment is exactly what it set after every call (x87
//   control and status words, tag word, MXCSR), also inside a notification
//   chain, and inside every access hook and receiver the call reaches;
// - refusals: null rect, null corners, null source, NaN corners and every
//   quad TestFourCorner calls invalid give 0 and change nothing; the
//   rectangle and the validity of finite corners follow the bounding-box rule
//   and convexity (where the quad is clearly convex or clearly not);
// - no word of any host buffer, padding included, changes outside the
//   destination's visible part, nor outside the rectangle TestFourCorner
//   reports for the same corners; the source is never written; a source
//   with nothing visible, or with alpha 0 everywhere, changes nothing; a
//   refused or fully folded mapping changes nothing;
// - a window, cut off or not, receives in its visible part exactly what an
//   uncut root of the window's size receives from a root holding only the
//   source's visible pixels (bottom-up and padded layouts included);
// - an axis-aligned rectangle of the source's own size, plain or mirrored,
//   reproduces the source exactly (pixels of alpha 0 keep the destination);
// - drawing the same mapping twice leaves the pixels of drawing it once, also
//   when the second call runs under another environment;
// - the host procedures called and their order: the source's refresh
//   receiver inside a refresh chain, the destination's update receiver inside
//   an update chain after a drawing or a full fold, none outside a chain, and
//   the roots' beginAccess/endAccess around each pass; an endAccess that
//   returns 0 on the destination's root fails the call;
// - afterwards no access is open and no temporary layer is left on a root.
//
// A mapping whose intermediate layer would be large is only tested, not
// drawn, to keep the target fast. Not generated (host misuse the library
// cannot detect): receivers or hooks that call the library on the layers in
// use, a stride that is not a multiple of 4 or a size larger than the memory
// behind the pixels.
//
// Set ZL_FUZZ_TRACE to have the decoded calls printed.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "ZantrelLayer.h"
#include "fuzz_support.h"

#if !(defined(__i386__) || defined(__x86_64__))
#error "the floating-point environment checks are written for x86"
#endif

namespace {

using zlfuzz::FuzzInput;
using zlfuzz::GuardedBuffer;

// ---- the caller's floating-point environment ----

struct FpState {
    uint16_t control;
    uint16_t status;
    uint16_t tag;
    uint32_t mxcsr;
    bool operator==(const FpState &o) const {
        return control == o.control && status == o.status && tag == o.tag && mxcsr == o.mxcsr;
    }
};

FpState ReadFp() {
    unsigned char env[28];
    FpState s;
    __asm__ __volatile__("fnstenv %0" : "=m"(env) : : "memory");
    __asm__ __volatile__("fldenv %0" : : "m"(env) : "memory");  // fnstenv masked everything
    __asm__ __volatile__("stmxcsr %0" : "=m"(s.mxcsr) : : "memory");
    std::memcpy(&s.control, env + 0, 2);
    std::memcpy(&s.status, env + 4, 2);
    std::memcpy(&s.tag, env + 8, 2);
    return s;
}

// Sets the rounding, precision and masks, clears the x87 flags and returns
// the whole state as it now is: what a caller expects to find again.
FpState WriteFp(uint16_t control, uint32_t mxcsr) {
    __asm__ __volatile__("fnclex" : : : "memory");
    __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr) : "memory");
    return ReadFp();
}

// What the process started with, flags cleared; restored before the
// target's own float work.
const FpState &DefaultFp() {
    static const FpState initial = [] {
        FpState s = ReadFp();
        s.mxcsr &= ~0x3Fu;
        s.status = 0;
        return s;
    }();
    return initial;
}

void RestoreDefaultFp() { WriteFp(DefaultFp().control, DefaultFp().mxcsr); }


// Prints both states when they differ, for the failure that follows.
bool SameFp(const FpState &got, const FpState &expected) {
    if (got == expected) return true;
    std::fprintf(stderr, "fp environment: control %04x status %04x tag %04x mxcsr %08x, expected %04x %04x %04x %08x\n",
                 got.control, got.status, got.tag, got.mxcsr, expected.control, expected.status, expected.tag,
                 expected.mxcsr);
    return false;
}

// ---- small helpers ----

using zlfuzz::Add;
using zlfuzz::Sub;
using zlfuzz::Proper;
using zlfuzz::Intersect;
using zlfuzz::SameRect;
using zlfuzz::RectHas;
using zlfuzz::Mix;

// ---- host records ----

enum class Ev { Refresh, Update, Begin, End };
struct Event {
    Ev type;
    const void *a;
    const void *b;
    bool operator==(const Event &o) const { return type == o.type && a == o.a && b == o.b; }
};

struct HostNotifier {
    LayerNotifier base;  // the library's part comes first
    int32_t result;
    bool refresh;
};

struct RootMemory {
    std::unique_ptr<GuardedBuffer> buffer;
    int32_t width = 0, height = 0, rowBytes = 0, strideWords = 1;
    bool bottomUp = false;
    uint32_t *first = nullptr;
    size_t words = 0;
    bool hasBegin = false, hasEnd = false;
    int32_t endResult = 1;
};

struct Node {
    Layer *layer = nullptr;
    int parent = -1;
    int root = -1;
    LayerRect clipRect{0, 0, 0, 0};
    LayerRect bounds{0, 0, 0, 0};
    std::unique_ptr<RootMemory> memory;  // roots only
    std::unique_ptr<HostNotifier> refresh, update;
};

// A layer's visible part: where it lies in its root and what an access on it
// sees (the visible rectangle in its own coordinates must not wrap).
struct Visibility {
    LayerRect bounds{0, 0, 0, 0};  // root coordinates
    int32_t width = 0, height = 0;
    bool accessible = false;  // an access can open it
};

// A root of the target's own, for the reference drawings.
struct PlainRoot {
    std::unique_ptr<GuardedBuffer> buffer;
    Layer *layer = nullptr;
    int32_t width = 0, height = 0;
    PlainRoot(int32_t w, int32_t h) : width(w), height(h) {
        buffer = std::make_unique<GuardedBuffer>(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, false);
        layer = CreateCompatibleLayer(buffer->data(), w, h, w * 4);
        ZL_FUZZ_CHECK(layer != nullptr);
    }
    ~PlainRoot() { ZL_FUZZ_CHECK(DeleteLayer(layer) == 1); }
    uint32_t &At(int32_t x, int32_t y) { return buffer->data()[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

struct Env {
    uint16_t control;
    uint32_t mxcsr;
};

struct Quad {
    double x[4], y[4];
    bool exact = false;  // an axis-aligned rectangle of the source's size, a power of two each way
    bool mirrorX = false, mirrorY = false;
};

class Session;
Session *current = nullptr;

class Session {
public:
    explicit Session(FuzzInput &in) : in_(in), trace_(std::getenv("ZL_FUZZ_TRACE") != nullptr) { current = this; }
    ~Session() { current = nullptr; }
    void Run();

    void Log(Ev type, const void *a, const void *b) { log_.push_back(Event{type, a, b}); }
    int32_t EndResultOf(const Layer *root) const {
        for (const Node &n : nodes_)
            if (n.layer == root && n.memory) return n.memory->endResult;
        return 1;
    }
    void RunPending();
    // The environment the caller set for the call in progress, if any: host
    // procedures must find it unchanged.
    const FpState *callerFp = nullptr;
    void CheckCallerFp() const {
        if (callerFp != nullptr) ZL_FUZZ_CHECK(SameFp(ReadFp(), *callerFp));
    }

private:
    static constexpr size_t kMaxRoots = 3;
    static constexpr size_t kMaxNodes = 8;
    static constexpr uint64_t kMaxIntermediate = 1u << 16;  // pixels drawn at most per intermediate

    FuzzInput &in_;
    bool trace_;
    std::vector<Node> nodes_;
    std::vector<Event> log_;
    std::vector<std::vector<uint32_t>> snapshot_;
    Layer *trigger_ = nullptr;
    HostNotifier triggerRefresh_{}, triggerUpdate_{};
    Quad quad_{};

    // The call a trigger receiver makes inside a notification chain.
    struct Pending {
        Layer *destination = nullptr, *source = nullptr;
        const double *x = nullptr, *y = nullptr;
        int32_t result = -1;
        FpState inside{};
        bool ran = false;
    } pending_;

    // Set-up.
    void NewRoot();
    void NewWindow();
    void Paint(int root, uint8_t mode, uint32_t seed);
    void PlaceDescendants(int i);
    Visibility Visible(int i) const;
    uint32_t *Address(const RootMemory &m, int32_t x, int32_t y) const;
    int PickLayer();

    // Decoding.
    double Coordinate();
    void DecodeQuad(int source);
    Env DecodeEnv();

    // Oracles.
    void Snapshot();
    bool Unchanged() const;
    void CheckChanges(int destination, const LayerRect *box);
    void CheckRoots();
    void CheckQuadOracle(const double *x, const double *y, int32_t result, const LayerRect &rect);
    const HostNotifier *Nearest(int i, bool refresh) const;
    int32_t TestAt(const Env &env, const double *x, const double *y, LayerRect *rect);
    bool IntermediatesFit(const LayerRect &box, const Visibility &source, bool &anyRefused) const;

    // Operations.
    void Test();
    void Map();
    void Reclip();
    void Configure();
    void Step();
};

int32_t ZL_CALL HookBegin(Layer *root, void *) {
    current->CheckCallerFp();
    current->Log(Ev::Begin, root, nullptr);
    return 0;
}
int32_t ZL_CALL HookEnd(Layer *root, Layer *layer) {
    current->CheckCallerFp();
    current->Log(Ev::End, root, layer);
    return current->EndResultOf(root);
}
int32_t ZL_CALL Receive(Layer *layer, LayerNotifier *notifier) {
    const HostNotifier *n = reinterpret_cast<const HostNotifier *>(notifier);
    current->CheckCallerFp();
    current->Log(n->refresh ? Ev::Refresh : Ev::Update, layer, notifier);
    return n->result;
}
int32_t ZL_CALL Trigger(Layer *, LayerNotifier *) {
    current->RunPending();
    return 1;
}

void Session::RunPending() {
    pending_.result = FourCornerMapLayer(pending_.destination, pending_.source, pending_.x, pending_.y);
    pending_.inside = ReadFp();
    pending_.ran = true;
}

// ---- set-up ----

uint32_t *Session::Address(const RootMemory &m, int32_t x, int32_t y) const {
    int32_t row = m.bottomUp ? m.height - 1 - y : y;
    return m.buffer->data() + static_cast<size_t>(row) * static_cast<size_t>(m.strideWords) + static_cast<size_t>(x);
}

void Session::Paint(int root, uint8_t mode, uint32_t seed) {
    RootMemory &m = *nodes_[root].memory;
    uint32_t colour = Mix(seed);
    for (size_t i = 0; i < m.words; ++i) {
        uint32_t r = Mix(seed + static_cast<uint32_t>(i) * 0x9E3779B9u);
        uint32_t v;
        switch (mode % 7) {
            case 0: v = r; break;                                    // any alpha
            case 1: v = r | 0xFF000000u; break;                      // opaque
            case 2: v = 0; break;                                    // nothing
            case 3: v = r & 0x00FFFFFFu; break;                      // alpha 0, some colour
            case 4: v = (r & 7) == 0 ? (r | 0xFF000000u) : 0; break;  // sparse
            case 5: v = colour; break;                               // one colour
            default: v = (r & 1) ? (r & 0x01FFFFFFu) : (r | 0xFE000000u); break;  // alpha extremes
        }
        m.buffer->data()[i] = v;
    }
}

void Session::NewRoot() {
    static const int32_t kSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 17, 20, 0, -1};
    auto m = std::make_unique<RootMemory>();
    m->width = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    m->height = kSizes[in_.Below(sizeof kSizes / sizeof kSizes[0])];
    uint8_t shape = in_.Byte();
    int32_t w = m->width > 0 ? m->width : 0, h = m->height > 0 ? m->height : 0;
    m->strideWords = w + (shape & 3);
    if (m->strideWords == 0) m->strideWords = 1;
    m->bottomUp = (shape & 4) != 0;
    m->words = static_cast<size_t>(m->strideWords) * static_cast<size_t>(h);
    m->buffer = std::make_unique<GuardedBuffer>(m->words * 4, (shape & 8) != 0);
    m->first = m->buffer->data();
    if (m->bottomUp && h > 0) m->first += static_cast<size_t>(m->strideWords) * static_cast<size_t>(h - 1);
    m->rowBytes = (m->bottomUp ? -4 : 4) * m->strideWords;
    Node n;
    n.layer = CreateCompatibleLayer(m->first, m->width, m->height, m->rowBytes);
    ZL_FUZZ_CHECK(n.layer != nullptr);
    n.root = static_cast<int>(nodes_.size());
    n.bounds = LayerRect{0, 0, m->width, m->height};
    n.memory = std::move(m);
    nodes_.push_back(std::move(n));
    Paint(static_cast<int>(nodes_.size()) - 1, shape >> 4, in_.Word());
}

void Session::NewWindow() {
    int parent = static_cast<int>(in_.Below(nodes_.size()));
    Layer *layer = CreateClippedLayer(nodes_[parent].layer);
    ZL_FUZZ_CHECK(layer != nullptr);
    Node n;
    n.layer = layer;
    n.parent = parent;
    n.root = nodes_[parent].root;
    n.bounds = nodes_[parent].bounds;
    nodes_.push_back(std::move(n));
    int i = static_cast<int>(nodes_.size()) - 1;
    int32_t x = in_.Coordinate(), y = in_.Coordinate(), w = in_.Coordinate(), h = in_.Coordinate();
    ZL_FUZZ_CHECK(ClipLayerXYWH(layer, x, y, w, h) == 1);
    nodes_[i].clipRect = LayerRect{x, y, Add(x, w), Add(y, h)};
    PlaceDescendants(parent);
}

void Session::PlaceDescendants(int p) {
    for (size_t c = 0; c < nodes_.size(); ++c) {
        Node &n = nodes_[c];
        if (n.parent != p) continue;
        const LayerRect &pb = nodes_[p].bounds;
        n.bounds.left = Add(pb.left, n.clipRect.left);
        n.bounds.top = Add(pb.top, n.clipRect.top);
        n.bounds.right = Add(n.bounds.left, Sub(n.clipRect.right, n.clipRect.left));
        n.bounds.bottom = Add(n.bounds.top, Sub(n.clipRect.bottom, n.clipRect.top));
        PlaceDescendants(static_cast<int>(c));
    }
}

Visibility Session::Visible(int i) const {
    Visibility v;
    const Node &n = nodes_[i];
    v.bounds = n.bounds;
    for (int a = n.parent; a >= 0; a = nodes_[a].parent) v.bounds = Intersect(v.bounds, nodes_[a].bounds);
    v.width = Sub(v.bounds.right, v.bounds.left);
    v.height = Sub(v.bounds.bottom, v.bounds.top);
    int32_t left = Sub(v.bounds.left, n.bounds.left), top = Sub(v.bounds.top, n.bounds.top);
    LayerRect own{left, top, Add(left, v.width), Add(top, v.height)};
    v.accessible = Proper(v.bounds) && Proper(own);
    return v;
}

int Session::PickLayer() {
    uint8_t b = in_.Byte();
    if (b < 8) return -1;
    return static_cast<int>(b % nodes_.size());
}

// ---- decoding ----

double Session::Coordinate() {
    static const double kSpecial[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, 1e300, -1e300, 2147483648.0,
                                      -2147483649.0, 2147483647.5, -2147483648.5, 1e-300, 4.9e-324,
                                      1.7976931348623157e308, 4503599627370496.5, -0.9999999999999999,
                                      0.9999999999999999, 1e15, -1e15, 65536.25};
    uint8_t kind = in_.Byte();
    switch (kind % 8) {
        case 5: return kSpecial[in_.Below(sizeof kSpecial / sizeof kSpecial[0])];
        case 6: {
            uint64_t bits = in_.Word();
            bits |= static_cast<uint64_t>(in_.Word()) << 32;
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        case 7: return static_cast<double>(in_.Coordinate()) + in_.Byte() / 256.0;
        default: return static_cast<double>(static_cast<int>(in_.Byte() % 48) - 12) + in_.Byte() / 256.0;
    }
}

void Session::DecodeQuad(int source) {
    Quad &q = quad_;
    q = Quad{};
    uint8_t mode = in_.Byte() % 8;
    if (mode <= 2) {  // four free corners, some of them copies of others
        for (int i = 0; i < 4; ++i) {
            uint8_t copy = in_.Byte();
            if (i > 0 && copy < 24) {
                int from = static_cast<int>(copy % i);
                q.x[i] = q.x[from] + (copy & 8 ? 0.0 : in_.Byte() * 1e-9);
                q.y[i] = q.y[from];
            } else {
                q.x[i] = Coordinate();
                q.y[i] = Coordinate();
            }
        }
        return;
    }
    if (mode == 3 && source >= 0) {  // the source's own size, plain or mirrored
        Visibility v = Visible(source);
        // Only powers of two: other sizes give piece boundaries that round
        // (iStart / N), which the fixed-point walk turns into a step of one
        // 16.16 unit less than a sample.
        auto powerOfTwo = [](int32_t n) { return n > 0 && (n & (n - 1)) == 0; };
        if (v.accessible && v.width <= 64 && v.height <= 64 && powerOfTwo(v.width) && powerOfTwo(v.height)) {
            double ox = static_cast<int>(in_.Byte() % 32) - 8, oy = static_cast<int>(in_.Byte() % 32) - 8;
            uint8_t flip = in_.Byte();
            q.exact = true;
            q.mirrorX = (flip & 1) != 0;
            q.mirrorY = (flip & 2) != 0;
            double l = ox, r = ox + v.width, t = oy, b = oy + v.height;
            double x0 = q.mirrorX ? r : l, x1 = q.mirrorX ? l : r;
            double y0 = q.mirrorY ? b : t, y2 = q.mirrorY ? t : b;
            q.x[0] = x0, q.x[1] = x1, q.x[2] = x1, q.x[3] = x0;
            q.y[0] = y0, q.y[1] = y0, q.y[2] = y2, q.y[3] = y2;
            return;
        }
    }
    // A rectangle with each corner moved: convex with perspective, or not;
    // scaled to tiny or huge sizes now and then.
    double ox = static_cast<int>(in_.Byte() % 40) - 12 + in_.Byte() / 256.0;
    double oy = static_cast<int>(in_.Byte() % 40) - 12 + in_.Byte() / 256.0;
    double w = 1 + in_.Byte() % 24 + in_.Byte() / 256.0, h = 1 + in_.Byte() % 24 + in_.Byte() / 256.0;
    double spread = (in_.Byte() % 4) * 0.25;
    const double ux[4] = {0, 1, 1, 0}, uy[4] = {0, 0, 1, 1};
    double scale = 1.0;
    if (mode == 6) scale = std::pow(10.0, static_cast<int>(in_.Byte() % 25) - 12);
    for (int i = 0; i < 4; ++i) {
        double dx = (static_cast<int>(in_.Byte()) - 128) / 128.0 * spread * w;
        double dy = (static_cast<int>(in_.Byte()) - 128) / 128.0 * spread * h;
        q.x[i] = (ox + ux[i] * w + dx) * scale;
        q.y[i] = (oy + uy[i] * h + dy) * scale;
    }
    if (mode == 7) {  // order changed: bow ties and reversed windings
        uint8_t swap = in_.Byte();
        int a = swap & 3, b = (swap >> 2) & 3;
        std::swap(q.x[a], q.x[b]);
        std::swap(q.y[a], q.y[b]);
    }
}

Env Session::DecodeEnv() {
    const FpState &d = DefaultFp();
    uint8_t kind = in_.Byte();
    if (kind < 48) return Env{d.control, d.mxcsr};
    static const uint16_t kPrecision[] = {0, 2, 3};
    uint16_t control = static_cast<uint16_t>(0x0040 | (in_.Byte() & 0x3F) | (kPrecision[in_.Below(3)] << 8) |
                                             ((kind & 3) << 10));
    uint32_t mxcsr = (static_cast<uint32_t>(in_.Byte()) & 0x3Fu)          // sticky flags
                     | (static_cast<uint32_t>(in_.Byte()) & 0x3Fu) << 7   // masks
                     | static_cast<uint32_t>((kind >> 2) & 3) << 13       // rounding
                     | ((kind & 0x10) ? 0x40u : 0u)                       // denormals are zero
                     | ((kind & 0x20) ? 0x8000u : 0u);                    // flush to zero
    return Env{control, mxcsr};
}

// ---- oracles ----

void Session::Snapshot() {
    snapshot_.assign(nodes_.size(), {});
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const RootMemory *m = nodes_[i].memory.get();
        if (m != nullptr) snapshot_[i].assign(m->buffer->data(), m->buffer->data() + m->words);
    }
    log_.clear();
}

bool Session::Unchanged() const {
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const RootMemory *m = nodes_[i].memory.get();
        if (m != nullptr && m->words > 0 && std::memcmp(m->buffer->data(), snapshot_[i].data(), m->words * 4) != 0) return false;
    }
    return true;
}

// Every changed word lies in the destination's visible part and, when a box
// is given, inside it (in the destination's own coordinates).
void Session::CheckChanges(int d, const LayerRect *box) {
    Visibility v = d >= 0 ? Visible(d) : Visibility{};
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const RootMemory *m = nodes_[i].memory.get();
        if (m == nullptr) continue;
        const uint32_t *now = m->buffer->data();
        for (size_t w = 0; w < m->words; ++w) {
            if (now[w] == snapshot_[i][w]) continue;
            int32_t row = static_cast<int32_t>(w / static_cast<size_t>(m->strideWords));
            int32_t x = static_cast<int32_t>(w % static_cast<size_t>(m->strideWords));
            int32_t y = m->bottomUp ? m->height - 1 - row : row;
            bool ok = d >= 0 && nodes_[d].root == static_cast<int>(i) && x < m->width && v.accessible &&
                      RectHas(v.bounds, x, y);
            if (ok && box != nullptr) {
                int64_t dx = static_cast<int64_t>(x) - nodes_[d].bounds.left;
                int64_t dy = static_cast<int64_t>(y) - nodes_[d].bounds.top;
                ok = dx >= 0 && dy >= 0 && dx < Sub(box->right, box->left) && dy < Sub(box->bottom, box->top);
            }
            if (!ok && trace_) std::fprintf(stderr, "  word (%d, %d) of root %zu changed\n", x, y, i);
            ZL_FUZZ_CHECK(ok);
        }
    }
}

// No access left open, no temporary layer left on a root: a root's count is
// its own reference plus one for each window on it.
void Session::CheckRoots() {
    for (size_t r = 0; r < nodes_.size(); ++r) {
        if (!nodes_[r].memory) continue;
        int32_t windows = 0;
        for (const Node &n : nodes_)
            if (n.root == static_cast<int>(r) && n.memory == nullptr) ++windows;
        ZL_FUZZ_CHECK(nodes_[r].layer->accessCount == 0);
        ZL_FUZZ_CHECK(nodes_[r].layer->refCount == 1 + windows);
    }
    ZL_FUZZ_CHECK(trigger_->refCount == 1 && trigger_->accessCount == 0);
}

const HostNotifier *Session::Nearest(int i, bool refresh) const {
    for (int h = i; h >= 0; h = nodes_[h].parent) {
        const HostNotifier *n = refresh ? nodes_[h].refresh.get() : nodes_[h].update.get();
        if (n != nullptr) return n->base.notify != nullptr ? n : nullptr;
    }
    return nullptr;
}

// TestFourCorner under env; the environment must come back as it was set.
int32_t Session::TestAt(const Env &env, const double *x, const double *y, LayerRect *rect) {
    FpState set = WriteFp(env.control, env.mxcsr);
    int32_t result = TestFourCorner(x, y, rect);
    FpState after = ReadFp();
    RestoreDefaultFp();
    ZL_FUZZ_CHECK(SameFp(after, set));
    return result;
}

// The rectangle of finite corners in the 32-bit range follows the bounding
// box rule (origin toward zero, size one more than the largest translated
// coordinate, toward zero); validity follows convexity where the quad is
// clearly convex or clearly not. NaN corners are always refused.
void Session::CheckQuadOracle(const double *x, const double *y, int32_t result, const LayerRect &rect) {
    bool finite = true, nan = false, inRange = true;
    for (int i = 0; i < 4; ++i) {
        for (double v : {x[i], y[i]}) {
            if (v != v) nan = true;
            if (!std::isfinite(v)) finite = false;
            else if (std::fabs(v) > 1073741824.0) inRange = false;
        }
    }
    if (nan) ZL_FUZZ_CHECK(result == 0);
    if (!finite || !inRange) return;
    double minX = x[0], maxX = x[0], minY = y[0], maxY = y[0];
    for (int i = 1; i < 4; ++i) {
        minX = std::fmin(minX, x[i]), maxX = std::fmax(maxX, x[i]);
        minY = std::fmin(minY, y[i]), maxY = std::fmax(maxY, y[i]);
    }
    int32_t offX = static_cast<int32_t>(std::trunc(minX)), offY = static_cast<int32_t>(std::trunc(minY));
    int32_t boxW = static_cast<int32_t>(std::trunc(maxX - offX + 1.0));
    int32_t boxH = static_cast<int32_t>(std::trunc(maxY - offY + 1.0));
    ZL_FUZZ_CHECK(SameRect(rect, LayerRect{offX, offY, offX + boxW, offY + boxH}));
    // Convexity on the translated corners, as the library sees them.
    double tx[4], ty[4];
    for (int i = 0; i < 4; ++i) tx[i] = x[i] - offX, ty[i] = y[i] - offY;
    // Measured against the quad's own size, so that a nearly degenerate quad
    // (a corner almost on a side, two corners almost together) is left out.
    double size = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) size = std::fmax(size, std::hypot(tx[i] - tx[j], ty[i] - ty[j]));
    if (!(size > 1e-100)) return;
    int positive = 0, negative = 0;
    for (int i = 0; i < 4; ++i) {
        int j = (i + 1) % 4, k = (i + 2) % 4;
        double ax = tx[j] - tx[i], ay = ty[j] - ty[i], bx = tx[k] - tx[j], by = ty[k] - ty[j];
        double cross = ax * by - ay * bx;
        if (!(std::fabs(cross) > 1e-6 * size * size)) return;  // too close to call
        (cross > 0 ? positive : negative)++;
    }
    ZL_FUZZ_CHECK(result == ((positive == 4 || negative == 4) ? 1 : 0));
}

// Whether every pass plan's intermediate layer is small enough to draw
// quickly; anyRefused tells whether some plan's would be refused.
bool Session::IntermediatesFit(const LayerRect &box, const Visibility &source, bool &anyRefused) const {
    int64_t bw = Sub(box.right, box.left), bh = Sub(box.bottom, box.top);
    int64_t sw = source.width, sh = source.height;
    const int64_t sizes[4][2] = {{bw, sh}, {sw, bh}, {sh, bh}, {bw, sw}};
    anyRefused = false;
    bool fit = true;
    for (const auto &s : sizes) {
        bool refused = s[0] <= 0 || s[1] <= 0 || s[0] * 4 > 0x7FFFFFFF || s[0] * s[1] > 0x3FFFFFFF;
        if (refused) anyRefused = true;
        else if (static_cast<uint64_t>(s[0] * s[1]) > kMaxIntermediate) fit = false;
    }
    return fit;
}


// ---- operations ----

void Session::Test() {
    DecodeQuad(-1);
    uint8_t nulls = in_.Byte();
    Env env = DecodeEnv();
    const double *x = nulls == 1 ? nullptr : quad_.x, *y = nulls == 2 ? nullptr : quad_.y;
    bool nullRect = nulls == 3;
    if (trace_) std::fprintf(stderr, "test nulls %d\n", nulls);
    LayerRect rect{111, 222, 333, 444};
    int32_t result = TestAt(env, x, y, nullRect ? nullptr : &rect);
    if (nullRect) {
        ZL_FUZZ_CHECK(result == 0);
        return;
    }
    if (x == nullptr || y == nullptr) {
        ZL_FUZZ_CHECK(result == 0 && SameRect(rect, LayerRect{0, 0, 0, 0}));
        return;
    }
    LayerRect plain{1, 2, 3, 4};
    ZL_FUZZ_CHECK(TestAt(Env{DefaultFp().control, DefaultFp().mxcsr}, x, y, &plain) == result);
    ZL_FUZZ_CHECK(SameRect(plain, rect));
    CheckQuadOracle(x, y, result, rect);
}

void Session::Map() {
    int d = PickLayer(), s = PickLayer();
    DecodeQuad(s);
    uint8_t flags = in_.Byte();
    Env env = DecodeEnv();
    Env again = DecodeEnv();
    const double *x = (flags & 0x3F) == 1 ? nullptr : quad_.x, *y = (flags & 0x3F) == 2 ? nullptr : quad_.y;
    int chain = (flags >> 6) % 3;  // 0 direct, 1 inside a refresh chain, 2 inside an update chain
    bool twice = (flags & 4) != 0, reference = (flags & 8) != 0;
    Layer *dl = d >= 0 ? nodes_[d].layer : nullptr, *sl = s >= 0 ? nodes_[s].layer : nullptr;
    Visibility dv = d >= 0 ? Visible(d) : Visibility{}, sv = s >= 0 ? Visible(s) : Visibility{};
    if (trace_)
        std::fprintf(stderr, "map d %d s %d chain %d corners (%g,%g) (%g,%g) (%g,%g) (%g,%g)%s\n", d, s, chain,
                     quad_.x[0], quad_.y[0], quad_.x[1], quad_.y[1], quad_.x[2], quad_.y[2], quad_.x[3], quad_.y[3],
                     quad_.exact ? " exact" : "");

    // What TestFourCorner says about the same corners.
    LayerRect box{0, 0, 0, 0};
    int32_t valid = 0;
    if (x != nullptr && y != nullptr) {
        valid = TestAt(Env{DefaultFp().control, DefaultFp().mxcsr}, x, y, &box);
        CheckQuadOracle(x, y, valid, box);
    }
    bool anyRefused = false;
    if (valid && sv.accessible && !IntermediatesFit(box, sv, anyRefused)) return;

    // The source's visible pixels before the call.
    std::vector<uint32_t> sourcePixels;
    bool smallSource = sv.accessible && sv.width <= 64 && sv.height <= 64;
    bool transparentSource = true;
    if (smallSource) {
        const RootMemory &m = *nodes_[nodes_[s].root].memory;
        for (int32_t j = 0; j < sv.height; ++j)
            for (int32_t i = 0; i < sv.width; ++i) {
                uint32_t p = *Address(m, sv.bounds.left + i, sv.bounds.top + j);
                sourcePixels.push_back(p);
                if ((p >> 24) != 0) transparentSource = false;
            }
    }

    // The same mapping drawn between roots of the target's own: a root
    // holding the source's visible pixels into a root of the destination
    // window's uncut size holding what the window shows.
    std::unique_ptr<PlainRoot> refSource, refDestination;
    int32_t refResult = -1;
    int32_t dw = d >= 0 ? Sub(nodes_[d].bounds.right, nodes_[d].bounds.left) : 0;
    int32_t dh = d >= 0 ? Sub(nodes_[d].bounds.bottom, nodes_[d].bounds.top) : 0;
    if (reference && valid && smallSource && dv.accessible && dw > 0 && dh > 0 && dw <= 64 && dh <= 64) {
        refSource = std::make_unique<PlainRoot>(sv.width, sv.height);
        for (int32_t j = 0; j < sv.height; ++j)
            for (int32_t i = 0; i < sv.width; ++i)
                refSource->At(i, j) = sourcePixels[static_cast<size_t>(j) * static_cast<size_t>(sv.width) + static_cast<size_t>(i)];
        refDestination = std::make_unique<PlainRoot>(dw, dh);
        const RootMemory &m = *nodes_[nodes_[d].root].memory;
        for (int32_t j = 0; j < dh; ++j)
            for (int32_t i = 0; i < dw; ++i) {
                int32_t rx = Add(nodes_[d].bounds.left, i), ry = Add(nodes_[d].bounds.top, j);
                refDestination->At(i, j) = RectHas(dv.bounds, rx, ry) ? *Address(m, rx, ry) : Mix(static_cast<uint32_t>(i * 131 + j));
            }
        FpState set = WriteFp(DefaultFp().control, DefaultFp().mxcsr);
        refResult = FourCornerMapLayer(refDestination->layer, refSource->layer, x, y);
        ZL_FUZZ_CHECK(SameFp(ReadFp(), set));
    }

    // The call, directly or from a receiver inside a notification chain.
    Snapshot();
    int32_t result;
    if (chain == 0) {
        FpState set = WriteFp(env.control, env.mxcsr);
        callerFp = &set;
        result = FourCornerMapLayer(dl, sl, x, y);
        FpState after = ReadFp();
        callerFp = nullptr;
        RestoreDefaultFp();
        ZL_FUZZ_CHECK(SameFp(after, set));
    } else {
        pending_ = Pending{};
        pending_.destination = dl, pending_.source = sl, pending_.x = x, pending_.y = y;
        FpState set = WriteFp(env.control, env.mxcsr);
        callerFp = &set;
        int32_t notified = chain == 1 ? RefreshLayerEx(trigger_) : UpdateLayerEx(trigger_);
        FpState after = ReadFp();
        callerFp = nullptr;
        RestoreDefaultFp();
        ZL_FUZZ_CHECK(notified == 1 && pending_.ran);
        ZL_FUZZ_CHECK(SameFp(pending_.inside, set));
        ZL_FUZZ_CHECK(SameFp(after, set));
        result = pending_.result;
    }
    if (trace_) std::fprintf(stderr, "  result %d valid %d box (%d,%d,%d,%d) events %zu\n", result, valid, box.left, box.top,
                             box.right, box.bottom, log_.size());
    CheckRoots();
    CheckChanges(d, valid ? &box : nullptr);

    // The host procedures: expected[] lists them for a drawing.
    std::vector<Event> refreshEvent, drawEvents, updateEvent;
    if (s >= 0 && chain == 1) {
        const HostNotifier *n = Nearest(s, true);
        if (n != nullptr) refreshEvent.push_back(Event{Ev::Refresh, sl, n});
    }
    if (s >= 0) {
        const RootMemory &sm = *nodes_[nodes_[s].root].memory;
        if (sm.hasBegin) drawEvents.push_back(Event{Ev::Begin, nodes_[nodes_[s].root].layer, nullptr});
        if (sm.hasEnd) drawEvents.push_back(Event{Ev::End, nodes_[nodes_[s].root].layer, sl});
    }
    if (d >= 0) {
        const RootMemory &dm = *nodes_[nodes_[d].root].memory;
        if (dm.hasBegin) drawEvents.push_back(Event{Ev::Begin, nodes_[nodes_[d].root].layer, nullptr});
        if (dm.hasEnd) drawEvents.push_back(Event{Ev::End, nodes_[nodes_[d].root].layer, dl});
        if (chain == 2) {
            const HostNotifier *n = Nearest(d, false);
            if (n != nullptr) updateEvent.push_back(Event{Ev::Update, dl, n});
        }
    }
    auto concat = [](std::initializer_list<const std::vector<Event> *> parts) {
        std::vector<Event> all;
        for (const auto *p : parts) all.insert(all.end(), p->begin(), p->end());
        return all;
    };

    if (s < 0) {  // null source: nothing at all
        ZL_FUZZ_CHECK(result == 0 && log_.empty() && Unchanged());
        return;
    }
    if (x == nullptr || y == nullptr || !valid) {  // refused after the refresh notification
        ZL_FUZZ_CHECK(result == 0 && log_ == refreshEvent && Unchanged());
        return;
    }
    if (!sv.accessible) {  // nothing visible to draw: result and later reports are left open
        ZL_FUZZ_CHECK(log_.size() >= refreshEvent.size());
        ZL_FUZZ_CHECK(std::equal(refreshEvent.begin(), refreshEvent.end(), log_.begin()));
        ZL_FUZZ_CHECK(Unchanged());
        return;
    }
    if (transparentSource && smallSource) ZL_FUZZ_CHECK(Unchanged());

    bool drawn;
    if (d < 0) {  // fails after the first pass, if a plan got that far
        ZL_FUZZ_CHECK(result == 0 && Unchanged());
        ZL_FUZZ_CHECK(log_ == refreshEvent || log_ == concat({&refreshEvent, &drawEvents}));
        return;
    }
    const RootMemory &dm = *nodes_[nodes_[d].root].memory;
    bool endFails = dm.hasEnd && dm.endResult == 0;
    if (result == 1) {
        ZL_FUZZ_CHECK(log_ == concat({&refreshEvent, &drawEvents, &updateEvent}));
        drawn = true;
    } else if (log_ == concat({&refreshEvent, &updateEvent}) && Unchanged()) {
        drawn = false;  // every plan folded
    } else if (anyRefused && log_ == refreshEvent && Unchanged()) {
        drawn = false;  // an intermediate layer was refused
    } else {
        // Drawn, but closing the destination's access failed.
        ZL_FUZZ_CHECK(endFails && log_ == concat({&refreshEvent, &drawEvents}));
        drawn = true;
    }
    if (!drawn) {
        if (refResult >= 0) ZL_FUZZ_CHECK(refResult == 0);
        return;
    }

    // The uncut window gets what the cut one shows.
    const RootMemory &m = dm;
    if (refResult >= 0) {
        ZL_FUZZ_CHECK(refResult == 1);
        for (int32_t j = 0; j < dh; ++j)
            for (int32_t i = 0; i < dw; ++i) {
                int32_t rx = Add(nodes_[d].bounds.left, i), ry = Add(nodes_[d].bounds.top, j);
                if (RectHas(dv.bounds, rx, ry)) ZL_FUZZ_CHECK(*Address(m, rx, ry) == refDestination->At(i, j));
            }
    }

    // A rectangle of the source's own size copies it, mirrored as asked.
    if (quad_.exact && dv.accessible) {
        for (int32_t ry = dv.bounds.top; ry < dv.bounds.bottom; ++ry)
            for (int32_t rx = dv.bounds.left; rx < dv.bounds.right; ++rx) {
                int64_t i = static_cast<int64_t>(rx) - nodes_[d].bounds.left;
                int64_t j = static_cast<int64_t>(ry) - nodes_[d].bounds.top;
                uint32_t now = *Address(m, rx, ry);
                uint32_t before = snapshot_[static_cast<size_t>(nodes_[d].root)]
                                           [static_cast<size_t>(Address(m, rx, ry) - m.buffer->data())];
                uint32_t expected = before;
                if (i < sv.width && j < sv.height) {
                    int64_t si = quad_.mirrorX ? sv.width - 1 - i : i, sj = quad_.mirrorY ? sv.height - 1 - j : j;
                    uint32_t p = sourcePixels[static_cast<size_t>(sj * sv.width + si)];
                    if ((p >> 24) != 0) expected = p;
                }
                if (now != expected && trace_)
                    for (int32_t sj = 0; sj < sv.height; ++sj) {
                        for (int32_t si = 0; si < sv.width; ++si)
                            std::fprintf(stderr, " %08x", sourcePixels[static_cast<size_t>(sj * sv.width + si)]);
                        std::fprintf(stderr, "\n");
                    }
                if (now != expected && trace_)
                    std::fprintf(stderr, "  exact: (%lld, %lld) is %08x, expected %08x\n", static_cast<long long>(i),
                                 static_cast<long long>(j), now, expected);
                ZL_FUZZ_CHECK(now == expected);
            }
    }

    // Drawing it again changes nothing, whatever the environment; unless the
    // first drawing changed the source.
    bool shared = nodes_[d].root == nodes_[s].root && Proper(Intersect(dv.bounds, sv.bounds));
    if (twice && !shared) {
        Snapshot();
        FpState set = WriteFp(again.control, again.mxcsr);
        int32_t second = FourCornerMapLayer(dl, sl, x, y);
        FpState after = ReadFp();
        RestoreDefaultFp();
        ZL_FUZZ_CHECK(SameFp(after, set));
        ZL_FUZZ_CHECK(second == result);
        ZL_FUZZ_CHECK(Unchanged());
        CheckRoots();
    }
}

void Session::Reclip() {
    std::vector<int> windows;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (!nodes_[i].memory) windows.push_back(static_cast<int>(i));
    if (windows.empty()) return;
    int i = windows[in_.Below(windows.size())];
    LayerRect rect{in_.Coordinate(), in_.Coordinate(), in_.Coordinate(), in_.Coordinate()};
    ZL_FUZZ_CHECK(ClipLayer(nodes_[i].layer, &rect) == 1);
    nodes_[i].clipRect = rect;
    PlaceDescendants(nodes_[i].parent);
}

// The host installs or removes its procedures by writing the fields.
void Session::Configure() {
    int i = static_cast<int>(in_.Below(nodes_.size()));
    Node &n = nodes_[i];
    uint8_t what = in_.Byte();
    bool on = (what & 8) != 0;
    int32_t result = static_cast<int32_t>(in_.Byte() % 3);
    switch (what % 4) {
        case 0:
            if (!n.memory) break;
            n.memory->hasBegin = on;
            n.layer->beginAccess = on ? HookBegin : nullptr;
            break;
        case 1:
            if (!n.memory) break;
            n.memory->hasEnd = on;
            n.memory->endResult = result;
            n.layer->endAccess = on ? HookEnd : nullptr;
            break;
        default: {
            bool refresh = what % 4 == 2;
            std::unique_ptr<HostNotifier> &slot = refresh ? n.refresh : n.update;
            LayerNotifier *&field = refresh ? n.layer->refreshNotifier : n.layer->updateNotifier;
            if (!on) {
                field = nullptr;
                slot.reset();
                break;
            }
            slot = std::make_unique<HostNotifier>();
            slot->base.notify = result == 2 ? nullptr : Receive;
            slot->result = result;
            slot->refresh = refresh;
            field = &slot->base;
            break;
        }
    }
}

void Session::Step() {
    uint8_t op = in_.Byte();
    switch (op % 8) {
        case 0: case 1: case 2: case 3: Map(); break;
        case 4: Test(); break;
        case 5: Reclip(); break;
        case 6: Configure(); break;
        default: {
            std::vector<int> roots;
            for (size_t i = 0; i < nodes_.size(); ++i)
                if (nodes_[i].memory) roots.push_back(static_cast<int>(i));
            Paint(roots[in_.Below(roots.size())], in_.Byte(), in_.Word());
            break;
        }
    }
}

void Session::Run() {
    RestoreDefaultFp();
    trigger_ = CreateLayer(1, 1, 1);
    ZL_FUZZ_CHECK(trigger_ != nullptr);
    triggerRefresh_.base.notify = Trigger;
    triggerUpdate_.base.notify = Trigger;
    trigger_->refreshNotifier = &triggerRefresh_.base;
    trigger_->updateNotifier = &triggerUpdate_.base;

    size_t roots = 1 + in_.Below(kMaxRoots);
    nodes_.reserve(kMaxNodes);
    for (size_t r = 0; r < roots; ++r) NewRoot();
    size_t windows = in_.Below(kMaxNodes - roots + 1);
    for (size_t w = 0; w < windows; ++w) NewWindow();
    if (trace_)
        for (size_t i = 0; i < nodes_.size(); ++i) {
            const Node &n = nodes_[i];
            Visibility v = Visible(static_cast<int>(i));
            std::fprintf(stderr, "node %zu parent %d root %d bounds (%d,%d,%d,%d) visible (%d,%d,%d,%d)%s", i, n.parent,
                         n.root, n.bounds.left, n.bounds.top, n.bounds.right, n.bounds.bottom, v.bounds.left, v.bounds.top,
                         v.bounds.right, v.bounds.bottom, v.accessible ? "" : " hidden");
            if (n.memory)
                std::fprintf(stderr, " stride %d%s", n.memory->strideWords, n.memory->bottomUp ? " bottom-up" : "");
            std::fprintf(stderr, "\n");
        }
    for (int steps = 0; steps < 12 && !in_.Empty(); ++steps) Step();

    // Windows first (newest first), then the roots: each record freed once.
    for (size_t k = nodes_.size(); k-- > 0;)
        if (!nodes_[k].memory) ZL_FUZZ_CHECK(DeleteLayer(nodes_[k].layer) == 1);
    for (size_t k = nodes_.size(); k-- > 0;)
        if (nodes_[k].memory) ZL_FUZZ_CHECK(DeleteLayer(nodes_[k].layer) == 1);
    ZL_FUZZ_CHECK(DeleteLayer(trigger_) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    DefaultFp();
    FuzzInput in(data, size);
    Session session(in);
    session.Run();
    return 0;
}
