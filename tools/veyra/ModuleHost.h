#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "corvanta/CVAny.h"
#include "corvanta/Extension.h"
#include "corvanta/Node.h"

namespace veyra::cli {

// Any failure to load the module or to reach its extension.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Does what a host application does with the module: loads it, finds the
// extension it registered and creates nodes through a factory.
class ModuleHost {
public:
    // Loads the module at modulePath. Throws HostError when it cannot be
    // loaded or registers no "Veyra" extension.
    explicit ModuleHost(const std::string& modulePath);

    corvanta::Extension& extension() { return *veyraExtension; }

    // A node of the extension's one type, made by a fresh factory. Whatever
    // the node's construction throws (a missing model file) passes through.
    std::unique_ptr<corvanta::Node> createNode(const corvanta::CVAnyMap& config);

    // lib/libCorvantaVeyra.so beside the bin/ directory of this executable.
    static std::string defaultModulePath();

private:
    std::shared_ptr<corvanta::Extension> veyraExtension;
};

}  // namespace veyra::cli
