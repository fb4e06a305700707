// The call with each landed codec, on the endpoint library and the virtual board in this process
// (the daemon itself offers the PBX G.711 A-law only): the phone's 1 kHz tone leaves as the
// codec's RTP, and an independent decoder of that codec hears the tone in it at its level. GSM
// half rate and iSAC have no independent decoder packaged: our own decoders read their RTP.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <bcg729/decoder.h>
#include <gsm.h>
#include <libavcodec/avcodec.h>
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrwb/dec_if.h>
#include <opus.h>
#include <spandsp.h>
}

#include "../source/srv/pte/pte_signal_util.h"
#include "call_audio.h"
#include "voc_amr_tables.h"
#include "g711.h"
#include "gsmhr.h"
#include "isac_codec.h"
#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"

namespace {

using namespace std::chrono_literals;

const bool kEnvironment = [] {
#ifdef CODEC_CALL_WIDEBAND
  ::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0,wideband=1", 1);
#else
  ::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0", 1);
#endif
  ::setenv("ORVOX_TICK", "fast", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  ::setenv("ORVOX_BOARD_SOCKET", ("/tmp/orvox_codec_call_" + std::to_string(::getpid()) + ".sock").c_str(), 1);
  return true;
}();

// RTP packets of the connection under test, as the library hands them to the daemon.
struct Captured {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> packets;
  int cnxId = -1;
};
Captured captured;

void onPacket(ENDPT_STATE*, int cnxId, EPPACKET* packet, int length) {
  if (packet == nullptr || packet->mediaType != EPMEDIATYPE_RTP || packet->packetp == nullptr || length < 12) return;
  std::lock_guard<std::mutex> guard(captured.lock);
  if (cnxId != captured.cnxId || captured.packets.size() >= 2000) return;
  captured.packets.emplace_back(packet->packetp, packet->packetp + length);
}
std::atomic<int> offHooks{0};
void onEvent(ENDPT_STATE*, int, EPEVT event, void*, int, int) {
  if (event == EPEVT_OFFHOOK) ++offHooks;
}
void onRelease(ENDPT_STATE*, int, unsigned int) {}

struct CodecCase {
  const char* name;
  CODEC_TYPE codec;
  uint8_t payloadType;
  double levelTolerance;  // dB: low-rate coders do not keep a tone's level as G.711 does
  // The level the decoder hears the -10 dBm0 tone at. iSAC's spectrum coder pulls a steady line far
  // above its envelope in, the more the further the tone stands above whatever else reaches the
  // encoder (the unit tests derive the level stage by stage from the coded frames); on this line the
  // tone comes back 6.8 dB low, where a clean 16 kHz tone of the same level loses 8.6 dB.
  double expectedLevel = -10.0;
};

// Decodes the payloads of one codec with its independent decoder into 8 kHz samples.
std::vector<int16_t> decode(const CodecCase& c, const std::vector<std::vector<uint8_t>>& packets) {
  std::vector<int16_t> out;
  auto payload = [](const std::vector<uint8_t>& p) {
    const size_t header = 12 + 4 * static_cast<size_t>(p[0] & 0x0f);
    return header <= p.size() ? std::vector<uint8_t>(p.begin() + static_cast<long>(header), p.end())
                              : std::vector<uint8_t>();
  };
  if (c.codec == CODEC_PCMA || c.codec == CODEC_PCMU) {
    for (const auto& p : packets) {
      const auto b = payload(p);
      std::vector<int16_t> codes(b.begin(), b.end()), linear(b.size());
      (c.codec == CODEC_PCMA ? g711AlawExpand : g711UlawExpand)(static_cast<int>(b.size()), codes.data(), linear.data());
      out.insert(out.end(), linear.begin(), linear.end());
    }
  } else if (c.codec == CODEC_G729A) {
    bcg729DecoderChannelContextStruct* d = initBcg729DecoderChannel();
    for (const auto& p : packets) {
      auto b = payload(p);
      for (size_t at = 0; at + 10 <= b.size(); at += 10) {
        int16_t pcm[80];
        bcg729Decoder(d, b.data() + at, 10, 0, 0, 0, pcm);
        out.insert(out.end(), pcm, pcm + 80);
      }
    }
    closeBcg729DecoderChannel(d);
  } else if (c.codec == CODEC_G726_32) {
    g726_state_t* d = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    for (const auto& p : packets) {
      auto b = payload(p);
      std::vector<int16_t> pcm(b.size() * 2);
      const int n = g726_decode(d, pcm.data(), b.data(), static_cast<int>(b.size()));
      out.insert(out.end(), pcm.begin(), pcm.begin() + n);
    }
    g726_free(d);
  } else if (c.codec == CODEC_G722_MODE_1) {
    // 16 kHz out; every other sample keeps a 1 kHz tone intact for the 8 kHz measurements.
    g722_decode_state_t* d = g722_decode_init(nullptr, 64000, 0);
    for (const auto& p : packets) {
      auto b = payload(p);
      std::vector<int16_t> pcm(b.size() * 2);
      const int n = g722_decode(d, pcm.data(), b.data(), static_cast<int>(b.size()));
      for (int i = 0; i < n; i += 2) out.push_back(pcm[static_cast<size_t>(i)]);
    }
    g722_decode_free(d);
  } else if (c.codec == CODEC_GSMFR) {
    // RFC 3551: one 33-byte frame per 20 ms, its first four bits the 0xD signature.
    gsm d = gsm_create();
    for (const auto& p : packets) {
      auto b = payload(p);
      for (size_t at = 0; at + 33 <= b.size(); at += 33) {
        gsm_signal pcm[160];
        if (gsm_decode(d, b.data() + at, pcm) != 0) {
          std::printf("GSM-FR frame refused by the decoder, first byte 0x%02x\n", b[at]);
          gsm_destroy(d);
          return {};
        }
        out.insert(out.end(), pcm, pcm + 160);
      }
    }
    gsm_destroy(d);
  } else if (c.codec == CODEC_GSMAMR_OA_12K) {
    // RFC 4867 octet-aligned: the CMR byte, one table-of-contents byte per frame (F, FT, Q), then
    // the frames. The decoder takes each frame behind a storage-format header (FT, Q).
    void* d = Decoder_Interface_init();
    static const int kFrameBytes[8] = {12, 13, 15, 17, 19, 20, 26, 31};
    for (const auto& p : packets) {
      auto b = payload(p);
      size_t toc = 1, frames = 0;
      while (toc + frames < b.size() && (b[toc + frames] & 0x80)) ++frames;
      ++frames;  // the last entry has F = 0
      size_t at = toc + frames;
      for (size_t f = 0; f < frames && toc + f < b.size(); ++f) {
        const int ft = (b[toc + f] >> 3) & 0x0f;
        if (ft > 7 || at + static_cast<size_t>(kFrameBytes[ft]) > b.size()) break;
        std::vector<uint8_t> frame{static_cast<uint8_t>(b[toc + f] & 0x7c)};
        frame.insert(frame.end(), b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + kFrameBytes[ft]);
        at += static_cast<size_t>(kFrameBytes[ft]);
        int16_t pcm[160];
        Decoder_Interface_Decode(d, frame.data(), pcm, 0);
        out.insert(out.end(), pcm, pcm + 160);
      }
    }
    Decoder_Interface_exit(d);
  } else if (c.codec == CODEC_GSMEFR) {
    // RFC 3551: the 0xC signature, then the 244 bits in the codec's parameter order. The same bits
    // make an AMR 12.2 frame once put in the AMR order of importance (the table the AMR payloads
    // above were built with, which opencore has checked there).
    void* d = Decoder_Interface_init();
    for (const auto& p : packets) {
      auto b = payload(p);
      if (b.size() != 31 || (b[0] >> 4) != 0xC) {
        std::printf("GSM-EFR payload of %zu bytes, first byte 0x%02x\n", b.size(), b.empty() ? 0 : b[0]);
        Decoder_Interface_exit(d);
        return {};
      }
      auto bit = [&b](int i) { return (b[static_cast<size_t>(i + 4) / 8] >> (7 - (i + 4) % 8)) & 1; };
      uint8_t frame[32] = {0x3C};  // FT 7 (12.2), Q 1
      for (int i = 0; i < 244; ++i)
        if (bit(amrSortNb[7][i])) frame[1 + i / 8] = static_cast<uint8_t>(frame[1 + i / 8] | (0x80 >> (i % 8)));
      int16_t pcm[160];
      Decoder_Interface_Decode(d, frame, pcm, 0);
      out.insert(out.end(), pcm, pcm + 160);
    }
    Decoder_Interface_exit(d);
  } else if (c.codec == CODEC_GSMHR) {
    // No independent GSM half-rate decoder is packaged: our own decoder reads the RFC 5993 payload
    // (a table-of-contents byte, then the 112 bits), which still checks what the wire carries.
    using namespace hr;
    static GSMHR_DECSTRUCT d;
    gsmhr_reset_dec(&d);
    for (const auto& p : packets) {
      auto b = payload(p);
      if (b.size() != 15) continue;
      Word16 serial[GSMHR_SERIAL_BITS];
      for (int i = 0; i < GSMHR_SERIAL_BITS; ++i) serial[i] = static_cast<Word16>((b[1 + i / 8] >> (7 - i % 8)) & 1);
      Word16 parm[GSMHR_NUM_DEC_PRM] = {};
      gsmhr_bits2prm(serial, parm);
      const int type = (b[0] >> 4) & 7;
      int16_t pcm[GSMHR_FRAME_LEN];
      gsmhr_decode(&d, parm, type == 0 ? 0u : type == 2 ? uint32_t{GSMHR_FLAG_SID} : uint32_t{GSMHR_FLAG_BFI}, pcm);
      out.insert(out.end(), pcm, pcm + GSMHR_FRAME_LEN);
    }
  } else if (c.codec == CODEC_ISAC_30) {
    // No independent iSAC decoder is packaged either: our own fixed-point decoder, at 16 kHz.
    using namespace isac;
    static int32_t memory[(kIsacfixInstanceBytes + 3) / 4 + 16];
    ISACFIX_MainStruct* d = nullptr;
    int32_t used = 0;
    if (WebRtcIsacfix_Create(&d, memory, sizeof(memory), &used) < 0 || WebRtcIsacfix_DecoderInit(d) < 0) return out;
    for (const auto& p : packets) {
      auto b = payload(p);
      int16_t pcm[960];
      int16_t speechType = 0;
      const int n = WebRtcIsacfix_Decode(d, b.data(), b.size(), pcm, &speechType);
      for (int i = 0; i < n; i += 2) out.push_back(pcm[i]);
    }
  } else if (c.codec == CODEC_AMRWB_OA_1265) {
    // The same framing at 16 kHz; every other sample keeps the 1 kHz tone for the measurements.
    void* d = D_IF_init();
    static const int kFrameBytes[9] = {17, 23, 32, 36, 40, 46, 50, 58, 60};
    for (const auto& p : packets) {
      auto b = payload(p);
      size_t frames = 0;
      while (1 + frames < b.size() && (b[1 + frames] & 0x80)) ++frames;
      ++frames;
      size_t at = 1 + frames;
      for (size_t f = 0; f < frames && 1 + f < b.size(); ++f) {
        const int ft = (b[1 + f] >> 3) & 0x0f;
        if (ft > 8 || at + static_cast<size_t>(kFrameBytes[ft]) > b.size()) break;
        std::vector<uint8_t> frame{static_cast<uint8_t>(b[1 + f] & 0x7c)};
        frame.insert(frame.end(), b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + kFrameBytes[ft]);
        at += static_cast<size_t>(kFrameBytes[ft]);
        int16_t pcm[320];
        D_IF_decode(d, frame.data(), pcm, 0);
        for (int i = 0; i < 320; i += 2) out.push_back(pcm[i]);
      }
    }
    D_IF_exit(d);
  } else if (c.codec == CODEC_OPUS_NB_20 || c.codec == CODEC_OPUS_WB_20) {
    const bool wide = c.codec == CODEC_OPUS_WB_20;
    int error = 0;
    OpusDecoder* d = opus_decoder_create(wide ? 16000 : 8000, 1, &error);
    if (d == nullptr) return out;
    for (const auto& p : packets) {
      auto b = payload(p);
      int16_t pcm[5760];
      const int n = opus_decode(d, b.data(), static_cast<opus_int32>(b.size()), pcm, 5760, 0);
      for (int i = 0; i < n; i += wide ? 2 : 1) out.push_back(pcm[i]);
    }
    opus_decoder_destroy(d);
  } else if (c.codec == CODEC_G7231_63 || c.codec == CODEC_ILBC_20) {
    const bool ilbc = c.codec == CODEC_ILBC_20;
    const AVCodec* codec = avcodec_find_decoder(ilbc ? AV_CODEC_ID_ILBC : AV_CODEC_ID_G723_1);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (ctx == nullptr) return out;
    ctx->sample_rate = 8000;
    if (ilbc) ctx->block_align = 38;  // 20 ms frames
    ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    if (avcodec_open2(ctx, codec, nullptr) < 0) return out;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    for (const auto& p : packets) {
      auto b = payload(p);
      if (av_new_packet(pkt, static_cast<int>(b.size())) < 0) break;
      std::memcpy(pkt->data, b.data(), b.size());
      if (avcodec_send_packet(ctx, pkt) == 0) {
        while (avcodec_receive_frame(ctx, frame) == 0) {
          const auto* pcm = reinterpret_cast<const int16_t*>(frame->data[0]);
          out.insert(out.end(), pcm, pcm + frame->nb_samples);
        }
      }
      av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
  return out;
}

class CodecCall : public ::testing::TestWithParam<CodecCase> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(kEnvironment);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  }
  static void TearDownTestSuite() { ::unlink(vboardSocketPath().c_str()); }
};

TEST_P(CodecCall, PhonesToneLeavesAsTheCodecsRtpAndDecodesIndependently) {
  const CodecCase& c = GetParam();
  ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
  ASSERT_EQ(vrgEndptInit(&cfg, onEvent, onPacket, nullptr, nullptr, onRelease, nullptr), EPSTATUS_SUCCESS);
  ENDPT_STATE line{};
  ASSERT_EQ(vrgEndptCreate(0, 0, &line), EPSTATUS_SUCCESS);
  const int before = offHooks.load();
  vboardCommand("0 play tone 1000 0 -10");
  vboardCommand("0 offhook");
  // The call starts once the library has seen the phone answer, as the PBX's would.
  const auto answered = std::chrono::steady_clock::now() + 10s;
  while (offHooks.load() == before && std::chrono::steady_clock::now() < answered) std::this_thread::sleep_for(5ms);
  ASSERT_GT(offHooks.load(), before) << c.name;
  {
    std::lock_guard<std::mutex> guard(captured.lock);
    captured.packets.clear();
    captured.cnxId = 7;
  }
  EPZCNXPARAM p{};
  p.mode = EPCNXMODE_SNDRX;
  for (CODECCNXLIST* list : {&p.cnxParmList.send, &p.cnxParmList.recv}) {
    list->codecs[0] = {c.codec, c.payloadType, {}};
    list->numCodecs = 1;
    list->period[0] = c.codec == CODEC_ISAC_30 ? CODEC_PTIME_30 : CODEC_PTIME_20;
    list->numPeriods = 1;
  }
  p.digitRelayType = EPDTMFRFC2833_DISABLED;
  ASSERT_EQ(vrgEndptCreateConnection(&line, 7, &p), EPSTATUS_SUCCESS);
  // Until five seconds of the codec's own packets are in (at most 30 s of host time).
  auto ownPackets = [&] {
    std::lock_guard<std::mutex> guard(captured.lock);
    int n = 0;
    for (const auto& pk : captured.packets) n += (pk[1] & 0x7f) == c.payloadType ? 1 : 0;
    return n;
  };
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (ownPackets() < 250 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(vrgEndptDeleteConnection(&line, 7), EPSTATUS_SUCCESS);
  std::vector<std::vector<uint8_t>> packets;
  {
    std::lock_guard<std::mutex> guard(captured.lock);
    packets = captured.packets;
    captured.cnxId = -1;
  }
  vboardCommand("0 onhook");
  vboardCommand("0 play silence");
  vrgEndptDestroy(&line);
  vrgEndptDeinit();

  ASSERT_GE(packets.size(), 250u) << c.name;
  // The payload-type map is in place before the channel sends: the very first packet, and every
  // one after it, carries the codec's negotiated type.
  int stray = 0;
  for (const auto& pk : packets) stray += (pk[1] & 0x7f) != c.payloadType ? 1 : 0;
  EXPECT_EQ(packets[0][1] & 0x7f, c.payloadType) << c.name << ": the first packet";
  EXPECT_EQ(stray, 0) << c.name;
  const std::vector<int16_t> x = decode(c, packets);
  ASSERT_GE(x.size(), 8000u) << c.name;
  // Two seconds from half a second after the tone is first heard (the line may still be settling
  // when the connection starts).
  size_t heardAt = 0;
  while (heardAt + 160 <= x.size() && callaudio::dbm0(callaudio::rms(x, heardAt, heardAt + 160)) < -20) heardAt += 160;
  const size_t from = heardAt + 4000, to = std::min(x.size(), from + 16000);
  ASSERT_GT(to, from + 8000) << c.name << ": the tone was not heard";
  const double level = callaudio::dbm0(callaudio::rms(x, from, to));
  const double freq = sigmeas::peakFrequency(x, from, std::min(to, from + 8000), 1000);
  std::printf("%s: %zu packets of %zu bytes, tone %.2f dBm0 at %.3f Hz by its decoder\n", c.name,
              packets.size(), packets[0].size() - 12, level, freq);
  EXPECT_NEAR(level, c.expectedLevel, c.levelTolerance) << c.name;
  EXPECT_NEAR(freq, 1000.0, 1.0) << c.name;
}

#ifdef CODEC_CALL_WIDEBAND
INSTANTIATE_TEST_SUITE_P(Wideband, CodecCall, ::testing::Values(CodecCase{"G722", CODEC_G722_MODE_1, 9, 1.0},
                                                            CodecCase{"AMRWB_OA_1265", CODEC_AMRWB_OA_1265, 100, 2.0},
                                                            CodecCase{"OPUS_WB_20", CODEC_OPUS_WB_20, 111, 1.0},
                                                            CodecCase{"ISAC_30_own_decoder", CODEC_ISAC_30, 103, 1.0, -16.8}),
                         [](const auto& info) { return std::string(info.param.name); });
#else
INSTANTIATE_TEST_SUITE_P(Landed, CodecCall,
                         ::testing::Values(CodecCase{"PCMA", CODEC_PCMA, 8, 0.5}, CodecCase{"PCMU", CODEC_PCMU, 0, 0.5},
                                           CodecCase{"G729A", CODEC_G729A, 18, 2.0},
                                           CodecCase{"G726_32", CODEC_G726_32, 2, 1.0},
                                           CodecCase{"G7231_63", CODEC_G7231_63, 4, 2.0},
                                           CodecCase{"GSMFR", CODEC_GSMFR, 3, 2.0},
                                           CodecCase{"AMRNB_OA_122", CODEC_GSMAMR_OA_12K, 97, 2.0},
                                           CodecCase{"GSMEFR", CODEC_GSMEFR, 99, 2.0},
                                           CodecCase{"ILBC_20", CODEC_ILBC_20, 98, 2.0},
                                           CodecCase{"OPUS_NB_20", CODEC_OPUS_NB_20, 111, 1.0},
                                           CodecCase{"GSMHR_own_decoder", CODEC_GSMHR, 102, 2.0}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
