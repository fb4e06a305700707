// The vocoder interface of the codec service: one record of four operations per codec family,
// chosen by the family of the voice code in use, and the wrappers that adapt each codec to the
// service's conventions (payloads as 16-bit words with the earlier byte in the high half, the
// jitter buffer's release record, the frame classes, the packet types the encoder reports).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ajc.h"
#include "hsf/hsf.h"
#include "pve_codec/pve_regs.h"

// Codec families.
enum HAPI_PKT_VOICEALG : uint16_t {
  HAPI_PKT_ALG_G711 = 0,
  HAPI_PKT_ALG_G726 = 1,
  HAPI_PKT_ALG_G729 = 2,
  HAPI_PKT_ALG_G7231 = 3,
  HAPI_PKT_ALG_G728 = 4,
  HAPI_PKT_ALG_BV16 = 5,
  HAPI_PKT_ALG_LINPCM128 = 6,
  HAPI_PKT_ALG_G711WB = 7,
  HAPI_PKT_ALG_LINPCM256 = 8,
  HAPI_PKT_ALG_BV32 = 9,
  HAPI_PKT_ALG_G722 = 10,
  HAPI_PKT_ALG_G7221 = 11,
  HAPI_PKT_ALG_ILBC20 = 12,
  HAPI_PKT_ALG_ILBC30 = 13,
  HAPI_PKT_ALG_GSMAMR = 14,
  HAPI_PKT_ALG_GSMEFR = 15,
  HAPI_PKT_ALG_GSMFR = 16,
  HAPI_PKT_ALG_GSMHR = 17,
  HAPI_PKT_ALG_AMRWB = 18,
  HAPI_PKT_ALG_LINPCM64 = 19,
  HAPI_PKT_ALG_OPUS = 20,
  HAPI_PKT_ALG_ISAC = 21,
  HAPI_PKT_ALG_NUM = 22,
};

// Voice codes the wrappers name.
enum : uint16_t {
  HAPI_PKT_VC_G711_ULAW = 0,
  HAPI_PKT_VC_G711_ALAW = 1,
  HAPI_PKT_VC_G726_16 = 2,
  HAPI_PKT_VC_G726_40 = 5,
  HAPI_PKT_VC_G729A_8 = 6,
  HAPI_PKT_VC_G7231_53 = 9,
  HAPI_PKT_VC_G7231_63 = 10,
  HAPI_PKT_VC_LINPCM128 = 13,
  HAPI_PKT_VC_GSM_FR_13 = 16,
  HAPI_PKT_VC_GSM_EFR_122 = 17,
  HAPI_PKT_VC_GSM_AMR_475 = 18,
  HAPI_PKT_VC_GSM_AMR_OA_475 = 26,
  HAPI_PKT_VC_OPUS_NB_5 = 36,
  HAPI_PKT_VC_OPUS_NB_60 = 40,
  HAPI_PKT_VC_WIDEBAND_MIN = 41,
  HAPI_PKT_VC_G722_64_MODE1 = 45,
  HAPI_PKT_VC_WB_AMR_660 = 50,
  HAPI_PKT_VC_WB_AMR_OA_660 = 59,
  HAPI_PKT_VC_OPUS_WB_5 = 68,
  HAPI_PKT_VC_OPUS_WB_60 = 72,
  HAPI_PKT_VC_WIDEBAND_MAX = 74,
  HAPI_PKT_VC_ALG_MAX = 75,
  HAPI_PKT_VC_SID_MIN = 80,
  HAPI_PKT_VC_GENERIC_SID = 81,
  HAPI_PKT_VC_G729_SID = 82,
  HAPI_PKT_VC_G7231_SID = 83,
  HAPI_PKT_VC_AMR_SID = 84,
  HAPI_PKT_VC_GSM_EFR_SID = 85,
  HAPI_PKT_VC_AMR_WB_SID = 86,
  HAPI_PKT_VC_AMR_OA_SID = 87,
  HAPI_PKT_VC_AMR_WB_OA_SID = 88,
  HAPI_PKT_VC_VOICE_NOCODE = 255,
};

// Packet types the encoders report.
enum : int { PVE_ENC_NONE = 0, PVE_ENC_VOICE = 1, PVE_ENC_SID = 2 };

using PVE_DECINITCFGFNC = void (*)(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange);
using PVE_DECFNC = void (*)(void* decp, AJC_PVEDEC_INT* ajcDecIntp, int16_t* speechbufp);
using PVE_ENCINITCFGFNC = void (*)(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange);
using PVE_ENCFNC = int (*)(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t silence, uint16_t* payloadSize);

struct HSZVOCODERS {
  PVE_DECINITCFGFNC decinitcfgfnc;
  PVE_DECFNC decfnc;
  PVE_ENCINITCFGFNC encinitcfgfnc;
  PVE_ENCFNC encfnc;
};

// A family is usable only when its record is present and complete; codecs that are not built in
// have a record without operations, which the service reports as unsupported.
inline bool vocoderUsable(const HSZVOCODERS* v) {
  return v != nullptr && v->decinitcfgfnc && v->decfnc && v->encinitcfgfnc && v->encfnc;
}

extern const HSZVOCODERS* const hsgvocoders[HAPI_PKT_ALG_NUM];

