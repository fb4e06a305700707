// The codec service's instance, its records, register handling and commands.
#include <cstring>

#include "lhapi.h"
#include "pve_codec.h"

namespace {

constexpr uint32_t align8(uint32_t bytes) { return (bytes + 7u) & ~7u; }

uint32_t jbWords() { return pveTablesInit().decJbWords; }

uint16_t* jbMemOf(HSZCODECINST* inst) {
  return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(inst) + align8(sizeof(HSZCODECINST)));
}

uint16_t* poolOf(HSZCODECINST* inst) { return jbMemOf(inst) + align8(jbWords() * 2) / 2; }

HSZCODECINST* instOf(HSFSRVOBJ srvp) { return static_cast<HSZCODECINST*>(srvp); }

HAPIRESULT codecInit(HSFSRVOBJ srvp, uint32_t poolWords) {
  HSZCODECINST* inst = instOf(srvp);
  const PVE_SIZE_TABLES& tables = pveTablesInit();
  std::memset(&inst->ctl, 0, sizeof(inst->ctl));
  inst->ctl.voiceregs = pveVoiceRegsDefault();
  std::memset(&inst->enc, 0, sizeof(inst->enc));
  inst->enc.encPool = poolOf(inst);
  std::memset(inst->enc.encPool, 0, poolWords * 2);
  inst->enc.maxEncPoolSize = static_cast<uint16_t>(poolWords);
  std::memset(&inst->dec, 0, sizeof(inst->dec));
  inst->dec.jbMemp = jbMemOf(inst);
  std::memset(inst->dec.jbMemp, 0, jbWords() * 2);
  inst->ctl.lastBadDecoderCode = 0xFFFF;
  inst->ctl.lastBadPacketCode = 0xFFFF;
  ajcInit(&inst->dec.ajc_mem, 40, &inst->ctl.voiceregs.ajbregs, &inst->ctl.stats.decoder, &inst->ctl.state,
          inst->dec.jbMemp, static_cast<uint16_t>(jbWords()), &tables.ajcTableEntries, &inst->ctl.ajcIntStats);
  inst->dec.decJbMem.instp = inst->dec.jbMemp;
  ResetCodecControl(inst);
  return HAPISUCCESS;
}

}  // namespace

uint32_t codecHeavyPoolWords() {
  // The largest encoder of the table sets the pool, never below the original 27896 words.
  const uint32_t largest = pveTablesInit().maxEncPoolWords;
  return largest > 27896 ? largest : 27896;
}

uint32_t codecInstanceBytes(uint32_t poolWords) {
  return align8(sizeof(HSZCODECINST)) + align8(jbWords() * 2) + align8(poolWords * 2);
}

HAPIRESULT codecHeavyInit(HSFSRVOBJ srvp) { return codecInit(srvp, codecHeavyPoolWords()); }
HAPIRESULT codecLightInit(HSFSRVOBJ srvp) { return codecInit(srvp, PVE_LIGHT_POOL_WORDS); }

HSZCODECENCSTATE* pveEncLoadInst(HSZCODECINST* inst) { return &inst->enc; }
HSZCODECDECSTATE* pveDecLoadInst(HSZCODECINST* inst) { return &inst->dec; }
AJC_OBJ* pveAjcLoadInst(HSZCODECINST* inst) { return &inst->dec.ajc_mem; }

void ResetCodecControl(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECENCCTL& e = c.hsxcodecencctl;
  HSZCODECDECCTL& d = c.hsxcodecdecctl;
  e.hsxcurrentalg = 0xFF;
  e.hsxnewrate = 0xFF;
  c.hsxcodecptectl.lastRelayPayloadCode = 0xFF;
  d.hsxActiveDecoder = 0xFF;
  e.encodeAllowed = false;
  e.encoderstate = false;
  e.payloadCountDown = 0;
  e.threadChangePending = 0;
  e.hsxTimeStamp = 0;
  d.decoderactive = false;
  d.replayCount = 0;
  e.allowratechange = true;
  e.superpktctl.packetNull = true;
  c.hsxcodecptectl.relayActiveTimer = -1;
  c.hsxcodecptectl.lastRelayDigitsTimestamp = 1;
  c.hsxcodecptectl.lastSecondRelayDigitsTimestamp = 1;
  d.threadsize = 40;
  d.decodeAllowed = true;
}

