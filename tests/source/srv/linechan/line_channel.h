// A wideband line channel of the default configuration on the real framework, fed and drained
// through hardware port 0 on the fast tick, with its top looped back to itself so that what goes
// up the line side comes back down. The host's messages are recorded.
#pragma once

#include <cstdint>
#include <vector>

#include "qrn/qrn.h"

namespace linechan {

constexpr QRN_Handle kLine = HAPIVHD0;
constexpr int kTickSamples = 80;  // one 5 ms tick of 16 kHz audio

struct HostMsg {
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  bool response;
  HAPIRESULT result;
  std::vector<uint8_t> data;
};

class Channel {
 public:
  // loopTop: the channel's network side sends its audio back to itself.
  explicit Channel(bool loopTop = true);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Plays `in` into the line side, one tick per 80 samples, and returns what the line side put
  // out over the same ticks.
  std::vector<int16_t> run(const std::vector<int16_t>& in);
  // A standard host command to one of the channel's services; runs frames until it is answered.
  HostMsg command(uint16_t header, uint16_t op1, uint16_t op2);
  HostMsg extCommand(uint16_t header, const void* data, uint16_t length);
  // The instance memory of the channel's service `id`.
  void* service(HSFSRVID id);
  std::vector<HostMsg>& host();
};

}  // namespace linechan
