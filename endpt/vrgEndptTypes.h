// Types and codes that cross the endpoint API between the daemon and the endpoint library:
// the endpoint handle, status, event and signal codes, codec lists and connection parameters,
// capabilities, statistics, packets and the callback signatures.
//
// Every enumeration is a 32-bit signed integer; every structure uses natural alignment. The
// numeric values are part of the contract with the daemon and with the DSP side, so the ones
// that other code depends on are pinned with static_assert at the end of this file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vrgProvItems.h"

// ---------------------------------------------------------------------------------------------
// Handle and set-up
// ---------------------------------------------------------------------------------------------

enum EPTYPE : int32_t {
  EPTYPE_FXS = 0,
  EPTYPE_PSTN = 1,
  EPTYPE_DECT = 2,
  EPTYPE_NOSIG = 3,
};

// The handle of one endpoint: owned by the daemon, filled by vrgEndptCreate and passed back as
// the first argument of every callback about that endpoint.
struct ENDPT_STATE {
  int32_t lineId;
  EPTYPE endptType;
};

enum VRG_COUNTRY : int32_t {
  VRG_COUNTRY_AUSTRALIA = 0,
  VRG_COUNTRY_BELGIUM,
  VRG_COUNTRY_BRAZIL,
  VRG_COUNTRY_CHILE,
  VRG_COUNTRY_CHINA,
  VRG_COUNTRY_CROATIA,
  VRG_COUNTRY_CYPRUS,
  VRG_COUNTRY_CZECH,
  VRG_COUNTRY_DENMARK,
  VRG_COUNTRY_ETSI,
  VRG_COUNTRY_FINLAND,
  VRG_COUNTRY_FRANCE,
  VRG_COUNTRY_GERMANY,
  VRG_COUNTRY_HUNGARY,
  VRG_COUNTRY_INDIA,
  VRG_COUNTRY_ITALY,
  VRG_COUNTRY_JAPAN,  // 16
  VRG_COUNTRY_NETHERLANDS,
  VRG_COUNTRY_NEW_ZEALAND,
  VRG_COUNTRY_NORTH_AMERICA,
  VRG_COUNTRY_NORWAY,
  VRG_COUNTRY_SPAIN,
  VRG_COUNTRY_SWEDEN,
  VRG_COUNTRY_SWITZERLAND,
  VRG_COUNTRY_TAIWAN,
  VRG_COUNTRY_TR57,
  VRG_COUNTRY_UK,  // 26
  VRG_COUNTRY_MAX  // 27
};

struct ENDPT_INIT_CFG {
  VRG_COUNTRY country;
};

// ---------------------------------------------------------------------------------------------
// Status
// ---------------------------------------------------------------------------------------------

enum EPSTATUS : int32_t {
  EPSTATUS_SUCCESS = 0,
  EPSTATUS_ERROR = 1,
  EPSTATUS_ENDPT_UNKNOWN = 2,
  EPSTATUS_NOTREADY = 3,
  EPSTATUS_RESOURCES = 4,
  EPSTATUS_SIGNAL_UNKNOWN = 5,
  EPSTATUS_CNX_UNKNOWN = 6,
  EPSTATUS_UNSUPPORTED_MODE = 7,
  EPSTATUS_UNKNOWN_TYPE = 8,
  EPSTATUS_BUSY = 9,
  EPSTATUS_ONHOOK = 10,
  EPSTATUS_BAD_MODE = 11,
  EPSTATUS_SHUTDOWN_ERR = 12,
  EPSTATUS_PROV_FAILURE = 13,
  EPSTATUS_RESET_PENDING = 14,
};

// ---------------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------------

