// What the AMR and AMR-WB wrapper tests share: our encoder and decoder wrappers driven as the
// codec service drives them (the decoder fed from a payload store), and a speech-like input.
#pragma once

#include <cmath>
#include <optional>
#include <vector>

#include "voc_dec_store.h"
#include "vocoder.h"

struct AmrFamilyUnderTest {
  unsigned alg;        // HAPI_PKT_ALG_GSMAMR or HAPI_PKT_ALG_AMRWB
  int samples;         // per 20 ms frame
  uint16_t slotBytes;  // payload store entry
  double rate;         // Hz
  double f2, f3;       // the speech-like input's upper components, Hz
};
inline constexpr AmrFamilyUnderTest kAmrNbUnderTest{HAPI_PKT_ALG_GSMAMR, 160, 34, 8000, 1230, 2710};
inline constexpr AmrFamilyUnderTest kAmrWbUnderTest{HAPI_PKT_ALG_AMRWB, 320, 62, 16000, 2230, 5310};

// Three tones, the top one warbling, so every mode has work to do.
inline std::vector<int16_t> amrSpeechLike(const AmrFamilyUnderTest& fam, int frame) {
  std::vector<int16_t> v(fam.samples);
  for (int i = 0; i < fam.samples; ++i) {
    const double t = (frame * fam.samples + i) / fam.rate;
    v[i] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 300 * t) + 3000 * std::sin(2 * M_PI * fam.f2 * t) +
                                1500 * std::sin(2 * M_PI * fam.f3 * t * (1 + 0.1 * std::sin(7 * t))));
  }
  return v;
}

// Our encoder wrapper; `amr` replaces the default registers' AMR options when given.
struct AmrWrapEnc {
  std::vector<uint64_t> mem = std::vector<uint64_t>(16384);
  HSZVOCREGS regs = pveVoiceRegsDefault().voxregs;
  const HSZVOCODERS* v;
  AmrWrapEnc(const AmrFamilyUnderTest& fam, uint16_t algorithm, std::optional<AMR_REGS> amr = std::nullopt)
      : v(hsgvocoders[fam.alg]) {
    if (amr) regs.amrOptions = *amr;
    v->encinitcfgfnc(mem.data(), &regs, algorithm, 1);
  }
  int encode(std::vector<int16_t> pcm, std::vector<uint8_t>& payload) {
    std::vector<uint16_t> words(40, 0);
    uint16_t bytes = 0;
    const int t = v->encfnc(mem.data(), pcm.data(), words.data(), 0, &bytes);
    payload.resize(bytes);
    for (int i = 0; i < bytes; ++i) payload[i] = static_cast<uint8_t>(i % 2 ? words[i / 2] : words[i / 2] >> 8);
    return t;
  }
};

// Our decoder wrapper, fed from a payload store as the codec service feeds it.
struct AmrWrapDec : VocDecStore {
  const AmrFamilyUnderTest& fam;
  AmrWrapDec(const AmrFamilyUnderTest& f, uint16_t c)
      : VocDecStore(hsgvocoders[f.alg], c, f.slotBytes, 16384), fam(f) {
    configure();
  }
  // An empty payload stands for a packet class without one.
  std::vector<int16_t> decode(uint8_t cls, const std::vector<uint8_t>& payload) {
    AJC_PVEDEC_INT r{};
    r.numCurrPkt = 1;
    r.currPkt[0].payloadID = static_cast<uint16_t>(cls << 8 | code);
    if (!payload.empty()) {
      std::vector<uint16_t> words(fam.slotBytes / 2, 0);
      for (size_t i = 0; i < payload.size(); ++i) words[i / 2] |= static_cast<uint16_t>(payload[i] << (i % 2 ? 0 : 8));
      r.currPkt[0] = file(cls, words.data(), static_cast<int>(words.size()), static_cast<uint16_t>(payload.size()));
    }
    return VocDecStore::decode(r, fam.samples);
  }
};
