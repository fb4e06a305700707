// Per-chunk detection of call discrimination in both directions.
#include <cstring>

#include "cdis.h"
#include "cdis_filters.h"
#include "qrn/qrn.h"
#include "vhd/vhd_rest_hooks.h"

namespace {

constexpr int kChunk = 80;
constexpr int kMedia = 85;
constexpr int kOutputs = 16;
constexpr int kFirstOutput = 34;
constexpr uint16_t kSettleChunks = 15;
constexpr int32_t kToneGate = 1002528;
constexpr int32_t kLowEnergy = 3269540;
constexpr uint16_t kCedChunks = 35;
constexpr uint16_t kCngChunks = 40;
constexpr uint16_t kBell103Chunks = 25;
constexpr uint16_t kBuiltinCustomChunks = 7;
constexpr uint16_t kPhRevCedCap = 8;

enum Dir { kIngress = 0, kEgress = 1 };

struct ChunkCtx {
  HSZCDISLOCLMEM* cd;
  Dir dir;
  HSZCNGCEDMEM* m;
  const int16_t* x;  // mediaData
  int32_t P;         // raw power of the 16 judged samples
};

void detected(Dir dir, uint16_t flag, uint16_t op2 = 1) {
  hsfObdSendStd(dir == kIngress ? HAPI_CDIS_DETECT_EVT : HAPI_CDIS_EGRESS_DETECT_EVT, flag, op2);
}

int32_t smooth(int32_t old, int32_t power) { return static_cast<int32_t>((27851LL * old + 4916LL * (power >> 16)) >> 15); }

void resetPhRevUnlessOff(HSZCNGCEDMEM* m) {
  if (m->phrev.phRevState != PHREV_OFF) phrevReset(&m->phrev);
}

uint16_t& lowCount(HSZENGYDETMEM& e, Dir d) { return d == kIngress ? e.ingressLowEnergyCount : e.egressLowEnergyCount; }
uint16_t& extCount(HSZENGYDETMEM& e, Dir d) { return d == kIngress ? e.ingressExtLowEnergyCount : e.egressExtLowEnergyCount; }
uint16_t& silentCount(HSZENGYDETMEM& e, Dir d) { return d == kIngress ? e.ingressNoSignalCount : e.egressNoSignalCount; }

// Power of the notch filter's 16 outputs; false when the filter or the sum overflows.
bool notchPower(const int16_t* x, const int16_t* half, int halfLen, int32_t* power) {
  int16_t y[kOutputs];
  if (!cdisSymFilter(x + kFirstOutput, y, kOutputs, half, halfLen)) return false;
  return cdisPowCalc(y, kOutputs - 1, power);
}

void lowEnergy(ChunkCtx& c) {
  HSZENGYDETMEM& e = c.cd->energyDetMem;
  if (!e.startLowEnergyDet && !e.startExtLowEnergyDet) return;
  int32_t p32 = 0;
  const bool low = cdisPowCalc(c.x + (c.dir == kIngress ? kFirstOutput : 0), 31, &p32) && p32 < kLowEnergy;
  if (!low) {
    extCount(e, c.dir) = 0;
    lowCount(e, c.dir) = 0;
    return;
  }
  if (e.startExtLowEnergyDet) extCount(e, c.dir) += 1;
  if (e.startLowEnergyDet && ++lowCount(e, c.dir) > 25) phrevReset(&c.m->phrev);
}

void cngTest(ChunkCtx& c) {
  HSZCNGCEDMEM* m = c.m;
  int32_t fp = 0;
  if (!notchPower(c.x, cngtcoeffs.data(), static_cast<int>(cngtcoeffs.size()), &fp)) {
    m->cngCount = 0;
    resetPhRevUnlessOff(m);
    return;
  }
  m->cngfilterPower = smooth(m->cngfilterPower, fp);
  if (m->cngfilterPower < m->totalPower / 16) {
    if (++m->cngCount == kCngChunks) {
      m->phrev.phRevState = PHREV_OFF;
      detected(c.dir, CDIS_CNG | CDIS_MACHINE);
    }
  } else {
    m->cngCount = 0;
  }
}

void cedChunk(ChunkCtx& c) {
  HSZCNGCEDMEM* m = c.m;
  HSZPHREVMEM& pr = m->phrev;
  m->cedCount += 1;
  m->cngCount = 0;
  m->lostcedCount = 0;
  if (pr.phRevState == PHREV_RESET) {
    if (++pr.phRevCEDCount > 4) {
      pr.phRevState = PHREV_ON;
      pr.phRevTimeout = 150;
    }
  } else if (pr.phRevState == PHREV_ON) {
    if (pr.phRevCEDCount < kPhRevCedCap) pr.phRevCEDCount += 1;
    if (cdisPhRev(&pr, c.x)) {
      pr.phRevTimeout = 150;
      if (m->cedValid) {
        c.cd->energyDetMem.startLowEnergyDet = true;
        detected(c.dir, CDIS_PHASE_REVERSAL);
      }
    }
  }
  if (m->cedCount == kCedChunks) {
    detected(c.dir, CDIS_MACHINE);
    m->cedValid = true;
    HSZENGYDETMEM& e = c.cd->energyDetMem;
    if (c.dir == kIngress && !e.silenceStarted) {
      e.silenceStarted = true;
      e.startSilenceDet = true;
    }
  }
}

void noCedChunk(ChunkCtx& c) {
  HSZCNGCEDMEM* m = c.m;
  HSZPHREVMEM& pr = m->phrev;
  m->cedCount = 0;
  if (++m->lostcedCount > 10) m->cedValid = false;
  if (pr.phRevState == PHREV_ON) {
    if (pr.phRevCEDCount > 0) pr.phRevCEDCount -= 1;
    if (pr.phRevCEDCount < 4) phrevReset(&pr);
  } else if (pr.phRevState == PHREV_OFF) {
    phrevReset(&pr);
  }
  if (c.cd->hsxstatus & CDIS_CNG_ENABLE) cngTest(c);
}

void CEDCNGDetect(ChunkCtx& c) {
  HSZCNGCEDMEM* m = c.m;
  HSZPHREVMEM& pr = m->phrev;
  HSZENGYDETMEM& e = c.cd->energyDetMem;
  if (pr.phRevState == PHREV_ON && pr.phRevTimeout > 0 && --pr.phRevTimeout == 0) pr.phRevState = PHREV_OFF;
  m->totalPower = smooth(m->totalPower, c.P);
  lowEnergy(c);
  if (m->tpwrDlyCnt < kSettleChunks) {
    m->tpwrDlyCnt += 1;
    return;
  }
  if (e.startSilenceDet) {
    silentCount(e, c.dir) = c.P < kToneGate + 1 ? static_cast<uint16_t>(silentCount(e, c.dir) + 1) : 0;
  }
  if (!(m->totalPower >= 16 && c.P > kToneGate)) {
    m->filterPower = m->cngfilterPower = m->totalPower;
    m->cedCount = 0;
    m->cngCount = 0;
    return;
  }
  int32_t fp = 0;
  if (!notchPower(c.x, cdtcoeffs.data(), static_cast<int>(cdtcoeffs.size()), &fp)) {
    m->cedCount = 0;
    resetPhRevUnlessOff(m);
    return;
  }
  m->filterPower = smooth(m->filterPower, fp);
  if (m->filterPower < m->totalPower / 8) {
    cedChunk(c);
  } else {
    noCedChunk(c);
  }
}

// Bell 103 answer tone or the custom tone: the notch keeps less than 1/64 of the power.
void toneCounter(ChunkCtx& c, const int16_t* half, int halfLen, uint16_t& counter, uint16_t needed, uint16_t flag) {
  int32_t fp = 0;
  const bool gate = c.m->totalPower >= 16 && c.P > kToneGate;
  if (gate && notchPower(c.x, half, halfLen, &fp) && fp < c.P / 64) {
    if (++counter >= needed) {
      detected(c.dir, flag, 0);
      counter = 0;
    }
  } else {
    counter = 0;
  }
}

void otherTones(ChunkCtx& c) {
  HSZCDISLOCLMEM* cd = c.cd;
  if (cd->hsxstatus & CDIS_BELL103_ENABLE) {
    uint16_t& n = c.dir == kIngress ? cd->bell103Counters.ingressCount : cd->bell103Counters.egressCount;
    toneCounter(c, bell103coef.data(), static_cast<int>(bell103coef.size()), n, kBell103Chunks, CDIS_BELL103_DETECT);
  }
  if (cd->hsxstatus & CDIS_CUSTOMTONE_ENABLE) {
    uint16_t& n = c.dir == kIngress ? cd->customToneCounters.ingressCount : cd->customToneCounters.egressCount;
    if (cd->customFilterSet) {
      const HAPI_CDIS_CUSTOMTONE_FILTER& f = cd->customToneFilter;
      const uint16_t needed = static_cast<uint16_t>((f.duration - f.offset) / 10);
      toneCounter(c, f.filterTaps, (HAPI_CDIS_CUSTOMTONEFILTER_NUM_TAPS + 1) / 2, n, needed > 0 ? needed : 1,
                  CDIS_CUSTOMTONE_DETECT);
    } else {
      toneCounter(c, customToneCoef.data(), static_cast<int>(customToneCoef.size()), n, kBuiltinCustomChunks,
                  CDIS_CUSTOMTONE_DETECT);
    }
  }
}

void chunk(HSZCDISLOCLMEM* cd, Dir dir, const int16_t* chunkEnd) {
  HSZCDISSCRMEM scr;
  // The 85 samples judged end with the chunk's last sample; the media buffer's history is before.
  std::memcpy(scr.mediaData, chunkEnd - kMedia, sizeof(scr.mediaData));
  ChunkCtx c{cd, dir, dir == kIngress ? &cd->ingresscngcedDetectMem : &cd->egresscngcedDetectMem, scr.mediaData, 0};
  if (!cdisPowCalc(scr.mediaData + kFirstOutput, kOutputs - 1, &c.P)) {
    HSZENGYDETMEM& e = cd->energyDetMem;
    c.m->cngCount = c.m->cedCount = c.m->tpwrDlyCnt = 0;
    lowCount(e, dir) = silentCount(e, dir) = extCount(e, dir) = 0;
    resetPhRevUnlessOff(c.m);
    return;
  }
  CEDCNGDetect(c);
  if (c.m->tpwrDlyCnt >= kSettleChunks) otherTones(c);
}

void runChunks(HSZCDISLOCLMEM* cd, Dir dir) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const int16_t* media = socket->memDesc[HSF_MEDQ_LOWBAND];
  const int frame = hsfFrmPeriodGet();
  if (frame < kChunk) {
    // Short frames: every second frame, over the last 80 samples.
    uint16_t& toggle = dir == kIngress ? cd->ingresscdisState : cd->egresscdisState;
    toggle = toggle == CDIS_ACTIVE_STATE ? CDIS_INACTIVE_STATE : CDIS_ACTIVE_STATE;
    if (toggle == CDIS_ACTIVE_STATE) chunk(cd, dir, media + frame);
    return;
  }
  for (int end = kChunk; end <= frame; end += kChunk) chunk(cd, dir, media + end);
}

