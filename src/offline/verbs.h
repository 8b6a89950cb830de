// The offline verbs handed to the companion program's command line.
#pragma once

#include "../check/check.h"
#include "offline.h"

namespace Offline {

extern const Check::OfflineVerbs VERBS;

// The place the arguments name.
Place PlaceOf(const Check::OfflineArguments& arguments);

// The repair verb: what it took out, the backup, the verdict of the hive as
// repaired; its exit status (repair.cpp).
int RepairVerb(const Check::OfflineArguments& arguments);

} // namespace Offline
