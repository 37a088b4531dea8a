// Runs `zantrel video` on small lossless clips made by ffmpeg and compares
// every decoded frame with the same layers composited by the library here.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ZantrelLayer.h"
#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::Quote;
using tooltest::ToolRun;
using Frame = std::vector<uint32_t>;

namespace {

constexpr int kW = 64, kH = 48, kFrames = 12;  // the clip: 12 frames at 12 per second

std::string Shell(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    pclose(pipe);
    return out;
}

std::vector<Frame> Decode(const std::string &path, int width, int height) {
    std::string raw = Shell("ffmpeg -v error -i " + Quote(path) + " -f rawvideo -pix_fmt bgra pipe:1");
    std::vector<Frame> frames(raw.size() / (width * height * 4), Frame(width * height));
    for (size_t i = 0; i < frames.size(); ++i)
        std::memcpy(frames[i].data(), raw.data() + i * width * height * 4, width * height * 4);
    return frames;
}

// Composites top (w x h) at (x, y) of the frame with the given opacity.
void Over(Frame &frame, Frame &top, int w, int h, int x, int y, int opacity) {
    Layer *bottom = CreateCompatibleLayer(frame.data(), kW, kH, kW * 4);
    Layer *window = CreateClippedLayer(bottom);
    ClipLayerXYWH(window, x, y, w, h);
    Layer *layer = CreateCompatibleLayer(top.data(), w, h, w * 4);
    CompositOnBottomLayerEx(layer, window, opacity);
    for (Layer *l : {layer, window, bottom}) DeleteLayer(l);
}

// The ramp sampled at each frame's middle: 255 * (i + 1/2) / n, rounded.
int Ramp(int base, int i, int n) { return i >= n ? base : (base * (2 * i + 1) + n) / (2 * n); }

class VideoToolTest : public tooltest::ToolDirTest {
protected:
    void SetUp() override {
        tooltest::ToolDirTest::SetUp();
        ASSERT_EQ(std::system(("cd " + Quote(dir_.string()) +
                               " && ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=12 -f lavfi -i "
                               "sine=frequency=440:duration=1 -frames:v 12 -c:v ffv1 -pix_fmt bgra -c:a pcm_s16le "
                               "clip.nut && ffmpeg -v error -f lavfi -i testsrc=size=40x30:rate=12 -frames:v 8 "
                               "-c:v ffv1 -pix_fmt bgra pip.nut && ffmpeg -v error -f lavfi -i "
                               "testsrc=size=40x30:rate=25 -frames:v 30 -c:v ffv1 -pix_fmt bgra pip25.nut")
                                  .c_str()),
                  0)
            << "ffmpeg is needed: bash scripts/install-deps.sh";
        logo_.resize(20 * 10);
        for (size_t i = 0; i < logo_.size(); ++i) logo_[i] = static_cast<uint32_t>(i * 0x01030507u) ^ (i % 7) << 29;
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("logo.png"), 20, 10, logo_));
        clip_ = Decode(Path("clip.nut"), kW, kH);
        ASSERT_EQ(clip_.size(), static_cast<size_t>(kFrames));
    }

    // Runs zantrel with the wrapper `ffmpeg` script `body` first on the PATH.
    ToolRun WithFfmpegWrapper(const std::vector<std::string> &args, const std::string &body) {
        std::string real = Shell("command -v ffmpeg");
        real.pop_back();
        fs::create_directory(root_ / "wrap");
        std::FILE *script = std::fopen((root_ / "wrap/ffmpeg").c_str(), "w");
        std::fprintf(script, "#!/bin/sh\nREAL=%s\necho $$ >> %s\n%s\n", real.c_str(),
                     Quote((root_ / "pids").string()).c_str(), body.c_str());
        std::fclose(script);
        fs::permissions(root_ / "wrap/ffmpeg", fs::perms::owner_all);
        return Zantrel(args, "PATH=" + Quote((root_ / "wrap").string()) + ":\"$PATH\"");
    }

    std::vector<uint32_t> logo_;
    std::vector<Frame> clip_;
};

struct Case {
    const char *name;
    std::vector<std::string> args;
    std::function<void(std::vector<Frame> &)> expect;
    const char *said;  // what stderr must hold; no progress line, not a terminal
};

