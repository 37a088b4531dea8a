// Runs `zantrel warp` on PNG files written here and compares its output with
// the library's own mapping of the same pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::DecodedPng;
using tooltest::ToolRun;

namespace {

std::vector<uint32_t> Pattern(uint32_t width, uint32_t height, uint32_t seed) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    uint32_t state = seed;
    for (uint32_t &p : pixels) {
        state = state * 1103515245u + 12345u;
        p = (state >> 8) | 0x20000000u;
    }
    return pixels;
}

// What the program must produce: the library's mapping into a window of the
// canvas placed at the corners' bounding rectangle.
std::vector<uint32_t> Expected(std::vector<uint32_t> canvas, int32_t cw, int32_t ch, std::vector<uint32_t> image,
                               int32_t iw, int32_t ih, const double (&x)[4], const double (&y)[4]) {
    LayerRect rect;
    EXPECT_EQ(TestFourCorner(x, y, &rect), 1);
    Layer *canvasLayer = CreateCompatibleLayer(canvas.data(), cw, ch, cw * 4);
    Layer *window = CreateClippedLayer(canvasLayer);
    ClipLayerXYWH(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    Layer *imageLayer = CreateCompatibleLayer(image.data(), iw, ih, iw * 4);
    EXPECT_EQ(FourCornerMapLayer(window, imageLayer, x, y), 1);
    DeleteLayer(imageLayer);
    DeleteLayer(window);
    DeleteLayer(canvasLayer);
    return canvas;
}

class WarpToolTest : public tooltest::ToolDirTest {
protected:
    void SetUp() override {
        tooltest::ToolDirTest::SetUp();
        image_ = Pattern(24, 16, 7);
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("in.png"), 24, 16, image_));
    }

    std::vector<uint32_t> image_;
};

