// The codec service's cost per 20 ms of one call (encode on ingress, jitter buffer and decode on
// egress, packets looped back), per codec, next to an independent implementation encoding and
// decoding the same 20 ms; prints the ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "pve_codec.h"
#include "qrn/qrn.h"
#include "vhd/vhd.h"

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
#include <gsm.h>
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>
#include <opus/opus.h>
#include <spandsp.h>
}

namespace {

constexpr QRN_Handle kVhd = HAPIVHD0;
uint64_t gSample = 0;
std::vector<std::vector<uint16_t>> gOut;  // packets the host received this tick

int16_t signal(uint64_t n) {
  return static_cast<int16_t>(7000 * std::sin(2 * M_PI * 440.0 * n / 8000) + 2000 * std::sin(2 * M_PI * 1700.0 * n / 8000));
}

void lineIngress(HSFSRVOBJ) {
  const uint16_t n = hsfFrmPeriodGet();
  const bool wide = hsfModeGet() != 0;
  const unsigned total = n * (wide ? 3u : 1u);
  auto* frame = static_cast<int16_t*>(hsfMemAllocScratch(total * sizeof(int16_t)));
  if (frame == nullptr) return;
  for (unsigned i = 0; i < total; ++i) frame[i] = signal(gSample + i % n);
  gSample += n;
  hsfIbdSendExt(HSF_IBD_PCM, 0, static_cast<uint16_t>(total * sizeof(int16_t)), frame);
}

const HSFSRVARC lineArc = {HAPI_PCM_SRV, 8, nullptr, lineIngress, nullptr, nullptr, nullptr};
const QRN_ServiceArchive voiceStack[] = {{&pvecodecarc, 1, HAPI_HOST_SRV}, {&lineArc, 1, HAPI_CODEC_SRV}};
const QRN_StackArchive stacks[] = {{1, 80, voiceStack, 2}};
QRN_SocketConfig config = {28000, 0, stacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 2, &config}};

void host(QRN_Handle, QRN_SocketMsg* msg) {
  if (msg->msg.std.header == HAPI_NET_INGRESSPACKET_EVT && msg->msg.ext.bufp != nullptr) {
    const auto* w = static_cast<const uint16_t*>(msg->msg.ext.bufp);
    gOut.emplace_back(w, w + msg->msg.ext.length / 2);
  }
  QRN_FreeSocketMsg(msg);
}

void tick() {
  HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
  KNL_FrameSync();
  LHAPI_gpFncUnlockSMP(s);
}

void command(uint16_t header, uint16_t op1, uint16_t op2) {
  QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, 1, QRN_MsgFlagHostMsg);
  tick();
}

// Sends the packets of the last tick back in as received packets.
void loopBack() {
  for (std::vector<uint16_t>& p : gOut) {
    if (p.size() < 4) continue;
    p[2] = 8;  // egress header: payloadOffset in place of the high timestamp word
    QRN_QueueExtIbdMsg(kVhd, HAPI_NET_EGRESSPACKET_CMD, p.data(), static_cast<uint16_t>(p.size() * 2), HSF_IBD_PACKET,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, HAPIVHD_HOST);
  }
  gOut.clear();
}

// The peers: one 20 ms frame encoded and decoded.
struct Peer {
  std::function<void(const int16_t* pcm, int16_t* out)> run;
  int rate;
};

