// The DLL's own entry point, in place of the runtime's DLL start-up code.
//
// That start-up code brings a static thread-local-storage directory with it,
// and Windows refuses DisableThreadLibraryCalls for a module that has one: the
// library would then be called for every thread the host creates. The library
// needs little of that code, so this entry point does it itself, in the order
// the library promises its host:
//   process attach: pseudo-relocations, the static initialisers, DllMain;
//   process detach: DllMain, then the module's own exit list, newest first.
// `atexit` called from inside the module adds to that exit list, so nothing
// registered by the library outlives it in the process's exit list.
#if defined(_WIN32)
#include <windows.h>

#include <atomic>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

// The runtime's pseudo-relocation step (libmingw32): patches references to
// data imported from other DLLs. It does nothing when the link made none.
void _pei386_runtime_relocator(void);

typedef void(__cdecl *ModuleProc)(void);

// Laid out by the linker: -1 (or a count), the constructors, then 0.
extern ModuleProc __CTOR_LIST__[];

}  // extern "C"

namespace {

constexpr int kExitListCapacity = 32;
ModuleProc exitList[kExitListCapacity];
std::atomic<int> exitCount{0};

// The constructors run from the last entry to the first, as the compiler
// runtime orders them.
void RunStaticInitialisers() {
    int count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) ++count;
    for (int i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

// Newest first; a procedure that registers another gets it run as well.
void RunExitList() {
    for (;;) {
        int count = exitCount.load(std::memory_order_acquire);
        if (count == 0) return;
        exitCount.store(count - 1, std::memory_order_release);
        ModuleProc proc = exitList[count - 1];
        if (proc != nullptr) proc();
    }
}

}  // namespace

extern "C" {

int __cdecl atexit(ModuleProc proc) {
    if (proc == nullptr) return -1;
    int slot = exitCount.fetch_add(1, std::memory_order_acq_rel);
    if (slot >= kExitListCapacity) {
        exitCount.fetch_sub(1, std::memory_order_acq_rel);
        return -1;
    }
    exitList[slot] = proc;
    return 0;
}

BOOL WINAPI ZantrelDllEntry(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        _pei386_runtime_relocator();
        RunStaticInitialisers();
        if (DllMain(module, reason, reserved)) return TRUE;
        RunExitList();  // the load fails: undo what the initialisers registered
        return FALSE;
    }
    BOOL result = DllMain(module, reason, reserved);
    if (reason == DLL_PROCESS_DETACH) RunExitList();
    return result;
}

}  // extern "C"

#endif
