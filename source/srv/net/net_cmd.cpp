// The NET service's commands: the register copies of the packet services, mode and voice-rate
// changes, statistics queries.
#include <cstddef>
#include <cstring>

#include "lhapi.h"
#include "net_codes.h"
#include "net_internal.h"

namespace netsrv {
namespace {

// One register copy kept by NET: where it lies in the instance, its size, the host's commands for
// it and the commands that pass a write on to the service that owns the registers (none for
// NET's own registers, whose changes NET applies itself).
struct RegCopy {
  uint16_t setRegsCmd;
  uint16_t getRegsCmd;
  uint16_t setReg1Cmd;  // 0: no one-word write
  size_t offset;
  uint16_t size;
  uint16_t forwardSetRegs;
  uint16_t forwardSetReg1;
};

constexpr RegCopy kRegCopies[] = {
    {HAPI_NET_CONFIG_SETREGS_CMD, HAPI_NET_CONFIG_GETREGS_CMD, HAPI_NET_CONFIG_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetregs), sizeof(HSZNETREGS), 0, 0},
    {HAPI_NET_VOICE_SETREGS_CMD, HAPI_NET_VOICE_GETREGS_CMD, HAPI_NET_VOICE_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetpveregs), sizeof(HSZVOICEREGS), HAPI_CODEC_SETREGS_CMD,
     HAPI_CODEC_SETREG1_CMD},
    {HAPI_NET_FAXR_SETREGS_CMD, HAPI_NET_FAXR_GETREGS_CMD, HAPI_NET_FAXR_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetFaxrRegs), sizeof(HSZFAXRREGS), kFaxrSetRegs, kFaxrSetReg1},
    {HAPI_NET_PTE_SETREGS_CMD, HAPI_NET_PTE_GETREGS_CMD, HAPI_NET_PTE_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetpteregs), sizeof(HAPI_PTE_REGS), HAPI_PTE_SETREGS_CMD,
     HAPI_PTE_SETREG1_CMD},
    {HAPI_NET_RTP_SETREGS_CMD, HAPI_NET_RTP_GETREGS_CMD, HAPI_NET_RTP_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetRtpRegs), sizeof(HAPI_RTP_REGS), HAPI_RTP_SETREGS_CMD,
     HAPI_RTP_SETREG1_CMD},
    {HAPI_NET_RTP_SETREGS2_CMD, HAPI_NET_RTP_GETREGS2_CMD, 0, offsetof(HSZNETLOCLMEM, hsxnetRtpRegs2),
     sizeof(HAPI_RTP_REGS2), HAPI_RTP_SETREGS2_CMD, 0},
    {HAPI_NET_T38_SETREGS_CMD, HAPI_NET_T38_GETREGS_CMD, HAPI_NET_T38_SETREG1_CMD,
     offsetof(HSZNETLOCLMEM, hsxnetT38Regs), sizeof(HAPI_T38_REGS), kT38SetRegs, kT38SetReg1},
};

uint8_t* bytesOf(HSZNETLOCLMEM* net, const RegCopy& copy) {
  return reinterpret_cast<uint8_t*>(net) + copy.offset;
}

