// Shared helpers of the G.723.1 tests.
#pragma once

#include "orvox_fixture.h"
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "g7231.h"

namespace g7231_test {

inline std::vector<std::int16_t> load_speech(std::size_t max_samples) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw"), std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / G7231_FRAME_LEN * G7231_FRAME_LEN);
  return s;
}

// Speech in bursts of 1.2 s separated by 1.5 s of quiet noise.
inline std::vector<std::int16_t> speech_with_pauses(std::size_t seconds) {
  const auto speech = load_speech(8000 * seconds);
  std::vector<std::int16_t> out;
  std::uint32_t seed = 1;
  std::size_t pos = 0;
  while (pos + 9600 <= speech.size()) {
    out.insert(out.end(), speech.begin() + static_cast<long>(pos), speech.begin() + static_cast<long>(pos + 9600));
    for (int i = 0; i < 12000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      out.push_back(static_cast<std::int16_t>(static_cast<int>((seed >> 16) % 201) - 100));
    }
    pos += 9600;
  }
  out.resize(out.size() / G7231_FRAME_LEN * G7231_FRAME_LEN);
  return out;
}

inline void init_encoder(G7231_Coder_State* st, G7231_Crate rate, int vad) {
  g7231_Init_Coder(&st->CodStat);
  st->WrkRate = rate;
  st->UseHp = 1;
  st->UseVx = vad;
  g7231_Init_Vad(&st->VadStat);
  g7231_Init_Cod_Cng(&st->CodCng);
}

inline void init_decoder(G7231_Decod_State* st, G7231_Crate rate, int postfilter) {
  g7231_Init_Decod(&st->DecStat);
  st->WrkRate = rate;
  st->UsePf = postfilter;
  g7231_Init_Dec_Cng(&st->DecCng);
}

// Codes every whole frame of `speech` and decodes it at once, leaving both coders in step at its end.
inline void code_and_decode(const std::vector<std::int16_t>& speech, G7231_Coder_State* enc,
                            G7231_Decod_State* dec) {
  std::int16_t in[240], w[12], out[240];
  for (std::size_t n = 0; n + 240 <= speech.size(); n += 240) {
    std::memcpy(in, &speech[n], sizeof in);
    g7231_Coder(in, w, enc);
    g7231_Decod(out, w, 0, dec);
  }
}

inline int payload_bytes(int frame_type) {
  static const int bytes[4] = {24, 20, 4, 1};
  return bytes[frame_type & 3];
}

// Segmental SNR in dB of b against a over 240-sample segments (clipped to -10..60 dB, quiet
// reference segments skipped).
inline double segmental_snr(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  double sum = 0;
  int n = 0;
  for (std::size_t s = 0; s + 240 <= std::min(a.size(), b.size()); s += 240) {
    double sig = 0, err = 0;
    for (std::size_t i = s; i < s + 240; ++i) {
      sig += double(a[i]) * a[i];
      err += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    if (sig < 240.0 * 100) continue;
    const double snr = err == 0 ? 60 : 10 * std::log10(sig / err);
    sum += std::min(60.0, std::max(-10.0, snr));
    ++n;
  }
  return n ? sum / n : 60;
}

}  // namespace g7231_test