void pveFlushJb(AJC_OBJ* jb, HSZCODECINST* inst) {
  HSZCODECDECCTL& d = inst->ctl.hsxcodecdecctl;
  ajcReset(jb, 0, AJC_RESET_FLUSH);
  inst->ctl.state.currentDec = 0xFF;
  d.hsxActiveDecoder = 0xFF;
  d.hsxdecfnc = nullptr;
  d.decoderactive = false;
  d.oldpacketp = nullptr;
}

namespace {

void setPiggy(HSZCODECINST* inst) {
  inst->ctl.hsxcodecencctl.superpktctl.piggyOption = (inst->ctl.voiceregs.voxregs.hsxVadCngPlcOptions & 0xF0) != 0;
}

}  // namespace

void codecApplyRegisters(HSZCODECINST* inst, bool full) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZVOCREGS& vox = c.voiceregs.voxregs;
  const uint16_t enc = c.hsxcodecencctl.hsxcurrentalg & 0xFF;
  if (enc != 0xFF) codecVadInit(inst, vox.hsxVadCngPlcOptions & VAD_MASK);
  if (full && (pveIsAmr(enc) || pveIsAmrWb(enc))) {
    // The encoder rounds the packet time and redundancy itself (amrPtime, amrRed).
    vocoderAmrOptions(inst->enc.encPool, &vox.amrOptions, pveIsAmrWb(enc));
  }
  HSZCODECDECCTL& d = c.hsxcodecdecctl;
  if (d.decoderactive && d.hsxActiveDecoder < HAPI_PKT_VC_ALG_MAX) {
    const HSZVOCODERS* v = hsgvocoders[hsgpvealg[d.hsxActiveDecoder]];
    if (vocoderUsable(v)) v->decinitcfgfnc(inst->dec.jbMemp, &vox, d.hsxActiveDecoder, 0);
    codecCngConfig(&inst->dec.decJbMem.cng, (vox.hsxVadCngPlcOptions & CNG_MASK) >> CNG_SHIFT,
                   pveIsWideband(d.hsxActiveDecoder) ? 1 : 0);
  }
  setPiggy(inst);
}

namespace {

void enable(HSZCODECINST* inst, uint16_t op1) {
  HSZCODECCTLMEM& c = inst->ctl;
  const bool enabled = c.hsxstatus & 1;
  if (op1 == 1 && !enabled) {
    ResetCodecControl(inst);
    ajcReset(&inst->dec.ajc_mem, 13, AJC_RESET_RESIZE);
    c.state.currentDec = 0xFF;
    std::memset(&c.stats, 0, sizeof(c.stats));
    c.hsxcodecencctl.payloadCountDown = 0;
    c.hsxcodecencctl.allowratechange = true;
    c.hsxstatus |= 1;
  } else if (op1 != 1 && enabled) {
    ResetCodecControl(inst);
    c.hsxcodecencctl.payloadCountDown = 0;
    c.hsxcodecencctl.allowratechange = true;
    c.hsxstatus &= static_cast<uint16_t>(~1u);
  }
  setPiggy(inst);
}

HAPIRESULT setVoiceRate(HSZCODECINST* inst, uint16_t word, uint16_t interval) {
  HSZCODECENCCTL& e = inst->ctl.hsxcodecencctl;
  if (e.threadChangePending == 0 && (e.hsxnewrate & 0xFF) == 0xFF) {
    e.hsxnewrate = word;
    e.newsuperpacketinterval = static_cast<int16_t>(interval);
    return HAPISUCCESS;
  }
  hsfObdSendStd(HAPI_CODEC_EXCEPTION_EVT, PVE_EXC_RATE_PENDING, word);
  return HAPIFAILURE;
}

void sendStatus(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  HAPI_PVE_STATUS& status = c.statusReport;
  const HSZCODECENCCTL& e = c.hsxcodecencctl;
  const HSZCODECDECCTL& d = c.hsxcodecdecctl;
  status = HAPI_PVE_STATUS{c.hsxstatus, 0xFFFF, e.encodeAllowed, e.encoderstate, e.allowratechange,
                           e.payloadCountDown, e.hsxcurrentalg, e.superpacketinterval, d.decodeAllowed,
                           d.decoderactive, d.hsxActiveDecoder, {}};
  hsfObdSendExt(HAPI_CODEC_GETSTATUS_EVT, sizeof(status), &status);
}

void interMessage(HSZCODECINST* inst, uint16_t op1, uint16_t op2) {
  if (op1 != HAPI_CODEC_INTERMSG_CMR) return;
  const uint16_t enc = inst->ctl.hsxcodecencctl.hsxcurrentalg & 0xFF;
  if (pveIsAmr(enc) || pveIsAmrWb(enc)) vocoderAmrModeRequest(inst->enc.encPool, op2, pveIsAmrWb(enc));
}

}  // namespace

