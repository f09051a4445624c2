#include "PauseGate.h"

#include <algorithm>
#include <cmath>

namespace veyra::cli {

namespace {

constexpr float kOnAboveFloorDb = 12.0f;
constexpr float kHysteresisDb = 6.0f;
constexpr float kMinimumOnDb = -50.0f;
constexpr float kLowestFloorDb = -80.0f;
constexpr float kFloorRiseDbPerBlock = 1.0f * static_cast<float>(PauseGate::kBlockMs) / 1000.0f;
constexpr int kMinimumSpeechBlocks = 3;

}  // namespace

PauseGate::PauseGate(double pauseMs)
    : pauseBlocks(std::max(1, static_cast<int>(std::ceil(pauseMs / kBlockMs)))) {}

float PauseGate::levelDbfs(const float* samples, std::size_t count) {
    if (count == 0) return kLowestFloorDb;
    double energy = 0.0;
    for (std::size_t i = 0; i < count; ++i) energy += static_cast<double>(samples[i]) * samples[i];
    const double rms = std::sqrt(energy / static_cast<double>(count));
    return static_cast<float>(20.0 * std::log10(std::max(rms, 1e-10)));
}

void PauseGate::trackNoiseFloor(float levelDb) {
    const float clamped = std::max(levelDb, kLowestFloorDb);
    noiseFloorDb = std::min(clamped, noiseFloorDb + kFloorRiseDbPerBlock);
}

bool PauseGate::update(const float* samples, std::size_t count) {
    const float levelDb = levelDbfs(samples, count);
    const float onDb = std::max(noiseFloorDb + kOnAboveFloorDb, kMinimumOnDb);
    const float offDb = onDb - kHysteresisDb;
    voiced = voiced ? levelDb >= offDb : levelDb >= onDb;
    trackNoiseFloor(levelDb);

    if (voiced) {
        ++speechBlocks;
        silentBlocks = 0;
        return false;
    }
    ++silentBlocks;
    if (speechBlocks < kMinimumSpeechBlocks || silentBlocks < pauseBlocks) return false;
    speechBlocks = 0;
    return true;
}

}  // namespace veyra::cli
