#include "module/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>

#include "module/once.h"
#endif

namespace zl {

#if defined(_WIN32)
namespace {

// Two TLS slots of the library's own (not static TLS, which would give the
// DLL a TLS directory), allocated on first use and freed when the library is
// unloaded, so that loading it again and again uses up no slots.
DWORD notifySlots[2] = {TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES};
OnceFlag notifySlotsOnce;

void FreeNotifySlots() {
    for (DWORD &slot : notifySlots) {
        if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
        slot = TLS_OUT_OF_INDEXES;
    }
}

void AllocateNotifySlots() {
    for (DWORD &slot : notifySlots) slot = TlsAlloc();
    std::atexit(FreeNotifySlots);
}

DWORD NotifySlot(NotifyFlag flag) {
    notifySlotsOnce.Run(AllocateNotifySlots);
    return notifySlots[static_cast<int>(flag)];
}

}  // namespace

bool GetNotifyFlag(NotifyFlag flag) {
    DWORD slot = NotifySlot(flag);
    return slot != TLS_OUT_OF_INDEXES && TlsGetValue(slot) != nullptr;
}

void SetNotifyFlag(NotifyFlag flag, bool on) {
    DWORD slot = NotifySlot(flag);
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
