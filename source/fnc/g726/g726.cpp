// G.726 ADPCM: adaptive quantiser, scale-factor adaptation with speed control, two-pole six-zero
// adaptive predictor, tone and transition detection and, for the PCM laws, the decoder's
// synchronous coding adjustment. Every step follows the fixed-point arithmetic of G.726.
#include "g726.h"

#include "g726_tables.h"

#include <bit>

namespace {

inline int g726_sign_bit(int v) { return (v >> 15) & 1; }

inline std::int16_t g726_wrap16(int v) { return static_cast<std::int16_t>(v); }

// Position of the leading one of a positive value.
inline int g726_leading_one(int v) { return std::bit_width(static_cast<unsigned>(v)) - 1; }

// Stores a value in the delay lines' unpacked floating form {E - 19, M * 8, raw}.
inline void g726_store_row(std::int16_t *row, int mag, std::int16_t raw) {
  const int e = mag == 0 ? 0 : g726_leading_one(mag) + 1;
  const int mant = mag == 0 ? 32 : (mag << 6) >> e;
  row[0] = static_cast<std::int16_t>(e - 19);
  row[1] = static_cast<std::int16_t>(mant * 8);
  row[2] = raw;
}

// Log-domain difference of the quantiser: ((EXP << 7) + MANT - (Y >> 2)) in 12 bits.
inline int g726_log_difference(int d, int y) {
  const int mag = (d < 0 ? -d : d) & 0x7FFF;
  const int exp = g726_leading_one(mag | 1);
  const int mant = ((mag << (14 - exp)) >> 7) & 127;
  return ((exp << 7) + mant - (y >> 2)) & 0xFFF;
}

// Number of thresholds above a log-domain value.
inline int g726_count_above(const std::int16_t *thresholds, int n, int dln) {
  int count = 0;
  for (int i = 0; i < n; ++i) count += thresholds[i] > dln ? 1 : 0;
  return count;
}

struct RateTables {
  const std::int16_t *thresh, *val, *deq, *f, *w, *sync_thresh, *sync_mapk;
  std::int16_t num_thresh;
};

constexpr RateTables kRateTables[4] = {
    {G726_Rate2QuantThresh, G726_Rate2QuantVal, G726_Rate2DeQ, G726_Rate2functfTab,
     G726_Rate2functwTab, G726_Sync_Rate2_ThreshTab, G726_Sync_Rate2_mapk, 2},
    {G726_Rate3QuantThresh, G726_Rate3QuantVal, G726_Rate3DeQ, G726_Rate3functfTab,
     G726_Rate3functwTab, G726_Sync_Rate3_ThreshTab, G726_Sync_Rate3_mapk, 4},
    {G726_Rate4QuantThresh, G726_Rate4QuantVal, G726_Rate4DeQ, G726_Rate4functfTab,
     G726_Rate4functwTab, G726_Sync_Rate4_ThreshTab, G726_Sync_Rate4_mapk, 8},
    {G726_Rate5QuantThresh, G726_Rate5QuantVal, G726_Rate5DeQ, G726_Rate5functfTab,
     G726_Rate5functwTab, G726_Sync_Rate5_ThreshTab, G726_Sync_Rate5_mapk, 16},
};

inline bool g726_has_rate_tables(const G726_State *s) { return s->ThreshTab != nullptr; }

// The synchronous coding adjustment of a decoded PCM code `sp` against the received code.
std::int16_t g726_sync_adjust(const G726_State *s, int code, int sp, int se, int y) {
  const int dx = s->Expand[sp] - se;
  const int dlnx = g726_log_difference(dx, y);
  const int countx = g726_count_above(s->Sync_ThreshTab, s->Sync_numThresh, dlnx);
  const int imx = s->Sync_mapk[2 * countx + (dx < 0 ? 1 : 0)];
  const int im = ((code >> (s->rate - 1)) & 1) == 0 ? code + s->Sync_numThresh
                                                    : code & (s->Sync_numThresh - 1);
  if (imx == im) return static_cast<std::int16_t>(sp);
  const int low = sp & 127;
  const int bit7 = (sp >> 7) & 1;
  const int row = 8 * (imx > im ? 1 : 0) + 4 * bit7 + 2 * (low == 0 ? 1 : 0) + (low == 127 ? 1 : 0);
  const std::int16_t *adj = s->syncTab + 3 * row;
  return static_cast<std::int16_t>((low + adj[0]) + (((bit7 & adj[1]) | adj[2]) << 7));
}

}  // namespace

