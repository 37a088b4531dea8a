// The DLL as a 32-bit Windows host sees it: loaded by name, every export
// reachable by name and by its fixed ordinal, the export table spanning
// exactly its ordinal range, and nothing exported without a name.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ZantrelLayer.h"

namespace {

const std::map<std::string, WORD> kExports = {
    {"CompositPel", 30},
    {"CompositOnTop", 31},
    {"CompositOnBottom", 32},
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
    {"TwoLayerComposit", 117},
    {"CreateClippedLayer", 123},
    {"ClipLayer", 124},
    {"ClipLayerXYWH", 125},
    {"CompositOnTopLayerEx", 133},
    {"CompositOnBottomLayerEx", 134},
    {"ClipToAlphaLayer", 145},
    {"TestFourCorner", 128},
    {"FourCornerMapLayer", 129},
    {"CopyWithOpacityLayer", 156},
    {"ThreeLayerComposit", 157},
    {"CompositOnTopLayerCorrect", 158},
    {"CompositOnBottomLayerCorrect", 159},
    {"CompositMany", 170},
    {"CompositOnOutputLayer", 171},
    {"CompositOnOutputLayerCorrect", 172},
    {"ClipToAlphaLayerEx", 174},
    {"CompositPelsNonMMX", 175},
    {"CompositPelsMMXOnly", 176},
    {"FlipHorzLayer", 1000},
    {"FlipVertLayer", 1001},
    {"CompositOnTopEx", 3333},
    {"CompositAgainstColour", 3334},
    {"ConvertRectangleScaleScanline", 37},
    {"BeginScaleScanline", 50},
    {"OffsetScaleScanline", 51},
    {"GetBufferScaleScanline", 52},
    {"ScaleScanline", 53},
    {"EndScaleScanline", 54},
    {"ResizeLayer", 130},
    {"ResizeLayerCorrect", 173},
};

constexpr DWORD kOrdinalBase = 30;
constexpr DWORD kOrdinalSlots = 3305;  // ordinals 30 to 3334
constexpr size_t kNamedExports = 50;

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

TEST(ExportList, HoldsTheFiftyNamesOnce) {
    EXPECT_EQ(kExports.size(), kNamedExports);
    std::set<WORD> ordinals;
    for (const auto &entry : kExports) ordinals.insert(entry.second);
    EXPECT_EQ(ordinals.size(), kNamedExports);
}

// Reads the export directory itself: base, slot count, every name at its
// ordinal, and every slot without a name empty.
TEST_F(DllTest, ExportTableSpansOrdinals30To3334WithOnlyNamedSlotsFilled) {
    ASSERT_NE(module, nullptr);
    const IMAGE_EXPORT_DIRECTORY *exports = Exports();
    const BYTE *base = reinterpret_cast<const BYTE *>(module);
    EXPECT_EQ(exports->Base, kOrdinalBase);
    ASSERT_EQ(exports->NumberOfFunctions, kOrdinalSlots);

    auto functions = reinterpret_cast<const DWORD *>(base + exports->AddressOfFunctions);
    auto names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    auto nameOrdinals = reinterpret_cast<const WORD *>(base + exports->AddressOfNameOrdinals);
    std::map<std::string, DWORD> found;  // name -> ordinal
    std::vector<bool> named(exports->NumberOfFunctions, false);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string name = reinterpret_cast<const char *>(base + names[i]);
        WORD slot = nameOrdinals[i];
        ASSERT_LT(slot, exports->NumberOfFunctions) << name;
        EXPECT_EQ(found.count(name), 0u) << "exported twice: " << name;
        EXPECT_FALSE(named[slot]) << "two names at ordinal " << slot + kOrdinalBase;
        named[slot] = true;
        found[name] = slot + kOrdinalBase;
        EXPECT_NE(functions[slot], 0u) << name << " names an empty slot";
    }
    for (const auto &entry : kExports) {
        auto it = found.find(entry.first);
        ASSERT_NE(it, found.end()) << "missing export " << entry.first;
        EXPECT_EQ(it->second, entry.second) << entry.first;
    }
    for (const auto &entry : found) EXPECT_EQ(kExports.count(entry.first), 1u) << "unexpected export " << entry.first;
    EXPECT_EQ(exports->NumberOfNames, kNamedExports);

    // No ordinal-only exports: a slot with an address has a name.
    DWORD filled = 0;
    for (DWORD slot = 0; slot < exports->NumberOfFunctions; ++slot) {
        if (functions[slot] == 0) continue;
        ++filled;
        EXPECT_TRUE(named[slot]) << "ordinal " << slot + kOrdinalBase << " is exported without a name";
    }
    EXPECT_EQ(filled, exports->NumberOfNames);
    // Ordinals that are not in the list resolve to nothing.
    for (WORD ordinal : {33, 35, 36, 1002, 3332}) {
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
    }
}

TEST_F(DllTest, RowExportsWorkThroughTheHighestOrdinals) {
    ASSERT_NE(module, nullptr);
    using AgainstProc = uint32_t(__cdecl *)(uint32_t *, uint32_t, int32_t);
    auto against = reinterpret_cast<AgainstProc>(reinterpret_cast<void *>(GetProcAddress(module, MAKEINTRESOURCEA(3334))));
    ASSERT_NE(against, nullptr);
    uint32_t row[] = {0x80FF0000, 0x00000000};
    EXPECT_EQ(against(row, 0xFF0000FF, 2), 0xFF0000FFu);
    EXPECT_EQ(row[0], 0xFF80007Fu);
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

// The resource's numbers and strings are the project's version, as the
// package files and the program give it.
TEST_F(DllTest, VersionResourceCarriesTheProjectVersion) {
    ASSERT_NE(module, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(module, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numbers, ZL_EXPECTED_VERSION);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    for (const char *key : {"FileVersion", "ProductVersion"}) {
        char *text = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void **>(&text), &length)) << key;
        EXPECT_STREQ(text, ZL_EXPECTED_VERSION) << key;
    }
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
