// Error concealment of the GSM half-rate decoder: substitution of bad and unreliable frames by
// the last good parameters with R0 lowered by state, and attenuation of subframes whose level
// would jump above the recent level.
#include <algorithm>

#include "hr_conceal.h"
#include "hr_tables.h"

namespace hr {

void hr_para_conceal_speech_decoder(Word16* err, Word16* prm, Word16* mutePermit,
                                    Word16* lastFlag, Word16* state, Word16* lastGood,
                                    Word16* lastR0) {
  Word16 R0 = prm[0];
  Word16 lr = static_cast<Word16>(std::clamp<int>(*lastR0, 0, 31));
  Word16 d = sub(R0, lr);
  *mutePermit = 0;
  if (err[0] == 0 && err[1] != 0) {  // unreliable frame
    if (d >= hr_psrR0RepeatThreshold[lr]) {
      err[0] = 1;
    } else if (R0 > 29) {
      *mutePermit = 1;
    }
    if (err[0] == 0 && d >= hr_psrR0MuteThreshold[lr]) *mutePermit = 1;
  }
  if (err[0] != 0) {
    *state = std::min<Word16>(static_cast<Word16>(*state + 1), 6);
  } else if (!(*state == 6 && *lastFlag != 0)) {
    *state = 0;
  }
  *lastFlag = err[0] != 0 ? 1 : 0;

  if (*state == 0) {
    std::copy(prm, prm + 18, lastGood);
  } else {
    if (*state >= 3 && *state <= 5) lastGood[0] = std::max<Word16>(static_cast<Word16>(lastGood[0] - 2), 0);
    if (*state == 6) lastGood[0] = 0;
    const bool savedVoiced = lastGood[5] != 0, rxVoiced = prm[5] != 0;
    if (savedVoiced) {
      // Constant lag: the absolute lag of the last subframe becomes the first lag.
      int lag = lastGood[6];
      for (int k = 1; k < 4; ++k) {
        lag = std::clamp(lag + lastGood[6 + 3 * k] - 8, 0, 255);
        lastGood[6 + 3 * k] = 8;
      }
      lastGood[6] = static_cast<Word16>(lag);
    }
    if (savedVoiced == rxVoiced) {
      for (int i = 0; i < 5; ++i) prm[i] = lastGood[i];
      if (savedVoiced) {
        prm[5] = lastGood[5];
        for (int k = 0; k < 4; ++k) prm[6 + 3 * k] = lastGood[6 + 3 * k];
      }
    } else {
      std::copy(lastGood, lastGood + 18, prm);
    }
    for (int k = 0; k < 4; ++k) prm[8 + 3 * k] = lastGood[17];
  }
  *lastR0 = prm[0];
}

Word16 hr_level_calc(Word16 swInd, Word32* pl_en) {
  Word32 en = *pl_en;
  Word32 t = 0;
  if (en > 0) {
    int p = 29 - norm_l(en);
    t = 4 * p;
    if (p >= 0 && ((en >> p) & 1)) t += 2;
    if (p - 1 >= 0 && ((en >> (p - 1)) & 1)) t += 1;
  }
  Word32 C = swInd == 0 ? 353 : 377;
  Word16 level = extract_h(L_add(L_shl(3 * t - C, 14), 0x8000));
  if (level < -72) {
    level = -72;
    *pl_en = swInd == 0 ? 80 : 320;
  }
  return level;
}

void hr_level_estimator0(Word16* mean, Word16* max, Word32* energyMem, Word16* levelMem) {
  Word32 sum = 0;
  for (int i = 0; i < 4; ++i) sum = L_add(sum, energyMem[i]);
  *mean = hr_level_calc(1, &sum);
  Word16 m = -72;
  for (int i = 0; i < 4; ++i) m = std::max(m, levelMem[i]);
  *max = m;
}

void hr_level_estimator1(const Word16* speech, Word32* energyMem, Word16* levelMem) {
  Word32 e = hr_Vec_L_shr_sqa_SLEN(speech, 3, 0);
  Word16 level = hr_level_calc(0, &e);
  for (int i = 0; i < 3; ++i) energyMem[i] = energyMem[i + 1], levelMem[i] = levelMem[i + 1];
  energyMem[3] = e;
  levelMem[3] = level;
}

void hr_signal_conceal_sub(Word16* excit, const Word16* synthAs, Word16* synthState,
                           Word16* ltpOut, Word16* ppreState, Word16 levelMean, Word16 levelMax,
                           Word16 ufi, Word16 muteFlagOld, Word16* muteFlag, Word16 mutePermit) {
  Word16 state[NP], out[S_LEN];
  std::copy(synthState, synthState + NP, state);
  hr_lpcIir2(excit, synthAs, state, out);
  Word32 e = hr_Vec_L_shr_sqa_SLEN(out, 2, 0);
  Word16 level = hr_level_calc(0, &e);
  Word16 i = std::min<Word16>(extract_h(L_mult(negate(levelMean), 1638)), 15);
  if (i < 0) i = 0;
  if (muteFlagOld <= 0 && mutePermit <= 0) return;
  Word16 permit = muteFlagOld > 0 ? Word16(1) : mutePermit;
  if (level <= -45) permit = 0;
  Word16 excess = sub(level, add(levelMax, hr_psrLevelMaxIncrease[i]));
  if (excess > 0 && permit > 0) {
    excess = std::min<Word16>(excess, 15);
    if (ufi != 0) *muteFlag = 1;
    Word16 g = hr_psrConceal[excess - 1];
    Word16 gv[S_LEN];
    std::fill(gv, gv + S_LEN, g);
    hr_Vec_mult_r_NP(synthState, gv, synthState);
    hr_Vec_mult_r_SLEN(excit, gv, excit);
    hr_Vec_mult_r_SLEN(ltpOut, gv, ltpOut);
    hr_Vec_mult_r_SLEN(ppreState, gv, ppreState);
  }
}

}  // namespace hr
