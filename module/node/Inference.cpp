// The actions: "infer" runs the end-of-turn model over the window, "reset"
// empties the window.
#include <chrono>
#include <cstdio>

#include "VeyraNode.h"
#include "corvanta/Logger.h"

namespace corvanta::extensions::veyra {

namespace {

CVAny toAnswer(const TurnResult& result) {
    return CVAny(CVAnyMap{
        {"probability", CVAny(result.probability)},
        {"isTurnComplete", CVAny(result.isTurnComplete)},
    });
}

void logInference(const TurnResult& result, double inferMs) {
    char line[160];
    std::snprintf(line, sizeof line, "[VeyraNode] infer: probability=%f isTurnComplete=%d inferMs=%f",
                  static_cast<double>(result.probability), result.isTurnComplete ? 1 : 0, inferMs);
    Logger::info(line);
}

}  // namespace

Result<CVAny> VeyraNode::callAction(const std::string& name, const CVAnyMap& params) {
    if (name == "infer") {
        return Result<CVAny>::success(toAnswer(runInference()));
    }
    if (name == "reset") {
        resetAudio();
        return Result<CVAny>::success(CVAny());
    }
    return Node::callAction(name, params);
}

TurnResult VeyraNode::runInference() {
    std::unique_lock modelLock(modelMutex);
    if (!modelInstance || !modelInstance->isModelLoaded()) {
        modelLock.unlock();
        Logger::error("[VeyraNode] Cannot infer: model is not loaded.");
        return {};
    }

    const std::vector<float> frame = copyAnalysisFrame();
    std::vector<float> features(kFeatureCount, 0.0f);
    featureExtractor.computeLogMel(frame.data(), features.data());

    // Bound by reference: features outlives the run below.
    modelInstance->setInputByRef<float>("input_features", features);
    const auto start = std::chrono::steady_clock::now();
    modelInstance->runPrediction();
    const auto stop = std::chrono::steady_clock::now();
    const std::vector<float> output = modelInstance->getOutputValues<float>(outputName);
    modelLock.unlock();

    if (output.empty()) {
        Logger::error("[VeyraNode] Model returned empty output.");
        return {};
    }
    const double inferMs =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count()) /
        1000000.0;
    // The model ends in a sigmoid: its first value is the probability as it is.
    TurnResult result;
    result.probability = output.front();
    result.isTurnComplete = result.probability > threshold.load();

    // Listeners run without the node's locks, so they may call back into it.
    logInference(result, inferMs);
    emitEvent("turnDetected", toAnswer(result));
    return result;
}

}  // namespace corvanta::extensions::veyra
