// Resource manager: its thread, its command table and its responses.
#include <cstring>

#include "halshim/halshim.h"
#include "lhapi.h"
#include "rm.h"
#include "swb/swb.h"
#include "vhd/vhd.h"

MEM_Queue RM_gMsgQueue;
KNL_Thread RM_gThread;
int RM_gInitialized = 0;
HAPI_PULSE_SIGNAL_PARMS gPulseSignalParms[RM_NUM_LINES];

namespace {

constexpr HAPIRESULT kNoResponse = 0x7FFF;  // the message went on elsewhere

// The data block of an extended command when it holds at least `size` bytes, else none.
template <typename T>
T* commandData(QRN_SocketMsg* msg) {
  if (HAPI_OPCODE_IS_STD(msg->msg.std.header) || msg->msg.ext.bufp == nullptr ||
      msg->msg.ext.length < sizeof(T)) {
    return nullptr;
  }
  return static_cast<T*>(msg->msg.ext.bufp);
}

uint16_t scratchNeverUsed() {
  // 16-bit words still holding the start-up fill, counted from the end of the area downwards.
  const uint8_t* base = QRN_gHapiScratch.basep;
  const uint8_t* p = QRN_gHapiScratch.endp;
  unsigned count = 0;
  while (p - 2 >= base) {
    p -= 2;
    if (p[0] != MEM_SCRATCH_FILL_BYTE || p[1] != MEM_SCRATCH_FILL_BYTE) break;
    ++count;
  }
  return static_cast<uint16_t>(count > 0xFFFF ? 0xFFFF : count);
}

HAPIRESULT processOnOff(uint16_t handle, uint16_t op2) {
  const uint16_t size = (op2 & 0xFF) != 0 ? VHD_FRAMESIZE_RESTORE : 0;
  unsigned direction = op2 >> 8;
  if (direction == 0) direction = 3;
  if (direction & 1) VHD_SetIngressFrameSizeAndMode(handle, size, VHD_MODE_KEEP);
  if (direction & 2) VHD_SetEgressFrameSizeAndMode(handle, size, VHD_MODE_KEEP);
  return HAPISUCCESS;
}

HAPIRESULT processRmCommand(QRN_SocketMsg* msg) {
  const HSFMSGSTD& cmd = msg->msg.std;
  switch (cmd.header) {
    case HAPI_RM_OPEN_VHD_CMD: {
      const auto* info = commandData<HAPI_RM_OPEN_VHD_INFO>(msg);
      if (info == nullptr) return HAPIFAILURE;
      return VHD_OpenInstance(info->usrHandle, info->vhdType) ? HAPISUCCESS : HAPIFAILURE;
    }
    case HAPI_RM_GET_DSP_BUFSTATS_CMD: {
      auto* stats = commandData<DSPBUFSTATS>(msg);
      if (stats == nullptr) return HAPIFAILURE;
      stats->hapiMsgBufPoolnumFree = static_cast<uint16_t>(QRN_gHapiMsgBufPool.numFreeBuf);
      stats->hapiMsgBufPoollowWater = static_cast<uint16_t>(QRN_gHapiMsgBufPool.lowWaterMark);
      stats->hapiExtDataBufPoolnumFree = static_cast<uint16_t>(QRN_gHapiExtDataBufPool.numFreeBuf);
      stats->hapiExtDataBufPoollowWater =
          static_cast<uint16_t>(QRN_gHapiExtDataBufPool.lowWaterMark);
      stats->hapiBigExtDataBufPoolnumFree = 0;
      stats->hapiBigExtDataBufPoollowWater = 0;
      return HAPISUCCESS;
    }
    case HAPI_RM_GET_MEMSTATS_CMD: {
      auto* stats = commandData<HAPIRMMEMSTATS>(msg);
      if (stats == nullptr) return HAPIFAILURE;
      stats->numScratchLeft = scratchNeverUsed();
      return HAPISUCCESS;
    }
    case HAPI_RM_PULSE_SIGNAL_CMD: {
      const auto* parms = commandData<PULSESIGNALPARMS>(msg);
      if (parms == nullptr) return HAPIFAILURE;
      if (parms->pulseLineHdl >= RM_NUM_LINES) {
        LHAPI_ASSERT_FAIL();
        return HAPISUCCESS;
      }
      gPulseSignalParms[parms->pulseLineHdl] =
          HAPI_PULSE_SIGNAL_PARMS{parms->pulseFrequency, parms->pulseAmplitude,
                                  parms->pulseDuration, parms->pulsePeriod, parms->pulseCount};
      return HAPISUCCESS;
    }
    case HAPI_RM_CLOSE_VHD_CMD: {
      LhapiLockGuard lock;
      VHD_CloseInstance(cmd.op1);
      return HAPISUCCESS;
    }
    case HAPI_RM_SET_FRAMESIZE_CMD: {
      const uint16_t size = cmd.op2 & 0x0FFF;
      const uint16_t mode = cmd.op2 >> 12;
      VHD_SetIngressFrameSizeAndMode(cmd.op1, size, mode);
      VHD_SetEgressFrameSizeAndMode(cmd.op1, size, mode);
      return HAPISUCCESS;
    }
    case HAPI_RM_STACK_SWITCH_CMD: {
      if (QRN_SocketStackSwitch(cmd.op1, cmd.op2) == 0) return HAPIFAILURE;
      QRN_QueueStdObdMsg(HAPIRESMAN, HAPI_RM_STACK_SWITCH_DONE_EVT, cmd.op1, cmd.op2,
                         msg->id.srv.target, msg->id.srv.sender, msg->userTag, 0);
      return HAPISUCCESS;
    }
    case HAPI_RM_OPEN_HALPORT_CMD:
      if (cmd.op2 >= HALSHIM_NUM_PORTS) {
        LHAPI_ASSERT_FAIL();
        return HAPISUCCESS;
      }
      gHalShimConfigs[cmd.op2].halShimLdxHandle = cmd.op1;
      return HAPISUCCESS;
    case HAPI_RM_PROC_ONOFF_CMD:
      return processOnOff(cmd.op1, cmd.op2);
    case HAPI_RM_STACK_SWITCH_DONE_EVT:
      QRN_QueueStdObdMsg(cmd.op1, HAPI_RM_STACK_SWITCH_DONE_EVT, cmd.op1, cmd.op2,
                         msg->id.srv.target, msg->id.srv.sender, msg->userTag, 0);
      return HAPISUCCESS;
    case HAPI_RM_ERROR_EVT:
    case HAPI_RM_DEBUG_EVT:
    case HAPI_RM_KNL_OVERRUN_EVT:
    case HAPI_RM_HAL_UNDERRUN_EVT:
      QRN_SendMessageToHost(HAPIRESMAN, msg);
      return kNoResponse;
    default:
      return HAPIFAILURE;
  }
}

// The thread's run under the kernel's lock (which also guards the queue): with no message it
// leaves the context as the whole run would, and the pass keeps its lock.
bool quickRun(void*) {
  if (RM_gMsgQueue.headPtr != nullptr) return false;
  QRN_gSocketContext.pCurrentSocket = nullptr;
  return true;
}

}  // namespace

