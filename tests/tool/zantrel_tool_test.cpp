// Runs the zantrel program on PNG files written here and checks its output
// files, exit codes and messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::DecodedPng;
using tooltest::RawPng;
using tooltest::ReadText;
using tooltest::ToolRun;

namespace {

void WriteBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const fs::path &path) {
    std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic pixel values that cover the blend's special cases: alpha 0
// with colour bits set, alpha 255, and values in between.
std::vector<uint32_t> Pixels(size_t count, uint32_t seed) {
    static const uint32_t alphas[] = {0, 255, 1, 128, 64, 200, 254, 30, 255, 0, 170};
    std::vector<uint32_t> pixels;
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        uint32_t rgb = (state >> 4) & 0x00FFFFFFu;
        pixels.push_back(alphas[(i + seed) % (sizeof alphas / sizeof alphas[0])] << 24 | rgb);
    }
    return pixels;
}

bool OnlyOneLine(const std::string &text) {
    return text.size() > 1 && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

class ToolTest : public tooltest::ToolDirTest {
protected:
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
        return names;
    }

};

// What `over` must produce: CompositPel(top, bottom) where TOP lands inside
// BOTTOM, BOTTOM elsewhere.
std::vector<uint32_t> ExpectedOver(const std::vector<uint32_t> &top, int64_t tw, int64_t th,
                                   const std::vector<uint32_t> &bottom, int64_t bw, int64_t bh, int64_t x, int64_t y) {
    std::vector<uint32_t> expected = bottom;
    for (int64_t by = 0; by < bh; ++by) {
        for (int64_t bx = 0; bx < bw; ++bx) {
            int64_t tx = bx - x;
            int64_t ty = by - y;
            if (tx < 0 || ty < 0 || tx >= tw || ty >= th) continue;
            expected[by * bw + bx] = CompositPel(top[ty * tw + tx], bottom[by * bw + bx]);
        }
    }
    return expected;
}

// First differing pixel, for a readable failure.
std::string FirstDifference(const std::vector<uint32_t> &actual, const std::vector<uint32_t> &expected,
                            uint32_t width) {
    if (actual.size() != expected.size())
        return "sizes differ: " + std::to_string(actual.size()) + " vs " + std::to_string(expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            char text[120];
            std::snprintf(text, sizeof text, "pixel (%zu,%zu): got %08X, expected %08X", i % width, i / width,
                          actual[i], expected[i]);
            return text;
        }
    }
    return "";
}

TEST_F(ToolTest, HelpPrintsUsageAndExitsZeroWithoutRendering) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}}) {
        ToolRun run = Zantrel(args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out.find("Usage: zantrel"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("over"), std::string::npos) << run.out;
    }
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"over", "--help"}, {"over", "a.png", "-h"}}) {
        ToolRun run = Zantrel(args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out.find("Usage: zantrel over"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("--at"), std::string::npos) << run.out;
    }
    ToolRun demoHelp = Zantrel({"demo", "--help"});
    EXPECT_EQ(demoHelp.exitCode, 0);
    EXPECT_NE(demoHelp.out.find("Usage: zantrel demo"), std::string::npos) << demoHelp.out;
    EXPECT_TRUE(Files().empty()) << "help must not render or write anything";
}

