// Running the zantrel program from the tool tests: each test gets a fresh
// directory to run it in, and its exit code and output are captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tooltest {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// text in single quotes for the shell, with embedded quotes escaped.
std::string Quote(const std::string &text);

// The whole file as bytes; empty when it cannot be read.
std::string ReadText(const std::filesystem::path &path);

// The program runs in dir_; its output is captured beside it in root_, so
// that dir_ holds only what the program wrote. Both go after the test.
class ToolDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    // Runs zantrel with `args` in dir_, after the shell commands in `setup`.
    ToolRun Zantrel(const std::vector<std::string> &args, const std::string &setup = "") const;

    std::filesystem::path root_;
    std::filesystem::path dir_;
};

}  // namespace tooltest
