// Writes the committed seeds of the amrwb, gsmhr, ilbc, isac and opus_slice fuzz targets: a few frames of a
// synthetic voiced signal made by our own encoders, in the framing each harness reads. Not part
// of the build; rerun by hand when a harness changes its framing:
//   d=source/fnc; clang++ -std=c++20 -O1 -I$d/amrwb -I$d/gsmfr -I$d/gsmhr -I$d/ilbc -I$d/isac \
//     tests/fuzz/tools/codec_seeds.cpp $d/{amrwb,gsmfr,gsmhr,ilbc,isac}/*.cpp -lopus -o /tmp/seeds &&
//     /tmp/seeds tests/fuzz
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amrwb_decoder.h"
#include "amrwb_encoder.h"
#include "gsmhr.h"
#include "ilbc.h"
#include "isac_codec.h"
#include <opus/opus.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A pitch pulse train through a slowly moving resonance with some noise: enough like speech
// that the encoders leave their quiet paths.
std::vector<int16_t> voice(int rate, int samples) {
  std::vector<int16_t> out(samples);
  uint32_t noise = 1;
  double y1 = 0, y2 = 0;
  for (int n = 0; n < samples; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double pitch = 120 + 30 * std::sin(2 * M_PI * 3 * t);
    const double pulse = std::fmod(t * pitch, 1.0) < 0.02 ? 6000 : 0;
    noise = noise * 1664525u + 1013904223u;
    const double x = pulse + static_cast<int32_t>(noise >> 20) - 2048;
    const double f = 700 + 300 * std::sin(2 * M_PI * 2 * t), r = 0.95;
    const double y = x + 2 * r * std::cos(2 * M_PI * f / rate) * y1 - r * r * y2;
    y2 = y1;
    y1 = y;
    out[n] = static_cast<int16_t>(std::fmax(-32000, std::fmin(32000, y * 0.3)));
  }
  return out;
}

void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v & 255));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void write(const std::string& dir, const std::string& name, const Bytes& b) {
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size()) std::perror(path.c_str());
  if (f) std::fclose(f);
}

void amrwb_seeds(const std::string& root) {
  const std::vector<int16_t> speech = voice(16000, 320 * 4);
  for (Word16 mode = 0; mode <= 8; ++mode) {
    auto st = std::make_unique<wb_amr_Coder_State>();
    amr_wb_Init_coder(st.get());
    Bytes b;
    for (int f = 0; f < 4; ++f) {
      Word16 m = mode, prms[477], ser = 0;
      amr_wb_coder(&m, &speech[320 * f], prms, &ser, st.get(), 0, nullptr);
      b.push_back(static_cast<uint8_t>(m));  // received good
      put16(b, static_cast<unsigned>(ser));
      for (int i = 0; i < ser; i += 8) {
        uint8_t byte = 0;
        for (int k = 0; k < 8 && i + k < ser; ++k) byte |= (prms[i + k] > 0 ? 1 : 0) << k;
        b.push_back(byte);
      }
    }
    b.push_back(static_cast<uint8_t>(mode | RX_SPEECH_LOST << 4));  // then one lost frame
    put16(b, 0);
    write(root + "/amrwb_fuzz", "mode" + std::to_string(mode), b);
  }
}

void gsmhr_seeds(const std::string& root) {
  const std::vector<int16_t> speech = voice(8000, 160 * 6);
  auto st = std::make_unique<hr::GSMHR_ENCSTRUCT>();
  hr::gsmhr_reset_enc(st.get(), 0);
  Bytes b;
  for (int f = 0; f < 6; ++f) {
    hr::Word16 parm[hr::GSMHR_NUM_ENC_PRM];
    uint32_t flags = 0;
    hr::gsmhr_encode(st.get(), &speech[160 * f], &flags, parm);
    b.push_back(0);  // parameters as words, no flags
    for (int i = 0; i < hr::GSMHR_NUM_PRM; ++i) put16(b, static_cast<uint16_t>(parm[i]));
  }
  b.push_back(hr::GSMHR_FLAG_BFI);
  for (int i = 0; i < hr::GSMHR_NUM_PRM; ++i) put16(b, 0);
  write(root + "/gsmhr_fuzz", "speech", b);
}

