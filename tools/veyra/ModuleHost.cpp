#include "ModuleHost.h"

#include <dlfcn.h>

#include <filesystem>

namespace veyra::cli {

namespace {

constexpr const char* kExtensionName = "Veyra";
constexpr const char* kNodeTypeName = "Turn";

}  // namespace

ModuleHost::ModuleHost(const std::string& modulePath) {
    if (!std::filesystem::exists(modulePath)) throw HostError("module not found: " + modulePath);
    // The handle is never closed: the registry keeps objects whose code lives
    // in the module, and the module unregisters nothing when unloaded.
    if (dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr) {
        const char* reason = dlerror();
        throw HostError("cannot load module " + modulePath + ": " + (reason ? reason : "unknown error"));
    }
    veyraExtension = corvanta::ExtensionManager::getInstance().findExtension(kExtensionName);
    if (!veyraExtension) throw HostError("module " + modulePath + " registered no extension named Veyra");
}

std::unique_ptr<corvanta::Node> ModuleHost::createNode(const corvanta::CVAnyMap& config) {
    std::shared_ptr<corvanta::NodeFactory> factory = veyraExtension->getNodeFactory();
    return std::unique_ptr<corvanta::Node>(factory->createNode(kNodeTypeName, config));
}

std::string ModuleHost::defaultModulePath() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "libCorvantaVeyra.so";
    return (executable.parent_path().parent_path() / "lib" / "libCorvantaVeyra.so").string();
}

}  // namespace veyra::cli