int g726_configure(G726_State *state, G726_Rate rate, G726_Law law) {
  state->yup = 544;
  state->ylp = 34816;
  state->apr = 0;
  state->dmsp = 0;
  state->dmlp = 0;
  state->tdr = 0;
  state->a1r = 0;
  state->a2r = 0;
  state->pk0 = 0;
  state->pk1 = 0;
  for (int i = 0; i < 6; ++i) {
    state->br[i] = 0;
    state->dq[i] = 32;
  }
  for (int r = 0; r < 7; ++r) g726_store_row(state->dq_dat[r], 0, 0);
  for (int r = 0; r < 3; ++r) g726_store_row(state->sr_dat[r], 0, 0);
  state->sr0 = 32;
  state->sr1 = 32;
  state->leak = 8;
  state->param = 256;

  state->rate = rate;
  state->Alaw = law;
  if (law == G726_ULAW) {
    state->Expand = G726_Ulaw2LinTab.data();
    state->compressFn = g726_ulaw_compress;
    state->syncTab = G726_Mu_law_syncTab;
  } else {
    state->Expand = G726_Alaw2LinTab.data();
    state->compressFn = g726_alaw_compress;
    state->syncTab = G726_A_law_syncTab;
  }

  if (rate < G726_16_KBPS || rate > G726_40_KBPS) {
    // Refused: without rate tables the state codes only zeros.
    state->ThreshTab = state->ValTab = state->DeQTab = nullptr;
    state->functfTab = state->functwTab = nullptr;
    state->Sync_ThreshTab = state->Sync_mapk = nullptr;
    state->numThresh = state->Sync_numThresh = 0;
    return -1;
  }
  const RateTables &t = kRateTables[rate - G726_16_KBPS];
  state->ThreshTab = t.thresh;
  state->ValTab = t.val;
  state->DeQTab = t.deq;
  state->functfTab = t.f;
  state->functwTab = t.w;
  state->Sync_ThreshTab = t.sync_thresh;
  state->Sync_mapk = t.sync_mapk;
  state->numThresh = t.num_thresh;
  state->Sync_numThresh = t.num_thresh;
  if (rate == G726_40_KBPS) {
    state->leak = 9;
    state->param = 128;
  }
  return 0;
}

int g726_reset(G726_State *state) { return g726_configure(state, state->rate, state->Alaw); }

