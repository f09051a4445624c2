#include "MelFeatureExtractor.h"

#include <array>
#include <cmath>

#include "LogMelPipeline.h"

namespace corvanta::extensions::veyra {

namespace {

constexpr int kNumMelPoints = kNumMelBands + 2;  // band edges, shared by neighbours

}  // namespace

// Symmetric Hann window: the divisor is the length minus one, so both end
// points are exactly 0.
MelFeatureExtractor::MelFeatureExtractor() {
    analysisWindow.resize(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i) {
        const float angle = (static_cast<float>(i) * 6.2831855f) / 399.0f;
        analysisWindow[i] = (1.0f - std::cos(angle)) * 0.5f;
    }
    buildFilterbank();
}

// Triangular bands evenly spaced on the mel scale from 0 Hz to 8000 Hz, each
// peaking at 1 and not normalised by width.
void MelFeatureExtractor::buildFilterbank() {
    melFilterbank.assign(static_cast<std::size_t>(kNumMelBands) * kNumBins, 0.0f);

    const float melLow = std::log10(1.0f) * 2595.0f;
    const float melHigh = std::log10(12.428572f) * 2595.0f;  // 1 + 8000 / 700

    std::array<float, kNumMelPoints> edgeHz{};
    for (int i = 0; i < kNumMelPoints; ++i) {
        const float mel = (static_cast<float>(i) * (melHigh - melLow)) / 81.0f + melLow;
        edgeHz[i] = (std::pow(10.0f, mel / 2595.0f) - 1.0f) * 700.0f;
    }

    std::array<float, kNumBins> binHz{};
    for (int k = 0; k < kNumBins; ++k) {
        binHz[k] = (static_cast<float>(k) * 16000.0f) / 400.0f;
    }

    for (int band = 0; band < kNumMelBands; ++band) {
        const float left = edgeHz[band];
        const float centre = edgeHz[band + 1];
        const float right = edgeHz[band + 2];
        for (int k = 0; k < kNumBins; ++k) {
            const float f = binHz[k];
            // The guards only keep a zero-width side from dividing by zero.
            const float rising = centre > left ? (f - left) / (centre - left) : 0.0f;
            const float falling = right > centre ? (right - f) / (right - centre) : 0.0f;
            const float weight = falling < rising ? falling : rising;
            melFilterbank[static_cast<std::size_t>(band) * kNumBins + k] = weight > 0.0f ? weight : 0.0f;
        }
    }
}

void MelFeatureExtractor::computeLogMel(const float* samples, float* features) const {
    computeLogMel(samples, features, 1);
}

void MelFeatureExtractor::computeLogMel(const float* samples, float* features, unsigned numThreads) const {
    detail::computeLogMel({analysisWindow.data(), melFilterbank.data()}, samples, features, numThreads,
                          detail::fastestSupportedKernel());
}

}  // namespace corvanta::extensions::veyra
