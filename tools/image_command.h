// Commands that read PNG files, run one library operation and write one PNG:
// their entry functions and the argument handling they share.
#pragma once

#include <string>
#include <vector>

namespace zantrel {

// Entry points: args are the words after the command's name; the result is
// the program's exit code.
int RunStack(const std::vector<std::string> &args);
int RunFlip(const std::vector<std::string> &args);
int RunTrim(const std::vector<std::string> &args);

constexpr int kCommandFailure = 1;  // a file could not be read or written
constexpr int kCommandUsage = 2;    // the command line was wrong

// A command line split into input files, -o/--output and flag options.
struct ImageCommandLine {
    std::vector<std::string> inputs;
    std::string output;
    std::vector<std::string> flags;  // options without a value, as given
    bool help = false;
};

// Splits args. Options: -o FILE, --output FILE, --output=FILE, -h/--help and
// the flag options listed in knownFlags; "--" ends the options. Returns
// false and sets error for anything else.
bool ParseImageCommandLine(const std::vector<std::string> &args, const std::vector<std::string> &knownFlags,
                           ImageCommandLine &line, std::string &error);

// Prints "WHO: MESSAGE (try 'WHO --help')" to stderr; returns kCommandUsage.
int CommandUsageError(const std::string &who, const std::string &message);
// Prints "zantrel: PATH: REASON" to stderr; returns kCommandFailure.
int CommandFileError(const std::string &path, const std::string &reason);

}  // namespace zantrel
