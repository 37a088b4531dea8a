// Runs `zantrel stack`, `flip` and `trim` on PNG files written here and
// checks the files they write, their exit codes and what they print.
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

// Alphas 0 (with colour bits), 255 and in between.
std::vector<uint32_t> Pattern(size_t count, uint32_t seed) {
    static const uint32_t alphas[] = {0, 255, 1, 128, 64, 200, 254, 255, 30};
    std::vector<uint32_t> pixels;
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        pixels.push_back(alphas[(i + seed) % 9] << 24 | ((state >> 4) & 0x00FFFFFFu));
    }
    return pixels;
}

uint32_t Faded(uint32_t pixel, uint32_t opacity) {
    return (pixel & 0x00FFFFFF) | (opacity * (pixel >> 24) / 255) << 24;
}

class ImageCommandTest : public tooltest::ToolDirTest {
protected:
    void Write(const std::string &name, uint32_t w, uint32_t h, const std::vector<uint32_t> &pixels) const {
        ASSERT_TRUE(tooltest::WriteArgbPng(Path(name), w, h, pixels));
    }
    DecodedPng Read(const std::string &name) const {
        DecodedPng png;
        EXPECT_TRUE(tooltest::ReadPngFile(Path(name), png)) << name;
        return png;
    }
};

TEST_F(ImageCommandTest, StackCompositesBottomToTopWithOpacities) {
    const std::vector<uint32_t> bottom = Pattern(6 * 5, 1), middle = Pattern(6 * 5, 2), small = Pattern(3 * 2, 3);
    Write("bottom.png", 6, 5, bottom);
    Write("middle.png", 6, 5, middle);
    Write("small.png", 3, 2, small);
    ToolRun run = Zantrel({"stack", "bottom.png", "middle.png:128", "small.png", "-o", "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    DecodedPng out = Read("out.png");
    ASSERT_EQ(out.width, 6u);
    ASSERT_EQ(out.height, 5u);
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 6; ++x) {
            size_t i = y * 6 + x;
            uint32_t want = CompositPel(Faded(middle[i], 128), bottom[i]);
            if (x < 3 && y < 2) want = CompositPel(small[y * 3 + x], want);
            ASSERT_EQ(out.pixels[i], want) << x << "," << y;
        }
    }
    // A faded bottom is the base as it is faded; opacity 0 leaves an image out.
    ToolRun faded = Zantrel({"stack", "bottom.png:100", "middle.png:0", "-o", "faded.png"});
    ASSERT_EQ(faded.exitCode, 0) << faded.err;
    DecodedPng f = Read("faded.png");
    for (size_t i = 0; i < bottom.size(); ++i) ASSERT_EQ(f.pixels[i], Faded(bottom[i], 100)) << i;
}

