// zantrel trim: crops a PNG file to the bounding box of its non-transparent
// pixels, found by ClipToAlphaLayerEx.
#include <iostream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {

namespace {

const char kTrimUsage[] =
    "Usage: zantrel trim IN.png -o OUT.png\n"
    "\n"
    "Crops IN to the smallest rectangle that holds every pixel whose alpha is not 0,\n"
    "writes it to OUT and prints the rectangle as \"X,Y WIDTHxHEIGHT\" (X and Y of its\n"
    "top-left corner in IN). An image without such a pixel is written whole.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  -h, --help          show this help\n";

bool HasVisiblePixel(const Image &image) {
    for (uint32_t p : image.pixels) {
        if (p > 0x00FFFFFFu) return true;
    }
    return false;
}

struct Box {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Crops image to its alpha box; false when a layer cannot be made.
bool Trim(Image &image, Image &cropped, Box &box) {
    LayerRef layer(CreateCompatibleLayer(image.pixels.data(), image.width, image.height, image.width * 4));
    if (!layer) return false;
    LayerRef window(ClipToAlphaLayerEx(layer.get(), &box.x, &box.y, &box.width, &box.height));
    if (!window) return false;
    cropped.width = box.width;
    cropped.height = box.height;
    cropped.pixels.assign(static_cast<size_t>(box.width) * static_cast<size_t>(box.height), 0);
    LayerRef out(CreateCompatibleLayer(cropped.pixels.data(), cropped.width, cropped.height, cropped.width * 4));
    if (!out) return false;
    CopyLayer(out.get(), window.get());
    return true;
}

}  // namespace

int RunTrim(const std::vector<std::string> &args) {
    const std::string who = "zantrel trim";
    ImageCommandLine line;
    std::string error;
    bool parsed = ParseImageCommandLine(args, {}, line, error);
    if (line.help) {
        std::cout << kTrimUsage;
        return 0;
    }
    if (!parsed) return CommandUsageError(who, error);
    if (line.inputs.size() != 1)
        return CommandUsageError(who, "expected one IN.png, got " + std::to_string(line.inputs.size()) + " file(s)");
    if (line.output.empty()) return CommandUsageError(who, "missing -o OUT.png");

    Image image;
    if (!ReadPng(line.inputs[0], image, error)) return CommandFileError(line.inputs[0], error);
    Image cropped;
    Box box;
    if (!Trim(image, cropped, box)) {
        std::cerr << who << ": cannot create a layer\n";
        return kCommandFailure;
    }
    if (!WritePng(line.output, cropped, error)) return CommandFileError(line.output, error);
    std::cout << box.x << ',' << box.y << ' ' << box.width << 'x' << box.height;
    if (!HasVisiblePixel(image)) std::cout << " (no pixel with alpha; kept whole)";
    std::cout << '\n';
    return 0;
}

}  // namespace zantrel
