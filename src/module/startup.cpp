#include "blend/blend.h"

namespace {

// The library's only static initialiser: the runtime runs it while the module
// loads, before DllMain and before any export can be called.
struct BlendTablesAtLoad {
    BlendTablesAtLoad() { zl::BuildBlendTables(); }
};

BlendTablesAtLoad buildBlendTablesAtLoad;

}  // namespace
