// The fax relay service on the real framework between stand-ins: above it one for the T.38
// service (fax-relay packets in and out), below it one for the V.21 service and one for the fax
// datapump (commands recorded, local-modem events fed in). A recording host takes its events.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "faxr.h"

namespace faxrtest {

struct Packet {
  uint8_t code;
  uint16_t stamp;
  uint16_t bits;
  std::vector<uint8_t> octets;  // the data, first bit most significant
};

struct Cmd {
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  std::vector<uint8_t> data;  // extended commands
  long frame;
};

struct Evt {
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  std::vector<uint8_t> data;
};

struct World {
  std::deque<std::vector<std::vector<uint8_t>>> toService;  // per egress frame: raw fax-relay packets
  std::deque<std::vector<Evt>> modemEvents;                // per ingress frame: local-modem events
  std::vector<Packet> sent;                                // fax-relay packets the service sent
  std::vector<Cmd> commands;                               // commands to the modems
  std::vector<Evt> host;                                   // events to the host
  long frames = 0;
};

World& world();
void open();
void close();
void runFrames(long n);
// Host command; returns the service's result (0 or -1) and the answer's data.
int command(uint16_t header, uint16_t op1, uint16_t op2, std::vector<uint8_t>* answer = nullptr);
int extCommand(uint16_t header, const void* data, uint16_t length);
HSZFAXRLOCLMEM* inst();

// A fax-relay packet as the T.38 service hands it over (octets, first bit most significant).
std::vector<uint8_t> relayPacket(uint8_t code, const std::vector<uint8_t>& octets, uint16_t stamp, int bits = -1);
// Line bits (one per byte) of an HDLC burst: `flags` flags, the frames with their FCS (a bad one
// when asked), zero insertion, closing flag.
std::vector<uint8_t> hdlcLineBits(const std::vector<std::vector<uint8_t>>& frames, int flags, bool badFcs = false);
// V.21 receive events of 8 line bits each, as the V.21 service sends them.
std::vector<Evt> v21Packets(const std::vector<uint8_t>& bits);
// Frames decoded from line bits (flags, zero deletion, FCS checked: `good` per frame).
std::vector<std::vector<uint8_t>> decodeHdlc(const std::vector<uint8_t>& bits, std::vector<bool>* good = nullptr);
// How many HDLC flags lead the line bits, each on an octet boundary from the first bit.
int leadingFlags(const std::vector<uint8_t>& bits);
// Line bits of the V.21 (0x0D08) or datapump (0x1106) data commands so far.
std::vector<uint8_t> commandBits(uint16_t header);
// Octets of the V.21 frames sent to the network (codes 18-22) joined per frame.
std::vector<std::vector<uint8_t>> framesToNetwork(std::vector<uint8_t>* endCodes = nullptr);

}  // namespace faxrtest
