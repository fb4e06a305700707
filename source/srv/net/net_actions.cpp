// Actions of the mode state machine. A mode action tells every service of the new stack what the
// mode needs, in a fixed order, and records the mode; the framework runs it once the channel runs
// that stack, so it makes NET the sender of what it sends.
#include <cstring>

#include "net_codes.h"
#include "net_internal.h"

using namespace netsrv;

namespace {

bool hasOption(const HSZNETLOCLMEM* net, uint16_t option) {
  return (net->hsxnetregs.hsxNetOptions & option) != 0;
}

void pushCodecRegs(const HSZNETLOCLMEM* net) {
  sendExt(HAPI_CODEC_SETREGS_CMD, sizeof(HSZVOICEREGS), &net->hsxnetpveregs);
}
void pushRtpRegs(const HSZNETLOCLMEM* net) {
  sendExt(HAPI_RTP_SETREGS_CMD, sizeof(HAPI_RTP_REGS), &net->hsxnetRtpRegs);
}
void pushRtpRegs2(const HSZNETLOCLMEM* net) {
  sendExt(HAPI_RTP_SETREGS2_CMD, sizeof(HAPI_RTP_REGS2), &net->hsxnetRtpRegs2);
}
void pushPteRegs(const HSZNETLOCLMEM* net) {
  sendExt(HAPI_PTE_SETREGS_CMD, sizeof(HAPI_PTE_REGS), &net->hsxnetpteregs);
}

// NET asks itself for the encoder change, so that the codec's answer completes it.
void setVoiceRate(uint16_t encoder, uint16_t interval) {
  send(HAPI_NET_SETVOICERATE_CMD, encoder, interval);
}

// The call discriminator as voice wants it: configured and running with V.21 flag detection,
// or stopped when NET runs no call discrimination.
void cdisOn(const HSZNETLOCLMEM* net) {
  if (hasOption(net, HSNET_NET_OPTION_CDIS)) {
    send(HAPI_CDIS_CONFIG_CMD, net->hsxnetregs.hsxCallDOptions, 0);
    send(HAPI_CDIS_ENABLE_CMD, 1, 0);
    send(HAPI_CDIS_EXTLOWENERGYDET_CMD, 0, 0);
    send(HAPI_CDIS_V21ENABLE_CMD, 1, 1);
  } else {
    send(HAPI_CDIS_ENABLE_CMD, 0, 0);
    send(HAPI_CDIS_V21ENABLE_CMD, 0, 0);
  }
}

void clearCodecCopies(HSZNETLOCLMEM* net) {
  std::memset(&net->hsxpvestats, 0, sizeof(net->hsxpvestats));
  std::memset(&net->hsxpvestate, 0, sizeof(net->hsxpvestate));
}

constexpr uint16_t kEcanOptionsVoice = 0;
constexpr uint16_t kEcanOptionsData = HAPI_HEC_LEVELCTRL_OFF | HAPI_HEC_NLP_OFF;
constexpr uint16_t kEcanOptionsCallSetup = HAPI_HEC_LEVELCTRL_OFF | HAPI_HEC_ADAPT_OFF;

}  // namespace

void goIdleOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  send(HAPI_CODEC_ENABLE_CMD, 0, 0);
  send(HAPI_CDIS_ENABLE_CMD, 0, 0);
  send(HAPI_RTP_SETMODE_CMD, 0, 0);
  send(HAPI_PTE_ENABLE_CMD, 0, 0);
  net->hsxmode = NETMODE_IDLE;
}

void goCallSetupOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  ecanEnableWithOptions(net, 1, kEcanOptionsCallSetup);
  send(HAPI_RTP_SETMODE_CMD, 0, 0);
  send(HAPI_CODEC_ENCSTART_CMD, 0, 0);
  send(HAPI_CODEC_ENABLE_CMD, 0, 0);
  pushPteRegs(net);
  send(HAPI_PTE_ENABLE_CMD, 1, net->hsxnetregs.hsxPteCallSetupOptions);
  net->hsxmode = NETMODE_CALLSETUP;
}

void goVoiceOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  const HSZNETREGS& regs = net->hsxnetregs;
  pushCodecRegs(net);
  pushRtpRegs(net);
  pushRtpRegs2(net);
  pushPteRegs(net);
  ecanEnableWithOptions(net, 1, kEcanOptionsVoice);
  send(HAPI_PTE_ENABLE_CMD, 1, regs.hsxPtePacketVoiceOptions);
  send(HAPI_CODEC_ENABLE_CMD, 1, 0);
  send(HAPI_RTP_SETMODE_CMD, 1, 0);
  setVoiceRate(regs.hsxPacketVoiceEncoder, regs.hsxVoiceSuperPktInterval);
  send(HAPI_CODEC_FREEZE_CMD, 0, 0);
  send(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  clearCodecCopies(net);
  cdisOn(net);
  net->hsxmode = NETMODE_PACKETVOICE;
}

void goVbandOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  const HSZNETREGS& regs = net->hsxnetregs;
  pushRtpRegs(net);
  pushRtpRegs2(net);
  send(HAPI_RTP_SETMODE_CMD, 1, 0);
  send(HAPI_PTE_ENABLE_CMD, 0, 0);
  ecanEnableWithOptions(net, 1, kEcanOptionsData);
  pushCodecRegs(net);
  send(HAPI_CODEC_ENABLE_CMD, 1, 0);
  setVoiceRate(regs.hsxVoiceBandDefault, regs.hsxVBDSuperPktInterval);
  send(HAPI_CODEC_FREEZE_CMD, 1, 1);
  send(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  if (hasOption(net, HSNET_NET_OPTION_CDIS)) {
    send(HAPI_CDIS_CONFIG_CMD, regs.hsxCallDOptions, 0);
    send(HAPI_CDIS_ENABLE_CMD, 1, 0);
  } else {
    send(HAPI_CDIS_ENABLE_CMD, 0, 0);
  }
  send(HAPI_CDIS_V21ENABLE_CMD, 1, 1);
  send(HAPI_CDIS_EXTLOWENERGYDET_CMD, 1, 0);
  net->hsxmode = NETMODE_VOICEBANDDATA;
}

void gofromVoice_VbandOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  const HSZNETREGS& regs = net->hsxnetregs;
  ecanEnableWithOptions(net, 1, kEcanOptionsData);
  send(HAPI_PTE_ENABLE_CMD, 0, 0);
  if (hasOption(net, HSNET_NET_OPTION_AUTO_ENC_SWITCH)) {
    setVoiceRate(regs.hsxVoiceBandDefault, regs.hsxVBDSuperPktInterval);
  }
  send(HAPI_CODEC_FREEZE_CMD, 1, 1);
  send(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  send(HAPI_CDIS_V21ENABLE_CMD, 1, 1);
  send(HAPI_CDIS_EXTLOWENERGYDET_CMD, 1, 0);
  net->hsxmode = NETMODE_VOICEBANDDATA;
}

void gofromVband_VoiceOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  const HSZNETREGS& regs = net->hsxnetregs;
  ecanEnableWithOptions(net, 1, kEcanOptionsVoice);
  send(HAPI_PTE_ENABLE_CMD, 1, regs.hsxPtePacketVoiceOptions);
  if (hasOption(net, HSNET_NET_OPTION_AUTO_ENC_SWITCH)) {
    setVoiceRate(regs.hsxPacketVoiceEncoder, regs.hsxVoiceSuperPktInterval);
  }
  send(HAPI_CODEC_FREEZE_CMD, 0, 0);
  send(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  cdisOn(net);
  net->hsxmode = NETMODE_PACKETVOICE;
}

void goFaxrOn(void* srvp, void*) {
  CurrentServiceScope asNet;
  HSZNETLOCLMEM* net = instanceOf(srvp);
  sendExt(kFaxrSetRegs, sizeof(HSZFAXRREGS), &net->hsxnetFaxrRegs);
  send(kFaxrEnable, 1, net->faxRelayStartMode);
  net->faxRelayStartMode = 0;
  sendExt(kT38SetRegs, sizeof(HAPI_T38_REGS), &net->hsxnetT38Regs);
  send(kT38Enable, 1, 0);
  ecanEnableWithOptions(net, 1, kEcanOptionsData);
  net->hsxmode = NETMODE_FAXRELAY;
}

void bypassEcan(void* srvp, void*) { sendEcan(instanceOf(srvp), HAPI_HEC_ENABLE_CMD, 0, 0); }

void unbypassEcan(void* srvp, void*) { sendEcan(instanceOf(srvp), HAPI_HEC_ENABLE_CMD, 1, 0); }

void enableHdlcDet(void*, void*) { send(HAPI_CDIS_V21ENABLE_CMD, 1, 0); }

void disableHdlcDet(void*, void*) { send(HAPI_CDIS_V21ENABLE_CMD, 0, 0); }

void t38StartShutdown(void*, void*) { send(kT38Shutdown, 0, 0); }

void heartBeat(void* srvp, void*) {
  HSZNETLOCLMEM* net = instanceOf(srvp);
  const uint16_t interval = net->hsxnetregs.hsxHeartbeatInterval;
  if (interval == 0 || net->hsxHeartbeat < interval) return;
  net->hsxHeartbeat = 0;
  send(HAPI_NET_HEARTBEAT_EVT, 0, 0);
}

// Statistics are gathered every interval, or every second when the host takes none, so that the
// copies NET answers with stay fresh.
void statsUpdate(void* srvp, void*) {
  HSZNETLOCLMEM* net = instanceOf(srvp);
  if (net->hsxStatsTimer < statsIntervalOf(net)) return;
  switch (net->hsxmode) {
    case NETMODE_PACKETVOICE:
    case NETMODE_VOICEBANDDATA:
      requestCodecStats(net);
      break;
    case NETMODE_FAXRELAY:
      requestFaxrStats(net);
      break;
    default:
      break;
  }
  net->hsxStatsTimer = 0;
  if (net->hsxmode == NETMODE_PACKETVOICE || net->hsxmode == NETMODE_VOICEBANDDATA) {
    send(HAPI_CODEC_GETSTATE_CMD, 0, 0);
  }
}
