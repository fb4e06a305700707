// Packet loss concealment: a lost frame repeats the last residual at its pitch lag, mixed with a
// randomly picked copy by how periodic it was, attenuated with the length of the loss.
#include "ilbc_plc.h"

#include <array>

#include "ilbc_kernels.h"

namespace ilbc {
namespace {

constexpr i32 kInvSqrt2Q31 = 1518500250;

// Which of two (correlation, lag energy) pairs predicts better, compared without division.
bool better_lag(i32 c, i32 el, i32 cb, i32 eb) {
  const int shift = ilbc_norm_l(std::max(c, cb));
  const i32 c1 = ilbc_L_shl(c, shift), cb1 = ilbc_L_shl(cb, shift);
  const i32 csq = ilbc_mpy_ll(c1, c1), cbsq = ilbc_mpy_ll(cb1, cb1);
  return ilbc_mpy_ll(csq, eb) > ilbc_mpy_ll(cbsq, el);
}

// |corr| / sqrt(energy_lag * energy) in Q31, saturated.
i32 periodicity(i32 corr, i32 energy_lag, i32 energy) {
  const i32 ac = ilbc_L_abs(corr);
  if (ac == 0 || energy_lag <= 0 || energy <= 0) return 0;
  const int sc = ilbc_norm_l(ac), s1 = ilbc_norm_l(energy_lag), s2 = ilbc_norm_l(energy);
  const i32 prod = ilbc_mpy_ll(ilbc_L_shl(energy_lag, s1), ilbc_L_shl(energy, s2));
  i16 e = 0;
  const i32 isq = ilbc_Isqrt(prod, &e);
  i32 t = ilbc_mpy_ll(ilbc_L_shl(ac, sc), isq);
  int h = s1 + s2 - 31;
  if (h & 1) {
    t = ilbc_mpy_ll(t, kInvSqrt2Q31);
    ++h;
  }
  return ilbc_L_shl(t, 31 + e - sc + h / 2);
}

i32 gain_at(int i, bool level2) {
  static constexpr i32 kLevel1[3] = {2147483647, 2040109464, 1932735282};
  static constexpr i32 kLevel2[3] = {1932735283, 1836098518, 1739461754};
  return level2 ? kLevel2[i / 80] : kLevel1[i / 80];
}

void ilbc_ComputeConcealedResidual(iLBC_Dec_Inst_t* inst, i16* randvec, i16* out, i32 max_per, int lag) {
  const int blockl = inst->blockl;
  const bool level2 = inst->consPLICount * blockl > 320;
  i32 pitchfact = 0;
  if (max_per > 1052266988) {
    pitchfact = kMax32;
  } else if (max_per > 343597384) {
    i16 e = 0;
    const i32 r = ilbc_sqrt_l_exp(max_per, &e);
    const i32 root = r >> (e / 2);
    pitchfact = ilbc_L_shl(ilbc_mpy_ll(ilbc_L_sub(root, 858993459), 1789569707), 2);
  }
  // Just above the lower threshold the rounded root can fall a hair below 0.4, so the
  // complement saturates instead of overflowing.
  const i32 one_minus = ilbc_L_sub(kMax32, pitchfact);
  // The history holds blockl samples: the repetition never reaches further back.
  const int use_lag = std::min(lag < 80 ? 2 * lag : lag, blockl);
  i32 energy = 0;
  for (int i = 0; i < blockl; ++i) {
    inst->seed = (69069u * inst->seed + 1u) & 0x7FFFFFFFu;
    const int randlag = 50 + static_cast<int>(inst->seed % 70u);
    int pick = i - randlag;
    randvec[i] = pick < 0 ? inst->prevResidual[blockl + pick] : randvec[pick];
    pick = i - use_lag;
    const i16 p = pick < 0 ? inst->prevResidual[blockl + pick] : out[pick];
    const i32 mix = ilbc_L_add(ilbc_mpy_ls(pitchfact, p), ilbc_mpy_ls(one_minus, randvec[i]));
    out[i] = static_cast<i16>(ilbc_round(ilbc_mpy_ll(mix, gain_at(i, level2))));
    energy = ilbc_L_add(energy, i32{out[i]} * out[i]);
  }
  if (energy < 900 * blockl) ilbc_Copy(randvec, out, blockl);
}

}  // namespace

void ilbc_compCorr(const i16* buffer, int lag, int bLen, int sRange, i32* corr, i32* energy_lag, i32* energy) {
  if (bLen - sRange - lag < 0) sRange = bLen - lag;
  i64 c = 0, el = 0, e = 0;
  for (int k = bLen - std::max(sRange, 0); k < bLen; ++k) {
    c += i32{buffer[k]} * buffer[k - lag];
    el += i32{buffer[k - lag]} * buffer[k - lag];
    e += i32{buffer[k]} * buffer[k];
  }
  *corr = wrap32(c >> 4);
  *energy_lag = wrap32(el >> 4);
  *energy = wrap32(e >> 4);
  if (*energy_lag < 1) *corr = *energy_lag = *energy = 0;
}

void ilbc_doThePLC(i16* PLCresidual, i16* PLClpc, int PLI, const i16* decresidual, const i16* lpc, int inlag,
                   iLBC_Dec_Inst_t* inst) {
  const int blockl = inst->blockl;
  if (PLI == 1) {
    ++inst->consPLICount;
    int lag;
    i32 max_per_q31;
    if (inst->prevPLI == 1) {
      lag = inst->prevPitch;
      max_per_q31 = inst->per_q31;
    } else {
      inlag = std::max(inlag, 4);
      lag = inlag - 3;
      i32 c = 0, el = 0, e = 0;
      ilbc_compCorr(inst->prevResidual, lag, blockl, 60, &c, &el, &e);
      for (int cand = inlag - 2; cand <= inlag + 3; ++cand) {
        i32 c2 = 0, el2 = 0, e2 = 0;
        ilbc_compCorr(inst->prevResidual, cand, blockl, 60, &c2, &el2, &e2);
        if (better_lag(c2, el2, c, el)) {
          lag = cand;
          c = c2;
          el = el2;
          e = e2;
        }
      }
      max_per_q31 = periodicity(c, el, e);
      // A lag handed over by the enhancer after a loss may exceed the history.
      lag = std::clamp(lag, 1, blockl);
    }
    std::array<i16, 240> randvec_q0{};
    ilbc_ComputeConcealedResidual(inst, randvec_q0.data(), PLCresidual, max_per_q31, lag);
    ilbc_Copy(inst->prevLpc, PLClpc, 11);
    inst->prevPitch = static_cast<i16>(lag);
    inst->per_q31 = max_per_q31;
  } else {
    ilbc_Copy(decresidual, PLCresidual, blockl);
    ilbc_Copy(lpc, PLClpc, 11);
    inst->consPLICount = 0;
  }
  inst->prevPLI = static_cast<i16>(PLI);
  ilbc_Copy(PLClpc, inst->prevLpc, 11);
  ilbc_Copy(PLCresidual, inst->prevResidual, blockl);
}

}  // namespace ilbc
