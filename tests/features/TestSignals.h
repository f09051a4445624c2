#pragma once

// Deterministic input windows shared by the feature tests.

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "MelFeatureExtractor.h"

namespace veyra_test {

using corvanta::extensions::veyra::kSampleRate;
using corvanta::extensions::veyra::kWindowSamples;

inline std::vector<float> silence() { return std::vector<float>(kWindowSamples, 0.0f); }

// A whole number of periods per 16 samples, so the waveform repeats exactly
// and every full frame sees the same values.
inline std::vector<float> sine1000Hz(float amplitude) {
    std::vector<float> samples(kWindowSamples);
    const int period = kSampleRate / 1000;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2.0 * M_PI * static_cast<double>(i % period) / period;
        samples[i] = amplitude * static_cast<float>(std::sin(phase));
    }
    return samples;
}

inline std::vector<float> whiteNoise(float deviation, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, deviation);
    std::vector<float> samples(kWindowSamples);
    for (float& v : samples) v = noise(generator);
    return samples;
}

// The newest `length` samples carry noise; everything before is the zero
// padding a short recording gets.
inline std::vector<float> rightAlignedNoise(std::size_t length, float deviation, unsigned seed) {
    std::vector<float> samples = whiteNoise(deviation, seed);
    std::fill(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(length), 0.0f);
    return samples;
}

}  // namespace veyra_test
