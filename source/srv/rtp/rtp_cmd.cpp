// The RTP service's commands: register blocks with their checks, session start and stop,
// statistics and state, and the small settings the host makes before a session.
#include <cstring>

#include "lhapi.h"
#include "rtp_internal.h"

int rtpGetPayloadTypeFromMediaPayloadMap(const uint16_t* map, unsigned code) {
  for (size_t i = 0; i < HAPI_RTP_MEDIA_MAP_ENTRIES; ++i) {
    if ((map[i] & 0xFF) == code) return map[i] >> 8;
  }
  return RTP_MAP_NOT_FOUND;
}

int rtpGetCodecFromMediaPayloadMap(const uint16_t* map, unsigned payloadType) {
  for (size_t i = 0; i < HAPI_RTP_MEDIA_MAP_ENTRIES; ++i) {
    if ((map[i] >> 8) == payloadType) return map[i] & 0xFF;
  }
  return RTP_MAP_NOT_FOUND;
}

namespace {

bool isValidMapEntry(uint16_t entry) {
  if (entry & 0x8000) return false;
  const unsigned code = entry & 0xFF;
  return code < HAPI_PKT_VC_ALG_MAX || code == HAPI_PKT_VC_PCM_CLEAR ||
         (code >= HAPI_PKT_VC_GSM_AMR_FRAME && code <= HAPI_PKT_VC_VARIABLE_MAX);
}

bool isValidRedundancyType(uint16_t word) { return isValidDynamicPayloadType(word & 0xFF) || word == 129; }

bool isValidEventType(uint16_t word) { return isValidDynamicPayloadType(word) || word == 128; }

}  // namespace

bool isPayloadMapValid(const uint16_t* map) {
  for (size_t i = 0; i < HAPI_RTP_MEDIA_MAP_ENTRIES; ++i) {
    if (!isValidMapEntry(map[i])) return false;
  }
  return true;
}

