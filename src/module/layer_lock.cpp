#include "module/platform.h"

#include <cstdlib>

#include "module/once.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#endif

namespace zl {
namespace {

#if defined(_WIN32)
CRITICAL_SECTION layerLock;
#else
std::recursive_mutex *layerLock = nullptr;
#endif
OnceFlag layerLockOnce;

#if defined(_WIN32)
void DeleteLayerLock() { DeleteCriticalSection(&layerLock); }
#endif

// Created on first use. In the DLL its deletion joins the DLL's exit list at
// that moment, which runs when the DLL unloads, after the host's own exit
// handlers. A shared object's handlers share the process's list instead, so
// a host handler registered earlier would run after the deletion: there the
// lock lives until the process ends.
void CreateLayerLock() {
#if defined(_WIN32)
    InitializeCriticalSection(&layerLock);
    std::atexit(DeleteLayerLock);
#else
    layerLock = new std::recursive_mutex;
#endif
}

}  // namespace

void EnterLayerLock() {
    layerLockOnce.Run(CreateLayerLock);
#if defined(_WIN32)
    EnterCriticalSection(&layerLock);
#else
    layerLock->lock();
#endif
}

void LeaveLayerLock() {
#if defined(_WIN32)
    LeaveCriticalSection(&layerLock);
#else
    layerLock->unlock();
#endif
}

}  // namespace zl
