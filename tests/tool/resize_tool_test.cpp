// `zantrel resize` run on PNG files written here: the output's size and
// pixels for both routes, and the refusals of bad command lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::ToolRun;

namespace {

class ResizeToolTest : public tooltest::ToolDirTest {
protected:
    ToolRun Resize(std::vector<std::string> args) const {
        args.insert(args.begin(), "resize");
        return Zantrel(args);
    }

    // Gradient with some transparent and translucent pixels.
    std::vector<uint32_t> WriteInput(const std::string &name, uint32_t w, uint32_t h) const {
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint32_t a = (x + y) % 5 == 0 ? 0 : (x * 40 + 15) % 256;
                pixels.push_back(a << 24 | (x * 25 % 256) << 16 | (y * 30 % 256) << 8 | ((x ^ y) * 17 % 256));
            }
        EXPECT_TRUE(tooltest::WriteArgbPng(Path(name), w, h, pixels));
        return pixels;
    }
};

// What the library gives for the same pixels and route.
std::vector<uint32_t> LibraryResize(std::vector<uint32_t> src, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
                                    bool sibling) {
    std::vector<uint32_t> dst(static_cast<size_t>(dw) * dh, 0);
    Layer *from = CreateCompatibleLayer(src.data(), sw, sh, sw * 4);
    Layer *to = CreateCompatibleLayer(dst.data(), dw, dh, dw * 4);
    if (sibling) {
        ResizeLayer(to, from);
    } else {
        ResizeLayerCorrect(to, from);
    }
    DeleteLayer(from);
    DeleteLayer(to);
    return dst;
}

TEST_F(ResizeToolTest, WritesTheScaledImageByEitherRoute) {
    std::vector<uint32_t> input = WriteInput("in.png", 9, 6);
    const struct {
        std::vector<std::string> extra;
        bool sibling;
    } routes[] = {{{}, false}, {{"--via", "scaler"}, false}, {{"--via=sibling"}, true}};
    for (const auto &route : routes) {
        for (const auto &size : std::vector<std::pair<int32_t, int32_t>>{{4, 3}, {17, 11}, {9, 6}}) {
            std::string sizeText = std::to_string(size.first) + "x" + std::to_string(size.second);
            std::vector<std::string> args = {"in.png", "-o", "out.png", "--size", sizeText};
            args.insert(args.end(), route.extra.begin(), route.extra.end());
            ToolRun run = Resize(args);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            tooltest::DecodedPng out;
            ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
            EXPECT_EQ(out.width, static_cast<uint32_t>(size.first));
            EXPECT_EQ(out.height, static_cast<uint32_t>(size.second));
            EXPECT_EQ(out.pixels, LibraryResize(input, 9, 6, size.first, size.second, route.sibling)) << sizeText;
        }
    }
}

// The sibling route against pixels worked out by hand: enlarging mixes the
// two source pixels around each destination centre, at source position
// (x + 1/2) * src / dst - 1/2, edges held; shrinking averages the area.
// Both weight colour by alpha.
TEST_F(ResizeToolTest, SiblingInterpolatesWhenEnlargingAndAveragesWhenShrinking) {
    const struct {
        uint32_t sw, sh;
        std::vector<uint32_t> src;
        uint32_t dw, dh;
        std::vector<std::pair<uint32_t, uint32_t>> at;  // (index in the output, pixel)
    } cases[] = {
        // Positions -0.25 (held), 0.25, 0.75, 1.25 (held): red 0, 50, 150, 200.
        {2, 1, {0xFF000000u, 0xFFC80000u}, 4, 1, {{0, 0xFF000000u}, {1, 0xFF320000u}, {2, 0xFF960000u}, {3, 0xFFC80000u}}},
        // Transparent red beside opaque blue 200: alpha 0, 63.75, 191.25, 255, no red.
        {2, 1, {0x00FF0000u, 0xFF0000C8u}, 4, 1, {{0, 0u}, {1, 0x400000C8u}, {2, 0xBF0000C8u}, {3, 0xFF0000C8u}}},
        // Green 0, 100 over 200, 40 to 4 x 4: (1,1) at (0.25, 0.25) mixes them
        // 9:3:3:1 to 58.75; (2,1) at (0.75, 0.25) 3:9:1:3 to 76.25; corners held.
        {2, 2, {0xFF000000u, 0xFF006400u, 0xFF00C800u, 0xFF002800u}, 4, 4,
         {{0, 0xFF000000u}, {5, 0xFF003B00u}, {6, 0xFF004C00u}, {15, 0xFF002800u}}},
        // Shrinking: (opaque 0 + transparent white) / 2 is alpha 127.5, black;
        // (255 * 200 + 51 * 100) / 306 = 183.3 red at alpha 153.
        {4, 1, {0xFF000000u, 0x00FFFFFFu, 0xFFC80000u, 0x33640000u}, 2, 1, {{0, 0x80000000u}, {1, 0x99B70000u}}},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("in.png"), c.sw, c.sh, c.src));
        std::string size = std::to_string(c.dw) + "x" + std::to_string(c.dh);
        ToolRun run = Resize({"in.png", "-o", "out.png", "--size", size, "--via", "sibling"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        tooltest::DecodedPng out;
        ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
        ASSERT_EQ(out.pixels.size(), static_cast<size_t>(c.dw) * c.dh);
        for (const auto &p : c.at) EXPECT_EQ(out.pixels[p.first], p.second) << size << " pixel " << p.first;
    }
}

TEST_F(ResizeToolTest, RefusesBadSizesWithoutWritingOutput) {
    WriteInput("in.png", 3, 3);
    for (const char *size : {"0x5", "5x0", "-3x4", "4x", "x4", "4", "4x4x4", "ax4", "4 x4", "+4x4", "",
                                    "99999999999x2"}) {
        ToolRun run = Resize({"in.png", "-o", "out.png", "--size", size});
        EXPECT_EQ(run.exitCode, 2) << size;
        EXPECT_NE(run.err.find("--size"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("out.png"))) << size;
    }
    ToolRun missing = Resize({"in.png", "-o", "out.png"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("--size"), std::string::npos) << missing.err;
    ToolRun via = Resize({"in.png", "-o", "out.png", "--size", "2x2", "--via", "magic"});
    EXPECT_EQ(via.exitCode, 2);
    EXPECT_NE(via.err.find("--via"), std::string::npos) << via.err;
    ToolRun noInput = Resize({"absent.png", "-o", "out.png", "--size", "2x2"});
    EXPECT_EQ(noInput.exitCode, 1);
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(ResizeToolTest, HelpDescribesTheCommand) {
    ToolRun run = Resize({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: zantrel resize"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--via"), std::string::npos) << run.out;
}

}  // namespace
