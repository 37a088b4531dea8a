// Four-corner fidelity against the true picture, with pixman as a peer.
//
// Seeded quads in six families (random perspective, corners on an integer
// grid, trapezoids, affine, strong perspective, tiny), each drawn from five
// opaque sources (1 x 1, 7 x 5, 16 x 16, 64 x 64, 256 x 256) into a
// transparent destination of the rectangle TestFourCorner reports. Three
// drawings per case:
// - ours: FourCornerMapLayer;
// - masked: pixman's projective transform, bilinear, REPEAT_PAD, composited
//   through an 8-bit mask of each pixel's exact coverage;
// - plain: the same transform with REPEAT_NONE and no mask (the edges are
//   what bilinear filtering against transparency gives).
// Measured against the exact area of each pixel inside the quad (polygon
// clipping) and, for colour, the source reconstructed linearly between pixel
// centres and averaged over 4 x 4 points of the pixel:
// - holes: pixels whose 3 x 3 neighbourhood lies fully inside the quad but
//   that get alpha below 240;
// - spill: pixels whose 3 x 3 neighbourhood lies fully outside but that get
//   alpha above 8;
// - alpha error: mean |alpha - 255 * coverage| over the rectangle;
// - colour error: mean |channel - reference| over fully covered pixels;
// - empty: nothing drawn although some pixel is at least half covered.
#include "fourcorner_fidelity.h"

#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "ZantrelLayer.h"

namespace {

struct Quad {
    double x[4], y[4];
};

const char *const kFamilies[] = {"perspective", "grid", "trapezoid", "affine", "strong", "tiny"};
const int32_t kSizes[][2] = {{1, 1}, {7, 5}, {16, 16}, {64, 64}, {256, 256}};

double Cross(const Quad &q, int i) {
    int j = (i + 1) % 4, k = (i + 2) % 4;
    return (q.x[j] - q.x[i]) * (q.y[k] - q.y[j]) - (q.y[j] - q.y[i]) * (q.x[k] - q.x[j]);
}

// Strictly convex in either winding, and not too thin to be a quad.
bool Convex(const Quad &q) {
    double c0 = Cross(q, 0);
    for (int i = 1; i < 4; ++i)
        if (Cross(q, i) * c0 <= 0) return false;
    return true;
}

Quad Turned(const double (&ux)[4], const double (&uy)[4], double angle, double cx, double cy) {
    Quad q;
    for (int k = 0; k < 4; ++k) {
        q.x[k] = cx + ux[k] * std::cos(angle) - uy[k] * std::sin(angle);
        q.y[k] = cy + ux[k] * std::sin(angle) + uy[k] * std::cos(angle);
    }
    return q;
}

Quad MakeQuad(int family, std::mt19937 &gen) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (;;) {
        double w = 16 + unit(gen) * 180, h = 16 + unit(gen) * 180, angle = unit(gen) * 6.2832;
        double cx = 100 + unit(gen) * 10, cy = 100 + unit(gen) * 10;
        Quad q{};
        switch (family) {
            case 0:
            case 1: {
                double ux[4] = {-w / 2, w / 2, w / 2, -w / 2}, uy[4] = {-h / 2, -h / 2, h / 2, h / 2};
                for (int k = 0; k < 4; ++k) ux[k] += (unit(gen) - 0.5) * 0.5 * w, uy[k] += (unit(gen) - 0.5) * 0.5 * h;
                q = Turned(ux, uy, angle, cx, cy);
                if (family == 1)
                    for (int k = 0; k < 4; ++k) q.x[k] = std::round(q.x[k]), q.y[k] = std::round(q.y[k]);
                break;
            }
            case 2: {
                double top = w * (0.2 + 0.8 * unit(gen)), shift = (unit(gen) - 0.5) * (w - top);
                q = Quad{{cx - top / 2 + shift, cx + top / 2 + shift, cx + w / 2, cx - w / 2},
                         {cy - h / 2, cy - h / 2, cy + h / 2, cy + h / 2}};
                break;
            }
            case 3: {
                double shear = (unit(gen) - 0.5) * w;
                double ux[4] = {-w / 2 - shear, w / 2 - shear, w / 2 + shear, -w / 2 + shear};
                double uy[4] = {-h / 2, -h / 2, h / 2, h / 2};
                q = Turned(ux, uy, angle, cx, cy);
                break;
            }
            case 4: {
                double far = w * (0.05 + 0.1 * unit(gen));
                double ux[4] = {-far / 2, far / 2, w / 2, -w / 2}, uy[4] = {-h / 2, -h / 2, h / 2, h / 2};
                q = Turned(ux, uy, angle, cx, cy);
                break;
            }
            default: {
                double s = 0.3 + unit(gen) * 3.7, t = 0.3 + unit(gen) * 3.7;
                double ux[4] = {-s / 2, s / 2, s / 2, -s / 2}, uy[4] = {-t / 2, -t / 2, t / 2, t / 2};
                for (int k = 0; k < 4; ++k) ux[k] += (unit(gen) - 0.5) * 0.3 * s, uy[k] += (unit(gen) - 0.5) * 0.3 * t;
                q = Turned(ux, uy, angle, 10 + unit(gen), 10 + unit(gen));
                break;
            }
        }
        // Corner 0 takes the source's top-left; either winding is fine.
        LayerRect rect;
        if (Convex(q) && TestFourCorner(q.x, q.y, &rect) == 1) return q;
    }
}