enum EPEVT : int32_t {
  EPEVT_NULL = 0,
  EPEVT_DTMF0,
  EPEVT_DTMF1,
  EPEVT_DTMF2,
  EPEVT_DTMF3,
  EPEVT_DTMF4,
  EPEVT_DTMF5,
  EPEVT_DTMF6,
  EPEVT_DTMF7,
  EPEVT_DTMF8,
  EPEVT_DTMF9,
  EPEVT_DTMFS,  // 11, the star key
  EPEVT_DTMFH,  // 12, the hash key
  EPEVT_DTMFA,
  EPEVT_DTMFB,
  EPEVT_DTMFC,
  EPEVT_DTMFD,  // 16
  EPEVT_OFFHOOK,  // 17
  EPEVT_ONHOOK,   // 18
  EPEVT_EARLY_OFFHOOK,
  EPEVT_EARLY_ONHOOK,
  EPEVT_FLASH,  // 21
  EPEVT_FAX,    // 22
  EPEVT_MODEM,  // 23
  EPEVT_LOWENERGY,
  EPEVT_DTMFL,  // 25
  EPEVT_MEDIA,  // 26
  EPEVT_TDD,
  EPEVT_T38_STOP,     // 28
  EPEVT_T38_FAILURE,  // 29
  EPEVT_RINGING_ON,   // 30
  EPEVT_RINGING_OFF,  // 31
  EPEVT_VBD_STOP,     // 32
  EPEVT_VBD_START,    // 33
  EPEVT_FSK_CLIDRX,   // 34
  EPEVT_DTMF_CLIDRX,  // 35
  EPEVT_OPCOMPLETE,   // 36
  EPEVT_CPTONETIMEOUT,  // 37
  EPEVT_RINGDET,      // 38
  EPEVT_RINGOFF,      // 39
  EPEVT_RINGEND,      // 40
  EPEVT_ENCODER_SWITCH,  // 41
  EPEVT_DECODER_SWITCH,  // 42
  EPEVT_DIALTONE,        // 43
  EPEVT_DIALTONE_END,    // 44
  EPEVT_DTMF_LEVEL,      // 45
  EPEVT_INGRESS_DTMF,    // 46
  EPEVT_CUSTOMTONE,      // 47
  EPEVT_CHATTER_LINE_BAD_DIGIT,          // 48
  EPEVT_CHATTER_LINE_EXCESSIVE_DIALING,  // 49
  EPEVT_CHATTER_LINE_PULSE_EVENT,        // 50
  EPEVT_V18,        // 51
  EPEVT_LT_RESULT,  // 52
  EPEVT_LAST        // 53
};

// Data of EPEVT_FSK_CLIDRX and EPEVT_DTMF_CLIDRX.
struct EPCLIDRX_DATA {
  char date[9];
  char number[21];
  char name[51];
  char reasonNoNumber;
  char reasonNoName;
};

// Codes of CAS events.
enum EPCAS_EVENT : int32_t {
  EPCAS_ONHOOK = 0,
  EPCAS_OFFHOOK = 1,
  EPCAS_FLASH = 2,
  EPCAS_RINGON = 3,
  EPCAS_RINGOFF = 4,
  EPCAS_RINGEND = 5,
  EPCAS_FIRST_RINGOFF = 6,
  EPCAS_VMWI_OSI_SENT = 7,
  EPCAS_EARLY_OFFHOOK = 8,
  EPCAS_EARLY_ONHOOK = 9,
  EPCAS_DELAY_OFFHOOK = 10,
  EPCAS_DELAY_ONHOOK = 11,
};

// ---------------------------------------------------------------------------------------------
// Signals applied by vrgEndptSignal
// ---------------------------------------------------------------------------------------------

