// Resting channels. A channel with nothing to do (no switchboard connection, nothing queued for it,
// every service idle) does not run its services: its thread runs are only counted. Before its
// next real run each service applies the counted runs in one step, leaving its memory as the
// skipped runs would have left it, so a call that starts after a rest sends the same bits.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"
#include "qrn/qrn.h"

// The runs a resting channel skipped, per direction, with the frame size of each (a channel whose
// frame size or mode changes wakes first) and the direction of the last one.
struct VHD_Skipped {
  uint32_t ingress;
  uint32_t egress;
  uint16_t ingressPeriod;  // samples per ingress run
  uint16_t egressPeriod;
  HAPI_DIRECTION last;
};

constexpr uint32_t VHD_REST_UNBOUNDED = 0xFFFFFFFF;

// How many of the next runs of `direction` would change nothing in the service but what its
// catch-up applies, and send nothing: 0 when the next must run, VHD_REST_UNBOUNDED when all would.
// Asked once when a direction starts to rest, from the memory the rest leaves untouched.
using VHD_RestRunsFnc = uint32_t (*)(HSFSRVOBJ service, HAPI_DIRECTION direction);
// Applies the skipped runs; none for a service whose idle runs change nothing.
using VHD_CatchUpFnc = void (*)(HSFSRVOBJ service, const VHD_Skipped& skipped);

// A hook belongs to one service implementation: its record, not its id, which another
// implementation may share.
struct VHD_RestHook {
  const HSFSRVARC* archive;
  VHD_RestRunsFnc restRuns;
  VHD_CatchUpFnc catchUp;
};

// A channel rests only when every service of its stack has a hook here.
extern const VHD_RestHook* VHD_gRestHooks;
extern uint16_t VHD_gNumRestHooks;

// A service without a hook found in a channel's stack, at its position, with the hooks it was
// looked up in: while the position holds that service, the stack cannot rest, and a busy channel
// learns it every run without searching the hooks again.
struct VHD_RestlessMark {
  const VHD_RestHook* hooks;
  uint16_t numHooks;
  uint16_t index;
  const HSFSRVARC* archive;
};

// A stack found to have a hook for every service, with the hooks it was looked up in: while the
// channel runs that stack, a channel in a call learns it every run without searching the hooks.
struct VHD_RestfulMark {
  const VHD_RestHook* hooks;
  uint16_t numHooks;
  const QRN_StackArchive* stack;
};
