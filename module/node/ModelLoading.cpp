// Model loading: the embedded model or a model file, each loaded completely
// into a fresh instance before it replaces the node's model, so a failed load
// leaves the working model in place.
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "EmbeddedModel.h"
#include "VeyraNode.h"
#include "corvanta/Logger.h"

namespace corvanta::extensions::veyra {

namespace {

using onnx::ModelInstance;
using onnx::TensorInfo;

struct LoadedModel {
    std::unique_ptr<ModelInstance> instance;
    std::vector<TensorInfo> outputs;
};

// Constructs an instance on the CPU, lets `load` read the model into it, fixes
// the input to one 80 x 800 spectrogram and learns the outputs. A runtime
// failure is logged and passed on unchanged.
template <class LoadInto>
LoadedModel loadCompletely(LoadInto&& load) {
    try {
        auto instance = std::make_unique<ModelInstance>(onnx::ExecutionProvider{onnx::CpuProvider{}});
        load(*instance);
        instance->setDims("input_features", {1, kNumMelBands, kNumFrames});
        std::vector<TensorInfo> outputs = instance->getModelOutputInfo();
        return LoadedModel{std::move(instance), std::move(outputs)};
    } catch (const std::exception& error) {
        Logger::error(std::string("[VeyraNode] Failed to load model: ") + error.what());
        throw;
    }
}

}  // namespace

void VeyraNode::loadEmbeddedModel() {
    Logger::info("[VeyraNode] Loading embedded CPU (int8) model.");
    // The runtime reads the image in place from read-only data: never copied.
    LoadedModel loaded = loadCompletely([](const ModelInstance& instance) {
        instance.loadModelFromData(kEmbeddedModelData, kEmbeddedModelSize);
    });
    installModel(std::move(loaded.instance), loaded.outputs, nullptr);
}

void VeyraNode::loadModelFromFile(const std::string& path) {
    // Throws std::filesystem::filesystem_error when the test itself fails.
    if (!std::filesystem::exists(path)) {
        const std::string message = "[VeyraNode] Model file not found: " + path;
        Logger::error(message);
        throw std::runtime_error(message);
    }
    Logger::info("[VeyraNode] Loading model from: " + path);
    LoadedModel loaded = loadCompletely([&path](const ModelInstance& instance) {
        instance.loadModelFromPath(path);
    });
    installModel(std::move(loaded.instance), loaded.outputs, &path);
}

void VeyraNode::installModel(std::unique_ptr<ModelInstance> instance,
                             const std::vector<TensorInfo>& outputs, const std::string* path) {
    std::unique_ptr<ModelInstance> replaced;
    {
        // Waits for a running inference: the model never changes under it.
        std::lock_guard lock(modelMutex);
        replaced = std::exchange(modelInstance, std::move(instance));
        if (!outputs.empty()) {
            outputName = outputs.front().name;
        }
        if (path != nullptr && path != &modelPath) {
            modelPath = *path;
        }
    }
    // A model without outputs keeps the previous output name.
    if (!outputs.empty()) {
        Logger::info("[VeyraNode] Model output name: " + outputs.front().name);
    }
    // `replaced` is destroyed here, outside the lock, after the new model is in place.
}

}  // namespace corvanta::extensions::veyra
