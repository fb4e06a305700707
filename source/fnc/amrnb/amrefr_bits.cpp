// Conversion between coded parameters and serial bits (one bit per word, most
// significant bit of each parameter first, parameters in the mode's order).
#include <cstdint>

#include "amrefr_kernels.h"
#include "amrefr_tables.h"

void amrefr_Prm2bits(Word16 mode, const Word16* prm, Word16* bits) {
    const Word16* table = amrefr_bitno[mode];
    for (int j = 0; j < amrefr_prmno[mode]; ++j) {
        int k = table[j];
        std::int32_t v = (std::int32_t{prm[j]} * 65536) >> k;
        *bits++ = static_cast<Word16>(v >> 16);
        for (int b = 0; b < k; ++b) {
            v = (v & 0xFFFF) * 2;
            *bits++ = static_cast<Word16>(v >> 16);
        }
    }
}

void amrefr_Bits2prm(Word16 mode, const Word16* bits, Word16* prm) {
    const Word16* table = amrefr_bitno[mode];
    for (int j = 0; j < amrefr_prmno[mode]; ++j) {
        std::int32_t value = 0;
        for (int b = 0; b <= table[j]; ++b) value = 2 * value + *bits++;
        prm[j] = static_cast<Word16>(value);
    }
}

#include "amrefr_frame_format.h"

int amrefr_mode_bits(int mode) {
    if (mode < 0 || mode >= N_MODES) return 0;
    int n = 0;
    for (int j = 0; j < amrefr_prmno[mode]; ++j) n += amrefr_bitno[mode][j] + 1;
    return n;
}

Word16 amrefr_efr_sid_class(const Word16* bits244) {
    int zeros = 0;
    for (Word16 pos : amrefr_SID_codeword_bit_idx)
        if (bits244[pos] == 0) ++zeros;
    return zeros < 2 ? 2 : (zeros < 16 ? 1 : 0);
}
