// The gallery's scenes. Each one builds its inputs from the integer patterns
// below (the same bits on every target), runs the operation it is about
// through ZL_GALLERY_CALL, and shows its layers before and after.
#include <cstdint>
#include <string>
#include <vector>

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

// An "F" over a colour ramp: no mirror or turn of it looks like the original,
// so flips and mappings show which way they went.
uint32_t Letter(int32_t x, int32_t y, int32_t w, int32_t h) {
    static const char *const kGlyph[7] = {"XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "X...."};
    int32_t cell = (w < h ? w : h) / 9;
    int32_t gx = (x - cell) / cell;
    int32_t gy = (y - cell) / cell;
    if (x >= cell && y >= cell && gx < 5 && gy < 7 && kGlyph[gy][gx] == 'X') return 0xFFFFF0A0u;
    uint32_t r = static_cast<uint32_t>(x) * 255 / static_cast<uint32_t>(w - 1);
    uint32_t b = static_cast<uint32_t>(y) * 255 / static_cast<uint32_t>(h - 1);
    return Argb(255, r, 40, b);
}

// Stripes of two translucent reds, to tell a layer's pixels apart at a glance.
uint32_t Stripes(int32_t x, int32_t y) {
    return ((x + y) / 8 % 2 == 0) ? 0xE0E03030u : 0x90F0A000u;
}

bool TwoLayer(Stage &s) {
    // The output's own content stays in front: a disc, transparent around it.
    Layer *output = s.HostLayer(160, 112, [](int32_t x, int32_t y) { return Disc(x, y, 80, 56, 40, 0xC0303030u); });
    Layer *first = s.HostLayer(120, 60, Stripes);
    Layer *second = s.HostLayer(60, 100, [](int32_t x, int32_t y) { return Disc(x, y, 30, 50, 28, 0xFF2060E0u); });
    if (output == nullptr || first == nullptr || second == nullptr) return false;
    s.Show("output, before (its content stays in front)", output);
    s.Show("first, 120 x 60", first);
    s.Show("second, 60 x 100", second);
    ZL_GALLERY_CALL(s, TwoLayerComposit(output, first, second));
    return s.Show("output, after: top left both layers beneath, top right the first only, bottom left the "
                  "second only, bottom right untouched",
                  output);
}

bool ThreeLayer(Stage &s) {
    Layer *bottom = s.HostLayer(96, 96, Backdrop);
    Layer *middle = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return Disc(x, y, 48, 48, 40, 0xFF20C040u); });
    Layer *top = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return Disc(x, y, 64, 32, 24, 0xC0F02020u); });
    Layer *full = s.NewLayer(96, 96);
    Layer *faded = s.NewLayer(96, 96);
    if (bottom == nullptr || middle == nullptr || top == nullptr || full == nullptr || faded == nullptr) return false;
    s.Show("bottom", bottom);
    s.Show("middle", middle);
    s.Show("top", top);
    ZL_GALLERY_CALL(s, ThreeLayerComposit(full, bottom, middle, top, 255));
    ZL_GALLERY_CALL(s, ThreeLayerComposit(faded, bottom, middle, top, 80));
    s.Show("output, middle at opacity 255", full);
    return s.Show("output, middle faded to opacity 80", faded);
}

bool Stack(Stage &s) {
    Layer *ground = s.HostLayer(96, 96, Backdrop);
    Layer *disc = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return Disc(x, y, 40, 56, 34, 0xFFF0D020u); });
    Layer *hidden = s.HostLayer(96, 96, [](int32_t, int32_t) { return 0xFFFF0000u; });
    Layer *small = s.HostLayer(48, 48, [](int32_t x, int32_t y) { return Disc(x, y, 24, 24, 22, 0xFF2020C0u); });
    Layer *output = s.NewLayer(96, 96);
    if (ground == nullptr || disc == nullptr || hidden == nullptr || small == nullptr || output == nullptr) return false;
    s.Show("[0] ground, opacity 255", ground);
    s.Show("[1] disc, opacity 160", disc);
    s.Show("[2] red, opacity 0: skipped", hidden);
    s.Show("[3] smaller 48 x 48 disc, opacity 200", small);
    CompositEntry list[4] = {{ground, 255}, {disc, 160}, {hidden, 0}, {small, 200}};
    ZL_GALLERY_CALL(s, CompositMany(output, list, 4));
    return s.Show("output: [0] copied, [1] and [3] stacked over it, the smaller layer at the top-left corner", output);
}

