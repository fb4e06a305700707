// Test harness of the framework: a recording host, a tick driver and pool accounting.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "cfg/vhd_cfg.h"
#include "vhd/vhd.h"

namespace vexa_test {

// What the host received: one record per message, with a copy of the data of extended ones.
struct HostMsg {
  uint16_t handle;
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  HSF_IBD_MASK mask;
  HSFSRVID sender;
  HSFSRVID target;
  uint32_t flags;
  uint16_t userTag;
  HAPIRESULT result;
  std::vector<uint8_t> data;
  bool blockInUse = false;  // the data lay in a framework block still in use
};

inline std::vector<HostMsg>& hostLog() {
  static std::vector<HostMsg> log;
  return log;
}

inline void recordingHost(QRN_Handle handle, QRN_SocketMsg* msg) {
  HostMsg m{};
  m.handle = handle;
  m.header = msg->msg.std.header;
  m.flags = msg->msgFlags;
  m.userTag = msg->userTag;
  m.result = QRN_MsgResult(msg->msgFlags);
  if (msg->msgFlags & QRN_MsgFlagObd) {
    m.sender = msg->id.srv.sender;
    m.target = msg->id.srv.target;
  } else {
    m.mask = msg->id.mask;
  }
  if (HAPI_OPCODE_IS_STD(m.header)) {
    m.op1 = msg->msg.std.op1;
    m.op2 = msg->msg.std.op2;
  } else {
    m.op1 = msg->msg.ext.length;
    if (msg->msg.ext.bufp != nullptr) {
      const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
      m.data.assign(p, p + msg->msg.ext.length);
      const uint8_t* block = p - sizeof(QRN_SocketMsgExtSrcHeader);
      m.blockInUse = MEM_FindBufPool(block) == &QRN_gHapiExtDataBufPool &&
                     MEM_HdrOf(block)->debugStartTag == MEM_POOL_START_INUSE;
    }
  }
  hostLog().push_back(m);
  QRN_FreeSocketMsg(msg);
}

// One 5 ms tick of the kernel: frame sync and the run pass.
inline void tick(int n = 1) {
  for (int i = 0; i < n; ++i) {
    HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
    KNL_FrameSync();
    LHAPI_gpFncUnlockSMP(s);
  }
}

// Free counts of the framework's pools and heap.
struct PoolCounts {
  int msgFree;
  int extFree;
  size_t heapFreeBytes;
  int heapFreeBlocks;
  bool operator==(const PoolCounts&) const = default;
};

inline PoolCounts poolCounts() {
  PoolCounts c{QRN_gHapiMsgBufPool.numFreeBuf, QRN_gHapiExtDataBufPool.numFreeBuf, 0, 0};
  for (MEM_BlockHdr* h = QRN_gHapiHeap.freep; h != nullptr; h = h->nextp) {
    c.heapFreeBytes += h->blockSize;
    c.heapFreeBlocks += 1;
  }
  return c;
}

// Counts the assertion lines printed while it lives.
class AssertCounter {
 public:
  AssertCounter() { testing::internal::CaptureStdout(); }
  int stop() {
    if (!stopped_) {
      out_ = testing::internal::GetCapturedStdout();
      stopped_ = true;
    }
    int n = 0;
    for (size_t pos = 0; (pos = out_.find("LHAPI: Assert in file", pos)) != std::string::npos; ++pos) ++n;
    return n;
  }
  const std::string& output() {
    stop();
    return out_;
  }
  ~AssertCounter() { stop(); }

 private:
  bool stopped_ = false;
  std::string out_;
};

// Starts the framework with the recording host and, optionally, a configuration table of the test.
inline void startFramework(const VHD_Archive* archive = nullptr, uint16_t numArchives = 0) {
  lhapiInit(0);
  hostLog().clear();
  QRN_HapiInit(recordingHost, nullptr);
  VHD_gArchive = archive != nullptr ? archive : VHD_gDefaultArchive;
  VHD_gNumArchives = archive != nullptr ? numArchives : VHD_NUM_DEFAULT_ARCHIVES;
}

}  // namespace vexa_test
