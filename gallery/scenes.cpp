// The gallery's scenes. Each one builds its inputs from the integer patterns
// below (the same bits on every target), runs the operation it is about
// through ZL_GALLERY_CALL, and shows its layers before and after.
#include <cstdint>

#include "gallery.h"

namespace zantrel::gallery {

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

// Opaque ground: a colour ramp over a checker of two blues, so that blended
// and copied pixels are easy to tell from what lay beneath.
uint32_t Backdrop(int32_t x, int32_t y) {
    uint32_t tile = ((x / 12 + y / 12) % 2 == 0) ? 150u : 205u;
    return Argb(255, static_cast<uint32_t>(x * 2) & 0xFF, 60 + static_cast<uint32_t>(y * 3 % 120), tile);
}

// A disc of `colour` centred on (cx, cy), its rim smoothed by 4 x 4 samples
// per pixel: edge pixels keep the colour with a part of its alpha.
uint32_t Disc(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t r, uint32_t colour) {
    int inside = 0;
    for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
            int64_t dx = 8 * static_cast<int64_t>(x) + 2 * sx + 1 - 8 * static_cast<int64_t>(cx);
            int64_t dy = 8 * static_cast<int64_t>(y) + 2 * sy + 1 - 8 * static_cast<int64_t>(cy);
            if (dx * dx + dy * dy < 64 * static_cast<int64_t>(r) * r) ++inside;
        }
    }
    uint32_t alpha = (colour >> 24) * static_cast<uint32_t>(inside) / 16;
    return alpha << 24 | (colour & 0x00FFFFFFu);
}

// A disc whose alpha falls from left to right, to show the blend across many
// alphas at once.
uint32_t FadingDisc(int32_t x, int32_t y, int32_t size, uint32_t rgb) {
    uint32_t disc = Disc(x, y, size / 2, size / 2, size / 2 - 4, 0xFF000000u | rgb);
    uint32_t fade = 255 - static_cast<uint32_t>(x) * 224 / static_cast<uint32_t>(size - 1);
    return ((disc >> 24) * fade / 255) << 24 | rgb;
}

bool Over(Stage &s) {
    Layer *top = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return Disc(x, y, 48, 48, 40, 0xB0E02040u); });
    Layer *bottom = s.HostLayer(96, 96, Backdrop);
    if (top == nullptr || bottom == nullptr) return false;
    s.Show("top, before", top);
    s.Show("bottom", bottom);
    ZL_GALLERY_CALL(s, CompositOnTopLayer(top, bottom));
    return s.Show("top, after: the composite", top);
}

bool Under(Stage &s) {
    Layer *top = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return FadingDisc(x, y, 96, 0x20D060u); });
    Layer *bottom = s.HostLayer(96, 96, Backdrop);
    if (top == nullptr || bottom == nullptr) return false;
    s.Show("top", top);
    s.Show("bottom, before", bottom);
    ZL_GALLERY_CALL(s, CompositOnBottomLayer(top, bottom));
    return s.Show("bottom, after: the composite", bottom);
}

bool OverWindow(Stage &s) {
    Layer *sprite = s.HostLayer(64, 64, [](int32_t x, int32_t y) { return Disc(x, y, 32, 32, 30, 0xD0F0C020u); });
    Layer *canvas = s.HostLayer(128, 96, Backdrop);
    if (sprite == nullptr || canvas == nullptr) return false;
    s.Show("sprite", sprite);
    Layer *window = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (window == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 84, -20, 64, 64));
    ZL_GALLERY_CALL(s, CompositOnBottomLayer(sprite, window));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 10, 40, 64, 64));
    ZL_GALLERY_CALL(s, CompositOnBottomLayer(sprite, window));
    return s.Show("canvas: the sprite through a window at (84,-20), cut by the edges, and at (10,40)", canvas);
}

bool Output(Stage &s) {
    Layer *top = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return Disc(x, y, 40, 40, 36, 0xA03050F0u); });
    // A bottom whose alpha falls from top to bottom.
    Layer *bottom = s.HostLayer(96, 96, [](int32_t x, int32_t y) {
        return (Backdrop(x, y) & 0x00FFFFFFu) | (255 - static_cast<uint32_t>(y) * 255 / 95) << 24;
    });
    Layer *output = s.NewLayer(96, 96);
    if (top == nullptr || bottom == nullptr || output == nullptr) return false;
    s.Show("top", top);
    s.Show("bottom, translucent below", bottom);
    ZL_GALLERY_CALL(s, CompositOnOutputLayer(top, bottom, output));
    return s.Show("output", output);
}

// Top alpha runs with x and bottom alpha with y, and the colours run too:
// every pair of alphas meets once, through both arithmetics.
bool AlphaPairs(Stage &s) {
    auto topPixel = [](int32_t x, int32_t y) {
        return Argb(static_cast<uint32_t>(x), 255 - static_cast<uint32_t>(y), static_cast<uint32_t>(y), 0x20);
    };
    auto bottomPixel = [](int32_t x, int32_t y) {
        return Argb(static_cast<uint32_t>(y), 0x10, static_cast<uint32_t>(x), 255 - static_cast<uint32_t>(x));
    };
    Layer *top = s.HostLayer(256, 256, topPixel);
    Layer *bottom = s.HostLayer(256, 256, bottomPixel);
    Layer *output = s.NewLayer(256, 256);
    Layer *mmx = s.HostLayer(256, 256, [](int32_t, int32_t) { return 0u; });
    if (top == nullptr || bottom == nullptr || output == nullptr || mmx == nullptr) return false;
    ZL_GALLERY_CALL(s, CompositOnOutputLayer(top, bottom, output));
    const uint32_t *topRows = s.Pixels(top);
    const uint32_t *bottomRows = s.Pixels(bottom);
    uint32_t *outRows = s.Pixels(mmx);
    for (int32_t y = 0; y < 256; ++y) {
        const uint32_t *topRow = topRows + 256 * y;
        const uint32_t *bottomRow = bottomRows + 256 * y;
        uint32_t *outRow = outRows + 256 * y;
        ZL_GALLERY_CALL(s, CompositPelsMMXOnly(topRow, bottomRow, outRow, 256));
    }
    s.Show("table blend (CompositOnOutputLayer): top alpha = x, bottom alpha = y", output);
    return s.Show("MMX blend (CompositPelsMMXOnly), row by row", mmx);
}

