// zantrel video: layers composited onto every frame of a video file.
#pragma once

#include <string>
#include <vector>

namespace zantrel {

// args are the words after "video"; the result is the exit code.
int RunVideo(const std::vector<std::string> &args);

}  // namespace zantrel
