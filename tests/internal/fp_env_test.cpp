#include <gtest/gtest.h>

#include <cstdint>

#include "module/fp_env.h"

#if defined(__i386__) || defined(__x86_64__)

namespace {

struct X87AndSse {
    uint16_t control, status;
    uint32_t mxcsr;
};

X87AndSse Read() {
    X87AndSse s;
    __asm__ __volatile__("fnstcw %0" : "=m"(s.control));
    __asm__ __volatile__("fnstsw %0" : "=m"(s.status));
    __asm__ __volatile__("stmxcsr %0" : "=m"(s.mxcsr));
    return s;
}

void Write(uint16_t control, uint32_t mxcsr) {
    __asm__ __volatile__("fnclex");
    __asm__ __volatile__("fldcw %0" : : "m"(control));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
}

// Storing pi as a float raises the x87 precision flag.
__attribute__((noinline)) void RaiseX87Inexact() {
    float f;
    __asm__ __volatile__("fldpi\n\tfstps %0" : "=m"(f) : : "memory");
}

__attribute__((noinline)) void RaiseSseInexact() {
    volatile double one = 1.0, three = 3.0;
    volatile double third = one / three;
    (void)third;
}

}  // namespace

// The caller's control words come back, and its flags come back exactly:
// flags raised inside the scope are dropped, also when only the x87 status
// changed (the path that loads the whole x87 environment).
TEST(FpEnvironment, ScopeHandsBackTheCallersControlAndFlags) {
    const X87AndSse original = Read();
    struct Case {
        const char *what;
        void (*inside)();
    } cases[] = {{"nothing raised", [] {}},
                 {"x87 flag raised", RaiseX87Inexact},
                 {"SSE flag raised", RaiseSseInexact},
                 {"both raised", [] { RaiseX87Inexact(), RaiseSseInexact(); }}};
    // Round toward zero, 64-bit precision, precision flag masked only;
    // MXCSR rounding up with flush to zero.
    const uint16_t hostControl = 0x0F7F;
    const uint32_t hostMxcsr = 0xDF80;
    for (const Case &c : cases) {
        Write(hostControl, hostMxcsr);
        const X87AndSse before = Read();
        X87AndSse inside;
        {
            zl::ScopedFpEnvironment environment;
            inside = Read();
            c.inside();
        }
        const X87AndSse after = Read();
        Write(original.control, original.mxcsr);
        EXPECT_EQ(inside.control, 0x027F) << c.what;
        EXPECT_EQ(inside.mxcsr & 0xFFC0u, 0x1F80u) << c.what;
        EXPECT_EQ(after.control, before.control) << c.what;
        EXPECT_EQ(after.status, before.status) << c.what;
        EXPECT_EQ(after.mxcsr, before.mxcsr) << c.what;
    }
}

#endif
