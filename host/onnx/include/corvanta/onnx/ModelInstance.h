#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "corvanta/Export.h"

namespace corvanta::extensions::onnx {

// Execution providers a model can be placed on. Only the CPU is supported
// here; choosing another raises ModelError when the instance is created.
struct CpuProvider {};
struct CudaProvider { int deviceId = 0; };
struct OpenVinoProvider { std::string deviceType = "CPU"; };
struct DirectMLProvider { int deviceId = 0; };
struct CoreMLProvider {};

using ExecutionProvider =
    std::variant<CpuProvider, CudaProvider, OpenVinoProvider, DirectMLProvider, CoreMLProvider>;

enum class ElementType { Undefined, Float, Double, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Bool, String, Float16, Other };

// One model input or output; a negative dimension is symbolic (e.g. batch).
struct TensorInfo {
    std::string name;
    ElementType elementType = ElementType::Undefined;
    std::vector<int64_t> shape;
};

// Every failure of the runtime, carrying ONNX Runtime's own message.
class CORVANTA_API ModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Loads and runs one ONNX model. Not copyable. Calls on one instance must not
// overlap; distinct instances may run concurrently.
//
// All instances of a process share one ONNX Runtime environment and one
// compute thread pool sized to the physical cores, whose idle threads sleep
// instead of spinning: many models in one process neither oversubscribe the
// cores nor burn CPU between predictions. Every failure raises ModelError.
class CORVANTA_API ModelInstance {
public:
    explicit ModelInstance(const ExecutionProvider& provider);
    ~ModelInstance();
    ModelInstance(const ModelInstance&) = delete;
    ModelInstance& operator=(const ModelInstance&) = delete;

    // The runtime reads the image in place; it must stay valid during the call.
    void loadModelFromData(const char* data, unsigned int size) const;
    void loadModelFromPath(const std::string& path) const;
    bool isModelLoaded() const;

    // Fixes the shape used for an input (symbolic dimensions made concrete).
    void setDims(const std::string& input, std::vector<int64_t> dims);

    std::vector<TensorInfo> getModelInputInfo() const;
    std::vector<TensorInfo> getModelOutputInfo() const;

    // Binds the caller's vector as the named input without copying it; the
    // vector must stay alive and unresized until runPrediction returns.
    template <class T>
    void setInputByRef(const std::string& input, std::vector<T>& values);

    void runPrediction() const;

    // Values of the named output of the last prediction (empty if none).
    template <class T>
    std::vector<T> getOutputValues(const std::string& output) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

extern template CORVANTA_API void ModelInstance::setInputByRef<float>(const std::string&, std::vector<float>&);
extern template CORVANTA_API std::vector<float> ModelInstance::getOutputValues<float>(const std::string&) const;

}  // namespace corvanta::extensions::onnx
