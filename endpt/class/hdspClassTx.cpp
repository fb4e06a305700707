// Caller-ID and message-waiting transmission: the FSK messages handed to the caller-ID transmit
// service as class-relay packets, and caller ID sent as DTMF digits.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "hdspClass.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "hdspTone.h"
#include "voiceLog.h"

namespace {

constexpr uint8_t DLE = 0x10;
constexpr uint8_t SOH = 0x01;
constexpr uint8_t BEL = 0x07;
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t JP_MSG_TYPE = 0x40;

constexpr int kNameFirstPacket = 30;
constexpr uint16_t kTrailingMarks = 10;

// One class-relay packet being filled byte by byte (two bytes per word, the first in the low
// byte).
struct RelayPacket {
  HSZCLASSRELAYPACKET p{};
  int bytes = 0;

  RelayPacket(uint16_t payloadId, uint16_t payloadLength) {
    p.hsxPacketHdr.payloadID = payloadId;
    p.hsxPacketHdr.payloadLength = payloadLength;
    p.hsxPacketHdr.payloadOffset = 8;
    p.hsxPacketHdr.payloadTimeStampLow = 0;
  }
  void put(uint8_t byte) {
    if (bytes >= CLASS_RELAY_MSG_WORDS * 2) return;
    uint16_t& word = p.hsxClassMsg[bytes / 2];
    word = (bytes % 2 == 0) ? static_cast<uint16_t>((word & 0xFF00) | byte)
                            : static_cast<uint16_t>((word & 0x00FF) | (byte << 8));
    ++bytes;
  }
  int send(uint16_t vhdhdl) {
    return hdspSendDataPacket(vhdhdl, reinterpret_cast<HAPI_PKT_HDR*>(&p));
  }
};

int sendStart(uint16_t vhdhdl, int16_t seizures, uint16_t marks) {
  RelayPacket start(HAPI_PKT_CLASSRELAY_START, 4);
  start.p.hsxWord0 = seizures;
  start.p.hsxWord1 = marks;
  return start.send(vhdhdl);
}

// A data packet carrying `count` bytes.
int sendData(uint16_t vhdhdl, uint16_t payloadLength, const uint8_t* bytes, int count) {
  RelayPacket data(HAPI_PKT_CLASSRELAY_DATA, payloadLength);
  data.p.hsxWord0 = static_cast<int16_t>(count);
  for (int i = 0; i < count; ++i) data.put(bytes[i]);
  return data.send(vhdhdl);
}

int sendChecksumEnd(uint16_t vhdhdl, uint8_t checksum, uint16_t trailing) {
  RelayPacket end(HAPI_PKT_CLASSRELAY_END, 6);
  end.p.hsxWord0 = 1;
  end.p.hsxWord1 = trailing;
  end.put(checksum);
  return end.send(vhdhdl);
}

uint8_t byteSum(const uint8_t* bytes, int count) {
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

uint8_t withEvenParity(uint8_t byte) {
  uint8_t value = byte & 0x7F;
  uint8_t ones = 0;
  for (int bit = 0; bit < 7; ++bit) ones ^= static_cast<uint8_t>((value >> bit) & 1);
  return static_cast<uint8_t>(value | (ones << 7));
}

uint16_t reverse16(uint16_t value) {
  uint16_t reversed = 0;
  for (int bit = 0; bit < 16; ++bit) {
    reversed = static_cast<uint16_t>(reversed | (((value >> bit) & 1) << (15 - bit)));
  }
  return reversed;
}

size_t fieldLength(const char* field, size_t size) { return strnlen(field, size - 1); }

bool isNumberReason(char reason, VRG_COUNTRY country) {
  const char r = static_cast<char>(std::toupper(static_cast<unsigned char>(reason)));
  if (r == 'O' || r == 'P') return true;
  return country == VRG_COUNTRY_TAIWAN && (r == 'I' || r == 'C');
}

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// SDMF/MDMF caller ID: date, number (or its absence reason) and name (or its absence reason).
int sendBellcoreMessage(uint16_t vhdhdl, const CLASS_CLID_STATE* caller, VRG_COUNTRY country,
                        CLASS_MSG_TYPE classType, const VRG_CLASS_FSK* fsk) {
  const bool onHook = classType == CLASS_MSG_ONHOOK_CLID;
  sendStart(vhdhdl, onHook ? fsk->startNumSeizes : 0, onHook ? fsk->startNumMarks : 80);

  // The whole message as it goes out, for the checksum.
  uint8_t msg[2 + 10 + 2 + 20 + 2 + 50];
  int n = 0;

  const char* date = fieldLength(caller->date, sizeof caller->date) == 8 ? caller->date : "01010000";
  msg[n++] = 0x80;
  const int lengthAt = n++;
  msg[n++] = 0x01;
  msg[n++] = 0x08;
  for (int i = 0; i < 8; ++i) msg[n++] = static_cast<uint8_t>(date[i]);
  const int header = n;

  uint8_t numberType = 2;
  const char* number = caller->number;
  size_t numberLen = fieldLength(caller->number, sizeof caller->number);
  char numberReason[1] = {upper(caller->reasonNoNumber)};
  if (isNumberReason(caller->reasonNoNumber, country)) {
    numberType = 4;
    number = numberReason;
    numberLen = 1;
  }
  const int numberAt = n;
  msg[n++] = numberType;
  msg[n++] = static_cast<uint8_t>(numberLen);
  for (size_t i = 0; i < numberLen; ++i) msg[n++] = static_cast<uint8_t>(number[i]);

  uint8_t nameType = 7;
  const char* name = caller->name;
  size_t nameLen = fieldLength(caller->name, sizeof caller->name);
  char nameReason[1] = {upper(caller->reasonNoName)};
  if (isNumberReason(caller->reasonNoName, country)) {
    nameType = 8;
    name = nameReason;
    nameLen = 1;
  }
  const int nameAt = n;
  msg[n++] = nameType;
  msg[n++] = static_cast<uint8_t>(nameLen);
  for (size_t i = 0; i < nameLen; ++i) msg[n++] = static_cast<uint8_t>(name[i]);

  msg[lengthAt] = static_cast<uint8_t>(14 + numberLen + nameLen);

  sendData(vhdhdl, 16, msg, header);
  sendData(vhdhdl, static_cast<uint16_t>(numberLen + 7), msg + numberAt, static_cast<int>(numberLen + 2));
  const int first = static_cast<int>(std::min<size_t>(nameLen, kNameFirstPacket));
  sendData(vhdhdl, static_cast<uint16_t>(first + 7), msg + nameAt, first + 2);
  const int rest = static_cast<int>(nameLen) - first;
  if (rest > 0) sendData(vhdhdl, static_cast<uint16_t>(rest + 5), msg + nameAt + 2 + first, rest);

  return sendChecksumEnd(vhdhdl, static_cast<uint8_t>(-byteSum(msg, n)), kTrailingMarks);
}

// Japanese caller ID: DLE-framed, even parity, CRC-16 over everything after DLE SOH.
int sendJapanMessage(uint16_t vhdhdl, const CLASS_CLID_STATE* caller) {
  sendStart(vhdhdl, 0, 72);

  const char r = upper(caller->reasonNoNumber);
  const bool reason = r == 'C' || r == 'S' || r == 'O' || r == 'P';
  const size_t digits = reason ? 1 : fieldLength(caller->number, sizeof caller->number);

  uint8_t head[8];
  int h = 0;
  for (uint8_t b : {DLE, SOH, BEL, DLE, STX, JP_MSG_TYPE}) head[h++] = b;
  const size_t msgLen = reason ? 3 : (digits == 16 ? 19 : digits + 2);
  head[h++] = static_cast<uint8_t>(msgLen);
  if (msgLen == DLE) head[h++] = DLE;

  uint8_t param[24];
  int p = 0;
  param[p++] = reason ? 4 : 2;
  param[p++] = static_cast<uint8_t>(digits);
  if (digits == DLE) param[p++] = DLE;
  for (size_t i = 0; i < digits; ++i) {
    param[p++] = static_cast<uint8_t>(reason ? r : caller->number[i]);
  }

  uint8_t tail[2] = {DLE, ETX};
  for (uint8_t* b = head; b < head + h; ++b) *b = withEvenParity(*b);
  for (uint8_t* b = param; b < param + p; ++b) *b = withEvenParity(*b);
  for (uint8_t& b : tail) b = withEvenParity(b);

  uint16_t crc = 0;
  for (int i = 2; i < h; ++i) crc = classJCLIDChecksum(head[i], crc);
  for (int i = 0; i < p; ++i) crc = classJCLIDChecksum(param[i], crc);
  for (uint8_t b : tail) crc = classJCLIDChecksum(b, crc);
  const uint16_t reversed = reverse16(crc);

  sendData(vhdhdl, 12, head, h);
  sendData(vhdhdl, static_cast<uint16_t>(p + 5), param, p);

  RelayPacket end(HAPI_PKT_CLASSRELAY_END, 8);
  end.p.hsxWord0 = 4;
  end.p.hsxWord1 = 0;
  end.put(tail[0]);
  end.put(tail[1]);
  end.put(static_cast<uint8_t>(reversed & 0xFF));
  end.put(static_cast<uint8_t>(reversed >> 8));
  return end.send(vhdhdl);
}

uint8_t dtmfCode(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c == '*') return 10;
  if (c == '#') return 11;
  if (c >= 'A' && c <= 'D') return static_cast<uint8_t>(12 + (c - 'A'));
  if (c >= 'a' && c <= 'd') return static_cast<uint8_t>(12 + (c - 'a'));
  return 0xFF;
}

HAPI_PTE_DIALSTRING dialString(const VRG_CLASS_DTMF* dtmf) {
  HAPI_PTE_DIALSTRING d{};
  d.encoderType = 0;
  d.dBmLevel = dtmf->dbLevel;
  d.dBmSkew = 0;
  const uint16_t samples = static_cast<uint16_t>(dtmf->pulseTime * 8);
  d.pulseOnTime = samples;
  d.pulseOffTime = samples;
  d.pauseTime = samples;
  return d;
}

void putDigit(HAPI_PTE_DIALSTRING& d, uint8_t code) {
  if (d.numCharacters >= PTE_DIALSTRING_MAX_DIGITS) return;
  reinterpret_cast<uint8_t*>(d.digitArray)[d.numCharacters++] = code;
}

// A multi-digit code ends at its first 127 and has at most 16 digits.
void putCode(HAPI_PTE_DIALSTRING& d, const uint8_t (&code)[16]) {
  for (uint8_t c : code) {
    if (c == 127) break;
    putDigit(d, c);
  }
}

int sendDialString(uint16_t vhdhdl, HAPI_PTE_DIALSTRING& d) {
  return hdspSendCmdDataAsync(vhdhdl, hdsp::HAPI_PTE_DIALSTRING_CMD, HAPI_REQID_EXT_CMD, sizeof d, &d);
}

}  // namespace

