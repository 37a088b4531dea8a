// `zantrel gallery` and `zantrel --version`, run as a host engineer would.
// The gallery is rendered into <build>/gallery-pictures, where it stays to be looked at.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "gallery.h"
#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;

namespace {

using tooltest::ReadText;

struct ProgramRun {
    int exitCode = -1;
    std::string out;
};

ProgramRun Zantrel(const std::string &args) {
    fs::path out = fs::temp_directory_path() / ("zantrel-gallery-test-" + std::to_string(::getpid()) + ".out");
    std::string command = std::string("'") + ZANTREL_EXE + "' " + args + " >'" + out.string() + "' 2>&1";
    ProgramRun run;
    int status = std::system(command.c_str());
    run.exitCode = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(out);
    fs::remove(out);
    return run;
}

TEST(GalleryCommand, PicturesMatchTheKeptChecksumsAndTheIndexShowsTheirCalls) {
    using namespace zantrel::gallery;
    fs::path dir = ZL_GALLERY_DIR;
    fs::remove_all(dir);
    ProgramRun run = Zantrel("gallery '" + dir.string() + "'");
    ASSERT_EQ(run.exitCode, 0) << run.out;

    std::map<std::string, Expected> kept;
    std::string reason;
    ASSERT_TRUE(ReadChecksums(ZL_GALLERY_CHECKSUMS, kept, reason)) << reason;
    std::map<std::string, Expected> written;
    ASSERT_TRUE(ReadChecksums((dir / "checksums.txt").string(), written, reason)) << reason;
    std::string index = ReadText(dir / "index.html");

    for (const Scene &scene : Scenes()) {
        // The PNG as stored, decoded without the program's own PNG code.
        tooltest::DecodedPng png;
        ASSERT_TRUE(tooltest::ReadPngFile((dir / (std::string(scene.name) + ".png")).string(), png)) << scene.name;
        Picture picture;
        picture.width = static_cast<int32_t>(png.width);
        picture.height = static_cast<int32_t>(png.height);
        picture.pixels = png.pixels;
        ASSERT_EQ(picture.pixels.size(), static_cast<size_t>(png.width) * png.height) << scene.name;
        auto expected = kept.find(scene.name);
        ASSERT_NE(expected, kept.end()) << "no kept checksum for " << scene.name
                                        << " (run scripts/update-gallery-checksums.sh)";
        EXPECT_EQ(picture.width, expected->second.width) << scene.name;
        EXPECT_EQ(picture.height, expected->second.height) << scene.name;
        EXPECT_EQ(Checksum(picture), expected->second.checksum) << "pixels of " << scene.name;
        EXPECT_EQ(written[scene.name].checksum, expected->second.checksum) << scene.name;

        EXPECT_NE(index.find(std::string("<img src=\"") + scene.name + ".png\""), std::string::npos) << scene.name;
        Rendered rendered;
        ASSERT_TRUE(Render(scene, rendered, reason)) << reason;
        for (const std::string &call : rendered.calls) {
            // Calls are shown HTML-escaped; the scenes' calls hold no
            // characters that change, except in `&`.
            if (call.find_first_of("&<>\"") != std::string::npos) continue;
            EXPECT_NE(index.find(call + ";"), std::string::npos) << scene.name << ": " << call;
        }
    }
}

TEST(GalleryCommand, RefusesAMissingOrExtraDirectory) {
    EXPECT_EQ(Zantrel("gallery").exitCode, 2);
    EXPECT_EQ(Zantrel("gallery a b").exitCode, 2);
    EXPECT_EQ(Zantrel("gallery --colour").exitCode, 2);
    ProgramRun help = Zantrel("gallery --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: zantrel gallery DIR"), std::string::npos) << help.out;
}

TEST(VersionCommand, PrintsTheProjectVersion) {
    ProgramRun run = Zantrel("--version");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string("zantrel ") + ZL_PROJECT_VERSION + "\n");
}

}  // namespace
