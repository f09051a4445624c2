#pragma once

#include <cstddef>

namespace veyra::cli {

// Decides when a speaker has paused, from the level of consecutive 10 ms
// blocks, the way a voice application decides when to ask a turn detector.
//
// A block is voiced when its RMS level rises above the "on" threshold and
// stays voiced until the level falls below the lower "off" threshold
// (hysteresis keeps short dips inside a word from counting as silence):
//   on  = max(noise floor + 12 dB, -50 dBFS)
//   off = on - 6 dB
// The noise floor follows the quietest recent level: it drops at once to a
// quieter block and creeps up towards louder ones by at most 1 dB per second,
// slowly enough that the dips between words pull it back down; it never goes
// below -80 dBFS, so digital silence does not make the gate oversensitive.
// A pause is reported once when at least 30 ms of speech has been heard
// since the last report and the following unvoiced run reaches pauseMs.
class PauseGate {
public:
    static constexpr double kBlockMs = 10.0;

    explicit PauseGate(double pauseMs);

    // Feeds one block of mono samples; answers true when it completes a pause.
    bool update(const float* samples, std::size_t count);

    bool isVoiced() const { return voiced; }

    static float levelDbfs(const float* samples, std::size_t count);

private:
    void trackNoiseFloor(float levelDb);

    int pauseBlocks;
    float noiseFloorDb = -60.0f;
    bool voiced = false;
    int speechBlocks = 0;  // voiced blocks since the last report
    int silentBlocks = 0;  // unvoiced blocks since the last voiced one
};

}  // namespace veyra::cli
