#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "corvanta/Logger.h"
#include "corvanta/Node.h"
#include "corvanta/Object.h"

using namespace corvanta;

namespace {

// Captures logged lines for the life of the object, then restores the previous sink.
class CapturedLog {
public:
    ~CapturedLog() { Logger::setMinimumLevel(LogLevel::Debug); }
    std::vector<std::pair<LogLevel, std::string>> lines;

private:
    ScopedLogSink sink{[this](LogLevel level, const std::string& line) { lines.emplace_back(level, line); }};
};

class TestObject : public CorvantaObject {
public:
    using CorvantaObject::registerAction;
    using CorvantaObject::registerEvent;
};

}  // namespace

TEST(LoggerTest, SinkReceivesEachLineWithItsLevel) {
    CapturedLog log;
    Logger::error("e");
    Logger::info("i");
    Logger::warning("w");
    Logger::debug("d");
    using Line = std::pair<LogLevel, std::string>;
    EXPECT_EQ(log.lines, (std::vector<Line>{
                             {LogLevel::Error, "e"}, {LogLevel::Info, "i"}, {LogLevel::Warning, "w"}, {LogLevel::Debug, "d"}}));
}

TEST(LoggerTest, MinimumLevelDropsLowerLines) {
    CapturedLog log;
    Logger::setMinimumLevel(LogLevel::Warning);
    Logger::info("dropped");
    Logger::error("kept");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].second, "kept");
}

TEST(LoggerTest, DefaultWritesOneLabelledLineToStderr) {
    testing::internal::CaptureStderr();
    Logger::error("[VeyraNode] Only mono audio is supported.");
    Logger::info("hello");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "error: [VeyraNode] Only mono audio is supported.\ninfo: hello\n");
}

TEST(LoggerTest, LinesFromManyThreadsAllArrive) {
    CapturedLog log;  // the sink itself is unsynchronised: the logger must serialise
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) Logger::info("line");
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(log.lines.size(), 2000u);
}

TEST(EventEmitterTest, DeliversOnlyToSubscribersOfTheEvent) {
    EventEmitter emitter;
    std::vector<std::string> received;
    emitter.subscribe("turnDetected", [&](const CVAny& data) { received.push_back("a:" + data.toString()); });
    emitter.subscribe("other", [&](const CVAny&) { received.push_back("other"); });
    emitter.subscribe("turnDetected", [&](const CVAny& data) { received.push_back("b:" + data.toString()); });
    emitter.emitEvent("turnDetected", CVAny(CVAnyMap{{"probability", 0.5f}}));
    EXPECT_EQ(received, (std::vector<std::string>{"a:{probability: 0.5}", "b:{probability: 0.5}"}));
}

TEST(EventEmitterTest, UnsubscribedListenerHearsNothing) {
    EventEmitter emitter;
    int calls = 0;
    const auto id = emitter.subscribe("e", [&](const CVAny&) { ++calls; });
    emitter.emitEvent("e", CVAny());
    emitter.unsubscribe(id);
    emitter.unsubscribe(id);  // twice is harmless
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(calls, 1);
}

TEST(EventEmitterTest, ListenerMaySubscribeAndUnsubscribeWhileEmitting) {
    EventEmitter emitter;
    int lateCalls = 0;
    EventEmitter::ListenerId self = 0;
    self = emitter.subscribe("e", [&](const CVAny&) {
        emitter.unsubscribe(self);
        emitter.subscribe("e", [&](const CVAny&) { ++lateCalls; });
    });
    emitter.emitEvent("e", CVAny());  // would deadlock if the lock were held
    EXPECT_EQ(lateCalls, 0);          // joined after this emission began
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(lateCalls, 1);
}

TEST(CorvantaObjectTest, UnknownKeysAndActionsAnswerErrorsNamingThem) {
    TestObject object;
    const auto set = object.setValue("windowDuration", CVAny(1.0f));
    EXPECT_FALSE(set.isSuccess());
    EXPECT_EQ(set.errorMessage(), "Unknown property: windowDuration");
    EXPECT_EQ(object.getValue("nope").errorMessage(), "Unknown property: nope");
    EXPECT_EQ(object.callAction("infer", {}).errorMessage(), "Unknown action: infer");
}

