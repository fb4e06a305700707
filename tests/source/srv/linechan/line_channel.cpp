#include "line_channel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cfg/vhd_cfg.h"
#include "halshim/halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "swb/swb.h"
#include "vhd/vhd.h"

namespace linechan {
namespace {

std::vector<HostMsg> gHost;
uint16_t gTag = 1;

void recordHost(QRN_Handle, QRN_SocketMsg* msg) {
  HostMsg m{};
  m.header = msg->msg.std.header;
  m.response = (msg->msgFlags & QRN_MsgFlagResponse) != 0;
  m.result = QRN_MsgResult(msg->msgFlags);
  if (HAPI_OPCODE_IS_STD(m.header)) {
    m.op1 = msg->msg.std.op1;
    m.op2 = msg->msg.std.op2;
  } else if (msg->msg.ext.bufp != nullptr) {
    m.op1 = msg->msg.ext.length;
    const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
    m.data.assign(p, p + msg->msg.ext.length);
  }
  gHost.push_back(m);
  QRN_FreeSocketMsg(msg);
}

// One tick with the port fed and drained, so that no backlog builds up in the port's queues.
void tickOnce(const int16_t* in = nullptr, int16_t* out = nullptr) {
  static const int16_t silence[kTickSamples] = {};
  int16_t discard[kTickSamples];
  halShimIngress(in != nullptr ? in : silence, 0);
  HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
  KNL_FrameSync();
  LHAPI_gpFncUnlockSMP(s);
  halShimEgress(out != nullptr ? out : discard, 0);
}

HostMsg answerTo(uint16_t tag) {
  for (int i = 0; i < 8; ++i) tickOnce();
  (void)tag;
  for (auto it = gHost.rbegin(); it != gHost.rend(); ++it) {
    if (it->response) return *it;
  }
  ADD_FAILURE() << "no answer";
  return HostMsg{};
}

}  // namespace

Channel::Channel(bool loopTop) {
  gHost.clear();
  lhapiInit(0);
  QRN_HapiInit(recordHost, nullptr);
  VHD_gArchive = VHD_gDefaultArchive;
  VHD_gNumArchives = VHD_NUM_DEFAULT_ARCHIVES;
  EXPECT_EQ(VHD_OpenInstance(kLine, HAPI_LINE_ECAN_VHD), 1);
  halShimCfgDevice(0, 1, 1);
  EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{0, HAPI_SWB_TOS, 0}, SWB_Port{kLine, HAPI_SWB_BOS, 0}), 1);
  EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{kLine, HAPI_SWB_BOS, 0}, SWB_Port{0, HAPI_SWB_TOS, 0}), 1);
  if (loopTop) {
    EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{kLine, HAPI_SWB_TOS, 0}, SWB_Port{kLine, HAPI_SWB_TOS, 0}), 1);
  }
  halShimProcessMessagesInHal();
  for (int i = 0; i < 4; ++i) tickOnce();
  gHost.clear();
}

Channel::~Channel() {
  VHD_CloseInstance(kLine);
  for (int i = 0; i < 2; ++i) tickOnce();
}

std::vector<int16_t> Channel::run(const std::vector<int16_t>& in) {
  std::vector<int16_t> out(in.size());
  for (size_t off = 0; off + kTickSamples <= in.size(); off += kTickSamples) {
    tickOnce(&in[off], &out[off]);
  }
  return out;
}

HostMsg Channel::command(uint16_t header, uint16_t op1, uint16_t op2) {
  const uint16_t tag = ++gTag;
  QRN_QueueStdObdMsg(kLine, header, op1, op2, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
  return answerTo(tag);
}

HostMsg Channel::extCommand(uint16_t header, const void* data, uint16_t length) {
  const uint16_t tag = ++gTag;
  QRN_QueueExtObdMsg(kLine, header, data, length, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, HAPIVHD_HOST);
  return answerTo(tag);
}

void* Channel::service(HSFSRVID id) {
  VHD_Instance* slot = VHD_GetInstance(kLine);
  if (slot == nullptr || slot->socket == nullptr) return nullptr;
  for (uint16_t i = 0; i < slot->socket->numServiceEntries; ++i) {
    const QRN_Service& s = slot->socket->service[i];
    if (s.archive != nullptr && s.archive->srvId == id) return s.serviceData;
  }
  return nullptr;
}

std::vector<HostMsg>& Channel::host() { return gHost; }

}  // namespace linechan
