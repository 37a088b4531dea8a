// What the processor and the system offer beyond the build's baseline.
#pragma once

namespace zl {

// True when the processor has AVX2 and the system saves the 256-bit
// registers across thread switches (both must hold before any AVX2
// instruction runs).
bool ProcessorHasAvx2();

}  // namespace zl
