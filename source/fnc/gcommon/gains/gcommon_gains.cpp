// Gains: decoding of the two-stage conjugate gain codebook (with the 11.8 kbit/s erasure muting),
// preselection, the MA energy predictor and the taming of the excitation error.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

void g729Dec_gain(SINT16 idx, const SINT16* code, SINT16 bfi, SINT16* gain_pit, SINT16* gain_cod, SINT16* past_qua_en) {
    g729::g729ab_Dec_gain(idx, code, bfi, past_qua_en, gain_pit, gain_cod);
}

void g729eDec_gaine(SINT16 idx, const SINT16* code, SINT16 bfi, SINT16* gain_pit, SINT16* gain_cod, SINT16* past_qua_en,
                    SINT16 rate, SINT16* c_muting, SINT16 count_bfi, SINT16 stationnary) {
    if (bfi == 0 || rate != 1) {
        g729Dec_gain(idx, code, bfi, gain_pit, gain_cod, past_qua_en);
        return;
    }
    if (count_bfi > 1) {
        *gain_pit = mult(*gain_pit, *c_muting);
        *gain_cod = mult(*gain_cod, *c_muting);
        if (stationnary == 0 || count_bfi > 10) *c_muting = mult(*c_muting, stationnary ? SINT16{32604} : SINT16{32112});
    } else {
        *gain_pit = stationnary ? SINT16{16384} : SINT16{15564};
    }
    g729Gain_update_erasure(past_qua_en);
}

void g729Gbk_presel(const SINT16* best_gain, SINT16* cand1, SINT16* cand2, SINT16 gcode0) {
    g729::g729ab_Gbk_presel(best_gain, cand1, cand2, gcode0);
}

void g729Gain_predict(const SINT16* past_qua_en, const SINT16* code, SINT16* gcode0, int* exp_gcode0) {
    *exp_gcode0 = g729::g729ab_Gain_predict(past_qua_en, code, gcode0);
}

void g729Gain_update(SINT16* past_qua_en, SINT32 L_gbk12) { g729::g729ab_Gain_update(past_qua_en, L_gbk12); }

void g729Gain_update_erasure(SINT16* past_qua_en) { g729::g729ab_Gain_update_erasure(past_qua_en); }

SINT16 g729Test_err(int T0, int T0_frac, const SINT32* L_exc_err) {
    return static_cast<SINT16>(g729::g729ab_test_err(static_cast<SINT16>(T0), static_cast<SINT16>(T0_frac), L_exc_err));
}

void g729Update_exc_err(SINT16 gain_pit, int T0, SINT32* L_exc_err) {
    g729::g729ab_update_exc_err(gain_pit, static_cast<SINT16>(T0), L_exc_err);
}

void g729aPerWeightErr(SINT16* ewn, const SINT16* xn, const SINT16* yn, const SINT16* zn, SINT16 gp, SINT16 gc) {
    for (int i = 0; i < 10; ++i) {
        const SINT32 s = ((SINT32{gp} * yn[30 + i]) >> 14) + ((SINT32{gc} * zn[30 + i]) >> 13);
        ewn[i] = sub(xn[30 + i], static_cast<SINT16>(s));
    }
}

}  // namespace gcommon
