// The independent G.723.1 implementation of libavcodec, wrapped for the interoperability tests.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <cstdint>
#include <cstring>
#include <vector>

namespace g7231_test {

class AvG7231 {
 public:
  explicit AvG7231(bool encoder, bool postfilter = true) {
    const AVCodec* codec = encoder ? avcodec_find_encoder(AV_CODEC_ID_G723_1) : avcodec_find_decoder(AV_CODEC_ID_G723_1);
    ctx_ = avcodec_alloc_context3(codec);
    ctx_->sample_rate = 8000;
    av_channel_layout_default(&ctx_->ch_layout, 1);
    ctx_->sample_fmt = AV_SAMPLE_FMT_S16;
    ctx_->bit_rate = 6300;
    if (!encoder) av_opt_set_int(ctx_->priv_data, "postfilter", postfilter ? 1 : 0, 0);
    ok_ = avcodec_open2(ctx_, codec, nullptr) == 0;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~AvG7231() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
  }
  AvG7231(const AvG7231&) = delete;
  AvG7231& operator=(const AvG7231&) = delete;

  bool ok() const { return ok_; }

  // One 240-sample frame to one packet (6.3 kbit/s, 24 bytes).
  std::vector<std::uint8_t> encode(const std::int16_t* samples) {
    av_frame_unref(frame_);
    frame_->nb_samples = 240;
    frame_->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout);
    frame_->sample_rate = 8000;
    if (av_frame_get_buffer(frame_, 0) < 0) return {};
    std::memcpy(frame_->data[0], samples, 240 * sizeof(std::int16_t));
    if (avcodec_send_frame(ctx_, frame_) < 0) return {};
    std::vector<std::uint8_t> out;
    if (avcodec_receive_packet(ctx_, packet_) == 0) {
      out.assign(packet_->data, packet_->data + packet_->size);
      av_packet_unref(packet_);
    }
    return out;
  }

  // One packet to 240 samples; false when the decoder rejects it.
  bool decode(const std::vector<std::uint8_t>& bytes, std::int16_t* samples) {
    std::vector<std::uint8_t> padded(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), bytes.data(), bytes.size());
    packet_->data = padded.data();
    packet_->size = static_cast<int>(bytes.size());
    const int sent = avcodec_send_packet(ctx_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) return false;
    if (avcodec_receive_frame(ctx_, frame_) != 0 || frame_->nb_samples != 240) return false;
    std::memcpy(samples, frame_->data[0], 240 * sizeof(std::int16_t));
    return true;
  }

 private:
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool ok_ = false;
};

}  // namespace g7231_test