TEST(CorvantaObjectTest, RegisteredActionRunsItsHandlerAndEmptyHandlerIsAnError) {
    TestObject object;
    object.registerAction("double", {{"description", "Doubles x"}}, [](const CVAnyMap& params) {
        return Result<CVAny>::success(CVAny(CVAny::convert<float>(params.at("x")) * 2.0f));
    });
    object.registerAction("infer", {{"description", "Runs inference"}}, nullptr);

    const auto doubled = object.callAction("double", {{"x", 1.5f}});
    ASSERT_TRUE(doubled.isSuccess());
    EXPECT_EQ(doubled.value(), CVAny(3.0f));
    EXPECT_EQ(object.callAction("infer", {}).errorMessage(), "Action has no handler: infer");
    EXPECT_EQ(object.getActionDescriptors().at("infer").at("description"), CVAny("Runs inference"));
}

TEST(CorvantaObjectTest, KeepsEventDescriptors) {
    TestObject object;
    object.registerEvent("turnDetected", {{"name", "turnDetected"}, {"data", CVAnyMap{}}});
    ASSERT_EQ(object.getEventDescriptors().count("turnDetected"), 1u);
    EXPECT_EQ(object.getEventDescriptors().at("turnDetected").at("name"), CVAny("turnDetected"));
}

namespace {

class RecordingSink : public SingleBusAudioSinkNode {
public:
    bool setBusFormat(AudioBusFormat& format) override {
        formats.push_back(format);
        return answer;
    }
    bool consumeBus(AudioBus& bus) override {
        buses.push_back(&bus);
        return answer;
    }
    bool answer = true;
    std::vector<AudioBusFormat> formats;
    std::vector<AudioBus*> buses;
};

}  // namespace

TEST(SingleBusAudioSinkNodeTest, ForwardsExactlyOneBusAndItsAnswer) {
    RecordingSink sink;
    AudioBusFormatList one{{1, 48000}};
    EXPECT_TRUE(sink.setBusFormats(one));
    ASSERT_EQ(sink.formats.size(), 1u);
    EXPECT_EQ(sink.formats[0], (AudioBusFormat{1, 48000}));

    AudioBusArray<1> buses;
    EXPECT_TRUE(sink.consume(buses));
    ASSERT_EQ(sink.buses.size(), 1u);
    EXPECT_EQ(sink.buses[0], &buses.getBus(0));

    sink.answer = false;
    EXPECT_FALSE(sink.setBusFormats(one));
    EXPECT_FALSE(sink.consume(buses));
}

TEST(SingleBusAudioSinkNodeTest, RefusesListsOfOtherSizesWithoutCallingTheNode) {
    RecordingSink sink;
    AudioBusFormatList none;
    AudioBusFormatList two{{1, 16000}, {1, 16000}};
    AudioBusArray<0> noBuses;
    AudioBusArray<2> twoBuses;
    EXPECT_FALSE(sink.setBusFormats(none));
    EXPECT_FALSE(sink.setBusFormats(two));
    EXPECT_FALSE(sink.consume(noBuses));
    EXPECT_FALSE(sink.consume(twoBuses));
    EXPECT_TRUE(sink.formats.empty());
    EXPECT_TRUE(sink.buses.empty());
}

TEST(AudioNodeTest, DefaultsAndBaseAnswers) {
    RecordingSink sink;
    EXPECT_EQ(sink.getDisplayName(), "Audio Node");
    sink.onGraphStart();
    sink.onGraphStop();
    EXPECT_EQ(sink.getValue("threshold").errorMessage(), "Unknown property: threshold");
    EXPECT_EQ(sink.callAction("reset", {}).errorMessage(), "Unknown action: reset");
}