enum EPSIG : int32_t {
  EPSIG_NULL = 0,
  EPSIG_BUSY,
  EPSIG_CONF,
  EPSIG_DIAL,
  EPSIG_MSGW,
  EPSIG_OHWARN,
  EPSIG_RINGING,  // 6
  EPSIG_RING0,    // 7
  EPSIG_RING1,
  EPSIG_RING2,
  EPSIG_RING3,
  EPSIG_RING4,
  EPSIG_RING5,
  EPSIG_RING6,
  EPSIG_RING7,           // 14
  EPSIG_CALLID_RINGING,  // 15
  EPSIG_CALLID_RING0,    // 16
  EPSIG_CALLID_RING1,
  EPSIG_CALLID_RING2,
  EPSIG_CALLID_RING3,
  EPSIG_CALLID_RING4,
  EPSIG_CALLID_RING5,
  EPSIG_CALLID_RING6,
  EPSIG_CALLID_RING7,  // 23
  EPSIG_REORDER,
  EPSIG_SPLASH,  // 25
  EPSIG_RINGBACK,
  EPSIG_STUTTER,
  EPSIG_INTRUSION,
  EPSIG_WARNING,
  EPSIG_DIAL2,
  EPSIG_CALLWT,  // 31
  EPSIG_CALLW1,
  EPSIG_CALLW2,
  EPSIG_CALLW3,
  EPSIG_CALLW4,
  EPSIG_SAS_CAS,  // 36
  EPSIG_SAS_CAS1,
  EPSIG_SAS_CAS2,
  EPSIG_SAS_CAS3,
  EPSIG_SAS_CAS4,
  EPSIG_VMWI,   // 41
  EPSIG_REV,    // 42
  EPSIG_DTMF0,  // 43
  EPSIG_DTMF1,
  EPSIG_DTMF2,
  EPSIG_DTMF3,
  EPSIG_DTMF4,
  EPSIG_DTMF5,
  EPSIG_DTMF6,
  EPSIG_DTMF7,
  EPSIG_DTMF8,
  EPSIG_DTMF9,  // 52
  EPSIG_DTMFS,
  EPSIG_DTMFH,
  EPSIG_DTMFA,
  EPSIG_DTMFB,
  EPSIG_DTMFC,
  EPSIG_DTMFD,   // 58
  EPSIG_CALLID,  // 59
  EPSIG_CALLCARD,
  EPSIG_NETBUSY,
  EPSIG_NETBUSY1,
  EPSIG_DISCONNECT,
  EPSIG_PAYPHONE_REC,
  EPSIG_OSI,  // 65
  EPSIG_PSTNCALLSETUP,
  EPSIG_PSTNCALLSETUP_CONNECTONLY,
  EPSIG_OFFHOOK,  // 68
  EPSIG_ONHOOK,
  EPSIG_ANSWER,
  EPSIG_ANALOG_LOOPBACK,
  EPSIG_LINE_RESET,
  EPSIG_DIAGTESTS_PROV_START,
  EPSIG_DIAGTESTS_NOPROV_START,
  EPSIG_DIAGTESTS_PC15_START,
  EPSIG_DIAGTESTS_CALIBRATE_START,
  EPSIG_UPDATE_DTMFPLAYOUT,  // 77
  EPSIG_TXGAIN,
  EPSIG_RXGAIN,
  EPSIG_RING_WITH_DC_OFFSET,
  EPSIG_BOOSTED_LOOP_CURRENT,
  EPSIG_ADMIN_STATUS,
  EPSIG_RING_WAVEFORM,
  EPSIG_RINGBACK_CUST1,
  EPSIG_SPECIAL_DIAL,
  EPSIG_SB_DISCONNECT,
  EPSIG_INGRESS_DTMF,
  EPSIG_LINE_MODE_CONTROL,
  EPSIG_FILL_INFO,
  EPSIG_INIT_RING,  // 90
  EPSIG_LOOP_CLOSE,
  EPSIG_LOOP_OPEN,
  EPSIG_ENABLE_METERING,
  EPSIG_METERING_BURST,
  EPSIG_NO_BATTERY,
  EPSIG_NORMAL_POLARITY,
  EPSIG_REDUCED_BATTERY,
  EPSIG_REVERSE_POLARITY,
  EPSIG_STEADY_FULL_BATTERY,
  EPSIG_STEADY_LOOP_CLOSE,
  EPSIG_STEADY_LOOP_OPEN,
  EPSIG_STEADY_NO_BATTERY,
  EPSIG_STEADY_NORMAL_POLARITY,
  EPSIG_STEADY_REDUCED_BATTERY,
  EPSIG_STEADY_REVERSED_POLARITY,  // 105
  // 128 numbered cadence rings; they carry only their numbers (BASE + n, n = 0..127).
  EPSIG_CADENCE_RING_BASE = 106,
  EPSIG_CADENCE_RING_MAX = 233,
  EPSIG_DAA_DISABLE = 234,
  EPSIG_DAA_ENABLE = 235,
  EPSIG_LAST = 236
};

// ---------------------------------------------------------------------------------------------
// Codecs
// ---------------------------------------------------------------------------------------------

enum CODEC_TYPE : int32_t {
  CODEC_NULL = 0,
  CODEC_PCMU,  // 1
  CODEC_PCMA,  // 2
  CODEC_G726_16,
  CODEC_G726_24,
  CODEC_G726_32,
  CODEC_G726_40,
  CODEC_G7231_53,  // 7
  CODEC_G7231_63,
  CODEC_G7231A_53,
  CODEC_G7231A_63,  // 10
  CODEC_G729A,      // 11
  CODEC_G729B,
  CODEC_G711_LINEAR,
  CODEC_G728,
  CODEC_G729,  // 15
  CODEC_G729E,
  CODEC_BV32,
  CODEC_NTE,      // 18
  CODEC_ILBC_20,  // 19
  CODEC_ILBC_30,
  CODEC_G7231_53_VAR,
  CODEC_G7231_63_VAR,
  CODEC_G7231_VAR,  // 23
  CODEC_T38,        // 24
  CODEC_T38_MUTE,   // 25
  CODEC_RED,        // 26
  CODEC_G722_MODE_1,
  CODEC_LINPCM64,
  CODEC_LINPCM128,
  CODEC_LINPCM256,
  CODEC_CLEARCHANNEL,  // 31
  CODEC_GSMAMR_12K,    // 32
  CODEC_GSMAMR_10K,
  CODEC_GSMAMR_795,
  CODEC_GSMAMR_740,
  CODEC_GSMAMR_670,
  CODEC_GSMAMR_590,
  CODEC_GSMAMR_515,
  CODEC_GSMAMR_475,
  CODEC_GSMAMR_OA_12K,  // 40
  CODEC_GSMAMR_OA_10K,
  CODEC_GSMAMR_OA_795,
  CODEC_GSMAMR_OA_740,
  CODEC_GSMAMR_OA_670,
  CODEC_GSMAMR_OA_590,
  CODEC_GSMAMR_OA_515,
  CODEC_GSMAMR_OA_475,
  CODEC_GSMEFR,  // 48
  CODEC_GSMFR,
  CODEC_GSMHR,
  CODEC_AMRWB_66,  // 51
  CODEC_AMRWB_885,
  CODEC_AMRWB_1265,
  CODEC_AMRWB_1425,
  CODEC_AMRWB_1585,
  CODEC_AMRWB_1825,
  CODEC_AMRWB_1985,
  CODEC_AMRWB_2305,
  CODEC_AMRWB_2385,
  CODEC_AMRWB_OA_66,  // 60
  CODEC_AMRWB_OA_885,
  CODEC_AMRWB_OA_1265,
  CODEC_AMRWB_OA_1425,
  CODEC_AMRWB_OA_1585,
  CODEC_AMRWB_OA_1825,
  CODEC_AMRWB_OA_1985,
  CODEC_AMRWB_OA_2305,
  CODEC_AMRWB_OA_2385,  // 68
  CODEC_OPUS_NB_5,      // 69
  CODEC_OPUS_NB_10,
  CODEC_OPUS_NB_20,
  CODEC_OPUS_NB_40,
  CODEC_OPUS_NB_60,
  CODEC_OPUS_WB_5,  // 74
  CODEC_OPUS_WB_10,
  CODEC_OPUS_WB_20,
  CODEC_OPUS_WB_40,
  CODEC_OPUS_WB_60,
  CODEC_ISAC_30,  // 79
  CODEC_ISAC_60,  // 80
  CODEC_MAX_TYPES,  // 81: the size of every per-codec array
  CODEC_UNKNOWN = 65534,
  CODEC_DYNAMIC = 65535
};

