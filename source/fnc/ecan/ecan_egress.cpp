// The far-end direction: test signals, volume and the bulk-delay line of the reference.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ecan.h"
#include "lhapi.h"
#include "lsv_math.h"

namespace {

constexpr int16_t kBurstVolume = 20 * Q_DB;

// Full-scale noise, the noise test's reference signal.
void fullScaleNoise(HEC* hec, int16_t* x, int n) {
  uint16_t s = static_cast<uint16_t>(hec->seed);
  for (int i = 0; i < n; ++i) {
    s = static_cast<uint16_t>(s * 31821u + 13849u);
    x[i] = static_cast<int16_t>(s);
  }
  hec->seed = static_cast<int16_t>(s);
}

void egressTestModes(HEC* hec, int16_t* x, int n) {
  const uint16_t options = hec->regs.options;
  const uint32_t m = hec->frameCount % 1000;
  if (options & HAPI_HEC_EGRESSBURST_ON) {
    if (m >= 1 && m <= 499) {
      if (hec->regs.volumedB == kBurstVolume && hec->rtDelay < 0) {
        for (int i = 0; i < n; ++i) {
          if (std::abs(int{x[i]}) > 1000) {
            hec->rtDelay = static_cast<int16_t>(i + 8 * m);
            // The delay measurement is always reported, whatever the event mask.
            if (hecEventSink != nullptr) hecEventSink(hec, HAPI_HEC_STATE_EVT, 251, hec->rtDelay, nullptr, 0);
            break;
          }
        }
      }
      std::memset(x, 0, n * sizeof(int16_t));
    } else if (m == 0) {
      hec->rtDelay = -1;
      fullScaleNoise(hec, x, n);
    } else {
      std::memset(x, 0, n * sizeof(int16_t));
    }
  } else if (options & HAPI_HEC_EGRESSNOISE_ON) {
    fullScaleNoise(hec, x, n);
    if (hec->frameCount % 2000 == 0) {
      const HEC_STATE& s = hec->state;
      ecanEvent(hec, HAPI_HEC_ACOM_EVT, static_cast<uint16_t>(HEC_DBQ82DB(s.Lrout - s.Lsin)),
                static_cast<uint16_t>(HEC_DBQ82DB(s.Lsin - s.Lsout)));
    }
  }
}

// Where the zeros at the end of the reference line start after a frame went in: the samples of
// the window [0, end) moved down by a frame, those beyond it stayed. An idle line is all zeros,
// which a silent frame leaves as they are.
void noteZeros(HEC* hec, int end, int frameSize, bool silent) {
  const int from = hec->rOutZeroFrom;
  if (from > end) return;  // samples beyond the window that are not zero stay
  hec->rOutZeroFrom = static_cast<int16_t>(silent ? std::max(from - frameSize, 0) : end);
}

}  // namespace

void hecEgress(HEC* hec, int16_t* rIn, int16_t* companion, int frameSize) {
  if (frameSize != 40 && frameSize != 80) {
    LHAPI_ASSERT_FAIL();
    if (frameSize <= 0 || frameSize > 80) return;
  }
  egressTestModes(hec, rIn, frameSize);
  const int16_t vol = hec->regs.volumedB < -90 * Q_DB ? HAPI_HEC_VOLUME_MIN : hec->regs.volumedB;
  if (vol != 0) {  // 0 dB passes the samples untouched
    const int16_t scale = lsvmath::utildB2scale(vol - 30 * Q_DB);
    for (int off = 0; off + HEC_BLOCK <= frameSize; off += HEC_BLOCK) {
      levelGain1(rIn + off, companion != nullptr ? companion + 2 * off : nullptr, &hec->volCompState,
                 scale, HEC_BLOCK);
    }
  }
  hec->state.volumeAutodB = 0;
  hec->state.gainAutodB = 0;
  // The reference lags the far end by the bulk delay: the newest frame goes in after
  // bulkDelay + 256 samples of history.
  const int at = hec->bulkDelay + HEC_TAPS;
  const bool silent = utilIsSilent(rIn, frameSize);
  if (silent && hec->rOutZeroFrom == 0) return;  // a line of zeros moved by a frame of zeros
  std::memmove(hec->rOutBuf, hec->rOutBuf + frameSize, (at) * sizeof(int16_t));
  std::memcpy(hec->rOutBuf + at, rIn, frameSize * sizeof(int16_t));
  noteZeros(hec, at + frameSize, frameSize, silent);
}
