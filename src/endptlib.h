// What the daemon uses of the endpoint library beyond its public API (vrgEndpt.h): the library's
// endpoint record, read without a lock (its hook fields and connection count are relaxed
// atomics), the line-signalling and host-DSP calls, and the start-up and shutdown calls of the
// library, the country profiles and the OS layer.
#pragma once

#include <cstdint>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "telProfile.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptState.h"

// The fields of the library's endpoint record that the daemon reads.
using VRG_ENDPT_VIEW = VRG_ENDPT;

// Single-register write of the line echo canceller: register 0 ("options"), NLP off.
constexpr uint16_t HAPI_HEC_SETREG1_CMD = 0x44B4;
constexpr uint16_t HAPI_HEC_NLP_OFF = 1;
constexpr uint16_t HSZCMD_REQID_IMMEDIATE = 0xFF00;
