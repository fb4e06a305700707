// DTMF towards the line: host dial strings and the playout of digits relayed from the network.
#include <algorithm>
#include <cstring>

#include "dsputil.h"
#include "lhapi.h"
#include "pte.h"

namespace {

constexpr int kFinalGap = 240;  // samples after the last digit's gap before playout reports the end
constexpr uint16_t kPause = HAPI_PTE_PAUSE_DIGIT;

void emptyQueue(PTE_RELAY& r) {
  r.numDigits = 0;
  r.currentState = 0;
  r.stateTimer = 0;
  r.toneTimer = 0;
  r.currentStateOff = 1;
  r.endStateOff = 1;
}

void append(PTE_RELAY& r, uint16_t digit) { r.digitArray[r.numDigits++] = digit; }

// Both DTMF oscillators for digit d at the relay's level and skew (dB of attenuation).
void pteToneReset(PTE_RELAY& r, uint16_t d) {
  const DTGEN_PROFILE& f = dtgenDtmfProf[d];
  if (r.dbmLevel > 55) {
    hsfToneReset(&r.Tone[0], f.freq1, 0);
    hsfToneReset(&r.Tone[1], f.freq2, 0);
    return;
  }
  const int level = std::max<int>(r.dbmLevel, 3);
  const int skew = std::max<int>(r.dbmSkew, 1);
  hsfToneReset(&r.Tone[0], f.freq1, static_cast<uint16_t>(hsfdB20(1 - level - skew, 22656)));
  hsfToneReset(&r.Tone[1], f.freq2, static_cast<uint16_t>(hsfdB20(1 - level, 22656)));
}

bool detectorQuiet(const PTEINSTANCEMEM* pte) {
  return pte->detState.state == PTE_GUARD || pte->detState.state == PTE_IDLE;
}

void startPlayout(PTEINSTANCEMEM* pte) {
  PTE_RELAY& r = pte->ptedecstate.relay;
  emptyQueue(r);
  pte->genMode = PTE_GEN_PLAYOUT;
  r.pauseTime = pte->regs.pauseTime;
  r.minPulseOff = pte->regs.minPulseOff;
  r.minPulseOn = pte->regs.minPulseOn;
}

void relayOff(PTE_RELAY& r, uint16_t code, uint16_t ts, uint16_t duration) {
  if (!r.endStateOff) {
    if (code == HAPI_PKT_TC_TONE_NOCODE && r.currentState >= r.numDigits && !r.currentStateOff) {
      r.endStateOff = 1;
    } else {
      r.endStateOff = 1;
      r.duration = duration;
    }
  }
  r.previousTimeStamp = ts;
}

void relayOn(PTEINSTANCEMEM* pte, uint16_t code, uint16_t ts, uint16_t digit, uint16_t power) {
  PTE_RELAY& r = pte->ptedecstate.relay;
  if (code != HAPI_PKT_TC_DTMF_ON) lhapiAssertHandlerVerbose("pterelay.c", __LINE__);
  if (digit >= HAPI_PTE_DTMFDMAXDGT) {  // not a DTMF digit: never played, never an index
    pte->stats.numLostDigits += 1;
    return;
  }
  r.digit = digit;
  if (!r.endStateOff) {
    const bool repeat = ts == r.previousTimeStamp && r.numDigits > 0 && r.digitArray[r.numDigits - 1] == digit;
    if (!repeat) {
      if (r.numDigits < PTE_RELAY_QUEUE) {
        append(r, digit);
        r.dbmLevel = power;
      } else {
        pte->stats.numLostDigits += 1;
      }
    }
  } else if (r.numDigits < PTE_RELAY_QUEUE) {
    if (r.currentState > r.numDigits) {
      r.numDigits = 0;
      r.currentState = 0;
      r.currentStateOff = 1;
    }
    r.dbmLevel = power;
    append(r, digit);
    r.duration = -1;
    r.endStateOff = 0;
  } else {
    pte->stats.numLostDigits += 1;
  }
  r.previousTimeStamp = ts;
}

// Takes this frame's tone-relay packets from the network.
void relayInput(PTEINSTANCEMEM* pte) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_DIGIT_TONE, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr ||
        m.ext.length < sizeof(HAPI_PKT_HDR) + sizeof(HAPI_PKT_TONEPAYLOAD)) {
      continue;
    }
    HAPI_PKT_HDR hdr;
    HAPI_PKT_TONEPAYLOAD tone;
    std::memcpy(&hdr, m.ext.bufp, sizeof(hdr));
    std::memcpy(&tone, static_cast<const uint8_t*>(m.ext.bufp) + sizeof(hdr), sizeof(tone));
    const uint16_t code = hdr.payloadID & 0xFF;
    const bool off = (code & 1) != 0;
    if (pte->genMode == PTE_GEN_CUSTOM) {
      if (!off) pte->stats.numLostDigits += 1;
      continue;
    }
    if (pte->genMode == PTE_GEN_NONE && !off && detectorQuiet(pte)) startPlayout(pte);
    if (off) {
      relayOff(pte->ptedecstate.relay, code, hdr.payloadTimeStampLow, tone.duration);
    } else if (detectorQuiet(pte)) {
      relayOn(pte, code, hdr.payloadTimeStampLow, tone.digitpwrlevel >> 8, tone.digitpwrlevel & 0xFF);
    } else {
      pte->stats.numLostDigits += 1;
    }
  }
}

