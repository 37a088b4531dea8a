#include "blend/blend.h"
#include "blend/composite_run.h"
#include "module/cpu_features.h"

namespace {

// The library's only static initialiser: the runtime runs it while the module
// loads, before DllMain and before any export can be called. It builds the
// blend tables and picks the widest compositing runs the processor has.
struct BlendTablesAtLoad {
    BlendTablesAtLoad() {
        zl::BuildBlendTables();
        zl::SelectCompositeRuns(zl::ProcessorRunsAvx2(), zl::ProcessorRunsAvx512Bw());
    }
};

BlendTablesAtLoad buildBlendTablesAtLoad;

}  // namespace
