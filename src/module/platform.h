// The platform services the rest of the library uses: the process-wide layer
// lock and the per-thread notification flags.
#pragma once

#include <cstdint>

namespace zl {

// The process-wide recursive lock that serialises layer deletion and the
// records kept alive by open accesses. It is created on first use.
void EnterLayerLock();
void LeaveLayerLock();

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
