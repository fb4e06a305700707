// G.726 ADPCM: adaptive quantiser, scale-factor adaptation with speed control, two-pole six-zero
// adaptive predictor, tone and transition detection and, for the PCM laws, the decoder's
// synchronous coding adjustment. Every step follows the fixed-point arithmetic of G.726.
#include "g726.h"

#include "g726_step.h"
#include "g726_tables.h"

#include <bit>

namespace {

using g726_detail::leading_one;

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
template <int Rate>
std::int16_t g726_sync_adjust(const G726_State *s, int code, int sp, int se, int y) {
  using T = g726_detail::RateTables<Rate>;
  const int dx = s->Expand[sp] - se;
  const int dlnx = g726_detail::log_difference(dx, y);
  const int countx = g726_detail::count_above<T::kThresh>(T::sync_thresh, dlnx);
  const int imx = T::sync_mapk[2 * countx + (dx < 0 ? 1 : 0)];
  const int im = ((code >> (Rate - 1)) & 1) == 0 ? code + T::kThresh : code & (T::kThresh - 1);
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
  for (int r = 0; r < 7; ++r) g726_detail::store_row(state->dq_dat[r], 0, 0);
  for (int r = 0; r < 3; ++r) g726_detail::store_row(state->sr_dat[r], 0, 0);
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

namespace {

using g726_detail::StepOut;
using g726_detail::Lines;
using g726_detail::Work;

template <int Rate>
std::int16_t g726_common_at(std::int16_t Encode, std::int16_t input_offset, std::int16_t *sr,
                            std::int16_t *se, std::int16_t *y, G726_State *s) {
  Work w;
  Lines l;
  StepOut o{};
  int code = 0;
  g726_detail::run_block(s, w, l, 1, [&](int, int r) {
    if (Encode) {
      const int sl = s->Alaw == G726_LINEAR ? input_offset : s->Expand[input_offset & 0xFF];
      code = g726_detail::step<Rate, true>(w, sl, l, r, o);
    } else {
      g726_detail::step<Rate, false>(w, input_offset & ((1 << Rate) - 1), l, r, o);
    }
  });
  *sr = static_cast<std::int16_t>(o.sr);
  *se = static_cast<std::int16_t>(o.se);
  *y = static_cast<std::int16_t>(o.y);
  return static_cast<std::int16_t>(code);
}

// The encoder's sample loop for one rate; `Expand` null for linear input.
template <int Rate>
void g726_encode_at(const std::int16_t *in, std::int16_t *out, G726_State *s, int n,
                    const std::int16_t *expand) {
  Work w;
  Lines l;
  StepOut o;
  if (expand == nullptr) {
    g726_detail::run_block(s, w, l, n, [&](int i, int r) {
      out[i] = static_cast<std::int16_t>(g726_detail::step<Rate, true>(w, in[i], l, r, o));
    });
  } else {
    g726_detail::run_block(s, w, l, n, [&](int i, int r) {
      const int sl = expand[in[i] & 0xFF];
      out[i] = static_cast<std::int16_t>(g726_detail::step<Rate, true>(w, sl, l, r, o));
    });
  }
}

// The decoder's sample loop for one rate and law.
template <int Rate, G726_Law Law>
void g726_decode_at(const std::int16_t *in, std::int16_t *out, G726_State *s, int n) {
  Work w;
  Lines l;
  StepOut o;
  g726_detail::run_block(s, w, l, n, [&](int i, int r) {
    const int code = in[i] & ((1 << Rate) - 1);
    g726_detail::step<Rate, false>(w, code, l, r, o);
    if constexpr (Law == G726_LINEAR) {
      out[i] = static_cast<std::int16_t>(o.sr);
    } else {
      std::int16_t srv = static_cast<std::int16_t>(o.sr);
      const int sp = Law == G726_ULAW ? g726_ulaw_compress(&srv) : g726_alaw_compress(&srv);
      out[i] = g726_sync_adjust<Rate>(s, code, sp, o.se, o.y);
    }
  });
}

template <int Rate>
void g726_decode_law(const std::int16_t *in, std::int16_t *out, G726_State *s, int n) {
  switch (s->Alaw) {
    case G726_ULAW: g726_decode_at<Rate, G726_ULAW>(in, out, s, n); break;
    case G726_LINEAR: g726_decode_at<Rate, G726_LINEAR>(in, out, s, n); break;
    default: g726_decode_at<Rate, G726_ALAW>(in, out, s, n); break;
  }
}

}  // namespace

std::int16_t g726_common(std::int16_t Encode, std::int16_t input_offset, std::int16_t *sr,
                         std::int16_t *se, std::int16_t *y, G726_State *s) {
  if (!g726_has_rate_tables(s)) {
    // A refused state codes nothing but zeros here too.
    *sr = *se = *y = 0;
    return 0;
  }
  switch (s->rate) {
    case G726_16_KBPS: return g726_common_at<2>(Encode, input_offset, sr, se, y, s);
    case G726_24_KBPS: return g726_common_at<3>(Encode, input_offset, sr, se, y, s);
    case G726_32_KBPS: return g726_common_at<4>(Encode, input_offset, sr, se, y, s);
    default: return g726_common_at<5>(Encode, input_offset, sr, se, y, s);
  }
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
  const std::int16_t *expand = s->Alaw == G726_LINEAR ? nullptr : s->Expand;
  switch (s->rate) {
    case G726_16_KBPS: g726_encode_at<2>(inp_buf, out_buf, s, smpno, expand); break;
    case G726_24_KBPS: g726_encode_at<3>(inp_buf, out_buf, s, smpno, expand); break;
    case G726_32_KBPS: g726_encode_at<4>(inp_buf, out_buf, s, smpno, expand); break;
    default: g726_encode_at<5>(inp_buf, out_buf, s, smpno, expand); break;
  }
}

void g726_decode(std::int16_t *inp_buf, std::int16_t *out_buf, G726_State *s, int smpno) {
  if (smpno <= 0) return;
  if (!g726_has_rate_tables(s)) {
    for (int i = 0; i < smpno; ++i) out_buf[i] = 0;
    return;
  }
  switch (s->rate) {
    case G726_16_KBPS: g726_decode_law<2>(inp_buf, out_buf, s, smpno); break;
    case G726_24_KBPS: g726_decode_law<3>(inp_buf, out_buf, s, smpno); break;
    case G726_32_KBPS: g726_decode_law<4>(inp_buf, out_buf, s, smpno); break;
    default: g726_decode_law<5>(inp_buf, out_buf, s, smpno); break;
  }
  if (s->Alaw == G726_LINEAR) {
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
  const int seg = leading_one(v) - 7;
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
  const int p = ix == 0 ? 0 : leading_one(ix);
  const int seg = p > 4 ? p - 4 : 0;
  const int mant = (ix >> (seg > 1 ? seg : 1)) & 15;
  return static_cast<std::int16_t>(((sign << 7) + (seg << 4) + mant) ^ 0x80);
}
