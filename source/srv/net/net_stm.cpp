// The mode state machine's tables and engine, and the actions that switch the channel's stack.
#include "lhapi.h"
#include "net_internal.h"
#include "qrn/qrn.h"

namespace {
constexpr NET_ACTION kSwitch = sendStackSwitch;
constexpr NET_ACTION kCondSwitch = sendStackSwitchConditional;
constexpr NET_ROW kEnd = {e_null, nullptr, {nullptr, nullptr}};
}  // namespace

// Row 0 of each table is its header; the rows end at e_null.
const NET_ROW s_idle[] = {
    {e_default, s_idle, {nullptr, nullptr}},
    {e_goCallSetupCmd, s_callSetup, {kSwitch, goCallSetupOn}},
    {e_goVoiceCmd, s_voice, {kSwitch, goVoiceOn}},
    {e_goVbandCmd, s_vband, {kSwitch, goVbandOn}},
    {e_goFaxRelayCmd, s_faxRelay, {kSwitch, goFaxrOn}},
    kEnd,
};

const NET_ROW s_callSetup[] = {
    {e_default, s_callSetup, {nullptr, nullptr}},
    {e_goIdleCmd, s_idle, {kSwitch, goIdleOn}},
    {e_goVoiceCmd, s_voice, {kSwitch, goVoiceOn}},
    {e_goVbandCmd, s_vband, {kSwitch, goVbandOn}},
    {e_goFaxRelayCmd, s_faxRelay, {kSwitch, goFaxrOn}},
    kEnd,
};

const NET_ROW s_voice[] = {
    {e_default, s_voice, {nullptr, nullptr}},
    {e_ingressCngEvt_goVband, s_vband, {kCondSwitch, gofromVoice_VbandOn}},
    {e_ingressCngEvt_goFaxr, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_egressCngEvt_goVband, s_vband, {kCondSwitch, gofromVoice_VbandOn}},
    {e_egressCngEvt_goFaxr, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_modemEvt, s_vband, {kCondSwitch, gofromVoice_VbandOn}},
    {e_phaseReversalEvt, s_voice, {bypassEcan, nullptr}},
    {e_ledG168Evt, s_voice, {unbypassEcan, nullptr}},
    {e_hdlcEvt_goVband, s_vband, {kCondSwitch, gofromVoice_VbandOn}},
    {e_hdlcEvt_goFaxr, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_egressT38Rcvd, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_goCallSetupCmd, s_callSetup, {kSwitch, goCallSetupOn}},
    {e_goIdleCmd, s_idle, {kSwitch, goIdleOn}},
    {e_goVbandCmd, s_vband, {kSwitch, gofromVoice_VbandOn}},
    {e_goFaxRelayCmd, s_faxRelay, {kSwitch, goFaxrOn}},
    {e_rtpVbandDetect_goVband, s_vband, {kCondSwitch, gofromVoice_VbandOn}},
    kEnd,
};

const NET_ROW s_vband[] = {
    {e_default, s_vband, {nullptr, nullptr}},
    {e_phaseReversalEvt, s_vband, {bypassEcan, nullptr}},
    {e_ledG168Evt, s_vband, {unbypassEcan, nullptr}},
    {e_hdlcDetEnableCmd, s_vband, {enableHdlcDet, nullptr}},
    {e_hdlcDetDisableCmd, s_vband, {disableHdlcDet, nullptr}},
    {e_extLowEnergyEvt, s_voice, {kCondSwitch, gofromVband_VoiceOn}},
    {e_voiceEvt, s_voice, {kCondSwitch, gofromVband_VoiceOn}},
    {e_goCallSetupCmd, s_callSetup, {kSwitch, goCallSetupOn}},
    {e_hdlcEvt_goVband, s_vband, {nullptr, nullptr}},
    {e_hdlcEvt_goFaxr, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_egressT38Rcvd, s_faxRelay, {kCondSwitch, goFaxrOn}},
    {e_goFaxRelayCmd, s_faxRelay, {kSwitch, goFaxrOn}},
    {e_goIdleCmd, s_idle, {kSwitch, goIdleOn}},
    {e_goVoiceCmd, s_voice, {kSwitch, gofromVband_VoiceOn}},
    {e_goVbandCmd, s_vband, {nullptr, nullptr}},
    {e_rtpVoiceDetect_goVoice, s_voice, {kCondSwitch, gofromVband_VoiceOn}},
    kEnd,
};

