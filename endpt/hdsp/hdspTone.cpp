// Tones and digits.
#include "hdspTone.h"

#include <algorithm>

#include "hal/boardHal.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "hdspEcan.h"
#include "rtpCnx.h"
#include "voiceLog.h"
#include "vrgProv.h"

namespace {

constexpr uint16_t kFreqMasks[4] = {0x1, 0x2, 0x4, 0x8};

template <typename... A>
void log(VOICE_LOGLEVEL level, const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, level, format, args...);
}

int sendProfile(uint16_t vhdhdl, HAPI_PTE_CUSTOM_PACKET* packet) {
  const int16_t result = hdspSendCmdDataAsync(vhdhdl, hdsp::HAPI_PTE_TONE_GEN_CMD, HAPI_REQID_EXT_CMD,
                                              sizeof(*packet), packet);
  if (result != 0) {
    log(VOICE_LOGLEVEL_WARNING, "HDSP: HDSP: Failed to send tone profile to DSP - %d", result);
    return -1;
  }
  return 0;
}

// Loudest level of a component: the reference the other frequencies are attenuated from.
int referenceLevel(const HDSP_TONE_COMPONENT& c) {
  int level = c.frequency[0].level;
  if (c.modulateTone == 1) return level;
  for (const HDSP_TONE_FREQUENCY_COMPONENT& f : c.frequency) {
    if (f.hertz != 0) level = std::max(level, f.level);
  }
  return level;
}

void fillAmplitudes(const HDSP_TONE_COMPONENT& c, int reference, HAPI_PTE_FREQ_GRP& g) {
  if (c.modulateTone == 1) {
    g.amp[0] = HDSP_TONE_FULL_AMPLITUDE;
    g.amp[1] = static_cast<uint16_t>(c.modulatePercent * 0x7FFF / 100);
    return;
  }
  int n = 0;
  for (const HDSP_TONE_FREQUENCY_COMPONENT& f : c.frequency) n += f.hertz != 0 ? 1 : 0;
  for (int k = 0; k < n; ++k) {
    const int d = reference - c.frequency[k].level;
    if (d <= 0) {
      g.amp[k] = HDSP_TONE_FULL_AMPLITUDE;
    } else if (d <= 90) {
      g.amp[k] = negFactor[d - 1];
    } else {
      g.amp[k] = 0;
    }
  }
}

uint16_t soundMask(const HDSP_TONE_COMPONENT& c) {
  if (c.modulateTone == 1) return 0x3;
  uint16_t mask = 0;
  for (uint32_t k = 0; k < c.frequencies && k < 4; ++k) mask |= kFreqMasks[k];
  return mask;
}

