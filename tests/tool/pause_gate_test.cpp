#include "PauseGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using veyra::cli::PauseGate;

constexpr std::size_t kBlock = 160;  // 10 ms at 16 kHz

std::vector<float> tone(float amplitude) {
    std::vector<float> block(kBlock);
    for (std::size_t i = 0; i < kBlock; ++i) block[i] = amplitude * std::sin(0.2f * static_cast<float>(i));
    return block;
}

std::vector<float> toneAtDbfs(float db) { return tone(std::sqrt(2.0f) * std::pow(10.0f, db / 20.0f)); }

// Feeds `ms` of one block pattern and counts the pauses reported.
int feed(PauseGate& gate, const std::vector<float>& block, int ms) {
    int pauses = 0;
    for (int t = 0; t < ms; t += 10) pauses += gate.update(block.data(), block.size()) ? 1 : 0;
    return pauses;
}

TEST(PauseGate, ReportsOnePauseWhenSilenceAfterSpeechReachesTheLength) {
    PauseGate gate(200);
    const auto speech = tone(0.3f);
    const auto silence = tone(0.0f);
    EXPECT_EQ(feed(gate, silence, 500), 0) << "silence alone is no pause";
    EXPECT_EQ(feed(gate, speech, 500), 0);
    EXPECT_EQ(feed(gate, silence, 190), 0);
    EXPECT_EQ(feed(gate, silence, 10), 1);
    EXPECT_EQ(feed(gate, silence, 2000), 0) << "one report per pause";
    EXPECT_EQ(feed(gate, speech, 300), 0);
    EXPECT_EQ(feed(gate, silence, 300), 1);
}

TEST(PauseGate, ShortGapsAndClicksDoNotCount) {
    PauseGate gate(200);
    const auto speech = tone(0.3f);
    const auto silence = tone(0.0f);
    feed(gate, speech, 400);
    EXPECT_EQ(feed(gate, silence, 150), 0);
    EXPECT_EQ(feed(gate, speech, 100), 0);
    EXPECT_EQ(feed(gate, silence, 150), 0) << "the gap restarted";

    PauseGate clickGate(100);
    EXPECT_EQ(feed(clickGate, speech, 20), 0);
    EXPECT_EQ(feed(clickGate, silence, 1000), 0) << "20 ms is too short to be speech";
}

TEST(PauseGate, HysteresisKeepsQuietSyllablesVoiced) {
    // -51 dBFS lies between the off (-56) and on (-50) thresholds over digital silence.
    const auto quiet = toneAtDbfs(-51.0f);

    PauseGate speaking(100);
    feed(speaking, tone(0.3f), 300);
    EXPECT_EQ(feed(speaking, quiet, 300), 0);
    EXPECT_TRUE(speaking.isVoiced());

    PauseGate silent(100);
    feed(silent, tone(0.0f), 300);
    feed(silent, quiet, 300);
    EXPECT_FALSE(silent.isVoiced());
}

TEST(PauseGate, SteadyNoiseIsNotSpeech) {
    PauseGate gate(200);
    // Background at about -35 dBFS: the floor creeps up to it within half a
    // minute, after which the noise alone never starts speech.
    const auto noise = tone(0.025f);
    feed(gate, noise, 30000);
    EXPECT_FALSE(gate.isVoiced());
    feed(gate, tone(0.3f), 300);
    EXPECT_TRUE(gate.isVoiced());
    EXPECT_EQ(feed(gate, noise, 300), 1);
}

TEST(PauseGate, LevelOfDigitalSilenceIsFinite) {
    const std::vector<float> zeros(kBlock, 0.0f);
    EXPECT_TRUE(std::isfinite(PauseGate::levelDbfs(zeros.data(), zeros.size())));
    EXPECT_NEAR(PauseGate::levelDbfs(tone(1.0f).data(), kBlock), -3.0, 0.3);
}

}  // namespace
