// The DLL as a 32-bit Windows host sees it: loaded by name, every export
// reachable by name and by its fixed ordinal, and nothing exported without a
// name.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "ZantrelLayer.h"

namespace {

const std::map<std::string, WORD> kExports = {
    {"CompositPel", 30},
    {"CompositPels", 34},
    {"GetUnionRectRef", 85},
    {"UpdateLayerEx", 95},
    {"RefreshLayerEx", 96},
    {"AddRefCountLayer", 99},
    {"BeginLayerAccess", 100},
    {"EndLayerAccess", 101},
    {"CreateLayer", 104},
    {"CreateCompatibleLayer", 105},
    {"DeleteLayer", 106},
    {"ClearLayer", 107},
    {"SetLayer", 108},
    {"SetAlphaLayer", 109},
    {"CopyLayer", 110},
    {"CompositOnTopLayer", 115},
    {"CompositOnBottomLayer", 116},
    {"CreateClippedLayer", 123},
    {"ClipLayer", 124},
    {"ClipLayerXYWH", 125},
    {"CopyWithOpacityLayer", 156},
    {"CompositOnTopLayerCorrect", 158},
    {"CompositOnBottomLayerCorrect", 159},
    {"CompositOnOutputLayer", 171},
    {"CompositOnOutputLayerCorrect", 172},
    {"CompositPelsNonMMX", 175},
    {"CompositPelsMMXOnly", 176},
    {"ConvertRectangleScaleScanline", 37},
    {"BeginScaleScanline", 50},
    {"OffsetScaleScanline", 51},
    {"GetBufferScaleScanline", 52},
    {"ScaleScanline", 53},
    {"EndScaleScanline", 54},
    {"ResizeLayer", 130},
    {"ResizeLayerCorrect", 173},
};

class DllTest : public ::testing::Test {
protected:
    HMODULE module = LoadLibraryA("ZantrelLayer.dll");
    ~DllTest() override {
        if (module != nullptr) FreeLibrary(module);
    }
    const IMAGE_EXPORT_DIRECTORY *Exports() const {
        const BYTE *base = reinterpret_cast<const BYTE *>(module);
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
        DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
        return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + rva);
    }
};

TEST_F(DllTest, EveryExportIsReachableByNameAndOrdinal) {
    ASSERT_NE(module, nullptr);
    for (const auto &entry : kExports) {
        FARPROC byName = GetProcAddress(module, entry.first.c_str());
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(entry.second));
        EXPECT_NE(byName, nullptr) << entry.first;
        EXPECT_EQ(byName, byOrdinal) << entry.first << " @" << entry.second;
    }
    // The functions behind the names are the library's own.
    using PelProc = uint32_t(__cdecl *)(uint32_t, uint32_t);
    auto pel = reinterpret_cast<PelProc>(reinterpret_cast<void *>(GetProcAddress(module, "CompositPel")));
    ASSERT_NE(pel, nullptr);
    EXPECT_EQ(pel(0x80FF0000u, 0xFF0000FFu), 0xFF80007Fu);
}

TEST_F(DllTest, OrdinalsStartAt30AndEverySlotHasAName) {
    ASSERT_NE(module, nullptr);
    const IMAGE_EXPORT_DIRECTORY *exports = Exports();
    const BYTE *base = reinterpret_cast<const BYTE *>(module);
    EXPECT_EQ(exports->Base, 30u);
    WORD highest = 0;
    for (const auto &entry : kExports) highest = entry.second > highest ? entry.second : highest;
    EXPECT_EQ(exports->NumberOfFunctions, highest - 30u + 1);
    EXPECT_EQ(exports->NumberOfNames, kExports.size());

    auto functions = reinterpret_cast<const DWORD *>(base + exports->AddressOfFunctions);
    auto names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    auto nameOrdinals = reinterpret_cast<const WORD *>(base + exports->AddressOfNameOrdinals);
    std::vector<bool> named(exports->NumberOfFunctions, false);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string name = reinterpret_cast<const char *>(base + names[i]);
        WORD slot = nameOrdinals[i];
        ASSERT_LT(slot, exports->NumberOfFunctions);
        named[slot] = true;
        auto expected = kExports.find(name);
        ASSERT_NE(expected, kExports.end()) << "unexpected export " << name;
        EXPECT_EQ(slot + exports->Base, expected->second) << name;
    }
    for (DWORD slot = 0; slot < exports->NumberOfFunctions; ++slot) {
        if (functions[slot] != 0) {
            EXPECT_TRUE(named[slot]) << "ordinal " << slot + exports->Base << " has no name";
        }
    }
}

TEST_F(DllTest, VersionResourceNamesTheModule) {
    ASSERT_NE(module, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(module, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
    char *description = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void **>(&description), &length));
    EXPECT_STREQ(description, "ZantrelLayer Module");
}

// A host installs Quoravel.dll beside ZantrelLayer.dll; its one function is
// exported by its plain name.
TEST(SiblingLibrary, QuoravelExportsItsFunctionByName) {
    HMODULE quoravel = LoadLibraryA("Quoravel.dll");
    ASSERT_NE(quoravel, nullptr);
    EXPECT_NE(GetProcAddress(quoravel, "ExportedQV_CopyScaleConvert"), nullptr);
    FreeLibrary(quoravel);
}

TEST(LayoutOn32Bit, RecordsHaveTheirWordSizes) {
    // Also asserted at compile time by the header on this target.
    EXPECT_EQ(sizeof(Layer), 148u);
    EXPECT_EQ(sizeof(LayerAccess), 88u);
    EXPECT_EQ(sizeof(ScanlineScaler), 60u);
    EXPECT_EQ(sizeof(ScaleAxisEntry), 24u);
    EXPECT_EQ(sizeof(ScaleGeometry), 24u);
    EXPECT_EQ(sizeof(void *), 4u);
}

}  // namespace
