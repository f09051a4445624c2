// What the features must show for signals whose answer is known, independent
// of the reference implementation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "MelFeatureExtractor.h"
#include "TestSignals.h"

namespace {

using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::kNumFrames;
using corvanta::extensions::veyra::kNumMelBands;
using corvanta::extensions::veyra::kWindowSamples;
using corvanta::extensions::veyra::MelFeatureExtractor;

class LogMelTest : public ::testing::Test {
protected:
    std::vector<float> features(const std::vector<float>& samples) const {
        std::vector<float> out(kFeatureCount);
        extractor.computeLogMel(samples.data(), out.data());
        return out;
    }

    static float at(const std::vector<float>& f, int band, int frame) { return f[band * kNumFrames + frame]; }
    static bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
        return std::memcmp(a.data(), b.data(), kFeatureCount * sizeof(float)) == 0;
    }
    static bool columnsEqual(const std::vector<float>& a, const std::vector<float>& b, int frame) {
        for (int band = 0; band < kNumMelBands; ++band) {
            if (at(a, band, frame) != at(b, band, frame)) return false;
        }
        return true;
    }

    const MelFeatureExtractor extractor;
};

// Every energy is raised to 1e-10: log10 -10, peak -10, (-10 + 4) / 4.
TEST_F(LogMelTest, SilenceIsExactlyMinusOnePointFiveEverywhere) {
    for (float v : features(veyra_test::silence())) ASSERT_EQ(v, -1.5f);
}

TEST_F(LogMelTest, FullScale1000HzSinePeaksInBand28) {
    const std::vector<float> f = features(veyra_test::sine1000Hz(1.0f));
    const float largest = *std::max_element(f.begin(), f.end());
    const float smallest = *std::min_element(f.begin(), f.end());
    const float peak = largest * 4.0f - 4.0f;  // undo the final scaling
    EXPECT_NEAR(peak, 3.844f, 0.001f);
    EXPECT_NEAR(largest, 1.961f, 0.001f);
    EXPECT_NEAR(smallest, -0.039f, 0.001f);  // 8 decades below the peak

    // The hop is exactly ten periods: frames 0 to 797 see the same samples.
    for (int frame = 0; frame < 798; ++frame) {
        int loudest = 0;
        for (int band = 1; band < kNumMelBands; ++band) {
            if (at(f, band, frame) > at(f, loudest, frame)) loudest = band;
        }
        ASSERT_EQ(loudest, 28) << "frame " << frame;
        for (int band = 0; band < kNumMelBands; ++band) ASSERT_EQ(at(f, band, frame), at(f, band, 0));
    }
    // The last two frames run into the zero region past the window's end.
    EXPECT_NE(at(f, 28, 799), at(f, 28, 0));
}

// Output range: peak (M + 4) / 4, nothing below (M - 4) / 4.
TEST_F(LogMelTest, OutputSpansAtMostTwoUnits) {
    const std::vector<float> f = features(veyra_test::whiteNoise(0.3f, 5u));
    const auto [smallest, largest] = std::minmax_element(f.begin(), f.end());
    EXPECT_LE(*largest - *smallest, 2.0f);
    EXPECT_GT(*largest - *smallest, 0.5f);
}

// A gain g shifts every output by log10(g) / 2 while the peak stays above -2.
TEST_F(LogMelTest, TenfoldGainRaisesEveryOutputByHalf) {
    std::vector<float> quiet = veyra_test::whiteNoise(0.05f, 21u);
    std::vector<float> loud = quiet;
    for (float& v : loud) v *= 10.0f;
    const std::vector<float> fq = features(quiet);
    const std::vector<float> fl = features(loud);
    for (int i = 0; i < kFeatureCount; ++i) ASSERT_NEAR(fl[i] - fq[i], 0.5f, 0.0005f) << "index " << i;
}

// Sample 0 is multiplied by window entry 0, which is exactly 0.
TEST_F(LogMelTest, FirstSampleHasNoEffect) {
    std::vector<float> samples = veyra_test::whiteNoise(0.1f, 31u);
    const std::vector<float> before = features(samples);
    samples[0] = 1000.0f;
    EXPECT_TRUE(sameBits(features(samples), before));
}

TEST_F(LogMelTest, LastSampleAffectsOnlyTheLastTwoFrames) {
    // A loud burst mid-window fixes the peak, so the floor cannot move.
    std::vector<float> samples = veyra_test::whiteNoise(0.1f, 41u);
    for (int i = 48000; i < 49600; ++i) samples[i] *= 100.0f;
    const std::vector<float> before = features(samples);
    samples[kWindowSamples - 1] += 0.7f;
    const std::vector<float> after = features(samples);
    for (int frame = 0; frame < 798; ++frame) ASSERT_TRUE(columnsEqual(after, before, frame)) << "frame " << frame;
    EXPECT_FALSE(columnsEqual(after, before, 798));
    EXPECT_FALSE(columnsEqual(after, before, 799));
}

TEST_F(LogMelTest, PrefilledOutputBufferMakesNoDifference) {
    const std::vector<float> samples = veyra_test::whiteNoise(0.1f, 51u);
    const std::vector<float> clean = features(samples);
    for (float fill : {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f}) {
        std::vector<float> out(kFeatureCount, fill);
        extractor.computeLogMel(samples.data(), out.data());
        EXPECT_TRUE(sameBits(out, clean)) << "prefilled with " << fill;
    }
}

// Frames wholly inside the zero padding all read log10 = -10 before the
// final compression: one common value, (max(-10, M - 8) + 4) / 4.
TEST_F(LogMelTest, ZeroPaddedFramesShareOneValue) {
    for (float deviation : {0.3f, 0.0001f}) {
        const std::vector<float> f = features(veyra_test::rightAlignedNoise(16000, deviation, 61u));
        const float peak = *std::max_element(f.begin(), f.end()) * 4.0f - 4.0f;
        const float expected = (std::max(-10.0f, peak - 8.0f) + 4.0f) * 0.25f;
        const int lastPaddedFrame = (kWindowSamples - 16000 - 400) / 160;  // ends before the clip
        for (int band = 0; band < kNumMelBands; ++band) {
            for (int frame = 0; frame <= lastPaddedFrame; ++frame) {
                ASSERT_NEAR(at(f, band, frame), expected, 1e-6f) << "band " << band << ", frame " << frame;
            }
        }
        if (peak <= -2.0f) {
            EXPECT_EQ(expected, -1.5f);
        }
    }
}

// One bad sample must not turn the whole matrix into NaN.
TEST_F(LogMelTest, NonFiniteSamplesAreReadAsZero) {
    std::vector<float> samples = veyra_test::whiteNoise(0.1f, 71u);
    const int positions[] = {5, 64000, 100001, kWindowSamples - 1};
    for (int i : positions) samples[i] = 0.0f;
    const std::vector<float> zeroed = features(samples);
    samples[5] = std::numeric_limits<float>::quiet_NaN();
    samples[64000] = std::numeric_limits<float>::infinity();
    samples[100001] = -std::numeric_limits<float>::infinity();
    samples[kWindowSamples - 1] = std::numeric_limits<float>::signaling_NaN();
    EXPECT_TRUE(sameBits(features(samples), zeroed));
}

}  // namespace
