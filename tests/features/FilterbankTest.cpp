// The analysis window and the mel filterbank that every feature depends on.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "MelFeatureExtractor.h"

namespace {

using corvanta::extensions::veyra::kFrameLength;
using corvanta::extensions::veyra::kNumBins;
using corvanta::extensions::veyra::kNumMelBands;
using corvanta::extensions::veyra::MelFeatureExtractor;

class TablesTest : public ::testing::Test {
protected:
    float weight(int band, int bin) const { return filterbank[band * kNumBins + bin]; }

    std::vector<int> nonZeroBins(int band) const {
        std::vector<int> bins;
        for (int k = 0; k < kNumBins; ++k) {
            if (weight(band, k) != 0.0f) bins.push_back(k);
        }
        return bins;
    }

    MelFeatureExtractor extractor;
    const std::vector<float>& window = extractor.getAnalysisWindow();
    const std::vector<float>& filterbank = extractor.getMelFilterbank();
};

TEST_F(TablesTest, WindowIsSymmetricHannOfLength400WithDivisor399) {
    ASSERT_EQ(window.size(), static_cast<std::size_t>(kFrameLength));
    // Divisor 399: both ends exactly 0 (with 400 the last entry would not be).
    EXPECT_EQ(window[0], 0.0f);
    EXPECT_EQ(window[399], 0.0f);
    EXPECT_NEAR(window[1], 0.000062f, 0.000001f);
    EXPECT_NEAR(window[398], 0.000062f, 0.000001f);
    EXPECT_NEAR(window[199], 0.9999845f, 0.000001f);
    EXPECT_NEAR(window[200], 0.9999845f, 0.000001f);
    EXPECT_EQ(*std::max_element(window.begin(), window.end()), std::max(window[199], window[200]));
    for (int i = 0; i < kFrameLength; ++i) EXPECT_NEAR(window[i], window[399 - i], 1e-6f) << "entry " << i;
    EXPECT_NEAR(std::accumulate(window.begin(), window.end(), 0.0), 199.5, 0.01);
}

TEST_F(TablesTest, TellingFilterbankRows) {
    ASSERT_EQ(filterbank.size(), static_cast<std::size_t>(kNumMelBands * kNumBins));

    EXPECT_EQ(nonZeroBins(0), std::vector<int>{1});
    EXPECT_NEAR(weight(0, 1), 0.2164f, 0.0001f);
    EXPECT_EQ(nonZeroBins(1), std::vector<int>{1});
    EXPECT_NEAR(weight(1, 1), 0.7836f, 0.0001f);
    EXPECT_EQ(nonZeroBins(2), std::vector<int>{2});
    EXPECT_NEAR(weight(2, 2), 0.5256f, 0.0001f);

    EXPECT_EQ(nonZeroBins(27), (std::vector<int>{24, 25}));
    EXPECT_NEAR(weight(27, 24), 0.7523f, 0.0001f);
    EXPECT_NEAR(weight(27, 25), 0.4834f, 0.0001f);
    EXPECT_EQ(nonZeroBins(28), (std::vector<int>{25, 26, 27}));
    EXPECT_NEAR(weight(28, 25), 0.5166f, 0.0001f);
    EXPECT_NEAR(weight(28, 26), 0.7350f, 0.0001f);
    EXPECT_NEAR(weight(28, 27), 0.0014f, 0.0001f);
    EXPECT_EQ(nonZeroBins(29), (std::vector<int>{26, 27, 28}));
    EXPECT_NEAR(weight(29, 26), 0.2650f, 0.0001f);
    EXPECT_NEAR(weight(29, 27), 0.9986f, 0.0001f);
    EXPECT_NEAR(weight(29, 28), 0.2903f, 0.0001f);

    // The top band: rising to bin 193, falling to bin 199; bin 200 sits on
    // its right edge and gets 0 or a few millionths.
    std::vector<int> top = nonZeroBins(79);
    if (!top.empty() && top.back() == 200) {
        EXPECT_LT(weight(79, 200), 0.00001f);
        top.pop_back();
    }
    std::vector<int> expectedTop(13);
    std::iota(expectedTop.begin(), expectedTop.end(), 187);
    EXPECT_EQ(top, expectedTop);
    EXPECT_NEAR(weight(79, 187), 0.0187f, 0.0001f);
    EXPECT_NEAR(weight(79, 193), 0.9477f, 0.0001f);
    EXPECT_NEAR(weight(79, 194), 0.9006f, 0.0001f);
    EXPECT_NEAR(weight(79, 199), 0.1501f, 0.0001f);
}

TEST_F(TablesTest, EveryBandIsANonEmptyTriangleBelowOne) {
    for (int band = 0; band < kNumMelBands; ++band) {
        EXPECT_EQ(weight(band, 0), 0.0f) << "0 Hz in band " << band;
        EXPECT_FALSE(nonZeroBins(band).empty()) << "band " << band;
    }
    for (int band : {0, 1, 2, 3, 4, 6, 7, 10, 11}) EXPECT_EQ(nonZeroBins(band).size(), 1u) << "band " << band;

    const auto largest = std::max_element(filterbank.begin(), filterbank.end());
    EXPECT_EQ(largest - filterbank.begin(), 29 * kNumBins + 27);
    EXPECT_NEAR(*largest, 0.99855f, 0.00001f);
    EXPECT_GE(*std::min_element(filterbank.begin(), filterbank.end()), 0.0f);

    const auto nonZero = std::count_if(filterbank.begin(), filterbank.end(), [](float w) { return w != 0.0f; });
    EXPECT_TRUE(nonZero == 392 || nonZero == 393) << nonZero;
}

// No normalisation: neighbouring triangles add up to 1 wherever two overlap;
// above the last centre only the top band's falling side is left.
TEST_F(TablesTest, WeightsOfEachBinSumToOneUpTo7720Hz) {
    std::vector<float> binSums(kNumBins, 0.0f);
    for (int band = 0; band < kNumMelBands; ++band) {
        for (int k = 0; k < kNumBins; ++k) binSums[k] += weight(band, k);
    }
    EXPECT_EQ(binSums[0], 0.0f);
    for (int k = 1; k <= 193; ++k) EXPECT_NEAR(binSums[k], 1.0f, 2e-6f) << "bin " << k;
    const float tail[] = {0.9006f, 0.7505f, 0.6004f, 0.4503f, 0.3002f, 0.1501f};
    for (int k = 194; k <= 199; ++k) EXPECT_NEAR(binSums[k], tail[k - 194], 0.0001f) << "bin " << k;
    EXPECT_LT(binSums[200], 0.00001f);
}

TEST_F(TablesTest, IndependentExtractorsHoldIdenticalTables) {
    const MelFeatureExtractor other;
    EXPECT_EQ(std::memcmp(other.getAnalysisWindow().data(), window.data(), window.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(other.getMelFilterbank().data(), filterbank.data(), filterbank.size() * sizeof(float)), 0);
}

}  // namespace