// Area of the convex quad inside the unit pixel at (px, py).
double PixelCoverage(const Quad &q, double px, double py) {
    double ax[16], ay[16], bx[16], by[16];
    int n = 4;
    for (int k = 0; k < 4; ++k) ax[k] = q.x[k], ay[k] = q.y[k];
    const double bounds[4] = {px, px + 1, py, py + 1};
    for (int side = 0; side < 4; ++side) {
        int m = 0;
        auto inside = [&](double x, double y) {
            switch (side) {
                case 0: return x >= bounds[0];
                case 1: return x <= bounds[1];
                case 2: return y >= bounds[2];
                default: return y <= bounds[3];
            }
        };
        for (int i = 0; i < n; ++i) {
            int j = (i + 1) % n;
            bool in1 = inside(ax[i], ay[i]), in2 = inside(ax[j], ay[j]);
            if (in1) bx[m] = ax[i], by[m] = ay[i], ++m;
            if (in1 != in2) {
                double t;
                if (side < 2) t = (bounds[side] - ax[i]) / (ax[j] - ax[i]);
                else t = (bounds[side] - ay[i]) / (ay[j] - ay[i]);
                bx[m] = ax[i] + t * (ax[j] - ax[i]), by[m] = ay[i] + t * (ay[j] - ay[i]), ++m;
            }
        }
        n = m;
        for (int i = 0; i < n; ++i) ax[i] = bx[i], ay[i] = by[i];
        if (n == 0) return 0;
    }
    double area = 0;
    for (int i = 0; i < n; ++i) {
        int j = (i + 1) % n;
        area += ax[i] * ay[j] - ax[j] * ay[i];
    }
    return std::min(1.0, std::fabs(area) / 2);
}