TEST_F(ImageCommandTest, StackRefusesBadOpacitiesAndMissingArguments) {
    Write("a.png", 2, 2, Pattern(4, 4));
    const std::string notOpacity = "is not a whole number from 0 to 255";
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"stack", "a.png:256", "-o", "out.png", notOpacity},
             {"stack", "a.png:1000", "-o", "out.png", notOpacity},
             {"stack", "a.png:-5", "-o", "out.png", "'-5' of 'a.png:-5' " + notOpacity},
             {"stack", "a.png", "a.png:abc", "-o", "out.png", notOpacity},
             {"stack", "a.png:12.5", "-o", "out.png", notOpacity},
             {"stack", "a.png:", "-o", "out.png", notOpacity},
             {"stack", ":10", "-o", "out.png", ""},
             {"stack", "-o", "out.png", ""},
             {"stack", "a.png", ""},
             {"stack", "a.png", "--bogus", "-o", "out.png", ""}}) {
        ToolRun run = Zantrel(std::vector<std::string>(args.begin(), args.end() - 1));
        EXPECT_EQ(run.exitCode, 2) << args[1];
        EXPECT_NE(run.err.find("zantrel stack: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(args.back()), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("out.png")));
    }
    ToolRun missing = Zantrel({"stack", "a.png", "nothere.png:20", "-o", "out.png"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nothere.png"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(Path("out.png")));
    ToolRun help = Zantrel({"stack", "--bogus", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: zantrel stack"), std::string::npos);
}

TEST_F(ImageCommandTest, FlipMirrorsEitherWay) {
    const std::vector<uint32_t> in = Pattern(5 * 3, 5);
    Write("in.png", 5, 3, in);
    ToolRun h = Zantrel({"flip", "in.png", "-o", "h.png", "--horizontal"});
    ToolRun v = Zantrel({"flip", "--vertical", "in.png", "--output=v.png"});
    ASSERT_EQ(h.exitCode, 0) << h.err;
    ASSERT_EQ(v.exitCode, 0) << v.err;
    DecodedPng hp = Read("h.png"), vp = Read("v.png");
    ASSERT_EQ(hp.pixels.size(), in.size());
    ASSERT_EQ(vp.pixels.size(), in.size());
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(hp.pixels[y * 5 + x], in[y * 5 + (4 - x)]) << x << "," << y;
            EXPECT_EQ(vp.pixels[y * 5 + x], in[(2 - y) * 5 + x]) << x << "," << y;
        }
    }
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"flip", "in.png", "-o", "x.png"},
             {"flip", "in.png", "-o", "x.png", "--horizontal", "--vertical"},
             {"flip", "in.png", "in.png", "-o", "x.png", "--vertical"},
             {"flip", "in.png", "--vertical"}}) {
        ToolRun run = Zantrel(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(fs::exists(Path("x.png")));
    }
}

TEST_F(ImageCommandTest, TrimCropsToTheAlphaBoxAndPrintsIt) {
    std::vector<uint32_t> in(12 * 9, 0x00FFFFFF);
    in[3 * 12 + 2] = 0x01000000;
    in[6 * 12 + 7] = 0xFF123456;
    in[4 * 12 + 5] = 0x80ABCDEF;
    Write("in.png", 12, 9, in);
    ToolRun run = Zantrel({"trim", "in.png", "-o", "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "2,3 6x4\n");
    DecodedPng out = Read("out.png");
    ASSERT_EQ(out.width, 6u);
    ASSERT_EQ(out.height, 4u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 6; ++x) ASSERT_EQ(out.pixels[y * 6 + x], in[(y + 3) * 12 + (x + 2)]) << x << "," << y;

    Write("clear.png", 4, 3, std::vector<uint32_t>(12, 0x00123456));
    ToolRun clear = Zantrel({"trim", "clear.png", "-o", "clear-out.png"});
    ASSERT_EQ(clear.exitCode, 0) << clear.err;
    EXPECT_EQ(clear.out.compare(0, 8, "0,0 4x3 "), 0) << clear.out;
    EXPECT_EQ(Read("clear-out.png").pixels, std::vector<uint32_t>(12, 0x00123456));

    ToolRun noOutput = Zantrel({"trim", "in.png"});
    EXPECT_EQ(noOutput.exitCode, 2);
    ToolRun missing = Zantrel({"trim", "gone.png", "-o", "x.png"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(ImageCommandTest, ProgramUsageListsTheCommands) {
    ToolRun run = Zantrel({"--help"});
    ASSERT_EQ(run.exitCode, 0);
    // Every command, in the order a new user meets them, the version last.
    size_t at = 0;
    for (const char *name :
         {"demo", "over", "stack", "flip", "trim", "resize", "warp", "video", "gallery", "--version"}) {
        size_t found = run.out.find(std::string("\n  ") + name + " ");
        EXPECT_GT(found, at) << name << " missing or out of order:\n" << run.out;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(run.out.compare(run.out.find('\n', at + 1), 2, "\n\n"), 0) << "--version is not the last command";
    for (const char *name : {"flip", "trim"}) {
        ToolRun help = Zantrel({name, "-h"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_NE(help.out.find(std::string("Usage: zantrel ") + name), std::string::npos) << help.out;
    }
}

}  // namespace
