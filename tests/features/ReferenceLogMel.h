#pragma once

// The log-mel computation written out literally, one scalar operation at a
// time in the defining order, as the oracle the optimised extractor must match
// bit for bit. Deliberately slow: never optimise this copy.

#include <vector>

namespace veyra_test {

// samples: 128000 values; analysisWindow and melFilterbank as the extractor
// holds them. Answers the 64000 features, band-major.
std::vector<float> referenceLogMel(const std::vector<float>& analysisWindow, const std::vector<float>& melFilterbank,
                                   const float* samples);

}  // namespace veyra_test
