// `zantrel resize`: scales a PNG to a given size.
#pragma once

#include <string>
#include <vector>

namespace zantrel {

// Runs the command on the arguments that follow `resize`; returns the exit
// code (0 done, 1 a file could not be read or written, 2 bad command line).
int RunResize(const std::vector<std::string> &args);

}  // namespace zantrel
