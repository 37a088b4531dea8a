// `zantrel gallery DIR`: the gallery's pictures as PNG files with an index.
#pragma once

#include <string>
#include <vector>

namespace zantrel {

extern const char kGalleryUsage[];
int RunGallery(const std::vector<std::string> &args);

}  // namespace zantrel
