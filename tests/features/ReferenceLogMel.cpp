#include "ReferenceLogMel.h"

#include <algorithm>
#include <cmath>

namespace veyra_test {

std::vector<float> referenceLogMel(const std::vector<float>& analysisWindow, const std::vector<float>& melFilterbank,
                                   const float* samples) {
    constexpr int kWindowSamples = 128000;
    constexpr int kFrameLength = 400;
    constexpr int kHopLength = 160;
    constexpr int kNumBins = 201;
    constexpr int kNumMelBands = 80;
    constexpr int kNumFrames = 800;

    std::vector<float> features(kNumMelBands * kNumFrames);
    std::vector<float> x(kFrameLength, 0.0f);

    for (int t = 0; t < kNumFrames; ++t) {
        for (int n = 0; n < kFrameLength; ++n) {
            const int index = kHopLength * t + n;
            x[n] = index < kWindowSamples ? analysisWindow[n] * samples[index] : 0.0f;
        }
        for (int b = 0; b < kNumMelBands; ++b) features[b * kNumFrames + t] = 0.0f;

        for (int k = 0; k < kNumBins; ++k) {
            const float theta = (static_cast<float>(k) * -6.2831855f) / 400.0f;
            const float sr = std::cos(theta);
            const float si = std::sin(theta);
            float pr = 1.0f;
            float pi = 0.0f;
            float re = 0.0f;
            float im = 0.0f;
            for (int n = 0; n < kFrameLength; ++n) {
                re = re + x[n] * pr;
                im = im + x[n] * pi;
                const float nextPr = pr * sr - pi * si;
                const float nextPi = pr * si + pi * sr;
                pr = nextPr;
                pi = nextPi;
            }
            const float power = im * im + re * re;
            for (int b = 0; b < kNumMelBands; ++b) {
                features[b * kNumFrames + t] = features[b * kNumFrames + t] + power * melFilterbank[b * kNumBins + k];
            }
        }

        for (int b = 0; b < kNumMelBands; ++b) {
            const float v = features[b * kNumFrames + t];
            features[b * kNumFrames + t] = std::log10(std::max(v, 1e-10f));
        }
    }

    float peak = features[0];
    for (float v : features) peak = std::max(peak, v);
    const float floor = peak - 8.0f;
    for (float& v : features) v = (std::max(v, floor) + 4.0f) * 0.25f;
    return features;
}

}  // namespace veyra_test
