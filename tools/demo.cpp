#include "demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "layer_ref.h"

namespace zantrel {

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

// The colour with its alpha scaled by a coverage in [0, 1]: edge pixels of a
// shape are stored partly transparent so that compositing smooths the edge.
uint32_t Covered(uint32_t colour, double coverage) {
    auto alpha = static_cast<uint32_t>(std::lround((colour >> 24) * std::clamp(coverage, 0.0, 1.0)));
    return alpha << 24 | (colour & 0x00FFFFFFu);
}

uint32_t Mix(uint32_t from, uint32_t to, double t) {
    auto channel = [&](int shift) {
        double a = (from >> shift) & 0xFF;
        double b = (to >> shift) & 0xFF;
        return static_cast<uint32_t>(std::lround(a + (b - a) * t)) << shift;
    };
    return channel(24) | channel(16) | channel(8) | channel(0);
}

// Fills rectangles of one layer through a single clipped window that is
// moved with ClipLayerXYWH before each SetLayer.
class Painter {
public:
    explicit Painter(Layer *target) : window_(CreateClippedLayer(target)) {}
    bool Ok() const { return window_ != nullptr; }
    int Fills() const { return fills_; }

    void Rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
        if (w <= 0 || h <= 0) return;
        ClipLayerXYWH(window_.get(), x, y, w, h);
        SetLayer(window_.get(), colour);
        ++fills_;
    }

    // A disc centred on (cx, cy): one span per row for the pixels wholly
    // inside, single-pixel windows with partial alpha along the rim.
    void Disc(double cx, double cy, double r, uint32_t colour) {
        auto top = static_cast<int32_t>(std::floor(cy - r));
        auto bottom = static_cast<int32_t>(std::ceil(cy + r));
        for (int32_t y = top; y < bottom; ++y) {
            double nearDy = (cy >= y && cy <= y + 1) ? 0.0 : std::min(std::fabs(y - cy), std::fabs(y + 1 - cy));
            double farDy = std::max(std::fabs(y - cy), std::fabs(y + 1 - cy));
            if (nearDy >= r) continue;
            double outer = std::sqrt(r * r - nearDy * nearDy);
            int32_t spanLeft = 0;
            int32_t spanRight = 0;  // exclusive; empty when equal
            if (farDy < r) {
                double inner = std::sqrt(r * r - farDy * farDy);
                spanLeft = static_cast<int32_t>(std::ceil(cx - inner));
                spanRight = std::max(spanLeft, static_cast<int32_t>(std::floor(cx + inner)));
            }
            Rect(spanLeft, y, spanRight - spanLeft, 1, colour);
            for (auto x = static_cast<int32_t>(std::floor(cx - outer)); x < static_cast<int32_t>(std::ceil(cx + outer));
                 ++x) {
                if (x >= spanLeft && x < spanRight) continue;
                double coverage = DiscCoverage(x, y, cx, cy, r);
                if (coverage > 0.0) Rect(x, y, 1, 1, Covered(colour, coverage));
            }
        }
    }

    // Ground below the curve surface(x), from the curve down to `height`.
    template <class Surface>
    void Ground(int32_t width, int32_t height, Surface surface, uint32_t colour) {
        for (int32_t x = 0; x < width; ++x) {
            double s = std::clamp(surface(x + 0.5), 0.0, static_cast<double>(height));
            auto full = static_cast<int32_t>(std::ceil(s));
            Rect(x, full, 1, height - full, colour);
            if (full > 0 && full - s > 0.0) Rect(x, full - 1, 1, 1, Covered(colour, full - s));
        }
    }

private:
    static double DiscCoverage(int32_t x, int32_t y, double cx, double cy, double r) {
        constexpr int kSamples = 4;
        int inside = 0;
        for (int sy = 0; sy < kSamples; ++sy) {
            for (int sx = 0; sx < kSamples; ++sx) {
                double dx = x + (sx + 0.5) / kSamples - cx;
                double dy = y + (sy + 0.5) / kSamples - cy;
                if (dx * dx + dy * dy < r * r) ++inside;
            }
        }
        return static_cast<double>(inside) / (kSamples * kSamples);
    }

    LayerRef window_;
    int fills_ = 0;
};

