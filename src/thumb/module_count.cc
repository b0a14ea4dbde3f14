#include "thumb/module_count.h"

LONG g_moduleCount = 0;
