// Line signalling control's own state and the pieces its files share: the ring-profile builder,
// the stagger slots, one "HCAS" period and the one- and two-step profiles.
#pragma once

#include <atomic>

#include "cas.h"
#include "vosTask.h"

inline constexpr uint16_t CAS_STAGGER_FREE = 0xFFFF;
inline constexpr int CAS_STAGGER_SLOTS = 3;
inline constexpr int CAS_STAGGER_POSITIONS = 4;

// One stagger slot: the rings that start together.
struct CASSTAGGERMEM {
  int ringOn[CAS_STAGGER_POSITIONS];         // ring started
  uint16_t ringslot[CAS_STAGGER_POSITIONS];  // CAS handle, or CAS_STAGGER_FREE
  CAS_CTL_RING_PROFILE pattern[CAS_STAGGER_POSITIONS];
  uint32_t patternBits[CAS_STAGGER_POSITIONS];
};

struct CASSTATE {
  std::atomic<bool> initialised;  // read without the mutex by casCtlIgnoreHookState
  uint16_t numChannels;
  CAS_CTL_CALLBACK callback;
  VOS_TASK_ID taskId;
  bool taskRunning;
  VOS_MUTEX mutex;  // "CASMutex"
  CASSRV service[CAS_CTL_MAX_CHANNELS];
  uint32_t staggerMsec;  // ms counted in the current slot
  uint16_t maxRingersPerSlot;
  CASSTAGGERMEM staggerState[CAS_STAGGER_SLOTS];
  uint32_t staggerInterval;  // ms
};

CASSTATE& casCtlState();
bool casCtlValidHandle(CAS_CTL_HANDLE handle);

// Fills `stm` with the profile of a ring request. False for an unknown ring type or a static
// pattern that does not exist (`stm` is then empty).
bool casCtlBuildRingProfile(const CAS_CTL_RING_PROFILE& ring, CASSTM* stm);
// The static pattern of a country, or null when there is none.
const CASSTM* casCtlStaticPattern(uint32_t country, uint32_t id);
// Builds the ring profile and sends it to the channel.
CAS_CTL_STATUS profileRingOn(CAS_CTL_HANDLE handle, const CAS_CTL_RING_PROFILE& ring);

// Sends a profile built by `fill` (steps zeroed beforehand) to the channel.
CAS_CTL_STATUS casCtlSendProfile(CAS_CTL_HANDLE handle, void (*fill)(CASSTM&, const void*),
                                 const void* context);
// One step {word with next index 61, 2 ms}.
CAS_CTL_STATUS casAction(CAS_CTL_HANDLE handle, uint32_t word);
// {word with next index 1, duration} then {same state and feed, timer expire, end, 0 ms}.
CAS_CTL_STATUS casActionGenEvent(CAS_CTL_HANDLE handle, uint32_t word, uint32_t duration);

void casCtlStaggerInit(void);
// Frees the channel's positions in every slot.
void casCtlStaggerRemove(CAS_CTL_HANDLE handle);
// The stagger part of one "HCAS" period.
void casCtlStaggerStep(void);
// One "HCAS" period: every typed and enabled channel steps, then the stagger slots.
void casCtlTaskPeriod(void);
// Stops the "HCAS" task (nothing when it is not running).
void casCtlStopTask(void);