bool OpacityForms(Stage &s) {
    auto disc = [](int32_t x, int32_t y) { return Disc(x, y, 32, 32, 28, 0xFFE03080u); };
    Layer *sample = s.HostLayer(64, 64, disc);
    Layer *ground = s.HostLayer(64, 64, Backdrop);
    if (sample == nullptr || ground == nullptr) return false;
    s.Show("first: a disc", sample);
    s.Show("second: a ground", ground);
    const int32_t opacities[3] = {255, 128, 40};
    for (int32_t opacity : opacities) {
        Layer *first = s.HostLayer(64, 64, disc);
        Layer *second = s.HostLayer(64, 64, Backdrop);
        if (first == nullptr || second == nullptr) return false;
        ZL_GALLERY_CALL(s, CompositOnTopLayerEx(first, second, opacity));
        if (!s.Show("OnTopLayerEx " + std::to_string(opacity) + ": the ground fades, into the first", first))
            return false;
    }
    for (int32_t opacity : opacities) {
        Layer *first = s.HostLayer(64, 64, disc);
        Layer *second = s.HostLayer(64, 64, Backdrop);
        if (first == nullptr || second == nullptr) return false;
        ZL_GALLERY_CALL(s, CompositOnBottomLayerEx(first, second, opacity));
        if (!s.Show("OnBottomLayerEx " + std::to_string(opacity) + ": the disc fades, into the second", second))
            return false;
    }
    return true;
}

bool Rows(Stage &s) {
    Layer *top = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return FadingDisc(x, y, 96, 0x2040F0u); });
    Layer *bottom = s.HostLayer(96, 96, Backdrop);
    Layer *row = s.HostLayer(96, 96, [](int32_t x, int32_t y) { return FadingDisc(x, y, 96, 0x2040F0u); });
    if (top == nullptr || bottom == nullptr || row == nullptr) return false;
    s.Show("top rows, before", top);
    s.Show("bottom rows", bottom);
    uint32_t *topPixels = s.Pixels(top);
    const uint32_t *bottomPixels = s.Pixels(bottom);
    uint32_t *rowPixels = s.Pixels(row);
    for (int32_t y = 0; y < 96; ++y) {
        uint32_t *topRow = topPixels + 96 * y;
        const uint32_t *bottomRow = bottomPixels + 96 * y;
        ZL_GALLERY_CALL(s, CompositOnTop(topRow, bottomRow, 96));
    }
    s.Show("top rows after CompositOnTop, row by row", top);
    for (int32_t y = 0; y < 96; ++y) {
        uint32_t *pixelRow = rowPixels + 96 * y;
        uint32_t colour = y < 48 ? 0xFFF0E0C0u : 0x80000000u;
        ZL_GALLERY_CALL(s, CompositAgainstColour(pixelRow, colour, 96));
    }
    return s.Show("the same disc after CompositAgainstColour: opaque cream above, half-transparent black below", row);
}

bool Flips(Stage &s) {
    auto letter = [](int32_t x, int32_t y) { return Letter(x, y, 64, 80); };
    Layer *original = s.HostLayer(64, 80, letter);
    Layer *horizontal = s.HostLayer(64, 80, letter);
    Layer *vertical = s.HostLayer(64, 80, letter);
    Layer *canvas = s.HostLayer(128, 80, [](int32_t x, int32_t y) { return Letter(x, y, 128, 80); });
    if (original == nullptr || horizontal == nullptr || vertical == nullptr || canvas == nullptr) return false;
    s.Show("original", original);
    ZL_GALLERY_CALL(s, FlipHorzLayer(horizontal));
    s.Show("FlipHorzLayer", horizontal);
    ZL_GALLERY_CALL(s, FlipVertLayer(vertical));
    s.Show("FlipVertLayer", vertical);
    s.Show("canvas, before", canvas);
    Layer *window = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(canvas)));
    if (window == nullptr) return false;
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 4, -40, 60, 80));
    ZL_GALLERY_CALL(s, FlipVertLayer(window));
    ZL_GALLERY_CALL(s, ClipLayerXYWH(window, 96, 8, 64, 64));
    ZL_GALLERY_CALL(s, FlipHorzLayer(window));
    return s.Show("canvas, after: a window at (4,-40) flipped top to bottom and one at (96,8) left to right; "
                  "each mirrors only its visible part, about that part's centre",
                  canvas);
}

