// Cost of the codec core per 30 ms frame: the analysis chain of the encoder
// (band split, pitch analysis, masking model, lattice analysis, pitch
// pre-filter, transform) and the synthesis chain of the decoder (inverse
// transform, lattice synthesis, pitch post-filter, band merge).  There is no
// independent implementation to run beside it.  One iteration is one frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "isac_codec.h"
#include "isac_fft.h"
#include "isac_filterbank.h"
#include "isac_lattice.h"
#include "isac_masking.h"
#include "isac_pitch_est.h"
#include "isac_pitch_filter.h"
#include "orvox_fixture.h"

using namespace isac;

namespace {

std::vector<int16_t> speech() {
    const std::string path =
        orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_16k.raw");
    std::vector<int16_t> s(16000 * 4);
    FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t n = std::fread(s.data(), 2, s.size(), f);
    std::fclose(f);
    s.resize(n / 480 * 480);
    return s;
}

struct Analysis {
    PreFiltBankstr pre{};
    PitchAnalysisStruct pitch{};
    PitchFiltstr prefilter{};
    MaskFiltstr_enc mask{};
    Analysis() {
        pitch.PFstr.oldlagQ7 = pitch.PFstr_wght.oldlagQ7 = prefilter.oldlagQ7 = 6400;
        mask.OldEnergy = 10;
    }

