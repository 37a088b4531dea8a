#include <cstdlib>
#include <memory>
#include <utility>

#include "fourcorner/fourcorner.h"
#include "layer/layer.h"
#include "module/fp_env.h"

namespace zl {

namespace {

struct FreePlan {
    void operator()(FourCornerPlan *plan) const { std::free(plan); }
};
using PlanPtr = std::unique_ptr<FourCornerPlan, FreePlan>;

PlanPtr NewPlan() { return PlanPtr(static_cast<FourCornerPlan *>(std::calloc(1, sizeof(FourCornerPlan)))); }

struct DeleteLayerRef {
    void operator()(Layer *layer) const { DeleteLayer(layer); }
};
using LayerPtr = std::unique_ptr<Layer, DeleteLayerRef>;

// The work of TestFourCorner, in the known floating-point environment.
__attribute__((noinline)) int32_t ReportFourCorner(const double *x, const double *y, LayerRect *rect) {
    if (rect == nullptr) return 0;
    PlanPtr plan = NewPlan();
    if (!plan) return 0;
    int32_t valid = 0;
    if (x != nullptr && y != nullptr) {
        for (int i = 0; i < 4; ++i) {
            plan->cornerX[i] = x[i];
            plan->cornerY[i] = y[i];
        }
        BoundFourCorner(plan.get());
        valid = SolveFourCorner(plan.get());
    }
    *rect = LayerRect{plan->offsetX, plan->offsetY, WrapAdd(plan->offsetX, plan->boxWidth),
                      WrapAdd(plan->offsetY, plan->boxHeight)};
    return valid;
}

enum class Attempt { Drawn, Folded, Failed };

// Runs fn in the library's floating-point environment and hands the caller's
// back. Host procedures (hooks, receivers) are never called from inside:
// they run in the host's own environment.
template <class Fn>
__attribute__((noinline)) auto Calculate(Fn fn) {
    ScopedFpEnvironment environment;
    return fn();
}

// Straight-alpha pixel between p0 and p1, t / 256 of the way, weighted by
// alpha so that a transparent neighbour does not darken the colour.
uint32_t Between(uint32_t p0, uint32_t p1, uint32_t t) {
    if (t == 0) return (p0 >> 24) != 0 ? p0 : 0;
    if ((p0 >> 24) == (p1 >> 24) && (p0 >> 24) != 0) {
        // Equal alphas cancel: the same result without a division.
        uint32_t pixel = p0 & 0xFF000000u;
        for (int shift = 0; shift <= 16; shift += 8)
            pixel |= (((256 - t) * ((p0 >> shift) & 0xFF) + t * ((p1 >> shift) & 0xFF) + 128) >> 8) << shift;
        return pixel;
    }
    uint32_t w0 = (256 - t) * (p0 >> 24), w1 = t * (p1 >> 24);
    uint32_t weight = w0 + w1;
    if (weight == 0) return 0;
    uint32_t pixel = ((weight + 128) >> 8) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t sum = w0 * ((p0 >> shift) & 0xFF) + w1 * ((p1 >> shift) & 0xFF);
        pixel |= ((sum + weight / 2) / weight) << shift;
    }
    return pixel;
}

// Enlarges the source across the first pass's lines (rows when `rows`, else
// columns) into `enlarged`: each new line lies between the two nearest
// source lines, linear between their centres and held beyond the outer
// ones. Integer arithmetic only.
bool EnlargeSource(Layer *enlarged, Layer *source, bool rows) {
    AccessBracket from(source, nullptr);
    if (!from.Opened()) return false;
    AccessBracket to(enlarged, nullptr);
    if (!to.Opened()) return false;
    const LayerAccess &src = from.Access();
    const LayerAccess &dst = to.Access();
    int64_t lines = rows ? src.height : src.width, count = rows ? dst.height : dst.width;
    int32_t samples = rows ? src.width : src.height;
    if ((rows ? dst.width : dst.height) != samples || lines <= 0) return false;
    auto at = [](const LayerAccess &a, bool byRow, int64_t line, int32_t sample) -> uint32_t * {
        int32_t x = static_cast<int32_t>(byRow ? sample : line), y = static_cast<int32_t>(byRow ? line : sample);
        return reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(a.pixels) +
                                            static_cast<intptr_t>(y) * a.rowBytes) + x;
    };
    for (int64_t i = 0; i < count; ++i) {
        // Source position of line i's centre, minus half a line, in units of
        // 1 / (2 * count) line.
        int64_t position = (2 * i + 1) * lines - count;
        int64_t first = 0, t = 0;
        if (position > 0) {
            first = position / (2 * count);
            t = (position % (2 * count)) * 256 / (2 * count);
        }
        int64_t second = first + 1 < lines ? first + 1 : first;
        for (int32_t k = 0; k < samples; ++k)
            *at(dst, rows, i, k) = Between(*at(src, rows, first, k), *at(src, rows, second, k), static_cast<uint32_t>(t));
    }
    return true;
}

