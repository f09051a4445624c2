#include <cstdio>

#include "Commands.h"

namespace veyra::cli {

int runInfo(std::span<char* const>) {
    std::fprintf(stderr, "veyra info: not built yet\n");
    return 1;
}

}  // namespace veyra::cli
