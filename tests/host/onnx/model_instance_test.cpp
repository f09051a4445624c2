#include "corvanta/onnx/ModelInstance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace {

using corvanta::extensions::onnx::CoreMLProvider;
using corvanta::extensions::onnx::CpuProvider;
using corvanta::extensions::onnx::CudaProvider;
using corvanta::extensions::onnx::DirectMLProvider;
using corvanta::extensions::onnx::ElementType;
using corvanta::extensions::onnx::ExecutionProvider;
using corvanta::extensions::onnx::ModelError;
using corvanta::extensions::onnx::ModelInstance;
using corvanta::extensions::onnx::OpenVinoProvider;
using testing::HasSubstr;

constexpr int64_t kBands = 80;
constexpr int64_t kFrames = 800;
constexpr std::size_t kFeatureCount = kBands * kFrames;

// contract.onnx computes Sigmoid(mean(x) * 1.5 + 0.25) (make_test_models.py).
double contractProbability(const std::vector<float>& features) {
    double mean = std::accumulate(features.begin(), features.end(), 0.0) / static_cast<double>(features.size());
    return 1.0 / (1.0 + std::exp(-(mean * 1.5 + 0.25)));
}

std::string testModel(const std::string& name) { return std::string(VEYRA_TEST_MODELS_DIR) + "/" + name; }

std::vector<char> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A model loaded from tests/models with the batch fixed to 1.
struct LoadedTestModel {
    ModelInstance instance{CpuProvider{}};
    explicit LoadedTestModel(const std::string& name) {
        instance.loadModelFromPath(testModel(name));
        instance.setDims("input_features", {1, kBands, kFrames});
    }
};

std::vector<float> ramp(float start, float step) {
    std::vector<float> values(kFeatureCount);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = start + step * static_cast<float>(i % 800);
    return values;
}