// Builds the groups of a provisioned pattern. Returns -1 for a pattern that cannot be played.
int buildPattern(const HDSP_TONE_PROV_PATTERN& p, int tone, int delay, int toneType, int ingress, int egress,
                 int lineId, HAPI_PTE_CP_PROFILE& profile) {
  profile.wholeToneRepeatCount = static_cast<uint16_t>(p.repetitions);
  bool steadyPending = p.noSteadyTone == 0;
  // A negative duration is "no duration" (the daemon passes -1): no silent wait group, which as
  // 0xFFFF ms would hold a cadenced tone silent for a minute after its first round.
  const bool delayGiven = delay > 0;
  const uint32_t budget = (delayGiven && steadyPending) ? 3 : (delayGiven || steadyPending) ? 4 : 5;
  if (p.tones > 5) {
    // More components than groups: nothing sensible can be played, so nothing is sent.
    log(VOICE_LOGLEVEL_ERROR, "HDSP: %s: Too many frequency components", "hdspSetTonePattern");
    return -1;
  }
  uint32_t built = 0;
  for (uint32_t i = 0; i < p.tones && i < budget; ++i) {
    const HDSP_TONE_COMPONENT& c = p.tone[i];
    const bool lastComponent = i == p.tones - 1 || i == budget - 1;
    HAPI_PTE_FREQ_GRP& g = profile.freqGrp[i];
    if (c.modulateTone == 1 && c.modulatePercent > 100) {
      log(VOICE_LOGLEVEL_ERROR, "HDSP: Modulate percent value is invalid !!! ");
      return -1;
    }
    const int reference = referenceLevel(c);
    g.signalLevel = hdspSetPowerLevel(-reference * 10, ingress, egress, lineId);
    for (int k = 0; k < 4; ++k) g.freq[k] = static_cast<uint16_t>(c.frequency[k].hertz);
    fillAmplitudes(c, reference, g);
    g.freqGroupRepeatCount = static_cast<uint16_t>(c.repetitions);
    const int states = c.silenceDuration == 0 ? 1 : 2;
    for (int s = 0; s < states; ++s) {
      HAPI_PTE_PULSE& pulse = g.pulse[s];
      pulse.PulseType = s == 0 ? (c.modulateTone == 1 ? 0x3 : 0x1) : 0;
      pulse.PulseTime = static_cast<uint16_t>(s == 0 ? c.soundDuration : c.silenceDuration);
      pulse.PulseFreqMask = soundMask(c);
      if (s < states - 1) {
        pulse.PulseNextState = static_cast<uint16_t>(s + 1);
        continue;
      }
      pulse.PulseNextState = 0;
      if (g.freqGroupRepeatCount != 0) pulse.PulseType |= HAPI_PTE_CADBIT_LOOPCOUNT;
      if (lastComponent && steadyPending && states == 1) {
        pulse.PulseType |= HAPI_PTE_CADBIT_NOSTATECHANGE;
        steadyPending = false;
      }
    }
    g.freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(std::min<uint32_t>(c.frequencies, 4), states);
    built += 1;
  }
  profile.numFreqGroups = static_cast<uint16_t>(built);
  if (built == 0) return 0;
  HAPI_PTE_FREQ_GRP& last = profile.freqGrp[built - 1];
  const HDSP_TONE_COMPONENT& lastComponent = p.tone[built - 1];
  if (steadyPending) {
    HAPI_PTE_FREQ_GRP& g = profile.freqGrp[built];
    g = HAPI_PTE_FREQ_GRP{};
    std::copy(std::begin(last.freq), std::end(last.freq), g.freq);
    std::copy(std::begin(last.amp), std::end(last.amp), g.amp);
    g.signalLevel = last.signalLevel;
    g.freqGroupInfo = static_cast<uint16_t>((last.freqGroupInfo & 0xFF00) | 1);
    const bool modulated = lastComponent.modulateTone == 1;
    g.pulse[0] = {static_cast<uint16_t>(modulated ? 0x23 : 0x21), 0, last.pulse[0].PulseFreqMask, 0};
    profile.numFreqGroups = static_cast<uint16_t>(built + 1);
    return 0;
  }
  if (!delayGiven) return 0;
  if (tone == 1) {
    const HAPI_PTE_PULSE closing{HAPI_PTE_CADBIT_EVENT, 0, 0, 200};
    if ((last.freqGroupInfo & 0xFF) == 2) {
      last.pulse[1] = closing;
    } else {
      last.pulse[1] = closing;
      last.pulse[0].PulseNextState = 1;
      last.freqGroupInfo = static_cast<uint16_t>((last.freqGroupInfo & 0xFF00) | 2);
    }
  }
  HAPI_PTE_FREQ_GRP& wait = profile.freqGrp[built];
  wait = HAPI_PTE_FREQ_GRP{};
  wait.freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(0, 1);
  const uint16_t type = static_cast<unsigned>(tone) < 3 ? static_cast<uint16_t>(toneType | HAPI_PTE_CADBIT_EVENT) : 0;
  wait.pulse[0] = {type, 0, 0, static_cast<uint16_t>(delay)};
  profile.numFreqGroups = static_cast<uint16_t>(built + 1);
  return 0;
}

}  // namespace

int mapToneDirection(HDSP_TONE_DIRECTION direction, int* ingress, int* egress) {
  switch (direction) {
    case INGRESS_TONE: *ingress = 1; *egress = 0; return 0;
    case EGRESS_TONE: *ingress = 0; *egress = 1; return 0;
    case INGRESS_AND_EGRESS_TONE: *ingress = 1; *egress = 1; return 0;
    default:
      log(VOICE_LOGLEVEL_WARNING, "HDSP: ERROR: hdspToneOn - invalid signal generation direction: %d", direction);
      return 1;
  }
}

int hdspToneAdjustEgressPowerLevel(int level, int lineId) {
  const int dlp = boardHalGetDlp(lineId);
  log(VOICE_LOGLEVEL_DEBUG, "HDSP: AdjustEgressPowerLevel()");
  log(VOICE_LOGLEVEL_DEBUG, "HDSP: line:%d dlp:%d", lineId, dlp);
  return std::max(level + 10 * dlp, 0);
}