uint16_t classJCLIDChecksum(uint8_t byte, uint16_t crc) {
  for (int bit = 0; bit < 8; ++bit) {
    const bool feedback = (((crc >> 15) ^ (byte >> bit)) & 1) != 0;
    crc = static_cast<uint16_t>(crc << 1);
    if (feedback) crc ^= 0x1021;
  }
  return crc;
}

uint16_t classJCLIDCrc(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) crc = classJCLIDChecksum(bytes[i], crc);
  return reverse16(crc);
}

uint16_t classLevelToQ15(int level) {
  if (level <= 0) return gdBm2Q15Map[0].amplitude;
  for (int row = 0; row < DBM2Q15_ROWS - 1; ++row) {
    if (gdBm2Q15Map[row].level >= level) return gdBm2Q15Map[row].amplitude;
  }
  // Quieter than the table reaches: its quietest level, never the end marker's full scale.
  return gdBm2Q15Map[DBM2Q15_ROWS - 2].amplitude;
}

int classTxConfigure(uint16_t vhdhdl, int lineId, const VRG_CLASS_FSK* fsk, int txDelay) {
  HSZCLIDTXREGS regs{};
  regs.delay = static_cast<uint16_t>(txDelay);
  regs.Amplitude = classLevelToQ15(hdspToneAdjustEgressPowerLevel(fsk->amplitude, lineId));
  regs.MarkFrequency = fsk->markFrequency;
  regs.SpaceFrequency = fsk->spaceFrequency;
  return hdspSendCmdData(vhdhdl, hdsp::CLIDTX_SETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs, &regs);
}

