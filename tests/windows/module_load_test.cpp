// The DLL as a Windows host loads it: explicitly, with threads of its own,
// and unloaded and loaded again many times. This program does not link the
// library; it loads it with LoadLibrary like an application does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "probe_report.h"

namespace {

const char kLibrary[] = "ZantrelLayer.dll";
const char kProbe[] = "ZantrelProbe.dll";

const IMAGE_DATA_DIRECTORY &Directory(HMODULE module, int index) {
    const BYTE *base = reinterpret_cast<const BYTE *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[index];
}

template <class Proc>
Proc Export(HMODULE module, const char *name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

TEST(ModuleImage, NeitherDllHasATlsDirectory) {
    for (const char *name : {kLibrary, kProbe}) {
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << name;
        const IMAGE_DATA_DIRECTORY &tls = Directory(module, IMAGE_DIRECTORY_ENTRY_TLS);
        EXPECT_EQ(tls.VirtualAddress, 0u) << name;
        EXPECT_EQ(tls.Size, 0u) << name;
        FreeLibrary(module);
    }
}

DWORD WINAPI ShortThread(LPVOID) { return 0; }

TEST(ModuleLoad, ThreadCallsAreOffAndTheTablesPrecedeDllMain) {
    HMODULE probe = LoadLibraryA(kProbe);
    ASSERT_NE(probe, nullptr);
    auto getReport = Export<ProbeGetReportProc>(probe, "ProbeGetReport");
    ASSERT_NE(getReport, nullptr);
    std::vector<HANDLE> threads;
    for (int i = 0; i < 8; ++i) threads.push_back(CreateThread(nullptr, 0, ShortThread, nullptr, 0, nullptr));
    for (HANDLE thread : threads) {
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    ProbeReport report{};
    getReport(&report);
    EXPECT_EQ(report.processAttaches, 1);
    EXPECT_EQ(report.tablesBuiltBeforeDllMain, 1);
    EXPECT_EQ(report.threadCallsDisabled, 1);
    EXPECT_EQ(report.threadAttaches, 0);
    EXPECT_EQ(report.threadDetaches, 0);
    FreeLibrary(probe);
}

TEST(ModuleLoad, UnloadRunsDllMainThenTheExitListNewestFirst) {
    HMODULE probe = LoadLibraryA(kProbe);
    ASSERT_NE(probe, nullptr);
    char log[16] = "";
    Export<ProbeLogUnloadIntoProc>(probe, "ProbeLogUnloadInto")(log);
    ASSERT_TRUE(FreeLibrary(probe));
    EXPECT_EQ(GetModuleHandleA(kProbe), nullptr);
    // DllMain, then the two procedures DllMain registered (newest first), then
    // the static object's destructor registered before DllMain ran.
    EXPECT_STREQ(log, "M21S");
}

// The exports one load/use/unload cycle needs, found afresh after each load.
struct LibraryProcs {
    decltype(&CreateLayer) createLayer;
    decltype(&CreateClippedLayer) createClippedLayer;
    decltype(&ClipLayerXYWH) clipLayerXYWH;
    decltype(&SetLayer) setLayer;
    decltype(&CopyLayer) copyLayer;
    decltype(&RefreshLayerEx) refreshLayerEx;
    decltype(&DeleteLayer) deleteLayer;

    bool Find(HMODULE module) {
        createLayer = Export<decltype(createLayer)>(module, "CreateLayer");
        createClippedLayer = Export<decltype(createClippedLayer)>(module, "CreateClippedLayer");
        clipLayerXYWH = Export<decltype(clipLayerXYWH)>(module, "ClipLayerXYWH");
        setLayer = Export<decltype(setLayer)>(module, "SetLayer");
        copyLayer = Export<decltype(copyLayer)>(module, "CopyLayer");
        refreshLayerEx = Export<decltype(refreshLayerEx)>(module, "RefreshLayerEx");
        deleteLayer = Export<decltype(deleteLayer)>(module, "DeleteLayer");
        return createLayer && createClippedLayer && clipLayerXYWH && setLayer && copyLayer && refreshLayerEx &&
               deleteLayer;
    }
};

// A refresh receiver that redraws the window it is handed from a source
// layer, which in turn gets its own refresh call: a two-step pull chain.
struct Redraw {
    LayerNotifier notifier;
    const LibraryProcs *procs;
    Layer *source;
    int sourceRefreshes;
};
struct SourceRefresh {
    LayerNotifier notifier;
    Redraw *redraw;
};

int32_t ZL_CALL RedrawFromSource(Layer *layer, LayerNotifier *notifier) {
    Redraw *redraw = reinterpret_cast<Redraw *>(notifier);
    return redraw->procs->copyLayer(layer, redraw->source);
}

int32_t ZL_CALL CountSourceRefresh(Layer *, LayerNotifier *notifier) {
    ++reinterpret_cast<SourceRefresh *>(notifier)->redraw->sourceRefreshes;
    return 1;
}

// Loads the library, redraws a clipped window through a notification chain
// (so the per-thread flags are used), deletes every layer (so the lock is
// created) and unloads it. False, with a message, when a step fails.
::testing::AssertionResult LoadUseUnload() {
    HMODULE module = LoadLibraryA(kLibrary);
    if (module == nullptr) return ::testing::AssertionFailure() << "LoadLibrary failed";
    LibraryProcs procs;
    if (!procs.Find(module)) return ::testing::AssertionFailure() << "an export is missing";
    Layer *source = procs.createLayer(8, 8, 1);
    Layer *canvas = procs.createLayer(16, 16, 1);
    Layer *window = procs.createClippedLayer(canvas);
    procs.clipLayerXYWH(window, 4, 4, 8, 8);
    procs.setLayer(source, 0xFF336699);
    Redraw redraw{{RedrawFromSource}, &procs, source, 0};
    SourceRefresh sourceRefresh{{CountSourceRefresh}, &redraw};
    canvas->refreshNotifier = &redraw.notifier;
    source->refreshNotifier = &sourceRefresh.notifier;
    int32_t refreshed = procs.refreshLayerEx(window);
    uint32_t drawn = canvas->pixels[5 * 16 + 5];
    uint32_t outside = canvas->pixels[3 * 16 + 3];
    procs.deleteLayer(window);
    procs.deleteLayer(canvas);
    procs.deleteLayer(source);
    FreeLibrary(module);
    if (GetModuleHandleA(kLibrary) != nullptr) return ::testing::AssertionFailure() << "still loaded";
    if (refreshed != 1 || redraw.sourceRefreshes != 1 || drawn != 0xFF336699u || outside != 0)
        return ::testing::AssertionFailure() << "the chain did not run: " << refreshed << " "
                                             << redraw.sourceRefreshes << " " << std::hex << drawn;
    return ::testing::AssertionSuccess();
}

DWORD FreshTlsIndex() {
    DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
}

// Busy blocks and bytes over all of the process's heaps: the runtime heap
// that layers come from and the heap of the system's lock bookkeeping.
struct HeapUse {
    size_t blocks = 0;
    size_t bytes = 0;
};

HeapUse BusyHeapUse() {
    HeapUse use;
    HANDLE heaps[256];
    DWORD count = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) == 0) continue;
            ++use.blocks;
            use.bytes += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return use;
}

TEST(ModuleLoad, FiveHundredLoadUseUnloadCyclesLeakNothing) {
    // A few cycles first, so that one-time allocations of the system and the
    // runtime are made before counting.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(LoadUseUnload()) << i;
    DWORD tlsBefore = FreshTlsIndex();
    HeapUse heapBefore = BusyHeapUse();
    constexpr int kCycles = 500;
    for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(LoadUseUnload()) << i;
    HeapUse heapAfter = BusyHeapUse();
    DWORD tlsAfter = FreshTlsIndex();
    // Two slots or one lock per cycle left behind would show as hundreds.
    EXPECT_LE(tlsAfter, tlsBefore + 2);
    EXPECT_LT(heapAfter.blocks, heapBefore.blocks + kCycles / 10)
        << heapBefore.blocks << " -> " << heapAfter.blocks;
    EXPECT_LT(heapAfter.bytes, heapBefore.bytes + 16 * 1024) << heapBefore.bytes << " -> " << heapAfter.bytes;
}

}  // namespace
