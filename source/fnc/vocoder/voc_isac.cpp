// iSAC at 16 kHz, 30 ms (code 73) and 60 ms (code 74) frames: the encoder takes 10 ms per call and
// hands a frame out once it is complete; the decoder plays a whole frame per call. Each side
// builds its codec instance in its own memory, sized from the codec.
#include <cstring>

#include "isac_codec.h"
#include "lhapi.h"
#include "vocoder.h"

using namespace isac;

namespace {

constexpr int kMaxPayload = 600;
constexpr int kBlock = 160;  // 10 ms at 16 kHz per encoder call

struct IsacState {
  uint16_t frameMs;  // 30 or 60; 0 before the first instance
  ISACFIX_MainStruct* inst;
  int32_t mem[(kIsacfixInstanceBytes + 3) / 4];
};

uint16_t frameMsOf(uint16_t algorithm) { return (algorithm & 0xFF) == 74 ? 60 : 30; }

// Builds the instance anew when the frame length changes or the family does.
void configure(IsacState* st, uint16_t algorithm, uint16_t algChange) {
  const uint16_t frameMs = frameMsOf(algorithm);
  if (frameMs == st->frameMs && !algChange && st->inst != nullptr) return;
  st->frameMs = frameMs;
  int32_t used = 0;
  if (WebRtcIsacfix_Create(&st->inst, st->mem, sizeof(st->mem), &used) < 0) {
    LHAPI_ASSERT_FAIL();
    st->inst = nullptr;
    return;
  }
  WebRtcIsacfix_EncoderInit(st->inst, 1, 0);
  WebRtcIsacfix_DecoderInit(st->inst);
  WebRtcIsacfix_Control(st->inst, 32000, static_cast<int16_t>(frameMs));
}

}  // namespace

void isacwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  configure(vocoderDecState<IsacState>(algmem), algorithm, algChange);
}

void isacwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<IsacState>(decp);
  if (st->inst == nullptr) return;
  const uint8_t c = vocoderClass(r);
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    uint8_t bytes[kMaxPayload];
    const uint16_t length = vocoderTakeBytes(decp, r, kMaxPayload, bytes);
    int16_t speechType = 0;
    WebRtcIsacfix_Decode(st->inst, bytes, length, out, &speechType);
  } else if (c == AJC_PKT_UNKNOWN || c == AJC_PKT_CNG || c == AJC_PKT_FRAME_REPEAT) {
    WebRtcIsacfix_DecodePlc(st->inst, out, static_cast<int16_t>(st->frameMs == 60 ? 2 : 1), 0);
  }
}

void isacwrap_EncCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  configure(static_cast<IsacState*>(algmem), algorithm, algChange);
}

int isacwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<IsacState*>(algmem);
  *payloadSize = 0;
  if (st->inst == nullptr) return PVE_ENC_NONE;
  WebRtcIsacfix_Control(st->inst, 32000, static_cast<int16_t>(st->frameMs));
  uint8_t bytes[kMaxPayload + 16];
  const int n = WebRtcIsacfix_Encode(st->inst, speechbufp, bytes, 0);
  if (n <= 0 || n > kMaxPayload) return PVE_ENC_NONE;  // the frame is not complete yet
  vocoderPackBytes(bytes, n, rawdata);
  *payloadSize = static_cast<uint16_t>(n);
  return PVE_ENC_VOICE;
}

size_t isacStateBytes() { return sizeof(IsacState); }

const HSZVOCODERS vocoder_isac{isacwrap_DecCfg, isacwrap_Decode, isacwrap_EncCfg, isacwrap_Encode};