HAPIRESULT codecIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*answer*/) {
  HSZCODECINST* inst = instOf(srvp);
  HSZCODECCTLMEM& c = inst->ctl;
  const uint16_t op1 = cmd->std.op1;
  const uint16_t op2 = cmd->std.op2;
  switch (cmd->std.header) {
    case HAPI_CODEC_SETREGS_CMD: {
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HSZVOICEREGS)) return HAPI_ERR_INVALID_REGS;
      std::memcpy(&c.voiceregs, cmd->ext.bufp, sizeof(HSZVOICEREGS));
      codecApplyRegisters(inst, true);
      return HAPISUCCESS;
    }
    case HAPI_CODEC_SETREG1_CMD:
      if ((op1 & 1) != 0 || op1 >= sizeof(HSZVOICEREGS)) {
        LHAPI_ASSERT_FAIL();
        return HAPI_ERR_INVALID_REGS;
      }
      std::memcpy(reinterpret_cast<uint8_t*>(&c.voiceregs) + op1, &op2, sizeof(op2));
      codecApplyRegisters(inst, false);
      return HAPISUCCESS;
    case HAPI_CODEC_ENABLE_CMD:
      enable(inst, op1);
      return HAPISUCCESS;
    case HAPI_CODEC_ENCSTART_CMD:
      c.hsxcodecencctl.encodeAllowed = op1 != 0;
      return HAPISUCCESS;
    case HAPI_CODEC_SETVOICERATE_CMD:
      return setVoiceRate(inst, op1, op2);
    case HAPI_CODEC_FREEZE_CMD:
      ajcReset(&inst->dec.ajc_mem, c.state.currentDec, op1 == 1 ? AJC_RESET_FREEZE : AJC_RESET_LIQUID);
      return HAPISUCCESS;
    case HAPI_CODEC_DECFLUSH_CMD:
      pveFlushJb(&inst->dec.ajc_mem, inst);
      return HAPISUCCESS;
    case HAPI_CODEC_PTEOPTION_CMD:
      c.pteoption = op1;
      return HAPISUCCESS;
    case HAPI_CODEC_GETSTATUS_CMD:
      sendStatus(inst);
      return HAPISUCCESS;
    case HAPI_CODEC_AUDIOSTOPTONE_CMD:
      c.hsxcodecptectl.audioStopTone = op1 != 0;
      return HAPISUCCESS;
    case HAPI_CODEC_STOP_ADAPT_CMD:
      ajcReset(&inst->dec.ajc_mem, c.state.currentDec, op1 == 1 ? AJC_NORESET_FREEZE : AJC_NORESET_LIQUID);
      return HAPISUCCESS;
    case HAPI_CODEC_INTERMSG_CMD:
      interMessage(inst, op1, op2);
      return HAPISUCCESS;
    case HAPI_CODEC_GETSTATS_CMD: {
      CODEC_STATS& report = c.statsReport;  // the instance's copy outlives the message
      report = c.stats;
      hsfObdSendExt(HAPI_CODEC_GETSTATS_EVT, sizeof(report), &report);
      if (op1 != 0) std::memset(&c.stats, 0, sizeof(c.stats));
      return HAPISUCCESS;
    }
    case HAPI_CODEC_GETSTATE_CMD: {
      AJC_STATE& report = c.stateReport;
      report = c.state;
      hsfObdSendExt(HAPI_CODEC_GETSTATE_EVT, sizeof(report), &report);
      return HAPISUCCESS;
    }
    default:
      return HAPIFAILURE;
  }
}
