// The SLIC mode changes of a line as the virtual board recorded them, for tests that check
// ringing cadences and signalling on the board.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vboard.h"

struct TimedMode {
  long atMs;
  std::string mode;
};

// The line's SLIC mode changes, in ms on the line driver's sampling clock (10 ms per hook
// sample): the cadences' own time, the same on a loaded machine as on an idle one.
inline std::vector<TimedMode> modeTimeline(int line) {
  const std::string status = vboardCommand(std::to_string(line) + " status");
  const std::string key = "mode timeline (ms on the line driver's hook clock):";
  std::vector<TimedMode> out;
  const size_t at = status.find(key);
  if (at == std::string::npos) return out;
  std::istringstream in(status.substr(at + key.size(), status.find('\n', at) - at - key.size()));
  std::string entry;
  while (in >> entry) {
    const size_t colon = entry.find(':');
    out.push_back({std::stol(entry.substr(0, colon)), entry.substr(colon + 1)});
  }
  return out;
}

// Times of the changes into `mode` (repeated requests for the same mode are one change).
inline std::vector<long> changesInto(const std::vector<TimedMode>& timeline,
                                     const std::string& mode) {
  std::vector<long> out;
  for (size_t i = 0; i < timeline.size(); ++i) {
    const bool entered = timeline[i].mode == mode && (i == 0 || timeline[i - 1].mode != mode);
    if (entered) out.push_back(timeline[i].atMs);
  }
  return out;
}

// Changes of `line` into `mode`, in ms on the line driver's sampling clock.
inline std::vector<long> changesInto(int line, const std::string& mode) {
  return changesInto(modeTimeline(line), mode);
}

// The line driver's sampling clock of `line` in ms (10 ms per hook sample), -1 when the board
// does not answer.
inline long hookClockMs(int line) {
  const std::string status = vboardCommand(std::to_string(line) + " status");
  const size_t at = status.find("hookClock=");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 10);
}

// Waits until `done` holds, polling every 5 ms for at most `limit` of wall time (a bound for a
// stalled board, never a measure); returns whether it held.
template <typename Predicate>
bool waitOnBoard(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Waits until the line driver has sampled `line` for `ms` more of its clock: board time passes,
// whatever the machine's load does to wall time.
inline bool waitHookClock(int line, long ms) {
  const long target = hookClockMs(line) + ms;
  return waitOnBoard([&] { return hookClockMs(line) >= target; });
}