bool Trim(Stage &s) {
    Layer *canvas = s.HostLayer(128, 96, [](int32_t x, int32_t y) {
        uint32_t disc = Disc(x, y, 70, 40, 22, 0xFF30A0F0u);
        return (disc >> 24) != 0 ? disc : Disc(x, y, 36, 70, 10, 0x80F06020u);
    });
    Layer *shown = s.HostLayer(128, 96, Backdrop);
    if (canvas == nullptr || shown == nullptr) return false;
    s.Show("layer: two discs on transparent", canvas);
    int32_t x = 0, y = 0, w = 0, h = 0;
    Layer *box = s.Own(ZL_GALLERY_CALL(s, ClipToAlphaLayerEx(canvas, &x, &y, &w, &h)));
    if (box == nullptr) return false;
    ZL_GALLERY_CALL(s, CompositOnBottomLayer(canvas, shown));
    // The box outlined one pixel outside it, with four thin windows.
    Layer *edge = s.Own(ZL_GALLERY_CALL(s, CreateClippedLayer(shown)));
    if (edge == nullptr) return false;
    const int32_t sides[4][4] = {{x - 1, y - 1, w + 2, 1}, {x - 1, y + h, w + 2, 1}, {x - 1, y, 1, h}, {x + w, y, 1, h}};
    for (const auto &side : sides) {
        ZL_GALLERY_CALL(s, ClipLayerXYWH(edge, side[0], side[1], side[2], side[3]));
        ZL_GALLERY_CALL(s, SetLayer(edge, 0xFFFFFF00));
    }
    s.Show("found box (" + std::to_string(x) + "," + std::to_string(y) + ") " + std::to_string(w) + " x " +
               std::to_string(h) + ", outlined in yellow over a ground",
           shown);
    Layer *trimmed = s.NewLayer(w, h);
    if (trimmed == nullptr) return false;
    ZL_GALLERY_CALL(s, CopyLayer(trimmed, box));
    return s.Show("the returned clipped layer, copied out", trimmed);
}

bool Resize(Stage &s) {
    Layer *source = s.HostLayer(48, 48, [](int32_t x, int32_t y) {
        uint32_t disc = Disc(x, y, 34, 34, 12, 0xC020F060u);
        return (disc >> 24) != 0 ? disc : Letter(x, y, 48, 48);
    });
    Layer *bigScan = s.NewLayer(112, 112);
    Layer *smallScan = s.NewLayer(20, 20);
    Layer *bigSibling = s.NewLayer(112, 112);
    Layer *smallSibling = s.NewLayer(20, 20);
    if (source == nullptr || bigScan == nullptr || smallScan == nullptr || bigSibling == nullptr ||
        smallSibling == nullptr)
        return false;
    s.Show("source, 48 x 48", source);
    if (ZL_GALLERY_CALL(s, ResizeLayerCorrect(bigScan, source)) != 1) return false;
    if (ZL_GALLERY_CALL(s, ResizeLayerCorrect(smallScan, source)) != 1) return false;
    ZL_GALLERY_CALL(s, ResizeLayer(bigSibling, source));
    ZL_GALLERY_CALL(s, ResizeLayer(smallSibling, source));
    s.Show("ResizeLayerCorrect (scanline scaler) to 112 x 112", bigScan);
    s.Show("... to 20 x 20", smallScan);
    s.Show("ResizeLayer (Quoravel) to 112 x 112", bigSibling);
    return s.Show("... to 20 x 20", smallSibling);
}

// Draws source into a new layer standing for the mapping's rectangle.
bool MapAndShow(Stage &s, Layer *source, const double (&x)[4], const double (&y)[4], const std::string &caption) {
    LayerRect rect{};
    if (ZL_GALLERY_CALL(s, TestFourCorner(x, y, &rect)) != 1) return false;
    Layer *destination = s.NewLayer(rect.right - rect.left, rect.bottom - rect.top);
    if (destination == nullptr) return false;
    if (ZL_GALLERY_CALL(s, FourCornerMapLayer(destination, source, x, y)) != 1) return false;
    return s.Show(caption, destination);
}

