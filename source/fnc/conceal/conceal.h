// Frame-repeat concealment for sample-based codecs: the last good frame is kept, a lost frame is
// replaced by it attenuated by about 3 dB more for each further loss, and from the thirteenth lost
// frame in a row the output is silent.
#pragma once

#include <cstdint>

struct HSZCONCEAL {
  int16_t* r_buf;      // history: one frame, owned by the decoder's state
  int16_t frame_size;  // samples per frame
  uint16_t bad_count;  // consecutive lost frames
};

constexpr uint16_t CONCEAL_MAX_REPEATS = 12;
constexpr int16_t CONCEAL_STEP_Q15 = 23198;  // -3.0 dB

void hsfInitConceal(HSZCONCEAL* statep);
void hsfCfgConceal(HSZCONCEAL* statep, int16_t* plc_buf, int16_t frame_size);
// One frame in place: a good frame is recorded, a bad one (bfi non-zero) replaced.
void hsfConceal(HSZCONCEAL* statep, int16_t* speech, int bfi, void* scratchp);