int hdspClassMessage(const CLASS_CLID_STATE* caller, uint16_t vhdhdl, int lineId, VRG_COUNTRY country,
                     CLASS_MSG_TYPE classType, const VRG_CLASS_FSK* fsk, int txDelay) {
  if (caller == nullptr || fsk == nullptr) return -1;
  const int result = classTxConfigure(vhdhdl, lineId, fsk, txDelay);
  if (result != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: HDSP: Configure Class %d Failed on vhdHdl %x",
             static_cast<int>(classType), vhdhdl);
    return result;
  }
  if (country == VRG_COUNTRY_JAPAN) {
    sendJapanMessage(vhdhdl, caller);
  } else {
    sendBellcoreMessage(vhdhdl, caller, country, classType, fsk);
  }
  return 0;
}

int hdspClassVmwi(uint16_t vhdhdl, int lineId, CLASS_VMWI_TYPE type, int format, const VRG_CLASS_FSK* fsk,
                  VRG_COUNTRY country) {
  if (fsk == nullptr) return -1;
  const int result = classTxConfigure(vhdhdl, lineId, fsk, 0);
  if (result != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: HDSP: Configure Class %d Failed on vhdHdl %x",
             static_cast<int>(CLASS_MSG_VMWI), vhdhdl);
    return result;
  }
  const bool activate = type == CLASS_VMWI_ACTIVATE;
  uint8_t msg[5];
  uint16_t trailing = kTrailingMarks;
  if (format == CLASS_MDMF_FORMAT) {
    const bool uk = country == VRG_COUNTRY_UK;
    sendStart(vhdhdl, uk ? 240 : 300, uk ? 72 : 180);
    const uint8_t mdmf[5] = {0x82, 0x03, 0x0B, 0x01, static_cast<uint8_t>(activate ? 0xFF : 0x00)};
    std::memcpy(msg, mdmf, sizeof msg);
    if (uk) trailing = 0;
  } else {
    sendStart(vhdhdl, 300, 180);
    const uint8_t fill = activate ? 0x42 : 0x6F;
    const uint8_t sdmf[5] = {0x06, 0x03, fill, fill, fill};
    std::memcpy(msg, sdmf, sizeof msg);
  }
  sendData(vhdhdl, 10, msg, 5);
  sendChecksumEnd(vhdhdl, static_cast<uint8_t>(-byteSum(msg, 5)), trailing);
  return 0;
}

