// Cadenced call-progress and custom tones from a host profile, in either direction.
#include <algorithm>
#include <cstring>

#include "dsputil.h"
#include "pte.h"

namespace {

bool profileFits(const PTE_CUSTOM_TONE_PROFILE& p) {
  if (p.numFreqGroups > HAPI_PTE_NUMFREQUENCY_GRP) return false;
  for (int g = 0; g < p.numFreqGroups; ++g) {
    const PTE_FREQ_GRP& grp = p.freqGrp[g];
    if ((grp.freqGroupInfo & 0xFF) > HAPI_PTE_NUMCADENCES) return false;
    for (const PTE_PULSE& pulse : grp.Pulse) {
      if (pulse.PulseNextState >= HAPI_PTE_NUMCADENCES) return false;
    }
  }
  return true;
}

void restartProfile(PTE_SIGNAL& s) {
  s.currentFreqGrp = 0;
  s.currentPulseNum = 0;
  s.currentPulseCnt = 0;
  s.remFreqGrpRepeatCnt = s.freqGrp[0].freqGrpRepeatCnt;
  s.remWholeToneRepeatCnt -= 1;
}

// Moves the cadence on at the end of the current state.
void endOfState(PTEINSTANCEMEM* pte, PTE_SIGNAL& s, const PTE_PULSE& p) {
  if (p.PulseType & HAPI_PTE_CADBIT_EVENT) pteSendToneGenEvt(pte, 0, s.currentPulseNum, p.PulseType);
  const PTE_SIGNAL_FREQ_GRP& grp = s.freqGrp[s.currentFreqGrp];
  if (p.PulseType & HAPI_PTE_CADBIT_COMPLETE) {
    s.currentPulseNum = 2;
    s.remWholeToneRepeatCnt = 0;
    s.currentFreqGrp = s.nFreqGrp;
  } else if (s.currentPulseNum + 1 < grp.nState) {
    s.currentPulseNum = p.PulseNextState;
  } else if ((p.PulseType & HAPI_PTE_CADBIT_LOOPCOUNT) && s.remFreqGrpRepeatCnt != 0) {
    s.remFreqGrpRepeatCnt -= 1;
    s.currentPulseNum = p.PulseNextState;
  } else {
    s.currentFreqGrp += 1;
    if (s.currentFreqGrp < s.nFreqGrp) {
      s.currentPulseNum = 0;
      s.remFreqGrpRepeatCnt = s.freqGrp[s.currentFreqGrp].freqGrpRepeatCnt;
    } else {
      s.currentPulseNum = 2;
    }
  }
  s.currentPulseCnt = 0;
}

void sound(PTE_SIGNAL_FREQ_GRP& grp, const PTE_PULSE& p, int16_t* block) {
  if (p.PulseType & HAPI_PTE_CADBIT_MODULATE) {
    int16_t carrier[PTE_BLOCK] = {}, modulator[PTE_BLOCK] = {};
    hsfToneGen(carrier, &grp.Tone[0], PTE_BLOCK);
    hsfToneGen(modulator, &grp.Tone[1], PTE_BLOCK);
    for (int16_t& m : modulator) m = static_cast<int16_t>(m >> 2);
    toneAmplitudeMod(PTE_BLOCK, block, carrier, modulator);
    return;
  }
  for (int i = 0; i < grp.nFreq; ++i) {
    if (!(p.PulseFreqMask & (1u << i))) continue;
    if (p.PulseType & HAPI_PTE_CADBIT_DECAY) {
      grp.Tone[i].amplitude = static_cast<uint16_t>((uint32_t{grp.Tone[i].amplitude} * grp.freqGrpRepeatCnt) >> 16);
    }
    hsfToneGen(block, &grp.Tone[i], PTE_BLOCK);
  }
}

// One 40-sample block of the profile into media; true when the tone has ended.
bool pteGenTones(PTEINSTANCEMEM* pte, int16_t* media) {
  PTE_SIGNAL& s = pte->ptedecstate.signal;
  int16_t block[PTE_BLOCK] = {};
  if (s.Duration != 0 && --s.Duration == 0) {
    pteSendToneGenEvt(pte, 0xFFFF, 0, 0);
    return true;
  }
  if (s.currentPulseNum < 2 && s.currentFreqGrp < s.nFreqGrp) {
    const PTE_PULSE p = s.freqGrp[s.currentFreqGrp].Pulse[s.currentPulseNum];
    PTE_SIGNAL_FREQ_GRP& grp = s.freqGrp[s.currentFreqGrp];
    if (p.PulseType & HAPI_PTE_CADBIT_NOSTATECHANGE) {
      if (s.remWholeToneRepeatCnt != 0) restartProfile(s);
    } else {
      s.currentPulseCnt = static_cast<uint16_t>(s.currentPulseCnt + 5);
      if (s.currentPulseCnt >= p.PulseTime) endOfState(pte, s, p);
    }
    if (p.PulseType & HAPI_PTE_CADBIT_FREQ1) sound(grp, p, block);
  } else {
    s.currentPulseNum = 2;
  }
  if (s.mediaqwrt) {
    std::memcpy(media, block, sizeof(block));
  } else {
    hsfMedqAdd(media, block, PTE_BLOCK);
  }
  if (s.currentPulseNum == 2 && s.currentFreqGrp == s.nFreqGrp && s.remWholeToneRepeatCnt != 0) restartProfile(s);
  if (s.currentPulseNum < 2) return false;
  pteSendToneGenEvt(pte, 0xFFFF, 0, 0);
  return true;
}

}  // namespace

