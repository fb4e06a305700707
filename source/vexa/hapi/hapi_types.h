// Types and codes of the boundary between the host and the DSP framework: command and event
// records, result codes, service ids, device handles, opcode layout and the framework's error
// codes. Every part of the voice stack that talks to the framework uses these definitions.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- results ----
using HAPIRESULT = int;
constexpr HAPIRESULT HAPISUCCESS = 0;
constexpr HAPIRESULT HAPIFAILURE = -1;
constexpr HAPIRESULT HAPI_ERR_INVALID_REGS = 1;
constexpr HAPIRESULT HAPI_ERR_UNKNOWN_MESSAGE = 2;
constexpr HAPIRESULT HAPI_ERR_INVALID_CMD = 3;
constexpr HAPIRESULT HAPI_ERR_SRV_DISABLED = 4;
constexpr HAPIRESULT HAPI_ERR_SRV_BUSY = 5;
constexpr HAPIRESULT HAPI_RESPONSE_DELAYED = 6;

// ---- service ids (also the high byte of every command, event and message code) ----
using HAPISRVID = uint16_t;
using HSFSRVID = uint16_t;
enum : HAPISRVID {
  HAPI_HOST_SRV = 0x00,
  HAPI_CODEC_SRV = 0x02,
  HAPI_PVE_SRV = 0x03,
  HAPI_RTP_SRV = 0x06,
  HAPI_CDIS_SRV = 0x07,
  HAPI_CLIDTX_SRV = 0x08,
  HAPI_PTE_SRV = 0x09,
  HAPI_V21_SRV = 0x0D,
  HAPI_VFAX_SRV = 0x11,
  HAPI_FAXR_SRV = 0x12,
  HAPI_T38_SRV = 0x17,
  HAPI_CMTD_SRV = 0x1A,
  HAPI_PCM_SRV = 0x2E,
  HAPI_NET_SRV = 0x30,
  HAPI_CLIDRX_SRV = 0x34,
  HAPI_LINE_SRV = 0x36,
  HAPI_GAIN_SRV = 0x38,
  HAPI_CONF_TOS_SRV = 0x41,
  HAPI_CONF_BOS_SRV = 0x42,
  HAPI_HEC_SRV = 0x44,
  HAPI_DTAS_SRV = 0x45,
  HAPI_RM_SRV = 0x80,
  HAPI_ICP_SRV = 0x83,
  HAPI_DPR_SRV = 0x84,
  HAPI_SWB_SRV = 0x85,
  HAPI_HALSHIM_SRV = 0x86,
  HAPI_NO_RESP_SRV = 0xFF,
};

// ---- device handles ----
constexpr uint16_t HAPIVHD0 = 0x50;
constexpr uint16_t HAPIRESMAN = 0x30;
constexpr uint16_t HAPIVHD_HOST = 254;
constexpr uint16_t HAPIVHD_INVALID = 255;

// ---- VHD types ----
enum : uint16_t {
  HAPI_GATEWAY_VHD = 0,
  HAPI_PHONE_VHD = 1,
  HAPI_TONE_VHD = 2,
  HAPI_CONFERENCE_VHD = 3,
  HAPI_HALF_INGRESS_VHD = 4,
  HAPI_HALF_EGRESS_VHD = 5,
  HAPI_PSTN_VHD = 6,
  HAPI_LINE_ECAN_VHD = 7,
  HAPI_LINE_AEC_VHD = 8,
  HAPI_DATA_ACCESS_POINT = 9,
};

// ---- opcode layout ----
constexpr uint16_t HAPI_OPCODE_SRVID_MASK = 0xFF00;
constexpr uint16_t HAPI_OPCODE_STD_MASK = 0x0080;
constexpr uint16_t HAPI_OPCODE_EVT_MASK = 0x0040;
constexpr uint16_t HAPI_OPCODE_OPC_MASK = 0x003F;
constexpr uint16_t HAPI_CMD_BASE = 0x00;
constexpr uint16_t HAPI_EVT_BASE = 0x40;
constexpr uint16_t HAPI_GENERIC_CMD_BASE = 0x30;
constexpr uint16_t HAPI_GENERIC_EVT_BASE = 0x70;