namespace rtpsrv {

const uint8_t* sdesItemText(const HAPI_RTP_REGS& regs, unsigned type, uint16_t* length) {
  const uint16_t* triple = nullptr;
  switch (type) {
    case 1: triple = &regs.cnameLength; break;
    case 2: triple = &regs.nameLength; break;
    case 3: triple = &regs.emailLength; break;
    case 4: triple = &regs.phoneLength; break;
    case 5: triple = &regs.locLength; break;
    case 6: triple = &regs.toolLength; break;
    case 7: triple = &regs.noteLength; break;
    case 8: triple = &regs.privLength; break;
    default: *length = 0; return nullptr;
  }
  // The text is held as bytes; at most 64 of the 32 words' 64 bytes are ever sent.
  *length = triple[0] > HAPI_RTP_MAX_ITEM_SIZE ? HAPI_RTP_MAX_ITEM_SIZE : triple[0];
  return reinterpret_cast<const uint8_t*>(triple + 2);
}

namespace {

constexpr size_t kOffRfc2198 = offsetof(HAPI_RTP_REGS, rfc2198PayloadType);
constexpr size_t kOffNte = offsetof(HAPI_RTP_REGS, ntePayloadType);
constexpr size_t kOffMap = offsetof(HAPI_RTP_REGS, mediaPayloadTypeMap);
constexpr size_t kOffRfc2198Egress = offsetof(HAPI_RTP_REGS, rfc2198EgressPayloadType);
constexpr size_t kOffNteEgress = offsetof(HAPI_RTP_REGS, nteEgressPayloadType);
constexpr size_t kOffEgressMap = offsetof(HAPI_RTP_REGS, mediaEgressPayloadTypeMap);
constexpr size_t kOffLevels = offsetof(HAPI_RTP_REGS, rfc2198RedundancyLevels);
constexpr size_t kMapBytes = 2 * HAPI_RTP_MEDIA_MAP_ENTRIES;
static_assert(kOffRfc2198 == 4 && kOffNte == 6 && kOffMap == 10 && kOffRfc2198Egress == 614 &&
                  kOffNteEgress == 616 && kOffEgressMap == 618 && kOffLevels == 836,
              "register offsets the checks name");

HAPIRESULT answerWith(const HSFMSG* cmd, HSFMSG* answer, uint16_t header, const void* data, uint16_t length) {
  (void)cmd;
  if (answer == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  answer->ext.header = header;
  answer->ext.length = length;
  answer->ext.bufp = const_cast<void*>(data);
  return HAPISUCCESS;
}

// Bit n of sdesOtherItems for each of the items 3..8 that has text.
void updateSdesItemList(RTPSRVINSTANCEMEM* r) {
  r->sdesOtherItems = 0;
  r->sdesOtherItemCount = 0;
  for (unsigned type = 3; type <= 8; ++type) {
    uint16_t length = 0;
    sdesItemText(r->regs, type, &length);
    if (length != 0) {
      r->sdesOtherItems |= static_cast<uint16_t>(1u << type);
      ++r->sdesOtherItemCount;
    }
  }
}

void afterRegisterWrite(RTPSRVINSTANCEMEM* r) {
  clearPayloadTypeCache(r);
  updateSdesItemList(r);
}

HAPIRESULT setRegs(RTPSRVINSTANCEMEM* r, const HSFMSG* cmd) {
  // A block shorter than the record would be read past its end: refused.
  if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HAPI_RTP_REGS)) {
    return HAPI_ERR_INVALID_REGS;
  }
  HAPI_RTP_REGS next;
  std::memcpy(&next, cmd->ext.bufp, sizeof(next));
  if (!isValidRedundancyType(next.rfc2198PayloadType) || !isValidEventType(next.ntePayloadType) ||
      !isPayloadMapValid(next.mediaPayloadTypeMap) || !isValidRedundancyType(next.rfc2198EgressPayloadType) ||
      !isValidEventType(next.nteEgressPayloadType) || !isPayloadMapValid(next.mediaEgressPayloadTypeMap)) {
    return HAPI_ERR_INVALID_REGS;
  }
  if (next.rfc2198RedundancyLevels > 2) return HAPI_ERR_INVALID_REGS;
  if ((next.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) == 0) {
    markXrUninitialised(r);
  }
  r->regs = next;
  afterRegisterWrite(r);
  return HAPISUCCESS;
}

bool inRange(size_t offset, size_t begin, size_t bytes) { return offset >= begin && offset < begin + bytes; }

HAPIRESULT setReg1(RTPSRVINSTANCEMEM* r, uint16_t offset, uint16_t value) {
  if (offset >= sizeof(HAPI_RTP_REGS)) return HAPI_ERR_INVALID_REGS;
  if (offset & 1) {
    LHAPI_ASSERT_FAIL();
    return HAPI_ERR_INVALID_REGS;
  }
  bool ok = true;
  if (offset == kOffRfc2198 || offset == kOffRfc2198Egress) {
    ok = isValidRedundancyType(value);
  } else if (offset == kOffNte || offset == kOffNteEgress) {
    ok = isValidEventType(value);
  } else if (inRange(offset, kOffMap, kMapBytes) || inRange(offset, kOffEgressMap, kMapBytes)) {
    ok = isValidMapEntry(value);
  } else if (offset == kOffLevels) {
    ok = value <= 2;
  } else if (offset == 0 && (value & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) == 0) {
    markXrUninitialised(r);
  }
  if (!ok) return HAPI_ERR_INVALID_REGS;
  std::memcpy(reinterpret_cast<uint8_t*>(&r->regs) + offset, &value, sizeof(value));
  afterRegisterWrite(r);
  return HAPISUCCESS;
}

void writeRegs2(RTPSRVINSTANCEMEM* r, uint16_t value) {
  // Delivery to the codec resumes: the mean-absolute-jitter measurement starts over.
  if ((r->regs2.configFlags2 & HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK) != 0 &&
      (value & HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK) == 0) {
    r->majCalcInfo.firstPacket = 1;
  }
  r->regs2.configFlags2 = value;
}

void stopSession(RTPSRVINSTANCEMEM* r) {
  if (r->state.mode == 1) {
    if (r->regs.configFlags & HAPI_RTP_INGRESS_GENERATE_RTCP_BYE_PACKET_ENABLE_MASK) {
      r->generateBye = true;
    }
    r->transitInitialized = false;
    r->GR303SendTimer = 0;
    r->GR303Event = 0;
    r->GR303SendCounter = 0;
    r->GR303SendEvent = false;
  }
  r->state.mode = 0;
  r->farEndRFC3551Compliant = true;
  std::memset(r->seqNumHist, 0, sizeof(r->seqNumHist));
  std::memset(r->timestampHist, 0, sizeof(r->timestampHist));
}

void startSession(RTPSRVINSTANCEMEM* r) {
  if (r->state.mode == 0) {
    hsfQmFlush(&r->rtpLoopbackQ);
    std::memset(&r->remoteSourceInfo, 0, sizeof(r->remoteSourceInfo));
    r->prevToneCode = 255;
    r->transitInitialized = false;
    r->egressToneState = false;
    r->firstRTPPacketReceived = false;
    r->remoteSourceHeld = false;
    r->sourceCandidate = RTP_SOURCE_CANDIDATE{};
    r->displacedSource = RTP_SOURCE_DISPLACED{};
    r->nextOnIsNewTone = true;
    if (r->regs.configFlags & HAPI_RTP_USE_USER_DEFINED_SSRC_MASK) {
      r->state.higherLocalSsrc = r->userDefinedHigherLocalSsrc;
      r->state.lowerLocalSsrc = r->userDefinedLowerLocalSsrc;
    } else {
      drawLocalSsrc(r);
    }
  }
  r->state.sequenceNum = (r->regs.configFlags & HAPI_RTP_USE_USER_DEFINED_INITIAL_SEQUENCE_NUMBER_MASK)
                             ? r->initialSequenceNumber
                             : rtpHostSources.rand16();
  r->state.higherBaseTimestamp = rtpHostSources.rand16();
  r->state.lowerBaseTimestamp = rtpHostSources.rand16();
  r->state.bNewBaseTimeStampSet = 1;
  r->state.mode = 1;
  r->dataSentSinceLastReport = false;
  r->dataSentSincePrevReport = false;
  r->dataReceivedSinceLastReport = false;
  r->dataSentInCurrentSession = false;
  r->stats.session = HAPI_RTP_SESSION_STATS{};
  r->previousPacketInfoIndex = 0;
  for (RTP_RFC2198_INFO& slot : r->IngressPreviousPacketRfc2198Info) slot.isPayloadValid = false;
}

HAPIRESULT setMode(RTPSRVINSTANCEMEM* r, uint16_t mode) {
  if (mode == 0) {
    stopSession(r);
  } else if (mode == 1) {
    startSession(r);
  } else {
    return HAPI_ERR_INVALID_REGS;
  }
  return HAPISUCCESS;
}

}  // namespace
}  // namespace rtpsrv

