// Framework start-up: the four static areas, the kernel, resource manager, switchboard, VHD table
// and HAL shim.
#include <array>
#include <cstring>
#include <vector>

#include "halshim/halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "qrn.h"
#include "pve_codec.h"
#include "qrn_internal.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "vhd/vhd.h"

namespace {

// Upper bound of what one VHD's records grow by on this host compared with the original layout
// the framework heap was sized for: socket, service table, half-sockets, thread records and
// every heap block header involved.
constexpr size_t kMaxServicesPerStack = 16;
constexpr size_t kHeapGrowthPerVhd =
    sizeof(QRN_Socket) + kMaxServicesPerStack * sizeof(QRN_Service) + 2 * sizeof(QRN_HalfSocket) +
    2 * sizeof(KNL_Thread) + (4 + kMaxServicesPerStack) * MEM_BLOCK_HDR_GROWTH + 64;
constexpr size_t kHeapMemSize = 2120551 + VHD_NUM_INSTANCES * kHeapGrowthPerVhd;

alignas(8) uint8_t gHapiMsgMem[QRN_MSG_POOL_MEM_SIZE];
alignas(8) uint8_t gHapiExtDataMem[QRN_EXT_POOL_MEM_SIZE];
alignas(8) uint8_t gHapiScratchMem[QRN_SCRATCH_MEM_SIZE];
// The heap grows by what the codec service's instance needs beyond the 88360 bytes the layout
// assumed, for every channel that may carry one; its size is known once the codec libraries are
// asked at start-up, so the heap is taken once, at the first initialisation.
std::vector<uint64_t>& hapiHeapMem() {
  static std::vector<uint64_t> mem = [] {
    const size_t codecGrowth = codecInstanceBytes(codecHeavyPoolWords()) > 88360
                                   ? codecInstanceBytes(codecHeavyPoolWords()) - 88360
                                   : 0;
    return std::vector<uint64_t>((kHeapMemSize + VHD_NUM_INSTANCES * codecGrowth + 7) / 8);
  }();
  return mem;
}

uint16_t gResmanIpcId[16];

}  // namespace

MEM_Scratch QRN_gHapiScratch;
MEM_Heap QRN_gHapiHeap;

void QRN_HapiInit(QRN_HostMsgCallback hostCallback, void*) {
  LhapiLockGuard lock;
  QRN_gHostMsgCallback = hostCallback;
  QRN_gSocketList = nullptr;
  qrnResetSocketIndex();
  halShimInit();
  halShimSetIbdCallback(SWB_IbdRecv);
  MEM_gBufPoolList = nullptr;
  KNL_Init();
  RM_Init();
  SWB_Init();
  VHD_Init(SWB_IbdRecv);
  MEM_InitBufPool(&QRN_gHapiMsgBufPool, sizeof(QRN_SocketMsg), gHapiMsgMem, sizeof(gHapiMsgMem));
  MEM_InitBufPool(&QRN_gHapiExtDataBufPool, QRN_EXT_BLOCK_SIZE, gHapiExtDataMem,
                  sizeof(gHapiExtDataMem));
  std::memset(gHapiScratchMem, MEM_SCRATCH_FILL_BYTE, sizeof(gHapiScratchMem));
  MEM_InitScratch(&QRN_gHapiScratch, gHapiScratchMem, sizeof(gHapiScratchMem));
  QRN_gSocketContext = QRN_SOCKET_GLOBALS{};
  MEM_InitQueue(&QRN_gSocketContext.freeLaterQ);
  MEM_InitHeap(&QRN_gHapiHeap, hapiHeapMem().data(), hapiHeapMem().size() * sizeof(uint64_t));
}

void qrnSetIpcId(QRN_Handle handle, uint16_t ipcId) {
  if ((handle & 0xFF) <= HAPIRESMAN) {
    qrnSetResmanIpcId(handle >> 8, ipcId);
    return;
  }
  if (QRN_Socket* socket = QRN_FindSocket(handle)) socket->ipcId = ipcId;
}

uint16_t qrnGetIpcId(QRN_Handle handle) {
  if ((handle & 0xFF) <= HAPIRESMAN) return qrnGetResmanIpcId(handle >> 8);
  QRN_Socket* socket = QRN_FindSocket(handle);
  return socket != nullptr ? socket->ipcId : 0;
}

void qrnSetResmanIpcId(uint16_t dspNum, uint16_t ipcId) {
  if (dspNum < 16) gResmanIpcId[dspNum] = ipcId;
}

uint16_t qrnGetResmanIpcId(uint16_t dspNum) { return dspNum < 16 ? gResmanIpcId[dspNum] : 0; }
