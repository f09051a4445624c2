#include <cstdio>

#include "Commands.h"

namespace veyra::cli {

int runFeatures(std::span<char* const>) {
    std::fprintf(stderr, "veyra features: not built yet\n");
    return 1;
}

}  // namespace veyra::cli