TEST_F(ToolTest, DemoWritesTheSceneAsAnOpaqueRgbaPng) {
    ToolRun named = Zantrel({"demo", "-o", "scene.png"});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    DecodedPng scene;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("scene.png"), scene));
    EXPECT_EQ(scene.width, 640u);
    EXPECT_EQ(scene.height, 400u);
    EXPECT_EQ(scene.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(scene.bitDepth, 8);
    ASSERT_EQ(scene.pixels.size(), 640u * 400u);
    // The background is opaque and everything else is composited over it or
    // set opaque, so no pixel may be left translucent.
    size_t translucent = 0;
    std::set<uint32_t> colours;
    for (uint32_t p : scene.pixels) {
        if ((p >> 24) != 0xFF) ++translucent;
        colours.insert(p);
    }
    EXPECT_EQ(translucent, 0u);
    EXPECT_GT(colours.size(), 1000u) << "expected a gradient and blended shapes";
    EXPECT_NE(scene.pixels.front(), scene.pixels.back());

    // One line per step, then the timing line.
    size_t lines = 0;
    for (char c : named.out) lines += c == '\n';
    EXPECT_GE(lines, 5u) << named.out;
    EXPECT_NE(named.out.find(" ms"), std::string::npos) << named.out;

    // With no arguments the same scene goes to demo.png in the current
    // directory.
    ToolRun bare = Zantrel({});
    ASSERT_EQ(bare.exitCode, 0) << bare.err;
    DecodedPng fallback;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("demo.png"), fallback));
    EXPECT_EQ(fallback.pixels, scene.pixels);
    EXPECT_EQ(Files(), (std::set<std::string>{"demo.png", "scene.png"}));
}

TEST_F(ToolTest, OverGivesCompositPelWhereTopLandsAndBottomElsewhere) {
    constexpr uint32_t bw = 7;
    constexpr uint32_t bh = 6;
    const std::vector<uint32_t> bottom = Pixels(bw * bh, 7);
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("bottom.png"), bw, bh, bottom));

    struct Case {
        uint32_t tw, th;
        const char *at;  // null: no --at
        int64_t x, y;
    };
    const Case cases[] = {
        {5, 4, nullptr, 0, 0},        // default position
        {5, 4, "2,3", 2, 3},          // past the right and bottom edges
        {5, 4, "-2,-3", -2, -3},      // past the left and top edges
        {5, 4, "-3,4", -3, 4},        // past the left and bottom edges
        {5, 4, "5,-1", 5, -1},        // past the right and top edges
        {10, 9, "-1,-2", -1, -2},     // covers all of BOTTOM
        {5, 4, "-5,0", -5, 0},        // just left of BOTTOM: nothing lands
        {5, 4, "7,0", 7, 0},          // just right of BOTTOM
        {5, 4, "0,-4", 0, -4},        // just above
        {5, 4, "100,-100", 100, -100},
        {5, 4, "-2147483648,-2147483648", -2147483648LL, -2147483648LL},
        {5, 4, "2147483647,2147483647", 2147483647, 2147483647},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.tw) + "x" + std::to_string(c.th) + " at " + (c.at ? c.at : "default"));
        const std::vector<uint32_t> top = Pixels(c.tw * c.th, 11 + c.tw);
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("top.png"), c.tw, c.th, top));
        fs::remove(Path("out.png"));
        ToolRun run = c.at ? Zantrel({"over", "top.png", "bottom.png", "-o", "out.png", "--at", c.at})
                       : Zantrel({"over", "top.png", "bottom.png", "-o", "out.png"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        DecodedPng out;
        ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
        EXPECT_EQ(out.width, bw);
        EXPECT_EQ(out.height, bh);
        EXPECT_EQ(FirstDifference(out.pixels, ExpectedOver(top, c.tw, c.th, bottom, bw, bh, c.x, c.y), bw), "");
    }

    // Writing over an input replaces it whole and leaves no temporary file.
    const std::vector<uint32_t> top = Pixels(5 * 4, 3);
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("top.png"), 5, 4, top));
    ToolRun inPlace = Zantrel({"over", "-o", "bottom.png", "top.png", "bottom.png", "--at=1,1"});
    ASSERT_EQ(inPlace.exitCode, 0) << inPlace.err;
    DecodedPng replaced;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("bottom.png"), replaced));
    EXPECT_EQ(FirstDifference(replaced.pixels, ExpectedOver(top, 5, 4, bottom, bw, bh, 1, 1), bw), "");
    EXPECT_EQ(Files(), (std::set<std::string>{"bottom.png", "out.png", "top.png"}));
}

// One input PNG in a stored format and the 0xAARRGGBB pixels it stands for.
struct FormatCase {
    const char *name;
    RawPng png;
    std::vector<uint32_t> expected;
};

