// Start and stop of the whole OS abstraction layer.
#pragma once

#include "vosTypes.h"

// Starts every module in its fixed order; stops at the first failure and returns it (modules
// started before it stay started).
VOS_STATUS vosInit(void);

// Stops the modules in the reverse order; stops at the first failure and returns it.
VOS_STATUS vosTerm(void);

VOS_BOOL vosIsInit(void);
