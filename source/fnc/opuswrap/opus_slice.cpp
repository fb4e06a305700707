// Sliced decoding: the packet is parsed once with the public parser; each of its frames is played
// as a packet of its own (the packet's first byte with the one-frame code, then the frame's
// bytes), which the library decodes exactly as it decodes that frame inside the whole packet.
#include "opus_slice.h"

#include <cstring>

namespace {

template <typename Init>
void* createIn(void* memory, int32_t memorySize, int32_t size, int* error, int32_t* usedSize, Init init) {
  *usedSize = 0;
  if (size <= 0 || size > memorySize || memory == nullptr) {
    *error = OPUS_ALLOC_FAIL;
    return nullptr;
  }
  *usedSize = size;
  *error = init();
  return *error == OPUS_OK ? memory : nullptr;
}

bool validRate(int32_t Fs) { return Fs == 8000 || Fs == 12000 || Fs == 16000 || Fs == 24000 || Fs == 48000; }

// Samples of one frame of the kept packet at the decoder's rate.
int frameSamples(const OpusSliceDecoder* d) { return opus_packet_get_samples_per_frame(&d->toc, d->rate); }

bool silkOnly(uint8_t toc) { return (toc >> 3) < 12; }

// Decodes frame `d->i` of the kept packet into `pcm`.
int decodeKeptFrame(OpusSliceDecoder* d, int16_t* pcm, int room) {
  uint8_t single[OPUS_SLICE_MAX_PACKET];
  const int size = d->frameSizes[d->i];
  single[0] = static_cast<uint8_t>(d->toc & 0xFC);  // one frame
  std::memcpy(single + 1, d->data, static_cast<size_t>(size));
  const int r = opus_decode(d->st, single, size + 1, pcm, room, 0);
  if (r < 0) return r;
  d->data += size;
  d->tot_offset += size;
  ++d->i;
  if (d->i >= d->count) d->unfinished_packet = 0;
  return r;
}

// Whole frames of the kept packet that fit in frame_size samples.
int continueKept(OpusSliceDecoder* d, int16_t* pcm, int frame_size) {
  const int per = frameSamples(d);
  int done = 0;
  while (d->unfinished_packet && done + per <= frame_size) {
    const int r = decodeKeptFrame(d, pcm + done, frame_size - done);
    if (r < 0) return r;
    done += r;
  }
  return done;
}

}  // namespace

OpusDecoder* opusSliceDecoderCreate(int32_t Fs, int channels, int* error, void* memory, int32_t memorySize,
                                    int32_t* usedSize) {
  *usedSize = 0;
  if (!validRate(Fs) || (channels != 1 && channels != 2)) {
    *error = OPUS_BAD_ARG;
    return nullptr;
  }
  return static_cast<OpusDecoder*>(createIn(memory, memorySize, opus_decoder_get_size(channels), error, usedSize,
                                            [&] { return opus_decoder_init(static_cast<OpusDecoder*>(memory), Fs, channels); }));
}

OpusEncoder* opusSliceEncoderCreate(int32_t Fs, int channels, int application, int* error, void* memory,
                                    int32_t memorySize, int32_t* usedSize) {
  *usedSize = 0;
  if (!validRate(Fs) || (channels != 1 && channels != 2) ||
      (application != OPUS_APPLICATION_VOIP && application != OPUS_APPLICATION_AUDIO &&
       application != OPUS_APPLICATION_RESTRICTED_LOWDELAY)) {
    *error = OPUS_BAD_ARG;
    return nullptr;
  }
  return static_cast<OpusEncoder*>(createIn(memory, memorySize, opus_encoder_get_size(channels), error, usedSize, [&] {
    return opus_encoder_init(static_cast<OpusEncoder*>(memory), Fs, channels, application);
  }));
}

void opusSliceInit(OpusSliceDecoder* d, OpusDecoder* st, int32_t rate) {
  d->rate = rate;
  d->st = st;
  d->unfinished_packet = 0;
  d->data = nullptr;
  d->tot_offset = 0;
  d->count = 0;
  d->i = 0;
  d->out = d->outBuf;
  d->out_size = OPUS_SLICE_OUT_SAMPLES;
}

int opusSliceDecode(OpusSliceDecoder* d, const uint8_t* data, int32_t len, int16_t* pcm, int frame_size,
                    int decode_fec, int16_t** outBufp, int* unfinished) {
  *outBufp = pcm;
  int result;
  if (d->unfinished_packet) {
    result = continueKept(d, pcm, frame_size);
  } else if (data == nullptr || len <= 0) {
    // Concealment of frame_size samples, a whole number of 2.5 ms.
    result = (frame_size % (d->rate / 400)) != 0 ? OPUS_BAD_ARG : opus_decode(d->st, nullptr, 0, pcm, frame_size, decode_fec);
  } else if (len > OPUS_SLICE_MAX_PACKET) {
    result = OPUS_INVALID_PACKET;
  } else {
    const int total = opus_decoder_get_nb_samples(d->st, data, len);
    if (total < 0) {
      result = total;
    } else if (total <= frame_size) {
      result = opus_decode(d->st, data, len, pcm, frame_size, decode_fec);
    } else {
      // Keep the packet and play the frames that fit now.
      const unsigned char* frames[OPUS_SLICE_MAX_FRAMES];
      opus_int16 sizes[OPUS_SLICE_MAX_FRAMES];
      unsigned char toc = 0;
      int offset = 0;
      const int count = opus_packet_parse(data, len, &toc, frames, sizes, &offset);
      if (count < 0) {
        result = count;
      } else {
        std::memcpy(d->kept, data, static_cast<size_t>(len));
        d->toc = toc;
        d->count = count;
        d->i = 0;
        for (int k = 0; k < count; ++k) d->frameSizes[k] = sizes[k];
        d->tot_offset = static_cast<int32_t>(frames[0] - data);
        d->data = d->kept + d->tot_offset;
        d->unfinished_packet = 1;
        const int per = frameSamples(d);
        if (per > frame_size) {
          // One frame longer than the caller's frame: whole into the decoder's own buffer, which
          // only a SILK-only packet may use.
          if (!silkOnly(toc) || per > d->out_size) {
            d->unfinished_packet = 0;
            result = OPUS_BUFFER_TOO_SMALL;
          } else {
            result = decodeKeptFrame(d, d->out, d->out_size);
            *outBufp = d->out;
          }
        } else {
          result = continueKept(d, pcm, frame_size);
        }
      }
    }
  }
  *unfinished = d->unfinished_packet;
  return result;
}
