// What the probe DLL's DllMain saw, as its export hands it to the host.
#pragma once

#include <cstdint>

struct ProbeReport {
    int32_t processAttaches;
    int32_t threadAttaches;
    int32_t threadDetaches;
    int32_t threadCallsDisabled;       // DisableThreadLibraryCalls succeeded
    int32_t tablesBuiltBeforeDllMain;  // the static initialiser had run
};

typedef void(__cdecl *ProbeGetReportProc)(ProbeReport *out);
typedef void(__cdecl *ProbeLogUnloadIntoProc)(char *log);
