// Audio intake: accepted formats, the rolling window and the resampled path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "NodeTestSupport.h"

namespace veyra_test {
namespace {

using corvanta::AudioBuffer;
using corvanta::AudioBusFormat;
using corvanta::AudioBusFormatList;
using corvanta::AudioBusVector;

constexpr std::size_t kWindow = 128000;

// 1, 2, 3, ...: every sample tells where it came from.
std::vector<float> ramp(std::size_t count, float first = 1.0f) {
    std::vector<float> samples(count);
    std::iota(samples.begin(), samples.end(), first);
    return samples;
}

class NodeAudio : public ::testing::Test {
protected:
    LogCapture log;
    VeyraNode node{CVAnyMap{}};

    void SetUp() override { log.clear(); }
};

TEST_F(NodeAudio, AcceptsMonoAtAnyRateRefusesOtherChannelCounts) {
    for (uint32_t rate : {8000u, 16000u, 44100u, 48000u}) {
        AudioBusFormatList formats{AudioBusFormat{1, rate}};
        EXPECT_TRUE(node.setBusFormats(formats)) << rate;
        EXPECT_EQ(formats.front(), (AudioBusFormat{1, rate}));
    }
    EXPECT_TRUE(log.lines().empty());

    for (uint32_t channels : {0u, 2u}) {
        AudioBusFormatList formats{AudioBusFormat{channels, 16000}};
        EXPECT_FALSE(node.setBusFormats(formats));
    }
    const LogLine monoOnly = error("[VeyraNode] Only mono audio is supported.");
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{monoOnly, monoOnly}));
}

TEST_F(NodeAudio, WindowKeepsExactlyTheNewestSamples) {
    Access::append(node, ramp(kWindow - 1000));
    Access::append(node, ramp(1000, kWindow - 999));
    std::vector<float> window = Access::window(node);
    ASSERT_EQ(window.size(), kWindow);  // exactly full: nothing dropped
    EXPECT_EQ(window.front(), 1.0f);
    EXPECT_EQ(window.back(), static_cast<float>(kWindow));

    Access::append(node, {-7.0f});
    window = Access::window(node);
    ASSERT_EQ(window.size(), kWindow);  // one more drops exactly the oldest
    EXPECT_EQ(window.front(), 2.0f);
    EXPECT_EQ(window[kWindow - 2], static_cast<float>(kWindow));
    EXPECT_EQ(window.back(), -7.0f);
}

TEST_F(NodeAudio, BlockLargerThanTheWindowLeavesItsTail) {
    Access::append(node, ramp(10));
    Access::append(node, ramp(kWindow + 5000, 100.0f));
    const std::vector<float> window = Access::window(node);
    ASSERT_EQ(window.size(), kWindow);
    EXPECT_EQ(window.front(), 5100.0f);
    EXPECT_EQ(window.back(), static_cast<float>(kWindow + 5099));
}

TEST_F(NodeAudio, TrimmingAndResetKeepTheCapacity) {
    Access::append(node, ramp(kWindow));
    Access::append(node, ramp(512));
    const std::size_t capacity = Access::windowCapacity(node);
    Access::append(node, ramp(512));
    EXPECT_EQ(Access::windowCapacity(node), capacity);

    ASSERT_TRUE(node.callAction("reset", {}));
    EXPECT_TRUE(Access::window(node).empty());
    EXPECT_EQ(Access::windowCapacity(node), capacity);
    Access::append(node, {3.0f, 4.0f});
    EXPECT_EQ(Access::window(node), (std::vector<float>{3.0f, 4.0f}));  // a fresh window
}

TEST_F(NodeAudio, OnlyChannelZeroOfAResampledBufferCounts) {
    AudioBuffer<float> stereo(2, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        stereo.getWritePointer(0)[i] = static_cast<float>(i + 1);
        stereo.getWritePointer(1)[i] = 99.0f;
    }
    Access::appendBuffer(node, stereo);
    Access::appendBuffer(node, AudioBuffer<float>(1, 0));  // zero frames: nothing
    Access::appendBuffer(node, AudioBuffer<float>());      // no channels: nothing
    EXPECT_EQ(Access::window(node), (std::vector<float>{1.0f, 2.0f, 3.0f}));
}

TEST_F(NodeAudio, NonFiniteSamplesEnterAsSilence) {
    const float inf = std::numeric_limits<float>::infinity();
    Access::append(node, {0.25f, std::nanf(""), -inf, inf, -0.5f, std::numeric_limits<float>::denorm_min()});
    EXPECT_EQ(Access::window(node),
              (std::vector<float>{0.25f, 0.0f, 0.0f, 0.0f, -0.5f, std::numeric_limits<float>::denorm_min()}));
}

// Feeds `seconds` of a tone at `rate` through the host's list-level entry points.
void deliver(VeyraNode& node, uint32_t rate, int seconds, uint32_t blockFrames) {
    AudioBusFormatList formats{AudioBusFormat{1, rate}};
    ASSERT_TRUE(node.setBusFormats(formats));
    AudioBuffer<float> block(1, blockFrames);
    AudioBusVector buses(1);
    buses.getBus(0).setBuffer(&block);
    buses.getBus(0).setFormat(formats.front());
    uint64_t t = 0;
    for (uint64_t done = 0; done < static_cast<uint64_t>(seconds) * rate; done += blockFrames) {
        for (uint32_t i = 0; i < blockFrames; ++i, ++t) {
            block.getWritePointer(0)[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(t) / rate);
        }
        ASSERT_TRUE(node.consume(buses));
    }
}

TEST_F(NodeAudio, SixteenKilohertzPassesThroughUnchanged) {
    deliver(node, 16000, 2, 400);
    const std::vector<float> window = Access::window(node);
    ASSERT_EQ(window.size(), 32000u);
    EXPECT_FLOAT_EQ(window[40], 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * 40.0f / 16000.0f));
}

TEST_F(NodeAudio, FortyEightKilohertzIsResampledToAThird) {
    deliver(node, 48000, 3, 4800);  // 144000 frames in
    const std::size_t size = Access::window(node).size();
    EXPECT_NEAR(static_cast<double>(size), 48000.0, 1000.0);  // the converter may hold back its latency
    deliver(node, 48000, 10, 4800);
    EXPECT_EQ(Access::window(node).size(), kWindow);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(NodeAudio, AnalysisFramePutsShortRecordingsAfterSilence) {
    EXPECT_EQ(Access::analysisFrame(node), std::vector<float>(kWindow, 0.0f));

    Access::append(node, ramp(16000));
    std::vector<float> frame = Access::analysisFrame(node);
    ASSERT_EQ(frame.size(), kWindow);
    EXPECT_EQ(std::vector<float>(frame.begin(), frame.begin() + 112000), std::vector<float>(112000, 0.0f));
    EXPECT_EQ(std::vector<float>(frame.begin() + 112000, frame.end()), ramp(16000));

    Access::append(node, ramp(kWindow, 5.0f));
    EXPECT_EQ(Access::analysisFrame(node), Access::window(node));
    EXPECT_EQ(Access::window(node).size(), kWindow);
}

}  // namespace
}  // namespace veyra_test
