#include "VeyraExtension.h"

#include <memory>

#include "VeyraNodeFactory.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace corvanta::extensions::veyra {

VeyraExtension::VeyraExtension() = default;

VeyraExtension::~VeyraExtension() = default;

std::string VeyraExtension::getName() { return "Veyra"; }

std::string VeyraExtension::getDescription() {
    return "Veyra detection for identifying speaker turn changes in audio.";
}

std::shared_ptr<NodeFactory> VeyraExtension::getNodeFactory() { return std::make_shared<VeyraNodeFactory>(); }

void VeyraExtension::load() {
    ExtensionManager& registry = ExtensionManager::getInstance();
    std::shared_ptr<Extension> extension = std::make_shared<VeyraExtension>();
    registry.registerExtension(std::move(extension));
}

namespace {

// Registers the extension while the host loads the module. Whatever load()
// throws is left to the loading process.
[[maybe_unused]] const bool kRegistered = (VeyraExtension::load(), true);

}  // namespace

}  // namespace corvanta::extensions::veyra

extern "C" void cv_extension_anchor_CorvantaVeyra() {}

#if defined(_WIN32)
// Thread notifications are of no use to the module; turning them off spares
// the loader a call per thread.
BOOL APIENTRY DllMain(HMODULE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
