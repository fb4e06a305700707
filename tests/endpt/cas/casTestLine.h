// A scripted line for the CAS tests: hook, loop current and ring detection set by the test, the
// modes the channel asks for recorded with the step count at which they were asked.
#pragma once

#include <array>
#include <vector>

#include "cas.h"
#include "casHookTiming.h"
#include "casInternal.h"
#include "slicslacDrv.h"

struct ModeChange {
  int step;  // steps of casBlk taken before the request
  int mode;
};

struct ScriptedLine {
  std::array<bool, 8> offHook{};
  std::array<int, 8> loopCurrent{};
  std::array<bool, 8> ringing{};
  std::array<std::vector<ModeChange>, 8> modes;
  int numEndpoints = 2;
  int lineCountQueries = 0;  // each one is a request to the line driver
  int steps = 0;

  static ScriptedLine& get() {
    static ScriptedLine line;
    return line;
  }
  static bool valid(int ept) { return ept >= 0 && ept < 8; }
  int lastMode(int ept) const { return modes[ept].empty() ? -1 : modes[ept].back().mode; }

  static const CAS_LINE_OPS* ops() {
    static const CAS_LINE_OPS table = {
        [](int ept, int mode) {
          if (valid(ept)) get().modes[ept].push_back({get().steps, mode});
          return valid(ept) ? 0 : -1;
        },
        [](int ept) { return valid(ept) ? 0 : -1; },
        [](int ept) { return valid(ept) && get().offHook[ept] ? 1 : 0; },
        [](int ept) { return valid(ept) ? get().loopCurrent[ept] : -1; },
        [](int ept) { return valid(ept) && get().ringing[ept] ? 1 : 0; },
        [](int ept, int) { return valid(ept) ? 0 : -1; },
        []() {
          ++get().lineCountQueries;
          return get().numEndpoints;
        },
    };
    return &table;
  }
};

struct CasEventRecord {
  int step;
  uint16_t channel;
  CAS_CTL_EVENT_TYPE type;
  uint32_t event;
  bool operator==(const CasEventRecord&) const = default;
};

inline std::vector<CasEventRecord>& recordedEvents() {
  static std::vector<CasEventRecord> events;
  return events;
}

inline void recordEvent(CASEVT* evt) {
  recordedEvents().push_back({ScriptedLine::get().steps, evt->op2.val,
                              static_cast<CAS_CTL_EVENT_TYPE>(evt->evt), evt->op1});
}
