// Sockets, services and messages: the run-time body of a VHD (its stack of services, their
// instance memory, the queues between them and towards the host, and its two half-sockets), the
// pooled framework message, routing, message processing and stack switching.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hapi/hapi_types.h"
#include "hsf/hsf.h"
#include "knl/knl.h"
#include "mem/mem.h"

// ---- the framework message ----
using QRN_Handle = uint16_t;
using QRN_MsgFlags = uint32_t;
enum : QRN_MsgFlags {
  QRN_MsgFlagBufNeedsFree = 0x1,       // bufp is a framework extended-data block of this message
  QRN_MsgFlagResponse = 0x2,
  QRN_MsgFlagGenResponse = 0x4,        // a response is wanted even on success
  QRN_MsgFlagOutsideOrigin = 0x8,
  QRN_MsgFlagObd = 0x10,               // addressed: id holds sender and target
  QRN_MsgFlagIbdIngress = 0x20,
  QRN_MsgFlagIbdEgress = 0x40,
  QRN_MsgFlagHostMsg = 0x80,           // came from the host: goes to the host queues first
  QRN_MsgFlagExtDataWithSrcHeader = 0x100,
  QRN_MsgFlagResultMask = 0xFE00,      // result code of a response, bits 9-15
};

struct QRN_MsgSrv {
  HSFSRVID sender;
  HSFSRVID target;
};

union QRN_MsgId {
  HSF_IBD_MASK mask;
  QRN_MsgSrv srv;
};

struct QRN_SocketMsg {
  HSFMSG msg;
  QRN_MsgId id;
  QRN_MsgFlags msgFlags;
  uint16_t userTag;  // the host's transaction id, or 0
  uint16_t handle;
};

// The result of a response in flag bits 9-15, as a signed 7-bit value; a non-zero result never
// reads back as 0.
constexpr QRN_MsgFlags QRN_MsgFlagsWithResult(QRN_MsgFlags flags, HAPIRESULT result) {
  unsigned bits = static_cast<unsigned>(result) & 0x7F;
  if (result != 0 && bits == 0) bits = 0x7F;
  return (flags & ~static_cast<QRN_MsgFlags>(QRN_MsgFlagResultMask)) | (bits << 9);
}
constexpr HAPIRESULT QRN_MsgResult(QRN_MsgFlags flags) {
  const int bits = static_cast<int>((flags >> 9) & 0x7F);
  return bits >= 0x40 ? bits - 0x80 : bits;
}

// Extended-data block: reference count, source handle, then the data.
struct QRN_SocketMsgExtSrcHeader {
  uint16_t refCount;  // extra owners; 0 = one owner
  uint16_t srcHandle;
};
constexpr size_t QRN_EXT_DATA_MAX = 1600;
constexpr size_t QRN_EXT_BLOCK_SIZE = QRN_EXT_DATA_MAX + sizeof(QRN_SocketMsgExtSrcHeader);

constexpr size_t QRN_MSG_POOL_BLOCKS = 4050;
constexpr size_t QRN_EXT_POOL_BLOCKS = 500;
constexpr size_t QRN_MSG_POOL_MEM_SIZE = MEM_BufPoolMemSize(sizeof(QRN_SocketMsg), QRN_MSG_POOL_BLOCKS);
constexpr size_t QRN_EXT_POOL_MEM_SIZE = MEM_BufPoolMemSize(QRN_EXT_BLOCK_SIZE, QRN_EXT_POOL_BLOCKS);
constexpr size_t QRN_SCRATCH_MEM_SIZE = 60775;
// Free blocks kept in reserve for the framework itself when the host queues asynchronously.
constexpr int QRN_MSG_POOL_RESERVE = 3509;
constexpr int QRN_EXT_POOL_RESERVE = 19;

// ---- configuration (constant, one per VHD type) ----
using QRN_StackType = uint16_t;

struct QRN_ServiceArchive {
  const HSFSRVARC* archive;
  uint16_t isSwappable;  // 0: core service, kept across stack switches
  HSFSRVID parentSvcId;  // receives this service's events; 0 = the host
};

struct QRN_StackArchive {
  QRN_StackType stackId;
  uint16_t framesize;  // samples
  const QRN_ServiceArchive* srvarc;  // index 0 = top of the stack (network side)
  uint16_t numServices;
};

using HAPI_VHDOPT = uint16_t;
enum : HAPI_VHDOPT {
  HAPI_VHDOPT_DISABLE_INGRESS_THREAD = 1,
  HAPI_VHDOPT_DISABLE_EGRESS_THREAD = 2,
  HAPI_VHDOPT_DEFAULT_WIDEBAND = 4,
  HAPI_VHDOPT_DEFAULT_NARROWBAND = 8,
  HAPI_VHDOPT_DSP_ONLY = 16,
  HAPI_VHDOPT_HOST_ONLY = 32,
};

