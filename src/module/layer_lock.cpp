#include "module/platform.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#endif

namespace zl {
namespace {

std::atomic<bool> lockCreated{false};

#if defined(_WIN32)
class RecursiveLock {
public:
    RecursiveLock() { InitializeCriticalSection(&section_); }
    ~RecursiveLock() { DeleteCriticalSection(&section_); }
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
#else
class RecursiveLock {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};
#endif

// A function-local static: constructed once under the runtime's thread-safe
// guard on first use, and its destructor is then added to the exit list.
RecursiveLock &LayerLock() {
    static RecursiveLock lock;
    lockCreated.store(true, std::memory_order_release);
    return lock;
}

}  // namespace

void EnterLayerLock() { LayerLock().Enter(); }
void LeaveLayerLock() { LayerLock().Leave(); }
bool LayerLockExists() { return lockCreated.load(std::memory_order_acquire); }

}  // namespace zl
