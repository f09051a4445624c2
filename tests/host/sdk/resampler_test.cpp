#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "corvanta/AudioGraphResampler.h"

using namespace corvanta;

namespace {

constexpr int kOutputRate = 16000;
constexpr int kMaxBlock = 512;
// Output frames the filter may hold back while a stream runs, from 44.1 or 48 kHz.
constexpr std::size_t kMaxFilterDelay = 300;

std::vector<float> sine(double frequency, double amplitude, int rate, std::size_t frames) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
    }
    return samples;
}

double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i) sum += double{samples[i]} * samples[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

// Frequency from the rising zero crossings between begin and end.
double measuredFrequency(const std::vector<float>& samples, std::size_t begin, std::size_t end, int rate) {
    std::vector<double> crossings;
    for (std::size_t i = begin + 1; i < end; ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            crossings.push_back(static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]));
        }
    }
    if (crossings.size() < 2) return 0.0;
    return rate * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
}

// Feeds channels to a resampler block by block and keeps everything it delivers.
class Harness {
public:
    explicit Harness(int outputRate = kOutputRate) : resampler(outputRate, kMaxBlock) {
        resampler.setNumberOfBuses(1, 0);
        resampler.setProcessCallback([this](AudioBusList& delivered, AudioBusList&) {
            const AudioBus& bus = delivered.getBus(0);
            const AudioBuffer<float>& buffer = *bus.getBuffer();
            largestBlock = std::max(largestBlock, buffer.getNumberOfFrames());
            formatsOk = formatsOk && bus.getFormat().getSampleRate() == static_cast<uint32_t>(resampler.getOutputRate()) &&
                        bus.getFormat().getNumberOfChannels() == buffer.getNumberOfChannels();
            output.resize(buffer.getNumberOfChannels());
            for (uint32_t c = 0; c < buffer.getNumberOfChannels(); ++c) {
                output[c].insert(output[c].end(), buffer.getReadPointer(c),
                                 buffer.getReadPointer(c) + buffer.getNumberOfFrames());
            }
            ++deliveries;
            return callbackAnswer;
        });
    }

    // Delivers the channels in blocks whose sizes cycle through blockSizes.
    bool feed(std::vector<std::vector<float>> channels, uint32_t rate, const std::vector<std::size_t>& blockSizes) {
        const std::size_t total = channels[0].size();
        bool ok = true;
        std::size_t start = 0;
        for (std::size_t b = 0; start < total; ++b) {
            const std::size_t frames = std::min(blockSizes[b % blockSizes.size()], total - start);
            std::vector<float*> pointers;
            for (auto& channel : channels) pointers.push_back(channel.data() + start);
            auto view = AudioBuffer<float>::view(pointers.data(), static_cast<uint32_t>(pointers.size()),
                                                 static_cast<uint32_t>(frames));
            ok = feedBuffer(&view, rate) && ok;
            start += frames;
        }
        return ok;
    }

    bool feedBuffer(AudioBuffer<float>* buffer, uint32_t rate) {
        AudioBusArray<1> input;
        AudioBusArray<0> none;
        input.getBus(0).setBuffer(buffer);
        input.getBus(0).setFormat({buffer ? buffer->getNumberOfChannels() : 0, rate});
        return resampler.process(input, none);
    }

    const std::vector<float>& channel(std::size_t c) const { return output.at(c); }

    AudioGraphResampler resampler;
    std::vector<std::vector<float>> output;
    uint32_t largestBlock = 0;
    int deliveries = 0;
    bool formatsOk = true;
    bool callbackAnswer = true;
};

struct Conversion {
    int inputRate;
    std::size_t maxFilterDelay;
};

class SineConversion : public testing::TestWithParam<Conversion> {};

}  // namespace

TEST_P(SineConversion, KeepsFrequencyLevelTimingAndDuration) {
    const auto [inputRate, maxFilterDelay] = GetParam();
    const double amplitude = 0.5;
    Harness harness;
    ASSERT_TRUE(harness.feed({sine(1000.0, amplitude, inputRate, inputRate)}, inputRate,
                             {static_cast<std::size_t>(inputRate / 100)}));

    const auto& out = harness.channel(0);
    EXPECT_LE(out.size(), static_cast<std::size_t>(kOutputRate));
    EXPECT_GE(out.size(), kOutputRate - maxFilterDelay);
    EXPECT_LE(harness.largestBlock, static_cast<uint32_t>(kMaxBlock));
    EXPECT_TRUE(harness.formatsOk);

    const std::size_t begin = 800;
    const std::size_t end = out.size() - 800;
    EXPECT_NEAR(rms(out, begin, end), amplitude * std::numbers::sqrt2 / 2.0, 0.002);
    EXPECT_NEAR(measuredFrequency(out, begin, end, kOutputRate), 1000.0, 0.5);
    // The filter delay is compensated: output frame n is input time n / 16000.
    const auto ideal = sine(1000.0, amplitude, kOutputRate, out.size());
    for (std::size_t i = begin; i < end; ++i) ASSERT_NEAR(out[i], ideal[i], 0.005) << "at " << i;
}

INSTANTIATE_TEST_SUITE_P(CommonRates, SineConversion,
                         testing::Values(Conversion{44100, kMaxFilterDelay}, Conversion{48000, kMaxFilterDelay},
                                         Conversion{8000, 900}),
                         [](const auto& info) { return std::to_string(info.param.inputRate); });