struct QRN_SocketConfig {
  uint32_t socketScratchSize;
  uint32_t socketHeapSize;  // bytes of service instance memory
  const QRN_StackArchive* archive;
  uint16_t numStackTypes;
  QRN_StackType defaultStackId;
  HAPI_VHDOPT vhdOpt;
  HSF_IBD_MASK tosRecvMask;  // accepted from the switchboard at the top of the stack
  HSF_IBD_MASK bosRecvMask;  // ... at the bottom
  uint16_t ingressNarrowbandMedqHist;  // bytes of sample history kept between frames
  uint16_t egressNarrowbandMedqHist;
  uint16_t ingressMediaQSize;  // bytes of the per-frame media buffer
  uint16_t egressMediaQSize;
};

// ---- run-time records ----
struct QRN_Service {
  HSFSRVID parentSvcId;
  HSFSRVOBJ serviceData;
  const HSFSRVARC* archive;
};

enum QRN_Mode : uint16_t { QRN_NARROWBAND_MODE = 0, QRN_WIDEBAND_MODE = 1 };

struct QRN_HalfSocket {
  uint16_t frameSize;
  uint16_t savedframeSize;  // restored by frame size 4095
  MEM_Queue dataQ;          // in-band data of this frame
  MEM_Queue hostdataQ;      // in-band data from the host, moved to dataQ when the thread starts
  uint32_t hostdataQueued;  // see qrnHostQueued
  uint8_t* mediaQhistory;   // saved sample history
  uint16_t mode;
  HSF_IBD_MASK recvMask;    // accepted from the switchboard
  KNL_Thread* thread;
};

struct QRN_STACK_SWITCH_CTL {
  bool modeChangeInprogress;
  bool stackswitchInprogress;
  bool stackSrvSwapComplete;
};

struct QRN_STACK_SWITCH_CFG {
  HSFSRVID srvId;  // the service that asked for the switch
  void* srvp;      // its instance
};

constexpr uint16_t QRN_SOCKET_MAGIC = 0xABCD;

struct QRN_Socket {
  QRN_Socket* next;
  uint16_t magic;
  QRN_Handle handle;
  uint32_t activity;  // counts what may wake a resting channel; see qrnNoteActivity
  const QRN_StackArchive* currStackArchive;
  const QRN_SocketConfig* config;
  int16_t* memDesc[2];  // this frame's low-band and high-band samples
  QRN_Service* service;  // one entry per position of the largest stack
  uint16_t numServiceEntries;
  MEM_Queue msgQ;
  MEM_Queue hostmsgQ;
  uint32_t hostmsgQueued;  // see qrnHostQueued
  MEM_Heap socketHeap;
  uint32_t numIBDmessages;  // in-band messages present when the running service started
  QRN_STACK_SWITCH_CTL ss_ctl;
  QRN_STACK_SWITCH_CBKP stackswitchcbkp;
  QRN_STACK_SWITCH_CFG stackswitchcfg;
  QRN_HalfSocket* ingress;
  QRN_HalfSocket* egress;
  uint16_t ipcId;
};

enum HAPI_DIRECTION : uint16_t { HAPI_DIRECTION_INGRESS = 0, HAPI_DIRECTION_EGRESS = 1 };

struct QRN_SOCKET_GLOBALS {
  QRN_Socket* pCurrentSocket;  // all ones while the resource manager's thread runs
  QRN_Service* pCurrentService;
  HAPI_DIRECTION currentDirection;
  MEM_Queue freeLaterQ;        // extended blocks to release when the running thread ends
};
extern QRN_SOCKET_GLOBALS QRN_gSocketContext;
inline QRN_Socket* const QRN_RESMAN_CONTEXT = reinterpret_cast<QRN_Socket*>(~uintptr_t{0});
// The socket of the running VHD thread, or none (also while the resource manager runs). Inline:
// every service call on the tick asks for it.
inline QRN_Socket* QRN_CurrentSocket() {
  QRN_Socket* socket = QRN_gSocketContext.pCurrentSocket;
  return socket == QRN_RESMAN_CONTEXT ? nullptr : socket;
}

// Host message callback: receives every message for the host and frees it.
using QRN_HostMsgCallback = void (*)(QRN_Handle handle, QRN_SocketMsg* msg);
using QRN_IbdCallback = int (*)(QRN_Handle srcHandle, QRN_SocketMsg* msg);
extern QRN_HostMsgCallback QRN_gHostMsgCallback;
extern QRN_Socket* QRN_gSocketList;

extern MEM_BufPool QRN_gHapiMsgBufPool;
extern MEM_BufPool QRN_gHapiExtDataBufPool;
extern MEM_Scratch QRN_gHapiScratch;
extern MEM_Heap QRN_gHapiHeap;

