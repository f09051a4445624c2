#include <cstdio>

#include "Commands.h"

namespace veyra::cli {

int runDetect(std::span<char* const>) {
    std::fprintf(stderr, "veyra detect: not built yet\n");
    return 1;
}

}  // namespace veyra::cli
