// The events the endpoint library reports, kept per line for tests that run the library with its
// own callbacks (without the EndptLib fixture): the callbacks to hand to vrgEndptInit, a bounded
// wait for one line's event and the events of a line so far.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "vrgEndpt.h"

namespace {

std::mutex lock;
std::condition_variable changed;
std::vector<std::pair<int, EPEVT>> seen;

inline void OnEvent(ENDPT_STATE* state, int, EPEVT event, void*, int, int) {
  std::lock_guard<std::mutex> guard(lock);
  seen.emplace_back(state != nullptr ? state->lineId : -1, event);
  changed.notify_all();
}
inline void OnPacket(ENDPT_STATE*, int, EPPACKET*, int) {}

inline bool waitFor(int line, EPEVT event, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(lock);
  return changed.wait_for(guard, limit, [&] {
    for (const auto& e : seen) {
      if (e.first == line && e.second == event) return true;
    }
    return false;
  });
}

inline std::vector<EPEVT> eventsOf(int line) {
  std::lock_guard<std::mutex> guard(lock);
  std::vector<EPEVT> out;
  for (const auto& e : seen) {
    if (e.first == line) out.push_back(e.second);
  }
  return out;
}

inline void clearEvents() {
  std::lock_guard<std::mutex> guard(lock);
  seen.clear();
}

}  // namespace
