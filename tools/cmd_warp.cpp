// zantrel warp: draws an image into a quadrilateral with perspective.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"

namespace zantrel {

namespace {

const char kWho[] = "zantrel warp";

const char kWarpUsage[] =
    "Usage: zantrel warp IN.png -o OUT.png --corners X0,Y0,X1,Y1,X2,Y2,X3,Y3\n"
    "                    [--canvas WxH | --on BG.png]\n"
    "\n"
    "Draws IN with perspective into the quadrilateral whose corners receive IN's\n"
    "top-left (X0,Y0), top-right (X1,Y1), bottom-right (X2,Y2) and bottom-left\n"
    "(X3,Y3) corners, in pixels of the output (pixel (i, j) covers i..i+1, j..j+1).\n"
    "The corners must form a convex quadrilateral that encloses an area. Edges\n"
    "are antialiased. On a canvas the mapped pixels are stored as they are; with\n"
    "--on the warped image is composited over BG (straight-alpha \"over\"), so\n"
    "its edges blend into BG.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where to write the result (required)\n"
    "  --corners LIST      the eight corner coordinates (required)\n"
    "  --canvas WxH        a transparent canvas of W x H pixels (default: from the\n"
    "                      origin to the last column and row the quad reaches)\n"
    "  --on BG.png         composite onto BG instead; the output has BG's size\n"
    "  -h, --help          show this help\n";

int UsageError(const std::string &message) { return CommandUsageError(kWho, message); }

std::vector<std::string> SplitAt(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// A whole decimal number (strtod syntax, no spaces); "nan" and "inf" parse
// and are refused later with their own message.
bool ParseNumber(const std::string &text, double &value) {
    if (text.empty() || text.find_first_of(" \t\n") != std::string::npos) return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && errno != ERANGE;
}

bool ParseCorners(const std::string &text, double (&x)[4], double (&y)[4]) {
    std::vector<std::string> parts = SplitAt(text, ',');
    if (parts.size() != 8) return false;
    for (int i = 0; i < 4; ++i)
        if (!ParseNumber(parts[2 * i], x[i]) || !ParseNumber(parts[2 * i + 1], y[i])) return false;
    return true;
}

bool ParseSize(const std::string &text, int32_t &width, int32_t &height) {
    size_t cross = text.find_first_of("xX");
    if (cross == std::string::npos) return false;
    std::string parts[2] = {text.substr(0, cross), text.substr(cross + 1)};
    long long values[2];
    for (int i = 0; i < 2; ++i) {
        if (parts[i].empty() || parts[i].find_first_not_of("0123456789") != std::string::npos) return false;
        errno = 0;
        values[i] = std::strtoll(parts[i].c_str(), nullptr, 10);
        if (errno != 0 || values[i] < 1 || values[i] > INT32_MAX) return false;
    }
    width = static_cast<int32_t>(values[0]);
    height = static_cast<int32_t>(values[1]);
    return true;
}

struct WarpOptions {
    std::string input;
    std::string output;
    std::string background;
    bool cornersGiven = false;
    double x[4] = {};
    double y[4] = {};
    bool canvasGiven = false;
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
};

// Parses the arguments; returns -1 when the command should go on, else the
// exit code.
int ParseWarpArguments(const std::vector<std::string> &args, WarpOptions &options) {
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        bool missing = false;
        std::string value;
        if (TakeOptionValue(args, i, "--output", "-o", value, missing)) {
            if (missing || value.empty()) return UsageError("option '-o' needs a file name");
            options.output = value;
        } else if (TakeOptionValue(args, i, "--corners", nullptr, value, missing)) {
            if (missing) return UsageError("option '--corners' needs eight numbers");
            if (!ParseCorners(value, options.x, options.y))
                return UsageError("malformed --corners '" + value + "': expected eight numbers X0,Y0,...,X3,Y3");
            options.cornersGiven = true;
        } else if (TakeOptionValue(args, i, "--canvas", nullptr, value, missing)) {
            if (missing || !ParseSize(value, options.canvasWidth, options.canvasHeight))
                return UsageError("malformed --canvas '" + value + "': expected WxH, two positive whole numbers");
            options.canvasGiven = true;
        } else if (TakeOptionValue(args, i, "--on", nullptr, value, missing)) {
            if (missing || value.empty()) return UsageError("option '--on' needs a file name");
            options.background = value;
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (files.size() != 1) return UsageError("expected one input file, got " + std::to_string(files.size()));
    options.input = files[0];
    if (options.output.empty()) return UsageError("missing -o OUT.png");
    if (!options.cornersGiven) return UsageError("missing --corners X0,Y0,X1,Y1,X2,Y2,X3,Y3");
    if (options.canvasGiven && !options.background.empty())
        return UsageError("--canvas and --on cannot be used together");
    return -1;
}

// Checks the corners; the rectangle they cover is returned in `rect`.
int CheckCorners(const WarpOptions &options, LayerRect &rect) {
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(options.x[i]) || !std::isfinite(options.y[i]))
            return UsageError("the corners must be finite numbers");
    // Twice the signed area (shoelace); corners on one point or one line
    // enclose nothing to draw into.
    double area = 0;
    for (int i = 0; i < 4; ++i) area += options.x[i] * options.y[(i + 1) % 4] - options.x[(i + 1) % 4] * options.y[i];
    if (!(std::fabs(area) > 0))
        return UsageError("the corners enclose no area; they must form a convex quadrilateral");
    if (TestFourCorner(options.x, options.y, &rect) == 0)
        return UsageError("the corners do not form a convex quadrilateral (give them in order around it: "
                          "top-left, top-right, bottom-right, bottom-left of the image)");
    return -1;
}

// The default canvas reaches from the origin to the last row and column the
// quad covers: the library's bounding rectangle holds one more of each.
int MakeCanvas(const WarpOptions &options, Image &canvas) {
    double width = options.canvasWidth;
    double height = options.canvasHeight;
    if (!options.canvasGiven) {
        width = std::ceil(std::max(std::max(options.x[0], options.x[1]), std::max(options.x[2], options.x[3])));
        height = std::ceil(std::max(std::max(options.y[0], options.y[1]), std::max(options.y[2], options.y[3])));
    }
    if (width < 1 || height < 1)
        return UsageError("the quadrilateral lies left of or above the origin; give --canvas WxH");
    if (width * height > static_cast<double>(kMaxImagePixels)) {
        char size[80];
        std::snprintf(size, sizeof size, "%.0f x %.0f", width, height);
        return UsageError(std::string("the canvas would be too large (") + size + ")");
    }
    canvas.width = static_cast<int32_t>(width);
    canvas.height = static_cast<int32_t>(height);
    canvas.pixels.assign(static_cast<size_t>(canvas.width) * static_cast<size_t>(canvas.height), 0u);
    return -1;
}

// The library draws into a layer whose pixel (0, 0) is the rectangle's
// top-left corner: a window of the canvas placed there, which the library
// cuts where it leaves the canvas.
bool DrawWarp(Image &canvas, Image &image, const WarpOptions &options, const LayerRect &rect) {
    LayerRef canvasLayer(CreateCompatibleLayer(canvas.pixels.data(), canvas.width, canvas.height, canvas.width * 4));
    LayerRef imageLayer(CreateCompatibleLayer(image.pixels.data(), image.width, image.height, image.width * 4));
    if (!canvasLayer || !imageLayer) return false;
    LayerRef window(CreateClippedLayer(canvasLayer.get()));
    if (!window) return false;
    // Width and height wrap like the library's own rectangle arithmetic; a box
    // too large for 32 bits cannot be drawn and the library says so.
    int32_t width = static_cast<int32_t>(static_cast<uint32_t>(rect.right) - static_cast<uint32_t>(rect.left));
    int32_t height = static_cast<int32_t>(static_cast<uint32_t>(rect.bottom) - static_cast<uint32_t>(rect.top));
    ClipLayerXYWH(window.get(), rect.left, rect.top, width, height);
    return FourCornerMapLayer(window.get(), imageLayer.get(), options.x, options.y) != 0;
}

bool CompositeOnto(Image &background, Image &top) {
    LayerRef bottomLayer(
        CreateCompatibleLayer(background.pixels.data(), background.width, background.height, background.width * 4));
    LayerRef topLayer(CreateCompatibleLayer(top.pixels.data(), top.width, top.height, top.width * 4));
    if (!bottomLayer || !topLayer) return false;
    CompositOnBottomLayer(topLayer.get(), bottomLayer.get());
    return true;
}

}  // namespace

int RunWarp(const std::vector<std::string> &args) {
    if (AsksForHelp(args)) {
        std::cout << kWarpUsage;
        return 0;
    }
    WarpOptions options;
    int status = ParseWarpArguments(args, options);
    if (status >= 0) return status;
    LayerRect rect;
    status = CheckCorners(options, rect);
    if (status >= 0) return status;
    std::string reason;
    Image image;
    if (!ReadPng(options.input, image, reason)) return CommandFileError(options.input, reason);
    Image background;
    if (!options.background.empty() && !ReadPng(options.background, background, reason))
        return CommandFileError(options.background, reason);
    WarpOptions sized = options;
    if (!options.background.empty()) {
        sized.canvasGiven = true;
        sized.canvasWidth = background.width;
        sized.canvasHeight = background.height;
    }
    Image canvas;
    status = MakeCanvas(sized, canvas);
    if (status >= 0) return status;
    bool drawn = DrawWarp(canvas, image, options, rect);
    if (drawn && !options.background.empty()) {
        drawn = CompositeOnto(background, canvas);
        canvas = std::move(background);
    }
    if (!drawn) {
        std::cerr << kWho << ": the image cannot be drawn into these corners (out of memory, or every way of "
                             "splitting the mapping would fold)\n";
        return kCommandFailure;
    }
    if (!WritePng(options.output, canvas, reason)) return CommandFileError(options.output, reason);
    return 0;
}

}  // namespace zantrel
