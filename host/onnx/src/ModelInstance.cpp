#include "corvanta/onnx/ModelInstance.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>

#include <onnxruntime_cxx_api.h>

#include "RuntimeEnvironment.h"

namespace corvanta::extensions::onnx {
namespace {

// Runtime failures keep ONNX Runtime's own message behind our context.
[[noreturn]] void rethrow(const std::string& context, const Ort::Exception& e) {
    throw ModelError(context + ": " + e.what());
}

template <class>
inline constexpr bool kAlwaysFalse = false;

std::string providerName(const ExecutionProvider& provider) {
    return std::visit(
        [](const auto& choice) -> std::string {
            using Choice = std::decay_t<decltype(choice)>;
            if constexpr (std::is_same_v<Choice, CpuProvider>) return "CPU";
            else if constexpr (std::is_same_v<Choice, CudaProvider>) return "CUDA";
            else if constexpr (std::is_same_v<Choice, OpenVinoProvider>) return "OpenVINO";
            else if constexpr (std::is_same_v<Choice, DirectMLProvider>) return "DirectML";
            else if constexpr (std::is_same_v<Choice, CoreMLProvider>) return "CoreML";
            else static_assert(kAlwaysFalse<Choice>, "name every provider");
        },
        provider);
}

ElementType elementTypeOf(ONNXTensorElementDataType type) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED: return ElementType::Undefined;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: return ElementType::Float;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: return ElementType::Double;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8: return ElementType::Int8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8: return ElementType::UInt8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16: return ElementType::Int16;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16: return ElementType::UInt16;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32: return ElementType::Int32;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT32: return ElementType::UInt32;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64: return ElementType::Int64;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64: return ElementType::UInt64;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL: return ElementType::Bool;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_STRING: return ElementType::String;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16: return ElementType::Float16;
        default: return ElementType::Other;
    }
}

// Non-tensor values (sequences, maps) are reported as Other with no shape.
TensorInfo describe(std::string name, const Ort::TypeInfo& type) {
    TensorInfo info{std::move(name), ElementType::Other, {}};
    if (type.GetONNXType() == ONNX_TYPE_TENSOR) {
        auto tensor = type.GetTensorTypeAndShapeInfo();
        info.elementType = elementTypeOf(tensor.GetElementType());
        info.shape = tensor.GetShape();
    }
    return info;
}

std::string formatDims(const std::vector<int64_t>& dims) {
    std::string text = "[";
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(dims[i]);
    }
    return text + "]";
}

std::string listNames(const std::vector<TensorInfo>& tensors) {
    std::string text;
    for (const auto& tensor : tensors) text += (text.empty() ? "\"" : ", \"") + tensor.name + "\"";
    return text.empty() ? "none" : text;
}

std::size_t indexOf(const std::vector<TensorInfo>& tensors, const std::string& name, const char* kind) {
    auto found = std::find_if(tensors.begin(), tensors.end(), [&](const TensorInfo& t) { return t.name == name; });
    if (found == tensors.end()) {
        throw ModelError(std::string("The model has no ") + kind + " named \"" + name + "\" (its " + kind +
                         "s: " + listNames(tensors) + ")");
    }
    return static_cast<std::size_t>(found - tensors.begin());
}

// The dimensions given for an input must fit the ones the model declares.
void checkDimsFit(const TensorInfo& input, const std::vector<int64_t>& dims) {
    auto refuse = [&](const std::string& why) {
        throw ModelError("Dimensions " + formatDims(dims) + " do not fit input \"" + input.name + "\" " +
                         formatDims(input.shape) + ": " + why);
    };
    if (dims.size() != input.shape.size()) refuse("the rank differs");
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (dims[i] < 0) refuse("a dimension is negative");
        if (input.shape[i] >= 0 && input.shape[i] != dims[i]) refuse("dimension " + std::to_string(i) + " is fixed");
    }
}

bool isStatic(const std::vector<int64_t>& shape) {
    return std::all_of(shape.begin(), shape.end(), [](int64_t d) { return d >= 0; });
}

std::size_t elementCount(const std::vector<int64_t>& dims) {
    std::size_t count = 1;
    for (int64_t d : dims) count *= static_cast<std::size_t>(d);
    return count;
}

}  // namespace

// A loaded model: the session, what it declares, and the bound inputs and
// outputs of the last run. Replaced whole by every successful load.
struct LoadedModel {
    Ort::Session session;
    std::vector<TensorInfo> inputs;
    std::vector<TensorInfo> outputs;
    std::vector<std::optional<std::vector<int64_t>>> inputDims;  // per input; unset while symbolic
    std::vector<Ort::Value> boundInputs;          // per input; null until bound
    std::vector<Ort::Value> lastOutputs;          // empty until a run succeeded

    explicit LoadedModel(Ort::Session loaded) : session(std::move(loaded)) {
        Ort::AllocatorWithDefaultOptions allocator;
        for (std::size_t i = 0; i < session.GetInputCount(); ++i) {
            inputs.push_back(describe(session.GetInputNameAllocated(i, allocator).get(), session.GetInputTypeInfo(i)));
        }
        for (std::size_t i = 0; i < session.GetOutputCount(); ++i) {
            outputs.push_back(describe(session.GetOutputNameAllocated(i, allocator).get(), session.GetOutputTypeInfo(i)));
        }
        for (const auto& input : inputs) {
            inputDims.push_back(isStatic(input.shape) ? std::optional(input.shape) : std::nullopt);
            boundInputs.emplace_back(nullptr);
        }
    }
};

struct ModelInstance::Impl {
    std::shared_ptr<Ort::Env> environment = sharedEnvironment();
    Ort::MemoryInfo cpuMemory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    std::unique_ptr<LoadedModel> model;

