// Renders every gallery scene through the library (the DLL under wine in the
// Windows build) and compares each picture with its kept checksum, so that no
// pixel of any scene changes unnoticed in either flavour.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "gallery.h"

namespace {

using namespace zantrel::gallery;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

TEST(Gallery, EveryPictureHasItsKeptChecksum) {
    std::map<std::string, Expected> expected;
    std::string reason;
    ASSERT_TRUE(ReadChecksums(ZL_GALLERY_CHECKSUMS, expected, reason)) << reason;
    std::set<std::string> rendered;
    for (const Scene &scene : Scenes()) {
        Rendered out;
        ASSERT_TRUE(Render(scene, out, reason)) << reason;
        EXPECT_TRUE(rendered.insert(scene.name).second) << "two scenes named " << scene.name;
        EXPECT_FALSE(out.calls.empty()) << scene.name << " shows no call";
        auto kept = expected.find(scene.name);
        if (kept == expected.end()) {
            ADD_FAILURE() << "no checksum for scene " << scene.name
                          << " (run scripts/update-gallery-checksums.sh): " << ChecksumLine(scene.name, out.picture);
            continue;
        }
        EXPECT_EQ(out.picture.width, kept->second.width) << scene.name;
        EXPECT_EQ(out.picture.height, kept->second.height) << scene.name;
        EXPECT_EQ(Hex(Checksum(out.picture)), Hex(kept->second.checksum)) << "pixels of scene " << scene.name;
    }
    for (const auto &entry : expected) {
        EXPECT_TRUE(rendered.count(entry.first) == 1) << "checksum kept for a scene that no longer exists: "
                                                      << entry.first;
    }
}

// The checksum sees every pixel and the size: a one-bit change anywhere, or
// the same pixels in another shape, gives another value.
TEST(Gallery, ChecksumSeesEveryBitAndTheShape) {
    Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.pixels = {1, 2, 3, 4, 5, 6};
    uint64_t original = Checksum(picture);
    std::set<uint64_t> seen = {original};
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        for (int bit = 0; bit < 32; bit += 7) {
            Picture changed = picture;
            changed.pixels[i] ^= 1u << bit;
            EXPECT_TRUE(seen.insert(Checksum(changed)).second) << "pixel " << i << " bit " << bit;
        }
    }
    Picture reshaped = picture;
    reshaped.width = 2;
    reshaped.height = 3;
    EXPECT_NE(Checksum(reshaped), original);
}

}  // namespace
