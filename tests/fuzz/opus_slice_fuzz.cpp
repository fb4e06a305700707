// Sliced Opus decoding: arbitrary packets of the length the input gives, decoded in slices of
// a size the input gives too, with and without in-band FEC and with lost packets (no data).
#include <memory>

#include "fuzz_input.h"
#include "opus_slice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int32_t rate = (in.byte() & 1) ? 16000 : 8000;
  const int32_t room = opus_decoder_get_size(1);
  auto mem = std::make_unique<uint64_t[]>(room / 8 + 1);
  auto d = std::make_unique<OpusSliceDecoder>();
  int err = 0;
  int32_t used = 0;
  OpusDecoder* st = opusSliceDecoderCreate(rate, 1, &err, mem.get(), room, &used);
  if (!st) return 0;
  opusSliceInit(d.get(), st, rate);
  uint8_t packet[OPUS_SLICE_MAX_PACKET];
  int16_t pcm[OPUS_SLICE_OUT_SAMPLES * 6];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    const int frame_size = 1 + in.word() % (OPUS_SLICE_OUT_SAMPLES * 6);
    const size_t len = in.word() % (sizeof packet + 1);
    const size_t got = in.take(packet, len);
    int16_t* outBufp = nullptr;
    int unfinished = 0;
    opusSliceDecode(d.get(), (control & 2) ? nullptr : packet, static_cast<int32_t>(got), pcm, frame_size,
                    control & 1, &outBufp, &unfinished);
  }
  return 0;
}
