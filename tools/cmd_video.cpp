// zantrel video: composites pictures, other videos and warped pictures onto
// every frame of a video. ffmpeg decodes and encodes through pipes; each frame
// is a layer over the frame's own memory, changed in place by the library.
#include "cmd_video.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ZantrelLayer.h"
#include "image_command.h"
#include "layer_ref.h"
#include "png_io.h"
#include "video_process.h"

namespace zantrel {

namespace {

const char kWho[] = "zantrel video";

const char kVideoUsage[] =
    "Usage: zantrel video IN -o OUT [LAYER OPTIONS...] [--codec NAME] [--quality N]\n"
    "                    [--quiet] [--stats]\n"
    "\n"
    "Composites pictures, other videos and warped pictures onto every frame of the\n"
    "video IN and writes the result to OUT. ffmpeg decodes IN into 32-bit BGRA\n"
    "frames through a pipe; each frame is wrapped in a layer over its own memory,\n"
    "the layers given are composited onto it in their order (straight-alpha\n"
    "\"over\"), and a second ffmpeg encodes it. OUT has IN's size, frame rate and\n"
    "frame count, and IN's audio copied unchanged. OUT appears only when it is\n"
    "complete: the frames go to a hidden file beside it, renamed at the end.\n"
    "\n"
    "Layers (each can be given several times; OPACITY is 0 to 255, default 255):\n"
    "  --over IMAGE.png[:OPACITY] [--at X,Y]\n"
    "                      IMAGE over every frame, its top-left corner at X,Y\n"
    "                      (default 0,0; parts outside the frame are cut)\n"
    "  --pip VIDEO[:OPACITY] [--at X,Y] [--size WxH]\n"
    "                      VIDEO's frames, one per frame of IN, scaled to W x H\n"
    "                      (default: VIDEO's size) with the library's scaler; a\n"
    "                      shorter VIDEO ends early, a longer one is cut, another\n"
    "                      frame rate is converted to IN's by ffmpeg\n"
    "  --warp IMAGE.png[:OPACITY] --corners X0,Y0,X1,Y1,X2,Y2,X3,Y3\n"
    "                      IMAGE mapped with perspective into the quadrilateral\n"
    "                      that receives its top-left, top-right, bottom-right and\n"
    "                      bottom-left corners, on every frame\n"
    "  --fade-in S, --fade-out S\n"
    "                      after a layer: its opacity ramps up over the first S\n"
    "                      seconds it shows and down over the last S seconds\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE   the video written (required); its extension chooses the\n"
    "                      container (.mp4, .mkv, .webm, .nut, ...); .mp4, .mov\n"
    "                      and .mkv get H.264 in 4:2:0 unless --codec is given\n"
    "  --codec NAME        ffmpeg's video encoder (e.g. libx264, ffv1, rawvideo)\n"
    "  --quality N         passed on as -crf N to the x264, x265, vpx and aom\n"
    "                      encoders, else as -q:v N\n"
    "  --quiet             no progress line (it is shown only on a terminal)\n"
    "  --stats             print the frame rate reached and the time per frame\n"
    "                      spent in the library and waiting for ffmpeg\n"
    "  -h, --help          show this help\n"
    "\n"
    "Needs ffmpeg and ffprobe on the PATH. Exit status: 0 done; 1 a file could\n"
    "not be read or written, or ffmpeg failed; 2 the command line was wrong;\n"
    "130 or 143 interrupted (SIGINT, SIGTERM): nothing is left of OUT.\n";

const char kInstallHint[] =
    "install ffmpeg, which brings both (Debian, Ubuntu: sudo apt-get install ffmpeg; "
    "others: https://ffmpeg.org/download.html)";

enum class Kind { Over, Pip, Warp };

struct LayerOption {
    Kind kind = Kind::Over;
    std::string name;  // the option, for messages
    std::string path;
    uint8_t opacity = 255;
    bool atGiven = false;
    int32_t x = 0;
    int32_t y = 0;
    bool sizeGiven = false;
    int32_t width = 0;
    int32_t height = 0;
    bool cornersGiven = false;
    double cx[4] = {};
    double cy[4] = {};
    double fadeIn = -1;  // seconds; negative: not given
    double fadeOut = -1;
};

struct VideoOptions {
    std::string input;
    std::string output;
    std::string codec;
    std::string quality;
    bool quiet = false;
    bool stats = false;
    std::vector<LayerOption> layers;
};

int UsageError(const std::string &message) { return CommandUsageError(kWho, message); }

int Failure(const std::string &message) {
    std::cerr << kWho << ": " << message << '\n';
    return kCommandFailure;
}

bool ParseWhole(const std::string &text, int32_t &value, bool allowSign) {
    size_t digits = allowSign && !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 10) return false;
    if (text.find_first_not_of("0123456789", digits) != std::string::npos) return false;
    long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParsePair(const std::string &text, char separators, int32_t &a, int32_t &b, bool allowSign) {
    size_t split = separators == 'x' ? text.find_first_of("xX") : text.find(',');
    return split != std::string::npos && ParseWhole(text.substr(0, split), a, allowSign) &&
           ParseWhole(text.substr(split + 1), b, allowSign);
}

// A plain decimal number: digits with at most one point, nothing else.
bool ParseDecimal(const std::string &text, double &value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return false;
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

bool ParseCorners(const std::string &text, double (&x)[4], double (&y)[4]) {
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(',', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        char *stop = nullptr;
        errno = 0;
        double value = std::strtod(part.c_str(), &stop);
        if (part.empty() || *stop != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
        values.push_back(value);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (values.size() != 8) return false;
    for (int i = 0; i < 4; ++i) {
        x[i] = values[2 * i];
        y[i] = values[2 * i + 1];
    }
    return true;
}

// "FILE:N" with N a whole number is FILE at opacity N; other text is a name.
bool ParseSource(const std::string &text, LayerOption &layer, std::string &error) {
    size_t colon = text.rfind(':');
    layer.path = text;
    if (text.empty()) {
        error = "option '" + layer.name + "' needs a file name";
        return false;
    }
    if (colon == std::string::npos || colon + 1 == text.size() ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return true;
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 3 || std::stoi(digits) > 255) {
        error = "opacity '" + digits + "' of '" + text + "' is not 0 to 255";
        return false;
    }
    if (colon == 0) {
        error = "no file name before ':" + digits + "'";
        return false;
    }
    layer.path = text.substr(0, colon);
    layer.opacity = static_cast<uint8_t>(std::stoi(digits));
    return true;
}

// Applies an option that describes the last layer given; "" when it is fine.
std::string ApplyToLayer(VideoOptions &options, const std::string &name, const std::string &value) {
    if (options.layers.empty()) return "'" + name + "' must follow --over, --pip or --warp";
    LayerOption &layer = options.layers.back();
    auto twice = [&](bool given) {
        return given ? "'" + name + "' given twice for " + layer.name + " " + layer.path : "";
    };
    if (name == "--at") {
        if (layer.kind == Kind::Warp) return "'--at' does not apply to --warp: its --corners place it";
        if (layer.atGiven) return twice(true);
        if (!ParsePair(value, ',', layer.x, layer.y, true))
            return "malformed --at '" + value + "': expected X,Y, two whole numbers";
        layer.atGiven = true;
    } else if (name == "--size") {
        if (layer.kind != Kind::Pip) return "'--size' applies to --pip only";
        if (layer.sizeGiven) return twice(true);
        if (!ParsePair(value, 'x', layer.width, layer.height, false) || layer.width < 1 || layer.height < 1)
            return "malformed --size '" + value + "': expected WxH, two positive whole numbers";
        if (static_cast<uint64_t>(layer.width) * static_cast<uint64_t>(layer.height) > kMaxImagePixels)
            return "--size '" + value + "' is too large";
        layer.sizeGiven = true;
    } else if (name == "--corners") {
        if (layer.kind != Kind::Warp) return "'--corners' applies to --warp only";
        if (layer.cornersGiven) return twice(true);
        if (!ParseCorners(value, layer.cx, layer.cy))
            return "malformed --corners '" + value + "': expected eight finite numbers X0,Y0,...,X3,Y3";
        layer.cornersGiven = true;
    } else {
        double &seconds = name == "--fade-in" ? layer.fadeIn : layer.fadeOut;
        if (seconds >= 0) return twice(true);
        if (!ParseDecimal(value, seconds) || seconds > 1e6)
            return "malformed " + name + " '" + value + "': expected seconds, such as 1.5";
    }
    return "";
}

// Returns -1 when the command should go on, else the exit code.
int ParseVideoArguments(const std::vector<std::string> &args, VideoOptions &options) {
    std::vector<std::string> files;
    static const char *const kLayerOptions[] = {"--over", "--pip", "--warp"};
    static const char *const kLayerDetails[] = {"--at", "--size", "--corners", "--fade-in", "--fade-out"};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        bool missing = false;
        bool taken = false;
        std::string value;
        if (arg == "--quiet" || arg == "--stats") {
            (arg == "--quiet" ? options.quiet : options.stats) = true;
            continue;
        }
        if (TakeOptionValue(args, i, "--output", "-o", value, missing)) {
            if (missing || value.empty()) return UsageError("option '-o' needs a file name");
            options.output = value;
            continue;
        }
        if (TakeOptionValue(args, i, "--codec", nullptr, value, missing)) {
            if (missing || value.empty() ||
                value.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
                return UsageError("option '--codec' needs an encoder's name, such as libx264");
            options.codec = value;
            continue;
        }
        if (TakeOptionValue(args, i, "--quality", nullptr, value, missing)) {
            double ignored = 0;
            if (missing || !ParseDecimal(value, ignored))
                return UsageError("malformed --quality '" + value + "': expected a number, such as 23");
            options.quality = value;
            continue;
        }
        for (int k = 0; k < 3 && !taken; ++k) {
            if (!TakeOptionValue(args, i, kLayerOptions[k], nullptr, value, missing)) continue;
            taken = true;
            LayerOption layer;
            layer.kind = static_cast<Kind>(k);
            layer.name = kLayerOptions[k];
            std::string error;
            if (missing) return UsageError("option '" + layer.name + "' needs a file name");
            if (!ParseSource(value, layer, error)) return UsageError(error);
            options.layers.push_back(layer);
        }
        for (const char *name : kLayerDetails) {
            if (taken || !TakeOptionValue(args, i, name, nullptr, value, missing)) continue;
            taken = true;
            if (missing) return UsageError("option '" + std::string(name) + "' needs a value");
            std::string error = ApplyToLayer(options, name, value);
            if (!error.empty()) return UsageError(error);
        }
        if (!taken) return UsageError("unknown option '" + arg + "'");
    }
    if (files.size() != 1) return UsageError("expected one input video, got " + std::to_string(files.size()));
    options.input = files[0];
    if (options.output.empty()) return UsageError("missing -o OUT");
    for (const LayerOption &layer : options.layers)
        if (layer.kind == Kind::Warp && !layer.cornersGiven)
            return UsageError("--warp " + layer.path + " needs --corners X0,Y0,X1,Y1,X2,Y2,X3,Y3");
    return -1;
}

// ---- Probing ---------------------------------------------------------------

struct VideoInfo {
    int32_t width = 0;
    int32_t height = 0;
    int64_t rateNum = 0;
    int64_t rateDen = 0;
    int64_t frames = 0;  // as the container says, else counted from packets
    bool audio = false;
};

// A local file is named with ffmpeg's file: prefix, so that a colon in its
// name is not taken for a protocol.
std::string FfmpegName(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? "file:" + path : path;
}

std::string FirstLine(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    size_t colon = line.rfind(": ");
    return colon == std::string::npos ? line : line.substr(colon + 2);
}

bool ParseCount(const std::string &text, int64_t &value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// False with `reason` (a phrase for "zantrel: PATH: REASON") when the file
// cannot be read as a video.
bool Probe(const std::string &ffprobe, const std::string &path, VideoInfo &info, std::string &reason) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        reason = "missing";
        return false;
    }
    std::string output, error;
    if (!RunForOutput({ffprobe, "-v", "error", "-show_entries",
                       "stream=codec_type,width,height,r_frame_rate,avg_frame_rate,nb_frames", "-of", "default", "-i",
                       FfmpegName(path)},
                      output, error)) {
        reason = "not a video (ffprobe: " + FirstLine(error) + ")";
        return false;
    }
    std::istringstream lines(output);
    std::string line, type, frames;
    bool video = false;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals), value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (line == "[STREAM]") type.clear();
        if (key == "codec_type") type = value;
        if (type == "audio") info.audio = true;
        if (type != "video" || video) {
            if (line == "[/STREAM]" && type == "video") video = true;
            continue;
        }
        if (key == "width") ParseWhole(value, info.width, false);
        if (key == "height") ParseWhole(value, info.height, false);
        if (key == "nb_frames") frames = value;
        // The average rate where there is one: with variable frame rates the
        // real base rate can be far higher, and frames encoded at it would
        // run too fast for the audio.
        bool average = key == "avg_frame_rate";
        if (average || (key == "r_frame_rate" && info.rateNum < 1)) {
            size_t slash = value.find('/');
            int64_t num = 0, den = 0;
            if (slash != std::string::npos && ParseCount(value.substr(0, slash), num) &&
                ParseCount(value.substr(slash + 1), den) && num > 0 && den > 0) {
                info.rateNum = num;
                info.rateDen = den;
            }
        }
        if (line == "[/STREAM]") video = true;
    }
    if (!video && info.width == 0) {
        reason = "not a video (no video stream)";
        return false;
    }
    if (info.width < 1 || info.height < 1 || info.rateNum < 1 || info.rateDen < 1 || info.rateNum > INT32_MAX ||
        info.rateDen > INT32_MAX) {
        reason = "not a video (no frame size or frame rate)";
        return false;
    }
    if (static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height) > kMaxImagePixels) {
        reason = "frames too large (" + std::to_string(info.width) + " x " + std::to_string(info.height) + ")";
        return false;
    }
    if (!ParseCount(frames, info.frames)) {
        // The container does not say: count the packets, which reads the file
        // but decodes nothing.
        std::string counted;
        if (!RunForOutput({ffprobe, "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
                           "stream=nb_read_packets", "-of", "csv=p=0", "-i", FfmpegName(path)},
                          counted, error) ||
            !ParseCount(counted.substr(0, counted.find_first_of("\n,")), info.frames))
            info.frames = 0;
    }
    return true;
}

std::string RateText(const VideoInfo &info) {
    return std::to_string(info.rateNum) + "/" + std::to_string(info.rateDen);
}

// ---- Signals and the output file -------------------------------------------

volatile sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal) { gStopSignal = signal; }

