#include "cmd_resize.h"

#include <cstdint>
#include <iostream>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {

namespace {

const char kWho[] = "zantrel resize";

const char kResizeUsage[] =
    "Usage: zantrel resize IN.png -o OUT.png --size WxH [--via scaler|sibling]\n"
    "\n"
    "Scales IN to W x H pixels and writes the result to OUT.\n"
    "Shrinking averages the covered source area, enlarging interpolates;\n"
    "colour is averaged weighted by alpha, so transparent pixels do not\n"
    "darken edges.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  --size WxH          the new size, two positive whole numbers (required)\n"
    "  --via scaler        the library's scanline scaler (default)\n"
    "  --via sibling       the Quoravel conversion library\n"
    "  -h, --help          show this help\n";

int UsageError(const std::string &message) { return CommandUsageError(kWho, message); }

// A positive decimal number of at most 9 digits, digits only.
bool ParsePositive(const std::string &text, int32_t &value) {
    if (text.empty() || text.size() > 9) return false;
    int64_t parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        parsed = parsed * 10 + (c - '0');
    }
    if (parsed <= 0) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseSize(const std::string &text, int32_t &width, int32_t &height) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    return ParsePositive(text.substr(0, x), width) && ParsePositive(text.substr(x + 1), height);
}

struct ResizeOptions {
    std::string input;
    std::string output;
    int32_t width = 0;
    int32_t height = 0;
    bool viaSibling = false;
};

// Returns -1 when the options are good, else the exit code.
int ParseOptions(const std::vector<std::string> &args, ResizeOptions &options) {
    std::vector<std::string> files;
    bool sizeGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        bool missing = false;
        std::string value;
        if (TakeOptionValue(args, i, "--output", "-o", value, missing)) {
            if (missing) return UsageError("option '" + arg + "' needs a file name");
            if (value.empty()) return UsageError("empty output file name");
            options.output = value;
        } else if (TakeOptionValue(args, i, "--size", nullptr, value, missing)) {
            if (missing) return UsageError("option '--size' needs WxH");
            if (!ParseSize(value, options.width, options.height))
                return UsageError("malformed --size '" + value + "': expected WxH, two positive whole numbers");
            sizeGiven = true;
        } else if (TakeOptionValue(args, i, "--via", nullptr, value, missing)) {
            if (missing) return UsageError("option '--via' needs 'scaler' or 'sibling'");
            if (value != "scaler" && value != "sibling")
                return UsageError("unknown --via '" + value + "': expected 'scaler' or 'sibling'");
            options.viaSibling = value == "sibling";
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (files.size() != 1) return UsageError("expected one input file, got " + std::to_string(files.size()));
    if (options.output.empty()) return UsageError("missing -o OUT.png");
    if (!sizeGiven) return UsageError("missing --size WxH");
    if (static_cast<uint64_t>(options.width) * static_cast<uint64_t>(options.height) > kMaxImagePixels)
        return UsageError("--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                          " is too large");
    options.input = files[0];
    return -1;
}

bool Scale(Image &source, Image &target, bool viaSibling) {
    LayerRef from(CreateCompatibleLayer(source.pixels.data(), source.width, source.height, source.width * 4));
    LayerRef to(CreateCompatibleLayer(target.pixels.data(), target.width, target.height, target.width * 4));
    if (!from || !to) return false;
    // Two separate roots: ResizeLayerCorrect takes the scanline scaler.
    return (viaSibling ? ResizeLayer(to.get(), from.get()) : ResizeLayerCorrect(to.get(), from.get())) != 0;
}

}  // namespace

int RunResize(const std::vector<std::string> &args) {
    if (AsksForHelp(args)) {
        std::cout << kResizeUsage;
        return 0;
    }
    ResizeOptions options;
    int code = ParseOptions(args, options);
    if (code >= 0) return code;

    std::string reason;
    Image source;
    if (!ReadPng(options.input, source, reason)) return CommandFileError(options.input, reason);
    Image target;
    target.width = options.width;
    target.height = options.height;
    target.pixels.assign(static_cast<size_t>(options.width) * static_cast<size_t>(options.height), 0);
    if (!Scale(source, target, options.viaSibling)) {
        std::cerr << kWho << ": cannot scale the image (out of memory?)\n";
        return kCommandFailure;
    }
    if (!WritePng(options.output, target, reason)) return CommandFileError(options.output, reason);
    return 0;
}

}  // namespace zantrel
