// A described machine made into the simulated Windows, and what only the
// simulator can tell of it afterwards. The one way a description becomes a
// machine here: the companion program's preview, the tests' installed
// product and the side-by-side runs all load through it.
#pragma once

#include "../description/description.h"

namespace Sim {

// Makes the current machine `machine`: a fresh Windows whose described
// places are cleared of its own contents (an absent key or value is part of
// what is described) and filled with the description's. The journal is on
// and empty after.
void Load(const Description::Machine& machine);

// Fills in what is observed rather than read: each service's program, each
// library's behaviour, the libraries whose DllUnregisterServer ran and the
// controls each service received.
void Observe(Description::Machine* machine);

} // namespace Sim
