// One node used as a real host uses it: audio arrives on its own thread while
// control threads run "infer" and "reset" and change the threshold and the
// model. Built with ThreadSanitizer, a data race fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "NodeTestSupport.h"

namespace veyra_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDuration = std::chrono::seconds(3);
constexpr float kLowThreshold = 0.3f;
constexpr float kHighThreshold = 0.7f;

void feedAudio(VeyraNode& node, const std::atomic<bool>& stop, std::atomic<int>& failures) {
    corvanta::AudioBusFormatList formats{corvanta::AudioBusFormat{1, 48000}};
    if (!node.setBusFormats(formats)) ++failures;
    corvanta::AudioBuffer<float> block(1, 480);
    corvanta::AudioBusVector buses(1);
    buses.getBus(0).setBuffer(&block);
    buses.getBus(0).setFormat(formats.front());
    uint64_t t = 0;
    while (!stop) {
        for (uint32_t i = 0; i < 480; ++i, ++t) {
            block.getWritePointer(0)[i] = 0.3f * std::sin(0.05f * static_cast<float>(t % 100000));
        }
        if (!node.consume(buses)) ++failures;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void inferRepeatedly(VeyraNode& node, const std::atomic<bool>& stop, std::atomic<int>& answers,
                     std::atomic<int>& failures) {
    while (!stop) {
        const Answer answer = infer(node);
        const bool wellFormed = answer.probability >= 0.0f && answer.probability <= 1.0f &&
                                (answer.isTurnComplete == (answer.probability > kLowThreshold) ||
                                 answer.isTurnComplete == (answer.probability > kHighThreshold));
        if (!wellFormed) ++failures;
        ++answers;
    }
}

void changeSettings(VeyraNode& node, const std::atomic<bool>& stop, std::atomic<int>& failures) {
    const std::string models[] = {testModel("half.onnx"), testModel("contract.onnx")};
    for (int round = 0; !stop; ++round) {
        if (!node.setValue("threshold", round % 2 == 0 ? kLowThreshold : kHighThreshold)) ++failures;
        if (round % 4 == 0 && !node.setValue("modelPath", models[round / 4 % 2])) ++failures;
        if (round % 3 == 0 && !node.callAction("reset", {})) ++failures;
        if (!node.getValue("modelPath") || !node.getValue("threshold")) ++failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(NodeStress, AudioActionsAndSettingsFromSeveralThreads) {
    const corvanta::ScopedLogSink quiet([](LogLevel, const std::string&) {});
    VeyraNode node(config({{"modelPath", testModel("contract.onnx")}, {"threshold", kLowThreshold}}));
    std::atomic<int> events{0};
    node.subscribe("turnDetected", [&events](const CVAny& data) {
        if (CVAny::convert<CVAnyMap>(data).size() == 2) ++events;
    });

    std::atomic<bool> stop{false};
    std::atomic<int> answers{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    threads.emplace_back(feedAudio, std::ref(node), std::cref(stop), std::ref(failures));
    threads.emplace_back(inferRepeatedly, std::ref(node), std::cref(stop), std::ref(answers), std::ref(failures));
    threads.emplace_back(inferRepeatedly, std::ref(node), std::cref(stop), std::ref(answers), std::ref(failures));
    threads.emplace_back(changeSettings, std::ref(node), std::cref(stop), std::ref(failures));
    std::this_thread::sleep_for(kDuration);
    stop = true;
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(answers.load(), 0);
    RecordProperty("answers", answers.load());
    EXPECT_EQ(events.load(), answers.load());  // every inference succeeded and was announced
    EXPECT_LE(Access::window(node).size(), 128000u);
}

}  // namespace
}  // namespace veyra_test
