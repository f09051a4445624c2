// `veyra info`: what the module offers, as a host sees it, and what the
// embedded model expects and answers.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "EmbeddedModel.h"
#include "ModuleHost.h"
#include "corvanta/Logger.h"
#include "corvanta/onnx/ModelInstance.h"

namespace veyra::cli {

namespace {

namespace onnx = corvanta::extensions::onnx;

constexpr const char* kUsage = "usage: veyra info [--module PATH]\n";

void printValue(const corvanta::CVAny& value, int indent);

void printMap(const corvanta::CVAnyMap& map, int indent) {
    for (const auto& [key, value] : map) {
        std::printf("%*s%s:", indent, "", key.c_str());
        printValue(value, indent + 2);
    }
}

// Scalars on the key's line, maps as an indented block below it.
void printValue(const corvanta::CVAny& value, int indent) {
    if (value.type() != corvanta::CVAny::Type::Map) {
        std::printf(" %s\n", value.toString().c_str());
        return;
    }
    const auto map = corvanta::CVAny::convert<corvanta::CVAnyMap>(value);
    std::printf("%s\n", map.empty() ? " {}" : "");
    printMap(map, indent);
}

void printDescriptorMap(const char* label, const corvanta::CVAnyMap& map) {
    std::printf("    %-16s%s\n", label, map.empty() ? "{}" : "");
    printMap(map, 6);
}

void printNodeType(const corvanta::NodeTypeInfo& type) {
    std::string categories;
    for (const std::string& category : type.categories) categories += (categories.empty() ? "" : ", ") + category;
    std::printf("  node type %s.%s\n", type.extensionName.c_str(), type.typeName.c_str());
    std::printf("    %-16s%s\n", "display name", type.displayName.c_str());
    std::printf("    %-16s%s\n", "description", type.description.c_str());
    std::printf("    %-16s%s\n", "categories", categories.c_str());
    printDescriptorMap("inputs", type.inputs);
    printDescriptorMap("outputs", type.outputs);
    printDescriptorMap("properties", type.properties);
    printDescriptorMap("metadata", type.metadata);
}

// Events and actions are registered by a node when it is made, so one node
// is built to show them.
void printNodeInterface(corvanta::Node& node) {
    for (const auto& [name, descriptor] : node.getEventDescriptors()) {
        std::printf("    event %s\n", name.c_str());
        printMap(descriptor, 6);
    }
    for (const auto& [name, descriptor] : node.getActionDescriptors()) {
        std::printf("    action %s\n", name.c_str());
        printMap(descriptor, 6);
    }
}

std::string shapeText(const std::vector<int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i ? ", " : "") + (shape[i] < 0 ? std::string("batch") : std::to_string(shape[i]));
    }
    return text + "]";
}

const char* elementTypeName(onnx::ElementType type) {
    switch (type) {
        case onnx::ElementType::Float: return "float";
        case onnx::ElementType::Double: return "double";
        case onnx::ElementType::Int8: return "int8";
        case onnx::ElementType::UInt8: return "uint8";
        case onnx::ElementType::Int32: return "int32";
        case onnx::ElementType::Int64: return "int64";
        case onnx::ElementType::Bool: return "bool";
        case onnx::ElementType::Float16: return "float16";
        default: return "other";
    }
}

void printEmbeddedModel() {
    namespace veyra = corvanta::extensions::veyra;
    std::printf("embedded model: %u bytes\n", static_cast<unsigned>(veyra::kEmbeddedModelSize));
    onnx::ModelInstance model(onnx::CpuProvider{});
    model.loadModelFromData(veyra::kEmbeddedModelData, veyra::kEmbeddedModelSize);
    for (const onnx::TensorInfo& input : model.getModelInputInfo()) {
        std::printf("  input  %-16s %-8s %s\n", input.name.c_str(), elementTypeName(input.elementType),
                    shapeText(input.shape).c_str());
    }
    for (const onnx::TensorInfo& output : model.getModelOutputInfo()) {
        std::printf("  output %-16s %-8s %s\n", output.name.c_str(), elementTypeName(output.elementType),
                    shapeText(output.shape).c_str());
    }
}

// Keeps the node's informational lines out of the listing; errors still show.
void showErrorsOnly(corvanta::LogLevel level, const std::string& line) {
    if (level == corvanta::LogLevel::Error) std::fprintf(stderr, "%s\n", line.c_str());
}

int info(const std::string& modulePath) {
    const corvanta::ScopedLogSink quiet(showErrorsOnly);
    ModuleHost host(modulePath);
    corvanta::Extension& extension = host.extension();
    std::printf("extension %s\n  %s\n", extension.getName().c_str(), extension.getDescription().c_str());
    const std::shared_ptr<corvanta::NodeFactory> factory = extension.getNodeFactory();
    for (const corvanta::NodeTypeInfo& type : factory->getNodeTypes()) printNodeType(type);
    const std::unique_ptr<corvanta::Node> node = host.createNode({});
    printNodeInterface(*node);
    printEmbeddedModel();
    return 0;
}

}  // namespace

int runInfo(std::span<char* const> args) {
    std::string modulePath = ModuleHost::defaultModulePath();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = args[i];
        if (arg == "--module") {
            if (i + 1 == args.size()) {
                std::fprintf(stderr, "veyra info: --module needs a path\n%s", kUsage);
                return 2;
            }
            modulePath = args[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "veyra info: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    try {
        return info(modulePath);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "veyra info: %s\n", error.what());
        return 1;
    }
}

}  // namespace veyra::cli