uint16_t hdspSetPowerLevel(int level, int ingress, int egress, int lineId) {
  const int high = ingress ? level / 10 : 10;
  int low = 10;
  if (egress) {
    log(VOICE_LOGLEVEL_NOTICE, "HDSP: Adjust Egress Power Level");
    low = hdspToneAdjustEgressPowerLevel(level, lineId) / 10;
  }
  return HAPI_PTE_MKSIGNALLEVEL(static_cast<unsigned>(low), static_cast<unsigned>(high));
}

int hdspToneOn(uint16_t vhdhdl, int lineId, int tone, int delay, int toneType,
               const HDSP_TONE_PROV_PATTERN* pattern, HDSP_TONE_DIRECTION direction, int mediaOption,
               VRG_COUNTRY country) {
  int ingress = 0, egress = 0;
  if (mapToneDirection(direction, &ingress, &egress) != 0) return -1;
  HAPI_PTE_CUSTOM_PACKET packet{};
  packet.signalContrl = HAPI_PTE_MKSIGNALCTRL(egress, ingress, mediaOption ? 1 : 0, 0);
  if ((tone == 0 || tone == 1) && pattern == nullptr) {
    packet.profile = gCASTones[tone].profile;
    for (int g = 0; g < packet.profile.numFreqGroups && g < HAPI_PTE_NUMFREQUENCY_GRP; ++g) {
      HAPI_PTE_FREQ_GRP& grp = packet.profile.freqGrp[g];
      grp.signalLevel = hdspSetPowerLevel(grp.signalLevel * 10, ingress, egress, lineId);
      for (HAPI_PTE_PULSE& pulse : grp.pulse) {
        if (pulse.PulseTime != HDSP_TONE_DELAY_PLACEHOLDER) continue;
        pulse.PulseType = static_cast<uint16_t>(pulse.PulseType | toneType);
        pulse.PulseTime = static_cast<uint16_t>(delay);
      }
    }
    return sendProfile(vhdhdl, &packet);
  }
  if (pattern == nullptr) return -1;
  log(VOICE_LOGLEVEL_DEBUG, "HDSP: Provisioned tone '%d, %d'", country, tone);
  if (buildPattern(*pattern, tone, delay, toneType, ingress, egress, lineId, packet.profile) != 0) return -1;
  return sendProfile(vhdhdl, &packet);
}

int hdspToneOff(uint16_t vhdhdl, HDSP_TONE_DIRECTION direction) {
  if (direction == EGRESS_TONE || direction == INGRESS_AND_EGRESS_TONE) {
    if (hdspSendCmdAsync(vhdhdl, hdsp::HAPI_PTE_TONE_END_CMD, HAPI_REQID_STD_CMD, 1, 0) != 0) return -1;
  }
  if (direction == INGRESS_TONE || direction == INGRESS_AND_EGRESS_TONE) {
    if (hdspSendCmdAsync(vhdhdl, hdsp::HAPI_PTE_TONE_END_CMD, HAPI_REQID_STD_CMD, 0, 0) != 0) return -1;
  }
  return 0;
}

int hdspDigitOff(uint16_t vhdhdl) { return hdspToneOff(vhdhdl, EGRESS_TONE); }