// Composites `top` (a root of size w x h) onto `bottom` with its top-left
// corner at (x, y), through a clipped window of the bottom layer.
bool CompositeAt(Layer *top, int32_t w, int32_t h, Layer *bottom, int32_t x, int32_t y) {
    LayerRef window(CreateClippedLayer(bottom));
    if (!window) return false;
    ClipLayerXYWH(window.get(), x, y, w, h);
    CompositOnBottomLayer(top, window.get());
    return true;
}

// Small, fixed pseudo-random sequence so that every run draws the same sky.
class Lcg {
public:
    uint32_t Next(uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    uint32_t state_ = 20240611u;
};

}  // namespace

bool RenderDemo(Image &canvasImage, std::ostream &log, std::string &reason) {
    constexpr int32_t W = kDemoWidth;
    constexpr int32_t H = kDemoHeight;
    reason = "cannot create a layer";
    char line[200];
    auto say = [&](const char *text) { log << "  " << text << '\n'; };

    LayerRef canvas(CreateLayer(W, H, 1));
    if (!canvas) return false;
    std::snprintf(line, sizeof line, "canvas: %d x %d transparent layer (CreateLayer)", W, H);
    say(line);

    {
        Painter paint(canvas.get());
        if (!paint.Ok()) return false;
        const uint32_t stops[] = {Argb(255, 8, 18, 60), Argb(255, 92, 52, 132), Argb(255, 236, 132, 92),
                                  Argb(255, 252, 214, 140)};
        for (int32_t y = 0; y < H; ++y) {
            double t = static_cast<double>(y) / (H - 1) * 3.0;
            int i = std::min(2, static_cast<int>(t));
            paint.Rect(0, y, W, 1, Mix(stops[i], stops[i + 1], t - i));
        }
        std::snprintf(line, sizeof line, "sky: %d one-row windows, SetLayer with a night-to-dusk gradient",
                      paint.Fills());
        say(line);

        Lcg random;
        int stars = 0;
        for (; stars < 110; ++stars) {
            auto x = static_cast<int32_t>(random.Next(W));
            auto y = static_cast<int32_t>(random.Next(200));
            uint32_t v = 150 + random.Next(106);
            int32_t size = random.Next(8) == 0 ? 2 : 1;
            paint.Rect(x, y, size, size, Argb(255, v, v, std::min(255u, v + 20)));
        }
        std::snprintf(line, sizeof line, "stars: %d one- and two-pixel windows, SetLayer", stars);
        say(line);
    }

    {
        constexpr int32_t S = 240;
        LayerRef glow(CreateLayer(S, S, 1));
        LayerRef disc(CreateLayer(S, S, 1));
        if (!glow || !disc) return false;
        Painter glowPaint(glow.get());
        Painter discPaint(disc.get());
        if (!glowPaint.Ok() || !discPaint.Ok()) return false;
        glowPaint.Disc(S / 2.0, S / 2.0, 118.0, Argb(0x50, 255, 200, 120));
        // Each further disc is drawn alone and composited: set directly, its
        // soft rim would replace the glow beneath instead of blending with it.
        discPaint.Disc(S / 2.0, S / 2.0, 88.0, Argb(0x70, 255, 214, 140));
        CompositOnBottomLayer(disc.get(), glow.get());
        ClearLayer(disc.get());
        discPaint.Disc(S / 2.0, S / 2.0, 60.0, Argb(255, 255, 240, 200));
        CompositOnBottomLayer(disc.get(), glow.get());
        if (!CompositeAt(glow.get(), S, S, canvas.get(), 452, -78)) return false;
        std::snprintf(line, sizeof line,
                      "sun: two translucent glow discs and an opaque core (%d windows), each composited onto a "
                      "%d x %d layer (ClearLayer between), sun through a window at (452,-78), partly outside",
                      glowPaint.Fills() + discPaint.Fills(), S, S);
        say(line);
    }

    {
        constexpr int32_t FW = 800;
        constexpr int32_t FH = 190;
        LayerRef farHills(CreateLayer(FW, FH, 1));
        if (!farHills) return false;
        Painter paint(farHills.get());
        if (!paint.Ok()) return false;
        paint.Ground(FW, FH, [](double x) { return 60.0 + 28.0 * std::sin(x / 70.0) + 14.0 * std::sin(x / 23.0 + 1.0); },
                     Argb(0xB0, 58, 30, 78));
        if (!CompositeAt(farHills.get(), FW, FH, canvas.get(), -160, 210)) return false;
        std::snprintf(line, sizeof line,
                      "far hills: translucent %d x %d layer (%d column windows) through a window at (-160,210), "
                      "partly outside",
                      FW, FH, paint.Fills());
        say(line);

        constexpr int32_t NH = 150;
        LayerRef nearHills(CreateLayer(W, NH, 1));
        if (!nearHills) return false;
        Painter nearPaint(nearHills.get());
        if (!nearPaint.Ok()) return false;
        nearPaint.Ground(W, NH, [](double x) { return 70.0 + 30.0 * std::cos(x / 95.0) + 8.0 * std::sin(x / 17.0); },
                         Argb(255, 24, 44, 40));
        if (!CompositeAt(nearHills.get(), W, NH, canvas.get(), 0, H - NH)) return false;
        std::snprintf(line, sizeof line, "near hills: opaque %d x %d layer through a window at (0,%d)", W, NH, H - NH);
        say(line);
    }

    {
        constexpr int32_t GW = 270;
        constexpr int32_t GH = 260;
        constexpr int32_t Q = 150;
        LayerRef glass(CreateLayer(GW, GH, 1));
        LayerRef pane(CreateLayer(Q, Q, 1));
        if (!glass || !pane) return false;
        const struct {
            int32_t x, y;
            uint32_t colour;
        } panes[] = {{0, 0, Argb(0x90, 230, 40, 60)}, {110, 50, Argb(0x90, 40, 200, 90)}, {55, 110, Argb(0x90, 50, 110, 240)}};
        for (const auto &p : panes) {
            SetLayer(pane.get(), p.colour);
            if (!CompositeAt(pane.get(), Q, Q, glass.get(), p.x, p.y)) return false;
        }
        if (!CompositeAt(glass.get(), GW, GH, canvas.get(), 60, 96)) return false;
        say("glass: three translucent 150 x 150 panes composited into a 270 x 260 layer, then onto the canvas at "
            "(60,96)");

        LayerRef echo(CreateLayer(GW, GH, 1));
        if (!echo) return false;
        CopyWithOpacityLayer(echo.get(), glass.get(), 90);
        if (!CompositeAt(echo.get(), GW, GH, canvas.get(), 420, 250)) return false;
        say("echo: the glass copied at opacity 90/255 (CopyWithOpacityLayer), composited at (420,250), partly "
            "outside");
    }

    {
        LayerRef panel(CreateClippedLayer(canvas.get()));
        if (!panel) return false;
        ClipLayerXYWH(panel.get(), 24, 24, 220, 70);
        SetLayer(panel.get(), Argb(255, 20, 22, 30));
        LayerRef face(CreateClippedLayer(panel.get()));
        if (!face) return false;
        ClipLayerXYWH(face.get(), 3, 3, 214, 64);
        SetLayer(face.get(), Argb(255, 232, 228, 218));
        LayerRef bar(CreateClippedLayer(face.get()));
        if (!bar) return false;
        const uint32_t colours[] = {Argb(255, 230, 40, 60), Argb(255, 40, 170, 90), Argb(255, 50, 110, 240)};
        for (int i = 0; i < 3; ++i) {
            // Each bar starts left of the face and the last runs past its
            // right edge: the face clips them, the frame stays intact.
            ClipLayerXYWH(bar.get(), -40, 10 + 16 * i, 130 + 70 * i, 10);
            SetLayer(bar.get(), colours[i]);
        }
        say("panel: nested windows at (24,24): frame, face, three bars clipped by the face");
    }

    canvasImage.width = W;
    canvasImage.height = H;
    canvasImage.pixels.assign(static_cast<size_t>(W) * H, 0);
    LayerRef out(CreateCompatibleLayer(canvasImage.pixels.data(), W, H, W * 4));
    if (!out) return false;
    CopyLayer(out.get(), canvas.get());
    say("copy: canvas into the image buffer (CopyLayer)");
    reason.clear();
    return true;
}

}  // namespace zantrel
