// Events that reach the NET service from the channel's services: detections that change the mode,
// the codec's voice-rate reports and statistics, the fax services' reports and the framework's
// stack-switch completion. Unless stated otherwise, an event goes on to the host unchanged.
#include <cstring>

#include "lhapi.h"
#include "net_codes.h"
#include "net_internal.h"

namespace netsrv {
namespace {

void forward(const HSFMSG* msg) { hsfObdSend(msg); }

bool hasOption(const HSZNETLOCLMEM* net, uint16_t option) {
  return (net->hsxnetregs.hsxNetOptions & option) != 0;
}

// A V.18 detection switches to voiceband data when the mask has the bit of its kind (0 ASCII,
// 1 Baudot, 2 preamble).
bool v18Switches(const HSZNETLOCLMEM* net, uint16_t kind) {
  return kind <= 2 && (net->autoswitchMask & (1u << kind)) != 0;
}

// Copies a statistics or state record from an extended event; false when the event is too short
// to hold it.
bool copyRecord(const HSFMSG* msg, void* record, size_t size) {
  if (HAPI_OPCODE_IS_STD(msg->ext.header) || msg->ext.bufp == nullptr || msg->ext.length < size) {
    return false;
  }
  std::memcpy(record, msg->ext.bufp, size);
  return true;
}

void egressDetect(HSZNETLOCLMEM* net, uint16_t bits, uint16_t kind) {
  if (bits & HAPI_CDIS_DETECT_CNG) {
    if (!hasOption(net, HSNET_NET_OPTION_IGNORE_CNG_EGR_EVT)) {
      if (hasOption(net, HSNET_NET_OPTION_FAXRELAY)) {
        net->faxRelayStartMode = 0;
        net_procEvent(e_egressCngEvt_goFaxr, net);
      } else {
        net_procEvent(e_egressCngEvt_goVband, net);
      }
    }
  } else if (bits & (HAPI_CDIS_DETECT_PHASE_REVERSAL | HAPI_CDIS_DETECT_FALSE_ANSWER |
                     HAPI_CDIS_DETECT_EARLY_ANSWER | HAPI_CDIS_DETECT_MACHINE)) {
    net_procEvent(e_modemEvt, net);
  } else if ((bits & HAPI_CDIS_DETECT_V18) && v18Switches(net, kind)) {
    net_procEvent(e_modemEvt, net);
  }
  if (bits & HAPI_CDIS_DETECT_PHASE_REVERSAL) net_procEvent(e_phaseReversalEvt, net);
  if (bits & HAPI_CDIS_DETECT_LOW_ENERGY) net_procEvent(e_ledG168Evt, net);
}

void ingressDetect(HSZNETLOCLMEM* net, uint16_t bits, uint16_t kind) {
  if (bits & HAPI_CDIS_DETECT_CNG) {
    if (!hasOption(net, HSNET_NET_OPTION_IGNORE_CNG_ING_EVT)) {
      if (hasOption(net, HSNET_NET_OPTION_FAXRELAY)) {
        net->faxRelayStartMode = 3;
        net_procEvent(e_ingressCngEvt_goFaxr, net);
      } else {
        net_procEvent(e_ingressCngEvt_goVband, net);
      }
    }
  } else if (bits & (HAPI_CDIS_DETECT_PHASE_REVERSAL | HAPI_CDIS_DETECT_MACHINE)) {
    net_procEvent(e_modemEvt, net);
  } else if ((bits & (HAPI_CDIS_DETECT_EARLY_ANSWER | HAPI_CDIS_DETECT_FALSE_ANSWER)) == 0 &&
             (bits & HAPI_CDIS_DETECT_V18) && v18Switches(net, kind)) {
    net_procEvent(e_modemEvt, net);
  }
  if (bits & HAPI_CDIS_DETECT_PHASE_REVERSAL) net_procEvent(e_phaseReversalEvt, net);
  if (bits & HAPI_CDIS_DETECT_LOW_ENERGY) net_procEvent(e_ledG168Evt, net);
  if (bits & HAPI_CDIS_DETECT_EXT_LOW_ENERGY) net_procEvent(e_extLowEnergyEvt, net);
  if ((bits & HAPI_CDIS_DETECT_SILENCE) && hasOption(net, HSNET_NET_OPTION_FAXRELAY)) {
    net_procEvent(e_hdlcDetEnableCmd, net);
  }
}

}  // namespace

void cdisEvent(HSZNETLOCLMEM* net, HSFMSG* msg) {
  const uint16_t bits = msg->std.op1;
  const uint16_t kind = msg->std.op2;
  switch (msg->std.header) {
    case HAPI_CDIS_HDLCDETECT_EVT:
      if (hasOption(net, HSNET_NET_OPTION_FAXRELAY)) {
        net->faxRelayStartMode = 2;
        net_procEvent(e_hdlcEvt_goFaxr, net);
      } else {
        net_procEvent(e_hdlcEvt_goVband, net);
      }
      break;
    case HAPI_CDIS_EGRESS_DETECT_EVT:
      egressDetect(net, bits, kind);
      break;
    case HAPI_CDIS_DETECT_EVT:
      ingressDetect(net, bits, kind);
      break;
    default:
      break;
  }
  forward(msg);
}

void pteEvent(HSZNETLOCLMEM*, HSFMSG* msg) { forward(msg); }

void codecEvent(HSZNETLOCLMEM* net, HSFMSG* msg) {
  const bool statsToHost = net->hsxnetregs.hsxStatsInterval != 0;
  switch (msg->std.header) {
    case HAPI_CODEC_VOICERATE_EVT:
      if (msg->std.op2 == 0) completeVoiceRate(net);  // the encoder's report
      break;
    case HAPI_CODEC_EXCEPTION_EVT:
      if (msg->std.op1 == HAPI_CODEC_EXCEPTION_ENC_UNAVAILABLE ||
          msg->std.op1 == HAPI_CODEC_EXCEPTION_INTERVAL_TOO_LONG) {
        completeVoiceRate(net);
      }
      break;
    case HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT:
      net_procEvent(e_rtpVoiceDetect_goVoice, net);
      break;
    case HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT:
      net_procEvent(e_rtpVbandDetect_goVband, net);
      break;
    case HAPI_CODEC_GETSTATS_EVT:
      if (copyRecord(msg, &net->hsxpvestats, sizeof(HAPI_PVE_STATS)) && statsToHost) {
        sendExt(HAPI_NET_VOICESTATS_EVT, sizeof(HAPI_PVE_STATS), &net->hsxpvestats);
      }
      return;
    case HAPI_CODEC_GETSTATE_EVT:
      if (copyRecord(msg, &net->hsxpvestate, sizeof(HAPI_PVE_STATE)) && statsToHost) {
        sendExt(HAPI_NET_VOICESTATE_EVT, sizeof(HAPI_PVE_STATE), &net->hsxpvestate);
      }
      return;
    default:
      break;
  }
  forward(msg);
}

void generalEvent(HSZNETLOCLMEM* net, HSFMSG* msg) {
  switch (msg->std.header) {
    case kFaxrCallEndEvt:
      sendExt(HAPI_NET_FAXSTATS_EVT, sizeof(HSZFAXRSTATS), &net->hsxfaxrstats);
      net_procEvent(e_faxrCallEndEvt, net);
      break;
    case kFaxrRateEvt:
      send(HAPI_NET_FAXRATE_EVT, msg->std.op1, 0);
      return;
    case kFaxrStatsEvt:
      if (copyRecord(msg, &net->hsxfaxrstats, sizeof(HSZFAXRSTATS)) &&
          net->hsxnetregs.hsxStatsInterval != 0) {
        sendExt(HAPI_NET_FAXSTATS_EVT, sizeof(HSZFAXRSTATS), &net->hsxfaxrstats);
      }
      return;
    case kT38ShutdownEvt:
      return;
    case kStackSwitchEvt:
      // With a voice-rate change still open, the mode change completes with it.
      if ((net->hsxstatus & HSNET_STATUS_SWITCHING) && !(net->hsxstatus & HSNET_STATUS_VOICERATE)) {
        completeModeChange(net);
      }
      return;
    default:
      break;
  }
  forward(msg);
}

}  // namespace netsrv