constexpr uint16_t HSF_MKHDR(unsigned srvid, unsigned opcode) {
  return static_cast<uint16_t>((srvid << 8) + opcode);
}
constexpr uint16_t HSF_MKCMD_STD(unsigned srvid, unsigned n) { return 0x80 + HSF_MKHDR(srvid, n); }
constexpr uint16_t HSF_MKCMD_EXT(unsigned srvid, unsigned n) { return HSF_MKHDR(srvid, n); }
constexpr uint16_t HSF_MKEVT_STD(unsigned srvid, unsigned n) {
  return 0x80 + HSF_MKHDR(srvid, 0x40 + n);
}
constexpr uint16_t HSF_MKEVT_EXT(unsigned srvid, unsigned n) { return HSF_MKHDR(srvid, 0x40 + n); }
constexpr uint16_t HSF_MKRSP_STD(unsigned cmd) { return static_cast<uint16_t>(cmd | 0x80); }
constexpr uint16_t HSF_MKRSP_EXT(unsigned cmd) { return static_cast<uint16_t>(cmd & ~0x80u); }
constexpr bool HAPI_OPCODE_IS_STD(unsigned code) { return (code & HAPI_OPCODE_STD_MASK) != 0; }
constexpr bool HAPI_OPCODE_IS_EXT(unsigned code) { return (code & HAPI_OPCODE_STD_MASK) == 0; }
constexpr bool HAPI_OPCODE_IS_EVT(unsigned code) { return (code & HAPI_OPCODE_EVT_MASK) != 0; }
constexpr unsigned HAPI_OPCODE_GET_OPC(unsigned code) { return code & HAPI_OPCODE_OPC_MASK; }
constexpr unsigned HAPI_OPCODE_GET_SRVID(unsigned code) { return (code >> 8) & 0xFF; }

// ---- generic opcodes (low byte of the header) ----
enum : uint16_t {
  HAPI_OPC_GETREGS_RSP = 0x31,
  HAPI_OPC_SETREGS_CMD = 0x32,
  HAPI_OPC_RESETREGS_CMD = 0x33,
  HAPI_OPC_GETSTATS_RSP = 0x35,
  HAPI_OPC_GETSTATE_RSP = 0x36,
  HAPI_OPC_ENABLE_CMD = 0xB0,
  HAPI_OPC_GETREGS_CMD = 0xB1,
  HAPI_OPC_SETREG1_CMD = 0xB4,
  HAPI_OPC_GETSTATS_CMD = 0xB5,
  HAPI_OPC_GETSTATE_CMD = 0xB6,
  HAPI_OPC_REG_UPDATE_CMD = 0xB7,
  HAPI_OPC_RESET_STATS_CMD = 0xB8,
  HAPI_OPC_SYNC_UP_CMD = 0xB9,
  HAPI_OPC_STACK_SWITCH_CMD = 0xBA,
  HAPI_OPC_SYNC_UP_EVT = 0xF0,
  HAPI_OPC_STACK_SWITCH_EVT = 0xF1,
};

// ---- request ids ----
constexpr uint16_t HAPI_REQID_STD_CMD = 0xFF00;
constexpr uint16_t HAPI_REQID_EXT_CMD = 0xFE00;
constexpr uint16_t HAPI_REQID_STD_EVT = 0xFB00;
constexpr uint16_t HAPI_REQID_EXT_EVT = 0xFA00;

// Second operand: a 16-bit value or a pointer to the data of an extended command or event.
union HSUOP2 {
  uint16_t val;
  void* ref;
};

// A command to the DSP. hsxreqid 0xFF00: operands in hsxop1/hsxop2.val; 0xFE00: hsxop2.ref points
// at hsxop1 bytes of data.
struct HSZCMD {
  uint16_t hsxdevhdl;
  uint16_t hsxcmd;
  uint16_t hsxreqid;
  uint16_t hsxop1;
  HSUOP2 hsxop2;
};

// An event or response from the DSP. hsxreqid 0xFB00: standard event; 0xFA00: hsxop2.ref points at
// hsxop1 bytes that stay valid only during the callback.
struct HSZEVT {
  uint16_t hsxdevhdl;
  uint16_t hsxevt;
  uint16_t hsxreqid;
  uint16_t hsxop1;
  HSUOP2 hsxop2;
};

static_assert(offsetof(HSZCMD, hsxop2) == 8, "four 16-bit words precede the operand");
static_assert(sizeof(HSZCMD) == 8 + sizeof(void*), "HSZCMD: four words and a pointer-sized operand");
static_assert(sizeof(HSZEVT) == sizeof(HSZCMD), "HSZEVT has the layout of HSZCMD");

// Callback through which the host receives the events and responses of one device.
using HAPICALLBKP = void (*)(HSZEVT* eventp, uint16_t dspNum);