bool FourCorner(Stage &s) {
    Layer *source = s.HostLayer(64, 48, [](int32_t x, int32_t y) { return Letter(x, y, 64, 48); });
    if (source == nullptr) return false;
    s.Show("source, 64 x 48", source);
    // Turned by the angle whose cosine is 0.8 and sine 0.6: exact corners.
    const double turnedX[4] = {32.8, 84, 55.2, 4}, turnedY[4] = {3.6, 42, 80.4, 42};
    const double mirroredX[4] = {84, 4, 4, 84}, mirroredY[4] = {4, 4, 64, 64};
    const double perspectiveX[4] = {44, 68, 110, 2}, perspectiveY[4] = {2, 2, 90, 90};
    return MapAndShow(s, source, turnedX, turnedY, "turned about 37 degrees: (32.8,3.6) (84,42) (55.2,80.4) (4,42)") &&
           MapAndShow(s, source, mirroredX, mirroredY, "mirrored: (84,4) (4,4) (4,64) (84,64)") &&
           MapAndShow(s, source, perspectiveX, perspectiveY, "strong perspective: (44,2) (68,2) (110,90) (2,90)");
}

bool FourCornerFold(Stage &s) {
    Layer *source = s.HostLayer(16, 32, [](int32_t x, int32_t y) { return Letter(x, y, 16, 32); });
    if (source == nullptr) return false;
    s.Show("source, 16 x 32", source);
    // The first-choice plan (rows along x) folds for this wedge; the library
    // retries with another plan and draws it.
    const double x[4] = {0, 0, 10, 200}, y[4] = {0, 40, 60, 20};
    return MapAndShow(s, source, x, y, "a fold retried: (0,0) (0,40) (10,60) (200,20)");
}

bool FourCornerFloor(Stage &s) {
    Layer *source = s.HostLayer(32, 24, [](int32_t x, int32_t y) { return Letter(x, y, 32, 24); });
    if (source == nullptr) return false;
    s.Show("source, 32 x 24", source);
    // A floor seen from above its near edge: the far edge is a quarter of
    // the near one, and the near rows are enlarged about seven times.
    const double x[4] = {88.5, 150.5, 236.25, 3.75}, y[4] = {6.5, 6.5, 120.5, 120.5};
    return MapAndShow(s, source, x, y, "a receding floor: (88.5,6.5) (150.5,6.5) (236.25,120.5) (3.75,120.5)");
}

// A frame of ffmpeg's testsrc2 test clip, as `zantrel video` receives it from
// the decoder, run-length coded to keep the source small.
struct ColourRun {
    uint32_t count;
    uint32_t rgb;
};
const ColourRun kClipFrame[] = {
#include "clip_frame.inc"
};
constexpr int32_t kClipWidth = 128, kClipHeight = 72;

uint32_t ClipFrame(int32_t x, int32_t y) {
    static const std::vector<uint32_t> pixels = [] {
        std::vector<uint32_t> out;
        for (const ColourRun &run : kClipFrame) out.insert(out.end(), run.count, 0xFF000000u | run.rgb);
        out.resize(static_cast<size_t>(kClipWidth) * kClipHeight, 0xFF000000u);
        return out;
    }();
    return pixels[static_cast<size_t>(y) * kClipWidth + static_cast<size_t>(x)];
}

