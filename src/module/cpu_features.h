// What the processor and the operating system let the library run, asked
// once per process.
#pragma once

namespace zl {

// True when the processor has AVX and AVX2 and the operating system saves
// the YMM registers (XGETBV), so four-lane double arithmetic and eight-lane
// gathers can run.
bool ProcessorRunsAvx2();

// True when, beyond that, the processor has AVX-512 F and BW and the
// operating system saves the mask and 512-bit registers.
bool ProcessorRunsAvx512Bw();

}  // namespace zl
