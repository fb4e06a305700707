// Algebraic codebook search of the G.723.1 5.3 kbit/s rate: the correlation blocks it works on
// and the four-pulse search over them (shared with its tests).
#pragma once

#include "g7231_basic_op.h"

inline constexpr int G723_Tracks = 4;
inline constexpr int G723_TrackPos = 8;

// Correlations of the scaled response between the even-grid positions p = 8i + 2t.
struct TrackCorr {
  Word16 diag[G723_Tracks][G723_TrackPos];
  Word16 cross[G723_Tracks][G723_Tracks][G723_TrackPos][G723_TrackPos];  // [t1][t2] for t1 < t2
};

struct AcelpResult {
  int idx[G723_Tracks];
  int grid;
};

// Signed correlations between tracks: the 16-bit blocks of tracks 0-1, 0-2, 1-2 and the
// doubled 32-bit blocks with track 3 (signs of the even-grid positions).
struct SignedCorr {
  Word16 rri0i1[G723_TrackPos][G723_TrackPos], rri0i2[G723_TrackPos][G723_TrackPos], rri1i2[G723_TrackPos][G723_TrackPos];
  Word32 L_rri0i3[G723_TrackPos][G723_TrackPos], L_rri1i3[G723_TrackPos][G723_TrackPos], L_rri2i3[G723_TrackPos][G723_TrackPos];
};

// Searches the four tracks for the best pulse combination (codes i0..i3 and the grid bit in out)
// within the time budget, evaluating the fourth pulse only where the first three pass the
// threshold; returns the budget left.
Word16 g723_1_LowRateSearch(AcelpResult* out, Word16 threshold, const Word16* D, const SignedCorr& sc,
                            const TrackCorr& rr, int budget);
