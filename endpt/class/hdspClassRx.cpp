// Caller-ID reception on an FXO line: the receive service's settings, and the message bytes it
// reports gathered, checked and parsed into the caller's date, number and name. Every length
// read from the line is checked against what was received before a byte is used.
#include <cstdio>
#include <cstring>

#include "hdspClass.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "voiceLog.h"

namespace {

constexpr int kMaxMessageLength = 95;
constexpr size_t kNumberMax = 20;
constexpr size_t kNameMax = 50;

void log(VOICE_LOGLEVEL level, const char* text) { voiceLog(VOICE_MODULE_EPT, level, "%s", text); }

// Copies at most `max` bytes into a NUL-terminated field of `size` bytes.
void copyField(char* field, size_t size, const uint8_t* bytes, size_t count, size_t max) {
  if (count > max) count = max;
  if (count > size - 1) count = size - 1;
  std::memcpy(field, bytes, count);
  field[count] = '\0';
}

void setText(char* field, size_t size, const char* text) { std::snprintf(field, size, "%s", text); }

// An absence reason in place of the number of an SDMF message.
void sdmfReason(char reason, VRG_COUNTRY country, EPCLIDRX_DATA& out) {
  const bool taiwan = country == VRG_COUNTRY_TAIWAN;
  if (reason == 'P') {
    setText(out.number, sizeof out.number, "Private");
    out.reasonNoNumber = 'P';
  } else if (reason == 'O') {
    if (taiwan) {
      setText(out.number, sizeof out.number, "Out Of Area");
    } else {
      out.reasonNoNumber = 'O';
    }
  } else if (taiwan && reason == 'C') {
    setText(out.number, sizeof out.number, "Coin/Public");
    out.reasonNoNumber = 'C';
  } else if (taiwan && reason == 'I') {
    setText(out.number, sizeof out.number, "International");
    out.reasonNoNumber = 'I';
  }
}

bool isSdmfReason(uint8_t c, VRG_COUNTRY country) {
  if (c == 'P' || c == 'O') return true;
  return country == VRG_COUNTRY_TAIWAN && (c == 'C' || c == 'I');
}

// The text of an MDMF absence parameter.
const char* mdmfReasonText(char reason, VRG_COUNTRY country) {
  if (reason == 'P') return "Private";
  if (country == VRG_COUNTRY_TAIWAN) {
    if (reason == 'C') return "Coin/Public";
    if (reason == 'I') return "International";
    if (reason == 'O') return "Out Of Area";  // as the SDMF form says it
  }
  return "Unavailable";
}

bool parseSdmf(const uint8_t* body, size_t length, VRG_COUNTRY country, EPCLIDRX_DATA& out) {
  if (length < 8) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: Invalid Caller ID message length byte: %d",
             static_cast<int>(length));
    return false;
  }
  copyField(out.date, sizeof out.date, body, 8, 8);
  const uint8_t* number = body + 8;
  const size_t numberLen = length - 8;
  if (numberLen == 1 && isSdmfReason(number[0], country)) {
    sdmfReason(static_cast<char>(number[0]), country, out);
  } else {
    copyField(out.number, sizeof out.number, number, numberLen, kNumberMax);
  }
  return true;
}

bool parseMdmf(const uint8_t* body, size_t length, VRG_COUNTRY country, EPCLIDRX_DATA& out) {
  size_t at = 0;
  while (at < length) {
    if (length - at < 2) {
      log(VOICE_LOGLEVEL_ERROR, "HDSP: Truncated Caller ID parameter.");
      return false;
    }
    const uint8_t type = body[at];
    const size_t paramLen = body[at + 1];
    const uint8_t* data = body + at + 2;
    // A parameter may not run past the message that carries it.
    if (paramLen > length - at - 2) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "HDSP: Caller ID parameter %d length %d runs past the message", type,
               static_cast<int>(paramLen));
      return false;
    }
    switch (type) {
      case 1: copyField(out.date, sizeof out.date, data, paramLen, 8); break;
      case 3:
        if (country != VRG_COUNTRY_JAPAN) {
          voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
                   "HDSP: Unrecognized Caller ID parameter received: %d", type);
          break;
        }
        [[fallthrough]];
      case 2: copyField(out.number, sizeof out.number, data, paramLen, kNumberMax); break;
      case 4:
        if (paramLen > 0) {
          out.reasonNoNumber = static_cast<char>(data[0]);
          setText(out.number, sizeof out.number, mdmfReasonText(out.reasonNoNumber, country));
        }
        break;
      case 7: copyField(out.name, sizeof out.name, data, paramLen, kNameMax); break;
      case 8:
        if (paramLen > 0) {
          out.reasonNoName = static_cast<char>(data[0]);
          setText(out.name, sizeof out.name, mdmfReasonText(out.reasonNoName, country));
        }
        break;
      case 11:
      case 17: break;
      default:
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: Unrecognized Caller ID parameter received: %d",
                 type);
        break;
    }
    at += 2 + paramLen;
  }
  return true;
}

