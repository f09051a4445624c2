// Loads libCorvantaVeyra.so the way a host does and checks what the module
// registers, what its factories describe and create, and what it exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvanta/Extension.h"
#include "corvanta/Logger.h"

namespace {

using corvanta::CVAny;
using corvanta::CVAnyMap;
using corvanta::Extension;
using corvanta::ExtensionManager;
using corvanta::Node;
using corvanta::NodeFactory;
using corvanta::NodeTypeInfo;

constexpr const char* kModulePath = VEYRA_MODULE_PATH;
constexpr const char* kLoadSymbol = "_ZN8corvanta10extensions5veyra14VeyraExtension4loadEv";
constexpr const char* kAnchorSymbol = "cv_extension_anchor_CorvantaVeyra";

struct LoadedModule {
    void* handle = nullptr;
    std::size_t extensionsBefore = 0;
    std::size_t extensionsAfter = 0;
};

// Loaded once per process and never unloaded: the registry keeps objects
// whose code lives in the module.
const LoadedModule& loadedModule() {
    static const LoadedModule module = [] {
        corvanta::Logger::setMinimumLevel(corvanta::LogLevel::Error);
        LoadedModule loaded;
        loaded.extensionsBefore = ExtensionManager::getInstance().getExtensions().size();
        loaded.handle = dlopen(kModulePath, RTLD_NOW | RTLD_LOCAL);
        loaded.extensionsAfter = ExtensionManager::getInstance().getExtensions().size();
        return loaded;
    }();
    return module;
}

std::shared_ptr<Extension> veyraExtension() {
    EXPECT_NE(loadedModule().handle, nullptr) << dlerror();
    return ExtensionManager::getInstance().findExtension("Veyra");
}

TEST(ModuleLoading, RegistersExactlyOneExtensionByItself) {
    const LoadedModule& module = loadedModule();
    ASSERT_NE(module.handle, nullptr) << dlerror();
    EXPECT_EQ(module.extensionsBefore, 0u);
    EXPECT_EQ(module.extensionsAfter, 1u);

    const std::shared_ptr<Extension> extension = veyraExtension();
    ASSERT_NE(extension, nullptr);
    EXPECT_EQ(extension->getName(), "Veyra");
    EXPECT_EQ(extension->getDescription(), "Veyra detection for identifying speaker turn changes in audio.");
}

TEST(ModuleLoading, ExportedLoadRegistersAnotherExtensionAndAnchorDoesNothing) {
    ASSERT_NE(veyraExtension(), nullptr);
    auto load = reinterpret_cast<void (*)()>(dlsym(loadedModule().handle, kLoadSymbol));
    auto anchor = reinterpret_cast<void (*)()>(dlsym(loadedModule().handle, kAnchorSymbol));
    ASSERT_NE(load, nullptr);
    ASSERT_NE(anchor, nullptr);

    const auto before = ExtensionManager::getInstance().getExtensions();
    anchor();
    anchor();
    EXPECT_EQ(ExtensionManager::getInstance().getExtensions().size(), before.size());

    load();
    const auto after = ExtensionManager::getInstance().getExtensions();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_NE(after.back(), before.front());
    EXPECT_EQ(after.back()->getName(), "Veyra");
}

TEST(NodeFactory, EveryCallMakesADistinctFactoryDescribingTheOneNodeType) {
    const std::shared_ptr<Extension> extension = veyraExtension();
    ASSERT_NE(extension, nullptr);
    std::shared_ptr<NodeFactory> first = extension->getNodeFactory();
    std::shared_ptr<NodeFactory> second = extension->getNodeFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1) << "the extension must not keep its factories";
    EXPECT_EQ(first->getName(), "Veyra");

    const NodeTypeInfo expected{
        "Veyra", "Turn", "Veyra", "Detects end-of-turn in conversational audio using the Veyra ONNX model.",
        {"Voice", "AI"}, {}, {}, {}, {}};
    ASSERT_EQ(first->getNodeTypes().size(), 1u);
    EXPECT_EQ(first->getNodeTypes().front(), expected);
    EXPECT_EQ(first->getNodeTypes(), second->getNodeTypes());

    first.reset();
    EXPECT_EQ(second->getNodeTypes().front(), expected);
}

