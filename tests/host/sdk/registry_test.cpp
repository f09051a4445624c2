#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "corvanta/Extension.h"

using namespace corvanta;

namespace {

class ConfiguredNode : public Node {
public:
    explicit ConfiguredNode(CVAnyMap config) : config(std::move(config)) {}
    CVAnyMap config;
};

class TestFactory : public NodeFactory {
public:
    TestFactory() {
        registerNode({"Veyra", "Turn", "Veyra", "Detects turns", {"Voice", "AI"}, {}, {}, {}, {}},
                     [](const CVAnyMap& config) -> Node* { return new ConfiguredNode(config); });
    }
    std::string getName() override { return "Veyra"; }
    using NodeFactory::registerNode;
};

class TestExtension : public Extension {
public:
    explicit TestExtension(std::string name) : name(std::move(name)) {}
    std::string getName() override { return name; }
    std::string getDescription() override { return "test"; }
    std::shared_ptr<NodeFactory> getNodeFactory() override { return std::make_shared<TestFactory>(); }

private:
    std::string name;
};

}  // namespace

TEST(NodeFactoryTest, CreatesByTypeNameOrQualifiedName) {
    TestFactory factory;
    for (const char* name : {"Turn", "Veyra.Turn"}) {
        std::unique_ptr<Node> node(factory.createNode(name, {{"threshold", 0.7f}}));
        auto* configured = dynamic_cast<ConfiguredNode*>(node.get());
        ASSERT_NE(configured, nullptr) << name;
        EXPECT_EQ(configured->config.at("threshold"), CVAny(0.7f));
    }
}

TEST(NodeFactoryTest, UnknownTypeThrowsNamingIt) {
    TestFactory factory;
    for (const char* name : {"turn", "Veyra", "Other.Turn", "Turn "}) {
        try {
            delete factory.createNode(name, {});
            FAIL() << "created " << name;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), std::string("Unknown node type: ") + name);
        }
    }
}

TEST(NodeFactoryTest, DescribesRegisteredTypesAndRefusesBadCreators) {
    TestFactory factory;
    const auto types = factory.getNodeTypes();
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0].typeName, "Turn");
    EXPECT_EQ(types[0].categories, (std::vector<std::string>{"Voice", "AI"}));

    EXPECT_THROW(factory.registerNode({"X", "Empty", "", "", {}, {}, {}, {}, {}}, nullptr), std::invalid_argument);
    factory.registerNode({"X", "Null", "", "", {}, {}, {}, {}, {}}, [](const CVAnyMap&) -> Node* { return nullptr; });
    EXPECT_THROW(factory.createNode("Null", {}), std::runtime_error);
}

TEST(ExtensionTest, InitializeAndDeinitializeSucceed) {
    TestExtension extension("Veyra");
    EXPECT_TRUE(extension.initialize({}).isSuccess());
    EXPECT_TRUE(extension.deinitialize().isSuccess());
}

TEST(ExtensionManagerTest, HoldsRegisteredExtensionsInOrder) {
    auto& manager = ExtensionManager::getInstance();
    manager.clear();
    EXPECT_EQ(&manager, &ExtensionManager::getInstance());

    auto first = std::make_shared<TestExtension>("Veyra");
    std::weak_ptr<Extension> watch = first;
    manager.registerExtension(first);
    manager.registerExtension(std::make_shared<TestExtension>("Veyra"));
    manager.registerExtension(std::make_shared<TestExtension>("Other"));
    first.reset();

    EXPECT_FALSE(watch.expired());  // the registry shares ownership
    ASSERT_EQ(manager.getExtensions().size(), 3u);
    EXPECT_EQ(manager.findExtension("Veyra"), watch.lock());
    EXPECT_EQ(manager.findExtension("Other")->getName(), "Other");
    EXPECT_EQ(manager.findExtension("Missing"), nullptr);
    EXPECT_THROW(manager.registerExtension(nullptr), std::invalid_argument);

    manager.clear();
    EXPECT_TRUE(watch.expired());
}
