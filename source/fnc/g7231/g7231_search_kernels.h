// Search and quantiser kernels of the G.723.1 encoder: correlation buffer and gain-table search
// of the adaptive codebook, open-loop pitch sweep, LSP split-VQ bands and the multipulse
// placement and scoring of the 6.3 kbit/s codebook.
#pragma once

#include "g7231_basic_op.h"

// Correlation terms of the five-tap pitch predictor from five consecutive filtered excitation
// rows of 60 (f) and the target t.
void g723_1_Compute_CorBuf(const Word16* f, const Word16* t, Word32* CorBuf);
// Scans the first n entries of a grouped gain table (multiple of 4 at most: the last group is
// returned as sums); lane maxima and their entry numbers. Returns the number of entries compared.
int g723_1_AdapGainQ_loop(const Word16* CorVct, int n, const Word16* table, Word32* last_sums, Word32* lane_max,
                          Word16* lane_idx);
// Index of the best entry of a 3- or 4-component LSP band.
Word32 g723_1_LSP_VQ3(const Word16* lsp, const Word16* w, const Word16* book);
Word32 g723_1_LSP_VQ4(const Word16* lsp, const Word16* w, const Word16* book);
// Correlations C[lag] and recursive energies E[lag] for lags 18..145 (arrays indexed by lag).
void g723_1_Estim_Pitch_Loop(const Word16* x, Word32 E17, Word32* corr, Word32* energy, int s, int s17);
// Greedy placement of the pulses after the first on one grid of 30 positions.
void g723_1_PulseSearch(int np, Word16 first_sign_amp, int grid, Word32* corr30, Word16* amp_pos, Word16* amp_neg,
                        const Word16* imr_corr_centre, Word16* ploc, Word16* pamp, Word16 amplitude);
// Score 2 <t, y> - <y, y> of the filtered pulses (y written to out).
Word32 g723_1_Gen_Score(const Word16* h, const Word16* ploc, const Word16* pamp, Word16* out, const Word16* target);