HAPIRESULT answerWith(const HSFMSG* cmd, HSFMSG* answer, const void* data, uint16_t length) {
  if (answer == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  answer->ext.header = cmd->std.header;
  answer->ext.length = length;
  answer->ext.bufp = const_cast<void*>(data);
  return HAPISUCCESS;
}

// After a write of NET's registers, tell the digit and tone service and the call discriminator of
// the option words that changed.
void applyNetRegChanges(HSZNETLOCLMEM* net, const HSZNETREGS& before) {
  const HSZNETREGS& now = net->hsxnetregs;
  if (now.hsxPteCallSetupOptions != before.hsxPteCallSetupOptions &&
      net->hsxmode == NETMODE_CALLSETUP) {
    send(HAPI_PTE_ENABLE_CMD, 1, now.hsxPteCallSetupOptions);
  }
  if (now.hsxPtePacketVoiceOptions != before.hsxPtePacketVoiceOptions &&
      net->hsxmode != NETMODE_CALLSETUP) {
    send(HAPI_PTE_ENABLE_CMD, 1, now.hsxPtePacketVoiceOptions);
  }
  if (now.hsxCallDOptions != before.hsxCallDOptions) {
    send(HAPI_CDIS_CONFIG_CMD, now.hsxCallDOptions, 0);
  }
}

// A whole register block. A block shorter than the record is refused: reading the record from it
// would read past the data the host sent.
HAPIRESULT setRegs(HSZNETLOCLMEM* net, const RegCopy& copy, const HSFMSG* cmd) {
  if (cmd->ext.bufp == nullptr || cmd->ext.length < copy.size) return HAPI_ERR_INVALID_REGS;
  const HSZNETREGS before = net->hsxnetregs;
  uint8_t* regs = bytesOf(net, copy);
  std::memcpy(regs, cmd->ext.bufp, copy.size);
  if (copy.forwardSetRegs != 0) {
    sendExt(copy.forwardSetRegs, copy.size, regs);
  } else {
    applyNetRegChanges(net, before);
  }
  return HAPISUCCESS;
}

// One word at an even byte offset inside the record. An odd offset would write across two
// registers and an offset past the record outside NET's copy: both are refused unwritten.
HAPIRESULT setReg1(HSZNETLOCLMEM* net, const RegCopy& copy, const HSFMSG* cmd) {
  const uint16_t offset = cmd->std.op1;
  const uint16_t value = cmd->std.op2;
  if (offset & 1) {
    LHAPI_ASSERT_FAIL();
    return HAPI_ERR_INVALID_REGS;
  }
  if (size_t{offset} + sizeof(value) > copy.size) return HAPI_ERR_INVALID_REGS;
  const HSZNETREGS before = net->hsxnetregs;
  std::memcpy(bytesOf(net, copy) + offset, &value, sizeof(value));
  if (copy.forwardSetReg1 != 0) {
    send(copy.forwardSetReg1, offset, value);
  } else {
    applyNetRegChanges(net, before);
  }
  return HAPISUCCESS;
}

NET_EVT eventOfMode(uint16_t mode) {
  switch (mode) {
    case NETMODE_IDLE:
      return e_goIdleCmd;
    case NETMODE_CALLSETUP:
      return e_goCallSetupCmd;
    case NETMODE_PACKETVOICE:
      return e_goVoiceCmd;
    case NETMODE_FAXRELAY:
      return e_goFaxRelayCmd;
    case NETMODE_VOICEBANDDATA:
      return e_goVbandCmd;
    default:
      return e_null;
  }
}

HAPIRESULT setMode(HSZNETLOCLMEM* net, const HSFMSG* cmd, HSFMSG* answer) {
  const uint16_t mode = cmd->std.op1;
  if (net->setnetmode_rsp != nullptr || (net->hsxstatus & HSNET_STATUS_VOICERATE)) {
    return HAPIFAILURE;
  }
  if (mode == net->hsxmode) return HAPISUCCESS;
  const NET_EVT event = eventOfMode(mode);
  if (event == e_null) return HAPI_ERR_INVALID_CMD;
  if (mode == NETMODE_FAXRELAY) net->faxRelayStartMode = cmd->std.op2;

  net->setnetmode_rsp = holdAnswer(cmd, answer);
  const int matched = net_procEvent(event, net);
  // A switch started (or one under way): the answer goes when it has completed.
  if (net->hsxstatus & HSNET_STATUS_SWITCHING) return HAPI_RESPONSE_DELAYED;
  // No switch will come to complete this change: answer now instead of holding the answer for
  // ever (and refusing every later change) — success when the channel is in the state asked for.
  if (matched && net->statep == net_stateOfMode(mode)) {
    completeModeChange(net);
    return HAPI_RESPONSE_DELAYED;
  }
  freeHeldAnswer(net->setnetmode_rsp);
  return HAPIFAILURE;
}

// Whether the channel's stack has a codec service that takes commands: without one no voice-rate
// answer would ever come back.
bool codecTakesCommands() {
  const QRN_Service* codec = QRN_FindServiceById(QRN_CurrentSocket(), HAPI_CODEC_SRV);
  return codec != nullptr && codec->archive != nullptr && codec->archive->ioctlFnc != nullptr;
}

HAPIRESULT setVoiceRate(HSZNETLOCLMEM* net, const HSFMSG* cmd, HSFMSG* answer) {
  if (net->hsxstatus & HSNET_STATUS_VOICERATE) return HAPIFAILURE;
  const bool voice = net->hsxmode == NETMODE_PACKETVOICE;
  if (!voice && net->hsxmode != NETMODE_VOICEBANDDATA) return HAPIFAILURE;
  if (!codecTakesCommands()) return HAPIFAILURE;
  const uint16_t encoder = cmd->std.op1;
  const uint16_t interval = cmd->std.op2;
  if (voice) {
    net->hsxnetregs.hsxPacketVoiceEncoder = encoder;
    net->hsxnetregs.hsxVoiceSuperPktInterval = interval;
  }
  send(HAPI_CODEC_SETVOICERATE_CMD, encoder, voice ? interval : uint16_t(interval | 0x8000));
  if (net->setvoicerate_rsp != nullptr) {
    LHAPI_ASSERT_FAIL();
    freeHeldAnswer(net->setvoicerate_rsp);
  }
  net->setvoicerate_rsp = holdAnswer(cmd, answer);
  net->hsxstatus |= HSNET_STATUS_VOICERATE;
  return HAPI_RESPONSE_DELAYED;
}

}  // namespace
}  // namespace netsrv