// ---- resource-manager commands and framework events ----
enum : uint16_t {
  HAPI_RM_OPEN_VHD_CMD = 0x8001,
  HAPI_RM_GET_DSP_BUFSTATS_CMD = 0x8004,
  HAPI_RM_GET_MEMSTATS_CMD = 0x8007,
  HAPI_RM_PULSE_SIGNAL_CMD = 0x8021,
  HAPI_RM_CLOSE_VHD_CMD = 0x8082,
  HAPI_RM_SET_FRAMESIZE_CMD = 0x8083,
  HAPI_RM_STACK_SWITCH_CMD = 0x8086,
  HAPI_RM_OPEN_HALPORT_CMD = 0x809A,
  HAPI_RM_PROC_ONOFF_CMD = 0x809C,
  HAPI_RM_ERROR_EVT = 0x80C0,
  HAPI_RM_DEBUG_EVT = 0x80C1,
  HAPI_RM_STACK_SWITCH_DONE_EVT = 0x80C2,
  HAPI_RM_KNL_OVERRUN_EVT = 0x80C3,
  HAPI_RM_HAL_UNDERRUN_EVT = 0x80C4,
};

// Error codes carried in op1 of event 0x80C0.
enum : uint16_t {
  HAPI_RM_ERR_UNKNOWN_VHD = 1,
  HAPI_RM_ERR_UNKNOWN_STACK = 2,
  HAPI_RM_ERR_UNKNOWN_SRV = 3,
  HAPI_RM_ERR_UNKNOWN_PXD = 4,
  HAPI_RM_ERR_UNKNOWN_DEV = 5,
  HAPI_RM_ERR_INVALID_HANDLE = 6,
  HAPI_RM_ERR_VHD_ALREADY_OPEN = 7,
  HAPI_RM_ERR_VHD_OPEN_FAILED = 8,
  HAPI_RM_ERR_SWB_FULL = 9,
  HAPI_RM_ERR_NO_SOCKET_MEM = 10,
  HAPI_RM_ERR_NO_MSG_MEM = 11,
  HAPI_RM_ERR_NO_DATA_MSG_MEM = 12,
  HAPI_RM_ERR_NO_MSG_EXT_MEM = 13,
  HAPI_RM_ERR_HHAPI_COMM_ERROR = 0x100,
  HAPI_RM_ERR_HHAPI_DSP_NOT_READY = 0x200,
  HAPI_RM_ERR_HHAPI_CBK_REG_FAIL = 0x300,
  HAPI_RM_ERR_HHAPI_BAD_CBK = 0x400,
  HAPI_RM_ERR_HHAPI_BAD_VHDHDL = 0x500,
  HAPI_RM_ERR_HHAPI_INVALID_REQID = 0x600,
  HAPI_RM_ERR_HHAPI_MSGQ_ERROR = 0x700,
  HAPI_RM_ERR_HHAPI_BAD_TX_MSG_LENGTH = 0x800,
  HAPI_RM_ERR_HHAPI_BAD_RX_MSG_LENGTH = 0x900,
  HAPI_RM_ERR_HHAPI_DSPNUM_INVALID = 0xA00,
  HAPI_RM_ERR_HHAPI_DSPNUM_UNAVAILABLE = 0xB00,
  HAPI_RM_ERR_HHAPI_TCB_NONE_FREE = 0xC00,
  HAPI_RM_ERR_HHAPI_MSQ_SEND = 0xD00,
  HAPI_RM_ERR_HHAPI_DSPWRITEERROR = 0xE00,
};

// Data block of the open request (0x8001).
struct HAPI_RM_OPEN_VHD_INFO {
  uint16_t usrHandle;
  uint16_t vhdType;
  uint16_t ipcInfo[3];
};
static_assert(sizeof(HAPI_RM_OPEN_VHD_INFO) == 10, "open request data is 10 bytes");

// Packet commands from the host that the framework turns into in-band data of a channel, and the
// events that carry a channel's outgoing packets to the host.
enum : uint16_t {
  HAPI_NET_EGRESSPACKET_CMD = 0x3001,
  HAPI_NET_EGRESSRTPPKT_CMD = 0x3021,
  HAPI_NET_EGRESSRTCPPKT_CMD = 0x3022,
  HAPI_T38_EGRESSPACKET_CMD = 0x1701,
  HAPI_NET_INGRESSPACKET_EVT = 0x3041,
  HAPI_NET_INGRESSRTPPKT_EVT = 0x304B,
  HAPI_NET_INGRESSRTCPPKT_EVT = 0x304C,
  HAPI_T38_INGRESSPACKET_EVT = 0x1741,
};

// Four 16-bit words in front of every packet between the DSP services and the host.
struct HAPI_PKT_HDR {
  uint16_t payloadID;
  uint16_t payloadLength;
  uint16_t payloadTimeStampHigh;
  uint16_t payloadTimeStampLow;
};
static_assert(sizeof(HAPI_PKT_HDR) == 8, "packet header is four words");