int hdspClassDtmfTransmit(uint16_t vhdhdl, const CLASS_CLID_STATE* caller, const VRG_CLASS_DTMF* dtmf) {
  if (caller == nullptr || dtmf == nullptr) return -1;
  HAPI_PTE_DIALSTRING d = dialString(dtmf);
  switch (upper(caller->reasonNoNumber)) {
    case 'O': putCode(d, dtmf->unavailCode); break;
    case 'P': putCode(d, dtmf->privateCode); break;
    case 'E': putCode(d, dtmf->errorCode); break;
    default: {
      const size_t length = fieldLength(caller->number, sizeof caller->number);
      int digits = 0;
      for (size_t i = 0; i < length; ++i) digits += dtmfCode(caller->number[i]) != 0xFF ? 1 : 0;
      if (digits > 20) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                 "HDSP: HDSP Class WARNING: Too many digits (%d) in clid number !!!", digits);
        return -1;
      }
      putDigit(d, dtmf->startCode);
      // Characters that have no DTMF digit are left out rather than sent as something else.
      for (size_t i = 0; i < length; ++i) {
        const uint8_t code = dtmfCode(caller->number[i]);
        if (code != 0xFF) putDigit(d, code);
      }
      putDigit(d, dtmf->endCode);
      break;
    }
  }
  return sendDialString(vhdhdl, d);
}

int hdspClassDtmfTransmitVmwi(uint16_t vhdhdl, CLASS_VMWI_TYPE type, const VRG_CLASS_DTMF* dtmf) {
  if (dtmf == nullptr) return -1;
  HAPI_PTE_DIALSTRING d = dialString(dtmf);
  putDigit(d, 14);
  putDigit(d, 0);
  putDigit(d, type == CLASS_VMWI_ACTIVATE ? 1 : 0);
  putDigit(d, 11);
  return sendDialString(vhdhdl, d);
}

int hdspClassTransmit(uint16_t vhdhdl) {
  return hdspSendCmdAsync(vhdhdl, hdsp::CLIDTX_TRANSMIT_CMD, HAPI_REQID_STD_CMD, 1, 0);
}

int hdspClassDtmfStopTransmit(uint16_t vhdhdl) {
  return hdspSendCmd(vhdhdl, hdsp::HAPI_PTE_TONE_END_CMD, HAPI_REQID_STD_CMD, 0, 0);
}

int hdspClassStopTransmit(uint16_t vhdhdl) {
  const int dtmf = hdspClassDtmfStopTransmit(vhdhdl);
  const int fsk = hdspSendCmd(vhdhdl, hdsp::CLIDTX_TRANSMIT_CMD, HAPI_REQID_STD_CMD, 0, 0);
  return dtmf != 0 ? dtmf : fsk;
}

int hdspClassEnable(uint16_t vhdhdl) {
  return hdspSendCmd(vhdhdl, hdsp::CLIDTX_ENABLE_CMD, HAPI_REQID_STD_CMD, 1, 0);
}

int hdspClassDisable(uint16_t vhdhdl) {
  return hdspSendCmdAsync(vhdhdl, hdsp::CLIDTX_ENABLE_CMD, HAPI_REQID_STD_CMD, 0, 0);
}
