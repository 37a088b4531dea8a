#include "module/fp_env.h"

#if !(defined(__i386__) || defined(__x86_64__))
#include <cfenv>
#include <cstring>
#endif

namespace zl {

#if defined(__i386__) || defined(__x86_64__)

namespace {

// x87: all six exceptions masked, 53-bit precision, round to nearest.
constexpr uint16_t kKnownX87Control = 0x027F;
// SSE: all six exceptions masked, round to nearest, no flush to zero, no
// denormals-are-zero, flags clear.
constexpr uint32_t kKnownMxcsr = 0x1F80;

}  // namespace

void SaveFpEnvironment(FpEnvironment &saved) {
    // FNSTENV also masks every x87 exception afterwards; the known
    // environment is set right after anyway.
    __asm__ __volatile__("fnstenv %0" : "=m"(saved.x87) : : "memory");
    __asm__ __volatile__("stmxcsr %0" : "=m"(saved.mxcsr) : : "memory");
}

void SetKnownFpEnvironment() {
    uint16_t control = kKnownX87Control;
    uint32_t mxcsr = kKnownMxcsr;
    __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr) : "memory");
}

void RestoreFpEnvironment(const FpEnvironment &saved) {
    __asm__ __volatile__("fldenv %0" : : "m"(saved.x87) : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(saved.mxcsr) : "memory");
}

#else

static_assert(sizeof(std::fenv_t) <= sizeof(FpEnvironment::opaque), "fenv_t fits the saved environment");

void SaveFpEnvironment(FpEnvironment &saved) {
    std::fenv_t env;
    std::fegetenv(&env);
    std::memcpy(saved.opaque, &env, sizeof env);
}

void SetKnownFpEnvironment() {
    std::fenv_t env;
    std::feholdexcept(&env);  // masks exceptions where the platform can
    std::fesetround(FE_TONEAREST);
}

void RestoreFpEnvironment(const FpEnvironment &saved) {
    std::fenv_t env;
    std::memcpy(&env, saved.opaque, sizeof env);
    std::fesetenv(&env);
}

#endif

}  // namespace zl