int hdspDigitOn(uint16_t vhdhdl, int lineId, int digit, int levelDb, int twist, int pulseTime,
                HDSP_TONE_DIRECTION direction) {
  HAPI_PTE_CUSTOM_PACKET packet{};
  packet.profile = dtmfToneGeneric;
  int ingress = 0, egress = 0;
  if (mapToneDirection(direction, &ingress, &egress) != 0) return -1;
  if (ingress && egress) {
    log(VOICE_LOGLEVEL_ERROR, "HDSP: HDSP digit direction ERROR: Two way DTMF geration not supported !!! ");
    return -1;
  }
  const HDSP_DTMF_FREQ* row = nullptr;
  for (const HDSP_DTMF_FREQ& r : gDtmfDigit2FreqMap) {
    if (r.digit == HAPI_PTE_DTMFDDGTERROR) break;
    if (r.digit == digit) row = &r;
  }
  if (row == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "HDSP: HDSP digit ERROR: Digit %d not found in the freq table !!! ", digit);
    return -1;
  }
  HAPI_PTE_FREQ_GRP& g = packet.profile.freqGrp[0];
  g.signalLevel = hdspSetPowerLevel(levelDb * 10, ingress, egress, lineId);
  g.freq[0] = row->low;
  g.freq[1] = row->high;
  if (twist >= 1 && twist <= 5) {
    g.amp[0] = dtmfSkewMap[twist - 1];
  } else {
    g.amp[0] = 17996;
    log(VOICE_LOGLEVEL_WARNING, "HDSP: DTMF Skew %d out-of-range, using default", twist);
  }
  g.pulse[0].PulseTime = static_cast<uint16_t>(pulseTime);
  g.pulse[1].PulseTime = static_cast<uint16_t>(pulseTime);
  packet.signalContrl = HAPI_PTE_MKSIGNALCTRL(egress, ingress, 1, 0);
  log(VOICE_LOGLEVEL_INFO, "HDSP: HDSP: Digit tone '%d', direction '%d' ", digit, direction);
  return hdspSendCmdDataAsync(vhdhdl, hdsp::HAPI_PTE_TONE_GEN_CMD, HAPI_REQID_EXT_CMD, sizeof(packet), &packet);
}

const EPZTONEMAP* getEpzToneMapEntry(EPSIG signal) {
  for (const EPZTONEMAP& row : epToneMap) {
    if (row.event == signal || row.event == EPSIG_NULL) return &row;
  }
  return &epToneMap[32];
}

EPEVT GetDigitEvent(int digit) {
  for (const EPZPTEDIGIT2EPEVTMAP& row : digit2epevtMap) {
    if (row.digit == digit) return row.epEvent;
  }
  return EPEVT_NULL;
}

namespace {

// Reads a row's tone pattern for the endpoint; false when the row has none or it is unset.
bool readPattern(const VRG_ENDPT* endpt, const EPZTONEMAP* row, HDSP_TONE_PROV_PATTERN* pattern) {
  if (row == nullptr || row->provItem < 0) return false;
  return endptProvGetValue(endpt->lineId, static_cast<EPPROV>(row->provItem), pattern) == EPSTATUS_SUCCESS;
}

}  // namespace

void applyIngressTone(VRG_ENDPT* endpt, int cnxIndex, VRG_COUNTRY country, const EPZTONEMAP* row) {
  if (cnxIndex < 0 || cnxIndex >= VRG_MAX_CNX_PER_ENDPT || endpt->cnx[cnxIndex] == nullptr) return;
  HDSP_TONE_PROV_PATTERN pattern{};
  if (!readPattern(endpt, row, &pattern)) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Function applyIngressTone: cannot obtain the item from provTable!!!");
    return;
  }
  hdspToneOn(endpt->cnx[cnxIndex]->vhdhdl, endpt->lineId, -1, 0, 0, &pattern, INGRESS_TONE, 0, country);
}

void applyEgressTone(VRG_ENDPT* endpt, VRG_COUNTRY country, const EPZTONEMAP* row, int duration) {
  HDSP_TONE_PROV_PATTERN pattern{};
  // Rows without a tone item (metering, initial ring, fill information) have nothing to play.
  if (!readPattern(endpt, row, &pattern)) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Function applyEgressTone: cannot obtain the item from provTable!!!");
    return;
  }
  hdspToneOn(endpt->lineVhdHdl, endpt->lineId, -1, duration, 0, &pattern, EGRESS_TONE, 0, country);
}

void removeIngressTone(VRG_ENDPT* endpt, int cnxIndex) {
  if (cnxIndex < 0 || cnxIndex >= VRG_MAX_CNX_PER_ENDPT || endpt->cnx[cnxIndex] == nullptr) return;
  CNXSTATE* cnx = endpt->cnx[cnxIndex];
  hdspToneOff(cnx->vhdhdl, INGRESS_TONE);
  SetRtpMode(cnx, cnx->mode);
  ProgramRtpRegisters(cnx);
}

void removeEgressTone(VRG_ENDPT* endpt, EPSIG signal) {
  hdspToneOff(endpt->lineVhdHdl, EGRESS_TONE);
  if (signal == EPSIG_DIAL || signal == EPSIG_SPECIAL_DIAL) EcanProcessStm(endpt, ECANEVT_DIALTONE_OFF);
}
