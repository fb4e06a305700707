// The service's frame kernels, option switching and DTMF detection in both directions.
#include <algorithm>
#include <array>
#include <cstring>

#include "pte.h"
#include "qrn/qrn.h"
#include "vhd/vhd_rest_hooks.h"

int16_t* pteMedia() {
  QRN_Socket* socket = QRN_CurrentSocket();
  return socket != nullptr ? socket->memDesc[HSF_MEDQ_LOWBAND] : nullptr;
}

namespace {

// Applies the changed option bits: a changed detector bit re-arms that direction.
void ptfconfigon(PTEINSTANCEMEM* pte) {
  const uint16_t changed = pte->currentOptions ^ pte->newOptions;
  if (changed & HAPI_PTE_INGRESSMASK) {
    pteInitStm(&pte->detState);
    pte->resetVoice = 1;
    dtmfdInit(&pte->pteencstate.ingressDet);
  }
  if (changed & HAPI_PTE_EGRESSMASK) {
    pteInitStm(&pte->detEgressState);
    dtmfdInit(&pte->ptedecstate.egressDet);
  }
  pte->currentOptions = pte->newOptions;
}

void sendVoiceResumes() { hsfIbdSendStd(HSF_IBD_DIGIT_TONE, PTE_RELAY_VOICE_MSG, 0, 0); }

void pteCheckConfig(PTEINSTANCEMEM* pte, PTE_DIR dir) {
  if (dir == PTE_DIR_EGRESS) {
    ptfconfigon(pte);
    return;
  }
  // Detection stays off while the service plays digits itself, so it never hears its own.
  if (pte->genMode == PTE_GEN_PLAYOUT) pte->newOptions = pte->currentOptions & HAPI_PTE_MODE_DR_EG_EVT;
  ptfconfigon(pte);
  if (pte->genMode == PTE_GEN_PLAYOUT) pte->resetVoice = 0;
  if (pte->resetVoice) {
    pte->resetVoice = 0;
    sendVoiceResumes();
  }
}

// The frame's raw-PCM message, if one is waiting, as samples.
int16_t* rawPcm(uint16_t* bytes) {
  HSFMSG m{};
  if (hsfIbdPeekOrRecv(HSF_IBD_PCM, &m, 0, HSF_IBD_PEEK) == 0) return nullptr;
  if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr) return nullptr;
  *bytes = m.ext.length;
  return static_cast<int16_t*>(m.ext.bufp);
}

// Runs the detector and its state machine over the frame's blocks; true when any block asked
// for squelch.
bool detectFrame(PTEINSTANCEMEM* pte, DTMFD_STATE* det, DETCTRL* stm, PTE_DIR dir) {
  int16_t* media = pteMedia();
  if (media == nullptr) return false;
  const int frame = hsfFrmPeriodGet();
  bool squelch = false;
  // The detector's verdicts on a frame's blocks come first (a silent frame is seen in one look);
  // the state machine then steps through them in order, as it never feeds back into the detector.
  constexpr int kMaxBlocks = 4;
  std::array<DTDET_RESULT, kMaxBlocks> results{};
  for (int b = 0; b + PTE_BLOCK <= frame; b += PTE_BLOCK) {
    const int k = (b / PTE_BLOCK) % kMaxBlocks;
    if (k == 0) {
      const int blocks = std::min(kMaxBlocks, (frame - b) / PTE_BLOCK);
      dtmfdBlocks(det, pte->regs.detectAdmin, pte->regs.minDetectPower, results.data(), media + b, blocks);
    }
    const DTDET_RESULT& res = results[k];
    if (res.digit < 0 && pteStmRestsOnNoDigit(stm)) continue;
    ptesrv::HAPI_PTE_FILTER filter{pte->state.filterControl, pte->state.filterDigit, pte->state.filterLongDigit,
                                   pte->state.longDetectTime};
    squelch |= pteStm(pte, stm, dir, pte->currentOptions, res.digit, res.power, &filter) != 0;
    pte->state.filterControl = filter.filterControl;
    pte->state.filterDigit = filter.filterDigit;
    pte->state.filterLongDigit = filter.filterLongDigit;
    pte->state.longDetectTime = filter.longDetectTime;
  }
  return squelch;
}