// ---- start-up ----
void QRN_HapiInit(QRN_HostMsgCallback hostCallback, void* secondCallback);

// ---- messages ----
QRN_SocketMsg* QRN_AllocSocketMsg();
QRN_SocketMsg* QRN_AllocSocketMsg_Unprotected();
QRN_SocketMsg* QRN_DuplicateMsg(const QRN_SocketMsg* msg);
void QRN_FreeSocketMsg(QRN_SocketMsg* msg);
void QRN_FreeSocketMsg_Unprotected(QRN_SocketMsg* msg);
void* QRN_AllocExtData(const void* src, size_t length);
void* QRN_AllocExtData_Unprotected(const void* src, size_t length);
int QRN_AllocSocketMsgExtData(QRN_SocketMsg* msg, const void* src, size_t length,
                              uint16_t srcHandle);
int QRN_AllocSocketMsgExtData_Unprotected(QRN_SocketMsg* msg, const void* src, size_t length,
                                          uint16_t srcHandle);
void QRN_FreeExtMsg(void* bufp);
void QRN_FreeExtMsg_Unprotected(void* bufp);
int QRN_PeekMsgPool();
int QRN_PeekExtMsgPool(size_t length);
// The extended-data block header in front of bufp.
QRN_SocketMsgExtSrcHeader* QRN_ExtHeaderOf(void* bufp);

// ---- queueing ----
void QRN_QueueStdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2, QRN_MsgId id,
                     uint16_t userTag, QRN_MsgFlags flags);
void QRN_QueueExtMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                     QRN_MsgId id, uint16_t userTag, QRN_MsgFlags flags, uint16_t srcHandle);
void QRN_QueueStdIbdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSF_IBD_MASK mask, QRN_MsgFlags flags);
void QRN_QueueExtIbdMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                        HSF_IBD_MASK mask, QRN_MsgFlags flags, uint16_t srcHandle);
void QRN_QueueStdObdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags);
// From inside a running service: a standard command to a service of another channel or device,
// sent by the current service.
void QRN_QueueStdObdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSFSRVID target);
void QRN_QueueExtObdMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                        HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags,
                        uint16_t srcHandle);
void QRN_QueueMsg(QRN_Handle handle, QRN_SocketMsg* msg);
void QRN_QueueMsgInServices(const HSFMSG* msg, int obd, HSF_IBD_MASK mask, QRN_MsgFlags flags);

// ---- to the host ----
void QRN_SendMessageToHost(QRN_Handle handle, QRN_SocketMsg* msg);
void QRN_SendStdMsgToHost(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                          HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags);
void QRN_SendExtMsgToHost(QRN_Handle handle, uint16_t header, void* bufp, uint16_t length,
                          HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags);
int QRN_ErrorEvent(uint16_t error, uint16_t op2);

// ---- sockets and services ----
QRN_Socket* QRN_CreateSocket(QRN_Handle handle, const QRN_SocketConfig* config, size_t extraMem);
void QRN_CloseSocket(QRN_Socket* socket);
QRN_Socket* QRN_FindSocket(QRN_Handle handle);
const QRN_StackArchive* QRN_FindStackArchiveById(const QRN_Socket* socket, QRN_StackType stackId);
QRN_Service* QRN_FindServiceById(QRN_Socket* socket, HSFSRVID srvId);
void QRN_SrvInit(QRN_Socket* socket, QRN_Service* service, const QRN_ServiceArchive* serviceArchive);
void QRN_SocketStartCoreServices(QRN_Handle handle, QRN_StackType stackId);
void QRN_SocketStartSwapServices(QRN_Handle handle, QRN_StackType stackId);
void QRN_SocketStopSwapServices(QRN_Handle handle);
uint16_t QRN_SocketStackSwitch(QRN_Handle handle, QRN_StackType stackId);
void QRN_SocketProcessMessages(QRN_Socket* socket);
void QRN_SocketProcessMessage(QRN_Socket* socket, QRN_SocketMsg* msg);
int QRN_SocketProcessCustomMessage(QRN_Socket* socket, QRN_SocketMsg* msg);
void QRN_SendMessageToService(QRN_SocketMsg* msg, QRN_Service* service, QRN_Socket* socket);
// Releases every extended block waiting in freeLaterQ (end of a thread run).
void QRN_FreeLaterBlocks();

void qrnSetIpcId(QRN_Handle handle, uint16_t ipcId);
uint16_t qrnGetIpcId(QRN_Handle handle);
void qrnSetResmanIpcId(uint16_t dspNum, uint16_t ipcId);
uint16_t qrnGetResmanIpcId(uint16_t dspNum);
