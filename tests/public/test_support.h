// Helpers shared by the tests of the exported functions.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZantrelLayer.h"
#include "mix_hash.h"

namespace zltest {

// A host-owned pixel buffer wrapped in a root layer. Rows may be wider than
// the layer (stride in pixels), and the buffer may be bottom-up.
class HostCanvas {
public:
    HostCanvas(int32_t width, int32_t height, uint32_t fill = 0, int32_t stridePixels = 0, bool bottomUp = false)
        : width_(width), height_(height), stride_(stridePixels > 0 ? stridePixels : width),
          pixels_(static_cast<size_t>(stride_) * height, fill) {
        uint32_t *first = bottomUp ? &pixels_[static_cast<size_t>(stride_) * (height - 1)] : pixels_.data();
        layer_ = CreateCompatibleLayer(first, width, height, (bottomUp ? -4 : 4) * stride_);
        bottomUp_ = bottomUp;
    }
    ~HostCanvas() { DeleteLayer(layer_); }
    HostCanvas(const HostCanvas &) = delete;
    HostCanvas &operator=(const HostCanvas &) = delete;

    Layer *layer() const { return layer_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Pixel (x, y) as the layer sees it; x may address the stride's spare columns.
    uint32_t &at(int32_t x, int32_t y) {
        int32_t row = bottomUp_ ? height_ - 1 - y : y;
        return pixels_[static_cast<size_t>(row) * stride_ + x];
    }
    std::vector<uint32_t> &raw() { return pixels_; }

private:
    int32_t width_, height_, stride_;
    std::vector<uint32_t> pixels_;
    Layer *layer_ = nullptr;
    bool bottomUp_ = false;
};



// The straight-alpha over-blend written from its closed-form definitions,
// without lookup tables: the expected result of every table blend.
inline uint32_t ReferenceOver(uint32_t top, uint32_t bottom) {
    uint32_t ta = top >> 24, ba = bottom >> 24;
    if (ba == 0 || ta == 255) return top;
    if (ta == 0) return bottom;
    uint32_t u = (255 - ta) * ba / 255;
    uint32_t s = ta + u;
    uint32_t q = (255 * ta + s / 2) / s;
    uint32_t p = 255 - q;
    uint32_t out = s << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t t = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
        uint32_t sum = (t * q * 256 + 127) / 255 + (b * p * 256 + 127) / 255;
        out |= (sum >> 8) << shift;
    }
    return out;
}

// Pixels with every kind of alpha: transparent, opaque and in between.
inline void Pattern(HostCanvas &canvas, uint32_t seed) {
    for (size_t i = 0; i < canvas.raw().size(); ++i) {
        uint32_t v = Mix(static_cast<uint32_t>(i) * 31 + seed);
        if (v % 5 == 0) v &= 0x00FFFFFF;
        if (v % 5 == 1) v |= 0xFF000000;
        canvas.raw()[i] = v;
    }
}

std::string Hex(uint32_t v);

// The x87 control and status words and MXCSR, read and written directly.
struct FpState {
    uint16_t x87Control;
    uint16_t x87Status;
    uint32_t mxcsr;
};

inline FpState ReadFpState() {
    FpState s;
    __asm__ __volatile__("fnstcw %0" : "=m"(s.x87Control));
    __asm__ __volatile__("fnstsw %0" : "=m"(s.x87Status));
    __asm__ __volatile__("stmxcsr %0" : "=m"(s.mxcsr));
    return s;
}

inline void WriteFpState(uint16_t x87Control, uint32_t mxcsr) {
    __asm__ __volatile__("fnclex");
    __asm__ __volatile__("fldcw %0" : : "m"(x87Control));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
}

inline void ExpectRect(const LayerRect &r, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

// Three canvases whose receivers log "<name>.refresh" and "<name>.update",
// and a trigger layer whose receivers run a body inside a refresh chain and
// then an update chain, where notifications reach receivers.
class NotifyTest : public ::testing::Test {
public:
    using Heard = std::vector<std::string>;

protected:
    NotifyTest(std::array<const char *, 3> names, std::array<uint32_t, 3> fills);
    HostCanvas &Canvas(int i) { return *canvases_[i]; }
    LayerNotifier *RefreshReceiver(int i) { return &receivers_[2 * i].notifier; }
    LayerNotifier *UpdateReceiver(int i) { return &receivers_[2 * i + 1].notifier; }
    // The receivers reached while body runs in both chains, in order.
    Heard InBothChains(std::function<void()> body);

private:
    struct Receiver {
        LayerNotifier notifier;
        NotifyTest *test;
        std::string name;
    };
    static int32_t ZL_CALL Hear(Layer *, LayerNotifier *notifier);
    static int32_t ZL_CALL RunBody(Layer *, LayerNotifier *notifier);

    std::array<std::unique_ptr<HostCanvas>, 3> canvases_;
    HostCanvas trigger_{1, 1};
    std::array<Receiver, 6> receivers_;
    Receiver driver_;
    Heard heard_;
    std::function<void()> body_;
};

}  // namespace zltest
