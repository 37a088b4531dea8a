// The built-in scene rendered by `zantrel demo`.
#pragma once

#include <ostream>
#include <string>

#include "png_io.h"

namespace zantrel {

constexpr int32_t kDemoWidth = 640;
constexpr int32_t kDemoHeight = 400;

// Renders the scene with the library's operations into `canvas`, printing one
// line per step to `log`. False (with `reason`) when a layer cannot be made.
bool RenderDemo(Image &canvas, std::ostream &log, std::string &reason);

}  // namespace zantrel
