// Connection-mode classes, digit tables and the RTP packet classifier.
#include "vrgEndptHelpers.h"

const EPSIG2PTEDIGITMAP epSig2PteDigitMap[EPSIG2PTEDIGIT_ROWS] = {
    {EPSIG_DTMF0, 0},  {EPSIG_DTMF1, 1},  {EPSIG_DTMF2, 2},  {EPSIG_DTMF3, 3},
    {EPSIG_DTMF4, 4},  {EPSIG_DTMF5, 5},  {EPSIG_DTMF6, 6},  {EPSIG_DTMF7, 7},
    {EPSIG_DTMF8, 8},  {EPSIG_DTMF9, 9},  {EPSIG_DTMFS, 10}, {EPSIG_DTMFH, 11},
    {EPSIG_DTMFA, 12}, {EPSIG_DTMFB, 13}, {EPSIG_DTMFC, 14}, {EPSIG_DTMFD, 15},
    {EPSIG_NULL, HAPI_PTE_DTMFDDGTERROR},
};

const EPZPTEDIGIT2EPEVTMAP* DigitRowFromDigit(unsigned digit) {
  for (const auto& row : digit2epevtMap) {
    if (row.digit == static_cast<int>(digit) || row.digit == HAPI_PTE_DTMFDDGTERROR) return &row;
  }
  return &digit2epevtMap[16];
}

const EPZPTEDIGIT2EPEVTMAP* DigitRowFromPulses(int pulses) {
  for (const auto& row : digit2epevtMap) {
    if (row.digit == HAPI_PTE_DTMFDDGTERROR) break;
    if (row.casEvent == pulses) return &row;
  }
  return nullptr;
}

const EPZPTEDIGIT2EPEVTMAP* DigitRowFromEvent(int event) {
  for (const auto& row : digit2epevtMap) {
    if (row.digit == HAPI_PTE_DTMFDDGTERROR) break;
    if (row.epEvent == event) return &row;
  }
  return nullptr;
}

int PteDigitFromSignal(EPSIG signal) {
  for (const auto& row : epSig2PteDigitMap) {
    if (row.signal == EPSIG_NULL) break;
    if (row.signal == signal) return row.digit;
  }
  return -1;
}

RTPPKT_TYPE RtpGetPacketType(uint8_t recvNtePayloadType, const uint8_t* packet, int length,
                             bool gr303, RTPPARSE* parse) {
  *parse = RTPPARSE{};
  if (packet == nullptr || length < RTP_HEADER_SIZE) return RTPPKT_INVALID;
  const int size = length;

  parse->wCSRCByte = static_cast<uint16_t>(4 * (packet[0] & 0x0F));
  int headerEnd = RTP_HEADER_SIZE + parse->wCSRCByte;
  if (headerEnd > size) return RTPPKT_INVALID;
  if (packet[0] & 0x10) {
    // Profile word (2 bytes) and length word (2 bytes), then `length` 32-bit words.
    if (headerEnd + 4 > size) return RTPPKT_INVALID;
    const int words = packet[headerEnd + 2] << 8 | packet[headerEnd + 3];
    parse->wExtensionByte = static_cast<uint16_t>(4 * (1 + words));
    headerEnd += parse->wExtensionByte;
    if (headerEnd > size) return RTPPKT_INVALID;
  }
  int payloadEnd = size;
  if (packet[0] & 0x20) {
    parse->bPaddingByte = packet[size - 1];
    payloadEnd -= parse->bPaddingByte;
    if (parse->bPaddingByte == 0 || payloadEnd < headerEnd) return RTPPKT_INVALID;
  }
  parse->pPayload = packet + headerEnd;

  if ((packet[1] & 0x7F) != recvNtePayloadType) return RTPPKT_MEDIA;
  // A telephone event needs at least its event code.
  if (payloadEnd <= headerEnd) return RTPPKT_INVALID;
  const uint8_t code = *parse->pPayload;
  if (gr303) {
    switch (code) {
      case 144: return RTPPKT_RING_EVENT;
      case 149: return RTPPKT_RINGOFF_EVENT;
      case 159: return RTPPKT_OSI_EVENT;
      case 148: return RTPPKT_RLCF_EVENT;
      default: return RTPPKT_UNSUPPORTED;
    }
  }
  if (code == 144) return RTPPKT_RING_EVENT;
  if (code == 159) return RTPPKT_OSI_EVENT;
  if (code < 16) return RTPPKT_DTMF_EVENT;
  return RTPPKT_UNSUPPORTED;
}
