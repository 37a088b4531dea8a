// Operations that blend several layers into one output, and the Ex and row
// forms, over layers that are windows of the output's own buffer: the result
// is that of rows top to bottom, pixels left to right, each pixel's inputs
// read before the pixel is written, whatever loop the library runs inside.
// The rows are wider than the stretch the library works on at once, so both
// its stretched loop (for windows a row or more apart) and its one-pixel loop
// (for windows within a row) are checked.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "test_support.h"

namespace {

using zltest::Hex;
using zltest::HostCanvas;
using zltest::Mix;
using zltest::ReferenceOver;

constexpr int32_t kCanvasW = 1100, kCanvasH = 10;
constexpr int32_t kW = 1050, kH = 4;
constexpr int32_t kBaseX = 12, kBaseY = 3;

uint32_t Fade(uint32_t pixel, uint32_t opacity) { return (pixel & 0x00FFFFFFu) | ((opacity * (pixel >> 24) / 255) << 24); }

void Pattern(std::vector<uint32_t> &pixels, uint32_t seed) {
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t v = Mix(static_cast<uint32_t>(i) * 13 + seed);
        switch (v % 5) {
            case 0: v &= 0x00FFFFFF; break;
            case 1: v |= 0xFF000000; break;
            default: break;
        }
        pixels[i] = v;
    }
}

struct Offset {
    int32_t dx, dy;
};

// One buffer that holds the output window and the shifted windows, and
// separate layers for the other inputs; the expected result is computed on
// copies of both.
class Scene {
public:
    Scene() : canvas_(kCanvasW, kCanvasH), a_(kW, kH), b_(kW, kH) {
        Pattern(canvas_.raw(), 5);
        Pattern(a_.raw(), 77);
        Pattern(b_.raw(), 901);
        shared_ = canvas_.raw();
        sepA_ = a_.raw();
        sepB_ = b_.raw();
    }
    ~Scene() {
        for (Layer *l : windows_) DeleteLayer(l);
    }

    Layer *Window(Offset o) {
        Layer *layer = CreateClippedLayer(canvas_.layer());
        ClipLayerXYWH(layer, kBaseX + o.dx, kBaseY + o.dy, kW, kH);
        windows_.push_back(layer);
        return layer;
    }
    Layer *Output() { return Window({0, 0}); }
    Layer *SeparateA() { return a_.layer(); }
    Layer *SeparateB() { return b_.layer(); }

    // The expected buffers: pixel (x, y) of a window at o, or of a separate layer.
    uint32_t &At(Offset o, int32_t x, int32_t y) {
        return shared_[static_cast<size_t>(kBaseY + o.dy + y) * kCanvasW + kBaseX + o.dx + x];
    }
    uint32_t &A(int32_t x, int32_t y) { return sepA_[static_cast<size_t>(y) * kW + x]; }
    uint32_t &B(int32_t x, int32_t y) { return sepB_[static_cast<size_t>(y) * kW + x]; }

    // Runs the documented per-pixel order over the expected buffers.
    void Expect(const std::function<void(int32_t, int32_t)> &pixel) {
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) pixel(x, y);
    }

    void Compare(const char *what, Offset o) {
        for (size_t i = 0; i < shared_.size(); ++i) {
            ASSERT_EQ(Hex(canvas_.raw()[i]), Hex(shared_[i]))
                << what << " pixel " << i << " offset " << o.dx << "," << o.dy;
        }
        EXPECT_EQ(a_.raw(), sepA_) << what;
        EXPECT_EQ(b_.raw(), sepB_) << what;
    }

private:
    HostCanvas canvas_, a_, b_;
    std::vector<uint32_t> shared_, sepA_, sepB_;
    std::vector<Layer *> windows_;
};

template <class Check>
void AtEverySmallOffset(Check check) {
    for (int32_t dy = -2; dy <= 2; ++dy) {
        for (int32_t dx = -9; dx <= 9; ++dx) {
            check(Offset{dx, dy});
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(MultiPassOverlap, TwoLayerCompositWithEitherLayerAWindowOfTheOutput) {
    AtEverySmallOffset([](Offset o) {
        Scene s;
        EXPECT_EQ(TwoLayerComposit(s.Output(), s.Window(o), s.SeparateA()), 1);
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(ReferenceOver(out, s.At(o, x, y)), s.A(x, y));
        });
        s.Compare("first shifted", o);
    });
    AtEverySmallOffset([](Offset o) {
        Scene s;
        EXPECT_EQ(TwoLayerComposit(s.Output(), s.SeparateA(), s.Window(o)), 1);
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(ReferenceOver(out, s.A(x, y)), s.At(o, x, y));
        });
        s.Compare("second shifted", o);
    });
}

