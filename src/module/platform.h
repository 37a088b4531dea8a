// The platform services the rest of the library uses: the process-wide layer
// lock and the per-thread notification flags.
#pragma once

#include <cstdint>

namespace zl {

// The process-wide recursive lock that serialises layer deletion. It is
// created on first use; its deletion is registered with the runtime's exit
// list at that moment, so an unused lock is never created nor deleted.
void EnterLayerLock();
void LeaveLayerLock();
bool LayerLockExists();

class LayerLockGuard {
public:
    LayerLockGuard() { EnterLayerLock(); }
    ~LayerLockGuard() { LeaveLayerLock(); }
    LayerLockGuard(const LayerLockGuard &) = delete;
    LayerLockGuard &operator=(const LayerLockGuard &) = delete;
};

// Per-thread flags that let notifications reach the host's receivers.
enum class NotifyFlag { Refresh = 0, Update = 1 };
bool GetNotifyFlag(NotifyFlag flag);
void SetNotifyFlag(NotifyFlag flag, bool on);

}  // namespace zl
