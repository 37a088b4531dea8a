// A DLL built from the library's objects and its entry point, whose DllMain
// does what the library's does and also records what it saw, so that a host
// can check the load and unload sequence and the thread calls.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "blend/blend.h"
#include "probe_report.h"

namespace {

ProbeReport report;
char *unloadLog = nullptr;

void LogUnloadStep(char step) {
    if (unloadLog == nullptr) return;
    size_t length = std::strlen(unloadLog);
    unloadLog[length] = step;
    unloadLog[length + 1] = '\0';
}

void FirstExitProc() { LogUnloadStep('1'); }
void SecondExitProc() { LogUnloadStep('2'); }

// A static object with a destructor: the compiler registers its destruction
// with atexit while the static initialisers run, before DllMain.
struct StaticWithDestructor {
    ~StaticWithDestructor() { LogUnloadStep('S'); }
} staticWithDestructor;

bool BlendTablesAreBuilt() {
    using zl::TableIndex;
    return zl::ProductTable[TableIndex(255, 255)] == 65280 && zl::UnderAlphaTable[TableIndex(0, 77)] == 77 &&
           zl::OverWeightTable[TableIndex(100, 55)] == 0xA55A && (zl::ReciprocalTable[255] & 0xFFFF) == 515;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ++report.processAttaches;
        report.tablesBuiltBeforeDllMain = BlendTablesAreBuilt() ? 1 : 0;
        report.threadCallsDisabled = DisableThreadLibraryCalls(module) ? 1 : 0;
        std::atexit(FirstExitProc);
        std::atexit(SecondExitProc);
        break;
    case DLL_THREAD_ATTACH:
        ++report.threadAttaches;
        break;
    case DLL_THREAD_DETACH:
        ++report.threadDetaches;
        break;
    case DLL_PROCESS_DETACH:
        LogUnloadStep('M');
        break;
    }
    return TRUE;
}

__declspec(dllexport) void __cdecl ProbeGetReport(ProbeReport *out) { *out = report; }

// The host's buffer, an empty string of room for at least 8 characters, gets
// one letter per unload step: 'M' for DllMain, the exit procedures' digits
// and 'S' for the static object's destructor.
__declspec(dllexport) void __cdecl ProbeLogUnloadInto(char *log) { unloadLog = log; }

}  // extern "C"
