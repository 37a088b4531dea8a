#include <cstdlib>
#include <memory>

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

// One pass plan: both passes through a fresh intermediate layer, unless the
// plan's first pass would fold.
Attempt TryVariant(Layer *destination, Layer *source, FourCornerPlan *plan) {
    LayerPtr intermediate(CreateLayer(plan->interWidth, plan->interHeight, 1));
    if (!intermediate) return Attempt::Failed;
    SetupFirstPass(intermediate.get(), source, plan);
    if (HasFourCornerFold(plan)) {
        plan->triedVariants |= 1u << (plan->variant - 1);
        return Attempt::Folded;
    }
    if (ResamplePass(intermediate.get(), source, plan) == 0) return Attempt::Failed;
    if (SetupSecondPass(destination, intermediate.get(), plan) == 0) return Attempt::Failed;
    if (ResamplePass(destination, intermediate.get(), plan) == 0) return Attempt::Failed;
    plan->triedVariants = FourCornerAllVariants;
    return Attempt::Drawn;
}

// The work of FourCornerMapLayer, in the known floating-point environment.
__attribute__((noinline)) int32_t MapFourCorner(Layer *destination, Layer *source, const double *x,
                                                const double *y) {
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
        if (PlanFourCorner(width, height, x, y, plan.get()) == 0) return 0;
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
    ScopedFpEnvironment environment;
    return MapFourCorner(destination, source, x, y);
}

}  // extern "C"