TEST_F(VideoToolTest, EveryFrameIsTheLibrarysCompositeOfTheDecodedFrame) {
    const double wx[4] = {-10.5, 50.25, 44, 6}, wy[4] = {4, -3.5, 40.75, 55};
    const std::vector<Case> cases = {
        {"over, faded in and out",
         {"--over", "logo.png:200", "--at", "-5,40", "--fade-in", "0.5", "--fade-out", "0.25"},
         [this](std::vector<Frame> &f) {
             for (int i = 0; i < kFrames; ++i)
                 Over(f[i], logo_, 20, 10, -5, 40, std::min(Ramp(200, i, 6), Ramp(200, kFrames - 1 - i, 3)));
         },
         ""},
        {"pip scaled, ending early",
         {"--pip", "pip.nut", "--at", "30,20", "--size", "27x19"},
         [this](std::vector<Frame> &f) {
             std::vector<Frame> pip = Decode(Path("pip.nut"), 40, 30);
             ASSERT_EQ(pip.size(), 8u);
             for (size_t i = 0; i < pip.size(); ++i) {
                 Frame scaled(27 * 19);
                 Layer *from = CreateCompatibleLayer(pip[i].data(), 40, 30, 160);
                 Layer *to = CreateCompatibleLayer(scaled.data(), 27, 19, 27 * 4);
                 ASSERT_EQ(ResizeLayerCorrect(to, from), 1);
                 DeleteLayer(from);
                 DeleteLayer(to);
                 Over(f[i], scaled, 27, 19, 30, 20, 255);
             }
         },
         ""},
        {"pip at another rate",
         {"--pip", "pip25.nut:128"},
         [this](std::vector<Frame> &f) {
             std::string raw = Shell("ffmpeg -v error -i " + Quote(Path("pip25.nut")) +
                                     " -vf fps=12/1 -f rawvideo -pix_fmt bgra pipe:1");
             for (int i = 0; i < kFrames; ++i) {
                 Frame pip(40 * 30);
                 std::memcpy(pip.data(), raw.data() + i * 40 * 30 * 4, 40 * 30 * 4);
                 Over(f[i], pip, 40, 30, 0, 0, 128);
             }
         },
         "zantrel video: pip25.nut runs at 25/1 frames per second; ffmpeg converts it to 12/1\n"},
        {"warp reaching past the frame",
         {"--warp", "logo.png", "--corners", "-10.5,4,50.25,-3.5,44,40.75,6,55"},
         [&](std::vector<Frame> &f) {
             LayerRect r;
             ASSERT_EQ(TestFourCorner(wx, wy, &r), 1);
             Frame warped(kW * kH, 0);
             Layer *canvas = CreateCompatibleLayer(warped.data(), kW, kH, kW * 4);
             Layer *window = CreateClippedLayer(canvas);
             ClipLayerXYWH(window, r.left, r.top, r.right - r.left, r.bottom - r.top);
             Layer *logo = CreateCompatibleLayer(logo_.data(), 20, 10, 80);
             ASSERT_EQ(FourCornerMapLayer(window, logo, wx, wy), 1);
             for (Layer *l : {logo, window, canvas}) DeleteLayer(l);
             for (Frame &frame : f) Over(frame, warped, kW, kH, 0, 0, 255);
         },
         ""},
    };
    const std::string audio = Shell("ffmpeg -v error -i " + Quote(Path("clip.nut")) + " -map 0:a -f s16le pipe:1");
    ASSERT_GT(audio.size(), 10000u);
    for (const Case &c : cases) {
        std::vector<std::string> args = {"video", "clip.nut", "-o", "out.nut", "--codec", "ffv1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun run = Zantrel(args);
        ASSERT_EQ(run.exitCode, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.err, c.said) << c.name;
        std::vector<Frame> expected = clip_;
        c.expect(expected);
        std::vector<Frame> out = Decode(Path("out.nut"), kW, kH);
        ASSERT_EQ(out.size(), expected.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(out[i] == expected[i]) << c.name << ", frame " << i;
        EXPECT_NE(out, clip_) << c.name;
        EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=codec_type,r_frame_rate -of csv=p=0 " + Path("out.nut")),
                  "video,12/1\naudio,0/0\n");
        EXPECT_TRUE(Shell("ffmpeg -v error -i " + Quote(Path("out.nut")) + " -map 0:a -f s16le pipe:1") == audio)
            << c.name;
    }
}

TEST_F(VideoToolTest, BadInputIsRefusedAndLeavesNoOutput) {
    std::ofstream(Path("notes.txt")) << "not a video\n";
    const size_t frameBytes = kW * kH * 4;
    const struct {
        std::vector<std::string> args;
        std::string wrapper;  // a wrapper script's body for ffmpeg, or "none": no ffmpeg at all
        int status;
        std::string said;
    } cases[] = {
        {{"clip.nut", "--over", "logo.png"}, "none", 1, "ffmpeg is not on the PATH; install ffmpeg"},
        {{"notes.txt"}, "", 1, "zantrel: notes.txt: not a video (ffprobe: Invalid data found"},
        {{"gone.nut"}, "", 1, "zantrel: gone.nut: missing"},
        {{"clip.nut", "--over", "gone.png"}, "", 1, "zantrel: gone.png: missing"},
        {{"clip.nut", "--pip", "notes.txt"}, "", 1, "zantrel: notes.txt: not a video"},
        {{"clip.nut", "-o", "no/such/dir/out.nut"}, "", 1, "zantrel: no/such/dir/out.nut: cannot be written"},
        {{"clip.nut", "--at", "1,2", "--over", "logo.png"}, "", 2, "'--at' must follow --over, --pip or --warp"},
        {{"clip.nut", "--warp", "logo.png"}, "", 2, "--warp logo.png needs --corners"},
        {{"clip.nut", "--warp", "logo.png", "--corners", "0,0,20,0,0,20,20,20"}, "", 2, "convex"},
        {{"clip.nut", "--over", "logo.png:256"}, "", 2, "opacity '256'"},
        {{"clip.nut", "--over", "logo.png", "--size", "2x2"}, "", 2, "'--size' applies to --pip only"},
        // The decoder dies after two and a half frames, or after whole frames.
        {{"clip.nut", "--over", "logo.png"},
         "case \"$*\" in *pipe:1*) \"$REAL\" \"$@\" | head -c " + std::to_string(frameBytes * 5 / 2) +
             "; exit 1;; esac\nexec \"$REAL\" \"$@\"",
         1,
         "ffmpeg stopped in the middle of frame 3 of clip.nut"},
        {{"clip.nut"},
         "case \"$*\" in *pipe:1*) \"$REAL\" \"$@\" 2>/dev/null | head -c " + std::to_string(frameBytes * 4) +
             "; echo broken >&2; exit 1;; esac\nexec \"$REAL\" \"$@\"",
         1,
         "ffmpeg failed decoding clip.nut after frame 4:\nbroken"},
        // ffmpeg has no such encoder.
        {{"clip.nut", "--codec", "nosuchcodec"}, "", 1, "ffmpeg stopped encoding"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"video"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.args.size() < 2 || c.args[1] != "-o") args.insert(args.end(), {"-o", "out.nut"});
        ToolRun run = c.wrapper == "none" ? Zantrel(args, "PATH=/nonexistent")
                      : c.wrapper.empty() ? Zantrel(args)
                                          : WithFfmpegWrapper(args, c.wrapper);
        EXPECT_EQ(run.exitCode, c.status) << c.said << ": " << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        std::vector<std::string> left;
        for (const auto &entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename());
        EXPECT_EQ(left.size(), 5u) << c.said << ": only the inputs stay";
    }
}

TEST_F(VideoToolTest, InterruptEndsBothFfmpegsAndRemovesThePartialOutput) {
    // The decoder hands over two frames and then hangs.
    std::string real = Shell("command -v ffmpeg");
    real.pop_back();
    fs::create_directory(root_ / "wrap");
    std::ofstream(root_ / "wrap/ffmpeg") << "#!/bin/sh\necho $$ >> " << Quote((root_ / "pids").string())
                                         << "\ncase \"$*\" in *pipe:1*) " << real << " \"$@\" | head -c " << kW * kH * 8
                                         << "; exec sleep 30;; esac\nexec " << real << " \"$@\"\n";
    fs::permissions(root_ / "wrap/ffmpeg", fs::perms::owner_all);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(99);
        setenv("PATH", ((root_ / "wrap").string() + ":" + getenv("PATH")).c_str(), 1);
        freopen("/dev/null", "w", stderr);
        execl(ZANTREL_EXE, ZANTREL_EXE, "video", "clip.nut", "-o", "out.mp4", "--over", "logo.png", nullptr);
        _exit(98);
    }
    std::vector<pid_t> pids;
    for (int tries = 0; tries < 200 && pids.size() < 2; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pids.clear();
        std::ifstream in(root_ / "pids");
        for (pid_t pid; in >> pid;) pids.push_back(pid);
    }
    ASSERT_EQ(pids.size(), 2u) << "decoder and encoder started";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    for (pid_t pid : pids) EXPECT_NE(kill(pid, 0), 0) << "ffmpeg " << pid << " still runs";
    for (const auto &entry : fs::directory_iterator(dir_))
        EXPECT_TRUE(entry.path().extension() == ".nut" || entry.path().extension() == ".png") << entry.path();
}

}  // namespace
