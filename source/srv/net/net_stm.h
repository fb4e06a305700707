// The channel's mode state machine: one constant table of rows per state, an engine that looks an
// event up in the current state's table, and the actions that rows run.
#pragma once

#include <cstdint>

struct HSZNETLOCLMEM;

using NET_EVT = int32_t;
enum : NET_EVT {
  e_endStm = -2,
  e_null = -1,
  e_default = 0,
  e_goIdleCmd = 1,
  e_goCallSetupCmd = 2,
  e_goVoiceCmd = 3,
  e_goVbandCmd = 4,
  e_goFaxRelayCmd = 5,
  e_phaseReversalEvt = 6,
  e_ledG168Evt = 7,
  e_extLowEnergyEvt = 8,
  e_ingressCngEvt_goVband = 9,
  e_ingressCngEvt_goFaxr = 10,
  e_egressCngEvt_goVband = 11,
  e_egressCngEvt_goFaxr = 12,
  e_modemEvt = 13,
  e_hdlcDetEnableCmd = 14,
  e_hdlcDetDisableCmd = 15,
  e_hdlcEvt_goFaxr = 16,
  e_hdlcEvt_goVband = 17,
  e_egressT38Rcvd = 18,
  e_voiceEvt = 19,
  e_faxrCallEndEvt = 20,
  e_t38ShutdownEvt_goVoice = 21,
  e_rtpVoiceDetect_goVoice = 22,
  e_rtpVbandDetect_goVband = 23,
  e_lastEvent = 32767,
};

// An action gets the NET instance and an argument: the row being run for the stack-switch
// actions (which hand the row's second action to the framework), none otherwise. Actions have the
// form of the framework's stack-switch callback, so a mode action is handed over as it is.
using NET_ACTION = void (*)(void* srvp, void* arg);

struct NET_ROW {
  NET_EVT event;
  const NET_ROW* next_statep;
  NET_ACTION actions[2];
};

struct NET_STATE_ENTRY {
  uint16_t stackId;
  const NET_ROW* table;
};
constexpr unsigned NET_NUM_STATES = 5;
extern const NET_STATE_ENTRY net_state_array[NET_NUM_STATES];

extern const NET_ROW s_idle[];
extern const NET_ROW s_callSetup[];
extern const NET_ROW s_voice[];
extern const NET_ROW s_vband[];
extern const NET_ROW s_faxRelay[];
extern const NET_ROW s_defaultProc[];

// ---- engine ----
void net_stateMachineInit(HSZNETLOCLMEM* net);
// Looks the event up in the default table, then in the current state's; 1 when a row matched.
int net_procEvent(NET_EVT event, HSZNETLOCLMEM* net);
int procEvent(const NET_ROW* table, NET_EVT event, HSZNETLOCLMEM* net);
void execActions(const NET_ROW* row, HSZNETLOCLMEM* net);
// The default table's actions (heartbeat, statistics), run by both blocks every frame.
void net_defaultActions(HSZNETLOCLMEM* net);
// The table of the state that stands for a mode (none for a value that is not a mode).
const NET_ROW* net_stateOfMode(uint16_t mode);

// ---- stack switching ----
void sendStackSwitch(void* srvp, void* row);
void sendStackSwitchConditional(void* srvp, void* row);

// ---- mode actions (run once the channel runs the new state's stack) ----
void goIdleOn(void* srvp, void* arg);
void goCallSetupOn(void* srvp, void* arg);
void goVoiceOn(void* srvp, void* arg);
void goVbandOn(void* srvp, void* arg);
void gofromVoice_VbandOn(void* srvp, void* arg);
void gofromVband_VoiceOn(void* srvp, void* arg);
void goFaxrOn(void* srvp, void* arg);

// ---- other actions ----
void bypassEcan(void* srvp, void* arg);
void unbypassEcan(void* srvp, void* arg);
void enableHdlcDet(void* srvp, void* arg);
void disableHdlcDet(void* srvp, void* arg);
void t38StartShutdown(void* srvp, void* arg);
void heartBeat(void* srvp, void* arg);
void statsUpdate(void* srvp, void* arg);
