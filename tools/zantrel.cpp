// zantrel: renders a demo scene and composites PNG files with ZantrelLayer.
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "cmd_gallery.h"
#include "cmd_version.h"
#include "cmd_resize.h"
#include "cmd_video.h"
#include "demo.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {
int RunWarp(const std::vector<std::string> &args);  // cmd_warp.cpp
}

namespace {

using zantrel::Image;
using zantrel::LayerRef;
using zantrel::TakeOptionValue;

constexpr int kExitFailure = 1;  // a file could not be read or written
constexpr int kExitUsage = 2;    // the command line was wrong

const char kProgramUsage[] =
    "Usage: zantrel [COMMAND] [OPTIONS]\n"
    "\n"
    "Composites straight-alpha ARGB images with the ZantrelLayer library.\n"
    "\n"
    "Commands:\n"
    "  demo [-o FILE]                          render the built-in scene (default: demo.png)\n"
    "  over TOP.png BOTTOM.png -o OUT.png [--at X,Y]\n"
    "                                          composite TOP over BOTTOM\n"
    "  stack BOTTOM.png[:OPACITY] ... TOP.png[:OPACITY] -o OUT.png\n"
    "                                          stack images with per-image opacity\n"
    "  flip IN.png -o OUT.png --horizontal|--vertical\n"
    "                                          mirror an image\n"
    "  trim IN.png -o OUT.png                  crop to the non-transparent pixels\n"
    "  warp IN.png -o OUT.png --corners X0,Y0,X1,Y1,X2,Y2,X3,Y3 [--canvas WxH | --on BG.png]\n"
    "                                          draw IN into a quadrilateral with perspective\n"
    "  gallery DIR                             render the gallery: PNGs and index.html\n"
    "  --version                               print the version\n"
    "  resize IN.png -o OUT.png --size WxH [--via scaler|sibling]\n"
    "                                          scale IN to W x H pixels\n"
    "  video IN -o OUT [--over IMAGE.png] [--pip VIDEO] [--warp IMAGE.png --corners ...]\n"
    "                                          composite onto every frame of a video (needs ffmpeg)\n"
    "\n"
    "With no command, zantrel runs `demo`.\n"
    "Run `zantrel COMMAND --help` for a command's options.\n";

const char kDemoUsage[] =
    "Usage: zantrel demo [-o FILE]\n"
    "\n"
    "Renders a 640 x 400 scene with the library's layer operations and writes it\n"
    "as an 8-bit RGBA PNG. Prints each step and the time taken.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the image (default: demo.png)\n"
    "  -h, --help          show this help\n";

const char kOverUsage[] =
    "Usage: zantrel over TOP.png BOTTOM.png -o OUT.png [--at X,Y]\n"
    "\n"
    "Composites TOP over BOTTOM (straight-alpha \"over\") with TOP's top-left corner\n"
    "at (X, Y) of BOTTOM, and writes the result, which has BOTTOM's size, to OUT.\n"
    "X and Y may be negative; the parts of TOP outside BOTTOM are ignored.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  --at X,Y            position of TOP in BOTTOM (default: 0,0)\n"
    "  -h, --help          show this help\n";

int UsageError(const std::string &who, const std::string &message) {
    std::cerr << who << ": " << message << " (try '" << who << " --help')\n";
    return kExitUsage;
}

int FileError(const std::string &path, const std::string &reason) {
    std::cerr << "zantrel: " << path << ": " << reason << '\n';
    return kExitFailure;
}

bool IsHelp(const std::string &arg) { return arg == "-h" || arg == "--help"; }

// Reads a whole decimal int32 with an optional sign; nothing else allowed.
bool ParseInt32(const std::string &text, int32_t &value) {
    if (text.empty()) return false;
    size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (digits == text.size()) return false;
    for (size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    errno = 0;
    char *end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseAt(const std::string &text, int32_t &x, int32_t &y) {
    size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    return ParseInt32(text.substr(0, comma), x) && ParseInt32(text.substr(comma + 1), y);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int RunDemo(const std::vector<std::string> &args) {
    const std::string who = "zantrel demo";
    std::string output = "demo.png";
    for (size_t i = 0; i < args.size(); ++i) {
        if (IsHelp(args[i])) {
            std::cout << kDemoUsage;
            return 0;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        bool missing = false;
        std::string value;
        if (TakeOptionValue(args, i, "--output", "-o", value, missing)) {
            if (missing) return UsageError(who, "option '" + args[i] + "' needs a file name");
            if (value.empty()) return UsageError(who, "empty output file name");
            output = value;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return UsageError(who, "unknown option '" + args[i] + "'");
        } else {
            return UsageError(who, "unexpected argument '" + args[i] + "'");
        }
    }

    auto start = std::chrono::steady_clock::now();
    std::cout << "zantrel demo: " << zantrel::kDemoWidth << " x " << zantrel::kDemoHeight << " scene\n";
    Image canvas;
    std::string reason;
    if (!zantrel::RenderDemo(canvas, std::cout, reason)) {
        std::cerr << "zantrel demo: " << reason << '\n';
        return kExitFailure;
    }
    double renderMs = MillisecondsSince(start);
    auto writeStart = std::chrono::steady_clock::now();
    if (!zantrel::WritePng(output, canvas, reason)) return FileError(output, reason);
    double writeMs = MillisecondsSince(writeStart);
    std::cout.setf(std::ios::fixed);
    std::cout.precision(1);
    std::cout << "rendered in " << renderMs << " ms, wrote " << output << " in " << writeMs << " ms (total "
              << MillisecondsSince(start) << " ms)\n";
    return 0;
}

// Composites top over bottom in place, top's corner at (x, y) of bottom.
bool CompositeOver(Image &bottom, Image &top, int32_t x, int32_t y) {
    // A window whose far edge would not fit in 32 bits lies wholly outside
    // the bottom image: there is nothing to do.
    if (static_cast<int64_t>(x) + top.width > INT32_MAX || static_cast<int64_t>(y) + top.height > INT32_MAX)
        return true;
    LayerRef bottomLayer(CreateCompatibleLayer(bottom.pixels.data(), bottom.width, bottom.height, bottom.width * 4));
    if (!bottomLayer) return false;
    LayerRef window(CreateClippedLayer(bottomLayer.get()));
    if (!window) return false;
    ClipLayerXYWH(window.get(), x, y, top.width, top.height);
    LayerRef topLayer(CreateCompatibleLayer(top.pixels.data(), top.width, top.height, top.width * 4));
    if (!topLayer) return false;
    CompositOnBottomLayer(topLayer.get(), window.get());
    return true;
}

int RunOver(const std::vector<std::string> &args) {
    const std::string who = "zantrel over";
    for (const std::string &arg : args) {
        if (arg == "--") break;
        if (IsHelp(arg)) {
            std::cout << kOverUsage;
            return 0;
        }
    }
    std::vector<std::string> files;
    std::string output;
    int32_t x = 0;
    int32_t y = 0;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        bool missing = false;
        std::string value;
        if (TakeOptionValue(args, i, "--output", "-o", value, missing)) {
            if (missing) return UsageError(who, "option '" + arg + "' needs a file name");
            if (value.empty()) return UsageError(who, "empty output file name");
            output = value;
        } else if (TakeOptionValue(args, i, "--at", nullptr, value, missing)) {
            if (missing) return UsageError(who, "option '--at' needs X,Y");
            if (!ParseAt(value, x, y))
                return UsageError(who, "malformed --at '" + value + "': expected X,Y, two whole numbers");
        } else {
            return UsageError(who, "unknown option '" + arg + "'");
        }
    }
    if (files.size() != 2) return UsageError(who, "expected TOP.png and BOTTOM.png, got " + std::to_string(files.size()) + " file(s)");
    if (output.empty()) return UsageError(who, "missing -o OUT.png");

    std::string reason;
    Image top;
    if (!zantrel::ReadPng(files[0], top, reason)) return FileError(files[0], reason);
    Image bottom;
    if (!zantrel::ReadPng(files[1], bottom, reason)) return FileError(files[1], reason);
    if (!CompositeOver(bottom, top, x, y)) {
        std::cerr << "zantrel over: cannot create a layer\n";
        return kExitFailure;
    }
    if (!zantrel::WritePng(output, bottom, reason)) return FileError(output, reason);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.empty()) return RunDemo({});
    std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (IsHelp(command) || command == "help") {
        std::cout << kProgramUsage;
        return 0;
    }
    if (command == "demo") return RunDemo(rest);
    if (command == "over") return RunOver(rest);
    if (command == "stack") return zantrel::RunStack(rest);
    if (command == "flip") return zantrel::RunFlip(rest);
    if (command == "trim") return zantrel::RunTrim(rest);
    if (command == "warp") return zantrel::RunWarp(rest);
    if (command == "gallery") return zantrel::RunGallery(rest);
    if (command == "--version" || command == "version") return zantrel::RunVersion();
    if (command == "resize") return zantrel::RunResize(rest);
    if (command == "video") return zantrel::RunVideo(rest);
    if (!command.empty() && command[0] == '-') return UsageError("zantrel", "unknown option '" + command + "'");
    return UsageError("zantrel", "unknown command '" + command + "'");
}
