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

// FNSTENV and FLDENV take a hundred cycles or more each, which a host
// driving the scaler line by line pays on every call. The control words are
// saved and set directly; the whole x87 environment is loaded back only when
// the status word (the sticky flags, or anything else in it) changed.
void SaveFpEnvironment(FpEnvironment &saved) {
    __asm__ __volatile__("fnstcw %0" : "=m"(saved.x87Control) : : "memory");
    __asm__ __volatile__("fnstsw %0" : "=m"(saved.x87Status) : : "memory");
    __asm__ __volatile__("stmxcsr %0" : "=m"(saved.mxcsr) : : "memory");
}

void SetKnownFpEnvironment() {
    uint16_t control = kKnownX87Control;
    uint32_t mxcsr = kKnownMxcsr;
    __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr) : "memory");
}

namespace {

// The 32-bit protected-mode FNSTENV image: control word at byte 0, status
// word at byte 4 (the same layout in 64-bit mode without a REX prefix).
struct X87Environment {
    uint16_t control, unused0, status, unused1;
    uint8_t rest[20];
};
static_assert(sizeof(X87Environment) == 28, "FNSTENV image");

void RestoreX87StatusAndControl(uint16_t control, uint16_t status) {
    X87Environment env;
    __asm__ __volatile__("fnstenv %0" : "=m"(env) : : "memory");
    env.control = control;
    env.status = status;
    __asm__ __volatile__("fldenv %0" : : "m"(env) : "memory");
}

}  // namespace

void RestoreFpEnvironment(const FpEnvironment &saved) {
    uint16_t status;
    __asm__ __volatile__("fnstsw %0" : "=m"(status) : : "memory");
    if (status == saved.x87Status)
        __asm__ __volatile__("fldcw %0" : : "m"(saved.x87Control) : "memory");
    else
        RestoreX87StatusAndControl(saved.x87Control, saved.x87Status);
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