TEST(AudioGraphResamplerTest, ToneAboveOutputNyquistDoesNotAlias) {
    Harness harness;
    ASSERT_TRUE(harness.feed({sine(10000.0, 0.5, 48000, 48000)}, 48000, {480}));
    const auto& out = harness.channel(0);
    const double inputRms = 0.5 * std::numbers::sqrt2 / 2.0;
    EXPECT_LT(rms(out, 800, out.size() - 800), inputRms * 1e-3);  // below -60 dB
}

TEST(AudioGraphResamplerTest, OddBlockSizesGiveTheSameOutputAsOneBlock) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> signal = sine(440.0, 0.3, 44100, 44100);
    for (auto& sample : signal) sample += noise(random);

    Harness whole;
    Harness pieces;
    ASSERT_TRUE(whole.feed({signal}, 44100, {signal.size()}));
    ASSERT_TRUE(pieces.feed({signal}, 44100, {1, 37, 113, 999, 2, 4410}));
    ASSERT_EQ(pieces.channel(0).size(), whole.channel(0).size());
    for (std::size_t i = 0; i < whole.channel(0).size(); ++i) {
        ASSERT_NEAR(pieces.channel(0)[i], whole.channel(0)[i], 1e-6f) << "at " << i;
    }
}

TEST(AudioGraphResamplerTest, MatchingRatePassesThroughBitExactInBlocks) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> left(1300), right(1300);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = uniform(random);
        right[i] = uniform(random);
    }
    Harness harness;
    ASSERT_TRUE(harness.feed({left, right}, kOutputRate, {1300}));
    EXPECT_EQ(harness.deliveries, 3);  // 512 + 512 + 276
    EXPECT_TRUE(harness.formatsOk);
    EXPECT_EQ(harness.channel(0), left);
    EXPECT_EQ(harness.channel(1), right);
}

TEST(AudioGraphResamplerTest, ConvertsEveryChannel) {
    const auto left = sine(1000.0, 0.5, 48000, 9600);
    std::vector<float> right(left.size());
    std::transform(left.begin(), left.end(), right.begin(), [](float s) { return -s; });
    Harness harness;
    ASSERT_TRUE(harness.feed({left, right}, 48000, {480}));
    ASSERT_EQ(harness.output.size(), 2u);
    ASSERT_EQ(harness.channel(0).size(), harness.channel(1).size());
    for (std::size_t i = 0; i < harness.channel(0).size(); ++i) {
        ASSERT_NEAR(harness.channel(1)[i], -harness.channel(0)[i], 1e-6f);
    }
}

TEST(AudioGraphResamplerTest, RateChangeFlushesAndRestartsCleanly) {
    Harness harness;
    ASSERT_TRUE(harness.feed({sine(1000.0, 0.5, 44100, 22050)}, 44100, {441}));
    ASSERT_TRUE(harness.feed({sine(1000.0, 0.5, 48000, 24000)}, 48000, {480}));

    const auto& out = harness.channel(0);
    // The first stream's tail is delivered at the change, so only the second
    // stream's filter delay is missing.
    EXPECT_LE(out.size(), 16000u);
    EXPECT_GE(out.size(), 16000 - kMaxFilterDelay);
    EXPECT_NEAR(rms(out, 8800, out.size() - 800), 0.5 * std::numbers::sqrt2 / 2.0, 0.002);
    EXPECT_NEAR(measuredFrequency(out, 8800, out.size() - 800, kOutputRate), 1000.0, 0.5);
    const float peak = *std::max_element(out.begin(), out.end(), [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_LT(std::abs(peak), 0.5f * 1.05f);  // no burst at the join
}

TEST(AudioGraphResamplerTest, RefusesInputItCannotConvert) {
    Harness harness;
    AudioBuffer<float> buffer(1, 480);
    EXPECT_FALSE(harness.feedBuffer(nullptr, 48000));
    EXPECT_FALSE(harness.feedBuffer(&buffer, 0));
    AudioBuffer<float> noChannels;
    EXPECT_FALSE(harness.feedBuffer(&noChannels, 48000));

    AudioBusArray<2> twoBuses;
    AudioBusArray<0> none;
    twoBuses.getBus(0).setBuffer(&buffer);
    twoBuses.getBus(0).setFormat({1, 48000});
    EXPECT_FALSE(harness.resampler.process(twoBuses, none));
    EXPECT_EQ(harness.deliveries, 0);
    EXPECT_FALSE(harness.resampler.setNumberOfBuses(2, 0));

    AudioGraphResampler noCallback(kOutputRate, kMaxBlock);
    AudioBusArray<1> input;
    input.getBus(0).setBuffer(&buffer);
    input.getBus(0).setFormat({1, 16000});
    EXPECT_FALSE(noCallback.process(input, none));

    EXPECT_THROW(AudioGraphResampler(0, kMaxBlock), std::invalid_argument);
    EXPECT_THROW(AudioGraphResampler(kOutputRate, 0), std::invalid_argument);
}

TEST(AudioGraphResamplerTest, CallbackRefusalIsReported) {
    Harness harness;
    harness.callbackAnswer = false;
    AudioBuffer<float> buffer(1, 1000);
    EXPECT_FALSE(harness.feedBuffer(&buffer, kOutputRate));
    EXPECT_EQ(harness.deliveries, 1);  // delivery stops at the first refusal
}
