// Decoding of the algebraic codebook indices into pulse positions and the
// innovation vector.  A position is its index within the track (N bits) plus
// 16 for a negative pulse.
#include "amrwb_basic_op.h"
#include "amrwb_shared.h"

namespace {
constexpr Word16 NB_POS = 16;
Word32 mask(int bits) { return (Word32{1} << bits) - 1; }
}  // namespace

void amr_wb_dec_1p_N1(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    Word16 p = static_cast<Word16>((index & mask(N)) + offset);
    if ((index >> N) & 1) p = static_cast<Word16>(p + NB_POS);
    pos[0] = p;
}

void amr_wb_dec_2p_2N1(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    Word16 p1 = static_cast<Word16>(((index >> N) & mask(N)) + offset);
    Word16 p2 = static_cast<Word16>((index & mask(N)) + offset);
    bool neg = (index >> (2 * N)) & 1;
    // The pulses' order carries the second sign.
    if (p2 - p1 < 0) {
        if (neg)
            p1 = static_cast<Word16>(p1 + NB_POS);
        else
            p2 = static_cast<Word16>(p2 + NB_POS);
    } else if (neg) {
        p1 = static_cast<Word16>(p1 + NB_POS);
        p2 = static_cast<Word16>(p2 + NB_POS);
    }
    pos[0] = p1;
    pos[1] = p2;
}

void amr_wb_dec_3p_3N1(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    Word16 j = offset;
    if ((index >> (2 * N - 1)) & 1) j = static_cast<Word16>(j + (1 << (N - 1)));
    amr_wb_dec_2p_2N1(index & mask(2 * N - 1), static_cast<Word16>(N - 1), j, pos);
    amr_wb_dec_1p_N1((index >> (2 * N)) & mask(N + 1), N, offset, pos + 2);
}

void amr_wb_dec_4p_4N1(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    Word16 j = offset;
    if ((index >> (2 * N - 1)) & 1) j = static_cast<Word16>(j + (1 << (N - 1)));
    amr_wb_dec_2p_2N1(index & mask(2 * N - 1), static_cast<Word16>(N - 1), j, pos);
    amr_wb_dec_2p_2N1((index >> (2 * N)) & mask(2 * N + 1), N, offset, pos + 2);
}

void amr_wb_dec_4p_4N(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    const Word16 n_1 = static_cast<Word16>(N - 1);
    const Word16 j = static_cast<Word16>(offset + (1 << n_1));
    switch ((index >> (4 * N - 2)) & 3) {
        case 0:
            amr_wb_dec_4p_4N1(index, n_1, ((index >> (4 * n_1 + 1)) & 1) ? j : offset, pos);
            break;
        case 1:
            amr_wb_dec_1p_N1(index >> (3 * n_1 + 1), n_1, offset, pos);
            amr_wb_dec_3p_3N1(index, n_1, j, pos + 1);
            break;
        case 2:
            amr_wb_dec_2p_2N1(index >> (2 * n_1 + 1), n_1, offset, pos);
            amr_wb_dec_2p_2N1(index, n_1, j, pos + 2);
            break;
        default:
            amr_wb_dec_3p_3N1(index >> (n_1 + 1), n_1, offset, pos);
            amr_wb_dec_1p_N1(index, n_1, j, pos + 3);
            break;
    }
}

void amr_wb_dec_5p_5N(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    const Word16 n_1 = static_cast<Word16>(N - 1);
    const Word16 j = static_cast<Word16>(offset + (1 << n_1));
    Word32 idx = index >> (2 * N + 1);
    amr_wb_dec_3p_3N1(idx, n_1, ((index >> (5 * N - 1)) & 1) ? j : offset, pos);
    amr_wb_dec_2p_2N1(index, N, offset, pos + 3);
}

void amr_wb_dec_6p_6N_2(Word32 index, Word16 N, Word16 offset, Word16* pos) {
    const Word16 n_1 = static_cast<Word16>(N - 1);
    const Word16 j = static_cast<Word16>(offset + (1 << n_1));
    Word16 offA = j, offB = j;
    if (((index >> (6 * N - 5)) & 1) == 0)
        offA = offset;
    else
        offB = offset;
    switch ((index >> (6 * N - 4)) & 3) {
        case 0:
            amr_wb_dec_5p_5N(index >> N, n_1, offA, pos);
            amr_wb_dec_1p_N1(index, n_1, offA, pos + 5);
            break;
        case 1:
            amr_wb_dec_5p_5N(index >> N, n_1, offA, pos);
            amr_wb_dec_1p_N1(index, n_1, offB, pos + 5);
            break;
        case 2:
            amr_wb_dec_4p_4N(index >> (2 * n_1 + 1), n_1, offA, pos);
            amr_wb_dec_2p_2N1(index, n_1, offB, pos + 4);
            break;
        default:
            amr_wb_dec_3p_3N1(index >> (3 * n_1 + 1), n_1, offset, pos);
            amr_wb_dec_3p_3N1(index, n_1, j, pos + 3);
            break;
    }
}

namespace {
void add_pulses(const Word16* pos, int nb, int track, Word16* code) {
    for (int k = 0; k < nb; ++k) {
        int i = (pos[k] & (NB_POS - 1)) * 4 + track;
        code[i] = amr_wb_op::add(code[i], (pos[k] & NB_POS) == 0 ? 512 : -512);
    }
}
}  // namespace

void amr_wb_DEC_ACELP_4t64_fx(const Word16* index, Word16 nbbits, Word16* code) {
    for (int i = 0; i < 64; ++i) code[i] = 0;
    Word16 pos[6];
    for (int k = 0; k < 4; ++k) {
        Word32 hi = index[k], lo = index[k + 4 < 8 ? k + 4 : k];
        switch (nbbits) {
            case 20:
                amr_wb_dec_1p_N1(hi, 4, 0, pos);
                add_pulses(pos, 1, k, code);
                break;
            case 36:
                amr_wb_dec_2p_2N1(hi, 4, 0, pos);
                add_pulses(pos, 2, k, code);
                break;
            case 44:
                if (k < 2) {
                    amr_wb_dec_3p_3N1(hi, 4, 0, pos);
                    add_pulses(pos, 3, k, code);
                } else {
                    amr_wb_dec_2p_2N1(hi, 4, 0, pos);
                    add_pulses(pos, 2, k, code);
                }
                break;
            case 52:
                amr_wb_dec_3p_3N1(hi, 4, 0, pos);
                add_pulses(pos, 3, k, code);
                break;
            case 64:
                amr_wb_dec_4p_4N((hi << 14) + lo, 4, 0, pos);
                add_pulses(pos, 4, k, code);
                break;
            case 72:
                if (k < 2) {
                    amr_wb_dec_5p_5N((hi << 10) + lo, 4, 0, pos);
                    add_pulses(pos, 5, k, code);
                } else {
                    amr_wb_dec_4p_4N((hi << 14) + lo, 4, 0, pos);
                    add_pulses(pos, 4, k, code);
                }
                break;
            case 88:
                amr_wb_dec_6p_6N_2((hi << 11) + lo, 4, 0, pos);
                add_pulses(pos, 6, k, code);
                break;
            default:
                break;
        }
    }
}

void amr_wb_DEC_ACELP_2t64_fx(Word16 index, Word16* code) {
    for (int i = 0; i < 64; ++i) code[i] = 0;
    int i0 = ((index >> 6) & 31) * 2, i1 = (index & 31) * 2 + 1;
    code[i0] = ((index >> 11) & 1) ? -512 : 512;
    code[i1] = amr_wb_op::add(code[i1], ((index >> 5) & 1) ? -512 : 512);
}
