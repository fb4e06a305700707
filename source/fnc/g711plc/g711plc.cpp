// Pitch-repetition concealment of lost 5 ms PCM frames with a 30-sample output delay.
#include "g711plc.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "vadcng.h"

namespace {
// Q15 step of an n-sample linear cross-fade.
constexpr std::array<std::int16_t, 81> make_divs_table() {
  std::array<std::int16_t, 81> t{};
  t[0] = t[1] = 32767;
  for (int n = 2; n <= 80; ++n) t[n] = static_cast<std::int16_t>(32768 / n);
  return t;
}
}  // namespace

constexpr std::array<std::int16_t, 81> plc_divs_table = make_divs_table();

namespace {

constexpr int kPitchMin = 40;
constexpr int kPitchMax = 120;
constexpr int kCorrLen = 160;
constexpr int kCorrBufLen = 280;
constexpr int kAttenPerFrame = 3276;  // 0.1 in Q15
constexpr int kAttenPerSample = 81;
constexpr int kMaxRecoveryFade = 80;
constexpr std::uint16_t kEraseCap = 13;
constexpr int kOutputDelay = 30;


// Private copies of the basic operators this file needs; they set no overflow flag.
inline std::int16_t sature(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}
inline std::int16_t plc_add(int a, int b) { return sature(a + b); }
inline std::int16_t plc_sub(int a, int b) { return sature(a - b); }
inline std::int16_t mult(int a, int b) { return sature((a * b) >> 15); }
inline std::int32_t plc_L_mult(int a, int b) {
  if (a == -32768 && b == -32768) return 0x7FFFFFFF;
  return a * b * 2;
}
inline std::int32_t plc_L_add(std::int32_t a, std::int32_t b) {
  const std::int64_t s = static_cast<std::int64_t>(a) + b;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(s, INT32_MIN, INT32_MAX));
}
inline std::int16_t plc_round(std::int32_t v) {
  return static_cast<std::int16_t>(plc_L_add(v, 0x8000) >> 16);
}
inline std::int16_t plc_blend(int lw, int l, int rw, int r) {
  return plc_round(plc_L_add(plc_L_mult(lw, l), plc_L_mult(rw, r)));
}

inline std::int16_t *plc_pitchbufend(HSZPLC *m) { return m->pitchbuf + PLC_HISTORYLEN; }

// Copies n samples cyclically from the span [start, start + span), beginning at `poffset`.
void plcgetfespeech(HSZPLC *m, std::int16_t *out, int n, const std::int16_t *start, int span) {
  if (m->poffset < 0 || m->poffset >= span) m->poffset = 0;
  while (n > 0) {
    const int run = std::min(n, span - m->poffset);
    std::memcpy(out, start + m->poffset, static_cast<std::size_t>(run) * sizeof(*out));
    out += run;
    n -= run;
    m->poffset = static_cast<std::int16_t>(m->poffset + run);
    if (m->poffset >= span) m->poffset = 0;
  }
}

// Attenuates a synthetic frame: from 1 - 0.1 (erasecnt - 2) down by about 0.1 across the frame.
void plcscalespeech(const HSZPLC *m, std::int16_t *out) {
  const int atten = std::min(kAttenPerFrame * (m->erasecnt - 2), 32767);
  int g = std::min(32767 - atten, 32767);
  for (int i = 0; i < PLC_FRAMESZ; ++i) {
    out[i] = plc_round(plc_L_mult(out[i], g));
    g = plc_sub(g, kAttenPerSample);
  }
}

// Fades the synthetic signal f out and the good speech s in, in place in s. A second fade frame
// continues the weights where the first one stopped.
void plcoverlapaddatend(const HSZPLC *m, std::int16_t *s, const std::int16_t *f, int cnt, int incr,
                        bool secondframe) {
  const int e = m->erasecnt;
  const int atten = secondframe ? sature(6552 * ((e >> 1) - 1)) : sature(kAttenPerFrame * (e - 2));
  const int gain = std::clamp(32767 - atten, 0, 32767);
  const int g = mult(incr, gain);
  int lw = mult(32767 - incr, gain);
  int rw = incr;
  if (secondframe) {
    lw = plc_sub(lw, sature(40 * g));
    rw = sature(41 * incr);
  }
  for (int i = 0; i < cnt; ++i) {
    s[i] = plc_blend(lw, f[i], rw, s[i]);
    lw = std::max(lw - g, 0);
    rw = plc_add(rw, incr);
  }
}

