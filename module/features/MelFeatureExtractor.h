#pragma once

#include <cstddef>
#include <vector>

namespace corvanta::extensions::veyra {

inline constexpr int kSampleRate = 16000;
inline constexpr int kWindowSamples = 128000;  // 8 s at kSampleRate
inline constexpr int kFrameLength = 400;
inline constexpr int kHopLength = 160;
inline constexpr int kNumBins = 201;
inline constexpr int kNumMelBands = 80;
inline constexpr int kNumFrames = 800;
inline constexpr int kFeatureCount = kNumMelBands * kNumFrames;

// Turns 128000 samples at 16 kHz into 80 x 800 log-mel features, band-major
// (index = band * kNumFrames + frame).
class MelFeatureExtractor {
public:
    MelFeatureExtractor();

    // samples: kWindowSamples values; features: room for kFeatureCount values,
    // all overwritten. Reads only immutable tables: safe to call concurrently.
    void computeLogMel(const float* samples, float* features) const;

    const std::vector<float>& getAnalysisWindow() const { return analysisWindow; }
    const std::vector<float>& getMelFilterbank() const { return melFilterbank; }

private:
    void buildFilterbank();

    std::vector<float> analysisWindow;
    std::vector<float> melFilterbank;
};

}  // namespace corvanta::extensions::veyra