// One frame through the three layer options of `zantrel video`, with the
// calls that command makes: a title through a window (--over), a second
// picture scaled by the scanline scaler (--pip), and a picture mapped into a
// quad on a transparent scratch layer and then composited (--warp).
bool VideoFrame(Stage &s) {
    Layer *frame = s.HostLayer(kClipWidth, kClipHeight, ClipFrame);
    Layer *title = s.HostLayer(72, 14, [](int32_t x, int32_t y) {
        uint32_t disc = Disc(x, y, 7, 7, 5, 0xFFF0C020u);
        return (disc >> 24) == 255 ? disc : Argb(176, 16, 24, 64 + static_cast<uint32_t>(x));
    });
    Layer *pip = s.HostLayer(80, 60, [](int32_t x, int32_t y) {
        uint32_t disc = Disc(x, y, 40, 30, 22, 0xFFE02040u);
        return (disc >> 24) == 255 ? disc : Backdrop(x, y);
    });
    Layer *card = s.HostLayer(64, 48, [](int32_t x, int32_t y) { return Letter(x, y, 64, 48); });
    Layer *scaled = s.NewLayer(40, 30);
    Layer *scratch = s.NewLayer(kClipWidth, kClipHeight);
    if (frame == nullptr || title == nullptr || pip == nullptr || card == nullptr || scaled == nullptr ||
        scratch == nullptr)
        return false;
    s.Show("frame 30 of testsrc2, 128 x 72", frame);
    s.Show("--over: a title, 72 x 14", title);
    s.Show("--pip: another picture, 80 x 60", pip);
    s.Show("--warp: a card, 64 x 48", card);
    // --over title.png:230 --at 8,52
    Layer *titleWindow = s.Window(frame, 8, 52, 72, 14);
    if (titleWindow == nullptr) return false;
    ZL_GALLERY_CALL(s, CompositOnBottomLayerEx(title, titleWindow, 230));
    // --pip other --at 84,4 --size 40x30
    if (ZL_GALLERY_CALL(s, ResizeLayerCorrect(scaled, pip)) != 1) return false;
    Layer *pipWindow = s.Window(frame, 84, 4, 40, 30);
    if (pipWindow == nullptr) return false;
    ZL_GALLERY_CALL(s, CompositOnBottomLayerEx(scaled, pipWindow, 255));
    // --warp card.png --corners 70,36,112,42,108,70,66,66
    const double x[4] = {70, 112, 108, 66}, y[4] = {36, 42, 70, 66};
    LayerRect rect{};
    if (ZL_GALLERY_CALL(s, TestFourCorner(x, y, &rect)) != 1) return false;
    Layer *quad = s.Window(scratch, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    if (quad == nullptr || ZL_GALLERY_CALL(s, FourCornerMapLayer(quad, card, x, y)) != 1) return false;
    ZL_GALLERY_CALL(s, CompositOnBottomLayerEx(scratch, frame, 255));
    return s.Show("the frame with all three: --over, --pip and --warp", frame);
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
        {"two-layer", "TwoLayerComposit: two layers slid beneath the output",
         "The output's disc stays in front; each layer shows through where it covers, both where they overlap.",
         TwoLayer},
        {"three-layer", "ThreeLayerComposit", "Bottom, middle and top into a fresh output, the middle at full and at "
         "faded opacity.", ThreeLayer},
        {"stack", "CompositMany: a stack with opacities",
         "Four entries bottom to top, one at opacity 0 (skipped) and one smaller than the output.", Stack},
        {"opacity-forms", "CompositOnTopLayerEx and CompositOnBottomLayerEx",
         "The same two layers at opacities 255, 128 and 40: OnTopLayerEx fades the second layer, OnBottomLayerEx "
         "the first.", OpacityForms},
        {"rows", "Rows: CompositOnTop and CompositAgainstColour",
         "A host walking its own rows: one row over another, and a row over one constant colour.", Rows},
        {"flips", "FlipHorzLayer and FlipVertLayer", "An asymmetric picture mirrored both ways, and two clipped "
         "windows mirrored, one cut off by the canvas edge.", Flips},
        {"trim", "ClipToAlphaLayerEx", "The bounding box of a layer's non-transparent pixels, outlined, and the "
         "clipped layer the call returns.", Trim},
        {"resize", "ResizeLayerCorrect and ResizeLayer",
         "One source enlarged and reduced by the scanline scaler and by the Quoravel library.", Resize},
        {"fourcorner", "FourCornerMapLayer", "One source drawn into a turned, a mirrored and a strongly "
         "foreshortened quad; each destination is the rectangle TestFourCorner reports.", FourCorner},
        {"fourcorner-fold", "FourCornerMapLayer: a fold retried",
         "A convex wedge whose first-choice pass plan folds; the library retries with another plan and "
         "fills the wedge to its tip.",
         FourCornerFold},
        {"fourcorner-floor", "FourCornerMapLayer: an image enlarged onto a receding floor",
         "A small source drawn onto a floor in perspective: enlarged samples blend between their centres, "
         "the slanted edges are smooth and the near edge stays opaque.",
         FourCornerFloor},
        {"video-frame", "A video frame through zantrel video's three layers",
         "Frame 30 of ffmpeg's testsrc2 clip with a title at opacity 230, a scaled picture in picture and a "
         "warped card, composited in that order.",
         VideoFrame},
    };
    return scenes;
}

}  // namespace zantrel::gallery