void startNext(PTEINSTANCEMEM* pte, PTE_RELAY& r) {
  if (r.currentState >= r.numDigits) {
    r.stateTimer = kFinalGap;
    r.currentState += 1;
    return;
  }
  const uint16_t d = r.digitArray[r.currentState];
  if (d < kPause && d < HAPI_PTE_DTMFDMAXDGT) {
    pteToneReset(r, d);
    if (pte->currentOptions & HAPI_PTE_MODE_DR_EG_EVT) hsfObdSendStd(HAPI_PTE_DR_EGRESS_EVT, 0, d);
    r.digit = static_cast<uint16_t>(d & 0xFF);
    r.currentStateOff = 0;
    r.toneTimer = PTE_BLOCK;
    r.stateTimer = r.minPulseOn - PTE_BLOCK;
  } else {
    const bool afterDigit = r.currentState > 0 && r.digitArray[r.currentState - 1] < kPause;
    r.stateTimer = afterDigit ? r.pauseTime - r.minPulseOff : r.pauseTime;
    if (r.stateTimer < 0) r.stateTimer = 0;
  }
  r.currentState += 1;
  if (r.currentState > 1 && r.numDigits > 2) {
    std::memmove(r.digitArray, r.digitArray + 1, sizeof(r.digitArray[0]) * (r.numDigits - 1));
    r.currentState -= 1;
    r.numDigits -= 1;
  }
}

// One 40-sample block of playout; the block replaces the far-end audio.
void playoutBlock(PTEINSTANCEMEM* pte, int16_t* block) {
  PTE_RELAY& r = pte->ptedecstate.relay;
  std::memset(block, 0, PTE_BLOCK * sizeof(int16_t));
  r.stateTimer = std::max<int32_t>(r.stateTimer - PTE_BLOCK, 0);
  r.toneTimer = static_cast<uint16_t>(r.toneTimer + PTE_BLOCK);
  if (r.currentState > r.numDigits && r.stateTimer == 0) {
    pteSendToneGenEvt(pte, 255, 0, 0);
    pte->genMode = PTE_GEN_NONE;
    pteGenShutdown(pte);
    return;
  }
  if (r.currentStateOff && r.stateTimer == 0) startNext(pte, r);
  if (r.currentStateOff) return;
  hsfToneGen(block, &r.Tone[0], PTE_BLOCK);
  hsfToneGen(block, &r.Tone[1], PTE_BLOCK);
  const bool timeUp = r.duration == -1 || r.toneTimer >= r.duration;
  if (r.stateTimer == 0 && timeUp && (r.endStateOff || r.currentState < r.numDigits)) {
    r.currentStateOff = 1;
    pte->stats.numGeneratedDigits += 1;
    r.stateTimer = r.minPulseOff + PTE_BLOCK;
    r.toneTimer = 0;
  }
}

}  // namespace

void pteSetupDialString(PTEINSTANCEMEM* pte, const ptesrv::HAPI_PTE_DIALSTRING* ds) {
  PTE_RELAY& r = pte->ptedecstate.relay;
  const uint16_t n = ds->numCharacters;
  if (n > HAPI_PTE_GEN_MAX_DIGITS) return;
  if (n == 0) {
    emptyQueue(r);
    return;
  }
  if (ds->pulseOnTime < PTE_BLOCK || ds->pulseOffTime < PTE_BLOCK) return;
  emptyQueue(r);
  pte->genMode = PTE_GEN_PLAYOUT;
  r.pauseTime = ds->pauseTime;
  r.minPulseOff = ds->pulseOffTime;
  r.minPulseOn = ds->pulseOnTime;
  r.dbmLevel = static_cast<uint16_t>(ds->dBmLevel + 3);
  r.dbmSkew = ds->dBmSkew;
  for (uint16_t i = 0; i < n; ++i) {
    const uint8_t c = ds->digitArray[i];
    append(r, (c & 0xF0) ? kPause : c);
  }
  r.duration = -1;
}

void pteEgressToneRelay(PTEINSTANCEMEM* pte) {
  relayInput(pte);
  int16_t* media = pteMedia();
  if (media == nullptr) return;
  const int frame = hsfFrmPeriodGet();
  for (int b = 0; b + PTE_BLOCK <= frame && pte->genMode == PTE_GEN_PLAYOUT; b += PTE_BLOCK) {
    playoutBlock(pte, media + b);
  }
}