using namespace netsrv;

HAPIRESULT netio(HSZNETLOCLMEM* net, HSFMSG* cmd, HSFMSG* answer) {
  const uint16_t code = cmd->std.header;
  for (const RegCopy& copy : kRegCopies) {
    if (code == copy.setRegsCmd) return setRegs(net, copy, cmd);
    if (code == copy.getRegsCmd) return answerWith(cmd, answer, bytesOf(net, copy), copy.size);
    if (copy.setReg1Cmd != 0 && code == copy.setReg1Cmd) return setReg1(net, copy, cmd);
  }
  switch (code) {
    case HAPI_NET_CONFIG_RESETREGS_CMD:
      if (net->hsxmode != NETMODE_IDLE) return HAPIFAILURE;
      net->hsxnetregs = hsnetRegsDefault();
      return HAPISUCCESS;
    case HAPI_NET_GETMODE_CMD:
      return answerWith(cmd, answer, &net->hsxmode, sizeof(net->hsxmode));
    case HAPI_NET_SETMODE_CMD:
      return setMode(net, cmd, answer);
    case HAPI_NET_SETVOICERATE_CMD:
      return setVoiceRate(net, cmd, answer);
    case HAPI_NET_SETFAXRATE_CMD:
      send(kFaxrSetRate, cmd->std.op1, 0);
      return HAPISUCCESS;
    case HAPI_NET_GETVOICESTATE_CMD: {
      const HAPIRESULT result = answerWith(cmd, answer, &net->hsxpvestate, sizeof(HAPI_PVE_STATE));
      send(HAPI_CODEC_GETSTATE_CMD, 0, 0);
      return result;
    }
    case HAPI_NET_GETVOICESTATS_CMD: {
      const HAPIRESULT result = answerWith(cmd, answer, &net->hsxpvestats, sizeof(HAPI_PVE_STATS));
      requestCodecStats(net);
      return result;
    }
    case HAPI_NET_GETFAXSTATS_CMD: {
      const HAPIRESULT result = answerWith(cmd, answer, &net->hsxfaxrstats, sizeof(HSZFAXRSTATS));
      requestFaxrStats(net);
      return result;
    }
    case HAPI_NET_VBD_AUTOSWITCH_MASK:
      net->autoswitchMask = cmd->std.op1;
      return HAPISUCCESS;
    default:
      return HAPIFAILURE;
  }
}