// Family of each voice code 0..74.
extern const uint8_t hsgpvealg[HAPI_PKT_VC_ALG_MAX];

// The front of every decoder's memory, filled and kept by the codec service; the wrapper's own
// state follows at PVE_DEC_HDR_BYTES.
struct PVE_DEC_HDR {
  AJC_PAYLOADQ* payloadQp;  // the jitter buffer's payload store
  uint16_t cngActive;       // the service plays its own comfort noise
  void* cngp;               // the service's comfort-noise generator
  uint16_t* payloadBufp;    // work buffer that holds the largest payload of any codec
};
inline constexpr size_t PVE_DEC_HDR_BYTES = (sizeof(PVE_DEC_HDR) + 15) & ~size_t{15};
inline constexpr size_t PVE_PAYLOAD_BUF_WORDS = 640;  // 1280 bytes

template <typename T>
T* vocoderDecState(void* decp) {
  return reinterpret_cast<T*>(static_cast<uint8_t*>(decp) + PVE_DEC_HDR_BYTES);
}
inline PVE_DEC_HDR* vocoderDecHdr(void* decp) { return static_cast<PVE_DEC_HDR*>(decp); }

// Memory each family's wrapper needs (bytes): the decoder's own state after the header, and the
// encoder's whole instance. Both are 0 for families without a wrapper. Sizes that depend on a
// library are known after vocoderInit.
size_t vocoderDecStateBytes(unsigned alg);
size_t vocoderEncStateBytes(unsigned alg);
// Sizes the library-backed wrappers; called once at start-up, before any channel is built.
void vocoderInit();

// The largest payload (bytes) a family's decoder copies out of a jitter-buffer slot, which the
// slot must hold; 0 when the family copies by payload length only.
uint16_t vocoderDecCopyBytes(unsigned alg);

// Payload helpers: codes or bytes two to a word, the earlier in the high half.
void vocoderPackBytes(const int16_t* bytes, int n, uint16_t* words);
void vocoderPackBytes(const uint8_t* bytes, int n, uint16_t* words);
void vocoderUnpackBytes(const uint16_t* words, int n, int16_t* bytes);
uint16_t vocoderSwap(uint16_t w);

// Frame class of a release record.
inline uint8_t vocoderClass(const AJC_PVEDEC_INT* r) { return static_cast<uint8_t>(r->currPkt[0].payloadID >> 8); }
// Copies the released frame's payload (and frees its slot), or frees a second frame unread.
void vocoderCopy(void* decp, const AJC_PKT_HDR* h, uint16_t* dest, uint16_t words);
void vocoderDropSecond(void* decp, AJC_PVEDEC_INT* r);
// Takes the released frame's payload as bytes, at most `maxBytes`, through the payload buffer
// (freeing its slot, and a second frame's unread); returns how many.
uint16_t vocoderTakeBytes(void* decp, AJC_PVEDEC_INT* r, uint16_t maxBytes, uint8_t* bytes);

// The AMR and AMR-WB encoders keep the packetising options and the far end's mode request in
// their instance (the encoder pool); the codec service calls these only while such an encoder
// is configured.
void vocoderAmrOptions(void* encPool, const AMR_REGS* options, bool wideband);
void vocoderAmrModeRequest(void* encPool, uint16_t mode, bool wideband);

// What the codec service's AMR payload builder keeps in the AMR or AMR-WB encoder instance: the
// packet time and redundancy, the time elapsed in the current packet and the last frames.
inline constexpr int AMR_HISTORY_FRAMES = 11;
inline constexpr int AMR_SLOT_BYTES = 62;  // the largest single-frame payload (AMR-WB octet-aligned)
struct AMR_PKT_FRAME {
  uint16_t bytes;
  uint8_t payload[AMR_SLOT_BYTES];
};
struct AMR_PKT_STATE {
  uint16_t ptime;    // P, ms
  uint16_t red;      // R, ms
  uint16_t elapsed;  // T, ms
  uint16_t stored;   // frames in the history, at most 11
  uint16_t next;     // ring position of the next frame to store
  AMR_PKT_FRAME history[AMR_HISTORY_FRAMES];
};
// The builder's state at the front of an AMR or AMR-WB encoder instance.
inline AMR_PKT_STATE* vocoderAmrPktState(void* encPool) { return static_cast<AMR_PKT_STATE*>(encPool); }
// Packet time rounded down to 20 ms within 20..240, and the redundancy that fits with it.
uint16_t amrPtime(uint16_t ptime);
uint16_t amrRed(uint16_t ptime, uint16_t red);
// Speech bits of a frame type (mode), 0 for no data; octet-aligned rounds up to whole bytes.
uint16_t amrGetModeBits(unsigned mode, bool wideband, bool octetAligned);
// Frame type of a single-frame payload.
unsigned amrGetMode(const uint8_t* payload, bool octetAligned);

// The records of the families (empty ones included).
extern const HSZVOCODERS vocoder_g711_NB, vocoder_g726, vocoder_g729, vocoder_g7231, vocoder_linPCM_NB,
    vocoder_g722, vocoder_ilbc20, vocoder_ilbc30, vocoder_gsmamr, vocoder_gsmefr, vocoder_gsmfr,
    vocoder_gsmhr, vocoder_amrwb, vocoder_opus, vocoder_isac;