// Enlarges the source across the first pass's lines when each would
// otherwise cover many destination pixels across, and points the plan and
// `source` at the copy and `intermediate` at an intermediate layer of the
// copy's size. Without room for either, everything stays as it was.
void EnlargeAcrossLines(LayerPtr &enlarged, LayerPtr &intermediate, Layer *&source, FourCornerPlan *plan) {
    int32_t lines = Calculate([&] { return FirstPassLinesNeeded(plan); });
    if (lines <= 0) return;
    bool rows = plan->variant == 1 || plan->variant == 3;
    int32_t width = rows ? plan->sourceWidth : lines, height = rows ? lines : plan->sourceHeight;
    int32_t interWidth = plan->interWidth, interHeight = plan->interHeight;
    (plan->variant == 1 || plan->variant == 4 ? interHeight : interWidth) = lines;
    LayerPtr copy(CreateLayer(width, height, 1));
    if (!copy) return;
    LayerPtr wider(CreateLayer(interWidth, interHeight, 1));
    if (!wider || !EnlargeSource(copy.get(), source, rows)) return;
    plan->sourceWidth = width;
    plan->sourceHeight = height;
    plan->interWidth = interWidth;
    plan->interHeight = interHeight;
    source = copy.get();
    enlarged = std::move(copy);
    intermediate = std::move(wider);
}

// One pass plan: both passes through a fresh intermediate layer, unless the
// plan's first pass would fold or its second pass meet a pole.
Attempt TryVariant(Layer *destination, Layer *source, FourCornerPlan *plan) {
    LayerPtr intermediate(CreateLayer(plan->interWidth, plan->interHeight, 1));
    if (!intermediate) return Attempt::Failed;
    bool folds = Calculate([&] {
        SetupFirstPass(intermediate.get(), source, plan);
        return HasFourCornerFold(plan) || HasSecondPassPole(plan);
    });
    if (folds) {
        plan->triedVariants |= 1u << (plan->variant - 1);
        return Attempt::Folded;
    }
    LayerPtr enlarged;
    EnlargeAcrossLines(enlarged, intermediate, source, plan);
    Calculate([&] { return SetupFirstPass(intermediate.get(), source, plan); });
    if (ResamplePass(intermediate.get(), source, plan) == 0) return Attempt::Failed;
    if (Calculate([&] { return SetupSecondPass(destination, intermediate.get(), plan); }) == 0)
        return Attempt::Failed;
    if (ResamplePass(destination, intermediate.get(), plan) == 0) return Attempt::Failed;
    plan->triedVariants = FourCornerAllVariants;
    return Attempt::Drawn;
}

// The work of FourCornerMapLayer, in the caller's floating-point environment:
// the library's own arithmetic switches to its environment where it runs.
int32_t MapFourCorner(Layer *destination, Layer *source, const double *x, const double *y) {
    PlanPtr plan = NewPlan();
    if (!plan) return 0;
    if (source == nullptr) return 0;
    NotifyRefresh(source);
    // The source is mapped as its visible part. With nothing visible it is
    // mapped as 0 x 0: no intermediate layer can hold that, so the call
    // returns 0 without an update, and without first making an intermediate
    // as large as the quad for nothing.
    int32_t width = 0, height = 0;
    if (!SourceExtent(source, width, height)) width = height = 0;
    bool drawn = false;
    while (plan->triedVariants != FourCornerAllVariants) {
        if (Calculate([&] { return PlanFourCorner(width, height, x, y, plan.get()); }) == 0) return 0;
        Attempt attempt = TryVariant(destination, source, plan.get());
        if (attempt == Attempt::Failed) return 0;
        drawn = attempt == Attempt::Drawn;
    }
    NotifyUpdate(destination);
    return drawn ? 1 : 0;
}

}  // namespace

}  // namespace zl

using namespace zl;

extern "C" {

int32_t ZL_CALL TestFourCorner(const double *x, const double *y, LayerRect *rect) {
    ScopedFpEnvironment environment;
    return ReportFourCorner(x, y, rect);
}

int32_t ZL_CALL FourCornerMapLayer(Layer *destination, Layer *source, const double *x, const double *y) {
    // Receivers run between the passes, outside their brackets.
    KeepAlive keep(destination, source);
    if (!keep.Kept()) return 0;
    return MapFourCorner(destination, source, x, y);
}

}  // extern "C"