// Packet periods in milliseconds.
enum CODEC_PKT_PERIOD : int32_t {
  CODEC_PTIME_5 = 5,
  CODEC_PTIME_10 = 10,
  CODEC_PTIME_20 = 20,
  CODEC_PTIME_30 = 30,
  CODEC_PTIME_40 = 40,
  CODEC_PTIME_ANY = 65535
};

struct CODECOPT {
  CODEC_TYPE rfc2198Type;  // the codec carried as RFC 2198 redundancy
  uint8_t opt1;
  uint8_t opt2;
};

struct CODECDESC {
  CODEC_TYPE type;
  uint8_t rtpPayloadType;
  CODECOPT options;
};

struct CODECCNXLIST {
  CODECDESC codecs[CODEC_MAX_TYPES];
  int numCodecs;
  CODEC_PKT_PERIOD period[CODEC_MAX_TYPES];
  int numPeriods;
};

// The first entry of `send` is the connection's codec and packet period.
struct CODECCNXPARMLIST {
  CODECCNXLIST send;
  CODECCNXLIST recv;
};

// Static RTP payload types.
enum RTP_PAYLOAD_TYPE : int32_t {
  RTP_PAYLOAD_PCMU = 0,
  RTP_PAYLOAD_G726_32 = 2,
  RTP_PAYLOAD_GSM = 3,
  RTP_PAYLOAD_G723 = 4,
  RTP_PAYLOAD_PCMA = 8,
  RTP_PAYLOAD_G722 = 9,
  RTP_PAYLOAD_CNA = 13,
  RTP_PAYLOAD_G728 = 15,
  RTP_PAYLOAD_G729 = 18,
  RTP_PAYLOAD_CN = 19,
  RTP_PAYLOAD_INVALID = 255
};

// RFC 4733 named telephone event codes.
enum RTP_NTE : int32_t {
  RTP_NTE_DTMF0 = 0,
  RTP_NTE_DTMF1 = 1,
  RTP_NTE_DTMF2 = 2,
  RTP_NTE_DTMF3 = 3,
  RTP_NTE_DTMF4 = 4,
  RTP_NTE_DTMF5 = 5,
  RTP_NTE_DTMF6 = 6,
  RTP_NTE_DTMF7 = 7,
  RTP_NTE_DTMF8 = 8,
  RTP_NTE_DTMF9 = 9,
  RTP_NTE_DTMFS = 10,
  RTP_NTE_DTMFH = 11,
  RTP_NTE_DTMFA = 12,
  RTP_NTE_DTMFB = 13,
  RTP_NTE_DTMFC = 14,
  RTP_NTE_DTMFD = 15,
  RTP_NTE_RING = 144,
  RTP_NTE_RLCF = 148,
  RTP_NTE_ONHOOK = 149,
  RTP_NTE_RINGOFF = 149,
  RTP_NTE_OSI = 159,
  RTP_NTE_OFFHOOK = 159
};

