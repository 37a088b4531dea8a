// Four-corner mapping speed, with pixman's projective transform and bilinear
// filter as a peer.
//
// A 1920 x 1080 source is drawn into a perspective quad inside a 1920 x 1080
// destination. FourCornerMapLayer draws the whole quad per iteration; pixman
// composites (OVER) the quad's bounding rectangle through the inverse of the
// same projective mapping, with PIXMAN_FILTER_BILINEAR and no repeat, so
// pixels outside the source come out transparent. Items are destination
// pixels of the bounding rectangle, the same count for both.
//
// The two differ in method (area averaging with antialiased edges in two
// passes, against one bilinear sample per pixel, premultiplied), so their
// pixels differ; pixman is here for speed only.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "ZantrelLayer.h"
#include "fourcorner_fidelity.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int32_t kRowBytes = kWidth * 4;

// Corner 0 receives the source's top-left corner, then clockwise.
const double kQuadX[4] = {310.5, 1650.25, 1860.0, 95.75};
const double kQuadY[4] = {120.25, 210.5, 1010.0, 940.5};

const std::vector<uint32_t> &SourcePixels() {
    static const std::vector<uint32_t> pixels = [] {
        std::mt19937 gen(0x4643u);
        std::vector<uint32_t> p(static_cast<size_t>(kWidth) * kHeight);
        for (uint32_t &v : p) v = gen() | 0xFF000000u;  // opaque, so premultiplied equals straight
        return p;
    }();
    return pixels;
}

LayerRect Box() {
    LayerRect rect{};
    TestFourCorner(kQuadX, kQuadY, &rect);
    return rect;
}

void SetRate(benchmark::State &state) {
    LayerRect box = Box();
    int64_t pixels = static_cast<int64_t>(box.right - box.left) * (box.bottom - box.top);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * pixels);
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * pixels / 1e6,
                                                  benchmark::Counter::kIsRate);
}

void BM_FourCornerMapLayer(benchmark::State &state) {
    std::vector<uint32_t> src = SourcePixels();
    std::vector<uint32_t> dst(static_cast<size_t>(kWidth) * kHeight, 0u);
    Layer *source = CreateCompatibleLayer(src.data(), kWidth, kHeight, kRowBytes);
    Layer *destination = CreateCompatibleLayer(dst.data(), kWidth, kHeight, kRowBytes);
    LayerRect box = Box();
    Layer *window = CreateClippedLayer(destination);
    ClipLayerXYWH(window, box.left, box.top, box.right - box.left, box.bottom - box.top);
    for (auto _ : state) {
        if (FourCornerMapLayer(window, source, kQuadX, kQuadY) == 0) {
            state.SkipWithError("FourCornerMapLayer failed");
            break;
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
    DeleteLayer(window);
    DeleteLayer(destination);
    DeleteLayer(source);
}

// The projective mapping of the unit square onto the quad, as a 3 x 3 matrix
// taking (u, v, 1) to homogeneous destination coordinates.
void UnitSquareToQuad(double (&m)[3][3]) {
    const double *x = kQuadX, *y = kQuadY;
    double sx = x[0] - x[1] + x[2] - x[3], sy = y[0] - y[1] + y[2] - y[3];
    double dx1 = x[1] - x[2], dx2 = x[3] - x[2], dy1 = y[1] - y[2], dy2 = y[3] - y[2];
    double det = dx1 * dy2 - dx2 * dy1;
    double g = (sx * dy2 - dx2 * sy) / det, h = (dx1 * sy - sx * dy1) / det;
    double rows[3][3] = {{x[1] - x[0] + g * x[1], x[3] - x[0] + h * x[3], x[0]},
                         {y[1] - y[0] + g * y[1], y[3] - y[0] + h * y[3], y[0]},
                         {g, h, 1.0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = rows[i][j];
}

void BM_PixmanProjectiveBilinear(benchmark::State &state) {
    std::vector<uint32_t> src = SourcePixels();
    std::vector<uint32_t> dst(static_cast<size_t>(kWidth) * kHeight, 0u);
    pixman_image_t *srcImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, src.data(), kRowBytes);
    pixman_image_t *dstImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, dst.data(), kRowBytes);
    // Destination to source: the inverse of the quad mapping, then the unit
    // square scaled to the source's size.
    double m[3][3];
    UnitSquareToQuad(m);
    pixman_f_transform forward, inverse, scale;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) forward.m[i][j] = m[i][j];
    pixman_f_transform_invert(&inverse, &forward);
    pixman_f_transform_init_scale(&scale, kWidth, kHeight);
    pixman_f_transform_multiply(&inverse, &scale, &inverse);
    pixman_transform transform;
    if (srcImage == nullptr || dstImage == nullptr || !pixman_transform_from_pixman_f_transform(&transform, &inverse)) {
        state.SkipWithError("pixman set-up failed");
    } else {
        pixman_image_set_transform(srcImage, &transform);
        pixman_image_set_filter(srcImage, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(srcImage, PIXMAN_REPEAT_NONE);
        LayerRect box = Box();
        for (auto _ : state) {
            pixman_image_composite32(PIXMAN_OP_OVER, srcImage, nullptr, dstImage, box.left, box.top, 0, 0, box.left,
                                     box.top, box.right - box.left, box.bottom - box.top);
            benchmark::DoNotOptimize(dst.data());
            benchmark::ClobberMemory();
        }
    }
    SetRate(state);
    if (srcImage != nullptr) pixman_image_unref(srcImage);
    if (dstImage != nullptr) pixman_image_unref(dstImage);
}

}  // namespace

BENCHMARK(BM_FourCornerMapLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanProjectiveBilinear)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    // The fidelity table comes first in the same run; --fidelity_quads=N per
    // family (default 67: 2,010 cases), 0 to skip it.
    int quads = 67;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--fidelity_quads=", 17) == 0) quads = std::atoi(argv[i] + 17);
    if (quads > 0) RunFourCornerFidelity(quads);
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("pixman", pixman_version_string());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