void ilbc_seeds(const std::string& root) {
  for (int16_t ms : {20, 30}) {
    const std::vector<int16_t> speech = voice(8000, 240 * 4);
    iLBC_Enc_Inst_t enc{};
    const int16_t bytes = ILBCFIX_MORV_initEncode(&enc, ms);
    Bytes b{static_cast<uint8_t>((ms == 30 ? 1 : 0) | 2)};  // with the enhancer
    const int blockl = ms * 8;
    for (int f = 0; f < 4; ++f) {
      std::vector<int16_t> block(speech.begin() + blockl * f, speech.begin() + blockl * (f + 1));
      uint16_t words[25] = {};
      ILBCFIX_MORV_encode(words, block.data(), &enc);
      b.push_back(static_cast<uint8_t>(bytes));
      const auto* p = reinterpret_cast<const uint8_t*>(words);
      b.insert(b.end(), p, p + bytes);
      if (f == 1) b.push_back(0x80);  // one lost frame in between
    }
    write(root + "/ilbc_fuzz", "mode" + std::to_string(ms), b);
  }
}

void isac_seeds(const std::string& root) {
  using namespace isac;
  for (int16_t ms : {30, 60}) {
    const std::vector<int16_t> speech = voice(16000, 160 * 24);
    auto mem = std::make_unique<int32_t[]>(kIsacfixInstanceBytes / 4 + 1);
    ISACFIX_MainStruct* inst = nullptr;
    int32_t used = 0;
    WebRtcIsacfix_Create(&inst, mem.get(), kIsacfixInstanceBytes, &used);
    WebRtcIsacfix_EncoderInit(inst, 1, 0);
    Bytes b;
    uint8_t buf[600];
    for (size_t off = 0; off + 160 <= speech.size(); off += 160) {
      WebRtcIsacfix_Control(inst, 32000, ms);
      const int16_t n = WebRtcIsacfix_Encode(inst, &speech[off], buf, 0);
      if (n <= 0) continue;
      b.push_back(0);
      put16(b, static_cast<unsigned>(n));
      b.insert(b.end(), buf, buf + n);
      b.push_back(0x81);  // then one lost frame
    }
    WebRtcIsacfix_FreeInternal(inst);
    write(root + "/isac_fuzz", "frames" + std::to_string(ms), b);
  }
}

// Opus packets come from the library's encoder; one holds three frames, so the harness's
// small slices leave it unfinished across calls.
void opus_seeds(const std::string& root) {
  for (int rate : {8000, 16000}) {
    const int per = rate / 50;
    const std::vector<int16_t> speech = voice(rate, per * 6);
    int err = 0;
    OpusEncoder* enc = ::opus_encoder_create(rate, 1, OPUS_APPLICATION_VOIP, &err);
    OpusRepacketizer* rp = opus_repacketizer_create();
    Bytes b{static_cast<uint8_t>(rate == 16000 ? 1 : 0)};
    uint8_t frames[3][400], packet[1276];
    for (int f = 0; f < 6; f += 3) {
      opus_repacketizer_init(rp);
      for (int k = 0; k < 3; ++k) {
        const int n = opus_encode(enc, &speech[per * (f + k)], per, frames[k], sizeof frames[k]);
        opus_repacketizer_cat(rp, frames[k], n);
      }
      const int n = opus_repacketizer_out(rp, packet, sizeof packet);
      for (int call = 0; call < 3; ++call) {
        b.push_back(0);
        put16(b, static_cast<unsigned>(per - 1));  // slices of one frame
        put16(b, static_cast<unsigned>(call == 0 ? n : 0));
        if (call == 0) b.insert(b.end(), packet, packet + n);
      }
    }
    b.push_back(2);  // then a lost packet
    put16(b, static_cast<unsigned>(per - 1));
    put16(b, 0);
    opus_repacketizer_destroy(rp);
    opus_encoder_destroy(enc);
    write(root + "/opus_slice_fuzz", "rate" + std::to_string(rate), b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : "tests/fuzz";
  amrwb_seeds(root);
  gsmhr_seeds(root);
  ilbc_seeds(root);
  isac_seeds(root);
  opus_seeds(root);
  return 0;
}
