// Runs a creation step once per load of the module, whichever thread gets
// there first, without the runtime's guarded statics (which would bring a
// threads library, and with it a static TLS directory, into the DLL).
#pragma once

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

namespace zl {

class OnceFlag {
public:
    template <class Fn>
    void Run(Fn create) {
        if (state_.load(std::memory_order_acquire) == kDone) return;
        int expected = kNotStarted;
        if (state_.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel)) {
            create();
            state_.store(kDone, std::memory_order_release);
            return;
        }
        while (state_.load(std::memory_order_acquire) != kDone) WaitForOtherThread();
    }
    bool Done() const { return state_.load(std::memory_order_acquire) == kDone; }

private:
    static void WaitForOtherThread() {
#if defined(_WIN32)
        SwitchToThread();
#else
        sched_yield();
#endif
    }
    static constexpr int kNotStarted = 0, kRunning = 1, kDone = 2;
    std::atomic<int> state_{kNotStarted};
};

}  // namespace zl
