#pragma once

#include <string>

#include "corvanta/Extension.h"

namespace corvanta::extensions::veyra {

// Describes and creates the one node type of the extension, the turn
// detector. Nodes it creates do not depend on the factory staying alive.
class VeyraNodeFactory : public NodeFactory {
public:
    VeyraNodeFactory();
    ~VeyraNodeFactory() override;

    std::string getName() override;
};

}  // namespace corvanta::extensions::veyra
