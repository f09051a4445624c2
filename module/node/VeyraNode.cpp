// Construction, configuration, descriptors and properties of the node.
#include "VeyraNode.h"

#include "corvanta/Logger.h"

namespace corvanta::extensions::veyra {

namespace {

CVAnyMap turnDetectedDescriptor() {
    const CVAnyMap probability{
        {"name", "probability"},
        {"type", "float"},
        {"description", "Sigmoid probability that the speaker's turn is complete (0.0-1.0)."},
    };
    const CVAnyMap isTurnComplete{
        {"name", "isTurnComplete"},
        {"type", "boolean"},
        {"description", "True when probability exceeds the configured threshold."},
    };
    return CVAnyMap{
        {"name", "turnDetected"},
        {"description", "Emitted after an 'infer' action with the turn-detection result."},
        {"data", CVAnyMap{{"probability", probability}, {"isTurnComplete", isTurnComplete}}},
    };
}

CVAnyMap inferDescriptor() {
    return CVAnyMap{
        {"description", "Run inference on the current audio buffer; emits turnDetected."},
        {"returnType", "object"},
        {"returnDescription",
         "Inference result: `probability` (float) that the turn is complete, and `isTurnComplete` "
         "(boolean), the probability thresholded for convenience."},
        {"parameters", CVAnyMap{}},
    };
}

CVAnyMap resetDescriptor() {
    return CVAnyMap{
        {"description", "Clear the audio buffer."},
        {"parameters", CVAnyMap{}},
    };
}

}  // namespace

VeyraNode::VeyraNode(const CVAnyMap& config) {
    readConfiguration(config);
    // The model comes first: a node whose model cannot be loaded is never
    // created, and nothing has been registered by then.
    if (!modelPath.empty()) {
        loadModelFromFile(modelPath);
    } else {
        loadEmbeddedModel();
    }
    registerDescriptors();
    createResampler();
}

// Members go in reverse declaration order: the resampler, whose callback
// points at this node, first and the model instance last.
VeyraNode::~VeyraNode() = default;

void VeyraNode::readConfiguration(const CVAnyMap& config) {
    for (const auto& [key, value] : config) {
        if (key == "threshold") {
            threshold = CVAny::convert<float>(value);
        } else if (key == "modelPath") {
            modelPath = CVAny::convert<std::string>(value);
        } else {
            Logger::error("[VeyraNode] Unknown configuration key: " + key);
        }
    }
}

// The handlers stay empty: the host delivers both actions to callAction.
void VeyraNode::registerDescriptors() {
    registerEvent("turnDetected", turnDetectedDescriptor());
    registerAction("infer", inferDescriptor(), ActionHandler{});
    registerAction("reset", resetDescriptor(), ActionHandler{});
}

Result<CVAny> VeyraNode::getValue(const std::string& key) {
    if (key == "threshold") {
        return Result<CVAny>::success(CVAny(threshold.load()));
    }
    if (key == "windowDuration") {
        return Result<CVAny>::success(CVAny(static_cast<float>(kWindowSamples) / kSampleRate));
    }
    if (key == "modelPath") {
        std::lock_guard lock(modelMutex);
        return Result<CVAny>::success(CVAny(modelPath));
    }
    return Node::getValue(key);
}

Result<void> VeyraNode::setValue(const std::string& key, const CVAny& value) {
    if (key == "threshold") {
        threshold = CVAny::convert<float>(value);
        return Result<void>::success();
    }
    if (key == "modelPath") {
        // Records the path itself once the model is in place.
        loadModelFromFile(CVAny::convert<std::string>(value));
        return Result<void>::success();
    }
    return CorvantaObject::setValue(key, value);
}

}  // namespace corvanta::extensions::veyra
