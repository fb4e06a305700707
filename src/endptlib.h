// What the daemon uses of the endpoint library beyond its public API (vrgEndpt.h): the library's
// endpoint record, read without a lock (its hook fields and connection count are relaxed
// atomics), the line-signalling and host-DSP calls, and the start-up and shutdown calls of the
// library, the country profiles and the OS layer.
#pragma once

#include <cstdint>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "telProfile.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptState.h"

// Value of the line echo canceller's "options" register that switches its non-linear
// processing off (written with HAPI_HEC_SETREG1_CMD).
using hdsp::HAPI_HEC_SETREG1_CMD;
constexpr uint16_t HAPI_HEC_NLP_OFF = 1;
