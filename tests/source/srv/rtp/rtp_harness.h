// A packet channel on the real framework for the RTP service's tests: the RTP service at the top,
// a root probe in NET's place and a codec probe below it that sends the packets a test queues and
// records what the RTP service hands down. The host records everything that reaches it. Random
// numbers and clocks come from the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "host_capture.h"
#include "rtp.h"
#include "rtp_codes.h"

namespace rtptest {

constexpr uint16_t kVhd = HAPIVHD0;
constexpr uint16_t kFrame = 80;  // samples per tick

using hostcapture::HostMsg;

// A packet the RTP service handed to the codec service: header words and payload.
struct CodecPacket {
  HAPI_PKT_EGRESS_HDR hdr;
  std::vector<uint8_t> payload;
};

struct CodecCmd {
  uint16_t header, op1, op2;
};

struct World {
  std::vector<HostMsg> host;
  std::vector<CodecPacket> toCodec;
  std::vector<CodecCmd> codecCmds;
  // Frame packets (HAPI_PKT_HDR + payload) the codec probe sends, one list per coming tick.
  std::deque<std::vector<std::vector<uint8_t>>> ingressPlan;
  // Control blocks (header, bytes) sent on mask 0x2000 with the next tick's packets.
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> controlBlocks;
  // Line side of the channel with the real codec service: the signal it sends, what it plays.
  int16_t (*signal)(uint64_t n) = nullptr;
  uint64_t sampleCount = 0;
  std::vector<int16_t> played;
  // Test sources.
  std::vector<uint16_t> randoms;  // drawn in order; then a counter
  uint16_t randCounter = 0x1000;
  uint32_t rtpSeconds = 1000, rtpMicros = 0;
  uint32_t ntpSeconds = 3900000000u, ntpMicros = 0;
};

World& world();

// A framework packet as the codec service sends it.
std::vector<uint8_t> framePacket(uint16_t payloadID, uint32_t timeStamp, const std::vector<uint8_t>& payload);
std::vector<uint8_t> tonePacket(uint8_t code, uint8_t digit, uint8_t level, uint16_t duration, uint32_t ts);

// Counts the framework's assertion reports printed while it lives.
class AssertCounter {
 public:
  AssertCounter() { testing::internal::CaptureStdout(); }
  ~AssertCounter() { stop(); }
  int stop();

 private:
  bool stopped_ = false;
  int count_ = 0;
};

class RtpTest : public ::testing::Test {
 protected:
  // With the real codec service and a line probe below it instead of the codec probe.
  bool realCodec_ = false;

  void SetUp() override;
  void TearDown() override;

  // Runs n frames of the channel.
  void tick(int n = 1);
  HostMsg command(uint16_t header, uint16_t op1, uint16_t op2);
  HostMsg extCommand(uint16_t header, const void* data, uint16_t length);
  // Hands the channel an RTP (mask 0x800) or RTCP (0x1000) packet from the host.
  void receive(const std::vector<uint8_t>& packet, uint32_t mask = 0x800);
  // Queues packets for the codec probe to send in the next tick.
  void sendNext(std::vector<std::vector<uint8_t>> packets);
  RTPSRVINSTANCEMEM* rtp();
  // Writes registers through the command, failing the test when refused.
  void setRegs(const HAPI_RTP_REGS& regs);
  void setRegs2(uint16_t flags2);
  void startSession();

  std::vector<std::vector<uint8_t>> sentRtp() const;  // RTP that reached the host, in order
  std::vector<std::vector<uint8_t>> sentRtcp() const;
  std::vector<HostMsg> events(uint16_t header) const;
  void clear();

 private:
  int msgFree_ = 0;
  int extFree_ = 0;
  uint16_t tag_ = 100;
};

// A minimal RTP packet.
std::vector<uint8_t> rtpPacket(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc,
                               const std::vector<uint8_t>& payload, bool marker = false);

}  // namespace rtptest
