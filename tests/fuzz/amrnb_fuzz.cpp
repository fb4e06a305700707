// AMR-NB decoder: arbitrary serial frames in every mode and received frame type, including the
// bad and no-data ones, modes and types outside the codec too.
#include <memory>

#include "amrefr_decoder.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
  gsmamr_Speech_Decode_Frame_init(&dec->speech_decoder_state, &dec->dtx_decSt);
  Word16 serial[250], out[160];
  while (!in.empty()) {
    const uint8_t mode = in.byte() % (N_MODES + 1);
    const uint8_t rx = in.byte() % (RX_N_FRAMETYPES + 1);
    for (int i = 0; i < 250; i += 8) {
      const uint8_t bits = in.byte();
      for (int b = 0; b < 8 && i + b < 250; ++b) serial[i + b] = static_cast<Word16>((bits >> b) & 1);
    }
    gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, mode, serial, rx, out);
  }
  return 0;
}
