#pragma once

#include <memory>
#include <string>

#include "VeyraExport.h"
#include "corvanta/Extension.h"

namespace corvanta::extensions::veyra {

// The extension the module registers with the host when it is loaded. It
// keeps no state; the host reaches it through its Extension pointer.
class VEYRA_API VeyraExtension : public Extension {
public:
    VeyraExtension();
    ~VeyraExtension() override;

    std::string getName() override;
    std::string getDescription() override;
    // A fresh factory on every call; the caller is its only owner.
    std::shared_ptr<NodeFactory> getNodeFactory() override;

    // Registers a new extension object with the host's registry. Unguarded:
    // a second call registers a second object.
    static void load();
};

}  // namespace corvanta::extensions::veyra

// Does nothing; a host may reference it to keep the module linked in.
extern "C" VEYRA_API void cv_extension_anchor_CorvantaVeyra();