void pteToneDetection(PTEINSTANCEMEM* pte) {
  pteCheckConfig(pte, PTE_DIR_INGRESS);
  if (pte->resetStats) {
    pte->stats = HAPI_PTE_STATS{};
    pte->resetStats = 0;
  }
  const bool squelch = detectFrame(pte, &pte->pteencstate.ingressDet, &pte->detState, PTE_DIR_INGRESS);
  if (squelch && (pte->currentOptions & (HAPI_PTE_MODE_SQUELCH | HAPI_PTE_MODE_DIG_RELAY))) {
    uint16_t bytes = 0;
    if (int16_t* pcm = rawPcm(&bytes)) std::memset(pcm, 0, bytes);
  }
}

void pteEgressToneDetection(PTEINSTANCEMEM* pte) {
  pteCheckConfig(pte, PTE_DIR_EGRESS);
  detectFrame(pte, &pte->ptedecstate.egressDet, &pte->detEgressState, PTE_DIR_EGRESS);
}

}  // namespace

HAPIRESULT pteInit(HSFSRVOBJ srvp) {
  auto* pte = static_cast<PTEINSTANCEMEM*>(srvp);
  std::memset(pte, 0, sizeof(*pte));
  pte->regs = HAPI_PTE_REGS{0, 0, 28, HAPI_PTE_ADM_N_AMERICA, HAPI_PTE_DEFAULT_PAUSETIME,
                            HAPI_PTE_DEFAULT_MINPULSEOFF, HAPI_PTE_DEFAULT_MINPULSEON};
  pte->state = HAPI_PTE_DEF_STATE;
  pteInitStm(&pte->detState);
  pteInitStm(&pte->detEgressState);
  dtmfdInit(&pte->pteencstate.ingressDet);
  dtmfdInit(&pte->ptedecstate.egressDet);
  PTE_RELAY& r = pte->ptedecstate.relay;
  r.currentStateOff = 1;
  r.endStateOff = 1;
  return HAPISUCCESS;
}

void pteIngress(HSFSRVOBJ srvp) {
  auto* pte = static_cast<PTEINSTANCEMEM*>(srvp);
  if (pte->enabled && !pte->ingressGen && (pte->state.modeOptions & HAPI_PTE_INGRESSMASK)) {
    pteToneDetection(pte);
  } else if (pte->resetVoice) {
    pte->resetVoice = 0;
    sendVoiceResumes();
  }
  if (pte->ingressGen) pteBigressToneGen(pte, PTE_DIR_INGRESS);
}

void pteEgress(HSFSRVOBJ srvp) {
  auto* pte = static_cast<PTEINSTANCEMEM*>(srvp);
  if (pte->state.modeOptions & HAPI_PTE_EGRESSMASK) pteEgressToneDetection(pte);
  if (hsfIbdPeekOrRecv(HSF_IBD_DIGIT_TONE, nullptr, 0, HSF_IBD_PEEK) != 0 || pte->genMode == PTE_GEN_PLAYOUT) {
    pteEgressToneRelay(pte);
  }
  if (pte->genMode == PTE_GEN_CUSTOM && pte->egressGen) pteBigressToneGen(pte, PTE_DIR_EGRESS);
}

// With no detection asked for, no generator and no tone playing out, the blocks do nothing (what
// they would relay comes through the queues, which the framework watches).
uint32_t pteRestRuns(HSFSRVOBJ srvp, HAPI_DIRECTION) {
  const auto* pte = static_cast<const PTEINSTANCEMEM*>(srvp);
  const bool idle = pte != nullptr && !pte->ingressGen && !pte->egressGen && !pte->resetVoice &&
                    (pte->state.modeOptions & (HAPI_PTE_INGRESSMASK | HAPI_PTE_EGRESSMASK)) == 0 &&
                    pte->genMode != PTE_GEN_PLAYOUT;
  return idle ? VHD_REST_UNBOUNDED : 0;
}
