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

// True when any argument is -h or --help, for commands whose help wins over
// everything else on the line.
bool AsksForHelp(const std::vector<std::string> &args);

// Takes the value of option `name` (or `shortName`, when not null) at
// args[i]: `--name VALUE` (i moves on to VALUE) or `--name=VALUE`. False
// when args[i] is another option; missing is set when VALUE is absent.
bool TakeOptionValue(const std::vector<std::string> &args, size_t &i, const std::string &name, const char *shortName,
                     std::string &value, bool &missing);

// Prints "WHO: MESSAGE (try 'WHO --help')" to stderr; returns kCommandUsage.
int CommandUsageError(const std::string &who, const std::string &message);
// Prints "zantrel: PATH: REASON" to stderr; returns kCommandFailure.
int CommandFileError(const std::string &path, const std::string &reason);

}  // namespace zantrel
