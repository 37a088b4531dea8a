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
