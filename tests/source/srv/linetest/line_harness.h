// A channel on the real framework for the line services' tests: the service under test between a
// probe at the top of the stack (network side, standing for the codec service) and one at the
// bottom (line side). The bottom probe feeds the ingress frames and records the egress audio that
// the service leaves; the top probe feeds egress frames and in-band packets and records the
// ingress audio and in-band messages. Events and answers reach a recording host.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "host_capture.h"
#include "hsf/hsf.h"
#include "qrn/qrn.h"

namespace linetest {

constexpr QRN_Handle kVhd = HAPIVHD0;
constexpr uint16_t kFrame = 80;  // samples per frame, as on a line channel (the default)

using hostcapture::HostMsg;  // `frame`: the ingress frame number when it arrived

struct Ibd {
  HSF_IBD_MASK mask;
  uint16_t header;
  uint16_t op1;  // length for an extended message
  uint16_t op2;
  std::vector<uint8_t> data;
  long frame;
};

struct World {
  std::deque<int16_t> ingressIn;   // line audio the bottom probe puts into ingress frames
  std::vector<int16_t> ingressOut;  // ingress audio above the service
  std::deque<int16_t> egressIn;    // far-end audio the top probe puts into egress frames
  std::vector<int16_t> egressOut;   // egress audio below the service
  bool sendRawPcm = false;          // the bottom probe sends each ingress frame as a raw-PCM message
  std::vector<int16_t> rawPcmOut;   // raw-PCM messages as they reached the top
  struct Packet {
    HSF_IBD_MASK mask;
    uint16_t header;
    std::vector<uint8_t> data;
  };
  std::deque<std::vector<Packet>> egressPackets;  // per egress frame, in-band packets from the top
  std::deque<std::vector<Packet>> ingressPackets; // per ingress frame, in-band packets from the bottom
  std::vector<Ibd> ingressIbd;                    // in-band messages that reached the top
  std::vector<HostMsg> host;
  std::vector<HostMsg> topCommands;  // commands the top probe (codec service) received
  long ingressFrames = 0;
  long egressFrames = 0;
};

World& world();

// Opens the channel with `service` between the probes and runs its first frames.
void open(const HSFSRVARC* service, uint16_t frame = kFrame);
void close();
// Runs whole frames in both directions.
void runFrames(long n);
// Runs frames until the ingress and egress inputs are used up, plus `extra` frames.
void drain(long extra = 0);
HostMsg command(uint16_t header, uint16_t op1, uint16_t op2);
HostMsg extCommand(uint16_t header, const void* data, uint16_t length);
std::vector<HostMsg> events(uint16_t header);
// The service's instance memory.
void* instance(HSFSRVID id);

}  // namespace linetest
