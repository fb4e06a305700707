// A recording stand-in for line signalling control, for tests of the caller-ID machines that
// run without the HCAS task.
#include "casCtl.h"
#include "hostDspDouble.h"

CAS_CTL_STATUS casCtlSetStateGenEvent(CAS_CTL_HANDLE h, uint32_t state, uint32_t duration) {
  return lineCall("casCtlSetStateGenEvent", {h, static_cast<long>(state), static_cast<long>(duration)});
}
CAS_CTL_STATUS casCtlRingOff(CAS_CTL_HANDLE h, int alert) { return lineCall("casCtlRingOff", {h, alert}); }
CAS_CTL_STATUS casCtlRingProfileOn(CAS_CTL_HANDLE h, const CAS_CTL_RING_PROFILE* p, int interleave) {
  return lineCall("casCtlRingProfileOn", {h, static_cast<long>(p->pattern), static_cast<long>(p->clidTxDelay), interleave});
}
CAS_CTL_STATUS casCtlIgnoreHookState(CAS_CTL_HANDLE h, int duration) {
  return lineCall("casCtlIgnoreHookState", {h, duration});
}
CAS_CTL_STATUS casCtlChangePolarity(CAS_CTL_HANDLE h, CAS_CTL_POLARITY polarity, CAS_CTL_EVENT event, uint32_t) {
  return lineCall("casCtlChangePolarity", {h, polarity, event});
}
CAS_CTL_STATUS casCtlSupervisoryDisconnect(CAS_CTL_HANDLE h, uint32_t duration, CAS_OSI_PATTERN pattern) {
  return lineCall("casCtlSupervisoryDisconnect", {h, static_cast<long>(duration), pattern});
}
CAS_CTL_STATUS casCtlEnableFastSlicStateMode(CAS_CTL_HANDLE h, int enable) {
  return lineCall("casCtlEnableFastSlicStateMode", {h, enable});
}
CAS_CTL_STATUS casCtlSetStateFXS(CAS_CTL_HANDLE h, uint32_t state) {
  return lineCall("casCtlSetStateFXS", {h, static_cast<long>(state)});
}