// The projective mapping of the unit square onto the quad, as a 3 x 3 matrix
// taking (u, v, 1) to homogeneous destination coordinates.
void UnitSquareToQuad(const Quad &q, double (&m)[3][3]) {
    const double *x = q.x, *y = q.y;
    double sx = x[0] - x[1] + x[2] - x[3], sy = y[0] - y[1] + y[2] - y[3];
    double g = 0, h = 0;
    if (sx != 0 || sy != 0) {
        double dx1 = x[1] - x[2], dx2 = x[3] - x[2], dy1 = y[1] - y[2], dy2 = y[3] - y[2];
        double det = dx1 * dy2 - dx2 * dy1;
        g = (sx * dy2 - dx2 * sy) / det, h = (dx1 * sy - sx * dy1) / det;
    }
    double rows[3][3] = {{x[1] - x[0] + g * x[1], x[3] - x[0] + h * x[3], x[0]},
                         {y[1] - y[0] + g * y[1], y[3] - y[0] + h * y[3], y[0]},
                         {g, h, 1.0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = rows[i][j];
}

uint32_t SourcePixel(int32_t x, int32_t y, int32_t w, int32_t h) {
    uint32_t r = w > 1 ? static_cast<uint32_t>(x * 255 / (w - 1)) : 128;
    uint32_t g = h > 1 ? static_cast<uint32_t>(y * 255 / (h - 1)) : 64;
    uint32_t b = static_cast<uint32_t>(128 + 127 * std::sin(x * 0.7) * std::cos(y * 0.5));
    return 0xFF000000u | r << 16 | g << 8 | b;
}

struct Tally {
    int64_t cases = 0, holes = 0, spill = 0, badCases = 0, empty = 0, colourPixels = 0;
    double alphaError = 0, colourError = 0;
    int64_t boxPixels = 0;
    int32_t firstX = -1, firstY = -1;  // first hole or spill
    void Add(const Tally &t) {
        cases += t.cases, holes += t.holes, spill += t.spill, badCases += t.badCases, empty += t.empty;
        colourPixels += t.colourPixels, alphaError += t.alphaError, colourError += t.colourError;
        boxPixels += t.boxPixels;
    }
};

struct Truth {
    int32_t w, h;
    std::vector<double> coverage;
    std::vector<double> colour;  // r, g, b per pixel; fully covered pixels only
    std::vector<uint8_t> allIn, allOut;
    bool anyHalf = false;
};

Truth MakeTruth(const Quad &local, const std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t w,
                int32_t h) {
    Truth t{w, h, std::vector<double>(static_cast<size_t>(w) * h), std::vector<double>(static_cast<size_t>(w) * h * 3),
            {}, {}};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            double c = PixelCoverage(local, x, y);
            t.coverage[static_cast<size_t>(y) * w + x] = c;
            if (c >= 0.5) t.anyHalf = true;
        }
    auto cov = [&](int32_t x, int32_t y) {
        return (x < 0 || y < 0 || x >= w || y >= h) ? PixelCoverage(local, x, y) : t.coverage[static_cast<size_t>(y) * w + x];
    };
    t.allIn.assign(static_cast<size_t>(w) * h, 0);
    t.allOut.assign(static_cast<size_t>(w) * h, 0);
    double m[3][3], inv[3][3];
    UnitSquareToQuad(local, m);
    double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                 m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    inv[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    inv[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    inv[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            bool in = true, out = true;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    double c = cov(x + dx, y + dy);
                    in = in && c >= 1 - 1e-9;
                    out = out && c <= 0;
                }
            size_t i = static_cast<size_t>(y) * w + x;
            t.allIn[i] = in, t.allOut[i] = out;
            if (t.coverage[i] < 1 - 1e-9) continue;
            double sum[3] = {0, 0, 0};
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
                    double z = inv[2][0] * px + inv[2][1] * py + inv[2][2];
                    double u = (inv[0][0] * px + inv[0][1] * py + inv[0][2]) / z * sw - 0.5;
                    double v = (inv[1][0] * px + inv[1][1] * py + inv[1][2]) / z * sh - 0.5;
                    u = std::min(std::max(u, 0.0), sw - 1.0), v = std::min(std::max(v, 0.0), sh - 1.0);
                    int32_t u0 = static_cast<int32_t>(u), v0 = static_cast<int32_t>(v);
                    int32_t u1 = std::min(u0 + 1, sw - 1), v1 = std::min(v0 + 1, sh - 1);
                    double fu = u - u0, fv = v - v0;
                    for (int ch = 0; ch < 3; ++ch) {
                        int shift = 16 - 8 * ch;
                        auto at = [&](int32_t a, int32_t b) { return (src[static_cast<size_t>(b) * sw + a] >> shift) & 0xFF; };
                        sum[ch] += (at(u0, v0) * (1 - fu) + at(u1, v0) * fu) * (1 - fv) +
                                   (at(u0, v1) * (1 - fu) + at(u1, v1) * fu) * fv;
                    }
                }
            for (int ch = 0; ch < 3; ++ch) t.colour[i * 3 + ch] = sum[ch] / 16;
        }
    return t;
}

// Scores a straight-alpha drawing (premultiplied when `premultiplied`).
Tally Score(const Truth &t, const std::vector<uint32_t> &pixels, bool premultiplied) {
    Tally s;
    s.cases = 1;
    bool drawn = false;
    int64_t holes = 0, spill = 0;
    for (int32_t y = 0; y < t.h; ++y)
        for (int32_t x = 0; x < t.w; ++x) {
            size_t i = static_cast<size_t>(y) * t.w + x;
            uint32_t p = pixels[i], a = p >> 24;
            drawn = drawn || a > 0;
            if ((t.allIn[i] && a < 240) || (t.allOut[i] && a > 8)) {
                if (s.firstX < 0) s.firstX = x, s.firstY = y;
                t.allIn[i] ? ++holes : ++spill;
            }
            s.alphaError += std::fabs(a - 255 * t.coverage[i]);
            ++s.boxPixels;
            if (t.coverage[i] >= 1 - 1e-9 && a > 0) {
                double e = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    double c = (p >> (16 - 8 * ch)) & 0xFF;
                    if (premultiplied) c = std::min(255.0, c * 255 / a);
                    e += std::fabs(c - t.colour[i * 3 + ch]);
                }
                s.colourError += e / 3;
                ++s.colourPixels;
            }
        }
    s.holes = holes, s.spill = spill;
    s.badCases = holes + spill > 0;
    s.empty = !drawn && t.anyHalf;
    return s;
}