// Named-event bits of nteCap and namedPhoneEvts.
enum CODEC_NTE_BITS : uint32_t {
  CODEC_NTE_RING = 0x1,
  CODEC_NTE_ONHOOK = 0x2,
  CODEC_NTE_OSI = 0x4,
  CODEC_NTE_DTMF0 = 0x8,
  CODEC_NTE_DTMF1 = 0x10,
  CODEC_NTE_DTMF2 = 0x20,
  CODEC_NTE_DTMF3 = 0x40,
  CODEC_NTE_DTMF4 = 0x80,
  CODEC_NTE_DTMF5 = 0x100,
  CODEC_NTE_DTMF6 = 0x200,
  CODEC_NTE_DTMF7 = 0x400,
  CODEC_NTE_DTMF8 = 0x800,
  CODEC_NTE_DTMF9 = 0x1000,
  CODEC_NTE_DTMFS = 0x2000,
  CODEC_NTE_DTMFH = 0x4000,
  CODEC_NTE_DTMFA = 0x8000,
  CODEC_NTE_DTMFB = 0x10000,
  CODEC_NTE_DTMFC = 0x20000,
  CODEC_NTE_DTMFD = 0x40000,
  CODEC_NTE_DTMF = 0x7FFF8,  // all digits
  CODEC_NTE_LCS = 0x7,       // the three line-signal events
};

enum CODEC_SUPPORT : int32_t {
  CODEC_UNSUPPORTED = 0,
  CODEC_SUPPORTED = 1,
};

// ---------------------------------------------------------------------------------------------
// Connections
// ---------------------------------------------------------------------------------------------

enum EPCNXMODE : int32_t {
  EPCNXMODE_SNDO = 0,   // send only
  EPCNXMODE_RCVO = 1,   // receive only
  EPCNXMODE_SNDRX = 2,  // send and receive
  EPCNXMODE_CONF = 3,
  EPCNXMODE_INACT = 4,
  EPCNXMODE_LOOP = 5,
  EPCNXMODE_TEST = 6,
  EPCNXMODE_REPLCATE = 7,
  EPCNXMODE_TRANSCODE = 8,
  EPCNXMODE_MAX = 9
};

enum EPDATAMODE : int32_t {
  EPDATAMODE_NONE = 0,
  EPDATAMODE_VBD = 1,
  EPDATAMODE_T38 = 2,
  EPDATAMODE_T38_MUTE = 3
};

enum EPAUTOENC : int32_t { EPAUTOENC_OFF = 0, EPAUTOENC_ON = 1 };

enum EPT38ECMODE : int32_t { EPT38EC_NONE = 0, EPT38EC_UDPREDUNDANCY = 1 };

struct EPZT38PARAM {
  EPT38ECMODE ecMode;
  uint32_t maxRemDgrm;
  uint32_t maxBitRate;
  uint32_t numFaxPagesTx;
  uint32_t numFaxPagesRx;
  uint16_t keepAliveInterval;
};

enum EPRTCPXRMODE : int32_t {
  EPRTCPXRMODE_UNSET = 0,
  EPRTCPXRMODE_ON = 1,
  EPRTCPXRMODE_OFF = 2,
  EPRTCPXRMODE_NEGOTIATE = 3
};

enum EPVBDMODE : int32_t {
  EPVBDMODE_NONE = 0,
  EPVBDMODE_LEGACY = 1,
  EPVBDMODE_V152 = 2,
  EPVBDMODE_MAX = 2
};

enum EPVBDREDMODE : int32_t { EPVBDRED_OFF = 0, EPVBDRED_ON = 1 };

struct EPZVBDPARAM {
  EPVBDMODE vbdMode;
  EPVBDREDMODE vbdRedMode;
};

enum EPDTMFRFC2833CONFIG : int32_t {
  EPDTMFRFC2833_ENABLED = 0,
  EPDTMFRFC2833_DISABLED = 1,
  EPDTMFRFC2833_SUBTRACT = 2
};

struct EPAMRCFG {
  uint16_t modeSet;
  int modeChangeNeighbor;
  int modeChangePeriod;
  uint16_t ptime;
  uint16_t red;
};

enum EPTRTPLOOPBACK_MODE : int32_t {
  eEPTRTPLOOPBACK_MODE_DISABLE = 0,
  eEPTRTPLOOPBACK_MODE_DIRECT = 1,
  eEPTRTPLOOPBACK_MODE_ENCAPSULATED = 2
};

struct EPTRTPLOOPBACKPARM {
  EPTRTPLOOPBACK_MODE eMode;
  int bMirror;
  int bStart;
  uint16_t uPayloadType;
};

