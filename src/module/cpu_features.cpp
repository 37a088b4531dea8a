#include "module/cpu_features.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace zl {

namespace {

bool AskProcessorForAvx2() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    constexpr unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
    if ((ecx & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) || (ebx & (1u << 5)) == 0) return false;
    unsigned low = 0, high = 0;
    __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6u) == 6u;  // XMM and YMM state enabled
#else
    return false;
#endif
}

bool AskProcessorForAvx512Bw() {
#if defined(__i386__) || defined(__x86_64__)
    if (!AskProcessorForAvx2()) return false;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    constexpr unsigned kAvx512F = 1u << 16, kAvx512Bw = 1u << 30;
    if ((ebx & (kAvx512F | kAvx512Bw)) != (kAvx512F | kAvx512Bw)) return false;
    unsigned low = 0, high = 0;
    __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 0xE6u) == 0xE6u;  // XMM, YMM, mask and both ZMM halves
#else
    return false;
#endif
}

// 0: not asked yet, 1: no, 2: yes. Asking twice is harmless.
std::atomic<int> avxAnswer{0};
std::atomic<int> avx512Answer{0};

bool AskedOnce(std::atomic<int> &answer, bool (*ask)()) {
    int known = answer.load(std::memory_order_relaxed);
    if (known == 0) {
        known = ask() ? 2 : 1;
        answer.store(known, std::memory_order_relaxed);
    }
    return known == 2;
}

}  // namespace

bool ProcessorRunsAvx2() { return AskedOnce(avxAnswer, AskProcessorForAvx2); }

bool ProcessorRunsAvx512Bw() { return AskedOnce(avx512Answer, AskProcessorForAvx512Bw); }

}  // namespace zl
