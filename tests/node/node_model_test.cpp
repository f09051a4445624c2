// Model loading: log lines, missing files, reloads, output names, and the
// guarantee that a failed load leaves the working model in place.
#include <gtest/gtest.h>

#include <cmath>

#include "NodeTestSupport.h"

namespace veyra_test {
namespace {

class NodeModel : public ::testing::Test {
protected:
    LogCapture log;
    VeyraNode node{config({{"modelPath", testModel("half.onnx")}})};

    void SetUp() override { log.clear(); }

    // The node must still answer with half.onnx: 0.5 every time.
    void expectPreviousModelWorks() {
        EXPECT_EQ(node.getValue("modelPath").value(), CVAny(testModel("half.onnx")));
        EXPECT_EQ(Access::outputName(node), "logits");
        EXPECT_EQ(infer(node).probability, 0.5f);
    }
};

TEST_F(NodeModel, FileLoadLogsPathThenOutputName) {
    const std::string path = testModel("other_name.onnx");
    ASSERT_TRUE(node.setValue("modelPath", path));
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{info("[VeyraNode] Loading model from: " + path),
                                                 info("[VeyraNode] Model output name: score")}));
    EXPECT_EQ(node.getValue("modelPath").value(), CVAny(path));
    // The first output counts, whatever its name: contract formula on silence.
    const float expected = 1.0f / (1.0f + std::exp(-(-1.5f * 1.5f + 0.25f)));
    EXPECT_NEAR(infer(node).probability, expected, 1e-5f);
}

TEST_F(NodeModel, MissingAndEmptyPathsThrowAndKeepTheModel) {
    for (const std::string& path : {testModel("missing.onnx"), std::string(), testModel("no_dir/half.onnx")}) {
        log.clear();
        const std::string message = "[VeyraNode] Model file not found: " + path;
        try {
            node.setValue("modelPath", path);
            ADD_FAILURE() << "no exception for '" << path << "'";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{error(message)}));
        expectPreviousModelWorks();
    }
}

TEST_F(NodeModel, ReloadingTheSamePathMakesANewInstance) {
    const auto* before = Access::model(node);
    ASSERT_TRUE(node.setValue("modelPath", testModel("half.onnx")));
    EXPECT_NE(Access::model(node), before);
    expectPreviousModelWorks();
}

TEST_F(NodeModel, ModelWithoutOutputsKeepsThePreviousOutputName) {
    const std::string path = testModel("no_outputs.onnx");
    ASSERT_TRUE(node.setValue("modelPath", path));
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{info("[VeyraNode] Loading model from: " + path)}));
    EXPECT_EQ(Access::outputName(node), "logits");
    EXPECT_EQ(node.getValue("modelPath").value(), CVAny(path));
}

TEST_F(NodeModel, FreshNodeWithoutOutputsHasNoOutputName) {
    VeyraNode fresh(config({{"modelPath", testModel("no_outputs.onnx")}}));
    EXPECT_EQ(Access::outputName(fresh), "");
}

// A file that exists but is no usable model: the runtime's error is logged and
// passed on, and the node goes on with the model it had.
TEST_F(NodeModel, FailedLoadKeepsThePreviousModel) {
    const std::string paths[] = {testModel("not_a_model.onnx"), testModel("wrong_input.onnx"),
                                 std::string(VEYRA_TEST_MODELS_DIR)};
    for (const std::string& path : paths) {
        log.clear();
        const auto* before = Access::model(node);
        try {
            node.setValue("modelPath", path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const corvanta::extensions::onnx::ModelError& e) {
            const std::vector<LogLine> expected{info("[VeyraNode] Loading model from: " + path),
                                                error(std::string("[VeyraNode] Failed to load model: ") + e.what())};
            EXPECT_EQ(log.lines(), expected);
        }
        EXPECT_EQ(Access::model(node), before) << path;
        expectPreviousModelWorks();
    }
}

TEST(NodeModelConstruction, UnusableModelFileCreatesNoNode) {
    LogCapture log;
    EXPECT_THROW(VeyraNode(config({{"modelPath", testModel("wrong_input.onnx")}})),
                 corvanta::extensions::onnx::ModelError);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines().back().level, LogLevel::Error);
}

TEST(NodeModelConstruction, EmbeddedModelIsUsedThroughItsOutput) {
    LogCapture log;
    VeyraNode node(CVAnyMap{});
    const Answer answer = infer(node);
    EXPECT_GE(answer.probability, 0.0f);
    EXPECT_LE(answer.probability, 1.0f);
    EXPECT_EQ(answer.isTurnComplete, answer.probability > 0.5f);
}

}  // namespace
}  // namespace veyra_test
