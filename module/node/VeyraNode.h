#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MelFeatureExtractor.h"
#include "TurnResult.h"
#include "corvanta/Audio.h"
#include "corvanta/AudioGraphResampler.h"
#include "corvanta/CVAny.h"
#include "corvanta/Result.h"
#include "corvanta/onnx/ModelInstance.h"
#include "corvanta/onnx/OnnxMLSinkNode.h"

namespace corvanta::extensions::veyra {

class VeyraNodeTestAccess;

// The turn-detection node: a mono audio sink that keeps the newest 8 seconds
// of audio at 16 kHz and, on the action "infer", runs the end-of-turn model
// over them and reports the probability that the speaker has finished.
//
// Threads: the host may deliver audio on one thread while others call
// actions, getValue and setValue on the same node. audioMutex guards the
// audio window and is held only to append, trim, copy or clear it, so the
// audio thread never waits for a model run. modelMutex guards the model, its
// output name and path; "infer" holds it while it uses the model, and a model
// load takes it only to swap in a fully loaded instance.
class VeyraNode : public onnx::OnnxMLSinkNode {
public:
    explicit VeyraNode(const CVAnyMap& config);
    ~VeyraNode() override;

    // Properties "threshold", "modelPath" and "windowDuration" (read-only).
    Result<void> setValue(const std::string& key, const CVAny& value) override;
    Result<CVAny> getValue(const std::string& key) override;
    // Actions "infer" and "reset".
    Result<CVAny> callAction(const std::string& name, const CVAnyMap& params) override;

    // Audio path, on the host's audio thread.
    bool setBusFormat(AudioBusFormat& format) override;
    bool consumeBus(AudioBus& bus) override;

protected:
    // Receives each block of 16 kHz audio from the resampler.
    virtual void appendResampledAudio(const AudioBuffer<float>& buffer);

private:
    friend class VeyraNodeTestAccess;  // tests reach states no public call can produce

    void readConfiguration(const CVAnyMap& config);
    void registerDescriptors();
    void createResampler();

    void loadEmbeddedModel();
    void loadModelFromFile(const std::string& path);
    // Makes a fully loaded model the node's model; path is null for the
    // embedded model, which leaves modelPath as it is.
    void installModel(std::unique_ptr<onnx::ModelInstance> instance,
                      const std::vector<onnx::TensorInfo>& outputs, const std::string* path);

    TurnResult runInference();
    void resetAudio();
    // The newest kWindowSamples samples, preceded by silence when fewer are buffered.
    std::vector<float> copyAnalysisFrame();

    std::mutex modelMutex;  // guards modelInstance, outputName, modelPath
    std::unique_ptr<onnx::ModelInstance> modelInstance;
    std::string outputName;
    MelFeatureExtractor featureExtractor;
    std::mutex audioMutex;  // guards audioBuffer
    std::vector<float> audioBuffer;
    std::atomic<float> threshold{0.5f};
    std::string modelPath;
    std::unique_ptr<AudioGraphResampler> resampler;
};

}  // namespace corvanta::extensions::veyra