// V.21 bits from the local modem: ten flags in a row show a fax control channel.
void searchFlags(HSZHDLCMEM& h, const uint16_t* words, int bits) {
  for (int i = 0; i < bits && h.v21timer < 100; ++i) {
    const uint16_t w = words[i / 16];
    h.lastword = (h.lastword << 1) | ((w >> (i % 16)) & 1u);  // first bit received first
    h.numBitsShifted += 1;
    if (h.numBitsShifted < 8) continue;
    if ((h.lastword & 0xFF) == 0x7E) {
      h.numBitsShifted = 0;  // the window jumps past the flag
      if (++h.numConsecHDLCDetected == 10) {
        hsfObdSendStd(HAPI_CDIS_HDLCDETECT_EVT, 0, 0);
        h.v21timer = -1;
        h.numConsecHDLCDetected = 0;
        return;
      }
    } else {
      h.numConsecHDLCDetected = 0;
      h.numBitsShifted = 7;  // slide one bit
    }
  }
}

void v21detHDLC(HSZCDISLOCLMEM* cd) {
  HSZHDLCMEM& h = cd->hdlcMem;
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_LOCAL_MODEM, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.header != HAPI_V21_DATA_EVT || m.ext.bufp == nullptr ||
        m.ext.length < 2 || h.v21timer >= 100) {
      continue;
    }
    if (h.v21timer >= 0 && ++h.v21timer >= 100) {
      hsfObdSendStd(HAPI_CDIS_V21TIMEOUT_EVT, 0, 0);
      continue;
    }
    const auto* words = static_cast<const uint16_t*>(m.ext.bufp);
    const int available = (m.ext.length / 2 - 1) * 16;
    const int bits = words[0] < available ? words[0] : available;
    searchFlags(h, words + 1, bits);
  }
}

