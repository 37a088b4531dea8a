// The gallery: small scenes that render pictures with the library's exports
// from built-in inputs. The `zantrel gallery` command writes them as PNG
// files with an index.html; the tests of both flavours render the same scenes
// (natively, and through the DLL under wine) and compare every picture with
// the checksums kept in tests/gallery/checksums.txt.
//
// Adding a scene: write one function `bool MyScene(Stage &stage)` in
// scenes.cpp that makes its inputs with the Stage, runs the operation through
// ZL_GALLERY_CALL and shows its layers with Stage::Show; then add one entry
// to the table at the end of scenes.cpp, and regenerate the checksums
// (scripts/update-gallery-checksums.sh).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ZantrelLayer.h"

namespace zantrel::gallery {

// Straight-alpha 0xAARRGGBB pixels, row after row.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// A scene's workspace: it owns the layers and buffers the scene makes, keeps
// the text of the calls the scene shows, and lays out the panels of its
// picture side by side.
class Stage {
public:
    Stage() = default;
    ~Stage();
    Stage(const Stage &) = delete;
    Stage &operator=(const Stage &) = delete;

    // A w x h root over a buffer the stage owns, each pixel from fill(x, y);
    // null when the layer cannot be made (the scene then fails).
    Layer *HostLayer(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)> &fill);
    // The buffer behind a layer made by HostLayer; null for any other layer.
    uint32_t *Pixels(Layer *layer);
    // A layer the library allocates (CreateLayer), transparent black.
    Layer *NewLayer(int32_t w, int32_t h);
    // A clipped window onto parent at (x, y), w x h (ClipLayerXYWH).
    Layer *Window(Layer *parent, int32_t x, int32_t y, int32_t w, int32_t h);

    // Adds a panel with the root layer's pixels as they are now (copied out
    // with CopyLayer), captioned for the index.
    bool Show(const std::string &caption, Layer *root);

    // Takes a layer the scene made itself (e.g. with CreateClippedLayer) to
    // delete it with the stage; returns it.
    Layer *Own(Layer *layer);

    // Records the source text of a call shown with the picture; a call
    // repeated in a loop is shown once.
    void Record(const char *call);

    const std::vector<std::string> &Calls() const { return calls_; }
    const std::vector<std::string> &Captions() const { return captions_; }
    // The panels side by side, 8 transparent pixels apart, top-aligned.
    Picture Compose() const;

private:
    std::vector<Layer *> layers_;  // deleted newest first: children before roots
    std::vector<std::unique_ptr<std::vector<uint32_t>>> buffers_;
    std::map<Layer *, uint32_t *> hostPixels_;
    std::vector<std::string> calls_;
    std::vector<std::string> captions_;
    std::vector<Picture> panels_;
};

// Runs a library call and records its text, exactly as written, for the
// index: ZL_GALLERY_CALL(stage, CompositOnTopLayer(top, bottom));
#define ZL_GALLERY_CALL(stage, ...) ((stage).Record(#__VA_ARGS__), (__VA_ARGS__))

struct Scene {
    const char *name;   // file stem of the picture, e.g. "over"
    const char *title;  // heading in the index
    const char *about;  // one sentence on what the picture shows
    bool (*render)(Stage &stage);
};

const std::vector<Scene> &Scenes();

struct Rendered {
    const Scene *scene = nullptr;
    Picture picture;
    std::vector<std::string> calls;
    std::vector<std::string> captions;
};

// Renders one scene; false (with `reason`) when a layer could not be made.
bool Render(const Scene &scene, Rendered &out, std::string &reason);

// 64-bit FNV-1a over the width, height and pixels (each as 4 little-endian
// bytes): any change of any pixel changes it.
uint64_t Checksum(const Picture &picture);

// One line of the checksum file: "name width height checksum".
std::string ChecksumLine(const std::string &name, const Picture &picture);
// The first lines of a checksum file: how to regenerate it.
extern const char kChecksumFileHeader[];

struct Expected {
    int32_t width = 0;
    int32_t height = 0;
    uint64_t checksum = 0;
};
// Reads a checksum file (lines starting with '#' are comments). False with
// `reason` when it cannot be read or a line is malformed.
bool ReadChecksums(const std::string &path, std::map<std::string, Expected> &out, std::string &reason);

}  // namespace zantrel::gallery