// The parameters of a connection.
struct EPZCNXPARAM {
  EPCNXMODE mode;
  CODECCNXPARMLIST cnxParmList;
  uint32_t namedPhoneEvts;  // CODEC_NTE_* bits
  uint16_t echocancel;      // on/off
  uint16_t silence;         // on/off
  uint16_t comfortNoise;    // on/off
  uint16_t preserveFaxMode; // on/off
  uint16_t secHdrSize;
  EPDATAMODE dataMode;
  EPAUTOENC autoEncoder;
  EPZT38PARAM t38param;
  EPRTCPXRMODE rtcpXRMode;
  EPZVBDPARAM vbdparam;
  EPDTMFRFC2833CONFIG digitRelayType;
  uint32_t localSsrc;  // 0 for none
  uint16_t rtcpIntMs;  // RTCP interval in ms, 0 for the default
  int rtcpRandomInt;
  EPAMRCFG amrConfig;
  int16_t rxVolume;  // dB
  int16_t txVolume;  // dB
  uint16_t V18Support;
  EPTRTPLOOPBACKPARM lbParam;
};

// ---------------------------------------------------------------------------------------------
// Packets
// ---------------------------------------------------------------------------------------------

enum EPMEDIATYPE : int32_t {
  EPMEDIATYPE_INVALID = -1,
  EPMEDIATYPE_RTP = 0,
  EPMEDIATYPE_RTCP = 1,
  EPMEDIATYPE_T38 = 2
};

// A packet crossing the endpoint API. The bytes are owned by whoever hands the packet over; the
// receiver copies what it keeps.
struct EPPACKET {
  EPMEDIATYPE mediaType;
  uint8_t* packetp;
};

// ---------------------------------------------------------------------------------------------
// Capabilities
// ---------------------------------------------------------------------------------------------

enum EPCLIDTYPE : int32_t { EPCLIDTYPE_FSK = 1, EPCLIDTYPE_DTMF = 2 };

struct EPZCAP {
  // Packetisation: bit 15 of the first word says that its low 15 bits are the shortest period;
  // the second word is the longest period (ms).
  uint16_t pCap[2];
  uint8_t codecCap[CODEC_MAX_TYPES];  // CODEC_SUPPORTED / CODEC_UNSUPPORTED per CODEC_TYPE
  uint32_t nteCap;                    // CODEC_NTE_* bits
  uint16_t eCap;                      // echo cancelling
  uint16_t sCap;                      // silence suppression
  int mCap[16];                       // connection modes
  EPTYPE endptType;
  EPCLIDTYPE clidType;
  uint8_t clidData[2];
  uint8_t vbdCap;
  uint8_t redLvl;  // RFC 2198 redundancy level
};

// ---------------------------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------------------------

// The RFC 3611 VoIP metrics block.
struct EPVOIPMETRICS {
  uint32_t uSSRCOfSource;
  uint8_t uLossRate;
  uint8_t uDiscardRate;
  uint8_t uBurstDensity;
  uint8_t uGapDensity;
  uint16_t uBurstDuration;
  uint16_t uGapDuration;
  uint16_t uRoundTripDelay;
  uint16_t uEndSystemDelay;
  int8_t sSignalLevel;
  int8_t sNoiseLevel;
  int8_t sRERL;
  uint8_t uGMin;
  uint8_t uRFactor;
  uint8_t uExtRFactor;
  uint8_t uMOSLQ;
  uint8_t uMOSCQ;
  uint8_t uPLC;
  uint8_t uJbAdaptive;
  uint8_t uJbRate;
  uint16_t uJbNominal;
  uint16_t uJbMax;
  uint16_t uJbAbsMax;
};

struct EPZCNXSTATS {
  uint32_t txpkts;
  uint32_t txbytes;
  uint32_t rxpkts;
  uint32_t rxbytes;
  int32_t lost;
  uint32_t discarded;
  uint32_t txRtcpPkts;
  uint32_t rxRtcpPkts;
  uint16_t txRtcpXrPkts;
  uint16_t rxRtcpXrPkts;
  uint16_t overRuns;
  uint16_t underRuns;
  uint32_t jitter;
  uint16_t peakJitter;
  uint16_t jbMin;
  uint16_t jbAvg;
  uint16_t jbMax;
  uint32_t latency;
  uint16_t peakLatency;
  uint16_t MOSLQ;
  uint16_t MOSCQ;
  uint32_t localSSRC;
  uint32_t remoteSSRC;
  int bLocalCollected;
  int bRemoteCollected;
  EPVOIPMETRICS localVoipMetrics;
  EPVOIPMETRICS remoteVoipMetrics;
};

struct EPZT38CNXSTATS {
  uint32_t txpg;  // fax pages sent
  uint32_t rxpg;  // fax pages received
};

// ---------------------------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------------------------

