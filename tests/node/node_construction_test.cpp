// Construction from a configuration map, descriptors and properties.
#include <gtest/gtest.h>

#include "NodeTestSupport.h"

namespace veyra_test {
namespace {

const LogLine kEmbeddedLoad = info("[VeyraNode] Loading embedded CPU (int8) model.");
const LogLine kLogitsName = info("[VeyraNode] Model output name: logits");

TEST(NodeConfiguration, EmptyMapUsesEmbeddedModelAndDefaults) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{kEmbeddedLoad, kLogitsName}));
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(0.5f));
    EXPECT_EQ(node.getValue("modelPath").value(), CVAny(std::string()));
    EXPECT_EQ(Access::outputName(node), "logits");
}

TEST(NodeConfiguration, EmptyModelPathMeansEmbeddedModel) {
    LogCapture log;
    VeyraNode node(config({{"modelPath", ""}}));
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{kEmbeddedLoad, kLogitsName}));
}

TEST(NodeConfiguration, ReadsThresholdAndModelPath) {
    LogCapture log;
    const std::string path = testModel("half.onnx");
    VeyraNode node(config({{"threshold", 0.25}, {"modelPath", path}}));
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{info("[VeyraNode] Loading model from: " + path),
                                                 info("[VeyraNode] Model output name: logits")}));
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(0.25f));
    EXPECT_EQ(node.getValue("modelPath").value(), CVAny(path));
}

TEST(NodeConfiguration, UnknownKeysLoggedInKeyOrderAndSkipped) {
    CVAnyMap settings;
    settings.insert("zeta", 1);
    settings.insert("Threshold", 0.9);  // case differs
    settings.insert("threshold ", 0.9);  // trailing blank
    settings.insert("alpha", "x");
    LogCapture log;
    VeyraNode node(settings);
    const std::vector<LogLine> expected{
        error("[VeyraNode] Unknown configuration key: Threshold"),
        error("[VeyraNode] Unknown configuration key: alpha"),
        error("[VeyraNode] Unknown configuration key: threshold "),
        error("[VeyraNode] Unknown configuration key: zeta"),
        kEmbeddedLoad,
        kLogitsName,
    };
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(0.5f));
}

TEST(NodeConfiguration, MissingModelFileCreatesNoNode) {
    LogCapture log;
    const std::string path = testModel("does_not_exist.onnx");
    try {
        VeyraNode node(config({{"modelPath", path}}));
        FAIL() << "a node was created";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "[VeyraNode] Model file not found: " + path);
    }
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{error("[VeyraNode] Model file not found: " + path)}));
}

TEST(NodeConfiguration, UnconvertibleThresholdPassesHostErrorThrough) {
    EXPECT_THROW(VeyraNode(config({{"threshold", "high"}})), std::invalid_argument);
}

TEST(NodeDescriptors, EventAndActionsExactlyAsPublished) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});

    const CVAnyMap probability{
        {"name", "probability"},
        {"type", "float"},
        {"description", "Sigmoid probability that the speaker's turn is complete (0.0-1.0)."}};
    const CVAnyMap isTurnComplete{
        {"name", "isTurnComplete"},
        {"type", "boolean"},
        {"description", "True when probability exceeds the configured threshold."}};
    const CVAnyMap event{
        {"name", "turnDetected"},
        {"description", "Emitted after an 'infer' action with the turn-detection result."},
        {"data", CVAnyMap{{"probability", probability}, {"isTurnComplete", isTurnComplete}}}};
    EXPECT_EQ(node.getEventDescriptors(), (std::map<std::string, CVAnyMap>{{"turnDetected", event}}));

    const CVAnyMap inferAction{
        {"description", "Run inference on the current audio buffer; emits turnDetected."},
        {"returnType", "object"},
        {"returnDescription",
         "Inference result: `probability` (float) that the turn is complete, and `isTurnComplete` (boolean), "
         "the probability thresholded for convenience."},
        {"parameters", CVAnyMap{}}};
    const CVAnyMap resetAction{{"description", "Clear the audio buffer."}, {"parameters", CVAnyMap{}}};
    EXPECT_EQ(node.getActionDescriptors(),
              (std::map<std::string, CVAnyMap>{{"infer", inferAction}, {"reset", resetAction}}));
}

TEST(NodeProperties, WindowDurationIsAConstantFloat) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});
    EXPECT_EQ(node.getValue("windowDuration").value(), CVAny(8.0f));
    const auto answer = node.setValue("windowDuration", 4.0f);
    const auto baseAnswer = node.CorvantaObject::setValue("windowDuration", 4.0f);
    EXPECT_EQ(answer.isSuccess(), baseAnswer.isSuccess());
    EXPECT_EQ(answer.errorMessage(), baseAnswer.errorMessage());
    EXPECT_EQ(node.getValue("windowDuration").value(), CVAny(8.0f));
}

TEST(NodeProperties, ThresholdIsStoredUnchecked) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});
    ASSERT_TRUE(node.setValue("threshold", 2.0));
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(2.0f));
    ASSERT_TRUE(node.setValue("threshold", "-0.5"));
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(-0.5f));
}

TEST(NodeProperties, OtherNamesGoToTheBaseWhole) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});
    for (const std::string key : {"Threshold", "threshold ", "modelpath", "window"}) {
        const auto answer = node.getValue(key);
        EXPECT_FALSE(answer.isSuccess()) << key;
        EXPECT_EQ(answer.errorMessage(), node.Node::getValue(key).errorMessage()) << key;
        EXPECT_FALSE(node.setValue(key, 0.1f).isSuccess()) << key;
    }
    EXPECT_EQ(node.getValue("threshold").value(), CVAny(0.5f));
    EXPECT_EQ(log.lines().size(), 2u);  // only the two construction lines
}

}  // namespace
}  // namespace veyra_test