std::int16_t g726_common(std::int16_t Encode, std::int16_t input_offset, std::int16_t *sr,
                         std::int16_t *se, std::int16_t *y, G726_State *s) {
  const int al = (s->apr >> 2) < 64 ? (s->apr >> 2) : 64;

  // Signal estimate; the kernel also shifts both delay lines by one row.
  std::int16_t sezi = 0;
  const std::int16_t sei = g726_PoleZeroFilt(&sezi, s->br, s->a1r, s->a2r, &s->dq_dat[0][0],
                                             &s->sr_dat[0][0]);
  const int sez = sezi >> 1;
  const int se_v = sei >> 1;
  *se = static_cast<std::int16_t>(se_v);

  // Scale factor: mix of the fast and slow factors by the speed control.
  const int yl_old = s->ylp;
  const int ylp6 = yl_old >> 6;
  const int y_v = (ylp6 + ((s->yup - ylp6) * al) / 64) & 0x1FFF;
  *y = static_cast<std::int16_t>(y_v);

  const int rate = s->rate;
  int code;
  std::int16_t result = 0;
  if (Encode) {
    const int sl = s->Alaw == G726_LINEAR ? input_offset : s->Expand[input_offset & 0xFF];
    const int d = sl - se_v;
    const int dln = g726_log_difference(d, y_v);
    const int count = g726_count_above(s->ThreshTab, s->numThresh, dln);
    code = s->ValTab[2 * count + (d < 0 ? 1 : 0)];
    result = static_cast<std::int16_t>(code);
  } else {
    code = input_offset & ((1 << rate) - 1);
  }

  // Inverse quantiser.
  const int dqs = code >> (rate - 1);
  const int dql = (s->DeQTab[code] + (y_v >> 2)) & 0xFFF;
  int dqmag = 0;
  if ((dql & 0x800) == 0) {
    const int dex = dql >> 7;
    const int dqt = 128 + (dql & 127);
    dqmag = dex <= 7 ? dqt >> (7 - dex) : dqt << (dex - 7);
  }
  const std::int16_t dq_raw = g726_wrap16(dqs * 32768 + dqmag);
  const int dq = dqs ? -dqmag : dqmag;

  // Fast and slow scale factors.
  int yut = y_v + (((s->functwTab[code] << 5) - y_v) >> 5);
  if (yut < 544) yut = 544;
  if (yut > 5120) yut = 5120;
  s->yup = static_cast<std::int16_t>(yut);
  s->ylp = yl_old + yut + ((-yl_old) >> 6);

  // Transition detector, on the slow factor from before its update.
  const int thr = (yl_old >> 15) <= 9 ? (32 + ((yl_old >> 10) & 31)) << (yl_old >> 15) : 31744;
  const bool tr = dqmag > ((thr + (thr >> 1)) >> 1) && s->tdr == 1;

  const int pk2 = s->pk1;
  s->pk1 = s->pk0;
  s->pk0 = g726_wrap16(dq + sez);

  const std::int16_t sr_v = g726_wrap16(dq + se_v);
  *sr = sr_v;
  g726_store_row(s->sr_dat[0], (sr_v < 0 ? -sr_v : sr_v) & 0x7FFF, sr_v);
  g726_store_row(s->dq_dat[0], dqmag, dq_raw);

  // Pole predictor.
  const int pk0 = s->pk0;
  const bool sigpk = pk0 == 0;
  const bool same01 = g726_sign_bit(pk0) == g726_sign_bit(s->pk1);
  const int uga2a = g726_sign_bit(pk0) != g726_sign_bit(pk2) ? -16384 : 16384;
  int fa1 = 4 * s->a1r;
  if (fa1 > 32764) fa1 = 32764;
  if (fa1 < -32764) fa1 = -32764;
  const int fa = same01 ? -fa1 : fa1;
  int a2p = s->a2r - (s->a2r >> 7) + (sigpk ? 0 : (uga2a + fa) >> 7);
  a2p = g726_wrap16(a2p);
  if (a2p > 12288) a2p = 12288;
  if (a2p < -12288) a2p = -12288;
  const int tdp = a2p < -11776 ? 1 : 0;
  int a1p = g726_wrap16(s->a1r - (s->a1r >> 8) + (sigpk ? 0 : (same01 ? 192 : -192)));
  if (a1p > 15360 - a2p) a1p = 15360 - a2p;
  if (a1p < a2p - 15360) a1p = a2p - 15360;
  if (tr) {
    s->a1r = 0;
    s->a2r = 0;
    s->tdr = 0;
  } else {
    s->a2r = static_cast<std::int16_t>(a2p);
    s->a1r = static_cast<std::int16_t>(a1p);
    s->tdr = static_cast<std::int16_t>(tdp);
  }

  // Speed control.
  const int fi = s->functfTab[code];
  s->dmsp = g726_wrap16(s->dmsp + (((fi << 9) - s->dmsp) >> 5));
  s->dmlp = g726_wrap16(s->dmlp + (((fi << 11) - s->dmlp) >> 7));
  int ax = 1;
  if (y_v >= 1536) {
    int diff = (s->dmsp << 2) - s->dmlp;
    if (diff < 0) diff = -diff;
    if (diff < (s->dmlp >> 3)) ax = tdp;
  }
  s->apr = g726_wrap16(s->apr + (((ax << 9) - s->apr) >> 4));

  // Zero predictor.
  if (tr) {
    s->apr = 256;
    for (int i = 0; i < 6; ++i) s->br[i] = 0;
  } else {
    for (int i = 0; i < 6; ++i) {
      int u = 0;
      if (dqmag != 0) u = ((dq_raw ^ s->dq_dat[i + 1][2]) & 0x8000) ? -128 : 128;
      s->br[i] = g726_wrap16(s->br[i] - (s->br[i] >> s->leak) + u);
    }
  }
  return result;
}

