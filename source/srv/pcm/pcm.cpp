#include "pcm.h"

#include <cstring>

#include "lhapi.h"
#include "qrn/qrn.h"
#include "vhd/vhd_rest_hooks.h"

const HSFSRVARC pcmarc = {HAPI_PCM_SRV, 0, nullptr, pcmIngress, nullptr, nullptr, nullptr};

void pcmIngress(HSFSRVOBJ /*service*/) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const size_t frame = hsfFrmPeriodGet();
  const int16_t* wide = socket->memDesc[HSF_MEDQ_HIGHBAND];
  const size_t samples = frame + (wide != nullptr ? 2 * frame : 0);
  auto* copy = static_cast<int16_t*>(hsfMemAllocScratch(samples * sizeof(int16_t)));
  if (copy == nullptr) return;
  std::memcpy(copy, socket->memDesc[HSF_MEDQ_LOWBAND], frame * sizeof(int16_t));
  if (wide != nullptr) std::memcpy(copy + frame, wide, 2 * frame * sizeof(int16_t));
  hsfIbdSendExt(HSF_IBD_PCM, 0, static_cast<uint16_t>(samples * sizeof(int16_t)), copy);
}

// No state: the frame it hands up is taken by the codec above it in the same run.
uint32_t pcmRestRuns(HSFSRVOBJ, HAPI_DIRECTION) { return VHD_REST_UNBOUNDED; }
