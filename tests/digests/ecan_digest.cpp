// Prints a hash of every output of the line echo canceller over fixed signals: the cancelled
// near-end frames and their companion band, the events it sends, the state record the host reads
// after every frame, and at the end both filters, the trackers and the far-end history. Speech
// with a hybrid's echo at several delays and return losses, double talk, noise, an echo-path
// change, silence, the burst and noise test modes, the non-linear processor on and off, bulk
// delays of 0 and 160, frames of 40 and 80 samples, the gain and mute options, resets in the
// middle of a call and full-scale input. The echo is made with integer arithmetic only, so the
// inputs are the same on every machine. Every case runs with each form of the filter kernels
// that the processor has (portable, SSE2, AVX2); a form whose results differ from the portable
// one adds a line. A speed change that keeps the bits keeps every line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "digest_util.h"
#include "ecan.h"
#include "lms_kernels.h"

namespace {

using Signal = std::vector<std::int16_t>;

digest::Fnv1a events;

void recordEvent(HEC*, std::uint16_t header, std::uint16_t op1, std::uint16_t op2, const void* data,
                 std::uint16_t length) {
  const std::uint16_t head[3] = {header, op1, op2};
  events.words(head, 3);
  if (data != nullptr) events.bytes(data, length);
}

std::int16_t clip(long v) { return static_cast<std::int16_t>(std::clamp(v, -32768L, 32767L)); }

// A hybrid's echo path of `taps` Q15 taps: decaying, alternating in sign, scaled down by
// `lossShift` octaves (about 6 dB each) of return loss.
std::vector<int> echoPath(int taps, int lossShift, std::uint32_t seed) {
  digest::Lcg rng;
  rng.s = seed;
  std::vector<int> h(taps);
  for (int k = 0; k < taps; ++k) {
    const int magnitude = 6000 + static_cast<int>(rng.next() % 8000);
    h[k] = ((k % 3 == 1) ? -magnitude : magnitude) * (taps - k) / taps >> lossShift;
  }
  return h;
}

// The echo of `far` through `path`, `delay` samples later.
Signal echoOf(const Signal& far, const std::vector<int>& path, int delay) {
  Signal e(far.size());
  for (std::size_t i = 0; i < far.size(); ++i) {
    long long acc = 0;
    for (std::size_t k = 0; k < path.size(); ++k) {
      const long long j = static_cast<long long>(i) - delay - static_cast<long long>(k);
      if (j >= 0) acc += static_cast<long long>(path[k]) * far[static_cast<std::size_t>(j)];
    }
    e[i] = clip(static_cast<long>((acc + 16384) >> 15));
  }
  return e;
}

Signal mix(const Signal& a, const Signal& b) {
  Signal o(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) o[i] = clip(long{a[i]} + (i < b.size() ? b[i] : 0));
  return o;
}

// Noise of about 2^(bits - 1) amplitude: the sum of four uniform draws.
Signal noise(std::size_t n, int bits, std::uint32_t seed) {
  digest::Lcg rng;
  rng.s = seed;
  Signal o(n);
  for (auto& v : o) {
    long s = 0;
    for (int k = 0; k < 4; ++k) s += static_cast<long>(rng.next() & 0xFFFF) - 32768;
    v = clip(s >> (17 - bits));
  }
  return o;
}

Signal scaled(const Signal& x, int num, int den) {
  Signal o(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) o[i] = clip(long{x[i]} * num / den);
  return o;
}

struct Case {
  const char* name;
  std::uint16_t options = 0;
  int bulkDelay = HEC_DEFAULT_BULK_DELAY;
  int frame = 80;
  std::int16_t volumedB = 0;
  std::int16_t gaindB = 0;
  std::uint16_t eventMask = 0xFFFF;
  bool companion = false;
  // Called before frame f (of `frame` samples) for resets and option changes mid-call.
  void (*atFrame)(HEC*, std::size_t f) = nullptr;
};

std::string runWith(const Case& c, const Signal& far, const Signal& near) {
  auto hec = std::make_unique<HEC>();
  events = digest::Fnv1a{};
  hecEventSink = recordEvent;
  hecInit(hec.get(), 0);
  hec->regs.options = c.options;
  hec->regs.eventMask = c.eventMask;
  hec->regs.volumedB = c.volumedB;
  hec->regs.gaindB = c.gaindB;
  hec->bulkDelay = static_cast<std::int16_t>(c.bulkDelay);
  digest::Fnv1a out, state, farOut;
  const std::size_t n = std::min(far.size(), near.size()) / c.frame * c.frame;
  for (std::size_t off = 0, f = 0; off < n; off += c.frame, ++f) {
    if (c.atFrame != nullptr) c.atFrame(hec.get(), f);
    std::int16_t r[80], s[80], rc[160], sc[160];
    std::copy_n(&far[off], c.frame, r);
    std::copy_n(&near[off], c.frame, s);
    for (int i = 0; i < 2 * c.frame; ++i) {
      rc[i] = static_cast<std::int16_t>(r[i / 2] / 2);
      sc[i] = static_cast<std::int16_t>(s[i / 2] / 2 + i);
    }
    hecEgress(hec.get(), r, c.companion ? rc : nullptr, c.frame);
    hecIngress(hec.get(), s, c.companion ? sc : nullptr, c.frame);
    farOut.words(r, c.frame);
    out.words(s, c.frame);
    if (c.companion) {
      farOut.words(rc, 2 * c.frame);
      out.words(sc, 2 * c.frame);
    }
    state.bytes(&hec->state, sizeof(hec->state));
  }
  digest::Fnv1a end;
  end.words(hec->hFg, HEC_TAPS);
  end.words(hec->hBg, HEC_TAPS);
  end.words(hec->rOutBuf, HEC_ROUT_SAMPLES);
  const std::int32_t trackers[] = {hec->erlTracker.sIn,  hec->erlTracker.rOut,  hec->erlTracker.cnt,
                                   hec->erlTracker.erlMeandB, hec->erlTracker.erldB, hec->erleTracker.sIn,
                                   hec->erleTracker.sOut, hec->erleTracker.cnt, hec->erleTracker.erledB,
                                   hec->pushTracker.count, hec->pushTracker.AcomFgAvg,
                                   hec->pushTracker.AcomBgAvg, hec->AcomDelta, hec->AcomdBPush,
                                   hec->rtDelay, hec->seed, hec->hangCount.nlpState,
                                   static_cast<std::int32_t>(hec->frameCount)};
  end.words(trackers, sizeof(trackers) / sizeof(trackers[0]));
  end.bytes(&hec->hangCount, sizeof(hec->hangCount));
  char line[320];
  std::snprintf(line, sizeof(line),
              "ecan %-26s out %016llx far %016llx state %016llx events %016llx end %016llx erl %d erle %d state %04x adapted %d\n",
              c.name, static_cast<unsigned long long>(out.h), static_cast<unsigned long long>(farOut.h),
              static_cast<unsigned long long>(state.h), static_cast<unsigned long long>(events.h),
              static_cast<unsigned long long>(end.h), hec->state.erldB, hec->state.erledB, hec->state.state,
              hec->state.adaptCount);
  hecEventSink = nullptr;
  return line;
}

void run(const Case& c, const Signal& far, const Signal& near) {
  lmsUseKernels(&lmsKernelsPortable());
  const std::string reference = runWith(c, far, near);
  std::fputs(reference.c_str(), stdout);
  for (const LmsKernels* k : {lmsKernelsSse2(), lmsKernelsAvx2()}) {
    if (k == nullptr) continue;
    lmsUseKernels(k);
    const std::string line = runWith(c, far, near);
    if (line != reference) std::printf("ecan %s differs with the %s kernels: %s", c.name, k->name, line.c_str());
  }
  lmsUseKernels(nullptr);
}

// Mid-call resets of every type, and the canceller's coefficient dump.
void resetsMidCall(HEC* hec, std::size_t f) {
  if (f == 300) hecReset(hec, HAPI_HEC_RESET_WARM);
  if (f == 420) hecResetCoeff(hec, HAPI_HEC_RESETCOEFF_FG);
  if (f == 520) hecResetCoeff(hec, HAPI_HEC_RESETCOEFF_BG);
  if (f == 600) hecReset(hec, HAPI_HEC_RESET_HOT);
  if (f == 700) hec->coeffIndex = 0;
  if (f == 800) hecReset(hec, HAPI_HEC_RESET_COLD);
}

// Bypassed for a while, then enabled again; adaptation frozen, then free.
void bypassThenAdaptOff(HEC* hec, std::size_t f) {
  if (f == 100) hec->regs.options |= HAPI_HEC_BYPASS_ON;
  if (f == 200) {
    hecReset(hec, HAPI_HEC_RESET_HOT);
    hec->regs.options &= static_cast<std::uint16_t>(~HAPI_HEC_BYPASS_ON);
  }
  if (f == 500) hec->regs.options |= HAPI_HEC_ADAPT_OFF;
  if (f == 700) hec->regs.options &= static_cast<std::uint16_t>(~HAPI_HEC_ADAPT_OFF);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  const Signal speech = digest::load_fixture(root + "/tests/data/speech/speech_8k.raw", 8000 * 13);
  const std::size_t n = speech.size();
  // The second voice of the fixture (from 8 s on), for the near end's talk.
  Signal talk(n);
  for (std::size_t i = 0; i < n; ++i) talk[i] = speech[(i + 8000 * 8) % n];
  const Signal quietNoise = noise(n, 4, 7);     // about -66 dB
  const Signal roomNoise = noise(n, 8, 8);      // about -42 dB
  const Signal farNoise = noise(n, 13, 9);      // about -12 dB
  const Signal silence(n, 0);

  const auto hybrid = [&](const Signal& far, int taps, int loss, std::uint32_t seed, int delay,
                          const Signal& nearEnd) { return mix(echoOf(far, echoPath(taps, loss, seed), delay), nearEnd); };

  // Speech with a hybrid's echo: delays beyond the bulk delay, 6 to 20 dB of return loss.
  run({"speech d170 erl6 nlp-off", HAPI_HEC_NLP_OFF}, speech, hybrid(speech, 32, 1, 1, 170, quietNoise));
  run({"speech d200 erl12"}, speech, hybrid(speech, 48, 2, 2, 200, quietNoise));
  run({"speech d260 erl20"}, speech, hybrid(speech, 64, 3, 3, 260, roomNoise));
  run({"speech d380 erl12 nlp-off", HAPI_HEC_NLP_OFF}, speech, hybrid(speech, 24, 2, 4, 380, quietNoise));
  run({"speech bulk0 d8 erl6", 0, 0}, speech, hybrid(speech, 32, 1, 5, 8, quietNoise));
  run({"speech bulk0 d40 frame40", HAPI_HEC_NLP_OFF, 0, 40}, speech, hybrid(speech, 40, 2, 6, 40, quietNoise));
  run({"speech frame40 companion", 0, 160, 40, 0, 0, 0xFFFF, true}, speech,
      hybrid(speech, 32, 2, 7, 180, quietNoise));
  // Double talk: the second voice as loud as the far end's echo-free speech.
  run({"doubletalk"}, speech, hybrid(speech, 32, 1, 8, 176, talk));
  run({"doubletalk nlp-off", HAPI_HEC_NLP_OFF}, speech, hybrid(speech, 32, 1, 8, 176, talk));
  // Noise at the far end; an echo path that changes half way.
  run({"noise d168 erl6", HAPI_HEC_NLP_OFF}, farNoise, hybrid(farNoise, 40, 1, 9, 168, quietNoise));
  {
    Signal changed = hybrid(farNoise, 40, 1, 9, 168, quietNoise);
    const Signal second = hybrid(farNoise, 56, 2, 10, 190, quietNoise);
    std::copy(second.begin() + static_cast<long>(n / 2), second.end(), changed.begin() + static_cast<long>(n / 2));
    run({"noise path change"}, farNoise, changed);
  }
  run({"noise bulk0 nlp-on", 0, 0}, farNoise, hybrid(farNoise, 40, 2, 11, 20, roomNoise));
  // Silence on both sides, the near end alone, the far end alone without echo.
  run({"silence"}, silence, silence);
  run({"near only"}, silence, mix(talk, roomNoise));
  run({"far only no echo"}, speech, quietNoise);
  // The test modes of the far-end direction.
  run({"burst test", HAPI_HEC_EGRESSBURST_ON, 160, 80, static_cast<std::int16_t>(20 * Q_DB)}, speech,
      hybrid(speech, 32, 1, 12, 200, quietNoise));
  run({"burst test frame40", HAPI_HEC_EGRESSBURST_ON | HAPI_HEC_NLP_OFF, 0, 40,
       static_cast<std::int16_t>(20 * Q_DB)},
      speech, hybrid(speech, 32, 1, 12, 30, quietNoise));
  run({"noise test", HAPI_HEC_EGRESSNOISE_ON}, speech, hybrid(speech, 32, 1, 13, 200, quietNoise));
  // The non-linear processor's options and the gain stages.
  run({"cng off", HAPI_HEC_CNG_OFF}, speech, hybrid(speech, 32, 2, 14, 190, roomNoise));
  run({"cng cap", HAPI_HEC_CNG_CAP_ON}, speech, hybrid(speech, 32, 2, 14, 190, roomNoise));
  run({"gains", 0, 160, 80, static_cast<std::int16_t>(-6 * Q_DB), static_cast<std::int16_t>(5 * Q_DB)}, speech,
      hybrid(speech, 32, 2, 15, 190, quietNoise));
  run({"low volume mute", HAPI_HEC_MUTE_ON, 160, 80, static_cast<std::int16_t>(-100 * Q_DB),
       static_cast<std::int16_t>(-95 * Q_DB)},
      speech, hybrid(speech, 32, 2, 15, 190, quietNoise));
  run({"loopback", HAPI_HEC_LOOPBACK_ON, 160, 80, 0, static_cast<std::int16_t>(3 * Q_DB), 0xFFFF, true}, speech,
      hybrid(speech, 32, 2, 16, 190, quietNoise));
  {
    Case c{"compressor peak low"};
    c.atFrame = [](HEC* hec, std::size_t f) {
      if (f == 0) hec->regs.volCompressordB[0] = static_cast<std::int16_t>(-20 * Q_DB);
    };
    run(c, speech, hybrid(speech, 32, 1, 23, 190, quietNoise));
  }
  run({"push off", HAPI_HEC_PUSH_OFF}, speech, hybrid(speech, 32, 1, 17, 190, quietNoise));
  run({"event mask 0", 0, 160, 80, 0, 0, 0}, speech, hybrid(speech, 32, 1, 17, 190, quietNoise));
  {
    Case c{"resets mid-call"};
    c.atFrame = resetsMidCall;
    run(c, speech, hybrid(speech, 32, 1, 18, 200, quietNoise));
    Case b{"bypass adapt-off", HAPI_HEC_NLP_OFF};
    b.atFrame = bypassThenAdaptOff;
    run(b, speech, hybrid(speech, 32, 1, 19, 200, quietNoise));
  }
  // Full scale: the far end at full-scale noise (every sample value, -32768 included) into an
  // echo that clips, and speech driven hard into a lossless hybrid.
  {
    Signal full(n);
    digest::Lcg rng;
    for (auto& v : full) v = rng.sample();
    for (std::size_t i = 0; i < n; i += 97) full[i] = -32768;
    run({"full scale noise", HAPI_HEC_NLP_OFF}, full, hybrid(full, 16, 0, 20, 170, quietNoise));
    run({"full scale noise nlp-on bulk0", 0, 0}, full, hybrid(full, 16, 0, 21, 3, silence));
    const Signal loud = scaled(speech, 12, 1);
    run({"clipped speech lossless", HAPI_HEC_NLP_OFF}, loud, hybrid(loud, 8, 0, 22, 165, roomNoise));
  }
  return 0;
}