// Catches SIGINT and SIGTERM (without restarting reads and writes, so a
// blocked pipe returns at once) and ignores SIGPIPE while it lives.
class SignalGuard {
public:
    SignalGuard() {
        gStopSignal = 0;
        struct sigaction stop {};
        stop.sa_handler = OnStopSignal;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGINT, &stop, &oldInt_);
        sigaction(SIGTERM, &stop, &oldTerm_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &oldPipe_);
    }
    ~SignalGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
    }

private:
    struct sigaction oldInt_ {
    }, oldTerm_{}, oldPipe_{};
};

// The hidden file beside OUT that ffmpeg writes; it keeps OUT's name at its
// end, so ffmpeg picks the container from the same extension. Removed unless
// it was renamed over OUT.
class PartialOutput {
public:
    bool Create(const std::string &output, std::string &reason) {
        size_t slash = output.rfind('/');
        std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
        std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
        if (base.empty() || base == "." || base == "..") {
            reason = "not a file name";
            return false;
        }
        std::string pattern = dir + ".zantrel-XXXXXX-" + base;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkstemps(name.data(), static_cast<int>(base.size() + 1));
        if (fd < 0) {
            reason = std::string("cannot be written: ") + std::strerror(errno);
            return false;
        }
        // mkstemps makes it private; OUT gets the usual permissions.
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        close(fd);
        path_ = name.data();
        return true;
    }
    bool Commit(const std::string &output, std::string &reason) {
        if (rename(path_.c_str(), output.c_str()) != 0) {
            reason = std::string("cannot be written: ") + std::strerror(errno);
            return false;
        }
        path_.clear();
        return true;
    }
    ~PartialOutput() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// ---- Layers on frames ------------------------------------------------------

// Opacity of a layer on frame i of the `span` frames it shows for: the base
// opacity scaled by a ramp sampled at the middle of each frame.
uint8_t FrameOpacity(uint8_t base, int64_t i, int64_t span, int64_t fadeIn, int64_t fadeOut) {
    int64_t opacity = base;
    if (i < fadeIn) opacity = std::min(opacity, (base * (2 * i + 1) + fadeIn) / (2 * fadeIn));
    int64_t left = span - 1 - i;
    if (fadeOut > 0 && left < 0) return 0;
    if (left < fadeOut) opacity = std::min(opacity, (base * (2 * left + 1) + fadeOut) / (2 * fadeOut));
    return static_cast<uint8_t>(opacity);
}

int64_t SecondsToFrames(double seconds, const VideoInfo &info) {
    return seconds <= 0 ? 0
                        : std::llround(seconds * static_cast<double>(info.rateNum) / static_cast<double>(info.rateDen));
}

// Composites `top` over the window of `frame` at (x, y) with top's size.
void CompositeAt(Layer *frame, Layer *top, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t opacity) {
    // A window whose far edge does not fit in 32 bits lies outside the frame.
    if (static_cast<int64_t>(x) + width > INT32_MAX || static_cast<int64_t>(y) + height > INT32_MAX) return;
    LayerRef window(CreateClippedLayer(frame));
    if (!window) return;
    ClipLayerXYWH(window.get(), x, y, width, height);
    CompositOnBottomLayerEx(top, window.get(), opacity);
}

struct LayerState {
    const LayerOption *option = nullptr;
    Image image;  // --over and --warp: the picture; --pip: the scaled frame
    LayerRef imageLayer;
    int64_t span = 0;
    int64_t fadeIn = 0;
    int64_t fadeOut = 0;
    // --pip
    std::unique_ptr<Subprocess> decoder;
    VideoInfo info;
    std::vector<uint32_t> frame;
    LayerRef frameLayer;
    bool showing = false;
    // --warp: the corners' rectangle cut to the frame, and a scratch image of
    // that size into which the picture is mapped before it is composited.
    Image scratch;
    LayerRef scratchLayer;
    LayerRef scratchWindow;
    int32_t scratchX = 0;
    int32_t scratchY = 0;
};

LayerRef WrapImage(Image &image) {
    return LayerRef(CreateCompatibleLayer(image.pixels.data(), image.width, image.height, image.width * 4));
}

// Sets up the scratch image of a --warp; false when the corners are not a
// convex quadrilateral.
bool PrepareWarp(LayerState &state, const VideoInfo &video) {
    const LayerOption &option = *state.option;
    LayerRect rect;
    if (TestFourCorner(option.cx, option.cy, &rect) == 0) return false;
    int64_t left = std::max<int64_t>(rect.left, 0), top = std::max<int64_t>(rect.top, 0);
    int64_t right = std::min<int64_t>(rect.right, video.width), bottom = std::min<int64_t>(rect.bottom, video.height);
    if (right <= left || bottom <= top) return true;  // wholly outside the frame
    state.scratch.width = static_cast<int32_t>(right - left);
    state.scratch.height = static_cast<int32_t>(bottom - top);
    state.scratch.pixels.assign(static_cast<size_t>(state.scratch.width) * static_cast<size_t>(state.scratch.height),
                                0);
    state.scratchX = static_cast<int32_t>(left);
    state.scratchY = static_cast<int32_t>(top);
    state.scratchLayer = WrapImage(state.scratch);
    if (state.scratchLayer) state.scratchWindow.reset(CreateClippedLayer(state.scratchLayer.get()));
    if (state.scratchWindow) {
        // The window stands for the whole rectangle; the scratch cuts it. Its
        // size wraps as the library's rectangles do.
        int32_t width = static_cast<int32_t>(static_cast<uint32_t>(rect.right) - static_cast<uint32_t>(rect.left));
        int32_t height = static_cast<int32_t>(static_cast<uint32_t>(rect.bottom) - static_cast<uint32_t>(rect.top));
        ClipLayerXYWH(state.scratchWindow.get(), static_cast<int32_t>(rect.left - left),
                      static_cast<int32_t>(rect.top - top), width, height);
    }
    return true;
}

// Puts one layer on frame i; false when the library could not.
bool ApplyLayer(LayerState &state, Layer *frame, int64_t i) {
    const LayerOption &option = *state.option;
    if (option.kind == Kind::Pip && !state.showing) return true;
    uint8_t opacity = FrameOpacity(option.opacity, i, state.span, state.fadeIn, state.fadeOut);
    if (opacity == 0) return true;
    switch (option.kind) {
        case Kind::Over:
            CompositeAt(frame, state.imageLayer.get(), option.x, option.y, state.image.width, state.image.height,
                        opacity);
            return true;
        case Kind::Pip: {
            Layer *shown = state.frameLayer.get();
            if (state.imageLayer) {
                if (ResizeLayerCorrect(state.imageLayer.get(), shown) == 0) return false;
                shown = state.imageLayer.get();
            }
            CompositeAt(frame, shown, option.x, option.y, option.width, option.height, opacity);
            return true;
        }
        case Kind::Warp:
            if (!state.scratchWindow) return true;
            ClearLayer(state.scratchLayer.get());
            if (FourCornerMapLayer(state.scratchWindow.get(), state.imageLayer.get(), option.cx, option.cy) == 0)
                return false;
            CompositeAt(frame, state.scratchLayer.get(), state.scratchX, state.scratchY, state.scratch.width,
                        state.scratch.height, opacity);
            return true;
    }
    return true;
}

// ---- ffmpeg command lines --------------------------------------------------

std::vector<std::string> DecoderCommand(const std::string &ffmpeg, const std::string &path, const std::string &rate) {
    std::vector<std::string> argv = {ffmpeg, "-nostdin", "-v", "error", "-i", FfmpegName(path), "-map", "0:v:0"};
    if (!rate.empty()) argv.insert(argv.end(), {"-vf", "fps=" + rate});
    argv.insert(argv.end(), {"-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "pipe:1"});
    return argv;
}

std::string Extension(const std::string &path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::vector<std::string> EncoderCommand(const std::string &ffmpeg, const VideoOptions &options, const VideoInfo &video,
                                        const std::string &target) {
    std::vector<std::string> argv = {ffmpeg,       "-nostdin",
                                     "-v",         "error",
                                     "-f",         "rawvideo",
                                     "-pix_fmt",   "bgra",
                                     "-s",         std::to_string(video.width) + "x" + std::to_string(video.height),
                                     "-framerate", RateText(video),
                                     "-i",         "pipe:0"};
    if (video.audio)
        argv.insert(argv.end(), {"-i", FfmpegName(options.input), "-map", "0:v", "-map", "1:a", "-c:a", "copy"});
    std::string ext = Extension(options.output);
    std::string codec = options.codec;
    bool h264Default = codec.empty() && (ext == "mp4" || ext == "mov" || ext == "m4v" || ext == "mkv");
    if (h264Default) codec = "libx264";
    if (!codec.empty()) argv.insert(argv.end(), {"-c:v", codec});
    // ffmpeg would keep the colour resolution of RGB frames (High 4:4:4), which
    // few players show; 4:2:0 needs even sizes.
    if (h264Default && video.width % 2 == 0 && video.height % 2 == 0) argv.insert(argv.end(), {"-pix_fmt", "yuv420p"});
    if (!options.quality.empty()) {
        if (codec.empty() && ext == "webm") codec = "libvpx-vp9";
        bool crf = codec.compare(0, 7, "libx264") == 0 || codec == "libx265" || codec.compare(0, 6, "libvpx") == 0 ||
                   codec == "libaom-av1" || codec == "libsvtav1";
        argv.insert(argv.end(), {crf ? "-crf" : "-q:v", options.quality});
        if (codec.compare(0, 6, "libvpx") == 0) argv.insert(argv.end(), {"-b:v", "0"});
    }
    argv.insert(argv.end(), {"-y", "file:" + target});
    return argv;
}

// ---- Progress --------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of this thread: on a busy machine the library's share of
// the work, without the time other processes had the processor.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

class Progress {
public:
    Progress(bool shown, int64_t total) : shown_(shown), total_(total), start_(Clock::now()), last_(start_) {}
    void Frame(int64_t done, bool final) {
        if (!shown_) return;
        Clock::time_point now = Clock::now();
        if (!final && now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        double elapsed = Seconds(now - start_);
        double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        char line[160];
        if (total_ > 0 && fps > 0 && done <= total_)
            std::snprintf(line, sizeof line, "\rzantrel video: frame %lld/%lld, %.1f fps, %.1f s left   ",
                          static_cast<long long>(done), static_cast<long long>(total_), fps,
                          static_cast<double>(total_ - done) / fps);
        else
            std::snprintf(line, sizeof line, "\rzantrel video: frame %lld, %.1f fps   ", static_cast<long long>(done),
                          fps);
        std::cerr << line << (final ? "\n" : "") << std::flush;
    }
    void Break() {
        if (shown_) std::cerr << '\n';
        shown_ = false;
    }

private:
    bool shown_;
    int64_t total_;
    Clock::time_point start_, last_;
};

// ---- The run ---------------------------------------------------------------

class VideoRun {
public:
    explicit VideoRun(const VideoOptions &options) : options_(options) {}
    int Run();

private:
    int Prepare();
    int Loop();
    int Fail(const std::string &message);
    int Interrupted();

    VideoOptions options_;
    std::string ffmpeg_, ffprobe_;
    VideoInfo video_;
    std::vector<LayerState> layers_;
    PartialOutput partial_;
    Subprocess decoder_, encoder_;
    std::unique_ptr<Progress> progress_;
    int64_t frames_ = 0;
    Clock::duration waitRead_{}, inLibrary_{}, waitWrite_{};
    double libraryCpu_ = 0;
};

void KillAll(Subprocess &decoder, Subprocess &encoder, std::vector<LayerState> &layers) {
    decoder.Kill();
    encoder.Kill();
    for (LayerState &state : layers)
        if (state.decoder) state.decoder->Kill();
}

int VideoRun::Fail(const std::string &message) {
    if (progress_) progress_->Break();
    KillAll(decoder_, encoder_, layers_);
    std::cerr << kWho << ": " << message << '\n' << kWho << ": " << options_.output << " was not written\n";
    return kCommandFailure;
}

int VideoRun::Interrupted() {
    int signal = gStopSignal;
    if (progress_) progress_->Break();
    KillAll(decoder_, encoder_, layers_);
    std::cerr << kWho << ": interrupted by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << "; " << options_.output
              << " was not written\n";
    return 128 + signal;
}

std::string WithMessages(const std::string &what, const Subprocess &child) {
    std::string messages = child.Messages();
    return messages.empty() ? what : what + ":\n" + messages;
}

int VideoRun::Prepare() {
    ffmpeg_ = FindOnPath("ffmpeg");
    ffprobe_ = FindOnPath("ffprobe");
    if (ffmpeg_.empty() || ffprobe_.empty())
        return Failure(std::string(ffmpeg_.empty() ? "ffmpeg" : "ffprobe") + " is not on the PATH; " + kInstallHint);
    std::string reason;
    if (!Probe(ffprobe_, options_.input, video_, reason)) return CommandFileError(options_.input, reason);
    layers_.resize(options_.layers.size());
    for (size_t k = 0; k < layers_.size(); ++k) {
        LayerState &state = layers_[k];
        const LayerOption &option = options_.layers[k];
        state.option = &option;
        state.span = video_.frames;
        if (option.kind == Kind::Pip) {
            if (!Probe(ffprobe_, option.path, state.info, reason)) return CommandFileError(option.path, reason);
            int64_t pipFrames = state.info.frames;
            if (state.info.rateNum * video_.rateDen != video_.rateNum * state.info.rateDen) {
                std::cerr << kWho << ": " << option.path << " runs at " << RateText(state.info)
                          << " frames per second; ffmpeg converts it to " << RateText(video_) << '\n';
                pipFrames = std::llround(static_cast<double>(pipFrames) * video_.rateNum * state.info.rateDen /
                                         (static_cast<double>(video_.rateDen) * state.info.rateNum));
            }
            if (pipFrames > 0 && (state.span == 0 || pipFrames < state.span)) state.span = pipFrames;
            state.frame.assign(static_cast<size_t>(state.info.width) * static_cast<size_t>(state.info.height), 0);
            state.frameLayer.reset(
                CreateCompatibleLayer(state.frame.data(), state.info.width, state.info.height, state.info.width * 4));
            LayerOption &sized = options_.layers[k];
            if (!sized.sizeGiven) {
                sized.width = state.info.width;
                sized.height = state.info.height;
            }
            if (sized.width != state.info.width || sized.height != state.info.height) {
                state.image.width = sized.width;
                state.image.height = sized.height;
                state.image.pixels.assign(static_cast<size_t>(sized.width) * static_cast<size_t>(sized.height), 0);
                state.imageLayer = WrapImage(state.image);
                if (!state.imageLayer) return Failure("out of memory");
            }
            if (!state.frameLayer) return Failure("out of memory");
        } else {
            if (!ReadPng(option.path, state.image, reason)) return CommandFileError(option.path, reason);
            state.imageLayer = WrapImage(state.image);
            if (!state.imageLayer) return Failure("out of memory");
            if (option.kind == Kind::Warp && !PrepareWarp(state, video_))
                return UsageError("the corners of --warp " + option.path +
                                  " do not form a convex quadrilateral (give them in order around it: top-left, "
                                  "top-right, bottom-right, bottom-left of the image)");
        }
        state.fadeIn = SecondsToFrames(option.fadeIn, video_);
        state.fadeOut = SecondsToFrames(option.fadeOut, video_);
    }
    return -1;
}

int VideoRun::Loop() {
    std::string error;
    const size_t frameBytes = static_cast<size_t>(video_.width) * static_cast<size_t>(video_.height) * 4;
    if (!decoder_.Start(DecoderCommand(ffmpeg_, options_.input, ""), Subprocess::Pipe::ReadsOutput, error))
        return Fail(error);
    for (LayerState &state : layers_) {
        if (state.option->kind != Kind::Pip) continue;
        bool sameRate = state.info.rateNum * video_.rateDen == video_.rateNum * state.info.rateDen;
        state.decoder.reset(new Subprocess);
        if (!state.decoder->Start(DecoderCommand(ffmpeg_, state.option->path, sameRate ? "" : RateText(video_)),
                                  Subprocess::Pipe::ReadsOutput, error))
            return Fail(error);
        state.showing = true;
    }
    if (!encoder_.Start(EncoderCommand(ffmpeg_, options_, video_, partial_.Path()), Subprocess::Pipe::FeedsInput,
                        error))
        return Fail(error);

    std::vector<uint32_t> pixels(frameBytes / 4);
    progress_.reset(new Progress(!options_.quiet && isatty(2), video_.frames));
    for (;;) {
        Clock::time_point start = Clock::now();
        long long got = decoder_.ReadFull(pixels.data(), frameBytes, gStopSignal);
        if (gStopSignal) return Interrupted();
        if (got == 0) break;
        if (got != static_cast<long long>(frameBytes)) {
            decoder_.Finish(gStopSignal);
            return Fail(WithMessages(
                "ffmpeg stopped in the middle of frame " + std::to_string(frames_ + 1) + " of " + options_.input,
                decoder_));
        }
        for (LayerState &state : layers_) {
            if (!state.showing) continue;
            size_t bytes = state.frame.size() * 4;
            long long pipGot = state.decoder->ReadFull(state.frame.data(), bytes, gStopSignal);
            if (gStopSignal) return Interrupted();
            if (pipGot == static_cast<long long>(bytes)) continue;
            // The picture in picture has ended: it must have ended cleanly.
            state.showing = false;
            if (state.decoder->Finish(gStopSignal) != 0 || pipGot != 0)
                return Fail(WithMessages("ffmpeg failed decoding " + state.option->path, *state.decoder));
        }
        Clock::time_point decoded = Clock::now();
        double cpuBefore = ThreadCpuSeconds();
        LayerRef frame(CreateCompatibleLayer(pixels.data(), video_.width, video_.height, video_.width * 4));
        if (!frame) return Fail("out of memory");
        for (LayerState &state : layers_)
            if (!ApplyLayer(state, frame.get(), frames_))
                return Fail("the library could not draw " + state.option->name + " " + state.option->path +
                            " on frame " + std::to_string(frames_ + 1));
        frame.reset();
        Clock::time_point composited = Clock::now();
        libraryCpu_ += ThreadCpuSeconds() - cpuBefore;
        if (!encoder_.WriteAll(pixels.data(), frameBytes, gStopSignal)) {
            if (gStopSignal) return Interrupted();
            encoder_.Finish(gStopSignal);
            return Fail(WithMessages("ffmpeg stopped encoding " + options_.output, encoder_));
        }
        waitRead_ += decoded - start;
        inLibrary_ += composited - decoded;
        waitWrite_ += Clock::now() - composited;
        ++frames_;
        progress_->Frame(frames_, false);
    }
    if (decoder_.Finish(gStopSignal) != 0) {
        if (gStopSignal) return Interrupted();
        return Fail(WithMessages("ffmpeg failed decoding " + options_.input + " after frame " + std::to_string(frames_),
                                 decoder_));
    }
    if (frames_ == 0) return Fail(options_.input + " has no frames");
    // A longer picture in picture is cut here.
    for (LayerState &state : layers_)
        if (state.decoder) state.decoder->Kill();
    Clock::time_point closing = Clock::now();
    int status = encoder_.Finish(gStopSignal);
    if (gStopSignal) return Interrupted();
    if (status != 0) return Fail(WithMessages("ffmpeg failed encoding " + options_.output, encoder_));
    waitWrite_ += Clock::now() - closing;
    progress_->Frame(frames_, true);
    return -1;
}

int VideoRun::Run() {
    int status = Prepare();
    if (status >= 0) return status;
    SignalGuard signals;
    std::string reason;
    if (!partial_.Create(options_.output, reason)) return CommandFileError(options_.output, reason);
    status = Loop();
    if (status >= 0) return status;
    if (!partial_.Commit(options_.output, reason)) return CommandFileError(options_.output, reason);
    if (options_.stats) {
        double total = Seconds(waitRead_ + inLibrary_ + waitWrite_);
        auto perFrame = [&](Clock::duration d) { return 1000.0 * Seconds(d) / static_cast<double>(frames_); };
        auto share = [&](Clock::duration d) { return total > 0 ? 100.0 * Seconds(d) / total : 0.0; };
        char line[400];
        std::snprintf(line, sizeof line,
                      "%s: %lld frames in %.2f s, %.1f fps; per frame: library %.3f ms (%.1f%%; processor time "
                      "%.3f ms), waiting for decoded frames %.3f ms (%.1f%%), waiting for the encoder %.3f ms "
                      "(%.1f%%)\n",
                      kWho, static_cast<long long>(frames_), total, total > 0 ? frames_ / total : 0.0,
                      perFrame(inLibrary_), share(inLibrary_), 1000.0 * libraryCpu_ / static_cast<double>(frames_),
                      perFrame(waitRead_), share(waitRead_), perFrame(waitWrite_), share(waitWrite_));
        std::cerr << line;
    }
    return 0;
}

}  // namespace

int RunVideo(const std::vector<std::string> &args) {
    if (AsksForHelp(args)) {
        std::cout << kVideoUsage;
        return 0;
    }
    VideoOptions options;
    int status = ParseVideoArguments(args, options);
    if (status >= 0) return status;
    VideoRun run(options);
    return run.Run();
}

}  // namespace zantrel
