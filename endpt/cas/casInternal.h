// Shared between the parts of the CAS channel: the events a step collects while it holds the
// mutex (they are delivered after it is released), the monitor and the control-state change.
#pragma once

#include "cas.h"

// Events found during one step, delivered in order once the mutex is released.
struct CasPendingEvents {
  static constexpr int MAX = 8;
  int count = 0;
  CAS_CTL_EVENT_TYPE type[MAX];
  uint32_t event[MAX];

  void add(CAS_CTL_EVENT_TYPE t, uint32_t e) {
    if (count < MAX) {
      type[count] = t;
      event[count] = e;
      ++count;
    }
  }
};

// Fills a CASEVT and hands it to the channel's event callback.
void casGenEvent(CAS_EVENT_CALLBACK callback, CAS_CTL_EVENT_TYPE type, uint32_t event,
                 uint16_t channel);

// The hook and ring monitor of one channel; `sample` is the condition just sampled.
void casMonitor(CASCHANNELINFO& info, CasPendingEvents& events);
// A monitor-driven state change: drops the profile, stores the word, leaves the stagger slots and
// reports the word's event as a detected event.
void casChangeControlState(CASCHANNELINFO& info, uint32_t word, CasPendingEvents& events);
void casFreeProfile(CASCHANNELINFO& info);

// Frees the channel's positions in the stagger slots of line signalling control.
void casCtlStaggerRemove(CAS_CTL_HANDLE handle);
