#include "corvanta/onnx/ModelInstance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using corvanta::extensions::onnx::CpuProvider;
using corvanta::extensions::onnx::ElementType;
using corvanta::extensions::onnx::ModelInstance;

// The model the module embeds must keep the contract the node is built
// around, whether it is the untrained placeholder or a trained model.
TEST(EmbeddedModelContract, TakesLogMelFeaturesAndAnswersAProbability) {
    ModelInstance instance{CpuProvider{}};
    instance.loadModelFromPath(std::string(VEYRA_MODELS_DIR) + "/veyra_end_of_turn.onnx");

    auto inputs = instance.getModelInputInfo();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].name, "input_features");
    EXPECT_EQ(inputs[0].elementType, ElementType::Float);
    ASSERT_EQ(inputs[0].shape.size(), 3u);
    EXPECT_EQ(inputs[0].shape[1], 80);
    EXPECT_EQ(inputs[0].shape[2], 800);

    auto outputs = instance.getModelOutputInfo();
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs[0].name, "logits");
    EXPECT_EQ(outputs[0].elementType, ElementType::Float);

    instance.setDims("input_features", {1, 80, 800});
    for (float level : {-1.5f, 0.0f, 3.0f}) {
        std::vector<float> features(80 * 800, level);
        instance.setInputByRef("input_features", features);
        instance.runPrediction();
        auto values = instance.getOutputValues<float>("logits");
        ASSERT_EQ(values.size(), 1u);
        EXPECT_GE(values[0], 0.0f);
        EXPECT_LE(values[0], 1.0f);
    }
}

}  // namespace