bool parityHolds(uint8_t byte) {
  uint8_t ones = 0;
  for (int bit = 0; bit < 8; ++bit) ones ^= static_cast<uint8_t>((byte >> bit) & 1);
  return ones == 0;
}

// DLE SOH BEL DLE STX 0x40 length [DLE] type length [DLE] data... DLE ETX CRC.
bool parseJapan(uint8_t* bytes, size_t count, EPCLIDRX_DATA& out) {
  if (count < 7) {
    log(VOICE_LOGLEVEL_ERROR, "HDSP: checkParityBit ERROR!!!");
    return false;
  }
  for (size_t i = 0; i < 7; ++i) {
    if (!parityHolds(bytes[i])) {
      log(VOICE_LOGLEVEL_ERROR, "HDSP: checkParityBit ERROR!!!");
      return false;
    }
  }
  for (size_t i = 0; i < count; ++i) bytes[i] &= 0x7F;
  size_t at = 0;
  while (at < count && bytes[at] != 0x40) ++at;
  ++at;                                                              // the message type
  if (at < count && bytes[at] == 0x10 && at + 1 < count && bytes[at + 1] == 0x10) ++at;  // doubled length
  ++at;
  if (at + 2 > count) return false;
  const uint8_t type = bytes[at++];
  size_t paramLen = bytes[at++];
  if (paramLen == 0x10 && at < count && bytes[at] == 0x10) ++at;
  if (paramLen > count - at) paramLen = count - at;
  if (type == 4) {
    if (paramLen > 0) out.reasonNoNumber = static_cast<char>(bytes[at]);
  } else {
    copyField(out.number, sizeof out.number, bytes + at, paramLen, kNumberMax);
  }
  return true;
}

void logResult(const HDSP_CLASS_CLIDRX_STATE& state) {
  const EPCLIDRX_DATA& d = state.clidRxData;
  log(VOICE_LOGLEVEL_INFO, "HDSP: INCOMING CALL:");
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: Mark = %d; Seizure = %d ", state.numMark,
           state.numSeizure);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: Time Field (MONTH, DAY, HOUR, MIN): %s", d.date);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: Number Field (up to 20 digits): %s", d.number);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: Name Field (up to 15 characters): %s", d.name);
}

// Appends the packet's bytes when they fit in the buffer.
bool append(const HSZCLIDRXPACKET* packet, HDSP_CLASS_CLIDRX_STATE* state) {
  const size_t count = packet->hsxClassMsgWord0;
  const size_t used = static_cast<size_t>(state->parseBufp - state->parseBuf);
  if (count > CLIDRX_PKT_MAX_BYTES || used + count > CLIDRX_PARSE_BUF_SIZE) {
    log(VOICE_LOGLEVEL_ERROR, "HDSP:  ERROR: Caller ID receive parse buffer overflow");
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    const uint16_t word = packet->hsxClassMsg[i / 2];
    *state->parseBufp++ = static_cast<uint8_t>(i % 2 == 0 ? word & 0xFF : word >> 8);
  }
  state->msgLen = static_cast<uint16_t>(used + count);
  return true;
}

