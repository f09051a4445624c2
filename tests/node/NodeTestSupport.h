#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "VeyraNode.h"
#include "corvanta/Logger.h"

namespace corvanta::extensions::veyra {

// Reaches node state that no public operation exposes or can produce.
class VeyraNodeTestAccess {
public:
    static std::vector<float> window(VeyraNode& node) {
        std::lock_guard lock(node.audioMutex);
        return node.audioBuffer;
    }
    static std::size_t windowCapacity(VeyraNode& node) {
        std::lock_guard lock(node.audioMutex);
        return node.audioBuffer.capacity();
    }
    static std::vector<float> analysisFrame(VeyraNode& node) { return node.copyAnalysisFrame(); }
    static void append(VeyraNode& node, const std::vector<float>& samples) {
        std::vector<float> copy = samples;
        float* channel = copy.data();
        node.appendResampledAudio(AudioBuffer<float>::view(&channel, 1, static_cast<uint32_t>(copy.size())));
    }
    static void appendBuffer(VeyraNode& node, const AudioBuffer<float>& buffer) { node.appendResampledAudio(buffer); }
    static const onnx::ModelInstance* model(VeyraNode& node) {
        std::lock_guard lock(node.modelMutex);
        return node.modelInstance.get();
    }
    static std::string outputName(VeyraNode& node) {
        std::lock_guard lock(node.modelMutex);
        return node.outputName;
    }
    // The states a runtime could leave behind: no instance, or one that never loaded.
    static void removeModel(VeyraNode& node) {
        std::lock_guard lock(node.modelMutex);
        node.modelInstance.reset();
    }
    static void installUnloadedModel(VeyraNode& node) {
        std::lock_guard lock(node.modelMutex);
        node.modelInstance = std::make_unique<onnx::ModelInstance>(onnx::CpuProvider{});
    }
};

}  // namespace corvanta::extensions::veyra

namespace veyra_test {

using corvanta::CVAny;
using corvanta::CVAnyMap;
using corvanta::LogLevel;
using corvanta::extensions::veyra::VeyraNode;
using Access = corvanta::extensions::veyra::VeyraNodeTestAccess;

inline std::string testModel(const std::string& name) { return std::string(VEYRA_TEST_MODELS_DIR) + "/" + name; }

struct LogLine {
    LogLevel level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

// Captures every logger line for its lifetime.
class LogCapture {
public:
    LogCapture()
        : sink([this](LogLevel level, const std::string& line) {
              std::lock_guard lock(mutex);
              captured.push_back({level, line});
          }) {}

    std::vector<LogLine> lines() {
        std::lock_guard lock(mutex);
        return captured;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (const auto& line : lines()) result.push_back(line.text);
        return result;
    }
    void clear() {
        std::lock_guard lock(mutex);
        captured.clear();
    }

private:
    std::mutex mutex;
    std::vector<LogLine> captured;
    corvanta::ScopedLogSink sink;  // last: restored before the lines it writes go away
};

inline LogLine info(std::string text) { return {LogLevel::Info, std::move(text)}; }
inline LogLine error(std::string text) { return {LogLevel::Error, std::move(text)}; }

inline CVAnyMap config(std::initializer_list<std::pair<std::string, CVAny>> entries) { return CVAnyMap(entries); }

struct Answer {
    float probability;
    bool isTurnComplete;
};

// Runs "infer" and checks that the answer has the two documented entries.
inline Answer infer(VeyraNode& node) {
    const CVAnyMap answer = CVAny::convert<CVAnyMap>(node.callAction("infer", {}).value());
    if (answer.size() != 2 || answer.at("probability").type() != CVAny::Type::Float ||
        answer.at("isTurnComplete").type() != CVAny::Type::Bool) {
        throw std::logic_error("malformed infer answer");
    }
    return {CVAny::convert<float>(answer.at("probability")), CVAny::convert<bool>(answer.at("isTurnComplete"))};
}

}  // namespace veyra_test