// Console command codes, numbered consecutively from 255.
enum EPCONSOLECMD : int32_t {
  EPCMD_DSP_MIPS = 255,
  EPCMD_PRINT_VHDS,
  EPCMD_ENDPTVHD_STATS,
  EPCMD_PVE_STATE_FROM_CNX,
  EPCMD_VHD_STATS,
  EPCMD_VHD_STATS_FROM_CNX,  // 260
  EPCMD_RTP_STATS,
  EPCMD_VHD_JBREGS,
  EPCMD_FAXR_STATS,
  EPCMD_FAXR_STATS_FROM_ENDPT,
  EPCMD_IPC_STATS,
  EPCMD_IPC_STATS_FROM_ENDPT,
  EPCMD_DSP_BUFFERS,
  EPCMD_DSP_GETCNT,
  EPCMD_DSP_FORCEASSERT,
  EPCMD_DSP_CHECKASSERT,  // 270
  EPCMD_DSP_GETREGS,
  EPCMD_DSP_READDMEM,
  EPCMD_APM_STATUS,
  EPCMD_PWRMGMT_VPM,
  EPCMD_PWRMGMT_AFE,
  EPCMD_TR57_ENABLE,
  EPCMD_VHD_LOOPBACK_ENABLE,
  EPCMD_READ_HOOK_STATE,
  EPCMD_SET_SLIC_STATE,
  EPCMD_MEDIA_Q_START,  // 280
  EPCMD_MEDIA_Q_DUMP,
  EPCMD_MEDIA_Q_SET_SKIP_NUM,
  EPCMD_PRINT_DSP_CAPABILITIES,
  EPCMD_DSP_STACK_SHOW,
  EPCMD_HAPINET_CONFIG_SETREG,
  EPCMD_DSP_ICP_CALIBRATE,
  EPCMD_DSP_ICP_START,
  EPCMD_DSP_DPR_START,
  EPCMD_DSP_ICP_STOP,
  EPCMD_CONFIGURE_NETWTEST,  // 290
  EPCMD_SET_ECAN_STATE,
  EPCMD_HEC_BURST_ENABLE,
  EPCMD_HEC_NOISE_ENABLE,
  EPCMD_HEC_DEFAULT,
  EPCMD_HEC_GET_STATE,
  EPCMD_HEC_DBG_SET,
  EPCMD_HEC_RESET,
  EPCMD_HEC_RESET_COEF,
  EPCMD_CASEVT_GENERATE,
  EPCMD_TONEEVT_GENERATE,  // 300
  EPCMD_INDTMF_GENERATE,
  EPCMD_CONNECTSB,
  EPCMD_INGRESSGAIN_SET,
  EPCMD_EGRESSGAIN_SET,
  EPCMD_CNX_INGRESSGAIN_SET,
  EPCMD_CNX_EGRESSGAIN_SET,
  EPCMD_DECT_START_BUFF_PROC,
  EPCMD_DECT_STOP_BUFF_PROC,
  EPCMD_PBDT_START,
  EPCMD_PBDT_STOP,  // 310
  EPCMD_PBDT_POWER,
  EPCMD_LINE_TEST,
  EPCMD_RTCP_NTP_TS_UPDATE,
  EPCMD_PROVTABLE_SHOW,
  EPCMD_RESET_PROVTABLE,
  EPCMD_DECTTEST,
  EPCMD_HOSTASSERT,
  EPCMD_SET_AMR_CONFIG,
  EPCMD_G168_TEST,
  EPCMD_ISTW_STATE,  // 320
  EPCMD_MAX,  // 321
};

struct EPCMD_PARMS {
  uint32_t arg[8];
};

// ---------------------------------------------------------------------------------------------
// Callbacks registered with vrgEndptInit
// ---------------------------------------------------------------------------------------------

// cnxId is -1 when the event is not about a connection; value is -1 when it carries none.
typedef void (*endptEventCallback)(ENDPT_STATE* endptState, int cnxId, EPEVT event, void* data,
                                   int length, int value);
typedef void (*endptPacketCallback)(ENDPT_STATE* endptState, int cnxId, EPPACKET* epPacketp,
                                    int length);
typedef EPSTATUS (*endptGetProvCallback)(int line, EPPROV provItemId, void* provItemValue);
typedef EPSTATUS (*endptSetProvCallback)(int line, EPPROV provItemId, void* provItemValue,
                                         int length);
typedef void (*endptPacketReleaseCallback)(ENDPT_STATE* endptState, int cnxId,
                                           unsigned int bufDesc);
typedef void (*endptTaskShutdownCallback)(void);

// Bits of ENDPTZCONFIG::initState, set as the parts of the library start.
enum EPEINIT_STATE : uint32_t {
  EPEINIT_CAS = 0x1,
  EPEINIT_VRGDISP = 0x2,
  EPEINIT_HDSP = 0x4,
  EPEINIT_LHAPI = 0x8,
  EPEINIT_CNXVHD = 0x10,
  EPEINIT_CNXSTATE = 0x20,
};

// The library's one configuration record.
struct ENDPTZCONFIG {
  uint32_t initState;  // EPEINIT_* bits
  VRG_COUNTRY country;
  endptEventCallback notify;
  endptPacketCallback packet;
  endptGetProvCallback getProvision;
  endptSetProvCallback setProvision;
  endptPacketReleaseCallback packetRelease;
  int acPowerHBId;
  int ringing;
  int bGR303Support;
};