bool parseMessage(VRG_COUNTRY country, HDSP_CLASS_CLIDRX_STATE* state) {
  EPCLIDRX_DATA& out = state->clidRxData;
  std::memset(&out, 0, sizeof out);
  const size_t received = static_cast<size_t>(state->parseBufp - state->parseBuf);
  if (country == VRG_COUNTRY_JAPAN) return parseJapan(state->parseBuf, received, out);

  const uint8_t* buf = state->parseBuf;
  const size_t length = received >= 2 ? buf[1] : 0;
  // Type, length, the body and the checksum must all have arrived.
  if (received < 2 || length > kMaxMessageLength || length + 3 > received) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: Invalid Caller ID message length byte: %d",
             static_cast<int>(length));
    return false;
  }
  unsigned sum = 0;
  for (size_t i = 0; i < length + 3; ++i) sum += buf[i];
  if ((sum & 0xFF) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "HDSP: Invalid Caller ID checksum.");
    return false;
  }
  switch (buf[0]) {
    case 0x04: return parseSdmf(buf + 2, length, country, out);
    case 0x80:
    case 0x82: return parseMdmf(buf + 2, length, country, out);
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: Unknown Caller ID message format received: %d",
               buf[0]);
      return false;
  }
}

}  // namespace

void hdspClidRxReset(HDSP_CLASS_CLIDRX_STATE* state) {
  std::memset(state->parseBuf, 0, sizeof state->parseBuf);
  state->parseBufp = state->parseBuf;
  state->msgLen = 0;
  std::memset(&state->clidRxData, 0, sizeof state->clidRxData);
}

int hdspClidRxParse(VRG_COUNTRY country, const HSZCLIDRXPACKET* packet, HDSP_CLASS_CLIDRX_STATE* state) {
  if (packet == nullptr || state == nullptr) return 0;
  // A state that was never started writes from the start of its buffer.
  const bool inside = state->parseBufp >= state->parseBuf &&
                      state->parseBufp <= state->parseBuf + CLIDRX_PARSE_BUF_SIZE;
  if (!inside) hdspClidRxReset(state);

  switch (packet->hsxClassCode) {
    case CLIDRX_PKT_START:
      state->numSeizure = packet->hsxClassMsgWord0;
      state->numMark = packet->hsxClassMsgWord1;
      hdspClidRxReset(state);
      return 0;
    case CLIDRX_PKT_BODY:
      append(packet, state);
      return 0;
    case CLIDRX_PKT_END: {
      if (!append(packet, state)) return 0;
      const bool parsed = parseMessage(country, state);
      if (parsed) logResult(*state);
      state->parseBufp = state->parseBuf;
      return parsed ? 1 : 0;
    }
    default:
      log(VOICE_LOGLEVEL_ERROR, "HDSP:  ERROR: Unknown CLASS Payload Code ");
      return 0;
  }
}

int classRxConfigure(uint16_t vhdhdl, VRG_COUNTRY country, CLASS_MSG_TYPE classType) {
  HSZCLIDRXREGS regs{};
  if (classType == CLASS_MSG_ONHOOK_CLID) {
    if (country == VRG_COUNTRY_JAPAN) {
      regs = {0, 64, 255, -35};
    } else if (country == VRG_COUNTRY_UK) {
      regs = {96, 55, 255, -35};
    } else {
      regs = {CLIDRXSEIZURELEN, CLIDRXMARKLEN, CLIDRXMAXMSGLEN, CLIDRXMINTHRESHOLD};
    }
  } else if (classType == CLASS_MSG_OFFHOOK_CLID) {
    regs = {0, 80, 255, -35};
  } else {
    log(VOICE_LOGLEVEL_ERROR, "HDSP: ERROR: Incorrect class type for RX caller id ");
    return -1;
  }
  return hdspSendCmdData(vhdhdl, hdsp::HAPI_CLIDRX_SETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs, &regs);
}

EPSTATUS enableFskClidRx(int flag, uint16_t pstnVhdHdl) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: FskClidRx Service is %s", flag ? "Enabled" : "Disabled");
  if (hdspSendCmd(pstnVhdHdl, hdsp::HAPI_CLIDRX_ENABLE_CMD, HAPI_REQID_STD_CMD, static_cast<uint16_t>(flag), 0) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR enabling CLIDRX for ENDPT vhd 0x%x", pstnVhdHdl);
    return EPSTATUS_BAD_MODE;
  }
  return EPSTATUS_SUCCESS;
}
