// Shared helpers of the iLBC tests: speech fixtures, coding loops and quality measures.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ilbc.h"
#include "ilbc_codec.h"

namespace ilbc_test {

inline std::vector<std::int16_t> load_speech(std::size_t max_samples, int frame) {
  std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / static_cast<std::size_t>(frame) * static_cast<std::size_t>(frame));
  return s;
}

inline int frame_len(int mode) { return mode == 30 ? 240 : 160; }
inline int frame_words(int mode) { return mode == 30 ? 25 : 19; }

using Payload = std::vector<std::uint16_t>;

// Encodes every whole frame of `speech`.
inline std::vector<Payload> encode_all(const std::vector<std::int16_t>& speech, int mode) {
  iLBC_Enc_Inst_t enc{};
  ILBCFIX_MORV_initEncode(&enc, static_cast<std::int16_t>(mode));
  const int n = frame_len(mode);
  std::vector<Payload> out;
  std::vector<std::int16_t> block(static_cast<std::size_t>(n));
  for (std::size_t p = 0; p + static_cast<std::size_t>(n) <= speech.size(); p += static_cast<std::size_t>(n)) {
    std::copy_n(speech.begin() + static_cast<long>(p), n, block.begin());
    Payload w(static_cast<std::size_t>(frame_words(mode)));
    ILBCFIX_MORV_encode(w.data(), block.data(), &enc);
    out.push_back(w);
  }
  return out;
}

// Decodes payloads; an empty payload is a lost frame.
inline std::vector<std::int16_t> decode_all(const std::vector<Payload>& payloads, int mode, int use_enhancer = 1) {
  iLBC_Dec_Inst_t dec{};
  ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), static_cast<std::int16_t>(use_enhancer));
  const int n = frame_len(mode);
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> block(static_cast<std::size_t>(n));
  for (const auto& p : payloads) {
    ILBCFIX_MORV_Decode(block.data(), p.empty() ? nullptr : p.data(), &dec, p.empty() ? 0 : 1);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

// Network octet order: octet 2i is the high byte of word i.
inline std::vector<std::uint8_t> to_octets(const Payload& w) {
  std::vector<std::uint8_t> b;
  for (auto v : w) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return b;
}

// Segmental SNR in dB of b against a (a delayed by `delay` samples in b), over 80-sample
// segments, clipped to -10..60 dB, quiet reference segments skipped.
inline double segmental_snr(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, int delay = 0) {
  double sum = 0;
  int n = 0;
  const std::size_t len = std::min(a.size(), b.size() - std::min<std::size_t>(b.size(), static_cast<std::size_t>(delay)));
  for (std::size_t s = 0; s + 80 <= len; s += 80) {
    double sig = 0, err = 0;
    for (std::size_t i = s; i < s + 80; ++i) {
      const double x = a[i], y = b[i + static_cast<std::size_t>(delay)];
      sig += x * x;
      err += (x - y) * (x - y);
    }
    if (sig < 80.0 * 10000) continue;
    const double snr = err == 0 ? 60 : 10 * std::log10(sig / err);
    sum += std::min(60.0, std::max(-10.0, snr));
    ++n;
  }
  return n ? sum / n : 60;
}

// Normalised cross-correlation of a with b delayed by `delay` samples.
inline double correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, int delay) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i + static_cast<std::size_t>(delay) < b.size() && i < a.size(); ++i) {
    const double x = a[i], y = b[i + static_cast<std::size_t>(delay)];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

inline double rms(const std::int16_t* x, int n) {
  double e = 0;
  for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
  return std::sqrt(e / n);
}

}  // namespace ilbc_test

#include "ilbc_filters.h"
#include "ilbc_kernels.h"

namespace ilbc_test {

// The input as the codec can reproduce it: through the encoder's input high-pass and scaling
// and the decoder's output high-pass, with no coding in between.
inline std::vector<std::int16_t> high_passed(const std::vector<std::int16_t>& speech, int mode) {
  iLBC_Enc_Inst_t hp{};
  ILBCFIX_MORV_initEncode(&hp, static_cast<std::int16_t>(mode));
  std::int32_t mem[4] = {};
  const int n = frame_len(mode);
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> block(static_cast<std::size_t>(n)), sp(static_cast<std::size_t>(n)), o(static_cast<std::size_t>(n));
  std::vector<std::int32_t> wide(static_cast<std::size_t>(n));
  for (std::size_t p = 0; p + static_cast<std::size_t>(n) <= speech.size(); p += static_cast<std::size_t>(n)) {
    std::copy_n(speech.begin() + static_cast<long>(p), n, block.begin());
    const int shift = ilbc::ilbc_hpInput(block.data(), n, &hp.pole_shift, wide.data(), hp.zero_mem, hp.pole_mem);
    ilbc::ilbc_Vec_L_shr_r(wide.data(), sp.data(), n, shift - 2);
    ilbc::ilbc_hpOutput(sp.data(), n, o.data(), mem);
    out.insert(out.end(), o.begin(), o.end());
  }
  return out;
}

}  // namespace ilbc_test
