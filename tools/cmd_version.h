// `zantrel --version`: the project's version, the one the library carries.
#pragma once

namespace zantrel {

int RunVersion();

}  // namespace zantrel
