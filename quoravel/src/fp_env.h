// The caller's floating-point environment is saved on entry, a known one is
// used for the arithmetic, and the caller's is put back on return, flags
// included: the pixels never depend on the host's rounding mode, x87
// precision, flush-to-zero or exception masks.
#pragma once

#include <cstdint>

#if !(defined(__i386__) || defined(__x86_64__))
#include <cfenv>
#endif

namespace quoravel {

class KnownFpEnvironment {
public:
#if defined(__i386__) || defined(__x86_64__)
    KnownFpEnvironment() {
        // Round to nearest, every exception masked, 53-bit x87 precision; no
        // flush to zero, no denormals-are-zero, SSE flags clear.
        const uint16_t control = 0x027F;
        const uint32_t mxcsr = 0x1F80;
        __asm__ __volatile__("fnstenv %0" : "=m"(x87_) : : "memory");
        __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr_) : : "memory");
        __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
        __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr) : "memory");
    }
    ~KnownFpEnvironment() {
        __asm__ __volatile__("fldenv %0" : : "m"(x87_) : "memory");
        __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr_) : "memory");
    }

private:
    uint8_t x87_[28];  // FNSTENV image
    uint32_t mxcsr_;
#else
    KnownFpEnvironment() {
        std::fegetenv(&saved_);
        std::fenv_t masked;
        std::feholdexcept(&masked);
        std::fesetround(FE_TONEAREST);
    }
    ~KnownFpEnvironment() { std::fesetenv(&saved_); }

private:
    std::fenv_t saved_;
#endif
public:
    KnownFpEnvironment(const KnownFpEnvironment &) = delete;
    KnownFpEnvironment &operator=(const KnownFpEnvironment &) = delete;
};

}  // namespace quoravel
