// Class-relay packets as the host hands them to the caller-ID transmitter: a seizure packet
// (code 0: seizure bits, marks), message data (code 1) and the last packet (code 2), the data
// packets carrying `word0` characters.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "clidtx.h"

namespace clidpackets {

inline std::vector<uint8_t> packet(uint16_t code, int16_t word0, uint16_t word1, const uint8_t* chars = nullptr) {
  HSZCLASSRELAYPACKET p{};
  p.hsxPacketHdr.payloadID = static_cast<uint16_t>(HAPI_PKT_CLASSRELAY << 8 | code);
  p.hsxPacketHdr.payloadLength = sizeof(p) - sizeof(p.hsxPacketHdr);  // the bytes after the header
  p.hsxWord0 = word0;
  p.hsxWord1 = word1;
  if (chars != nullptr) std::memcpy(p.hsxClassMsg, chars, static_cast<size_t>(word0));
  std::vector<uint8_t> out(sizeof(p));
  std::memcpy(out.data(), &p, sizeof(p));
  return out;
}

}  // namespace clidpackets
