// What Windows will do at the next normal boot of a described machine: the
// one judge of preview (on the machine the run would leave), verify, and the
// reader of hives.
#pragma once

#include "check.h"

namespace Check {

// The findings about the next boot: each present device whose driver stack
// cannot load and each class filter that cannot (UNSAFE), each service
// Windows starts whose dependency cannot (UNSAFE), what the verdict rests on
// but could not be read (NOT_ALLOWED), devices not present that would not
// start (notes), and one note on the Last Known Good set.
std::vector<Finding> JudgeBoot(const Description::Machine& machine);

// Why Windows cannot load the service `name` of the machine's next boot, or
// "" when it can ("no such service", "disabled", ...).
std::string WhyNotLoadable(const Description::Machine& machine, const std::string& name);

} // namespace Check
