#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "corvanta/CVAny.h"
#include "corvanta/Export.h"
#include "corvanta/Node.h"
#include "corvanta/Object.h"
#include "corvanta/Result.h"

namespace corvanta {

// Describes one node type a factory can create. createNode matches the
// requested name against typeName, or against "extensionName.typeName".
struct NodeTypeInfo {
    std::string extensionName;
    std::string typeName;
    std::string displayName;
    std::string description;
    std::vector<std::string> categories;  // from the host's fixed vocabulary
    CVAnyMap inputs;
    CVAnyMap outputs;
    CVAnyMap properties;
    CVAnyMap metadata;

    bool operator==(const NodeTypeInfo&) const = default;
};

class CORVANTA_API NodeFactory {
public:
    using Creator = std::function<Node*(const CVAnyMap& config)>;

    NodeFactory();
    NodeFactory(const NodeFactory&) = delete;
    NodeFactory& operator=(const NodeFactory&) = delete;
    virtual ~NodeFactory();

    virtual std::string getName() = 0;
    virtual std::vector<NodeTypeInfo> getNodeTypes();
    // The caller owns the node. Throws std::invalid_argument naming an
    // unknown type, std::runtime_error when the creator answers null;
    // whatever the creator throws passes through.
    virtual Node* createNode(const std::string& typeName, const CVAnyMap& config);

protected:
    // Throws std::invalid_argument for an empty creator.
    void registerNode(const NodeTypeInfo& info, Creator creator);

private:
    struct Entry {
        NodeTypeInfo info;
        Creator creator;
    };
    std::vector<Entry> entries;
};

class CORVANTA_API Extension : public CorvantaObject {
public:
    ~Extension() override;
    virtual Result<void> initialize(const CVAnyMap& config);
    virtual Result<void> deinitialize();
    virtual std::string getName() = 0;
    virtual std::string getDescription() = 0;
    virtual std::shared_ptr<NodeFactory> getNodeFactory() = 0;

protected:
    Extension();
};

// The process-wide registry of loaded extensions. Thread-safe.
class CORVANTA_API ExtensionManager {
public:
    static ExtensionManager& getInstance();

    // Shares ownership. Throws std::invalid_argument for a null extension.
    void registerExtension(std::shared_ptr<Extension> extension);
    std::vector<std::shared_ptr<Extension>> getExtensions() const;
    // The first registered extension with that name, or null.
    std::shared_ptr<Extension> findExtension(const std::string& name) const;
    // Drops every registration (the host's shutdown; tests). A host that
    // unloads a module must clear first: the extensions' code lives there.
    void clear();

private:
    ExtensionManager() = default;
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Extension>> extensions;
};

}  // namespace corvanta