TEST_F(WarpToolTest, DrawsOnATransparentCanvasReachingTheQuadsFarEdges) {
    const double x[4] = {4.5, 40.25, 36.0, 2.0}, y[4] = {3.0, 6.5, 30.75, 27.0};
    ToolRun run = Zantrel({"warp", "in.png", "-o", "out.png", "--corners", "4.5,3,40.25,6.5,36,30.75,2,27"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    DecodedPng out;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
    EXPECT_EQ(out.width, 41u);  // the bounding rectangle's right edge
    EXPECT_EQ(out.height, 31u);
    std::vector<uint32_t> expected = Expected(std::vector<uint32_t>(41 * 31, 0u), 41, 31, image_, 24, 16, x, y);
    EXPECT_EQ(out.pixels, expected);
    EXPECT_EQ(out.pixels[0], 0u);  // outside the quad stays transparent
}

TEST_F(WarpToolTest, DefaultCanvasEndsAtTheLastRowAndColumnTheQuadReaches) {
    const double x[4] = {0, 64, 64, 0}, y[4] = {0, 0, 64, 64};
    ToolRun run = Zantrel({"warp", "in.png", "-o", "out.png", "--corners", "0,0,64,0,64,64,0,64"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    DecodedPng out;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("out.png"), out));
    EXPECT_EQ(out.width, 64u);
    EXPECT_EQ(out.height, 64u);
    EXPECT_EQ(out.pixels, Expected(std::vector<uint32_t>(64 * 64, 0u), 64, 64, image_, 24, 16, x, y));
    EXPECT_NE(out.pixels.back() >> 24, 0u);  // the last row and column are the quad's
    ToolRun large = Zantrel({"warp", "in.png", "-o", "large.png", "--corners", "0,0,30000,0,30000,30000,0,30000"});
    EXPECT_EQ(large.exitCode, 2);
    EXPECT_NE(large.err.find("(30000 x 30000)"), std::string::npos) << large.err;
}

TEST_F(WarpToolTest, CanvasOptionSetsTheSizeAndCutsTheImage) {
    const double x[4] = {-6, 30, 30, -6}, y[4] = {-2, -2, 20, 20};
    ToolRun run = Zantrel({"warp", "in.png", "--canvas", "20x12", "--corners=-6,-2,30,-2,30,20,-6,20", "-o", "c.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    DecodedPng out;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("c.png"), out));
    EXPECT_EQ(out.width, 20u);
    EXPECT_EQ(out.height, 12u);
    EXPECT_EQ(out.pixels, Expected(std::vector<uint32_t>(20 * 12, 0u), 20, 12, image_, 24, 16, x, y));
}

TEST_F(WarpToolTest, OnABackgroundTheImageIsCompositedOverIt) {
    std::vector<uint32_t> background = Pattern(30, 20, 99);
    for (uint32_t &p : background) p |= 0xFF000000u;
    ASSERT_TRUE(tooltest::WriteArgbPng(Path("bg.png"), 30, 20, background));
    const double x[4] = {8.5, 28, 25, 6}, y[4] = {1, 4.5, 18, 15.25};
    ToolRun run = Zantrel({"warp", "in.png", "-o", "on.png", "--on", "bg.png", "--corners", "8.5,1,28,4.5,25,18,6,15.25"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    DecodedPng out;
    ASSERT_TRUE(tooltest::ReadPngFile(Path("on.png"), out));
    ASSERT_EQ(out.width, 30u);
    std::vector<uint32_t> warped = Expected(std::vector<uint32_t>(30 * 20, 0u), 30, 20, image_, 24, 16, x, y);
    for (size_t i = 0; i < background.size(); ++i)
        ASSERT_EQ(out.pixels[i], CompositPel(warped[i], background[i])) << i;
    EXPECT_EQ(out.pixels[0], background[0]);
}

TEST_F(WarpToolTest, InvalidCornersAreRefusedWithoutWritingAFile) {
    const std::vector<std::vector<std::string>> refused = {
        {"--corners", "0,0,20,0,6,6,0,20"},        // concave
        {"--corners", "0,0,20,0,0,20,20,20"},      // crossed
        {"--corners", "0,0,nan,0,20,20,0,20"},     // not a number
        {"--corners", "0,0,inf,0,20,20,0,20"},     // infinite
        {"--corners", "0,0,0,0,0,0,0,0"},          // one point
        {"--corners", "3,3,10,3,20,3,5,3"},        // one line
    };
    for (const auto &corners : refused) {
        std::vector<std::string> args = {"warp", "in.png", "-o", "bad.png"};
        args.insert(args.end(), corners.begin(), corners.end());
        ToolRun run = Zantrel(args);
        EXPECT_EQ(run.exitCode, 2) << corners[1];
        EXPECT_TRUE(run.err.find("convex") != std::string::npos || run.err.find("finite") != std::string::npos)
            << run.err;
        EXPECT_FALSE(fs::exists(Path("bad.png"))) << corners[1];
    }
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"warp", "in.png", "-o", "bad.png", "--corners", "1,2,3"},
             {"warp", "in.png", "-o", "bad.png"},
             {"warp", "in.png", "--corners", "0,0,9,0,9,9,0,9"},
             {"warp", "in.png", "-o", "bad.png", "--corners", "0,0,9,0,9,9,0,9", "--canvas", "0x5"},
             {"warp", "in.png", "-o", "bad.png", "--corners", "-9,-9,-1,-9,-1,-1,-9,-1"},
             {"warp", "missing.png", "-o", "bad.png", "--corners", "0,0,9,0,9,9,0,9"}}) {
        ToolRun run = Zantrel(args);
        EXPECT_NE(run.exitCode, 0) << args.back();
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(fs::exists(Path("bad.png"))) << args.back();
    }
}

TEST_F(WarpToolTest, HelpDescribesTheCommand) {
    ToolRun run = Zantrel({"warp", "--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: zantrel warp"), std::string::npos);
    EXPECT_NE(run.out.find("--corners"), std::string::npos);
    ToolRun general = Zantrel({"--help"});
    EXPECT_NE(general.out.find("warp"), std::string::npos);
}

}  // namespace
