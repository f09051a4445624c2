#include "VeyraNodeFactory.h"

#include <functional>

#include "VeyraNode.h"

namespace corvanta::extensions::veyra {

VeyraNodeFactory::VeyraNodeFactory() {
    // If the node's construction throws (a missing model file), new-expression
    // semantics free the memory and the exception reaches createNode's caller.
    Creator creator = [](const CVAnyMap& config) -> Node* { return new VeyraNode(config); };
    const NodeTypeInfo descriptor{
        "Veyra",
        "Turn",
        "Veyra",
        "Detects end-of-turn in conversational audio using the Veyra ONNX model.",
        {"Voice", "AI"},
        CVAnyMap{},
        CVAnyMap{},
        CVAnyMap{},
        CVAnyMap{},
    };
    registerNode(descriptor, std::move(creator));
}

VeyraNodeFactory::~VeyraNodeFactory() = default;

std::string VeyraNodeFactory::getName() { return "Veyra"; }

}  // namespace corvanta::extensions::veyra
