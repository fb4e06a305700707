// Gain stages, envelope and stationarity measures, the automatic gain control, the compressor and
// the sub-band levels.
#include <algorithm>

#include "level.h"
#include "level_tables.h"
#include "lsv_math.h"

using lsvmath::sat16;

// Limits used when the caller gives no AGC registers: highest and lowest automatic gain, peak
// level, compressor step and the peak while the far end talks (dB x 256).
const int16_t defaultRegs[5] = {12 * LEV_DB, -12 * LEV_DB, -6 * LEV_DB, 16 * LEV_DB, -12 * LEV_DB};

namespace {

// A gain that has reached its scale stays there: both smoothing steps add (0 + 4) >> 3 = 0. The
// samples then see one constant gain, and silence stays silence.
// Saturating to 16 bits and then limiting is one clamp to where both ranges meet; g fits 16 bits,
// so the product fits 32 and the loop runs in vector lanes.
void settledGain(int16_t* x, int16_t* second, int32_t g, int32_t limit, int count) {
  const int32_t lo = std::max<int32_t>(-32768, -limit);
  const int32_t hi = std::min<int32_t>(32767, limit);
  auto apply = [g, lo, hi](int16_t* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(std::clamp((int32_t{v[i]} * g + 512) >> 10, lo, hi));
  };
  if (!lsvmath::utilIsSilent(x, count)) apply(x, count);
  if (second != nullptr && !lsvmath::utilIsSilent(second, 2 * count)) apply(second, 2 * count);
}

void smoothedGain(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t scale, int32_t limit,
                  int count) {
  if (levelGainSettled(st, scale)) {
    settledGain(x, second, scale, limit, count);
    return;
  }
  int32_t g = st->g[0];
  int32_t target = st->g[1];
  for (int i = 0; i < count; ++i) {
    target += (scale - target + 4) >> 3;
    g += (target - g + 4) >> 3;
    auto apply = [g, limit](int16_t v) {
      const int32_t y = sat16((int32_t{v} * g + 512) >> 10);
      return static_cast<int16_t>(std::clamp(y, -limit, limit));
    };
    x[i] = apply(x[i]);
    if (second != nullptr) {
      second[2 * i] = apply(second[2 * i]);
      second[2 * i + 1] = apply(second[2 * i + 1]);
    }
  }
  if (std::abs(scale - g) < 16) {
    g = scale;
    target = scale;
  }
  st->g[0] = static_cast<int16_t>(g);
  st->g[1] = static_cast<int16_t>(target);
}

}  // namespace

bool levelGainSettled(const LEV_COMPSTATE* st, int16_t scale) {
  return st->g[0] == scale && st->g[1] == scale;
}

void levelGain1(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t scale, int count) {
  smoothedGain(x, second, st, scale, 32768, count);
}

void levelGain(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t scale, int16_t limit,
               int count) {
  smoothedGain(x, second, st, scale, limit, count);
}

void levelGain2(int16_t* x, int16_t* second, int16_t gain, int count) {
  for (int i = 0; i < count; ++i) {
    x[i] = sat16((int32_t{x[i]} * gain + 512) >> 10);
    if (second != nullptr) {
      second[2 * i] = sat16((int32_t{second[2 * i]} * gain + 512) >> 10);
      second[2 * i + 1] = sat16((int32_t{second[2 * i + 1]} * gain + 512) >> 10);
    }
  }
}

int16_t levelEnvTrack(int16_t env, int16_t level, int16_t* hang) {
  int shift;
  if (level > env) {
    shift = level < -36 * LEV_DB ? 2 : 0;
    *hang = 20;
  } else if (*hang > 0) {
    --*hang;
    shift = 8;
  } else {
    shift = level < -36 * LEV_DB ? 3 : 5;
  }
  return static_cast<int16_t>(env + ((int32_t{level} - env) >> shift));
}

