// Packet-loss concealment for PCM streams in 5 ms frames: a good frame is analysed (linear
// prediction, pitch) and passes unchanged except after a loss, where it is cross-faded with the
// continuation of the synthetic signal; a lost frame is extrapolated pitch-periodically from the
// history, mixed with shaped noise by a periodicity merit, ramped down from the fifth lost frame
// in a row and muted from the thirteenth. Narrowband frames are 40 samples, wideband 80.
#pragma once

#include <cstdint>

constexpr int NB_PLC_FRAME = 40;
constexpr int NB_PLC_HISTORY = 218;
constexpr int NB_PLC_RING = 20;
constexpr int WB_PLC_FRAME = 80;
constexpr int WB_PLC_HISTORY = 426;
constexpr int WB_PLC_RING = 40;

template <int H, int R>
struct PLC_StateT {
  int32_t level;        // reference log-energy of the merit
  int32_t energymax32;  // energy and correlation at the refined pitch lag
  int32_t cormax;
  int16_t wsz;
  int16_t scaled_flag;
  int16_t xq[H];        // signal history, oldest first
  int16_t ring[R];      // continuation samples of the last lost frame
  int16_t stsyml[8];    // synthesis filter memory: the last 8 output samples
  int16_t al[8];        // current predictor a1..a8 (Q12)
  int16_t alast[8];     // the previous set, the recursion's fallback
  int16_t ppt;          // pitch predictor tap (Q9)
  int16_t dummy1;
  int16_t stwpml[8];    // perceptual weighting filter memory
  int16_t xwd[55];      // decimated weighted signal (block floating point)
  int16_t xwd_exp;
  int32_t dfm[4];       // decimation filter memory
  int16_t scaler;       // noise weight of the last lost frame (0 periodic .. 32767 noise)
  int16_t merit;
  int16_t ptfe;         // pitch tap of the extrapolation (Q14)
  int16_t ppf;          // pitch period during a loss
  int16_t ppinc;        // pitch change per frame (Q6)
  int16_t pweflag;
  int16_t cpplast;      // last coarse pitch
  int16_t pph[7];       // the last seven pitch periods, newest first
  int16_t pp;           // current pitch period
  int16_t cfecount;     // consecutive lost frames
  int16_t ngfae;        // good frames since the last loss, up to 9
  int16_t nfle;         // length of the last loss
  int16_t avm;          // noise amplitude
  int16_t* futurescratchp;
  // A good frame's pitch refinement is only read by a loss (the first lost frame reads the newest
  // one's results and the pitch trend of the last five), so it is made then. Bit j of
  // pendingPitch marks pph[j] (and, for j = 0, pp and the refinement's outputs above) as not yet
  // made for the good frame j frames back; pendingCpp[j] is that frame's coarse pitch, and xqPast
  // keeps the five frames of the stream before xq, from which its samples are taken again.
  uint8_t pendingPitch;
  int16_t pendingCpp[5];
  int16_t xqPast[10 * R];
};

using NB_PLC_State = PLC_StateT<NB_PLC_HISTORY, NB_PLC_RING>;
using WB_PLC_State = PLC_StateT<WB_PLC_HISTORY, WB_PLC_RING>;

void Reset_NB_PLC(NB_PLC_State* state);
// One good frame of 40 samples (`out` may be `in`).
void NB_PLC(NB_PLC_State* state, int16_t* out, const int16_t* in);
// One lost frame: writes 40 samples.
void NB_PLC_erasure(NB_PLC_State* state, int16_t* out);

void Reset_WB_PLC(WB_PLC_State* state);
void WB_PLC(WB_PLC_State* state, int16_t* out, const int16_t* in);
void WB_PLC_erasure(WB_PLC_State* state, int16_t* out);