using namespace rtpsrv;

HAPIRESULT rtpIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* answer) {
  auto* r = instanceOf(srvp);
  if (r == nullptr || cmd == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  const uint16_t op1 = cmd->std.op1;
  const uint16_t op2 = cmd->std.op2;
  switch (cmd->std.header) {
    case HAPI_RTP_GETSTATS_EXT_CMD:
      return answerWith(cmd, answer, HAPI_RTP_GETSTATS_EXT_CMD, &r->stats, sizeof(r->stats));
    case HAPI_RTP_SETREGS2_CMD:
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HAPI_RTP_REGS2)) {
        return HAPI_ERR_INVALID_REGS;
      }
      uint16_t word;
      std::memcpy(&word, cmd->ext.bufp, sizeof(word));
      writeRegs2(r, word);
      return HAPISUCCESS;
    case HAPI_RTP_GETREGS2_CMD:
      return answerWith(cmd, answer, HAPI_RTP_GETREGS2_RSP, &r->regs2, sizeof(r->regs2));
    case HAPI_RTP_SET_NTP_TIMESTAMP_CMD: {
      HAPI_RTP_NTP_TIMESTAMP t{};
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(t)) return HAPI_ERR_INVALID_REGS;
      std::memcpy(&t, cmd->ext.bufp, sizeof(t));
      rtpHostSources.rtpTimeSet((uint32_t{t.secondsHigh} << 16) | t.secondsLow,
                                (uint32_t{t.microsecondsHigh} << 16) | t.microsecondsLow);
      return HAPISUCCESS;
    }
    case HAPI_RTP_SET_CSVOICE_CMD: r->manageCSCall = op1 == 1; return HAPISUCCESS;
    case HAPI_RTP_SETREGS_CMD: return setRegs(r, cmd);
    case HAPI_RTP_SETMODE_CMD: return setMode(r, op1);
    case HAPI_RTP_SET_SSRC_CMD:
      r->userDefinedHigherLocalSsrc = op1;
      r->userDefinedLowerLocalSsrc = op2;
      return HAPISUCCESS;
    case HAPI_RTP_GEN_NTE_CMD:
      if (r->nteEvent != 0) return HAPI_ERR_SRV_BUSY;
      r->nteEvent = static_cast<uint8_t>(op1);
      return HAPISUCCESS;
    case HAPI_RTP_SET_INITIAL_SEQUENCE_NUMBER_CMD: r->initialSequenceNumber = op1; return HAPISUCCESS;
    case HAPI_RTP_PACKET_EXPAND_END_CMD: r->packetExpandEnd = op1; return HAPISUCCESS;
    case HAPI_RTP_VBD_PAYLOADMAP_SET_CMD:
      r->vbdPayloadType = static_cast<uint8_t>(op1);
      r->vbdCodec = static_cast<uint8_t>(op2);
      return HAPISUCCESS;
    case HAPI_RTP_SETREG21_CMD:
      // The second block has one word: any other offset would write outside it.
      if (op1 & 1) {
        LHAPI_ASSERT_FAIL();
        return HAPI_ERR_INVALID_REGS;
      }
      if (op1 != 0) return HAPI_ERR_INVALID_REGS;
      writeRegs2(r, op2);
      return HAPISUCCESS;
    case HAPI_RTP_GETREGS_CMD:
      return answerWith(cmd, answer, HAPI_RTP_GETREGS_RSP, &r->regs, sizeof(r->regs));
    case HAPI_RTP_SETREG1_CMD: return setReg1(r, op1, op2);
    case HAPI_RTP_GETSTATS_CMD:
      r->statsReport = r->stats;
      hsfObdSendExt(HAPI_RTP_GETSTATS_EVT, sizeof(r->statsReport), &r->statsReport);
      r->resetStats = (op1 & 1) != 0;
      return HAPISUCCESS;
    case HAPI_RTP_GETSTATE_CMD:
      return answerWith(cmd, answer, HAPI_RTP_GETSTATE_RSP, &r->state, sizeof(r->state));
    case HAPI_RTP_REG_UPDATE_CMD: return HAPISUCCESS;
    case HAPI_RTP_RESET_STATS_CMD: r->stats = HAPI_RTP_STATS{}; return HAPISUCCESS;
    default: return HAPI_ERR_INVALID_CMD;
  }
}
