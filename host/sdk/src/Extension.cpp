#include "corvanta/Extension.h"

#include <stdexcept>
#include <utility>

namespace corvanta {

NodeFactory::NodeFactory() = default;
NodeFactory::~NodeFactory() = default;

std::vector<NodeTypeInfo> NodeFactory::getNodeTypes() {
    std::vector<NodeTypeInfo> types;
    types.reserve(entries.size());
    for (const auto& entry : entries) types.push_back(entry.info);
    return types;
}

Node* NodeFactory::createNode(const std::string& typeName, const CVAnyMap& config) {
    for (const auto& entry : entries) {
        const auto& info = entry.info;
        if (typeName == info.typeName || typeName == info.extensionName + "." + info.typeName) {
            Node* node = entry.creator(config);
            // Answering null would pass a failure off as a created node.
            if (node == nullptr) throw std::runtime_error("Node creator returned no node for type: " + typeName);
            return node;
        }
    }
    throw std::invalid_argument("Unknown node type: " + typeName);
}

void NodeFactory::registerNode(const NodeTypeInfo& info, Creator creator) {
    if (!creator) throw std::invalid_argument("Node type registered without a creator: " + info.typeName);
    entries.push_back({info, std::move(creator)});
}

Extension::Extension() = default;
Extension::~Extension() = default;

Result<void> Extension::initialize(const CVAnyMap& /*config*/) {
    return Result<void>::success();
}

Result<void> Extension::deinitialize() {
    return Result<void>::success();
}

ExtensionManager& ExtensionManager::getInstance() {
    // Defined here, inside the SDK library, so every module shares one registry.
    static ExtensionManager instance;
    return instance;
}

void ExtensionManager::registerExtension(std::shared_ptr<Extension> extension) {
    if (!extension) throw std::invalid_argument("registerExtension: no extension given");
    std::lock_guard lock(mutex);
    extensions.push_back(std::move(extension));
}

std::vector<std::shared_ptr<Extension>> ExtensionManager::getExtensions() const {
    std::lock_guard lock(mutex);
    return extensions;
}

std::shared_ptr<Extension> ExtensionManager::findExtension(const std::string& name) const {
    // getName runs outside the lock: an extension may call back into the registry.
    for (const auto& extension : getExtensions()) {
        if (extension->getName() == name) return extension;
    }
    return nullptr;
}

void ExtensionManager::clear() {
    std::vector<std::shared_ptr<Extension>> released;
    {
        std::lock_guard lock(mutex);
        released.swap(extensions);
    }
    // Destructors run after the lock is dropped, for the same reason.
}

}  // namespace corvanta
