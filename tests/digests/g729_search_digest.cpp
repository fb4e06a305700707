// Same-bits digest of the G.729 Annex A encoder's searches, block by block: correlations,
// the correlation matrix, the fixed-codebook search and its pair search, the open- and
// closed-loop pitch searches and the fractional-delay interpolation. Inputs are random at
// every level from quiet to full scale (with -32768 planted), so that the saturating paths
// are hashed as well as the exact fast ones.
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "digest_util.h"
#include "g729_internal.h"

using namespace g729;

namespace {

digest::Lcg rng{729};
std::uint32_t next() { return rng.next(); }
W16 draw(int amp) {
  if (next() % 97 == 0) return next() & 1 ? kMin16 : kMax16;  // the extremes now and then
  return static_cast<W16>(static_cast<int>(next() % (2u * amp + 1)) - amp);
}
void fill(W16* p, int n, int amp) {
  for (int i = 0; i < n; ++i) p[i] = amp >= 32767 ? draw(32767) : static_cast<W16>(static_cast<int>(next() % (2u * amp + 1)) - amp);
}
// A decaying impulse response of the given peak.
void impulse(W16* h, int peak) {
  for (int i = 0; i < 40; ++i) h[i] = static_cast<W16>((static_cast<int>(next() % (2u * peak + 1)) - peak) >> (i / 8));
  h[0] = static_cast<W16>(std::max<int>(std::abs(h[0]), peak / 2));
}

constexpr int kAmps[] = {3, 100, 1000, 4000, 12000, 32767};

void line(const char* name, digest::Fnv1a& h) { std::printf("g729 search %s %016llx\n", name, static_cast<unsigned long long>(h.h)); }

void correlations() {
  digest::Fnv1a h;
  for (int amp : kAmps)
    for (int round = 0; round < 200; ++round) {
      W16 x[40], y[60];
      fill(x, 40, amp);
      fill(y, 60, amp);
      W32 out[16];
      g729ab_comp_corr_loop(x, y, 8, out, 40);
      h.words(out, 8);
      g729ab_comp_corr_loop(x, y, 8, out, 8 + 8 * (round % 4));
      h.words(out, 8);
      g729ab_4Vec_L_mac8(x, y + 3, 40, out);
      h.words(out, 4);
      W32 v = g729ab_Vec_L_mac8(x, y, 40, static_cast<W32>(next()) - (1 << 23));
      h.words(&v, 1);
      v = g729ab_Vec_L_sqa(y, 40, round);
      h.words(&v, 1);
      v = g729ab_Vec_L_sqa_2(y, 60, round);
      h.words(&v, 1);
    }
  line("correlations", h);
}

void codebook() {
  digest::Fnv1a hm, hs, hc;
  for (int amp : kAmps)
    for (int round = 0; round < 150; ++round) {
      W16 hh[40], x[40];
      impulse(hh, amp);
      fill(x, 40, amp);
      W16 rr[kRrSize], dn[40];
      g729ab_Cor_h(hh, rr);
      hm.words(rr, kRrSize);
      g729ab_Cor_h_X(hh, x, dn);
      hm.words(dn, 40);
      W16 code[40], y[40], sign;
      W16 index = g729ab_D4i40_17_fast(dn, rr, hh, code, y, &sign);
      hs.words(&index, 1);
      hs.words(&sign, 1);
      hs.words(code, 40);
      hs.words(y, 40);
      // The whole codebook step with a pitch sharpening lag inside the subframe.
      W16 h2[40];
      std::copy(hh, hh + 40, h2);
      W16 T0 = static_cast<W16>(20 + round % 30), sharp = static_cast<W16>(3277 + (round * 97) % 9830);
      index = g729ab_ACELP_Code_A(x, h2, T0, sharp, code, y, &sign);
      hc.words(&index, 1);
      hc.words(&sign, 1);
      hc.words(code, 40);
      hc.words(y, 40);
      hc.words(h2, 40);
    }
  line("matrix", hm);
  line("fixed-codebook", hs);
  line("acelp", hc);
}

void pairSearch() {
  digest::Fnv1a h;
  for (int amp : kAmps)
    for (int round = 0; round < 300; ++round) {
      W16 dnA[8], dnB[8], rrAB[64];
      for (auto& v : dnA) v = static_cast<W16>(next() % (amp / 4 + 1));
      for (auto& v : dnB) v = static_cast<W16>(next() % (amp / 4 + 1));
      fill(rrAB, 64, amp);
      W32 rrv[8], alp0[8];
      for (auto& v : rrv) v = static_cast<W32>(next() << 8) >> (round % 3);
      for (auto& v : alp0) v = static_cast<W32>(next() << 8) >> (round % 4);
      static constexpr W16 weights[6] = {0, 0, 0, 0, 16384, 4096};
      W16 ps0 = static_cast<W16>(next() % (amp / 2 + 1));
      W16 a, s, i;
      g729ab_CBS2_PulsePosition_MR122(dnA, dnB, ps0, rrAB, rrv, weights, alp0, &a, &s, &i);
      h.words(&a, 1);
      h.words(&s, 1);
      h.words(&i, 1);
    }
  line("pair-search", h);
}

void pitch() {
  digest::Fnv1a ho, hc, hp;
  for (int amp : kAmps)
    for (int round = 0; round < 120; ++round) {
      // Open loop: 143 past samples, the frame and the word it zeroes.
      W16 wspBuf[143 + 81];
      fill(wspBuf, 143 + 80, amp);
      W16 T = g729ab_Pitch_ol_fast(wspBuf + 143);
      ho.words(&T, 1);
      // Closed loop over a lag range, the whole subframe.
      W16 excBuf[154 + 40], xn[40], hh[40];
      fill(excBuf, 154 + 40, amp);
      fill(xn, 40, amp);
      impulse(hh, std::min(amp, 8192));
      int t0min = 20 + static_cast<int>(next() % 124), i_subfr = round & 1 ? 40 : 0;
      t0min = std::min(t0min, 143 - (i_subfr ? 9 : 6));
      int t0max = t0min + (i_subfr ? 9 : 6);
      W16 frac;
      W16 t0 = g729ab_Pitch_fr3_fast(excBuf + 154, xn, hh, t0min, t0max, i_subfr, &frac);
      hc.words(&t0, 1);
      hc.words(&frac, 1);
      hc.words(excBuf, 154 + 40);
      // Interpolation alone at every fraction, lags inside the subframe included.
      for (int frac3 = -1; frac3 <= 1; ++frac3) {
        fill(excBuf, 154 + 40, amp);
        g729ab_Pred_lt_3_fast(excBuf + 154, 20 + static_cast<int>(next() % 124), frac3);
        hp.words(excBuf + 154, 40);
      }
    }
  line("open-loop", ho);
  line("closed-loop", hc);
  line("interpolation", hp);
}

}  // namespace

int main() {
  correlations();
  codebook();
  pairSearch();
  pitch();
}