const NET_ROW s_faxRelay[] = {
    {e_default, s_faxRelay, {nullptr, nullptr}},
    {e_faxrCallEndEvt, s_faxRelay, {t38StartShutdown, nullptr}},
    {e_t38ShutdownEvt_goVoice, s_voice, {kSwitch, goVoiceOn}},
    {e_goIdleCmd, s_idle, {kSwitch, goIdleOn}},
    {e_goCallSetupCmd, s_callSetup, {kSwitch, goCallSetupOn}},
    {e_goVoiceCmd, s_voice, {kSwitch, goVoiceOn}},
    {e_goVbandCmd, s_vband, {kSwitch, goVbandOn}},
    kEnd,
    {e_endStm, nullptr, {nullptr, nullptr}},
};

// Run every frame through its header; no event ever matches it.
const NET_ROW s_defaultProc[] = {
    {e_default, s_defaultProc, {heartBeat, statsUpdate}},
    kEnd,
};

const NET_STATE_ENTRY net_state_array[NET_NUM_STATES] = {
    {1, s_idle}, {1, s_callSetup}, {1, s_voice}, {1, s_vband}, {2, s_faxRelay},
};

const NET_ROW* net_stateOfMode(uint16_t mode) {
  switch (mode) {
    case NETMODE_IDLE:
      return s_idle;
    case NETMODE_CALLSETUP:
      return s_callSetup;
    case NETMODE_PACKETVOICE:
      return s_voice;
    case NETMODE_FAXRELAY:
      return s_faxRelay;
    case NETMODE_VOICEBANDDATA:
      return s_vband;
    default:
      return nullptr;
  }
}

void net_stateMachineInit(HSZNETLOCLMEM* net) { net->statep = s_idle; }

int procEvent(const NET_ROW* table, NET_EVT event, HSZNETLOCLMEM* net) {
  for (const NET_ROW* row = table + 1; row->event > 0; ++row) {
    if (row->event != event) continue;
    net->statep = row->next_statep;  // the state changes before any action runs
    execActions(row, net);
    return 1;
  }
  return 0;
}

int net_procEvent(NET_EVT event, HSZNETLOCLMEM* net) {
  if (procEvent(s_defaultProc, event, net)) return 1;
  if (net->statep == nullptr) {
    LHAPI_ASSERT_FAIL();
    net->statep = s_idle;
  }
  return procEvent(net->statep, event, net);
}

void execActions(const NET_ROW* row, HSZNETLOCLMEM* net) {
  const NET_ACTION first = row->actions[0];
  if (first == nullptr) return;
  if (first == kSwitch || first == kCondSwitch) {
    // One switch at a time; the second action is the framework's to run after the switch.
    if (net->hsxstatus & HSNET_STATUS_SWITCHING) return;
    first(net->srvp, const_cast<NET_ROW*>(row));
    return;
  }
  first(net->srvp, nullptr);
  if (row->actions[1] != nullptr) row->actions[1](net->srvp, nullptr);
}

void net_defaultActions(HSZNETLOCLMEM* net) { execActions(&s_defaultProc[0], net); }

void sendStackSwitch(void* srvp, void* rowArg) {
  HSZNETLOCLMEM* net = netsrv::instanceOf(srvp);
  const auto* row = static_cast<const NET_ROW*>(rowArg);
  const NET_STATE_ENTRY* entry = nullptr;
  for (const NET_STATE_ENTRY& e : net_state_array) {
    if (e.table == net->statep) entry = &e;
  }
  if (entry == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  // A channel without that stack (the conference channel runs the voice stack only) cannot take
  // the mode: the switch would never complete and the channel would stop. Stay in the state of the
  // mode the channel is in.
  if (QRN_FindStackArchiveById(QRN_CurrentSocket(), entry->stackId) == nullptr) {
    LHAPI_ASSERT_FAIL();
    net->statep = net_stateOfMode(net->hsxmode);
    return;
  }
  hsfStackSwitch(entry->stackId, row != nullptr ? row->actions[1] : nullptr);
  net->hsxstatus |= HSNET_STATUS_SWITCHING;
}

void sendStackSwitchConditional(void* srvp, void* row) {
  const HSZNETLOCLMEM* net = netsrv::instanceOf(srvp);
  if (net->hsxnetregs.hsxNetOptions & HSNET_NET_OPTION_VBD_FAXR_AUTO_SWITCH_DISABLE) return;
  sendStackSwitch(srvp, row);
}
