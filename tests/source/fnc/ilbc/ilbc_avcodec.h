// The independent iLBC decoder of libavcodec, wrapped for the interoperability tests and the
// benchmark (test-only).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <cstdint>
#include <cstring>
#include <vector>

namespace ilbc_test {

class AvIlbcDecoder {
 public:
  explicit AvIlbcDecoder(int mode) : samples_(mode == 30 ? 240 : 160) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ILBC);
    ctx_ = avcodec_alloc_context3(codec);
    ctx_->sample_rate = 8000;
    av_channel_layout_default(&ctx_->ch_layout, 1);
    ctx_->block_align = mode == 30 ? 50 : 38;
    ok_ = codec != nullptr && avcodec_open2(ctx_, codec, nullptr) == 0;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~AvIlbcDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
  }
  AvIlbcDecoder(const AvIlbcDecoder&) = delete;
  AvIlbcDecoder& operator=(const AvIlbcDecoder&) = delete;

  bool ok() const { return ok_; }

  // One payload (octets) to one frame; false when the decoder rejects it.
  bool decode(const std::vector<std::uint8_t>& bytes, std::int16_t* out) {
    std::vector<std::uint8_t> padded(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), bytes.data(), bytes.size());
    packet_->data = padded.data();
    packet_->size = static_cast<int>(bytes.size());
    const int sent = avcodec_send_packet(ctx_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) return false;
    if (avcodec_receive_frame(ctx_, frame_) != 0 || frame_->nb_samples != samples_) return false;
    if (frame_->format == AV_SAMPLE_FMT_S16) {
      std::memcpy(out, frame_->data[0], static_cast<std::size_t>(samples_) * 2);
    } else if (frame_->format == AV_SAMPLE_FMT_FLT) {
      const float* f = reinterpret_cast<const float*>(frame_->data[0]);
      for (int i = 0; i < samples_; ++i) {
        const float v = f[i] * 32768.0f;
        out[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
      }
    } else {
      return false;
    }
    return true;
  }

 private:
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int samples_;
  bool ok_ = false;
};

}  // namespace ilbc_test
