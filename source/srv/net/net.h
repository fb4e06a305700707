// The NET service: root service of every packet channel. It keeps the master copies of the packet
// services' registers, answers the host's register, mode and statistics commands, turns detector
// events into mode changes and runs the channel's mode state machine.
#pragma once

#include <cstdint>

#include "faxr/faxr_regs.h"
#include "hsf/hsf.h"
#include "net_regs.h"
#include "net_stm.h"
#include "pte/pte_regs.h"
#include "pve_codec/pve_regs.h"
#include "qrn/qrn.h"
#include "rtp/rtp_regs.h"
#include "t38/t38_regs.h"

// hsxstatus bits.
enum : uint16_t {
  HSNET_STATUS_INGRESS_TIMERS = 0x1,  // the ingress block advances the timers
  HSNET_STATUS_EGRESS_TIMERS = 0x2,   // the egress block advances the timers
  HSNET_STATUS_SWITCHING = 0x4,       // a stack switch (mode change) is under way
  HSNET_STATUS_VOICERATE = 0x8,       // a set-voice-rate answer is pending
};

struct HSZNETLOCLMEM {
  void* srvp;  // the instance itself: the object that actions are called with
  uint16_t hsxstatus;
  uint16_t hsxHeartbeat;   // ms since the last heartbeat
  uint16_t hsxStatsTimer;  // ms since the last statistics request
  const NET_ROW* statep;   // first row of the current state's table
  uint16_t hsxmode;        // NETMODE_*
  HSZNETREGS hsxnetregs;
  HAPI_PVE_STATS hsxpvestats;
  HAPI_PVE_STATE hsxpvestate;
  uint16_t faxRelayStartMode;  // handed to the fax relay service when fax relay starts
  HSZFAXRSTATS hsxfaxrstats;
  QRN_SocketMsg* setnetmode_rsp;     // held answer of a set-mode command
  QRN_SocketMsg* setvoicerate_rsp;   // held answer of a set-voice-rate command
  uint16_t autoswitchMask;           // HAPI_NET_AUTOSWITCH_MASK_* bits
  HAPI_PTE_REGS hsxnetpteregs;
  HSZVOICEREGS hsxnetpveregs;
  HSZFAXRREGS hsxnetFaxrRegs;
  HAPI_T38_REGS hsxnetT38Regs;
  HAPI_RTP_REGS hsxnetRtpRegs;
  HAPI_RTP_REGS2 hsxnetRtpRegs2;
};

extern const HSFSRVARC netsrvarc;

// Entry points of the service record.
HAPIRESULT netMsg(HSFSRVOBJ srvp, HSFMSG* msg, HSFMSG* answer);
void netIngress(HSFSRVOBJ srvp);
void netEgress(HSFSRVOBJ srvp);
HAPIRESULT netinit(HSFSRVOBJ srvp);
void netexit(HSFSRVOBJ srvp);

// Commands (everything netMsg receives without the event bit).
HAPIRESULT netio(HSZNETLOCLMEM* net, HSFMSG* cmd, HSFMSG* answer);
