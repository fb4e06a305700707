// The board hardware abstraction over the DSP driver and the line driver.
#pragma once

#include "dsphalDrv.h"

// Number of DSP driver channels (one per line); valid at any time, from any thread.
int boardHalGetNumEndpoints(void);
// Number of channels of the given driver type.
int boardHalGetNumTypeEndpoints(dh_type type);
