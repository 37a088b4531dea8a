// What the processor and the operating system let the library run, asked
// once per process.
#pragma once

namespace zl {

// True when the processor has AVX and AVX2 and the operating system saves
// the YMM registers (XGETBV), so four-lane double arithmetic and eight-lane
// gathers can run.
bool ProcessorRunsAvx2();

}  // namespace zl
