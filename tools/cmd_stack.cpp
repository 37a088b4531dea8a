// zantrel stack: composites PNG files bottom to top, each with an opacity,
// through CompositMany.
#include <sys/stat.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {

namespace {

const char kStackUsage[] =
    "Usage: zantrel stack BOTTOM.png[:OPACITY] ... TOP.png[:OPACITY] -o OUT.png\n"
    "\n"
    "Stacks the images bottom to top, each over the ones before it (straight-alpha\n"
    "\"over\"), with all top-left corners together, and writes the result, which has\n"
    "BOTTOM's size, to OUT. OPACITY (0 to 255, default 255) scales an image's alpha;\n"
    "an image with opacity 0 is left out. An image smaller than BOTTOM covers only\n"
    "its own pixels; parts larger than BOTTOM are cut off.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  -h, --help          show this help\n";

struct StackInput {
    std::string path;
    uint8_t opacity = 255;
};

bool IsDigits(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string BadOpacity(const std::string &opacity, const std::string &arg) {
    return "opacity '" + opacity + "' of '" + arg + "' is not a whole number from 0 to 255";
}

bool Exists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// "FILE:N" with N a whole number names FILE with opacity N. Any other text
// after the last colon is part of the file name, unless the text before it
// names a file and the whole does not: then it is a mistyped opacity
// ("icon.png:-5", "icon.png:12.5", "icon.png:").
bool ParseStackInput(const std::string &arg, StackInput &input, std::string &error) {
    size_t colon = arg.rfind(':');
    input.path = arg;
    input.opacity = 255;
    if (colon == std::string::npos) return true;
    std::string digits = arg.substr(colon + 1);
    if (!IsDigits(digits)) {
        if (colon == 0 || Exists(arg) || !Exists(arg.substr(0, colon))) return true;
        error = BadOpacity(digits, arg);
        return false;
    }
    if (digits.size() > 3 || std::stoi(digits) > 255) {
        error = BadOpacity(digits, arg);
        return false;
    }
    if (colon == 0) {
        error = "no file name before ':" + digits + "'";
        return false;
    }
    input.path = arg.substr(0, colon);
    input.opacity = static_cast<uint8_t>(std::stoi(digits));
    return true;
}

bool StackImages(std::vector<Image> &images, const std::vector<StackInput> &inputs, Image &result) {
    result.width = images[0].width;
    result.height = images[0].height;
    result.pixels.assign(static_cast<size_t>(result.width) * static_cast<size_t>(result.height), 0);
    LayerRef output(CreateCompatibleLayer(result.pixels.data(), result.width, result.height, result.width * 4));
    if (!output) return false;
    std::vector<LayerRef> layers;
    std::vector<CompositEntry> entries;
    for (size_t i = 0; i < images.size(); ++i) {
        Image &image = images[i];
        layers.emplace_back(CreateCompatibleLayer(image.pixels.data(), image.width, image.height, image.width * 4));
        if (!layers.back()) return false;
        entries.push_back(CompositEntry{layers.back().get(), inputs[i].opacity});
    }
    return CompositMany(output.get(), entries.data(), static_cast<int32_t>(entries.size())) == 1;
}

}  // namespace

int RunStack(const std::vector<std::string> &args) {
    const std::string who = "zantrel stack";
    ImageCommandLine line;
    std::string error;
    bool parsed = ParseImageCommandLine(args, {}, line, error);
    if (line.help) {
        std::cout << kStackUsage;
        return 0;
    }
    if (!parsed) return CommandUsageError(who, error);
    if (line.inputs.empty()) return CommandUsageError(who, "expected at least one image");
    if (line.output.empty()) return CommandUsageError(who, "missing -o OUT.png");
    std::vector<StackInput> inputs(line.inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!ParseStackInput(line.inputs[i], inputs[i], error)) return CommandUsageError(who, error);
    }

    std::vector<Image> images(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!ReadPng(inputs[i].path, images[i], error)) return CommandFileError(inputs[i].path, error);
    }
    Image result;
    if (!StackImages(images, inputs, result)) {
        std::cerr << who << ": cannot create a layer\n";
        return kCommandFailure;
    }
    if (!WritePng(line.output, result, error)) return CommandFileError(line.output, error);
    return 0;
}

}  // namespace zantrel
