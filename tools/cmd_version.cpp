#include "cmd_version.h"

#include <iostream>

#include "zl_version.h"

namespace zantrel {

int RunVersion() {
    std::cout << "zantrel " << ZL_VERSION_STRING << '\n';
    return 0;
}

}  // namespace zantrel
