// Prints a hash of every output of GSM full rate, GSM half rate and G.711: encoder parameters and
// serial bits, and the decoder's speech with DTX off and on, over speech, speech driven into
// clipping and full-scale noise, with bad frames in a fixed pattern; G.711 over every linear input
// and every code. A speed change that keeps the bits keeps every line.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "digest_util.h"
#include "g711.h"
#include "gsmfr.h"
#include "gsmhr.h"

namespace {

using Signal = std::vector<std::int16_t>;

Signal variant(const Signal& speech, int v) {
  Signal o(speech.size());
  digest::Lcg rng;
  for (std::size_t i = 0; i < speech.size(); ++i) {
    int x = speech[i];
    if (v == 1) x *= 10;
    if (v == 2) x = rng.sample();
    o[i] = static_cast<std::int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
  }
  return o;
}

// Frames 7, 8, 20 and every 23rd after 40 arrive bad.
bool frame_is_bad(std::size_t f) { return f == 7 || f == 8 || f == 20 || (f > 40 && f % 23 == 0); }

void gsmfr(const char* name, const Signal& in, int dtx) {
  auto enc = std::make_unique<GSMFR_ENCSTRUCT>();
  auto dec = std::make_unique<GSMFR_DECSTRUCT>();
  gsmfr_reset_enc(enc.get(), static_cast<std::int16_t>(dtx));
  gsmfr_reset_dec(dec.get());
  digest::Fnv1a he, hd;
  for (std::size_t f = 0; f + GSMFR_FRAME_LEN <= in.size(); f += GSMFR_FRAME_LEN) {
    std::int16_t parm[GSMFR_NUM_DEC_PRM] = {}, serial[GSMFR_SERIAL_BITS], synth[GSMFR_FRAME_LEN];
    gsmfr_encode(enc.get(), &in[f], parm);
    he.words(parm, GSMFR_NUM_PRM);
    const bool sp = !dtx || (parm[1] & 0x8000);
    gsmfr_prm2bits(parm, serial);
    std::int16_t rx[GSMFR_NUM_DEC_PRM] = {};
    gsmfr_bits2prm(serial, rx);
    std::uint16_t flags = 0;
    if (!sp && gsmfr_sid_frame_detection(serial)) flags |= GSMFR_FLAG_SID;
    if (frame_is_bad(f / GSMFR_FRAME_LEN)) flags |= GSMFR_FLAG_BFI;
    gsmfr_decode(dec.get(), rx, flags, synth);
    hd.words(synth, GSMFR_FRAME_LEN);
  }
  std::printf("%-6s gsmfr dtx %d enc %016llx dec %016llx\n", name, dtx, static_cast<unsigned long long>(he.h),
              static_cast<unsigned long long>(hd.h));
}

void gsmhr(const char* name, const Signal& in, int dtx) {
  using namespace hr;
  auto enc = std::make_unique<GSMHR_ENCSTRUCT>();
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_enc(enc.get(), static_cast<Word16>(dtx));
  gsmhr_reset_dec(dec.get());
  digest::Fnv1a he, hd;
  for (std::size_t f = 0; f + GSMHR_FRAME_LEN <= in.size(); f += GSMHR_FRAME_LEN) {
    Word16 parm[GSMHR_NUM_ENC_PRM] = {}, serial[GSMHR_SERIAL_BITS], synth[GSMHR_FRAME_LEN];
    std::uint32_t txFlags = 0;
    gsmhr_encode(enc.get(), &in[f], &txFlags, parm);
    he.words(parm, GSMHR_NUM_ENC_PRM);
    he.words(&txFlags, 1);
    gsmhr_prm2bits(parm, serial);
    Word16 rx[GSMHR_NUM_DEC_PRM] = {};
    gsmhr_bits2prm(serial, rx);
    std::uint32_t flags = 0;
    if (!(txFlags & GSMHR_FLAG_SP) && gsmhr_sid_frame_detection(serial)) flags |= GSMHR_FLAG_SID;
    if (frame_is_bad(f / GSMHR_FRAME_LEN)) flags |= GSMHR_FLAG_BFI;
    gsmhr_decode(dec.get(), rx, flags, synth);
    hd.words(synth, GSMHR_FRAME_LEN);
  }
  std::printf("%-6s gsmhr dtx %d enc %016llx dec %016llx\n", name, dtx, static_cast<unsigned long long>(he.h),
              static_cast<unsigned long long>(hd.h));
}

void g711() {
  std::vector<std::int16_t> linear(65536), codes(65536), back(65536);
  for (int i = 0; i < 65536; ++i) linear[i] = static_cast<std::int16_t>(i - 32768);
  std::vector<std::int16_t> allCodes(256);
  for (int i = 0; i < 256; ++i) allCodes[i] = static_cast<std::int16_t>(i);
  const struct {
    const char* name;
    void (*compress)(int, const std::int16_t*, std::int16_t*);
    void (*expand)(int, const std::int16_t*, std::int16_t*);
  } laws[] = {{"alaw", g711AlawCompress, g711AlawExpand}, {"ulaw", g711UlawCompress, g711UlawExpand}};
  for (const auto& law : laws) {
    digest::Fnv1a hc, hx;
    law.compress(65536, linear.data(), codes.data());
    hc.words(codes.data(), codes.size());
    law.expand(256, allCodes.data(), back.data());
    hx.words(back.data(), 256);
    std::printf("g711 %s compress %016llx expand %016llx\n", law.name, static_cast<unsigned long long>(hc.h),
                static_cast<unsigned long long>(hx.h));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  const Signal speech = digest::load_fixture(dir + "/tests/data/speech/speech_8k.raw", 8000 * 12);
  const char* names[] = {"speech", "loud", "noise"};
  for (int v = 0; v < 3; ++v) {
    const Signal in = variant(speech, v);
    for (int dtx = 0; dtx < 2; ++dtx) {
      gsmfr(names[v], in, dtx);
      gsmhr(names[v], in, dtx);
    }
  }
  g711();
  return 0;
}
