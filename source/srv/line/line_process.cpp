// The line service's frame processing.
#include <cstring>

#include "bandsplit.h"
#include "line.h"
#include "lhapi.h"
#include "lsv_math.h"
#include "qrn/qrn.h"

namespace {

constexpr int kMaxBlock = 160;
constexpr int kBandFrame = 80;  // the band-split filters work on 10 ms frames
// The DC blockers' coefficient exponents: the wideband one also decides whether it is at rest.
constexpr int kWideHighpassExp = 6;
constexpr int kNarrowHighpassExp = 5;

struct Media {
  int16_t* narrow = nullptr;  // frame samples at 8 kHz
  int16_t* wide = nullptr;    // 2 x frame samples: the 16 kHz signal or the high band
  int frame = 0;
};

Media currentMedia() {
  Media m;
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return m;
  m.narrow = socket->memDesc[HSF_MEDQ_LOWBAND];
  if (hsfModeGet() == HSF_WIDEBAND_MODE) m.wide = socket->memDesc[HSF_MEDQ_HIGHBAND];
  m.frame = hsfFrmPeriodGet();
  return m;
}

bool leadingSilence(const int16_t* x, int n) {
  for (int i = 0; i < n && i < 5; ++i) {
    if (x[i] != 0) return false;
  }
  return true;
}

int16_t* splitState(LINEINSTANCEMEM* line) {
  return reinterpret_cast<int16_t*>(line->bandSplitCombine.splitState);
}

// A silent wideband frame into a wide DC blocker and a band split that are both at rest: the
// blocker leaves the zeros and its state as they are, and the split's high band is the zeros
// already there (its low band adds nothing), so neither needs to run. One look at the frame
// serves both instead of one each.
bool wideAtRest(LINEINSTANCEMEM* line, const Media& m, uint16_t flags) {
  if (m.wide == nullptr || (flags & LINE_CLIENT_EQU_WIDE)) return false;
  if ((flags & LINE_CLIENT_HIGHPASS) &&
      !lsvmath::utilHighpassAtRest(kWideHighpassExp, line->highpassWBState)) {
    return false;
  }
  if ((flags & LINE_CLIENT_BANDSPLIT) &&
      (m.frame != kBandFrame || !lsvmath::utilIsSilent(splitState(line), BS_SPLIT_STATE_WORDS))) {
    return false;
  }
  return lsvmath::utilIsSilent(m.wide, 2 * m.frame);
}

}  // namespace

void equFirProcess(EQU_Filter* f, int16_t* samples, int n) {
  if (f->isEnabled == 0 || f->order <= 0 || f->order > EQU_MAX_TAPS || n > kMaxBlock || n <= 0) return;
  const int hist = f->order - 1;
  // The FIR runs over taps in pairs: an odd order gets a zero tap after its last one (and one
  // more, unused, sample in front) so that no tap is dropped.
  const int taps = (f->order + 1) & ~1;
  int16_t h[EQU_MAX_TAPS];
  std::memcpy(h, f->coeff, f->order * sizeof(int16_t));
  if (taps > f->order) h[f->order] = 0;
  int16_t work[EQU_MAX_TAPS + kMaxBlock];
  const int lead = taps - 1 - hist;  // 0 or 1 extra sample before the history
  std::memset(work, 0, lead * sizeof(int16_t));
  std::memcpy(work + lead, f->history, hist * sizeof(int16_t));
  std::memcpy(work + lead + hist, samples, n * sizeof(int16_t));
  lsvmath::fir(work + lead + hist, samples, h, taps, n);
  std::memcpy(f->history, work + lead + n, hist * sizeof(int16_t));
}

HAPIRESULT Line_Init(HSFSRVOBJ service) {
  auto* line = static_cast<LINEINSTANCEMEM*>(service);
  if (line == nullptr) return HAPIFAILURE;
  line->clientFlags = LINE_CLIENT_HIGHPASS | LINE_CLIENT_BANDSPLIT | LINE_CLIENT_BANDCOMBINE;
  return HAPISUCCESS;
}

void Line_IngressProcess(HSFSRVOBJ service) {
  auto* line = static_cast<LINEINSTANCEMEM*>(service);
  const Media m = currentMedia();
  if (line == nullptr || m.narrow == nullptr || m.frame <= 0 || m.frame > kMaxBlock / 2) return;
  const uint16_t flags = line->clientFlags & LINE_INGRESS_MASK;
  const bool wideRests = wideAtRest(line, m, flags);
  if (flags & LINE_CLIENT_HIGHPASS) {
    if (m.wide != nullptr && !wideRests) {
      lsvmath::utilHighpass(m.wide, m.wide, 2 * m.frame, kWideHighpassExp, &line->highpassWBState);
    }
    if (!leadingSilence(m.narrow, m.frame)) {
      lsvmath::utilHighpass(m.narrow, m.narrow, m.frame, kNarrowHighpassExp, &line->highpassState);
    }
  }
  if (flags & LINE_CLIENT_EQU_NARROW) equFirProcess(&line->equ_filter, m.narrow, m.frame);
  if ((flags & LINE_CLIENT_EQU_WIDE) && m.wide != nullptr) {
    equFirProcess(&line->equ_filter, m.wide, 2 * m.frame);
  }
  if ((flags & LINE_CLIENT_BANDSPLIT) && m.wide != nullptr && !wideRests) {
    if (m.frame != kBandFrame) {
      LHAPI_ASSERT_FAIL();
      return;
    }
    bandSplit(m.narrow, m.wide, m.wide, splitState(line));
  }
}

void Line_EgressProcess(HSFSRVOBJ service) {
  auto* line = static_cast<LINEINSTANCEMEM*>(service);
  const Media m = currentMedia();
  if (line == nullptr || m.narrow == nullptr) return;
  const uint16_t flags = line->clientFlags & LINE_EGRESS_MASK;
  if ((flags & LINE_CLIENT_BANDCOMBINE) && m.wide != nullptr) {
    if (m.frame != kBandFrame) {
      LHAPI_ASSERT_FAIL();
      return;
    }
    bandCombine(m.narrow, m.wide, m.wide, line->bandSplitCombine.combineState);
  }
}
