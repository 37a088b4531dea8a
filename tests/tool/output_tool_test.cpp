// Where the program's output goes: what -o does with links, devices, FIFOs
// and existing files, and what a stop signal leaves behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <string>
#include <thread>

#include "png_files.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::ReadText;
using tooltest::ToolRun;

namespace {

class OutputTest : public tooltest::ToolDirTest {
protected:
    void SetUp() override {
        tooltest::ToolDirTest::SetUp();
        ASSERT_TRUE(tooltest::WriteArgbPng(Path("in.png"), 2, 2, {0xFF102030u, 0x80405060u, 0u, 0xFFFFFFFFu}));
        ToolRun plain = Zantrel({"flip", "in.png", "-o", "plain.png", "--vertical"});
        ASSERT_EQ(plain.exitCode, 0) << plain.err;
        png_ = ReadText(Path("plain.png"));
        ASSERT_FALSE(png_.empty());
    }

    ToolRun Flip(const std::string &output, const std::string &setup = "") const {
        return Zantrel({"flip", "in.png", "-o", output, "--vertical"}, setup);
    }

    std::string png_;  // what the command writes
};

TEST_F(OutputTest, FollowsLinksWritesDevicesDirectlyAndKeepsPermissions) {
    // Devices through links, so that even a faulty program could only replace the link.
    const struct {
        const char *setup, *output;
        int exitCode;
        const char *message, *written;  // the file that must hold the PNG, if any
    } cases[] = {
        {"mkdir real && echo old >real/t.png && ln -s real/t.png link.png &&", "link.png", 0, "", "real/t.png"},
        {"echo old >private.png && chmod 600 private.png &&", "private.png", 0, "", "private.png"},
        {"ln -s /dev/null null.png &&", "null.png", 0, "", ""},
        {"ln -s /dev/full full.png &&", "full.png", 1, "full.png: cannot write (No space left on device)", ""},
    };
    for (const auto &c : cases) {
        ToolRun run = Flip(c.output, c.setup);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.output << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(fs::is_symlink(Path(c.output)), c.written != std::string(c.output)) << c.output;
        if (*c.written) {
            EXPECT_EQ(ReadText(Path(c.written)), png_) << c.output;
        }
    }
    EXPECT_EQ(fs::status(Path("private.png")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A FIFO gets the bytes: its reader is open, and they fit the pipe's buffer.
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    int reader = open(Path("pipe.png").c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(Flip("pipe.png").exitCode, 0);
    std::string received(png_.size() + 1, '\0');
    received.resize(static_cast<size_t>(std::max<ssize_t>(read(reader, &received[0], received.size()), 0)));
    close(reader);
    EXPECT_EQ(received, png_);
    EXPECT_EQ(fs::status(Path("pipe.png")).type(), fs::file_type::fifo);
}

TEST_F(OutputTest, StopSignalsRemoveTheTemporaryFile) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // As started from a terminal: the signals at their defaults.
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            if (chdir(dir_.c_str()) != 0 || !freopen("/dev/null", "w", stderr)) _exit(127);
            // Large enough that its encoding takes a while.
            execl(ZANTREL_EXE, ZANTREL_EXE, "resize", "in.png", "-o", "big.png", "--size", "1600x1600", "--via", "sibling",
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        bool seen = false;
        for (int wait = 0; wait < 60000 && !seen; ++wait) {
            for (const auto &entry : fs::directory_iterator(dir_))
                seen = seen || entry.path().filename().string().rfind(".zantrel-", 0) == 0;
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(seen) << "no temporary file appeared";
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);  // in.png, plain.png
    }
}

}  // namespace