Peer peerFor(int code) {
  static std::vector<uint8_t> bytes(1500);
  switch (code) {
    case 0:
    case 1: {
      static g711_state_t* s = g711_init(nullptr, G711_ULAW);
      return {[](const int16_t* pcm, int16_t* out) {
                g711_encode(s, bytes.data(), pcm, 160);
                g711_decode(s, out, bytes.data(), 160);
              }, 8000};
    }
    case 4: {
      static g726_state_t* e = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
      static g726_state_t* d = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
      return {[](const int16_t* pcm, int16_t* out) {
                const int n = g726_encode(e, bytes.data(), pcm, 160);
                g726_decode(d, out, bytes.data(), n);
              }, 8000};
    }
    case 6: {
      static bcg729EncoderChannelContextStruct* e = initBcg729EncoderChannel(0);
      static bcg729DecoderChannelContextStruct* d = initBcg729DecoderChannel();
      return {[](const int16_t* pcm, int16_t* out) {
                for (int k = 0; k < 2; ++k) {
                  uint8_t len = 0;
                  bcg729Encoder(e, pcm + 80 * k, bytes.data(), &len);
                  bcg729Decoder(d, bytes.data(), len, 0, 0, 0, out + 80 * k);
                }
              }, 8000};
    }
    case 16: {
      static gsm g = gsm_create();
      return {[](const int16_t* pcm, int16_t* out) {
                gsm_encode(g, const_cast<gsm_signal*>(pcm), bytes.data());
                gsm_decode(g, bytes.data(), out);
              }, 8000};
    }
    case 25: {
      static void* e = Encoder_Interface_init(0);
      static void* d = Decoder_Interface_init();
      return {[](const int16_t* pcm, int16_t* out) {
                Encoder_Interface_Encode(e, MR122, pcm, bytes.data(), 0);
                Decoder_Interface_Decode(d, bytes.data(), out, 0);
              }, 8000};
    }
    case 58: {
      static void* e = E_IF_init();
      static void* d = D_IF_init();
      return {[](const int16_t* pcm, int16_t* out) {
                E_IF_encode(e, 8, pcm, bytes.data(), 0);
                D_IF_decode(d, bytes.data(), out, 0);
              }, 16000};
    }
    case 45: {
      static g722_encode_state_t* e = g722_encode_init(nullptr, 64000, 0);
      static g722_decode_state_t* d = g722_decode_init(nullptr, 64000, 0);
      return {[](const int16_t* pcm, int16_t* out) {
                const int n = g722_encode(e, bytes.data(), pcm, 320);
                g722_decode(d, out, bytes.data(), n);
              }, 16000};
    }
    case 38:
    case 70: {
      const int rate = code == 38 ? 8000 : 16000;
      int err = 0;
      OpusEncoder* e = opus_encoder_create(rate, 1, OPUS_APPLICATION_VOIP, &err);
      OpusDecoder* d = opus_decoder_create(rate, 1, &err);
      opus_encoder_ctl(e, OPUS_SET_BITRATE(rate == 16000 ? 20000 : 12000));
      opus_encoder_ctl(e, OPUS_SET_COMPLEXITY(10));
      return {[e, d, rate](const int16_t* pcm, int16_t* out) {
                const int n = opus_encode(e, pcm, rate / 50, bytes.data(), 1275);
                benchmark::DoNotOptimize(opus_decode(d, bytes.data(), n, out, rate / 50, 0));
              }, rate};
    }
    default:
      return {nullptr, 8000};
  }
}

double peerMicrosPer20ms(int code) {
  Peer p = peerFor(code);
  if (!p.run) return 0;
  std::vector<int16_t> pcm(640), out(640);
  for (int i = 0; i < 640; ++i) pcm[i] = signal(i);
  const int reps = 200;
  for (int i = 0; i < 10; ++i) p.run(pcm.data(), out.data());
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) p.run(pcm.data(), out.data());
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(t1 - t0).count() / reps;
}

void BM_CodecService20ms(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0));
  lhapiInit(0);
  QRN_HapiInit(host, nullptr);
  config.socketHeapSize = pvecodecarc.instMemSize + 1024;
  VHD_gArchive = archives;
  VHD_gNumArchives = 1;
  VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD);
  tick();
  command(HAPI_CODEC_ENABLE_CMD, 1, 0);
  command(HAPI_CODEC_SETVOICERATE_CMD, static_cast<uint16_t>(code), 160);
  command(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  for (int i = 0; i < 40; ++i) {
    tick();
    loopBack();
  }
  for (auto _ : state) {
    for (int i = 0; i < 4; ++i) {  // 4 ticks of 5 ms
      tick();
      loopBack();
    }
  }
  HSZCODECINST* inst = static_cast<HSZCODECINST*>(VHD_GetInstance(kVhd)->socket->service[0].serviceData);
  state.counters["decoded_frames"] = inst->ctl.stats.decoder.packetCount;
  VHD_CloseInstance(kVhd);
  tick();
  const double peer = peerMicrosPer20ms(code);
  if (peer > 0) state.counters["peer_us_per_20ms"] = peer;
}

void Codes(benchmark::internal::Benchmark* b) {
  // G.711, G.726-32, G.729A, G.723.1 6.3, GSM FR, EFR, AMR 12.2, Opus 20 ms NB and WB, G.722,
  // AMR-WB 23.85, iLBC 20 ms, GSM HR, iSAC 30 ms.
  for (int code : {0, 4, 6, 10, 14, 16, 17, 25, 35, 38, 70, 45, 58, 73}) b->Arg(code);
}

BENCHMARK(BM_CodecService20ms)->Apply(Codes)->Unit(benchmark::kMicrosecond);

// Prints the ratio of each run's time per 20 ms to its peer's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("peer_us_per_20ms");
      const double ours = r.GetAdjustedRealTime();
      if (it != r.counters.end() && it->second.value > 0) {
        std::printf("  %s: service %.1f us per 20 ms, peer codec %.1f us, ratio %.2f\n", r.benchmark_name().c_str(), ours,
                    it->second.value, ours / it->second.value);
      } else {
        std::printf("  %s: service %.1f us per 20 ms (no independent peer)\n", r.benchmark_name().c_str(), ours);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