int16_t levelStationarity(int16_t level, int16_t* history, int n) {
  int16_t lo = level;
  int16_t hi = level;
  for (int i = 0; i < n; ++i) {
    lo = std::min(lo, history[i]);
    hi = std::max(hi, history[i]);
  }
  for (int i = n - 1; i > 0; --i) history[i] = history[i - 1];
  if (n > 0) history[0] = level;
  return static_cast<int16_t>(hi - lo);
}

int16_t levelAgc(LEV_AGC* agc, int16_t level, uint16_t flags, const int16_t* regs) {
  static const int16_t kNoRegs[8] = {};
  const int16_t* reg = regs != nullptr ? regs : kNoRegs;
  const int16_t* R = (flags & 0x4) && regs != nullptr ? regs + 3 : defaultRegs;
  if (!((flags & 0x8) && (agc->state & 2))) {
    if (agc->state == 1) agc->gainTarget = static_cast<int16_t>(reg[0] - agc->sv56_avg);
    const int32_t peak = (agc->state & 2) ? R[4] : R[2];
    const int16_t step = static_cast<int16_t>(R[3] >> 4);
    if (int32_t{level} + agc->gainAuto - agc->compressor > peak - 6 * LEV_DB) {
      agc->compressor = static_cast<int16_t>(agc->compressor + step);
    } else if (agc->compressor > 0) {
      agc->compressor = static_cast<int16_t>(std::max(0, agc->compressor - step));
    } else {
      agc->compressor = static_cast<int16_t>(std::min(0, agc->compressor + step));
    }
  }
  if (reg[1] == 0 || reg[2] == 0) {
    agc->gainAuto = 0;
  } else if (agc->state != 0 && (agc->state & 6) == 0 && (flags & 0x3) == 0) {
    if (agc->gainAuto < agc->gainTarget) {
      agc->gainAuto = static_cast<int16_t>(std::min<int32_t>(agc->gainAuto + (reg[1] >> 7), R[0]));
    } else if (agc->gainAuto > agc->gainTarget) {
      agc->gainAuto = static_cast<int16_t>(std::max<int32_t>(agc->gainAuto - (reg[2] >> 7), R[1]));
    }
  }
  return static_cast<int16_t>(agc->gainAuto - agc->compressor);
}

void levelCompressor(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t env, int16_t floor,
                     int16_t peak, int16_t suppress, int count) {
  int32_t gain = 0;
  if (env > peak) gain = int32_t{peak} - env;
  if (env < floor + 6 * LEV_DB) gain -= suppress;
  const int16_t scale = lsvmath::utildB2scale(static_cast<int>(gain) - 30 * LEV_DB);
  const int shift = st->alpha < 0 ? 7 : st->alpha;
  lsvmath::utilHighpass(x, x, count, shift, &st->u);
  levelGain(x, second, st, scale, 32767, count);
}

void level_firdown(const int16_t* x, int16_t* y, const int16_t* h, int taps, int count, int step) {
  for (int i = 0, o = 0; i + step <= count; i += step, ++o) {
    int64_t acc = 0;
    for (int k = 0; k < taps; ++k) acc += int32_t{x[i - k]} * h[k];
    y[o] = sat16(acc >> 15);
  }
}

void levfirdownodd(const int16_t* x, int16_t* y, const int16_t* h, int taps, int count, int step) {
  for (int i = 0, o = 0; i + step <= count; i += step, ++o) {
    int64_t acc = 0;
    for (int k = 0; k < taps; ++k) acc += 2 * int64_t{x[i - k]} * h[k];
    y[o] = sat16(acc >> 16);
  }
}

int16_t levelSubband(int16_t* levels, const int16_t* x, int count) {
  int16_t best = LEV_MIN_DB;
  int16_t band[160 / 4];
  const int n = std::min(count, 160);
  for (int b = 0; b < LEV_SUBBANDS; ++b) {
    level_firdown(x, band, levFb[b], LEV_FB_TAPS, n, 4);
    levels[b] = lsvmath::utilPower2dB(levelBlockPower(band, n / 4, 0), 5609);
    best = std::max(best, levels[b]);
  }
  return best;
}
