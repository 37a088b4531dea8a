// zantrel flip: mirrors a PNG file left to right or top to bottom.
#include <iostream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {

namespace {

const char kFlipUsage[] =
    "Usage: zantrel flip IN.png -o OUT.png --horizontal|--vertical\n"
    "\n"
    "Mirrors IN left to right (--horizontal) or top to bottom (--vertical) and\n"
    "writes the result to OUT.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  --horizontal        mirror each row\n"
    "  --vertical          mirror the order of the rows\n"
    "  -h, --help          show this help\n";

}  // namespace

int RunFlip(const std::vector<std::string> &args) {
    const std::string who = "zantrel flip";
    ImageCommandLine line;
    std::string error;
    bool parsed = ParseImageCommandLine(args, {"--horizontal", "--vertical"}, line, error);
    if (line.help) {
        std::cout << kFlipUsage;
        return 0;
    }
    if (!parsed) return CommandUsageError(who, error);
    if (line.inputs.size() != 1)
        return CommandUsageError(who, "expected one IN.png, got " + std::to_string(line.inputs.size()) + " file(s)");
    if (line.output.empty()) return CommandUsageError(who, "missing -o OUT.png");
    if (line.flags.size() != 1) return CommandUsageError(who, "give exactly one of --horizontal and --vertical");

    Image image;
    if (!ReadPng(line.inputs[0], image, error)) return CommandFileError(line.inputs[0], error);
    LayerRef layer(CreateCompatibleLayer(image.pixels.data(), image.width, image.height, image.width * 4));
    if (!layer) {
        std::cerr << who << ": cannot create a layer\n";
        return kCommandFailure;
    }
    if (line.flags[0] == "--horizontal") {
        FlipHorzLayer(layer.get());
    } else {
        FlipVertLayer(layer.get());
    }
    if (!WritePng(line.output, image, error)) return CommandFileError(line.output, error);
    return 0;
}

}  // namespace zantrel