std::vector<FormatCase> FormatCases() {
    std::vector<FormatCase> cases;
    auto gray = [](uint32_t v, uint32_t a = 255) { return a << 24 | v << 16 | v << 8 | v; };

    {  // 4-bit palette, partly transparent through tRNS; the last entry has no tRNS value
        FormatCase c{"palette 4-bit with tRNS", {}, {}};
        c.png.width = 5;
        c.png.height = 2;
        c.png.colorType = PNG_COLOR_TYPE_PALETTE;
        c.png.bitDepth = 4;
        c.png.palette = {{200, 10, 20}, {0, 128, 255}, {17, 34, 51}, {250, 250, 5}};
        c.png.paletteAlpha = {0, 128, 255};
        const uint8_t index[2][5] = {{0, 1, 2, 3, 1}, {3, 2, 1, 0, 3}};
        for (const auto &row : index) {
            c.png.rows.push_back({static_cast<uint8_t>(row[0] << 4 | row[1]), static_cast<uint8_t>(row[2] << 4 | row[3]),
                                  static_cast<uint8_t>(row[4] << 4)});
            for (uint8_t i : row) {
                const png_color &p = c.png.palette[i];
                uint32_t a = i < c.png.paletteAlpha.size() ? c.png.paletteAlpha[i] : 255;
                c.expected.push_back(a << 24 | uint32_t{p.red} << 16 | uint32_t{p.green} << 8 | p.blue);
            }
        }
        cases.push_back(c);
    }
    {  // 8-bit palette without tRNS: opaque
        FormatCase c{"palette 8-bit", {}, {}};
        c.png.width = 3;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_PALETTE;
        c.png.palette = {{1, 2, 3}, {4, 5, 6}};
        c.png.rows = {{1, 0, 1}};
        c.expected = {0xFF040506u, 0xFF010203u, 0xFF040506u};
        cases.push_back(c);
    }
    {  // 1-bit gray, 10 pixels so that a row spans two bytes
        FormatCase c{"gray 1-bit", {}, {}};
        c.png.width = 10;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_GRAY;
        c.png.bitDepth = 1;
        c.png.rows = {{0xB4, 0x40}};  // 1011 0100 01
        for (int bit : {1, 0, 1, 1, 0, 1, 0, 0, 0, 1}) c.expected.push_back(gray(bit ? 255 : 0));
        cases.push_back(c);
    }
    {  // 2-bit gray: levels scale to 0, 0x55, 0xAA, 0xFF
        FormatCase c{"gray 2-bit", {}, {}};
        c.png.width = 4;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_GRAY;
        c.png.bitDepth = 2;
        c.png.rows = {{0x1B}};  // 00 01 10 11
        c.expected = {gray(0), gray(0x55), gray(0xAA), gray(0xFF)};
        cases.push_back(c);
    }
    {  // 4-bit gray with one level made transparent by tRNS
        FormatCase c{"gray 4-bit with tRNS", {}, {}};
        c.png.width = 4;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_GRAY;
        c.png.bitDepth = 4;
        c.png.hasTransparentColour = true;
        c.png.transparentColour.gray = 7;
        c.png.rows = {{0x7F, 0x07}};
        c.expected = {gray(0x77, 0), gray(0xFF), gray(0x00), gray(0x77, 0)};
        cases.push_back(c);
    }
    {  // 8-bit gray, two rows
        FormatCase c{"gray 8-bit", {}, {}};
        c.png.width = 3;
        c.png.height = 2;
        c.png.colorType = PNG_COLOR_TYPE_GRAY;
        c.png.rows = {{0, 90, 255}, {17, 200, 1}};
        c.expected = {gray(0), gray(90), gray(255), gray(17), gray(200), gray(1)};
        cases.push_back(c);
    }
    {  // 8-bit gray with alpha
        FormatCase c{"gray+alpha 8-bit", {}, {}};
        c.png.width = 3;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
        c.png.rows = {{10, 0, 20, 128, 30, 255}};
        c.expected = {gray(10, 0), gray(20, 128), gray(30, 255)};
        cases.push_back(c);
    }
    {  // 16-bit gray with alpha: the high byte of each sample is kept
        FormatCase c{"gray+alpha 16-bit", {}, {}};
        c.png.width = 2;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
        c.png.bitDepth = 16;
        c.png.rows = {{0xAB, 0x12, 0x40, 0xF0, 0x03, 0xFF, 0xFF, 0x01}};
        c.expected = {gray(0xAB, 0x40), gray(0x03, 0xFF)};
        cases.push_back(c);
    }
    {  // 8-bit RGB with a colour made transparent by tRNS
        FormatCase c{"RGB 8-bit with tRNS", {}, {}};
        c.png.width = 3;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_RGB;
        c.png.hasTransparentColour = true;
        c.png.transparentColour.red = 1;
        c.png.transparentColour.green = 2;
        c.png.transparentColour.blue = 3;
        c.png.rows = {{1, 2, 3, 1, 2, 4, 250, 128, 6}};
        c.expected = {0x00010203u, 0xFF010204u, 0xFFFA8006u};
        cases.push_back(c);
    }
    {  // 16-bit RGBA: high bytes
        FormatCase c{"RGBA 16-bit", {}, {}};
        c.png.width = 2;
        c.png.height = 1;
        c.png.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        c.png.bitDepth = 16;
        c.png.rows = {{0x12, 0x99, 0x34, 0x01, 0x56, 0xFE, 0x80, 0x7F, 0xFF, 0xFF, 0x00, 0xFF, 0x01, 0x80, 0x00, 0x00}};
        c.expected = {0x80123456u, 0x00FF0001u};
        cases.push_back(c);
    }
    {  // 8-bit RGBA, Adam7 interlaced: the passes must be put back together
        FormatCase c{"RGBA 8-bit interlaced", {}, {}};
        c.png.width = 9;
        c.png.height = 7;
        c.png.interlaced = true;
        c.expected = Pixels(9 * 7, 5);
        for (uint32_t y = 0; y < 7; ++y) {
            std::vector<uint8_t> row;
            for (uint32_t x = 0; x < 9; ++x) {
                uint32_t p = c.expected[y * 9 + x];
                row.insert(row.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                                       static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 24)});
            }
            c.png.rows.push_back(row);
        }
        cases.push_back(c);
    }
    return cases;
}