void g726_encode(std::int16_t *inp_buf, std::int16_t *out_buf, G726_State *s, int smpno) {
  if (smpno <= 0) return;
  if (s->Alaw == G726_LINEAR) {
    g726_vec_shr2(inp_buf, smpno);
  } else if (s->Alaw == G726_ALAW) {
    g726_vec_xor(inp_buf, 0x55, smpno);
  }
  if (!g726_has_rate_tables(s)) {
    for (int i = 0; i < smpno; ++i) out_buf[i] = 0;
    return;
  }
  std::int16_t sr, se, y;
  for (int i = 0; i < smpno; ++i) out_buf[i] = g726_common(1, inp_buf[i], &sr, &se, &y, s);
}

void g726_decode(std::int16_t *inp_buf, std::int16_t *out_buf, G726_State *s, int smpno) {
  if (smpno <= 0) return;
  if (!g726_has_rate_tables(s)) {
    for (int i = 0; i < smpno; ++i) out_buf[i] = 0;
    return;
  }
  const bool linear = s->Alaw == G726_LINEAR;
  for (int i = 0; i < smpno; ++i) {
    const int code = inp_buf[i] & ((1 << s->rate) - 1);
    std::int16_t sr, se, y;
    g726_common(0, static_cast<std::int16_t>(code), &sr, &se, &y, s);
    if (linear) {
      out_buf[i] = sr;
    } else {
      const int sp = s->compressFn(&sr);
      out_buf[i] = g726_sync_adjust(s, code, sp, se, y);
    }
  }
  if (linear) {
    g726_decode_linear_output(out_buf, smpno);
  } else if (s->Alaw == G726_ALAW) {
    g726_vec_xor(out_buf, 0x55, smpno);
  }
}

std::int16_t g726_ulaw_compress(std::int16_t *sr) {
  const int v0 = *sr;
  const int sign = v0 < 0 ? 1 : 0;
  const int mag = (v0 < 0 ? -v0 : v0) & 0x7FFF;
  int v = 4 * mag + 132;
  if (v > 32767) v = 32767;
  const int seg = g726_leading_one(v) - 7;
  const int mant = (v >> (seg + 3)) & 15;
  return static_cast<std::int16_t>((((seg << 4) + mant) | (sign << 7)) ^ 0xFF);
}

std::int16_t g726_alaw_compress(std::int16_t *sr) {
  const int v = *sr;
  const int sign = v < 0 ? 1 : 0;
  int ix;
  if (v == -32768) {
    ix = 0;
  } else {
    ix = v >= 0 ? v >> 1 : (-v - 1) >> 1;
  }
  if (ix > 4095) ix = 4095;
  const int p = ix == 0 ? 0 : g726_leading_one(ix);
  const int seg = p > 4 ? p - 4 : 0;
  const int mant = (ix >> (seg > 1 ? seg : 1)) & 15;
  return static_cast<std::int16_t>(((sign << 7) + (seg << 4) + mant) ^ 0x80);
}