std::vector<uint32_t> DrawOurs(const Quad &q, std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t w,
                               int32_t h) {
    std::vector<uint32_t> dst(static_cast<size_t>(w) * h, 0u);
    Layer *source = CreateCompatibleLayer(src.data(), sw, sh, sw * 4);
    Layer *destination = CreateCompatibleLayer(dst.data(), w, h, w * 4);
    FourCornerMapLayer(destination, source, q.x, q.y);
    DeleteLayer(destination);
    DeleteLayer(source);
    return dst;
}

std::vector<uint32_t> DrawPixman(const Quad &local, std::vector<uint32_t> &src, int32_t sw, int32_t sh, int32_t w,
                                 int32_t h, const Truth *mask) {
    std::vector<uint32_t> dst(static_cast<size_t>(w) * h, 0u);
    pixman_image_t *s = pixman_image_create_bits(PIXMAN_a8r8g8b8, sw, sh, src.data(), sw * 4);
    pixman_image_t *d = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, dst.data(), w * 4);
    int32_t maskStride = (w + 3) & ~3;
    std::vector<uint8_t> maskBytes(static_cast<size_t>(maskStride) * h, 0);
    pixman_image_t *m = nullptr;
    if (mask != nullptr) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                maskBytes[static_cast<size_t>(y) * maskStride + x] =
                    static_cast<uint8_t>(std::lround(255 * mask->coverage[static_cast<size_t>(y) * w + x]));
        m = pixman_image_create_bits(PIXMAN_a8, w, h, reinterpret_cast<uint32_t *>(maskBytes.data()), maskStride);
    }
    double mm[3][3];
    UnitSquareToQuad(local, mm);
    pixman_f_transform forward, inverse, scale;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) forward.m[i][j] = mm[i][j];
    pixman_transform transform;
    if (pixman_f_transform_invert(&inverse, &forward)) {
        pixman_f_transform_init_scale(&scale, sw, sh);
        pixman_f_transform_multiply(&inverse, &scale, &inverse);
        if (pixman_transform_from_pixman_f_transform(&transform, &inverse)) {
            pixman_image_set_transform(s, &transform);
            pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
            pixman_image_set_repeat(s, mask != nullptr ? PIXMAN_REPEAT_PAD : PIXMAN_REPEAT_NONE);
            pixman_image_composite32(PIXMAN_OP_SRC, s, m, d, 0, 0, 0, 0, 0, 0, w, h);
        }
    }
    if (m != nullptr) pixman_image_unref(m);
    pixman_image_unref(s);
    pixman_image_unref(d);
    return dst;
}