TEST(MultiPassOverlap, ThreeLayerCompositWithEachLayerAWindowOfTheOutput) {
    for (int which = 0; which < 3; ++which) {
        AtEverySmallOffset([which](Offset o) {
            Scene s;
            Layer *shifted = s.Window(o);
            Layer *top = which == 0 ? shifted : s.SeparateA();
            Layer *middle = which == 1 ? shifted : (which == 0 ? s.SeparateA() : s.SeparateB());
            Layer *bottom = which == 2 ? shifted : s.SeparateB();
            EXPECT_EQ(ThreeLayerComposit(s.Output(), bottom, middle, top, 0x1C8), 1);
            s.Expect([&](int32_t x, int32_t y) {
                uint32_t t = which == 0 ? s.At(o, x, y) : s.A(x, y);
                uint32_t m = which == 1 ? s.At(o, x, y) : (which == 0 ? s.A(x, y) : s.B(x, y));
                uint32_t b = which == 2 ? s.At(o, x, y) : s.B(x, y);
                s.At({0, 0}, x, y) = ReferenceOver(ReferenceOver(t, Fade(m, 0xC8)), b);
            });
            s.Compare(which == 0 ? "top shifted" : which == 1 ? "middle shifted" : "bottom shifted", o);
        });
    }
}

TEST(MultiPassOverlap, CompositManyWithLayersThatAreWindowsOfTheOutput) {
    AtEverySmallOffset([](Offset o) {
        Scene s;
        Offset other{-o.dx / 2 + 1, -o.dy};
        CompositEntry list[] = {
            {s.SeparateA(), 200}, {s.Window(o), 255}, {s.SeparateB(), 128}, {s.Window(other), 77}, {nullptr, 255}};
        EXPECT_EQ(CompositMany(s.Output(), list, 5), 1);
        // The base is copied with its opacity first, a row at a time.
        s.Expect([&](int32_t x, int32_t y) { s.At({0, 0}, x, y) = Fade(s.A(x, y), 200); });
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(s.At(o, x, y), out);
            out = ReferenceOver(Fade(s.B(x, y), 128), out);
            out = ReferenceOver(Fade(s.At(other, x, y), 77), out);
        });
        s.Compare("many", o);
    });
    // The base a window of the output, copied whole before anything goes over it.
    AtEverySmallOffset([](Offset o) {
        Scene s;
        CompositEntry list[] = {{s.Window(o), 200}, {s.SeparateA(), 255}, {s.SeparateB(), 128}};
        EXPECT_EQ(CompositMany(s.Output(), list, 3), 1);
        s.Expect([&](int32_t x, int32_t y) { s.At({0, 0}, x, y) = Fade(s.At(o, x, y), 200); });
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(Fade(s.B(x, y), 128), ReferenceOver(s.A(x, y), out));
        });
        s.Compare("many over a base window", o);
    });
}

TEST(MultiPassOverlap, ExFormsWithTheReadLayerAWindowOfTheWrittenOne) {
    AtEverySmallOffset([](Offset o) {
        Scene s;
        EXPECT_EQ(CompositOnTopLayerEx(s.Output(), s.Window(o), 0x160), 1);
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(out, Fade(s.At(o, x, y), 0x60));
        });
        s.Compare("on top ex", o);
    });
    AtEverySmallOffset([](Offset o) {
        Scene s;
        EXPECT_EQ(CompositOnBottomLayerEx(s.Window(o), s.Output(), 201), 1);
        s.Expect([&](int32_t x, int32_t y) {
            uint32_t &out = s.At({0, 0}, x, y);
            out = ReferenceOver(Fade(s.At(o, x, y), 201), out);
        });
        s.Compare("on bottom ex", o);
    });
}

TEST(MultiPassOverlap, CopyWithOpacityFromAWindowOfTheDestination) {
    AtEverySmallOffset([](Offset o) {
        Scene s;
        EXPECT_EQ(CopyWithOpacityLayer(s.Output(), s.Window(o), 99), 1);
        s.Expect([&](int32_t x, int32_t y) { s.At({0, 0}, x, y) = Fade(s.At(o, x, y), 99); });
        s.Compare("copy with opacity", o);
    });
}

// The row exports over rows of one buffer a few pixels or rows apart.
TEST(MultiPassOverlap, RowFormsOverShiftedRowsOfOneBuffer) {
    constexpr int32_t kStride = 70, kCount = 61, kAt = 2 * kStride + 10;
    std::vector<uint32_t> original(6 * kStride);
    Pattern(original, 3);
    for (int32_t dy = -2; dy <= 2; ++dy) {
        for (int32_t dx = -9; dx <= 9; ++dx) {
            int32_t other = kAt + dy * kStride + dx;
            for (int form = 0; form < 3; ++form) {
                std::vector<uint32_t> got = original, want = original;
                uint32_t last = 0;
                switch (form) {
                    case 0: last = CompositOnTop(&got[kAt], &got[other], kCount); break;
                    case 1: last = CompositOnBottom(&got[other], &got[kAt], kCount); break;
                    case 2: last = CompositOnTopEx(&got[kAt], &got[other], kCount, 0x2A0); break;
                }
                for (int32_t i = 0; i < kCount; ++i) {
                    uint32_t &w = want[kAt + i];
                    uint32_t r = want[other + i];
                    w = form == 0 ? ReferenceOver(w, r) : form == 1 ? ReferenceOver(r, w) : ReferenceOver(Fade(w, 0xA0), r);
                }
                ASSERT_EQ(got, want) << "form " << form << " offset " << dx << "," << dy;
                EXPECT_EQ(Hex(last), Hex(want[kAt + kCount - 1]));
            }
        }
    }
}

}  // namespace
