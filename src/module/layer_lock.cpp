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

void DeleteLayerLock() {
#if defined(_WIN32)
    DeleteCriticalSection(&layerLock);
#else
    delete layerLock;
    layerLock = nullptr;
#endif
}

// Created on first use; its deletion joins the exit list at that moment, so
// a lock that was never created is never deleted either.
void CreateLayerLock() {
#if defined(_WIN32)
    InitializeCriticalSection(&layerLock);
#else
    layerLock = new std::recursive_mutex;
#endif
    std::atexit(DeleteLayerLock);
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

bool LayerLockExists() { return layerLockOnce.Done(); }

}  // namespace zl
