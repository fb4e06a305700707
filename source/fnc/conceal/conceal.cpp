#include "conceal.h"

#include <cstring>

void hsfInitConceal(HSZCONCEAL* s) {
  s->r_buf = nullptr;
  s->frame_size = 0;
  s->bad_count = 0;
}

void hsfCfgConceal(HSZCONCEAL* s, int16_t* plc_buf, int16_t frame_size) {
  s->r_buf = plc_buf;
  s->frame_size = frame_size;
}

void hsfConceal(HSZCONCEAL* s, int16_t* speech, int bfi, void* /*scratchp*/) {
  // An unbound record has no history to play: the frame passes as it is.
  if (s->r_buf == nullptr || s->frame_size <= 0 || speech == nullptr) return;
  const size_t bytes = static_cast<size_t>(s->frame_size) * sizeof(int16_t);
  if (!bfi) {
    s->bad_count = 0;
    std::memcpy(s->r_buf, speech, bytes);
    return;
  }
  if (s->bad_count < UINT16_MAX) ++s->bad_count;
  if (s->bad_count > CONCEAL_MAX_REPEATS) {
    std::memset(speech, 0, bytes);
    return;
  }
  for (int i = 0; i < s->frame_size; ++i) {
    s->r_buf[i] = static_cast<int16_t>((int32_t{s->r_buf[i]} * CONCEAL_STEP_Q15) >> 15);
  }
  std::memcpy(speech, s->r_buf, bytes);
}
