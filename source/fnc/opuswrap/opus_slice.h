// Opus codec states in memory the caller provides, and a decoder that plays a packet in slices
// over several calls, both built over the library's public interface.
#pragma once

#include <opus/opus.h>

#include <cstdint>

inline constexpr int OPUS_SLICE_MAX_FRAMES = 48;
inline constexpr int OPUS_SLICE_MAX_PACKET = 1276;
inline constexpr int OPUS_SLICE_OUT_SAMPLES = 960;  // one 60 ms frame at 16 kHz

// The decoder with what the sliced decoding keeps between calls.
struct OpusSliceDecoder {
  int32_t rate;
  int16_t frameSizes[OPUS_SLICE_MAX_FRAMES];  // bytes of each frame of the kept packet
  uint16_t unfinished_packet;                 // 1 while the kept packet has frames left
  const uint8_t* data;                        // where the next frame's bytes begin
  int32_t tot_offset;                         // offset of `data` in `kept`
  int32_t count;                              // frames in the kept packet
  int32_t i;                                  // frames already decoded
  uint8_t toc;                                // the kept packet's first byte
  int16_t* out;                               // the decoder's own buffer for a frame too long
  int32_t out_size;
  uint8_t kept[OPUS_SLICE_MAX_PACKET];
  int16_t outBuf[OPUS_SLICE_OUT_SAMPLES];
  OpusDecoder* st;                            // in the caller's memory
};

// Builds a decoder in `memory`; usedSize gets the library's size. Fs 8000, 12000, 16000, 24000 or
// 48000 and channels 1 or 2, else error -1 (OPUS_BAD_ARG); a region too small gives -7
// (OPUS_ALLOC_FAIL). Returns `memory` on success, else null.
OpusDecoder* opusSliceDecoderCreate(int32_t Fs, int channels, int* error, void* memory, int32_t memorySize,
                                    int32_t* usedSize);
OpusEncoder* opusSliceEncoderCreate(int32_t Fs, int channels, int application, int* error, void* memory,
                                    int32_t memorySize, int32_t* usedSize);

void opusSliceInit(OpusSliceDecoder* d, OpusDecoder* st, int32_t rate);

// Decodes at most `frame_size` samples of a packet; a packet longer than that is kept and
// continued by the next calls, whose own `data` is then ignored. `outBufp` tells where the
// samples are; `unfinished` whether the kept packet has frames left. Returns the samples decoded
// or a negative library error.
int opusSliceDecode(OpusSliceDecoder* d, const uint8_t* data, int32_t len, int16_t* pcm, int frame_size,
                    int decode_fec, int16_t** outBufp, int* unfinished);

// The calls the codec wrapper is written against, under the library's names: creation in the
// caller's memory and sliced decoding. They overload the library's own calls.
inline OpusDecoder* opus_decoder_create(opus_int32 Fs, int channels, int* error, void* memory, opus_int32 memorySize,
                                        opus_int32* usedSize) {
  return opusSliceDecoderCreate(Fs, channels, error, memory, memorySize, usedSize);
}
inline OpusEncoder* opus_encoder_create(opus_int32 Fs, int channels, int application, int* error, void* memory,
                                        opus_int32 memorySize, opus_int32* usedSize) {
  return opusSliceEncoderCreate(Fs, channels, application, error, memory, memorySize, usedSize);
}
inline int opus_decode(OpusSliceDecoder* st, const unsigned char* data, opus_int32 len, opus_int16* pcm, int frame_size,
                       int decode_fec, opus_int16** outBufp, int* unfinished) {
  return opusSliceDecode(st, data, len, pcm, frame_size, decode_fec, outBufp, unfinished);
}
