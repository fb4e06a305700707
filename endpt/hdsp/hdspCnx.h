// Connection options and codec set-up: turns the parameters of an endpoint connection into the
// registers of its connection VHD (packet time, encoder, VAD/CNG/PLC, digit and fax relay, NET
// mode). The connection record keeps what was sent, so that later calls send only differences.
#pragma once

#include <cstdint>

#include "vrgEndptState.h"

struct EPRATEMAP {
  CODEC_TYPE codec;
  uint32_t voiceCode;  // HAPI_PKT_VOICECODE
};
inline constexpr int EP_RATE_MAP_ROWS = 78;  // the last row is CODEC_NULL
extern const EPRATEMAP epRateMap[EP_RATE_MAP_ROWS];
// The row of a codec, or none.
const EPRATEMAP* epRateMapFind(CODEC_TYPE codec);

struct EPFAXEVTMAP {
  int faxEvent;
  uint16_t initMode;
};
extern const EPFAXEVTMAP epFaxEvtMap[4];

// Voice codes the host uses by name.
enum : uint16_t {
  HAPI_PKT_VC_G711_ULAW = 0,
  HAPI_PKT_VC_G711_ALAW = 1,
  HAPI_PKT_VC_G729A_8 = 6,
  HAPI_PKT_VC_G729_8 = 7,
  HAPI_PKT_VC_G7231_53 = 9,
  HAPI_PKT_VC_G7231_63 = 10,
  HAPI_PKT_VC_LINPCM64 = 34,
  HAPI_PKT_VC_G722_64_MODE_1 = 45,
  HAPI_PKT_VC_G7231_SID = 83,
  HAPI_PKT_VC_G7231_VARIABLE = 93,
};

int SetConnectionOptions(CNXSTATE* cnx, EPZCNXPARAM* params, int initial);
int checkPacketTime(const EPZCNXPARAM* params);
int EnableRelay(CNXSTATE* cnx, int digitRelay, int pktSamples, EPDATAMODE dataMode,
                EPDTMFRFC2833CONFIG digitRelayType);
void SetVoiceMode(CNXSTATE* cnx, VOICEMODE mode);
void SaveConnectionOptions(CNXSTATE* cnx, const EPZCNXPARAM* params);
int ConnectionOptionsChanged(const CNXSTATE* cnx, const EPZCNXPARAM* params);
void ClearConnectionOptions(CNXSTATE* cnx);
int SetT38EcMode(CNXSTATE* cnx, EPT38ECMODE mode);
int SetT38PktSize(CNXSTATE* cnx, int ms);
void SetDigitalMode(VRG_ENDPT* endpt, CNXSTATE* cnx, int on);
void SetSilenceSuppression(CNXSTATE* cnx, int vad, int plc, int comfortNoise);
void SetAdditionalGain(CNXSTATE* cnx, int voiceBandData);
