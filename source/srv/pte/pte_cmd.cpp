// Commands of the digit and tone service.
#include <cstring>

#include "pte.h"

namespace {

template <typename T>
const T* payload(const HSFMSG* cmd) {
  if (HAPI_OPCODE_IS_STD(cmd->std.header) || cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(T)) return nullptr;
  return static_cast<const T*>(cmd->ext.bufp);
}

// The host's profile (four tones per group) as the generator's (five, the fifth silent).
PTE_CTP_PACKET convertProfile(const HAPI_PTE_CUSTOM_PACKET& in) {
  PTE_CTP_PACKET out{};
  out.signalContrl = in.signalContrl;
  out.profile.wholeToneRepeatCount = in.profile.wholeToneRepeatCount;
  out.profile.numFreqGroups = in.profile.numFreqGroups;
  for (int g = 0; g < HAPI_PTE_NUMFREQUENCY_GRP; ++g) {
    const HAPI_PTE_FREQ_GRP& src = in.profile.freqGrp[g];
    PTE_FREQ_GRP& dst = out.profile.freqGrp[g];
    dst.signalLevel = src.signalLevel;
    for (int i = 0; i < HAPI_PTE_NUMFREQUENCIES; ++i) dst.tone[i] = PTE_TONE_INFO{src.freq[i], src.amp[i]};
    dst.tone[4] = PTE_TONE_INFO{0, 0};
    dst.freqGroupRepeatCount = src.freqGroupRepeatCount;
    dst.freqGroupInfo = src.freqGroupInfo;
    for (int s = 0; s < HAPI_PTE_NUMCADENCES; ++s) {
      dst.Pulse[s] = PTE_PULSE{src.pulse[s].PulseType, src.pulse[s].PulseNextState, src.pulse[s].PulseFreqMask,
                               src.pulse[s].PulseTime};
    }
  }
  return out;
}

void enable(PTEINSTANCEMEM* pte, uint16_t on, uint16_t options) {
  if (on == 1) {
    if (!pte->enabled) {
      pte->enabled = 1;
      pte->currentOptions = 0;
    }
    pte->newOptions = options;
    pte->state.modeOptions = options;
    hsfObdSendStd(HAPI_CODEC_PTEOPTION_CMD, options, 0);
  } else if (pte->enabled) {
    pte->enabled = 0;
    pte->newOptions = 0;
  }
}

HAPIRESULT setReg1(PTEINSTANCEMEM* pte, uint16_t offset, uint16_t value) {
  if ((offset & 1) || offset > sizeof(HAPI_PTE_REGS) - 2) return HAPI_ERR_INVALID_REGS;
  std::memcpy(reinterpret_cast<uint8_t*>(&pte->regs) + offset, &value, sizeof(value));
  return HAPISUCCESS;
}

}  // namespace

HAPIRESULT pteIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* pte = static_cast<PTEINSTANCEMEM*>(srvp);
  switch (cmd->std.header) {
    case HAPI_PTE_TONE_END_CMD:
      pte->genMode = PTE_GEN_NONE;
      pteGenShutdown(pte);
      return HAPISUCCESS;
    case HAPI_PTE_TONE_GEN_CMD: {
      const auto* in = payload<HAPI_PTE_CUSTOM_PACKET>(cmd);
      if (in == nullptr) return HAPIFAILURE;
      const PTE_CTP_PACKET pkt = convertProfile(*in);
      return pteToneGenCmd(pte, &pkt);
    }
    case HAPI_PTE_CTP_GEN_CMD: {
      const auto* in = payload<PTE_CTP_PACKET>(cmd);
      if (in == nullptr) return HAPIFAILURE;
      PTE_CTP_PACKET pkt;
      std::memcpy(&pkt, in, sizeof(pkt));
      return pteToneGenCmd(pte, &pkt);
    }
    case HAPI_PTE_DIALSTRING_CMD: {
      const auto* ds = payload<ptesrv::HAPI_PTE_DIALSTRING>(cmd);
      if (ds == nullptr || ds->encoderType != 0) return HAPIFAILURE;
      ptesrv::HAPI_PTE_DIALSTRING copy;
      std::memcpy(&copy, ds, sizeof(copy));
      pteSetupDialString(pte, &copy);
      return HAPISUCCESS;
    }
    case HAPI_PTE_FILTER_CMD: {
      const auto* f = payload<ptesrv::HAPI_PTE_FILTER>(cmd);
      if (f == nullptr) return HAPIFAILURE;
      ptesrv::HAPI_PTE_FILTER copy;
      std::memcpy(&copy, f, sizeof(copy));
      pte->state.filterControl = copy.filterControl;
      pte->state.filterDigit = copy.filterDigit;
      pte->state.filterLongDigit = copy.filterLongDigit;
      pte->state.longDetectTime = copy.longDetectTime;
      return HAPISUCCESS;
    }
    case HAPI_PTE_SETREGS_CMD: {
      const auto* regs = payload<HAPI_PTE_REGS>(cmd);
      if (regs == nullptr) return HAPI_ERR_INVALID_REGS;
      std::memcpy(&pte->regs, regs, sizeof(pte->regs));
      return HAPISUCCESS;
    }
    case HAPI_PTE_ENABLE_CMD:
      enable(pte, cmd->std.op1, cmd->std.op2);
      return HAPISUCCESS;
    case HAPI_PTE_GETREGS_CMD:
      pte->regsReply = pte->regs;
      hsfObdSendExt(HAPI_PTE_GETREGS_EVT, sizeof(pte->regsReply), &pte->regsReply);
      return HAPISUCCESS;
    case HAPI_PTE_SETREG1_CMD:
      return setReg1(pte, cmd->std.op1, cmd->std.op2);
    case HAPI_PTE_GETSTATS_CMD:
      pte->statsReply = pte->stats;
      hsfObdSendExt(HAPI_PTE_GETSTATS_EVT, sizeof(pte->statsReply), &pte->statsReply);
      pte->resetStats = cmd->std.op1 & 1;
      return HAPISUCCESS;
    case HAPI_PTE_GETSTATE_CMD:
      pte->stateReply = pte->state;
      hsfObdSendExt(HAPI_PTE_GETSTATE_EVT, sizeof(pte->stateReply), &pte->stateReply);
      return HAPISUCCESS;
    case HAPI_PTE_RESET_STATS_CMD:
      pte->stats = HAPI_PTE_STATS{};
      return HAPISUCCESS;
    default:
      return HAPI_ERR_UNKNOWN_MESSAGE;
  }
}
