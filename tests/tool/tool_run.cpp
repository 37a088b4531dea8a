#include "tool_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tooltest {

std::string Quote(const std::string &text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ToolDirTest::SetUp() {
    char pattern[] = "/tmp/zantrel-tool-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dir_ = root_ / "work";
    fs::create_directory(dir_);
}

void ToolDirTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

ToolRun ToolDirTest::Zantrel(const std::vector<std::string> &args, const std::string &setup) const {
    std::string command = "cd " + Quote(dir_.string()) + " && " + setup + " exec " + Quote(ZANTREL_EXE);
    for (const std::string &arg : args) command += " " + Quote(arg);
    command += " >" + Quote((root_ / "stdout").string()) + " 2>" + Quote((root_ / "stderr").string());
    ToolRun run;
    int status = std::system(command.c_str());
    run.exitCode = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(root_ / "stdout");
    run.err = ReadText(root_ / "stderr");
    return run;
}

}  // namespace tooltest
