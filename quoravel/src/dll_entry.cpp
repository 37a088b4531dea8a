// Quoravel.dll's own entry point in place of the runtime's DLL start-up code,
// which would give the module a thread-local-storage directory (so every
// thread the host starts would call into it) and per-load runtime state that
// a host loading and unloading the layer library many times would pile up.
// The library has no static initialisers and nothing to tear down.
#include <windows.h>

extern "C" BOOL WINAPI QuoravelDllEntry(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
