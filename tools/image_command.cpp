#include "image_command.h"

#include <algorithm>
#include <iostream>

namespace zantrel {

namespace {

bool IsOption(const std::string &arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

bool ParseImageCommandLine(const std::vector<std::string> &args, const std::vector<std::string> &knownFlags,
                           ImageCommandLine &line, std::string &error) {
    // A request for help wins over any mistake elsewhere on the line.
    for (const std::string &arg : args) {
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            line.help = true;
            return true;
        }
    }
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || !IsOption(arg)) {
            line.inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= args.size()) {
                error = "option '" + arg + "' needs a file name";
                return false;
            }
            line.output = args[++i];
            if (line.output.empty()) {
                error = "empty output file name";
                return false;
            }
        } else if (arg.compare(0, 9, "--output=") == 0) {
            line.output = arg.substr(9);
            if (line.output.empty()) {
                error = "empty output file name";
                return false;
            }
        } else if (std::find(knownFlags.begin(), knownFlags.end(), arg) != knownFlags.end()) {
            line.flags.push_back(arg);
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

bool AsksForHelp(const std::vector<std::string> &args) {
    for (const std::string &arg : args)
        if (arg == "-h" || arg == "--help") return true;
    return false;
}

bool TakeOptionValue(const std::vector<std::string> &args, size_t &i, const std::string &name, const char *shortName,
                     std::string &value, bool &missing) {
    const std::string &arg = args[i];
    missing = false;
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (arg != name && (shortName == nullptr || arg != shortName)) return false;
    if (i + 1 >= args.size()) {
        missing = true;
        return true;
    }
    value = args[++i];
    return true;
}

int CommandUsageError(const std::string &who, const std::string &message) {
    std::cerr << who << ": " << message << " (try '" << who << " --help')\n";
    return kCommandUsage;
}

int CommandFileError(const std::string &path, const std::string &reason) {
    std::cerr << "zantrel: " << path << ": " << reason << '\n';
    return kCommandFailure;
}

}  // namespace zantrel
