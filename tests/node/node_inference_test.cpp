// The actions "infer" and "reset": answers, the result line, the event and
// the failures that answer a neutral result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "NodeTestSupport.h"

namespace veyra_test {
namespace {

// contract.onnx answers sigmoid(mean(features) * 1.5 + 0.25); silence gives
// features of -1.5 everywhere.
const float kSilenceProbability = 1.0f / (1.0f + std::exp(2.0f));

// Deterministic white noise in [-0.25, 0.25).
std::vector<float> noise(std::size_t count) {
    std::vector<float> samples(count);
    uint32_t state = 12345;
    for (float& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<float>(state >> 8) / 16777216.0f * 0.5f - 0.25f;
    }
    return samples;
}

double inferMsOf(const std::string& line) {
    const auto at = line.find("inferMs=");
    return at == std::string::npos ? -1.0 : std::stod(line.substr(at + 8));
}

// The result line as the node must write it.
std::string resultLine(const Answer& answer, double inferMs) {
    char line[160];
    std::snprintf(line, sizeof line, "[VeyraNode] infer: probability=%f isTurnComplete=%d inferMs=%f",
                  static_cast<double>(answer.probability), answer.isTurnComplete ? 1 : 0, inferMs);
    return line;
}

class NodeInference : public ::testing::Test {
protected:
    LogCapture log;
    std::vector<CVAny> events;
    std::vector<std::size_t> linesAtEvent;

    VeyraNode& makeNode(const std::string& model, float threshold = 0.5f) {
        node = std::make_unique<VeyraNode>(config({{"modelPath", testModel(model)}, {"threshold", threshold}}));
        node->subscribe("turnDetected", [this](const CVAny& data) {
            events.push_back(data);
            linesAtEvent.push_back(log.lines().size());
        });
        log.clear();
        return *node;
    }

private:
    std::unique_ptr<VeyraNode> node;
};

TEST_F(NodeInference, InferLogsThenEmitsThenAnswers) {
    VeyraNode& node = makeNode("contract.onnx");
    const Answer answer = infer(node);
    EXPECT_NEAR(answer.probability, kSilenceProbability, 1e-6f);
    EXPECT_FALSE(answer.isTurnComplete);

    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::Info);
    EXPECT_GT(inferMsOf(lines[0].text), 0.0);
    EXPECT_EQ(lines[0].text, resultLine(answer, inferMsOf(lines[0].text)));
    EXPECT_TRUE(lines[0].text.starts_with("[VeyraNode] infer: probability=0.119203 isTurnComplete=0 inferMs="));

    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(linesAtEvent, std::vector<std::size_t>{1});
    EXPECT_EQ(events[0], CVAny(CVAnyMap{{"probability", answer.probability}, {"isTurnComplete", false}}));
}

TEST_F(NodeInference, TurnCompleteOnlyWhenStrictlyAboveThreshold) {
    VeyraNode& node = makeNode("half.onnx", 0.5f);
    EXPECT_FALSE(infer(node).isTurnComplete);
    ASSERT_TRUE(node.setValue("threshold", std::nextafter(0.5f, 0.0f)));
    EXPECT_TRUE(infer(node).isTurnComplete);
    ASSERT_TRUE(node.setValue("threshold", 2.0f));
    EXPECT_FALSE(infer(node).isTurnComplete);
    ASSERT_TRUE(node.setValue("threshold", -1.0f));
    EXPECT_TRUE(infer(node).isTurnComplete);
    // A comparison with a value that is not a number never reports a turn end.
    ASSERT_TRUE(node.setValue("threshold", std::nanf("")));
    EXPECT_FALSE(infer(node).isTurnComplete);
    EXPECT_EQ(log.texts()[0], resultLine({0.5f, false}, inferMsOf(log.texts()[0])));
}

TEST_F(NodeInference, OnlyTheFirstOutputValueCounts) {
    VeyraNode& node = makeNode("multi_value.onnx");
    const Answer answer = infer(node);
    EXPECT_EQ(answer.probability, 0.75f);
    EXPECT_TRUE(answer.isTurnComplete);
}

TEST_F(NodeInference, InferAnalysesTheNewestAudioAndChangesNothing) {
    VeyraNode& node = makeNode("contract.onnx");
    Access::append(node, noise(64000));
    const Answer first = infer(node);
    EXPECT_GT(first.probability, kSilenceProbability);
    EXPECT_EQ(infer(node).probability, first.probability);
    ASSERT_TRUE(node.setValue("threshold", 0.0f));
    EXPECT_EQ(infer(node).probability, first.probability);  // the buffered audio stays
}

TEST_F(NodeInference, ResetThenInferAnalysesSilence) {
    VeyraNode& node = makeNode("contract.onnx");
    Access::append(node, noise(64000));
    const auto reset = node.callAction("reset", CVAnyMap{{"ignored", 1}});
    ASSERT_TRUE(reset);
    EXPECT_TRUE(reset.value().isEmpty());
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{info("[VeyraNode] Audio buffer cleared.")}));
    EXPECT_NEAR(infer(node).probability, kSilenceProbability, 1e-6f);
}

TEST_F(NodeInference, ResetOnAnEmptyWindowStillLogs) {
    VeyraNode& node = makeNode("half.onnx");
    ASSERT_TRUE(node.callAction("reset", {}));
    ASSERT_TRUE(node.callAction("reset", {}));
    EXPECT_EQ(log.texts(), (std::vector<std::string>(2, "[VeyraNode] Audio buffer cleared.")));
}

TEST_F(NodeInference, ParametersAreIgnored) {
    VeyraNode& node = makeNode("half.onnx");
    const auto answer = node.callAction("infer", CVAnyMap{{"threshold", 0.0f}});
    EXPECT_EQ(CVAny::convert<CVAnyMap>(answer.value()).at("isTurnComplete"), CVAny(false));
}

TEST_F(NodeInference, OtherActionNamesGoToTheBaseWhole) {
    VeyraNode& node = makeNode("half.onnx");
    for (const std::string name : {"Infer", "infer ", "RESET", "reset\t", "run"}) {
        const auto answer = node.callAction(name, {});
        EXPECT_FALSE(answer.isSuccess()) << name;
        EXPECT_EQ(answer.errorMessage(), node.Node::callAction(name, {}).errorMessage());
    }
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(NodeInference, EmptyOutputAnswersNeutralWithoutEvent) {
    VeyraNode& node = makeNode("empty_output.onnx");
    const Answer answer = infer(node);
    EXPECT_EQ(answer.probability, 0.0f);
    EXPECT_FALSE(answer.isTurnComplete);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{error("[VeyraNode] Model returned empty output.")}));
    EXPECT_TRUE(events.empty());
}

TEST_F(NodeInference, NodeWithoutUsableModelAnswersNeutralWithoutEvent) {
    VeyraNode& node = makeNode("half.onnx");
    Access::append(node, std::vector<float>(1000, 0.1f));
    for (auto breakModel : {&Access::removeModel, &Access::installUnloadedModel}) {
        log.clear();
        breakModel(node);
        const Answer answer = infer(node);
        EXPECT_EQ(answer.probability, 0.0f);
        EXPECT_FALSE(answer.isTurnComplete);
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{error("[VeyraNode] Cannot infer: model is not loaded.")}));
        EXPECT_TRUE(events.empty());
    }
    // A successful load makes it usable again.
    ASSERT_TRUE(node.setValue("modelPath", testModel("half.onnx")));
    EXPECT_EQ(infer(node).probability, 0.5f);
}

}  // namespace
}  // namespace veyra_test
