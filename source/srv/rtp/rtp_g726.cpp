// G.726 payloads in the two code-word orders: RFC 3551 puts the first code word in the least
// significant bits of the first byte, I.366.2 Annex E in the most significant bits.
#include <utility>

#include "rtp_payload.h"

void swapBytes(uint8_t* buffer, unsigned length) {
  for (unsigned i = 0; i < (length + 1) / 2; ++i) std::swap(buffer[2 * i], buffer[2 * i + 1]);
}

void swapNibbles(uint8_t* buffer, unsigned length) {
  for (unsigned i = 0; i < 2 * (length / 2); ++i) {
    buffer[i] = static_cast<uint8_t>((buffer[i] << 4) | (buffer[i] >> 4));
  }
}

namespace {

// 16 kbit/s: the four 2-bit fields of a byte in reverse order (the operation is its own inverse).
void reverseCrumbs(uint8_t* p, unsigned length) {
  for (unsigned i = 0; i < length; ++i) {
    const unsigned b = p[i];
    p[i] =
        static_cast<uint8_t>(((b & 0x03) << 6) | ((b & 0x0C) << 2) | ((b & 0x30) >> 2) | ((b & 0xC0) >> 6));
  }
}

// Groups of eight `bits`-bit code words (bits bytes each). Little-endian groups (first word in the
// low bits) become big-endian groups (first word in the high bits), or back.
void repackGroups(uint8_t* p, unsigned length, unsigned bits, bool toAnnexE) {
  const unsigned groupBytes = bits;  // eight words of `bits` bits
  const uint64_t mask = (uint64_t{1} << bits) - 1;
  for (unsigned start = 0; start + groupBytes <= length; start += groupBytes) {
    uint8_t* g = p + start;
    uint64_t in = 0;
    if (toAnnexE) {
      for (unsigned i = 0; i < groupBytes; ++i) in |= uint64_t{g[i]} << (8 * i);
    } else {
      for (unsigned i = 0; i < groupBytes; ++i) in = (in << 8) | g[i];
    }
    uint64_t out = 0;
    for (unsigned k = 0; k < 8; ++k) {
      const uint64_t word = toAnnexE ? (in >> (bits * k)) & mask : (in >> (bits * (7 - k))) & mask;
      out |= toAnnexE ? word << (bits * (7 - k)) : word << (bits * k);
    }
    if (toAnnexE) {
      for (unsigned i = 0; i < groupBytes; ++i) g[groupBytes - 1 - i] = static_cast<uint8_t>(out >> (8 * i));
    } else {
      for (unsigned i = 0; i < groupBytes; ++i) g[i] = static_cast<uint8_t>(out >> (8 * i));
    }
  }
}

}  // namespace

void G726_I366_2_Annex_E_encode(uint8_t* payload, unsigned length, unsigned code) {
  switch (code) {
    case HAPI_PKT_VC_G726_16: reverseCrumbs(payload, length); break;
    case HAPI_PKT_VC_G726_32: swapNibbles(payload, length); break;
    case HAPI_PKT_VC_G726_24: repackGroups(payload, length, 3, true); break;
    case HAPI_PKT_VC_G726_40: repackGroups(payload, length, 5, true); break;
    default: break;
  }
}

void G726_I366_2_Annex_E_decode(uint8_t* payload, unsigned length, unsigned code) {
  switch (code) {
    case HAPI_PKT_VC_G726_16: reverseCrumbs(payload, length); break;
    case HAPI_PKT_VC_G726_32: swapNibbles(payload, length); break;
    case HAPI_PKT_VC_G726_24:
    case HAPI_PKT_VC_G726_40:
      // The groups are defined on the network byte order: swap the words there and back.
      swapBytes(payload, length);
      repackGroups(payload, length, code == HAPI_PKT_VC_G726_24 ? 3 : 5, false);
      swapBytes(payload, length);
      break;
    default: break;
  }
}