void pteSendToneGenEvt(PTEINSTANCEMEM* pte, uint16_t slot, uint16_t index, uint16_t state) {
  HAPI_PTE_TONEGENEVT& e = pte->toneGenEvt[pte->toneGenEvtNext];
  pte->toneGenEvtNext = static_cast<uint16_t>((pte->toneGenEvtNext + 1) % PTE_EVT_SLOTS);
  e = HAPI_PTE_TONEGENEVT{slot, index, state};
  hsfObdSendExt(HAPI_PTE_TONE_GEN_EVT, sizeof(e), &e);
}

HAPIRESULT pteToneGenCmd(PTEINSTANCEMEM* pte, const PTE_CTP_PACKET* pkt) {
  const PTE_CUSTOM_TONE_PROFILE& prof = pkt->profile;
  if (!profileFits(prof)) return HAPIFAILURE;  // beyond the generator's records
  PTE_SIGNAL& s = pte->ptedecstate.signal;
  const bool towardsNetwork = (pkt->signalContrl & 0x2) != 0;
  pte->genMode = PTE_GEN_CUSTOM;
  pte->egressGen |= (pkt->signalContrl & 0x1) != 0;
  pte->ingressGen |= towardsNetwork;
  s.nFreqGrp = prof.numFreqGroups;
  for (int g = 0; g < prof.numFreqGroups; ++g) {
    const PTE_FREQ_GRP& in = prof.freqGrp[g];
    PTE_SIGNAL_FREQ_GRP& out = s.freqGrp[g];
    const int level = towardsNetwork ? in.signalLevel >> 8 : in.signalLevel & 0xFF;
    const UINT32 gain = hsfdB20(-level, 32767);
    out.nFreq = std::min<uint16_t>(in.freqGroupInfo >> 8, PTE_NUMTONES);
    for (int i = 0; i < PTE_NUMTONES; ++i) {
      hsfToneReset(&out.Tone[i], in.tone[i].freq, static_cast<uint16_t>((gain * in.tone[i].amp) >> 15));
    }
    out.nState = in.freqGroupInfo & 0xFF;
    for (int st = 0; st < HAPI_PTE_NUMCADENCES; ++st) {
      out.Pulse[st] = in.Pulse[st];
      if (in.Pulse[st].PulseType & HAPI_PTE_CADBIT_MODULATE) hsfToneReset(&out.Tone[1], in.tone[1].freq, in.tone[1].amp);
    }
    out.freqGrpRepeatCnt = in.freqGroupRepeatCount;
  }
  s.currentPulseNum = 0;
  s.currentPulseCnt = 0;
  s.currentFreqGrp = 0;
  s.mediaqwrt = (pkt->signalContrl & HAPI_PTE_MEDIAQWMASK) != 0;
  s.remWholeToneRepeatCnt = prof.wholeToneRepeatCount;
  s.remFreqGrpRepeatCnt = s.freqGrp[0].freqGrpRepeatCnt;
  s.Duration = 0;
  return HAPISUCCESS;
}

void pteGenShutdown(PTEINSTANCEMEM* pte) {
  PTE_RELAY& r = pte->ptedecstate.relay;
  r.numDigits = 0;
  r.currentState = 0;
  r.stateTimer = 0;
  r.currentStateOff = 1;
  r.endStateOff = 1;
  pte->resetVoice = 1;
  pte->newOptions = pte->state.modeOptions;
  pte->ingressGen = false;
  pte->egressGen = false;
}

void pteBigressToneGen(PTEINSTANCEMEM* pte, PTE_DIR dir) {
  int16_t* media = pteMedia();
  if (media == nullptr) return;
  const int frame = hsfFrmPeriodGet();
  for (int b = 0; b + PTE_BLOCK <= frame && pte->genMode == PTE_GEN_CUSTOM; b += PTE_BLOCK) {
    if (!pteGenTones(pte, media + b)) continue;
    pte->genMode = PTE_GEN_NONE;
    if (dir == PTE_DIR_INGRESS) {
      pte->ingressGen = false;
      hsfIbdSendStd(HSF_IBD_DIGIT_TONE, PTE_RELAY_VOICE_MSG, 0, 0);
    } else {
      pte->egressGen = false;
      pte->resetVoice = 1;
    }
  }
  if (dir != PTE_DIR_INGRESS) return;
  if (pte->genMode != PTE_GEN_CUSTOM) pte->ingressGen = false;
  HSFMSG m{};
  if (hsfIbdPeekOrRecv(HSF_IBD_PCM, &m, 0, HSF_IBD_PEEK) != 0 && !HAPI_OPCODE_IS_STD(m.ext.header) &&
      m.ext.bufp != nullptr) {
    const size_t bytes = std::min<size_t>(m.ext.length, static_cast<size_t>(frame) * 2);
    std::memcpy(m.ext.bufp, media, bytes);
  }
}
