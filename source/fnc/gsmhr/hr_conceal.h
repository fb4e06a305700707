// Error concealment of the GSM half-rate decoder.
#pragma once

#include "hr_codec.h"

namespace hr {

void hr_para_conceal_speech_decoder(Word16* pswErrorFlag, Word16* pswSpeechPara,
                                    Word16* pswMutePermit, Word16* swLastFlag, Word16* swState,
                                    Word16* pswLastGood, Word16* lastR0);
Word16 hr_level_calc(Word16 swInd, Word32* pl_en);
void hr_level_estimator0(Word16* pswLevelMean, Word16* pswLevelMax, Word32* plSubfrEnergyMem,
                         Word16* swLevelMem);
void hr_level_estimator1(const Word16* pswDecodedSpeechFrame, Word32* plSubfrEnergyMem,
                         Word16* swLevelMem);
void hr_signal_conceal_sub(Word16* pswPPFExcit, const Word16* ppswSynthAs,
                           Word16* pswSynthFiltState, Word16* pswLtpStateOut,
                           Word16* pswPPreState, Word16 swLevelMean, Word16 swLevelMax,
                           Word16 swUFI, Word16 swMuteFlagOld, Word16* pswMuteFlag,
                           Word16 swMutePermit);

}  // namespace hr
