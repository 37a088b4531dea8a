#include "module/cpu_features.h"

#include <cstdint>

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define ZL_ASK_CPUID 1
#endif

namespace zl {

#if defined(ZL_ASK_CPUID)

namespace {

// The extended control register 0: which register states the system saves.
uint64_t ReadXcr0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

bool ProcessorHasAvx2() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const unsigned osxsave = 1u << 27, avx = 1u << 28;
    if ((ecx & osxsave) == 0 || (ecx & avx) == 0) return false;
    // The SSE and AVX register states (bits 1 and 2) must both be saved.
    if ((ReadXcr0() & 6) != 6) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 5)) != 0;
}

#else

bool ProcessorHasAvx2() { return false; }

#endif

}  // namespace zl
