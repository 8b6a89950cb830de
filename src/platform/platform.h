// The boundary through which every Windows call of the product passes. The
// realization is chosen at build time: Windows itself, or one that provides
// the same functions under the same names (the simulated Windows).
#pragma once

#if defined(VK_PLATFORM_WIN32)
#include "win32.h"
#else
#include "api.h"
#endif
