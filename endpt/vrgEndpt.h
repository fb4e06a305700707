// The functions through which the daemon reaches the endpoint library. Every call that changes
// endpoint or connection state runs on the library's dispatcher thread and returns its status;
// packets from the network and the provisioning pair run on the caller's thread.
#pragma once

#include <cstdarg>

#include "vrgEndptTypes.h"

EPSTATUS vrgEndptInit(ENDPT_INIT_CFG* endptInitCfg, endptEventCallback notifyCallback,
                      endptPacketCallback packetCallback,
                      endptGetProvCallback getProvisionCallback,
                      endptSetProvCallback setProvisionCallback,
                      endptPacketReleaseCallback packetReleaseCallback,
                      endptTaskShutdownCallback taskShutdownCallback);
EPSTATUS vrgEndptDeinit(void);

// Valid before vrgEndptInit.
int vrgEndptGetNumEndpoints(void);
int vrgEndptGetNumFxsEndpoints(void);
int vrgEndptGetNumFxoEndpoints(void);
int vrgEndptGetNumDectEndpoints(void);

EPSTATUS vrgEndptCreate(int physId, int lineId, ENDPT_STATE* endptState);
EPSTATUS vrgEndptDestroy(ENDPT_STATE* endptState);
EPSTATUS vrgEndptCapabilities(ENDPT_STATE* endptState, EPZCAP* capabilities);
EPSTATUS vrgEndptSignal(ENDPT_STATE* endptState, int cnxId, EPSIG signal, uintptr_t value,
                        int duration, int period, int repetition);
EPSTATUS vrgEndptCreateConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam);
EPSTATUS vrgEndptModifyConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam);
EPSTATUS vrgEndptDeleteConnection(ENDPT_STATE* endptState, int cnxId);
EPSTATUS vrgEndptMuteConnection(ENDPT_STATE* endptState, int cnxId, int mute);
EPSTATUS vrgEndptLinkInternal(ENDPT_STATE* endptState, ENDPT_STATE* otherEndptState, int link);
EPSTATUS vrgEndptGetRtpStats(ENDPT_STATE* endptState, int cnxId, EPZCNXSTATS* epRtpStats,
                             int bReset);
// Fax pages sent and received on a connection, totalled since it was created.
EPSTATUS vrgEndptGetT38Stats(ENDPT_STATE* endptState, int cnxId, EPZT38CNXSTATS* epT38Stats);
EPSTATUS vrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd,
                            EPCMD_PARMS* consoleCmdParams);
EPSTATUS vrgEndptPacket(ENDPT_STATE* endptState, int cnxId, EPPACKET* epPacket, int length,
                        unsigned int bufDesc);
EPSTATUS vrgEndptSendCasEvt(ENDPT_STATE* endptState, unsigned int casEvtType,
                            unsigned int casCtlEvt);
EPSTATUS vrgEndptResetBuildOut(int lineId, int vhdhdl);
uint16_t vrgEndptRetrievePlcSettings(CODEC_TYPE codec);

// Provisioning: reach the store directly and work before vrgEndptInit.
EPSTATUS vrgEndptProvGet(int line, EPPROV provItemId, void* provItemValue, int provItemLength);
EPSTATUS vrgEndptProvSet(int line, EPPROV provItemId, void* provItemValue, int provItemLength);

int vrgEndptPrintf(const char* format, va_list args);
int isEndptInitialized(void);
