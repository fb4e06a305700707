// Signal analysis of the G.722 concealment: LPC, weighting and decimation, pitch, periodicity,
// and the first good frame's lag search and time warping (internal to the family).
#pragma once

#include <cstdint>

#include "g722_internal.h"

struct cp_struct {
  Word32 a_val;
  Word32 b_val;
  Word32 cc;
  Word32 deltae;
  Word32 eni;
};

void g722_Autocorr(Word32 *r, const Word16 *x);
void g722_Spectral_Smoothing(Word32 *r);
void g722_Levinson(const Word32 *Rhl, Word16 *A, Word16 *old_A);
Word32 g722_DIV_32(Word32 L_num, Word32 denom);

// xw: 60 memory samples followed by the 160 weighted samples; xwd_work: 65-sample buffer.
void g722_decim(const Word16 *xw, Word16 *xwd_work, G722_APXIII_WB_PLC_State *cstate);
// The 20 decimated outputs; returns their largest magnitude, at least 2.
Word32 g722_decim_LPF(const Word16 *xw, Word32 *lxwd);
Word16 g722_coarsepitch(const Word16 *xwd, Word16 cpplast);

// The figure c|c| / E of one lag or interpolated candidate of the coarse pitch search: c the
// correlation, e the energy (at least 1). When `negated`, the search turned to the peaks of
// negative correlation and the figure is minus that of c, formed by negating its mantissa.
struct g722_pitch_ratio {
  Word32 c;
  Word32 e;
  bool negated;
};
// Whether the figure of p exceeds t_q15 / 32768 times that of q (t_q15 = 32767: no factor). The
// model compares on normalised 16-bit mantissas and exponents, cross-multiplied; the fast form
// decides in double precision whenever the two sides lie too far apart for the mantissa
// truncations to matter and otherwise defers to the model, so both always agree.
bool g722_model_pitch_ratio_greater(const g722_pitch_ratio &p, const g722_pitch_ratio &q, Word16 t_q15);
bool g722_pitch_ratio_greater(const g722_pitch_ratio &p, const g722_pitch_ratio &q, Word16 t_q15);
// Correlations and energies of decimated lags 5..35 (lag 4 given in corr[4], energy[4]).
void g722_coarsepitch_loop1(const Word16 *xwd, Word32 *corr, Word32 *energy);
Word16 g722_prfn(Word16 *ptfe, Word32 *cormax, Word32 *energymax32, Word16 *ppt, Word16 *wsz,
                 Word16 *sflag, const Word16 *xq, Word16 cpp);
Word32 g722_prfn_AverageMagnitude(const Word16 *in, Word16 len);
Word16 g722_merit(const Word16 *xq, Word16 wsz, Word32 cormax, Word32 energymax32, Word16 sflag,
                  Word16 *xqbuf);
Word16 g722_testrpc(Word16 merit, Word16 *inbuf);
Word16 g722_testrpc_flag(const Word16 *inbuf);
Word16 g722_ppchange(const Word16 *xq, Word16 pp, const Word16 *inbuf);
Word16 g722_getlag(const Word16 *x, const Word16 *esb, Word16 lsw, Word16 delta, Word32 *pemax,
                   Word32 *pc2max);
Word16 g722_refinelag(const Word16 *xq, Word16 pp, const Word16 *inbuf, Word16 estlag);
void g722_extractbuf(const Word16 *xq, Word16 *esb, Word16 D, Word16 L, Word16 pp);
Word32 g722_ppchange_Energy(const Word16 *esb, Word16 len);
// Stretches or compresses 144 samples by `delta`; reads in[-1] when stretching from the start.
void g722_resample(const Word16 *in, Word16 *out, Word16 delta);
// Splices of the resampler: a sample repeated (ad 1) or skipped (ad -1) at every spad16 / 2^Qspad
// input samples, faded over olalen samples; writes exactly nspad32 samples.
void g722_resample_loop(Word32 nspad32, const Word16 *in, Word16 *out, std::int64_t pup_start,
                        Word16 Qspad, Word16 skip, Word32 spad16, Word16 ad, Word16 olalen);