    LoadedModel& loaded(const char* operation) const {
        if (!model) throw ModelError(std::string("Cannot ") + operation + ": no model is loaded");
        return *model;
    }

    // A failed load leaves the previous model, if any, in place.
    template <class CreateSession>
    void load(const std::string& source, CreateSession create) {
        try {
            model = std::make_unique<LoadedModel>(create(*environment, sharedPoolSessionOptions()));
        } catch (const Ort::Exception& e) {
            rethrow("Cannot load model from " + source, e);
        }
    }
};

ModelInstance::ModelInstance(const ExecutionProvider& provider) {
    if (!std::holds_alternative<CpuProvider>(provider)) {
        throw ModelError("The " + providerName(provider) +
                         " execution provider is not supported by this runtime; use the CPU provider");
    }
    try {
        impl = std::make_unique<Impl>();
    } catch (const Ort::Exception& e) {
        rethrow("Cannot create a model instance", e);
    }
}

ModelInstance::~ModelInstance() = default;

void ModelInstance::loadModelFromData(const char* data, unsigned int size) const {
    if (data == nullptr || size == 0) throw ModelError("Cannot load model from memory: the model image is empty");
    impl->load("memory", [&](const Ort::Env& env, const Ort::SessionOptions& options) {
        return Ort::Session(env, data, size, options);
    });
}

void ModelInstance::loadModelFromPath(const std::string& path) const {
    impl->load("\"" + path + "\"", [&](const Ort::Env& env, const Ort::SessionOptions& options) {
        return Ort::Session(env, path.c_str(), options);
    });
}

bool ModelInstance::isModelLoaded() const { return impl->model != nullptr; }

void ModelInstance::setDims(const std::string& input, std::vector<int64_t> dims) {
    LoadedModel& model = impl->loaded("set input dimensions");
    std::size_t index = indexOf(model.inputs, input, "input");
    checkDimsFit(model.inputs[index], dims);
    model.inputDims[index] = std::move(dims);
    model.boundInputs[index] = Ort::Value(nullptr);  // a binding made for other dims is stale
}

std::vector<TensorInfo> ModelInstance::getModelInputInfo() const { return impl->loaded("describe inputs").inputs; }

std::vector<TensorInfo> ModelInstance::getModelOutputInfo() const { return impl->loaded("describe outputs").outputs; }

template <class T>
void ModelInstance::setInputByRef(const std::string& input, std::vector<T>& values) {
    LoadedModel& model = impl->loaded("bind an input");
    std::size_t index = indexOf(model.inputs, input, "input");
    const TensorInfo& info = model.inputs[index];
    if (info.elementType != elementTypeOf(Ort::TypeToTensorType<T>::type)) {
        throw ModelError("Input \"" + input + "\" has a different element type than the values bound to it");
    }
    if (!model.inputDims[index]) {
        throw ModelError("Input \"" + input + "\" has symbolic dimensions " + formatDims(info.shape) +
                         "; call setDims before binding it");
    }
    const std::vector<int64_t>& dims = *model.inputDims[index];
    if (values.size() != elementCount(dims)) {
        throw ModelError("Input \"" + input + "\" got " + std::to_string(values.size()) + " values but its dimensions " +
                         formatDims(dims) + " need " + std::to_string(elementCount(dims)));
    }
    try {
        model.boundInputs[index] =
            Ort::Value::CreateTensor<T>(impl->cpuMemory, values.data(), values.size(), dims.data(), dims.size());
    } catch (const Ort::Exception& e) {
        rethrow("Cannot bind input \"" + input + "\"", e);
    }
}

void ModelInstance::runPrediction() const {
    LoadedModel& model = impl->loaded("run a prediction");
    model.lastOutputs.clear();  // a failed run must not leave the previous answer readable
    std::vector<const char*> inputNames;
    for (std::size_t i = 0; i < model.inputs.size(); ++i) {
        if (!model.boundInputs[i]) throw ModelError("Cannot run a prediction: input \"" + model.inputs[i].name + "\" is not bound");
        inputNames.push_back(model.inputs[i].name.c_str());
    }
    std::vector<const char*> outputNames;
    for (const auto& output : model.outputs) outputNames.push_back(output.name.c_str());
    try {
        model.lastOutputs = model.session.Run(Ort::RunOptions{nullptr}, inputNames.data(), model.boundInputs.data(),
                                              inputNames.size(), outputNames.data(), outputNames.size());
    } catch (const Ort::Exception& e) {
        rethrow("Prediction failed", e);
    }
}

template <class T>
std::vector<T> ModelInstance::getOutputValues(const std::string& output) const {
    LoadedModel& model = impl->loaded("read an output");
    std::size_t index = indexOf(model.outputs, output, "output");
    if (model.lastOutputs.empty()) return {};
    const Ort::Value& value = model.lastOutputs[index];
    if (!value.IsTensor()) throw ModelError("Output \"" + output + "\" is not a tensor");
    auto tensor = value.GetTensorTypeAndShapeInfo();
    if (tensor.GetElementType() != Ort::TypeToTensorType<T>::type) {
        throw ModelError("Output \"" + output + "\" has a different element type than the one requested");
    }
    const T* first = value.GetTensorData<T>();
    return std::vector<T>(first, first + tensor.GetElementCount());
}

template CORVANTA_API void ModelInstance::setInputByRef<float>(const std::string&, std::vector<float>&);
template CORVANTA_API std::vector<float> ModelInstance::getOutputValues<float>(const std::string&) const;

}  // namespace corvanta::extensions::onnx