template <class Call>
std::string modelErrorOf(Call call) {
    try {
        call();
    } catch (const ModelError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no ModelError was raised";
    return {};
}

TEST(OnnxRuntimeSmoke, CreatesSessionFromTinyModelAndRunsIt) {
    LoadedTestModel model("contract.onnx");
    std::vector<float> silence(kFeatureCount, -1.5f);
    model.instance.setInputByRef("input_features", silence);
    model.instance.runPrediction();
    auto values = model.instance.getOutputValues<float>("logits");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_NEAR(values[0], contractProbability(silence), 1e-6);
}

TEST(ModelInstanceLoading, FromDataAndFromPathDescribeTheSameTensors) {
    std::vector<char> image = readFile(testModel("other_name.onnx"));
    ModelInstance fromData{CpuProvider{}};
    ModelInstance fromPath{CpuProvider{}};
    EXPECT_FALSE(fromData.isModelLoaded());
    fromData.loadModelFromData(image.data(), static_cast<unsigned int>(image.size()));
    fromPath.loadModelFromPath(testModel("other_name.onnx"));

    for (const ModelInstance* instance : {&fromData, &fromPath}) {
        EXPECT_TRUE(instance->isModelLoaded());
        auto inputs = instance->getModelInputInfo();
        ASSERT_EQ(inputs.size(), 1u);
        EXPECT_EQ(inputs[0].name, "input_features");
        EXPECT_EQ(inputs[0].elementType, ElementType::Float);
        EXPECT_EQ(inputs[0].shape, (std::vector<int64_t>{-1, kBands, kFrames}));

        auto outputs = instance->getModelOutputInfo();
        ASSERT_EQ(outputs.size(), 2u);
        EXPECT_EQ(outputs[0].name, "score");
        EXPECT_EQ(outputs[0].elementType, ElementType::Float);
        EXPECT_EQ(outputs[0].shape, (std::vector<int64_t>{-1, 1}));
        EXPECT_EQ(outputs[1].name, "feature_mean");
    }
}

TEST(ModelInstanceLoading, ModelWithoutOutputsLoadsWithEmptyOutputList) {
    ModelInstance instance{CpuProvider{}};
    instance.loadModelFromPath(testModel("no_outputs.onnx"));
    EXPECT_TRUE(instance.isModelLoaded());
    EXPECT_TRUE(instance.getModelOutputInfo().empty());
}

TEST(ModelInstanceLoading, FailedLoadKeepsThePreviousModel) {
    LoadedTestModel model("half.onnx");
    EXPECT_THROW(model.instance.loadModelFromPath(testModel("not_a_model.onnx")), ModelError);
    ASSERT_TRUE(model.instance.isModelLoaded());
    std::vector<float> features(kFeatureCount, 1.0f);
    model.instance.setInputByRef("input_features", features);
    model.instance.runPrediction();
    EXPECT_EQ(model.instance.getOutputValues<float>("logits"), std::vector<float>{0.5f});
}

TEST(ModelInstancePrediction, ContractModelFollowsItsFormula) {
    LoadedTestModel model("contract.onnx");
    for (auto features : {ramp(-2.0f, 0.001f), ramp(0.5f, 0.002f), std::vector<float>(kFeatureCount, -1.5f)}) {
        model.instance.setInputByRef("input_features", features);
        model.instance.runPrediction();
        auto values = model.instance.getOutputValues<float>("logits");
        ASSERT_EQ(values.size(), 1u);
        EXPECT_NEAR(values[0], contractProbability(features), 1e-6);
    }
}

TEST(ModelInstancePrediction, RunReadsTheBoundVectorInPlace) {
    LoadedTestModel model("contract.onnx");
    std::vector<float> features(kFeatureCount, -1.0f);
    model.instance.setInputByRef("input_features", features);
    std::fill(features.begin(), features.end(), 2.0f);  // after binding: must be seen
    model.instance.runPrediction();
    EXPECT_NEAR(model.instance.getOutputValues<float>("logits").at(0), contractProbability(features), 1e-6);
}

TEST(ModelInstancePrediction, OutputValuesOfEachModelShape) {
    std::vector<float> features = ramp(-1.0f, 0.001f);
    auto run = [&](LoadedTestModel& model, const std::string& output) {
        model.instance.setInputByRef("input_features", features);
        model.instance.runPrediction();
        return model.instance.getOutputValues<float>(output);
    };
    LoadedTestModel multi("multi_value.onnx");
    EXPECT_EQ(run(multi, "logits"), (std::vector<float>{0.75f, 0.25f, 0.125f}));

    LoadedTestModel half("half.onnx");
    EXPECT_EQ(run(half, "logits"), std::vector<float>{0.5f});

    LoadedTestModel otherName("other_name.onnx");
    EXPECT_NEAR(run(otherName, "score").at(0), contractProbability(features), 1e-6);

    LoadedTestModel empty("empty_output.onnx");
    EXPECT_TRUE(run(empty, "logits").empty());
}

TEST(ModelInstancePrediction, NoValuesBeforeTheFirstRun) {
    LoadedTestModel model("contract.onnx");
    EXPECT_TRUE(model.instance.getOutputValues<float>("logits").empty());
}

TEST(ModelInstancePrediction, TwoInstancesRunConcurrently) {
    auto runMany = [](float level, bool& allRight) {
        LoadedTestModel model("contract.onnx");
        std::vector<float> features(kFeatureCount, level);
        double expected = contractProbability(features);
        allRight = true;
        for (int i = 0; i < 50; ++i) {
            model.instance.setInputByRef("input_features", features);
            model.instance.runPrediction();
            allRight = allRight && std::abs(model.instance.getOutputValues<float>("logits").at(0) - expected) < 1e-6;
        }
    };
    bool firstRight = false;
    bool secondRight = false;
    std::thread first(runMany, -1.5f, std::ref(firstRight));
    std::thread second(runMany, 0.75f, std::ref(secondRight));
    first.join();
    second.join();
    EXPECT_TRUE(firstRight);
    EXPECT_TRUE(secondRight);
}

TEST(ModelInstanceErrors, UnusableModelsCarryTheRuntimeMessage) {
    ModelInstance instance{CpuProvider{}};
    // The runtime's own words follow our context after ": ".
    std::string corrupt = modelErrorOf([&] { instance.loadModelFromPath(testModel("not_a_model.onnx")); });
    EXPECT_THAT(corrupt, HasSubstr("not_a_model.onnx"));
    EXPECT_THAT(corrupt, HasSubstr("parsing failed"));

    std::vector<char> garbage = readFile(testModel("not_a_model.onnx"));
    std::string corruptData =
        modelErrorOf([&] { instance.loadModelFromData(garbage.data(), static_cast<unsigned int>(garbage.size())); });
    EXPECT_THAT(corruptData, HasSubstr("parsing failed"));

    std::string missing = modelErrorOf([&] { instance.loadModelFromPath(testModel("no_such_model.onnx")); });
    EXPECT_THAT(missing, HasSubstr("no_such_model.onnx"));
    EXPECT_THAT(missing, HasSubstr("File doesn't exist"));

    std::string directory = modelErrorOf([&] { instance.loadModelFromPath(VEYRA_TEST_MODELS_DIR); });
    EXPECT_THAT(directory, HasSubstr("is a directory"));
    EXPECT_THAT(directory, HasSubstr(VEYRA_TEST_MODELS_DIR));

    EXPECT_THROW(instance.loadModelFromData(nullptr, 10), ModelError);
    EXPECT_FALSE(instance.isModelLoaded());
}

TEST(ModelInstanceErrors, OnlyTheCpuProviderIsSupported) {
    const std::pair<ExecutionProvider, const char*> others[] = {
        {CudaProvider{}, "CUDA"}, {OpenVinoProvider{}, "OpenVINO"},
        {DirectMLProvider{}, "DirectML"}, {CoreMLProvider{}, "CoreML"}};
    for (const auto& [provider, name] : others) {
        std::string message = modelErrorOf([&] { ModelInstance instance(provider); });
        EXPECT_THAT(message, HasSubstr(std::string(name) + " execution provider is not supported by this runtime"));
    }
}

TEST(ModelInstanceErrors, CallsBeforeLoadingRaiseInsteadOfCrashing) {
    ModelInstance instance{CpuProvider{}};
    std::vector<float> features(kFeatureCount);
    EXPECT_THAT(modelErrorOf([&] { instance.runPrediction(); }), HasSubstr("no model is loaded"));
    EXPECT_THROW(instance.setDims("input_features", {1, kBands, kFrames}), ModelError);
    EXPECT_THROW(instance.setInputByRef("input_features", features), ModelError);
    EXPECT_THROW(instance.getOutputValues<float>("logits"), ModelError);
    EXPECT_THROW(instance.getModelOutputInfo(), ModelError);
}

TEST(ModelInstanceErrors, BindingMistakesAreNamed) {
    std::vector<float> features(kFeatureCount);
    LoadedTestModel model("contract.onnx");
    EXPECT_THAT(modelErrorOf([&] { model.instance.setInputByRef("features", features); }),
                HasSubstr("no input named \"features\" (its inputs: \"input_features\")"));

    std::vector<float> tooShort(kFeatureCount - 1);
    EXPECT_THAT(modelErrorOf([&] { model.instance.setInputByRef("input_features", tooShort); }),
                HasSubstr("got 63999 values but its dimensions [1, 80, 800] need 64000"));

    EXPECT_THAT(modelErrorOf([&] { model.instance.setDims("input_features", {1, kBands, 801}); }),
                HasSubstr("do not fit input \"input_features\""));
    EXPECT_THROW(model.instance.setDims("input_features", {1, kFeatureCount}), ModelError);
    EXPECT_THROW(model.instance.getOutputValues<float>("score"), ModelError);

    ModelInstance wrongInput{CpuProvider{}};
    wrongInput.loadModelFromPath(testModel("wrong_input.onnx"));
    EXPECT_THROW(wrongInput.setDims("input_features", {1, kBands, kFrames}), ModelError);
    EXPECT_THROW(wrongInput.setInputByRef("input_features", features), ModelError);
}

TEST(ModelInstanceErrors, RunNeedsEveryInputBoundWithKnownDims) {
    ModelInstance instance{CpuProvider{}};
    instance.loadModelFromPath(testModel("contract.onnx"));
    std::vector<float> features(kFeatureCount);
    EXPECT_THAT(modelErrorOf([&] { instance.runPrediction(); }), HasSubstr("\"input_features\" is not bound"));
    EXPECT_THAT(modelErrorOf([&] { instance.setInputByRef("input_features", features); }), HasSubstr("call setDims"));
}

}  // namespace