bool Fill(Stage &s) {
    Layer *canvas = s.HostLayer(128, 96, Backdrop);
    if (canvas == nullptr) return false;
    s.Show("canvas, before", canvas);
    Layer *panel = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (panel == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(panel, 16, 16, 120, 64));
    ZL_GALLERY_CALL(s, SetLayer(panel, 0x80FFF0C0));
    Layer *hole = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(panel)));
    if (hole == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(hole, 24, 16, 48, 32));
    ZL_GALLERY_CALL(s, ClearLayer(hole));
    return s.Show("after: the panel holds 0x80FFF0C0 as set (not blended), cut at the canvas edge; the hole is "
                  "transparent black",
                  canvas);
}

bool SetAlpha(Stage &s) {
    Layer *canvas = s.HostLayer(128, 96, Backdrop);
    if (canvas == nullptr) return false;
    s.Show("canvas, before", canvas);
    Layer *band = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (band == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(band, 0, 0, 128, 32));
    ZL_GALLERY_CALL(s, SetAlphaLayer(band, 0x20));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(band, 0, 32, 128, 32));
    ZL_GALLERY_CALL(s, SetAlphaLayer(band, 0x80));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(band, 0, 64, 128, 32));
    ZL_GALLERY_CALL(s, SetAlphaLayer(band, 0x1C0));
    return s.Show("after: alpha 0x20, 0x80 and 0xC0 (the low byte of 0x1C0), colours unchanged", canvas);
}

bool CopyOpacity(Stage &s) {
    Layer *sprite = s.HostLayer(64, 64, [](int32_t x, int32_t y) { return Disc(x, y, 32, 32, 30, 0xFFF08030u); });
    Layer *canvas = s.NewLayer(280, 64);
    if (sprite == nullptr || canvas == nullptr) return false;
    s.Show("source", sprite);
    Layer *window = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (window == nullptr) return false;
    ZL_GALLERY_CALL(s, CopyLayer(window, sprite));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 72, 0, 64, 64));
    ZL_GALLERY_CALL(s, CopyWithOpacityLayer(window, sprite, 255));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 144, 0, 64, 64));
    ZL_GALLERY_CALL(s, CopyWithOpacityLayer(window, sprite, 128));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 216, 0, 64, 64));
    ZL_GALLERY_CALL(s, CopyWithOpacityLayer(window, sprite, 0x140));
    return s.Show("CopyLayer, then opacity 255, 128 and 0x40 (the low byte of 0x140)", canvas);
}

// Copying replaces the pixels beneath, alpha included; compositing blends.
bool CopyVersusUnder(Stage &s) {
    Layer *sprite = s.HostLayer(64, 64, [](int32_t x, int32_t y) { return FadingDisc(x, y, 64, 0xE02080u); });
    Layer *canvas = s.HostLayer(144, 80, Backdrop);
    if (sprite == nullptr || canvas == nullptr) return false;
    s.Show("source", sprite);
    Layer *left = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    Layer *right = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (left == nullptr || right == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(left, 4, 8, 64, 64));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(right, 76, 8, 64, 64));
    ZL_GALLERY_CALL(s, CopyLayer(left, sprite));
    ZL_GALLERY_CALL(s, CompositOnBottomLayer(sprite, right));
    return s.Show("left: copied, the source's translucent pixels replace the ground; right: composited over it",
                  canvas);
}

}  // namespace

const std::vector<Scene> &Scenes() {
    static const std::vector<Scene> scenes = {
        {"over", "Over: CompositOnTopLayer", "A translucent disc composited over a ground, result in the top layer.",
         Over},
        {"under", "Under: CompositOnBottomLayer",
         "A disc whose alpha fades from left to right, composited into the bottom layer.", Under},
        {"window", "Through a clipped window",
         "One sprite composited through a clipped window moved with ClipLayerXYWH; the canvas edge cuts it.",
         OverWindow},
        {"output", "Output: CompositOnOutputLayer",
         "Top over a bottom whose alpha falls downwards, written into a third layer.", Output},
        {"alpha-pairs", "Every pair of alphas: table blend and MMX blend",
         "Top alpha runs left to right, bottom alpha top to bottom; the two arithmetics side by side.", AlphaPairs},
        {"fill", "Fill: SetLayer and ClearLayer", "A panel set to a translucent colour, and a hole cleared in it.",
         Fill},
        {"set-alpha", "SetAlphaLayer", "Three bands of a ground given new alphas; their colours stay.", SetAlpha},
        {"copy-opacity", "CopyLayer and CopyWithOpacityLayer",
         "One source copied plainly and at three opacities into a transparent layer.", CopyOpacity},
        {"copy-vs-under", "CopyLayer against CompositOnBottomLayer",
         "The same translucent source copied (replacing) and composited (blending) onto a ground.", CopyVersusUnder},
    };
    return scenes;
}

}  // namespace zantrel::gallery