TEST(NodeFactory, NodesAreIndependentAndOutliveTheirFactory) {
    std::shared_ptr<NodeFactory> factory = veyraExtension()->getNodeFactory();
    std::unique_ptr<Node> first(factory->createNode("Turn", {}));
    std::unique_ptr<Node> second(factory->createNode("Turn", CVAnyMap{{"threshold", CVAny(0.25f)}}));
    factory.reset();

    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_FLOAT_EQ(CVAny::convert<float>(first->getValue("threshold").value()), 0.5f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(second->getValue("threshold").value()), 0.25f);

    const auto answer = first->callAction("infer", {});
    ASSERT_TRUE(answer.isSuccess());
    const auto result = CVAny::convert<CVAnyMap>(answer.value());
    EXPECT_TRUE(result.contains("probability"));
    EXPECT_TRUE(result.contains("isTurnComplete"));
}

TEST(NodeFactory, MissingModelFileReachesTheCallerOfCreateNode) {
    const std::string path = "/nonexistent/veyra-model.onnx";
    const std::shared_ptr<NodeFactory> factory = veyraExtension()->getNodeFactory();
    Node* node = nullptr;
    try {
        node = factory->createNode("Turn", CVAnyMap{{"modelPath", CVAny(path)}});
        ADD_FAILURE() << "createNode returned instead of throwing";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "[VeyraNode] Model file not found: " + path);
    }
    EXPECT_EQ(node, nullptr);
    delete node;
}

// The module's dynamic symbols, demangled and without ABI tags.
std::vector<std::string> exportedSymbols() {
    const std::string command = std::string("nm -D --defined-only -C '") + kModulePath + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> symbols;
    if (!pipe) return symbols;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        // "<address> <type> <name>"
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const auto firstBlank = text.find(' ');
        const auto secondBlank = text.find(' ', firstBlank + 1);
        if (secondBlank == std::string::npos) continue;
        std::string name = text.substr(secondBlank + 1);
        // Functions returning std::string carry an ABI tag that says nothing about visibility.
        for (auto tag = name.find("[abi:cxx11]"); tag != std::string::npos; tag = name.find("[abi:cxx11]")) {
            name.erase(tag, std::string("[abi:cxx11]").size());
        }
        symbols.push_back(name);
    }
    return symbols;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool isExtensionSymbol(const std::string& symbol) {
    const std::string extension = "corvanta::extensions::veyra::VeyraExtension";
    return startsWith(symbol, extension + "::") || symbol == "vtable for " + extension ||
           symbol == "typeinfo for " + extension || symbol == "typeinfo name for " + extension;
}

// Vague-linkage instantiations the C++ ABI emits for the exported class
// (its shared_ptr control block) and the linker's own markers.
bool isAbiNecessity(const std::string& symbol) {
    static const std::vector<std::string> linkerMarkers = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    for (const std::string& marker : linkerMarkers) {
        if (symbol == marker) return true;
    }
    return startsWith(symbol, "std::") || startsWith(symbol, "vtable for std::") ||
           startsWith(symbol, "typeinfo for std::") || startsWith(symbol, "typeinfo name for std::");
}

TEST(ModuleExports, OnlyTheExtensionClassAndTheAnchor) {
    const std::vector<std::string> symbols = exportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found no dynamic symbols in " << kModulePath;

    const std::vector<std::string> required = {
        "cv_extension_anchor_CorvantaVeyra",
        "corvanta::extensions::veyra::VeyraExtension::VeyraExtension()",
        "corvanta::extensions::veyra::VeyraExtension::~VeyraExtension()",
        "corvanta::extensions::veyra::VeyraExtension::getName()",
        "corvanta::extensions::veyra::VeyraExtension::getDescription()",
        "corvanta::extensions::veyra::VeyraExtension::getNodeFactory()",
        "corvanta::extensions::veyra::VeyraExtension::load()",
        "vtable for corvanta::extensions::veyra::VeyraExtension",
    };
    for (const std::string& name : required) {
        EXPECT_NE(std::find(symbols.begin(), symbols.end(), name), symbols.end()) << "not exported: " << name;
    }
    for (const std::string& symbol : symbols) {
        const bool allowed = symbol == kAnchorSymbol || isExtensionSymbol(symbol) || isAbiNecessity(symbol);
        EXPECT_TRUE(allowed) << "unexpected export: " << symbol;
        for (const char* internal : {"VeyraNode", "MelFeatureExtractor", "kEmbeddedModel"}) {
            EXPECT_EQ(symbol.find(internal), std::string::npos) << "internal symbol exported: " << symbol;
        }
    }
}

}  // namespace