// ---------------------------------------------------------------------------------------------
// Values other code and peers depend on
// ---------------------------------------------------------------------------------------------

static_assert(sizeof(EPSTATUS) == 4 && sizeof(EPEVT) == 4 && sizeof(EPSIG) == 4 &&
              sizeof(CODEC_TYPE) == 4 && sizeof(VRG_COUNTRY) == 4 && sizeof(EPTYPE) == 4);
static_assert(sizeof(ENDPT_STATE) == 8);
static_assert(VRG_COUNTRY_JAPAN == 16 && VRG_COUNTRY_NORTH_AMERICA == 19 &&
              VRG_COUNTRY_UK == 26 && VRG_COUNTRY_MAX == 27);
static_assert(EPSTATUS_RESET_PENDING == 14);
static_assert(EPCMD_CASEVT_GENERATE == 299 && EPCMD_PROVTABLE_SHOW == 314 && EPCMD_MAX == 321);
static_assert(EPEVT_DTMFD == 16 && EPEVT_OFFHOOK == 17 && EPEVT_FLASH == 21 &&
              EPEVT_DTMFL == 25 && EPEVT_MEDIA == 26 && EPEVT_RINGING_ON == 30 &&
              EPEVT_FSK_CLIDRX == 34 && EPEVT_RINGDET == 38 && EPEVT_DIALTONE == 43 &&
              EPEVT_CUSTOMTONE == 47 && EPEVT_V18 == 51 && EPEVT_LT_RESULT == 52 &&
              EPEVT_LAST == 53);
static_assert(sizeof(EPCLIDRX_DATA) == 83);
static_assert(EPSIG_RINGING == 6 && EPSIG_RING7 == 14 && EPSIG_CALLID_RINGING == 15 &&
              EPSIG_CALLID_RING7 == 23 && EPSIG_SPLASH == 25 && EPSIG_CALLWT == 31 &&
              EPSIG_SAS_CAS == 36 && EPSIG_VMWI == 41 && EPSIG_REV == 42 &&
              EPSIG_DTMF0 == 43 && EPSIG_DTMF9 == 52 && EPSIG_DTMFD == 58 &&
              EPSIG_CALLID == 59 && EPSIG_OSI == 65 && EPSIG_OFFHOOK == 68 &&
              EPSIG_UPDATE_DTMFPLAYOUT == 77 && EPSIG_INIT_RING == 90 &&
              EPSIG_STEADY_REVERSED_POLARITY == 105);
static_assert(EPSIG_CADENCE_RING_MAX - EPSIG_CADENCE_RING_BASE + 1 == 128);
static_assert(EPSIG_STEADY_REVERSED_POLARITY + 1 == EPSIG_CADENCE_RING_BASE);
static_assert(CODEC_PCMA == 2 && CODEC_G7231_53 == 7 && CODEC_G7231A_63 == 10 &&
              CODEC_G729A == 11 && CODEC_G729 == 15 && CODEC_NTE == 18 &&
              CODEC_ILBC_20 == 19 && CODEC_G7231_VAR == 23 && CODEC_T38 == 24 &&
              CODEC_RED == 26 && CODEC_CLEARCHANNEL == 31 && CODEC_GSMAMR_12K == 32 &&
              CODEC_GSMAMR_OA_12K == 40 && CODEC_GSMEFR == 48 && CODEC_AMRWB_66 == 51 &&
              CODEC_AMRWB_OA_66 == 60 && CODEC_AMRWB_OA_2385 == 68 &&
              CODEC_OPUS_NB_5 == 69 && CODEC_OPUS_WB_5 == 74 && CODEC_ISAC_30 == 79 &&
              CODEC_ISAC_60 == 80 && CODEC_MAX_TYPES == 81);
static_assert(CODEC_NTE_DTMFD == 0x40000 && CODEC_NTE_DTMF == 0x7FFF8);
static_assert((CODEC_NTE_DTMF0 | CODEC_NTE_DTMF1 | CODEC_NTE_DTMF2 | CODEC_NTE_DTMF3 |
               CODEC_NTE_DTMF4 | CODEC_NTE_DTMF5 | CODEC_NTE_DTMF6 | CODEC_NTE_DTMF7 |
               CODEC_NTE_DTMF8 | CODEC_NTE_DTMF9 | CODEC_NTE_DTMFS | CODEC_NTE_DTMFH |
               CODEC_NTE_DTMFA | CODEC_NTE_DTMFB | CODEC_NTE_DTMFC | CODEC_NTE_DTMFD) ==
              CODEC_NTE_DTMF);
static_assert((CODEC_NTE_RING | CODEC_NTE_ONHOOK | CODEC_NTE_OSI) == CODEC_NTE_LCS);