void PrintRow(const char *label, const Tally (&t)[3]) {
    std::printf("%-18s %5lld", label, static_cast<long long>(t[0].cases));
    for (const Tally &x : t)
        std::printf(" | %6lld %6lld %4lld %6.2f %6.2f %3lld", static_cast<long long>(x.holes),
                    static_cast<long long>(x.spill), static_cast<long long>(x.badCases),
                    x.boxPixels ? x.alphaError / x.boxPixels : 0.0,
                    x.colourPixels ? x.colourError / x.colourPixels : 0.0, static_cast<long long>(x.empty));
    std::printf("\n");
}

}  // namespace

void RunFourCornerFidelity(int quadsPerFamily) {
    std::mt19937 gen(0x46434631u);
    // ZL_FIDELITY_CASES lists every case where ours has holes, spill or an
    // empty result.
    bool verbose = std::getenv("ZL_FIDELITY_CASES") != nullptr;
    Tally byFamily[6][3], bySize[5][3], total[3];
    for (int family = 0; family < 6; ++family)
        for (int n = 0; n < quadsPerFamily; ++n) {
            Quad q = MakeQuad(family, gen);
            LayerRect rect;
            TestFourCorner(q.x, q.y, &rect);
            int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
            Quad local = q;
            for (int k = 0; k < 4; ++k) local.x[k] -= rect.left, local.y[k] -= rect.top;
            for (int size = 0; size < 5; ++size) {
                int32_t sw = kSizes[size][0], sh = kSizes[size][1];
                std::vector<uint32_t> src(static_cast<size_t>(sw) * sh);
                for (int32_t y = 0; y < sh; ++y)
                    for (int32_t x = 0; x < sw; ++x) src[static_cast<size_t>(y) * sw + x] = SourcePixel(x, y, sw, sh);
                Truth truth = MakeTruth(local, src, sw, sh, w, h);
                Tally scores[3] = {Score(truth, DrawOurs(q, src, sw, sh, w, h), false),
                                   Score(truth, DrawPixman(local, src, sw, sh, w, h, &truth), true),
                                   Score(truth, DrawPixman(local, src, sw, sh, w, h, nullptr), true)};
                if (verbose && (scores[0].badCases || scores[0].empty))
                    std::printf("ours %s %dx%d: holes %lld spill %lld (first at %d,%d) empty %lld corners %.17g,%.17g %.17g,%.17g "
                                "%.17g,%.17g %.17g,%.17g\n",
                                kFamilies[family], sw, sh, static_cast<long long>(scores[0].holes),
                                static_cast<long long>(scores[0].spill), scores[0].firstX, scores[0].firstY,
                                static_cast<long long>(scores[0].empty),
                                q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3]);
                for (int k = 0; k < 3; ++k) {
                    byFamily[family][k].Add(scores[k]);
                    bySize[size][k].Add(scores[k]);
                    total[k].Add(scores[k]);
                }
            }
        }
    std::printf("Four-corner fidelity: %d quads x 5 sources, seed 0x46434631\n", quadsPerFamily * 6);
    std::printf("%-18s %5s | %-36s | %-36s | %-36s\n", "", "cases", "ours", "pixman masked (PAD)",
                "pixman plain (NONE)");
    std::printf("%-18s %5s", "", "");
    for (int k = 0; k < 3; ++k) std::printf(" | %6s %6s %4s %6s %6s %3s", "holes", "spill", "bad", "alpha", "colour", "emp");
    std::printf("\n");
    for (int f = 0; f < 6; ++f) PrintRow(kFamilies[f], byFamily[f]);
    for (int s = 0; s < 5; ++s) {
        char label[32];
        std::snprintf(label, sizeof label, "source %dx%d", kSizes[s][0], kSizes[s][1]);
        PrintRow(label, bySize[s]);
    }
    PrintRow("all", total);
    std::fflush(stdout);
}