// The synthetic frame of one lost frame; `e` is the number of lost frames before it.
void plc_conceal(HSZPLC *m, std::int16_t *frame) {
  const int e = m->erasecnt;
  std::int16_t *end = plc_pitchbufend(m);
  if (e == 0) {
    std::memcpy(m->pitchbuf, m->history, sizeof(m->history));
    m->pitch = plcfindpitch(end);
    const int p4 = m->pitch >> 2;
    std::memcpy(m->lastq, end - p4, static_cast<std::size_t>(p4) * sizeof(*end));
    m->poffset = 0;
    plcoverlapadd(m->lastq, end - m->pitch - p4, end - p4, static_cast<std::int16_t>(p4));
    // The blended quarter period is still inside the output delay: play it in place of the last
    // samples received, so that the loss starts without a step.
    std::memcpy(m->history + PLC_HISTORYLEN - p4, end - p4, static_cast<std::size_t>(p4) * sizeof(*end));
    plcgetfespeech(m, frame, PLC_FRAMESZ, end - m->pitch, m->pitch);
  } else if (e == 1) {
    plcgetfespeech(m, frame, PLC_FRAMESZ, end - m->pitch, m->pitch);
  } else if (e == 2 || e == 4) {
    // Widen the repeated span by one period; blend the old span's continuation into the new.
    const int p4 = m->pitch >> 2;
    const int old_span = m->pitch * (e / 2);
    const int new_span = old_span + m->pitch;
    std::int16_t tmp[PLC_POVERLAPMAX];
    const std::int16_t saved = m->poffset;
    plcgetfespeech(m, tmp, p4, end - old_span, old_span);
    m->poffset = saved;
    while (m->poffset > m->pitch) m->poffset = static_cast<std::int16_t>(m->poffset - m->pitch);
    plcoverlapadd(m->lastq, end - new_span - p4, end - p4, static_cast<std::int16_t>(p4));
    plcgetfespeech(m, frame, PLC_FRAMESZ, end - new_span, new_span);
    plcoverlapadd(tmp, frame, frame, static_cast<std::int16_t>(p4));
    plcscalespeech(m, frame);
  } else if (e <= 11) {
    const int span = m->pitch * (e <= 5 ? e / 2 + 1 : 3);
    plcgetfespeech(m, frame, PLC_FRAMESZ, end - span, span);
    plcscalespeech(m, frame);
  } else {
    std::memset(frame, 0, PLC_FRAMESZ * sizeof(*frame));
  }
  if (m->erasecnt < kEraseCap) ++m->erasecnt;
}

// A good frame after a loss: cross-fade from the continued synthetic signal.
void plc_recover(HSZPLC *m, std::int16_t *frame) {
  const int r = m->count != 0 ? m->erasecnt - 1 : m->erasecnt;
  const int span = r <= 6 ? m->pitch * ((r + 1) >> 1) : 3 * m->pitch;
  const bool second = m->count != 0;
  int cnt;
  int fade_index;
  if (second) {
    cnt = m->count;
    fade_index = m->count + PLC_FRAMESZ;
    m->count = 0;
  } else {
    const int len = std::min((m->pitch >> 2) + 16 * std::max(m->erasecnt - 2, 0), kMaxRecoveryFade);
    fade_index = len;
    if (len > PLC_FRAMESZ) {
      cnt = PLC_FRAMESZ;
      m->count = static_cast<std::uint16_t>(len - PLC_FRAMESZ);
    } else {
      cnt = len;
    }
  }
  std::int16_t synthetic[PLC_FRAMESZ] = {};
  if (r <= 11) plcgetfespeech(m, synthetic, cnt, plc_pitchbufend(m) - span, span);
  plcoverlapaddatend(m, frame, synthetic, cnt, plc_divs_table[fade_index], second);
  if (m->count != 0) {
    if (m->erasecnt <= 11) ++m->erasecnt;
  } else {
    m->erasecnt = 0;
  }
}

}  // namespace

