// Opus at 8 and 16 kHz: one call per packet time. Both codec states live in the wrapper's memory,
// sized from the library at start-up; the decoder plays packets longer than the packet time in
// slices over several calls.
#include <cstdio>
#include <cstring>

#include "hsf/hsf.h"
#include "lhapi.h"
#include "opus_slice.h"
#include "voc_opus.h"
#include "voc_wrappers.h"

namespace {

constexpr int32_t kMaxPayload = 1275;  // the payload area: opus_encode never writes beyond it

size_t gDecRegion = 0;
size_t gEncRegion = 0;

size_t round16(size_t n) { return (n + 15) & ~size_t{15}; }

struct OpusDecState {
  uint16_t code;
  OpusSliceDecoder slice;
  alignas(8) uint8_t region[];  // gDecRegion bytes
};

struct OpusEncState {
  int32_t rate;
  uint16_t code;
  alignas(8) uint8_t region[];  // gEncRegion bytes
};

int32_t rateOf(uint16_t code) { return code >= HAPI_PKT_VC_WIDEBAND_MIN && code <= HAPI_PKT_VC_WIDEBAND_MAX ? 16000 : 8000; }

// Samples per call: the channel's frame period, or the voice code's packet time outside a channel.
int frameSamples(uint16_t code, int32_t rate) {
  unsigned period = hsfFrmPeriodGet();
  if (period == 0) {
    static constexpr unsigned kPacket[5] = {40, 80, 160, 320, 480};
    const unsigned i = code >= 68 ? code - 68u : code - 36u;
    period = kPacket[i < 5 ? i : 2];
  }
  return static_cast<int>(period * (rate == 16000 ? 2 : 1));
}

void report(const char* what, int ret, int unfinished, const void* outBufp, const void* speechbufp) {
  lhapiErrorPrint("%s: packet decode issue - ret %d, unfinished %d, outBufp %p, speechbufp %p\n", what, ret,
                  unfinished, outBufp, speechbufp);
}

}  // namespace

size_t opusDecStateBytes() { return gDecRegion ? sizeof(OpusDecState) + gDecRegion : 0; }
size_t opusEncStateBytes() { return gEncRegion ? sizeof(OpusEncState) + gEncRegion : 0; }
size_t opusDecRegionBytes() { return gDecRegion; }
size_t opusEncRegionBytes() { return gEncRegion; }

void opusWrapInit() {
  gDecRegion = round16(static_cast<size_t>(opus_decoder_get_size(1)));
  gEncRegion = round16(static_cast<size_t>(opus_encoder_get_size(1)));
}

void opuswrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<OpusDecState>(algmem);
  const uint16_t code = algorithm & 0xFF;
  const int32_t rate = rateOf(code);
  st->code = code;
  if (rate == st->slice.rate && !algChange && st->slice.st != nullptr) return;
  int error = 0;
  int32_t used = 0;
  OpusDecoder* dec = opus_decoder_create(rate, 1, &error, st->region, static_cast<int32_t>(gDecRegion), &used);
  if (error != 0) LHAPI_ASSERT_FAIL();
  if (dec != reinterpret_cast<OpusDecoder*>(st->region)) LHAPI_ASSERT_FAIL();
  opusSliceInit(&st->slice, dec, rate);
}

void opuswrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* speechbufp) {
  auto* st = vocoderDecState<OpusDecState>(decp);
  if (st->slice.st == nullptr) return;
  const int n = frameSamples(st->code, st->slice.rate);
  const uint8_t c = vocoderClass(r);
  int16_t* outBufp = speechbufp;
  int unfinished = 0;
  int ret;
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    uint8_t packet[OPUS_SLICE_MAX_PACKET];
    const uint16_t length = vocoderTakeBytes(decp, r, kMaxPayload + 1, packet);
    ret = opus_decode(&st->slice, packet, length, speechbufp, n, 0, &outBufp, &unfinished);
  } else if (c == AJC_PKT_UNKNOWN || c == AJC_PKT_CNG || c == AJC_PKT_FRAME_REPEAT) {
    ret = opus_decode(&st->slice, nullptr, 0, speechbufp, n, 1, &outBufp, &unfinished);
  } else {
    return;  // voiceband data is not decoded
  }
  if (ret < n) {
    report("opuswrap_Decode", ret, unfinished, outBufp, speechbufp);
    return;
  }
  if (outBufp != speechbufp || unfinished || ret > n) {
    if (outBufp != speechbufp) std::memmove(speechbufp, outBufp, static_cast<size_t>(n) * sizeof(int16_t));
  }
}

void opuswrap_EncCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t) {
  auto* st = static_cast<OpusEncState*>(algmem);
  st->code = algorithm & 0xFF;
  st->rate = rateOf(st->code);
  int error = 0;
  int32_t used = 0;
  OpusEncoder* enc = opus_encoder_create(st->rate, 1, OPUS_APPLICATION_VOIP, &error, st->region,
                                            static_cast<int32_t>(gEncRegion), &used);
  if (error != 0) LHAPI_ASSERT_FAIL();
  if (enc != reinterpret_cast<OpusEncoder*>(st->region)) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  opus_encoder_ctl(enc, OPUS_SET_BITRATE(st->rate == 16000 ? 20000 : 12000));
  opus_encoder_ctl(enc, OPUS_SET_COMPLEXITY(10));
  opus_encoder_ctl(enc, OPUS_SET_DTX((algorithm >> 8) == 2 ? 1 : 0));
  opus_encoder_ctl(enc, OPUS_SET_FORCE_CHANNELS(1));
  opus_encoder_ctl(enc, OPUS_SET_INBAND_FEC(0));
  opus_encoder_ctl(enc, OPUS_SET_LSB_DEPTH(16));
  opus_encoder_ctl(enc, OPUS_SET_PACKET_LOSS_PERC(0));
  opus_encoder_ctl(enc, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
  opus_encoder_ctl(enc, OPUS_SET_VBR(1));
  opus_encoder_ctl(enc, OPUS_SET_VBR_CONSTRAINT(0));
}

int opuswrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<OpusEncState*>(algmem);
  auto* enc = reinterpret_cast<OpusEncoder*>(st->region);
  uint8_t packet[kMaxPayload];
  const int n = opus_encode(enc, speechbufp, frameSamples(st->code, st->rate), packet, kMaxPayload);
  if (n < 0) {
    *payloadSize = 0;  // a library error leaves nothing to send
    return PVE_ENC_NONE;
  }
  vocoderPackBytes(packet, n, rawdata);
  *payloadSize = static_cast<uint16_t>(n);
  return PVE_ENC_VOICE;
}

const HSZVOCODERS vocoder_opus{opuswrap_DecCfg, opuswrap_Decode, opuswrap_EncCfg, opuswrap_Encode};
