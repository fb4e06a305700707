// AMR-WB decoder: arbitrary serial frames in every mode (SID included) and every received frame
// type, the bad and lost ones too; how many of a frame's bits arrive is taken from the input
// and the rest read as zero.
#include <memory>

#include "amrwb_decoder.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto st = std::make_unique<wb_amr_Decoder_State>();
  amr_wb_Init_decoder(st.get());
  Word16 serial[477], out[320];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    const Word16 mode = static_cast<Word16>(control % 10);
    const Word16 type = static_cast<Word16>((control >> 4) & 7);
    const int nbits = static_cast<int>(in.word() % 478);
    int i = 0;
    for (; i < nbits && !in.empty(); i += 8) {
      const uint8_t bits = in.byte();
      for (int b = 0; b < 8 && i + b < nbits; ++b) serial[i + b] = static_cast<Word16>((bits >> b) & 1 ? 1 : -127);
    }
    for (; i < 477; ++i) serial[i] = -127;
    Word16 len = 0;
    amr_wb_decoder(mode, serial, out, &len, st.get(), type, nullptr);
  }
  return 0;
}