    // One frame; the spectra come back for the synthesis benchmark.
    void frame(const int16_t* in480, int16_t* re, int16_t* im, int32_t* gains, int16_t* klo, int16_t* khi,
               int16_t* lags, int16_t* pg) {
        int16_t pin[480], lp[264], hp[264], pitch_out[264];
        std::memcpy(pin, in480, sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        WebRtcIsacfix_PitchAnalysis(lp, pitch_out, &pitch, lags, pg);
        WebRtcIsacfix_GetLpcCoef(pitch_out, hp, &mask, 3000, pg, gains, klo, khi);
        int16_t lo9[240], hi9[240], lo_pf[240];
        WebRtcIsacfix_NormLatticeFilterMa(12, mask.PreStateLoGQ15, lp, klo, gains, 0, lo9);
        WebRtcIsacfix_NormLatticeFilterMa(6, mask.PreStateHiGQ15, hp, khi, gains, 1, hi9);
        WebRtcIsacfix_PitchFilter(lo9, lo_pf, &prefilter, lags, pg, kPitchFilterPre);
        std::memcpy(re, lo_pf, sizeof lo_pf);
        std::memcpy(im, hi9, sizeof hi9);
        WebRtcIsacfix_Time2SpecC(re, im, re, im);
    }
};

void BM_AnalysisChainPerFrame(benchmark::State& state) {
    const auto s = speech();
    Analysis a;
    std::size_t off = 0;
    int16_t re[240], im[240], klo[72], khi[36], lags[4], pg[4];
    int32_t gains[12];
    for (auto _ : state) {
        a.frame(&s[off], re, im, gains, klo, khi, lags, pg);
        benchmark::DoNotOptimize(re);
        off = (off + 480) % s.size();
    }
}
BENCHMARK(BM_AnalysisChainPerFrame);

void BM_SynthesisChainPerFrame(benchmark::State& state) {
    // Spectra and parameters of real frames, made once.
    const auto s = speech();
    Analysis a;
    struct Frame {
        int16_t re[240], im[240], klo[72], khi[36], lags[4], pg[4];
        int32_t gains[12];
    };
    std::vector<Frame> frames(s.size() / 480);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        auto& fr = frames[f];
        a.frame(&s[480 * f], fr.re, fr.im, fr.gains, fr.klo, fr.khi, fr.lags, fr.pg);
    }
    PostFiltBankstr post{};
    PitchFiltstr postfilter{};
    postfilter.oldlagQ7 = 6400;
    int16_t lo_state[13] = {}, hi_state[13] = {};
    std::size_t f = 0;
    int16_t out[480];
    for (auto _ : state) {
        Frame fr = frames[f];
        int32_t lo25[240], hi25[240];
        WebRtcIsacfix_Spec2TimeC(fr.re, fr.im, lo25, hi25);
        int32_t lo_in[240];
        for (int n = 0; n < 240; ++n) lo_in[n] = (lo25[n] + 64) >> 7;
        int16_t lo16v[240], lo_pf[240], hi16v[240];
        for (int n = 0; n < 240; ++n) lo16v[n] = static_cast<int16_t>(lo_in[n]);
        WebRtcIsacfix_PitchFilter(lo16v, lo_pf, &postfilter, fr.lags, fr.pg, kPitchFilterPost);
        for (int n = 0; n < 240; ++n) lo_in[n] = lo_pf[n] * 65536;
        WebRtcIsacfix_NormLatticeFilterAr(12, lo_state, lo_in, fr.klo, fr.gains, 0, lo16v);
        WebRtcIsacfix_NormLatticeFilterAr(6, hi_state, hi25, fr.khi, fr.gains, 1, hi16v);
        WebRtcIsacfix_FilterAndCombine1(lo16v, hi16v, out, &post);
        benchmark::DoNotOptimize(out);
        f = (f + 1) % frames.size();
    }
}
BENCHMARK(BM_SynthesisChainPerFrame);

void BM_TransformPair(benchmark::State& state) {
    int16_t a[240], b[240];
    int32_t o1[240], o2[240];
    for (int n = 0; n < 240; ++n) {
        a[n] = static_cast<int16_t>((n * 7919) % 20000 - 10000);
        b[n] = static_cast<int16_t>((n * 104729) % 20000 - 10000);
    }
    for (auto _ : state) {
        int16_t x[240], y[240];
        std::memcpy(x, a, sizeof x);
        std::memcpy(y, b, sizeof y);
        WebRtcIsacfix_Time2SpecC(x, y, x, y);
        WebRtcIsacfix_Spec2TimeC(x, y, o1, o2);
        benchmark::DoNotOptimize(o1);
    }
}
BENCHMARK(BM_TransformPair);

// Encode and decode through the public calls, as the voice engine's wrapper
// drives them, per 30 or 60 ms frame (argument: frame length in ms).
struct Instance {
    std::vector<int32_t> mem = std::vector<int32_t>(kIsacfixInstanceBytes / 4 + 1);
    ISACFIX_MainStruct* inst = nullptr;
    explicit Instance(int16_t swb = 0) {
        int32_t used;
        WebRtcIsacfix_Create(&inst, mem.data(), kIsacfixInstanceBytes, &used);
        WebRtcIsacfix_EncoderInit(inst, 1, swb);
        WebRtcIsacfix_DecoderInit(inst);
    }
};

// One setting of the public calls: input, 10 ms block, rate, frame length
// and the super-wideband flag.
struct Setting {
    std::vector<int16_t> input;
    std::size_t block;
    int32_t rate;
    int16_t frame_ms;
    int16_t swb;
};

// Encoding cost per frame: the frame's 10 ms calls.
void encode_frames(benchmark::State& state, const Setting& c) {
    Instance enc(c.swb);
    uint8_t buf[600];
    std::size_t off = 0;
    for (auto _ : state) {
        for (int b = 0; b < c.frame_ms / 10; ++b) {
            WebRtcIsacfix_Control(enc.inst, c.rate, c.frame_ms);
            benchmark::DoNotOptimize(WebRtcIsacfix_Encode(enc.inst, &c.input[off], buf, c.swb));
            off = (off + c.block) % (c.input.size() - c.block);
        }
    }
}

// Decoding cost per frame: one payload per call, made beforehand.
void decode_frames(benchmark::State& state, const Setting& c) {
    Instance enc(c.swb), dec(c.swb);
    std::vector<std::vector<uint8_t>> payloads;
    uint8_t buf[600];
    for (std::size_t off = 0; off + c.block <= c.input.size(); off += c.block) {
        WebRtcIsacfix_Control(enc.inst, c.rate, c.frame_ms);
        const int16_t n = WebRtcIsacfix_Encode(enc.inst, &c.input[off], buf, c.swb);
        if (n > 0) payloads.emplace_back(buf, buf + n);
    }
    std::size_t f = 0;
    int16_t pcm[1920], type;
    for (auto _ : state) {
        benchmark::DoNotOptimize(WebRtcIsacfix_Decode(dec.inst, payloads[f].data(), payloads[f].size(), pcm, &type));
        f = (f + 1) % payloads.size();
    }
}

Setting wideband(const benchmark::State& state) {
    return {speech(), 160, 32000, static_cast<int16_t>(state.range(0)), 0};
}

// Super-wideband, 30 ms frames at 32 kHz (argument: total rate in bit/s;
// 45000 codes the 8-12 kHz band, 56000 the 8-16 kHz band). The input is the
// speech with every sample repeated, which leaves images in the upper band
// for it to code.
Setting super_wideband(const benchmark::State& state) {
    const auto s = speech();
    std::vector<int16_t> w(2 * s.size());
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = s[i / 2];
    return {w, 320, static_cast<int32_t>(state.range(0)), 30, 1};
}

void BM_EncodePerFrame(benchmark::State& state) { encode_frames(state, wideband(state)); }
BENCHMARK(BM_EncodePerFrame)->Arg(30)->Arg(60);
void BM_DecodePerFrame(benchmark::State& state) { decode_frames(state, wideband(state)); }
BENCHMARK(BM_DecodePerFrame)->Arg(30)->Arg(60);
void BM_SuperWidebandEncodePerFrame(benchmark::State& state) { encode_frames(state, super_wideband(state)); }
BENCHMARK(BM_SuperWidebandEncodePerFrame)->Arg(45000)->Arg(56000);
void BM_SuperWidebandDecodePerFrame(benchmark::State& state) { decode_frames(state, super_wideband(state)); }
BENCHMARK(BM_SuperWidebandDecodePerFrame)->Arg(45000)->Arg(56000);

}  // namespace

BENCHMARK_MAIN();
