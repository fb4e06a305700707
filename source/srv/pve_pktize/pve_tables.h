// Per-voice-code tables of the packet voice engine (codes 0..74): packet times and thread rates
// in 8 kHz samples, bytes per coded frame, and the memory each code's encoder and decoder need.
#pragma once

#include <array>
#include <cstdint>

#include "ajc.h"
#include "vocoder.h"

using PVE_CODE_TABLE = std::array<uint16_t, HAPI_PKT_VC_ALG_MAX>;
extern const PVE_CODE_TABLE pveEncPacketTime;
extern const PVE_CODE_TABLE pveEncThreadRate;
extern const PVE_CODE_TABLE pveEncMaxPktTime;
extern const PVE_CODE_TABLE hsgpvepackettime;  // decoder packet time (pveDecPacketTime)
extern const PVE_CODE_TABLE pveDecThreadRate;
extern const PVE_CODE_TABLE hsgpvepktsize;
extern const PVE_CODE_TABLE pveDecPktReplay;

// Tables that follow the wrappers' state sizes, filled once at start-up (pveTablesInit).
struct PVE_SIZE_TABLES {
  uint16_t pveEncInstSize[HAPI_PKT_VC_ALG_MAX];  // words of encoder state
  uint16_t pveEncPoolSize[HAPI_PKT_VC_ALG_MAX];  // state plus superpacket buffer; 0 = unusable
  uint16_t decInstSize[HAPI_PKT_VC_ALG_MAX];     // words in front of the jitter-buffer queue
  uint16_t decPktSize[HAPI_PKT_VC_ALG_MAX];      // bytes of one payload slot
  uint16_t maxEncPoolWords;                      // the largest pool of any usable code
  uint16_t decJbWords;                           // jitter-buffer memory, decoder instance included
  AJC_TABLE_ENTRIES ajcTableEntries;
};
const PVE_SIZE_TABLES& pveTablesInit();

// Voice-code groups.
inline bool pveIsWideband(unsigned code) { return code >= 41 && code <= 74; }
inline bool pveIsOpus(unsigned code) { return (code >= 36 && code <= 40) || (code >= 68 && code <= 72); }
inline bool pveIsAmr(unsigned code) { return (code >= 18 && code <= 33) || code == 84 || code == 87; }
inline bool pveIsAmrWb(unsigned code) { return (code >= 50 && code <= 67) || code == 86 || code == 88; }
inline bool pveIsIsac(unsigned code) { return code == 73 || code == 74; }