TEST_F(ToolTest, ReadsEveryColourTypeAndBitDepth) {
    // A TOP placed wholly outside leaves BOTTOM as read, so the output shows
    // exactly how BOTTOM was decoded.
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("dot.png"), 1, 1, {0xFF00FF00u}));
    for (const FormatCase &c : FormatCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(tooltest::WriteRawPng(Path("input.png"), c.png));
        ToolRun run = Zantrel({"over", "dot.png", "input.png", "-o", "out.png", "--at", "-50,-50"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        DecodedPng out;
        ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
        EXPECT_EQ(out.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
        EXPECT_EQ(out.bitDepth, 8);
        EXPECT_EQ(FirstDifference(out.pixels, c.expected, c.png.width), "");

        // The same file as TOP over an opaque BOTTOM is blended from the
        // same decoded pixels.
        const std::vector<uint32_t> under = Pixels(c.png.width * c.png.height, 99);
        std::vector<uint32_t> opaque;
        for (uint32_t p : under) opaque.push_back(p | 0xFF000000u);
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("under.png"), c.png.width, c.png.height, opaque));
        ToolRun asTop = Zantrel({"over", "input.png", "under.png", "-o", "out.png"});
        ASSERT_EQ(asTop.exitCode, 0) << asTop.err;
        ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
        EXPECT_EQ(FirstDifference(out.pixels,
                                  ExpectedOver(c.expected, c.png.width, c.png.height, opaque, c.png.width,
                                               c.png.height, 0, 0),
                                  c.png.width),
                  "");
    }
}

