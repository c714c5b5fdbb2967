// What the layer's source files share: the machine they work on and the layer's own functions
// that a module's exports name. Not reached from winapi.h.
#pragma once

#include <string>

#include "machine.h"
#include "types.h"

namespace host {

// The layer's function that an export of this name stands for; null when the layer has none.
FARPROC LayerFunction(const std::string& name);

}  // namespace host
