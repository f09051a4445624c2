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
//
// The result is defined by separately rounded single-precision operations in
// a fixed order; the fast paths reproduce it bit for bit on every CPU.
class MelFeatureExtractor {
public:
    MelFeatureExtractor();

    // samples: kWindowSamples values; features: room for kFeatureCount values,
    // all overwritten. Reads only immutable tables: safe to call concurrently.
    // A non-finite sample (NaN, infinity) is read as 0 so that one bad value
    // cannot poison the whole matrix.
    void computeLogMel(const float* samples, float* features) const;

    // Same result, with the frames split over numThreads threads (the calling
    // thread among them; 0 counts as 1).
    void computeLogMel(const float* samples, float* features, unsigned numThreads) const;

    const std::vector<float>& getAnalysisWindow() const { return analysisWindow; }
    const std::vector<float>& getMelFilterbank() const { return melFilterbank; }

private:
    void buildFilterbank();

    std::vector<float> analysisWindow;  // kFrameLength entries
    std::vector<float> melFilterbank;   // kNumMelBands x kNumBins, band-major
};

}  // namespace corvanta::extensions::veyra