TEST_F(ToolTest, BadInputNamesTheFileAndLeavesNoOutput) {
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("good.png"), 4, 4, Pixels(16, 1)));
    // A noisy image, so that its compressed data spans many bytes.
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("big.png"), 64, 64, Pixels(64 * 64, 2)));
    const std::vector<uint8_t> big = ReadBytes(Path("big.png"));
    ASSERT_GT(big.size(), 4000u);

    {
        std::ofstream text(Path("notes.png"));
        text << "these are notes, not an image\n";
    }
    WriteBytes(Path("empty.png"), {});
    WriteBytes(Path("truncated.png"), std::vector<uint8_t>(big.begin(), big.begin() + big.size() / 2));
    WriteBytes(Path("cut-header.png"), std::vector<uint8_t>(big.begin(), big.begin() + 20));
    // All image data present, only the closing IEND chunk (12 bytes) lost.
    WriteBytes(Path("no-end.png"), std::vector<uint8_t>(big.begin(), big.end() - 12));
    std::vector<uint8_t> corrupt = big;
    corrupt[big.size() / 2] ^= 0x5A;  // inside the image data: its CRC no longer matches
    WriteBytes(Path("corrupt.png"), corrupt);
    WriteBytes(Path("huge.png"), tooltest::HeaderOnlyPng(20000, 20000));
    // 65536 x 65537 wraps to 65536 pixels in 32-bit arithmetic.
    WriteBytes(Path("wrapping.png"), tooltest::HeaderOnlyPng(65536, 65537));
    WriteBytes(Path("wide.png"), tooltest::HeaderOnlyPng(300000000, 1));

    const struct {
        const char *file;
        const char *reason;
    } bad[] = {
        {"absent.png", "missing"},   {"notes.png", "not a PNG"},    {"empty.png", "not a PNG"},
        {"truncated.png", "damaged"}, {"cut-header.png", "damaged"}, {"no-end.png", "damaged"},
        {"corrupt.png", "damaged"},
        {"huge.png", "too large"},   {"wrapping.png", "too large"}, {"wide.png", "too large"},
    };
    const std::set<std::string> inputs = Files();
    for (const auto &b : bad) {
        for (bool asTop : {true, false}) {
            SCOPED_TRACE(std::string(b.file) + (asTop ? " as TOP" : " as BOTTOM"));
            ToolRun run = asTop ? Zantrel({"over", b.file, "good.png", "-o", "out.png"})
                            : Zantrel({"over", "good.png", b.file, "-o", "out.png", "--at", "1,1"});
            EXPECT_NE(run.exitCode, 0);
            EXPECT_TRUE(OnlyOneLine(run.err)) << run.err;
            EXPECT_NE(run.err.find(b.file), std::string::npos) << run.err;
            EXPECT_NE(run.err.find(b.reason), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(Files(), inputs);
        }
    }

    // An existing output is left as it was when the inputs are bad.
    WriteBytes(Path("kept.png"), {'o', 'l', 'd'});
    ToolRun run = Zantrel({"over", "good.png", "truncated.png", "-o", "kept.png"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(ReadText(Path("kept.png")), "old");

    // An output that cannot be created is reported by name, and nothing is
    // left behind.
    fs::remove(Path("kept.png"));
    run = Zantrel({"over", "good.png", "good.png", "-o", "no-such-dir/out.png"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(OnlyOneLine(run.err)) << run.err;
    EXPECT_NE(run.err.find("no-such-dir/out.png"), std::string::npos) << run.err;
    run = Zantrel({"demo", "-o", "no-such-dir/demo.png"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("no-such-dir/demo.png"), std::string::npos) << run.err;
    EXPECT_EQ(Files(), inputs);
}

TEST_F(ToolTest, AncillaryChunkWithABadChecksumIsSkippedWithAWarning) {
    const std::vector<uint32_t> pixels = Pixels(3 * 2, 4);
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("plain.png"), 3, 2, pixels));
    std::vector<uint8_t> bytes = ReadBytes(Path("plain.png"));
    // A tEXt chunk after IHDR (signature 8 + IHDR 25 bytes) whose CRC is 0.
    const std::string text("Comment\0hello", 13);
    std::vector<uint8_t> chunk = {0, 0, 0, static_cast<uint8_t>(text.size()), 't', 'E', 'X', 't'};
    chunk.insert(chunk.end(), text.begin(), text.end());
    chunk.insert(chunk.end(), 4, 0);
    bytes.insert(bytes.begin() + 33, chunk.begin(), chunk.end());
    WriteBytes(Path("noted.png"), bytes);
    ToolRun run = Zantrel({"over", "plain.png", "noted.png", "-o", "out.png", "--at", "9,9"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("noted.png: warning: tEXt: CRC error"), std::string::npos) << run.err;
    DecodedPng out;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
    EXPECT_EQ(out.pixels, pixels);
}

TEST_F(ToolTest, FailedWriteLeavesTheTargetAsItWasAndNoTemporaryFile) {
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("top.png"), 2, 2, Pixels(4, 1)));
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("bottom.png"), 64, 64, Pixels(64 * 64, 2)));
    const std::vector<uint8_t> bottom = ReadBytes(Path("bottom.png"));
    ASSERT_GT(bottom.size(), 12000u);

    // The file size limit stops the write partway (at 4 or 8 KiB, depending
    // on the shell's unit); the signal it raises is ignored so that the
    // write fails instead.
    const std::string limited = "trap '' XFSZ && ulimit -f 8 &&";
    ToolRun run = Zantrel({"over", "top.png", "bottom.png", "-o", "bottom.png"}, limited);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(OnlyOneLine(run.err)) << run.err;
    EXPECT_NE(run.err.find("bottom.png"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(Path("bottom.png")), bottom);
    EXPECT_EQ(Files(), (std::set<std::string>{"bottom.png", "top.png"}));

    // A target that is a directory cannot be replaced: the finished
    // temporary file must go too.
    fs::create_directory(Path("shelf.png"));
    run = Zantrel({"over", "top.png", "bottom.png", "-o", "shelf.png"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(OnlyOneLine(run.err)) << run.err;
    EXPECT_NE(run.err.find("shelf.png"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_directory(Path("shelf.png")));
    EXPECT_EQ(Files(), (std::set<std::string>{"bottom.png", "shelf.png", "top.png"}));
}

TEST_F(ToolTest, BadCommandLinesGetOneLineAndNoOutput) {
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("a.png"), 2, 2, Pixels(4, 1)));
    const std::set<std::string> inputs = Files();
    const std::vector<std::vector<std::string>> bad = {
        {"paint"},
        {"--frobnicate"},
        {"demo", "--fast"},
        {"demo", "-o"},
        {"demo", "extra"},
        {"over", "a.png", "a.png"},                                // no -o
        {"over", "a.png", "-o", "out.png"},                        // one file
        {"over", "a.png", "a.png", "a.png", "-o", "out.png"},      // three files
        {"over", "a.png", "a.png", "-o", "out.png", "--shift", "1,1"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "3"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "3,"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", ",3"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "a,b"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "1,2,3"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "1.5,2"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", " 1,2"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "2147483648,0"},
        {"over", "a.png", "a.png", "-o", "out.png", "--at", "0,-2147483649"},
    };
    for (const auto &args : bad) {
        std::string shown;
        for (const std::string &a : args) shown += " " + a;
        SCOPED_TRACE("zantrel" + shown);
        ToolRun run = Zantrel(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(OnlyOneLine(run.err)) << run.err;
        EXPECT_EQ(Files(), inputs);
    }
    ToolRun run = Zantrel({"over", "a.png", "a.png", "-o", "out.png", "--at", "1;2"});
    EXPECT_NE(run.err.find("1;2"), std::string::npos) << "the message should quote the bad value: " << run.err;
    run = Zantrel({"paint"});
    EXPECT_NE(run.err.find("paint"), std::string::npos) << run.err;
}

}  // namespace