void squelchWhileSearching(const HSZCDISLOCLMEM* cd) {
  if (!cd->hdlcMem.v21enabled || cd->hdlcMem.v21timer == -1) return;
  HSFMSG m{};
  if (hsfIbdPeekOrRecv(HSF_IBD_PCM, &m, 0, HSF_IBD_PEEK) == 0 || HAPI_OPCODE_IS_STD(m.ext.header) ||
      m.ext.bufp == nullptr) {
    return;
  }
  std::memset(m.ext.bufp, 0, m.ext.length);
}

void ingressReports(HSZCDISLOCLMEM* cd) {
  HSZENGYDETMEM& e = cd->energyDetMem;
  if (e.startSilenceDet && e.egressNoSignalCount >= 151 && e.ingressNoSignalCount > 2) {
    detected(kIngress, CDIS_SILENCE);
    e.startSilenceDet = false;
  }
  if (e.startExtLowEnergyDet && e.egressExtLowEnergyCount >= 601 && e.ingressExtLowEnergyCount > 600) {
    detected(kIngress, CDIS_EXT_LOW_ENERGY);
    e.ingressExtLowEnergyCount = e.egressExtLowEnergyCount = 0;
  }
  if (e.startLowEnergyDet && e.ingressLowEnergyCount >= 26 && e.egressLowEnergyCount >= 26) {
    detected(kIngress, CDIS_LOW_ENERGY);
    e.startLowEnergyDet = false;
  }
}

}  // namespace

void cdisBlk(HSFSRVOBJ srvp) {
  auto* cd = static_cast<HSZCDISLOCLMEM*>(srvp);
  if (!(cd->hsxstatus & CDIS_ENABLED)) return;
  v21detHDLC(cd);
  squelchWhileSearching(cd);
  runChunks(cd, kIngress);
  ingressReports(cd);
}

void cdisEgress(HSFSRVOBJ srvp) {
  auto* cd = static_cast<HSZCDISLOCLMEM*>(srvp);
  if (!(cd->hsxstatus & CDIS_ENABLED)) return;
  runChunks(cd, kEgress);
}

// A disabled detector's blocks return at once.
uint32_t cdisRestRuns(HSFSRVOBJ srvp, HAPI_DIRECTION) {
  const auto* cd = static_cast<const HSZCDISLOCLMEM*>(srvp);
  return cd != nullptr && !(cd->hsxstatus & CDIS_ENABLED) ? VHD_REST_UNBOUNDED : 0;
}
