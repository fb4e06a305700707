// A gateway channel on the real framework for the codec service's tests: the codec service and,
// below it, a line probe that feeds the codec a signal as the PCM service would, injects digit
// detections, and records what the codec plays towards the line. A recording host collects
// packets, events and answers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "host_capture.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "pve_codec.h"
#include "qrn/qrn.h"
#include "tone_fit.h"
#include "vhd/vhd.h"

namespace codectest {

constexpr QRN_Handle kVhd = HAPIVHD0;

using hostcapture::HostMsg;

// A packet as it left the channel: header fields and payload bytes.
struct Packet {
  uint16_t payloadID;
  uint16_t payloadLength;
  uint32_t timestamp;
  std::vector<uint8_t> payload;
};

struct World {
  std::vector<HostMsg> host;
  std::function<int16_t(uint64_t n)> signal;       // line input, sample n at 8 kHz
  uint64_t sampleCount = 0;
  std::vector<int16_t> played;                      // what the codec played towards the line
  std::function<int16_t(uint64_t n)> signal16k;     // wideband line input, sample n at 16 kHz
  uint64_t sample16k = 0;
  std::vector<int16_t> played16k;                   // wideband output, recombined at 16 kHz
  int16_t splitState[BS_SPLIT_STATE_WORDS] = {};
  int16_t combineState[BS_COMBINE_STATE_WORDS] = {};
  std::vector<std::vector<uint8_t>> toneToLine;     // relay blocks the codec passed to the line side
  struct Digit {
    uint16_t header, op1, op2;
  };
  std::vector<Digit> digits;                        // detections sent to the codec in the next frame
};

World& world();

class CodecTest : public ::testing::Test {
 protected:
  explicit CodecTest(bool lite = false) : lite_(lite) {}
  void SetUp() override;
  void TearDown() override;

  HostMsg command(uint16_t header, uint16_t op1, uint16_t op2);
  HostMsg extCommand(uint16_t header, const void* data, uint16_t length);
  // A packet from the network: header fields and payload bytes.
  void sendPacket(uint16_t payloadID, uint16_t timestamp, const std::vector<uint8_t>& payload);
  void tick(int n = 1);
  // Starts a call with one code in both directions.
  void startVoice(uint16_t code, uint16_t interval);

  std::vector<Packet> packets() const;  // ingress packets the host received, in order
  std::vector<HostMsg> events(uint16_t header) const;
  HSZCODECINST* codec() const;

 private:
  bool lite_;
  uint16_t tag_ = 100;
  int msgFree_ = 0;
  int extFree_ = 0;
};

std::vector<uint8_t> payloadBytes(const std::vector<uint16_t>& words, size_t n);
using tonefit::toneSnrDb;

}  // namespace codectest
