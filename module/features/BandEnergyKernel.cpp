#include "BandEnergyKernel.h"

#include <cmath>
#include <cstddef>

namespace corvanta::extensions::veyra::detail {

SparseFilterbank::SparseFilterbank(const float* melFilterbank) {
    bandStart.reserve(kNumMelBands + 1);
    for (int band = 0; band < kNumMelBands; ++band) {
        bandStart.push_back(static_cast<int>(bins.size()));
        for (int k = 0; k < kNumBins; ++k) {
            const float weight = melFilterbank[static_cast<std::size_t>(band) * kNumBins + k];
            if (weight != 0.0f) {
                bins.push_back(k);
                weights.push_back(weight);
            }
        }
    }
    bandStart.push_back(static_cast<int>(bins.size()));
}

namespace {

// The phasor of bin k starts at (1, 0) and advances by one fixed step per
// sample, never recomputed from the angle and never renormalised: its
// rounding error is part of the defined result.
std::vector<float> buildPhasorTable() {
    std::vector<float> table(static_cast<std::size_t>(kPhasorTableBins) * kFrameLength * 2, 0.0f);
    for (int k = 0; k < kNumBins; ++k) {
        const float theta = (static_cast<float>(k) * -6.2831855f) / 400.0f;
        const float stepRe = std::cos(theta);
        const float stepIm = std::sin(theta);
        float re = 1.0f;
        float im = 0.0f;
        float* row = table.data() + static_cast<std::size_t>(k) * kFrameLength * 2;
        for (int n = 0; n < kFrameLength; ++n) {
            row[2 * n] = re;
            row[2 * n + 1] = im;
            const float nextRe = re * stepRe - im * stepIm;
            const float nextIm = re * stepIm + im * stepRe;
            re = nextRe;
            im = nextIm;
        }
    }
    return table;
}

}  // namespace

const float* phasorTable() {
    static const std::vector<float> table = buildPhasorTable();
    return table.data();
}

}  // namespace corvanta::extensions::veyra::detail
