#pragma once

#include <span>

namespace veyra::cli {

// Each sub-command gets the arguments after its own name and answers the
// process exit code.
int runFeatures(std::span<char* const> args);
int runDetect(std::span<char* const> args);
int runInfo(std::span<char* const> args);

}  // namespace veyra::cli
