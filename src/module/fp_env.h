// The floating-point environment of the calling thread: the four-corner
// operations run their double arithmetic in a known environment and hand the
// caller's back unchanged on return.
#pragma once

#include <cstdint>

namespace zl {

// Everything that decides how double arithmetic rounds and traps, and the
// sticky exception flags. On x86 that is the x87 environment (control word,
// status word with its flags) and MXCSR.
struct FpEnvironment {
#if defined(__i386__) || defined(__x86_64__)
    uint16_t x87Control;
    uint16_t x87Status;
    uint32_t mxcsr;
#else
    uint8_t opaque[64];
#endif
};

// Stores the current environment in `saved`.
void SaveFpEnvironment(FpEnvironment &saved);
// Rounding to nearest, every exception masked, x87 precision 53 bits.
void SetKnownFpEnvironment();
// Puts back what SaveFpEnvironment stored, flags included.
void RestoreFpEnvironment(const FpEnvironment &saved);

// Saves the caller's environment and sets the known one for the lifetime of
// the object. Work that depends on the environment belongs in a function
// that is not inlined into the scope, so that the compiler cannot move its
// arithmetic across the switch.
class ScopedFpEnvironment {
public:
    ScopedFpEnvironment() {
        SaveFpEnvironment(saved_);
        SetKnownFpEnvironment();
    }
    ~ScopedFpEnvironment() { RestoreFpEnvironment(saved_); }
    ScopedFpEnvironment(const ScopedFpEnvironment &) = delete;
    ScopedFpEnvironment &operator=(const ScopedFpEnvironment &) = delete;

private:
    FpEnvironment saved_;
};

}  // namespace zl
