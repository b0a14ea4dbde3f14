// The module object count: live COM objects of this module plus outstanding
// server locks. COM may unload the module only while it is 0.
#pragma once

#include "platform/kernel.h"

// Changed only with InterlockedIncrement / InterlockedDecrement.
extern LONG g_moduleCount;
