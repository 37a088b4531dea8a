#include "module/platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zl {

#if defined(_WIN32)
namespace {

// Two TLS slots of the library's own, allocated on first use and released
// when the library is unloaded.
class NotifySlots {
public:
    NotifySlots() {
        for (DWORD &slot : slots_) slot = TlsAlloc();
    }
    ~NotifySlots() {
        for (DWORD slot : slots_)
            if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
    }
    DWORD Slot(NotifyFlag flag) const { return slots_[static_cast<int>(flag)]; }

private:
    DWORD slots_[2];
};

const NotifySlots &Slots() {
    static NotifySlots slots;
    return slots;
}

}  // namespace

bool GetNotifyFlag(NotifyFlag flag) {
    DWORD slot = Slots().Slot(flag);
    return slot != TLS_OUT_OF_INDEXES && TlsGetValue(slot) != nullptr;
}

void SetNotifyFlag(NotifyFlag flag, bool on) {
    DWORD slot = Slots().Slot(flag);
    if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, on ? reinterpret_cast<void *>(1) : nullptr);
}

#else

namespace {
thread_local bool notifyFlags[2] = {false, false};
}

bool GetNotifyFlag(NotifyFlag flag) { return notifyFlags[static_cast<int>(flag)]; }
void SetNotifyFlag(NotifyFlag flag, bool on) { notifyFlags[static_cast<int>(flag)] = on; }

#endif

}  // namespace zl
