// VHD instances: the framework's channels. A VHD is opened from a constant configuration (its
// archive), gets a socket and an ingress and an egress kernel thread, and runs its stack of
// services once per frame in each direction.
#pragma once

#include <cstdint>

#include "qrn/qrn.h"
#include "vhd_rest.h"

using QRN_ChannelType = uint16_t;
using QRN_ChannelLevel = uint16_t;

struct VHD_Archive {
  QRN_ChannelType archiveType;  // the VHD type
  QRN_ChannelLevel level;       // enters the thread priorities
  const QRN_SocketConfig* pSocketConfig;
};

constexpr uint16_t VHD_INSTANCE_MAGIC = 0x1234;
constexpr uint16_t VHD_NUM_INSTANCES = 25;
constexpr uint16_t VHD_FRAMESIZE_RESTORE = 4095;  // restores the size saved at suspension
constexpr uint16_t VHD_MODE_KEEP = 15;

struct VHD_Instance {
  uint16_t magic;
  QRN_Socket* socket;  // none when the slot is free
  const VHD_Archive* archive;
  VHD_Skipped skipped;    // runs skipped while resting; none while awake
  uint32_t restRuns[2];   // per direction: runs its services allow to skip, from the rest's start
  uint16_t restMode[2];   // per direction: the mode the rest started in
  // Per direction: the socket's activity and the switchboard's generation when the last skipped
  // run looked at the whole channel; while both stand, nothing has come that could wake it.
  uint32_t restActivity[2];
  uint32_t restSwbGeneration[2];
  VHD_RestlessMark restless;
  VHD_RestfulMark restful;
};

// A channel rests from its first skipped run until it catches up.
inline bool vhdResting(const VHD_Instance& slot) { return slot.skipped.ingress != 0 || slot.skipped.egress != 0; }

// The configuration table (the framework's own by default; see cfg/).
extern const VHD_Archive* VHD_gArchive;
extern uint16_t VHD_gNumArchives;
extern VHD_Instance VHD_gInstance[VHD_NUM_INSTANCES];
extern const uint16_t VHD_gNumInstances;
extern QRN_IbdCallback VHD_gIbdSend;
// Off: channels never rest (a test compares a rested channel with one that ran every frame).
extern bool VHD_gRestAllowed;

void VHD_Init(QRN_IbdCallback ibdSendCallback);
const VHD_Archive* VHD_FindArchive(uint16_t type);
VHD_Instance* VHD_GetInstance(QRN_Handle handle);
VHD_Instance* VHD_FindAvailableInstance();
uint16_t VHD_GetNumInstances();
int VHD_OpenInstance(QRN_Handle handle, uint16_t type);
void VHD_CloseInstance(QRN_Handle handle);
void VHD_SetFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode,
                             HAPI_DIRECTION direction);
void VHD_SetIngressFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode);
void VHD_SetEgressFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode);
int16_t* VHD_CalcHighBandMedqPtr(int16_t* lowBand, uint16_t mediaSize, uint16_t frameSize,
                                 uint16_t history, uint16_t mode);
// Whether this run of the channel is skipped (and counted); when not, a resting channel first
// catches up. `historyBytes` is the direction's saved sample history.
bool vhdRestThisRun(VHD_Instance* slot, QRN_Socket* socket, HAPI_DIRECTION direction,
                    const QRN_HalfSocket* half, uint16_t historyBytes);
// The same answer for a channel already resting in `direction` when nothing has come for it since
// that direction last looked at the whole channel: true (and counted) when the run is skipped;
// false when the whole check must decide.
bool vhdRestAgain(VHD_Instance* slot, QRN_Socket* socket, HAPI_DIRECTION direction);
// Clears the rest of the running thread's media buffer: its frame size or mode changed during the
// run, so its services may now address more of it.
void vhdMediaClearRest();
void VHD_IngressThread(void* instance);
void VHD_EgressThread(void* instance);
// The kernel's quick runs of the two bodies: a run of a resting channel that rests on, whole; false
// for any other run, which the body then makes.
bool VHD_IngressRestingRun(void* instance);
bool VHD_EgressRestingRun(void* instance);
