// A jitter buffer in its own memory with per-code tables like the codec service's, a consumer
// that frees the payload slots of released frames as a decoder does, and invariants checked at
// every release.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <vector>

#include "ajc.h"

namespace ajctest {

inline constexpr uint16_t kG711 = 0;   // 40-tick frames
inline constexpr uint16_t kG729 = 6;   // 80-tick frames
inline constexpr uint16_t kGsmFr = 16; // 160-tick frames
inline constexpr uint16_t kMemWords = 15938;

struct Release {
  uint16_t timer;       // buffer clock before the call
  int16_t numCurrPkt;
  AJC_PKT_HDR pkt[2];
  uint16_t state;       // inState after the call
};

class Jb {
 public:
  explicit Jb(AJC_REGS regs = {}, uint16_t code = kG711);

  // Hands in one frame (class voice unless told) with a payload slot; returns the buffer's result.
  int arrive(uint16_t timestamp, uint8_t cls = AJC_PKT_VOICE, uint16_t index = 0, uint16_t code = 0xFFFF);
  // One release call with the decoder's thread size; checks the invariants.
  Release release();
  // Runs release calls for `ticks` ticks of the buffer clock.
  std::vector<Release> run(int ticks);

  AJC_OBJ obj{};
  AJC_REGS regs{};
  AJC_STATS stats{};
  AJC_STATE state{};
  AJC_INTERNAL_STATS internal{};
  uint16_t code;
  uint16_t thread;
  std::vector<uint16_t> mem;
  std::vector<Release> releases;         // every call that released something
  std::vector<uint16_t> played;          // timestamps of frames played (class 1, 2, 4)
  int deleted = 0;                       // class-5 frames
  int repeats = 0;
  int repeatsBeforeLastPlay = 0;         // repeats that came before the last frame played
  int comfort = 0;
  std::multiset<uint16_t> accepted;      // frames the buffer took and has not released

 private:
  void checkInvariants(const Release& r);
};

// Frames in the queue, from the head.
std::vector<AJC_PKT_HDR> queued(AJC_OBJ& o);
int slotsInUse(const AJC_PAYLOADQ& q);

}  // namespace ajctest