void plcinit(HSZPLC *mem) { std::memset(mem, 0, sizeof(*mem)); }

std::int16_t plcfindpitch(const std::int16_t *pitchbufend) {
  const std::int16_t *t = pitchbufend - kCorrLen;
  const std::int16_t *c = pitchbufend - kCorrBufLen;
  const int range = kPitchMax - kPitchMin;
  auto corr = [&](int j, int step) {
    std::int64_t sum = 0;
    for (int i = 0; i < kCorrLen; i += step) sum += static_cast<std::int64_t>(c[j + i] >> 2) * (t[i] >> 2);
    return sum;
  };
  // Coarse pass on every second lag and sample; the later lag wins a tie.
  int best = 0;
  std::int64_t best_corr = corr(0, 2);
  for (int j = 2; j <= range; j += 2) {
    const std::int64_t v = corr(j, 2);
    if (v >= best_corr) {
      best_corr = v;
      best = j;
    }
  }
  // Fine pass around it on every sample; the earlier lag wins a tie.
  const int lo = std::max(best - 1, 0);
  const int hi = std::min(best + 1, range);
  int fine = lo;
  std::int64_t fine_corr = corr(lo, 1);
  for (int j = lo + 1; j <= hi; ++j) {
    const std::int64_t v = corr(j, 1);
    if (v > fine_corr) {
      fine_corr = v;
      fine = j;
    }
  }
  return static_cast<std::int16_t>(kPitchMax - fine);
}

void plcoverlapadd(const std::int16_t *l, const std::int16_t *r, std::int16_t *o, std::int16_t cnt) {
  const int incr = plc_divs_table[std::clamp<int>(cnt, 0, 80)];
  int lw = 32767 - incr;
  int rw = incr;
  for (int i = 0; i < cnt; ++i) {
    o[i] = plc_blend(lw, l[i], rw, r[i]);
    lw = std::max(lw - incr, 0);
    rw = plc_add(rw, incr);
  }
}

bool do_plc(HSZPLC *mem, GCNG *cngp, const std::int16_t *speech, std::int16_t *out, bool keyPLC) {
  std::int16_t frame[PLC_FRAMESZ];
  if (keyPLC) {
    // A loss in the middle of a recovery fade starts a new concealment from the stream as played,
    // blended in through the output delay, as a loss after a completed recovery does. Continuing
    // the old concealment (its count, span and attenuation) would cut from the half-faded-in speech
    // to the attenuated repetition with no blend at all: on a periodic signal that join steps by
    // twice the signal's own steepest step, an audible click wherever a loss long enough for a
    // two-frame fade is followed by one good frame and another loss.
    if (mem->count != 0) {
      mem->count = 0;
      mem->erasecnt = 0;
    }
    plc_conceal(mem, frame);
  } else {
    std::memcpy(frame, speech, sizeof(frame));
    if (mem->erasecnt != 0) plc_recover(mem, frame);
  }
  std::memmove(mem->history, mem->history + PLC_FRAMESZ,
               (PLC_HISTORYLEN - PLC_FRAMESZ) * sizeof(*mem->history));
  std::memcpy(mem->history + PLC_HISTORYLEN - PLC_FRAMESZ, frame, sizeof(frame));
  std::memcpy(out, mem->history + PLC_HISTORYLEN - PLC_FRAMESZ - kOutputDelay, sizeof(frame));

  const bool comfort_noise = keyPLC && mem->erasecnt > 12;
  if (comfort_noise) {
    if (cngp != nullptr) {
      cngProcess(cngp, out, nullptr, 0, PLC_FRAMESZ);
    } else {
      std::memset(out, 0, sizeof(frame));
    }
  }
  return comfort_noise;
}
