// The narrowband and wideband concealment: one algorithm, two sets of numbers.
#include "pcmplc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "plc_common.h"
#include "plc_tables.h"

namespace {

struct Geometry {
  int frame, history, ring, continuation;
  int pmin, pmax;
  int fadeIn;           // samples of the cross-fade into the extrapolation
  int16_t fadeStep;
  const int16_t* gawd;
  const int16_t* upLong;  // good-frame cross-fade after a mixed or periodic loss
  const int16_t* downLong;
  int longFade;
  const int16_t* window;
  const int32_t* lagWindow;
  bool q1Residual;      // narrowband residual in Q1
  int avmShift;         // noise amplitude: sum of |residual| >> shift, then x 1.6
  bool wide;
};

const Geometry kNarrow = {NB_PLC_FRAME, NB_PLC_HISTORY, NB_PLC_RING, 14, 20, 137, 8, 3641,
                          gawd, olaug16, oladg16, 20, winl, sstwinl_hl,
                          true, 5, false};
const Geometry kWide = {WB_PLC_FRAME, WB_PLC_HISTORY, WB_PLC_RING, 20, 40, 265, 20, 1638,
                        bv32_gawd, plc32_olaug, plc32_oladg, 40, bv32_winl, bv32_sstwinl_hl,
                        false, 5, true};
// (The wideband residual is Q0 over twice the samples: a shift of 5 gives it the narrowband's
// noise amplitude, four times the mean absolute residual, so that lost noise comes back at its
// own level; a shift of 6 would leave it 6 dB low.)

constexpr int kLpcWindow = 160;
constexpr int kMaxWork = WB_PLC_HISTORY + WB_PLC_FRAME + WB_PLC_RING;

template <class S>
void reset(S* s, int32_t level, int16_t cpplast) {
  std::memset(s, 0, sizeof(*s));
  s->xwd_exp = 31;
  s->level = level;
  s->cpplast = cpplast;
  for (int16_t& p : s->pph) p = 50;
  s->pp = 50;
  s->ngfae = 9;
}

template <class S>
void residual(const Geometry& g, const S* s, const int16_t* x, int16_t* e, int n) {
  if (g.q1Residual) {
    bvxx_azfilter_8th_Q0_Q1(s->al, x, e, n);
  } else {
    bvxx_azfilter_8th_Q0_Q0(s->al, x, e, n);
  }
}

// Weighting, decimation: the analysis that runs on every frame, good or lost, on the frame's
// prediction residual `e`.
template <class S>
void weightAndDecimate(const Geometry& g, S* s, const int16_t* e, int16_t* decimated) {
  int16_t xw[WB_PLC_FRAME];
  int16_t aw[PLC_ORDER];
  bvxx_Bandwidth_Expansion(aw, STWAL, s->al);
  if (g.q1Residual) {
    bvxx_apfilter_8th_Q1_Q0(aw, e, xw, g.frame, s->stwpml, 1);
  } else {
    bvxx_apfilter_8th_Q0_Q0(aw, e, xw, g.frame, s->stwpml, 1);
  }
  const PlcDecim st{s->dfm, s->xwd, &s->xwd_exp};
  if (g.wide) {
    decim32(xw, decimated, st);
  } else {
    decim16(xw, decimated, st);
  }
}

// Shifts the pitch history by one frame: the newest entry is pp, or, for a good frame whose
// refinement waits for a loss, a mark and the coarse pitch the refinement will start from
// (entries beyond the fifth are never read, so their refinements are never made).
template <class S>
void pushPitch(S* s, bool deferred) {
  for (int i = 6; i > 0; --i) s->pph[i] = s->pph[i - 1];
  s->pph[0] = s->pp;
  s->pendingPitch = static_cast<uint8_t>(((s->pendingPitch << 1) | (deferred ? 1 : 0)) & 0x1F);
  for (int i = 4; i > 0; --i) s->pendingCpp[i] = s->pendingCpp[i - 1];
  s->pendingCpp[0] = s->cpplast;
}

// The stream before xq: xq's oldest frame moves into xqPast when xq moves on by `shift` samples.
template <class S>
void keepPast(const Geometry& g, S* s, int shift) {
  constexpr int past = sizeof(s->xqPast) / sizeof(int16_t);
  std::memmove(s->xqPast, s->xqPast + shift, (past - shift) * sizeof(int16_t));
  std::memcpy(s->xqPast + past - shift, s->xq, shift * sizeof(int16_t));
  (void)g;
}

template <class S>
void refine(const Geometry& g, S* s, const int16_t* x, int16_t cpp, int16_t* pp) {
  PlcPitch p{};
  *pp = g.wide ? bvc32prfn(&p, x, cpp) : bvcprfn(&p, x, cpp);
  s->ptfe = p.ptfe;
  s->cormax = p.cormax;
  s->energymax32 = p.energymax32;
  s->ppt = p.ppt;
  s->wsz = p.wsz;
  s->scaled_flag = p.scaled_flag;
}

// Makes the refinements that a loss now reads, each on its frame's own buffer (history and frame
// as they stood when the frame ended), the oldest first so that the newest one's outputs remain.
template <class S>
void resolvePitch(const Geometry& g, S* s) {
  constexpr int past = sizeof(s->xqPast) / sizeof(int16_t);
  int16_t stream[past + WB_PLC_HISTORY];
  const int H = g.history, F = g.frame;
  std::memcpy(stream, s->xqPast, sizeof(s->xqPast));
  std::memcpy(stream + past, s->xq, H * sizeof(int16_t));
  for (int j = 4; j >= 0; --j) {
    if (!(s->pendingPitch & (1u << j))) continue;
    const int16_t* buffer = stream + past + H - (H + F) - j * F;
    refine(g, s, buffer, s->pendingCpp[j], &s->pph[j]);
    if (j == 0) s->pp = s->pph[0];
  }
  s->pendingPitch = 0;
}

template <class S>
void goodFrame(const Geometry& g, S* s, int16_t* out, const int16_t* in) {
  int16_t x[kMaxWork];
  const int H = g.history;
  const int F = g.frame;
  std::memcpy(x, s->xq, H * sizeof(int16_t));
  std::memcpy(x + H, in, F * sizeof(int16_t));
  if (s->cfecount > 0) {
    s->nfle = s->cfecount;
    s->ngfae = 1;
  } else if (s->ngfae < 9) {
    ++s->ngfae;
  }
  s->cfecount = 0;
  if (s->ngfae == 1) {
    // The first good frame after a loss fades in from the synthetic continuation.
    const bool noise = s->scaler == 32767;
    const int n = noise ? 8 : g.longFade;
    const int16_t* up = noise ? (g.wide ? bvxx_olaup : olaup) : g.upLong;
    const int16_t* down = noise ? (g.wide ? bvxx_oladown : oladown) : g.downLong;
    for (int i = 0; i < n; ++i) x[H + i] = ::round(L_mac(L_mult(x[H + i], up[i]), s->ring[i], down[i]));
  }
  std::memcpy(out, x + H, F * sizeof(int16_t));

  // Linear prediction on the last 160 samples.
  int32_t r[PLC_ORDER + 1];
  bvxx_Autocorr(r, x + H + F - kLpcWindow, g.window, kLpcWindow, PLC_ORDER);
  bvxx_Spectral_Smoothing(PLC_ORDER, r, g.lagWindow);
  bvxx_Levinson(r, s->al, s->alast);
  bvxx_Bandwidth_Expansion(s->al, g.wide ? bvxx_bwel : bwel, s->al);

  // Noise amplitude: 1.6 times the mean absolute residual (scaled by the sum's shift).
  int16_t e[WB_PLC_FRAME];
  residual(g, s, x + H, e, F);
  int32_t sum = 0;
  for (int i = 0; i < F; ++i) sum = L_add(sum, abs_s_itu(e[i]));
  int16_t avm = static_cast<int16_t>(std::min<int32_t>(sum >> g.avmShift, 32767));
  s->avm = add(avm, mult(avm, 19661));

  int16_t decimated[PLC_XWD + PLC_XWD_FRAME];
  weightAndDecimate(g, s, e, decimated);
  if (g.wide) {
    s->cpplast = plc32_coarsepitch(decimated, s->cpplast);
  } else {
    s->cpplast = bvc16_coarsepitch(decimated, s->cpplast);
  }
  pushPitch(s, true);
  std::memcpy(s->stsyml, x + H + F - PLC_ORDER, sizeof(s->stsyml));
  keepPast(g, s, F);
  std::memcpy(s->xq, x + F, H * sizeof(int16_t));
}

// Pitch trend over the last periods: the first clear step that is small against the period.
template <class S>
int16_t pitchTrend(const S* s) {
  for (int j = 0; j < 4; ++j) {
    const int d = s->pph[j] - s->pph[j + 1];
    if (d != 0 && 20 * std::abs(d) < s->pph[j]) {
      int16_t inc = ::round(L_shl(L_mult(static_cast<int16_t>(d), div_n[j]), 6));
      if (d > 0 && inc > 128) inc = 128;
      if (d < 0 && inc < -64) inc = -64;
      return inc;
    }
  }
  return 0;
}

template <class S>
void lostFrame(const Geometry& g, S* s, int16_t* out) {
  int16_t x[kMaxWork];
  const int H = g.history;
  const int F = g.frame;
  const int G = g.frame + g.ring;
  std::memcpy(x, s->xq, H * sizeof(int16_t));
  if (s->cfecount < 32767) ++s->cfecount;
  s->ngfae = 0;

  int P;
  if (s->cfecount == 1) {
    resolvePitch(g, s);
    P = s->pp;
    s->merit = g.wide ? bvc32merit(s->xq, s->pp, s->wsz, s->cormax, s->energymax32, s->level, s->scaled_flag)
                      : bvcmerit(s->xq, s->pp, s->wsz, s->cormax, s->energymax32, s->level, s->scaled_flag);
    s->ppinc = pitchTrend(s);
    s->ppf = static_cast<int16_t>(P << 6);
    // Continuation for the next good frame's cross-fade: the residual one period back, scaled by
    // the pitch tap, through the synthesis filter from the present memory.
    int16_t e[WB_PLC_RING];
    int16_t mem[PLC_ORDER];
    residual(g, s, x + H - P, e, g.continuation);
    for (int i = 0; i < g.continuation; ++i) e[i] = ::round(L_shl(L_mult(e[i], s->ppt), 6));
    std::memcpy(mem, s->stsyml, sizeof(mem));
    if (g.q1Residual) {
      bvxx_apfilter_8th_Q1_Q0(s->al, e, s->ring, g.continuation, mem, 0);
    } else {
      bvxx_apfilter_8th_Q0_Q0(s->al, e, s->ring, g.continuation, mem, 0);
    }
  } else if (s->cfecount == 2) {
    const int32_t pf = s->ppf + s->ppinc;
    P = (pf + 32) >> 6;
    P = P < g.pmin ? g.pmin : (P > g.pmax ? g.pmax : P);
    s->ppf = static_cast<int16_t>(P);
  } else {
    P = s->ppf;
  }
  s->pp = static_cast<int16_t>(P);

  if (s->merit > 5120) {
    for (int i = 0; i < g.fadeIn; ++i) {
      const int16_t v = ::round(L_shl(L_mult(s->ptfe, x[H - P + i]), 1));
      const int16_t w = static_cast<int16_t>((i + 1) * g.fadeStep);
      x[H + i] = ::round(L_mac(L_mult(v, w), s->ring[i], static_cast<int16_t>(32767 - w)));
    }
    for (int i = g.fadeIn; i < G; ++i) x[H + i] = ::round(L_shl(L_mult(s->ptfe, x[H + i - P]), 1));
  }
  if (s->merit < 7169) {
    int16_t n[WB_PLC_FRAME + WB_PLC_RING];
    for (int i = 0; i < G; ++i) {
      const int idx = ((i + 1) * s->cfecount) % 127 - 1;
      n[i] = idx < 0 ? 0 : mult_r(s->avm, wn[idx]);
    }
    int16_t mem[PLC_ORDER];
    std::memcpy(mem, s->stsyml, sizeof(mem));
    // The noise carries the residual's own amplitude: it is synthesised as a Q0 excitation.
    bvxx_apfilter_8th_Q0_Q0(s->al, n, n, G, mem, 0);
    if (s->merit > 5120) {
      s->scaler = static_cast<int16_t>((7168 - s->merit) << 4);
      for (int i = 0; i < G; ++i) {
        x[H + i] = ::round(L_mac(L_mult(static_cast<int16_t>(32767 - s->scaler), x[H + i]), s->scaler, n[i]));
      }
    } else {
      s->scaler = 32767;
      std::memcpy(x + H, n, G * sizeof(int16_t));
    }
  } else {
    s->scaler = 0;
  }

  if (s->cfecount >= 13) {
    std::memset(x + H, 0, G * sizeof(int16_t));
  } else if (s->cfecount >= 5) {
    int16_t gain = 32767;
    const int16_t step = g.gawd[s->cfecount - 5];
    for (int i = 0; i < G; ++i) {
      x[H + i] = mult(x[H + i], gain);
      gain = static_cast<int16_t>(gain + step);
    }
    if (s->cfecount == 12) std::memset(x + H + F, 0, g.ring * sizeof(int16_t));
  }
  std::memcpy(s->ring, x + H + F, g.ring * sizeof(int16_t));
  std::memcpy(out, x + H, F * sizeof(int16_t));

  int16_t e[WB_PLC_FRAME];
  residual(g, s, x + H, e, F);
  int16_t decimated[PLC_XWD + PLC_XWD_FRAME];
  weightAndDecimate(g, s, e, decimated);
  pushPitch(s, false);
  std::memcpy(s->stsyml, x + H + F - PLC_ORDER, sizeof(s->stsyml));
  keepPast(g, s, F);
  std::memcpy(s->xq, x + F, H * sizeof(int16_t));
}

}  // namespace

void Reset_NB_PLC(NB_PLC_State* s) { reset(s, 0x22000000, 48); }
void NB_PLC(NB_PLC_State* s, int16_t* out, const int16_t* in) { goodFrame(kNarrow, s, out, in); }
void NB_PLC_erasure(NB_PLC_State* s, int16_t* out) { lostFrame(kNarrow, s, out); }

void Reset_WB_PLC(WB_PLC_State* s) { reset(s, 0x1B000000, 96); }

// The wideband decoder never resets its concealment: a state that was only zeroed (its level
// reference still 0) is brought to the reset state on first use.
void WB_PLC(WB_PLC_State* s, int16_t* out, const int16_t* in) {
  if (s->level == 0) Reset_WB_PLC(s);
  goodFrame(kWide, s, out, in);
}

void WB_PLC_erasure(WB_PLC_State* s, int16_t* out) {
  if (s->level == 0) Reset_WB_PLC(s);
  lostFrame(kWide, s, out);
}