void RM_Init() {
  MEM_InitQueue(&RM_gMsgQueue);
  KNL_InitThread(&RM_gThread, RM_ProcessThread, nullptr);
  KNL_SetThreadQuickRun(&RM_gThread, quickRun);
  LhapiLockGuard lock;
  KNL_SetThreadFrameSize(&RM_gThread, KNL_SAMPLES_PER_TICK);
  KNL_SetThreadPriority_Unprotected(&RM_gThread, RM_THREAD_PRIORITY);
  KNL_SetThreadState_Unprotected(&RM_gThread, KNL_STATE_WAITING);
  RM_gThread.newSamples = KNL_NEWSAMPLES_PER_TICK;
}

void RM_ProcessMessages(QRN_SocketMsg* msg) {
  if (msg == nullptr) return;
  HAPIRESULT result;
  switch (HAPI_OPCODE_GET_SRVID(msg->msg.std.header)) {
    case HAPI_SWB_SRV:
      result = SWB_io(msg, 1, 1);
      break;
    case HAPI_HALSHIM_SRV:
      result = halShimProcessMessageInRm(msg, 1, 1);
      break;
    case HAPI_RM_SRV:
      result = processRmCommand(msg);
      break;
    default:
      result = HAPI_ERR_UNKNOWN_MESSAGE;
      break;
  }
  if (result == kNoResponse) return;
  if (msg->id.srv.sender == HAPI_NO_RESP_SRV) {
    QRN_FreeSocketMsg(msg);
    return;
  }
  // The command itself becomes its response.
  msg->msg.std.header &= static_cast<uint16_t>(~HAPI_OPCODE_EVT_MASK);
  msg->id.srv.target = msg->id.srv.sender;
  msg->id.srv.sender = HAPI_RM_SRV;
  msg->msgFlags = QRN_MsgFlagsWithResult(msg->msgFlags, result);
  msg->msgFlags &= ~QRN_MsgFlagGenResponse;
  msg->msgFlags |= QRN_MsgFlagResponse | QRN_MsgFlagObd;
  QRN_SendMessageToHost(HAPIRESMAN, msg);
}

void RM_ProcessThread(void*) {
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  while (auto* msg = static_cast<QRN_SocketMsg*>(MEM_QueueDeq(&RM_gMsgQueue))) {
    RM_gInitialized = 1;
    RM_ProcessMessages(msg);
  }
  QRN_gSocketContext.pCurrentSocket = nullptr;
}
