// The stand-in DSP of the host-control tests.
#include "dsp_standin.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "cfg/vhd_cfg.h"
#include "faxr/faxr_regs.h"
#include "hal/boardHal.h"
#include "halshim/halshim.h"
#include "hapi/hapi.h"
#include "hsf/hsf.h"
#include "lhapi.h"
#include "net/net_regs.h"
#include "pte/pte_regs.h"
#include "pve_codec/pve_regs.h"
#include "qrn/qrn.h"
#include "rtp/rtp_regs.h"
#include "swb/swb.h"
#include "vhd/vhd.h"
#include "vrgEndpt.h"
#include "vrgProv.h"

// Library callbacks that the dispatcher module provides in the product.
uint16_t vrgEndptRetrievePlcSettings(CODEC_TYPE) { return 1; }
void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT*) {}

namespace standin {

namespace {

// A register record of a service: the codes that read it, write it whole and write one word.
struct RecordKind {
  uint16_t srvId;
  uint16_t getCode;
  uint16_t setCode;
  uint16_t setReg1Code;
  std::vector<uint8_t> (*initial)();
};

template <typename T, T (*Make)()>
std::vector<uint8_t> bytesOf() {
  const T value = Make();
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  return std::vector<uint8_t>(p, p + sizeof(T));
}

template <size_t N>
std::vector<uint8_t> zeros() {
  return std::vector<uint8_t>(N, 0);
}

constexpr HSZNETREGS netDefault() { return hsnetRegsDefault(); }
constexpr HSZVOICEREGS voiceDefault() { return pveVoiceRegsDefault(); }
constexpr HAPI_PTE_REGS pteDefault() { return pteNetRegsDefault(); }
constexpr HAPI_RTP_REGS rtpDefault() { return rtpRegsDefault(); }
constexpr HAPI_RTP_REGS2 rtp2Default() { return rtpRegs2Default(); }
constexpr HSZFAXRREGS faxrDefault() { return faxrRegsDefault(); }

const RecordKind kRecords[] = {
    {HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD, HAPI_NET_CONFIG_SETREGS_CMD, HAPI_NET_CONFIG_SETREG1_CMD,
     bytesOf<HSZNETREGS, netDefault>},
    {HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD, HAPI_NET_VOICE_SETREGS_CMD, HAPI_NET_VOICE_SETREG1_CMD,
     bytesOf<HSZVOICEREGS, voiceDefault>},
    {HAPI_NET_SRV, HAPI_NET_PTE_GETREGS_CMD, HAPI_NET_PTE_SETREGS_CMD, HAPI_NET_PTE_SETREG1_CMD,
     bytesOf<HAPI_PTE_REGS, pteDefault>},
    {HAPI_NET_SRV, HAPI_NET_RTP_GETREGS_CMD, HAPI_NET_RTP_SETREGS_CMD, 0, bytesOf<HAPI_RTP_REGS, rtpDefault>},
    {HAPI_NET_SRV, HAPI_NET_RTP_GETREGS2_CMD, HAPI_NET_RTP_SETREGS2_CMD, 0, bytesOf<HAPI_RTP_REGS2, rtp2Default>},
    {HAPI_NET_SRV, HAPI_NET_FAXR_GETREGS_CMD, HAPI_NET_FAXR_SETREGS_CMD, HAPI_NET_FAXR_SETREG1_CMD,
     bytesOf<HSZFAXRREGS, faxrDefault>},
    // Line services: the digit and tone registers and the echo canceller's registers.
    {HAPI_PTE_SRV, HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_GETREGS_CMD), 0, HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_SETREG1_CMD),
     zeros<14>},
    {HAPI_HEC_SRV, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_GETREGS_CMD), 0, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_SETREG1_CMD),
     zeros<32>},
};

HAPIRESULT standInIoctl(HSFSRVOBJ, HSFMSG* cmd, HSFMSG* reply) {
  const uint16_t vhd = QRN_gSocketContext.pCurrentSocket->handle;
  const uint16_t srvId = QRN_gSocketContext.pCurrentService->archive->srvId;
  return Dsp::get().ioctl(vhd, srvId, cmd, reply);
}

constexpr HSFSRVARC arc(HAPISRVID id) { return HSFSRVARC{id, 16, standInIoctl, nullptr, nullptr, nullptr, nullptr}; }

const HSFSRVARC sNet = arc(HAPI_NET_SRV), sRtp = arc(HAPI_RTP_SRV), sCodec = arc(HAPI_CODEC_SRV),
                sPte = arc(HAPI_PTE_SRV), sCdis = arc(HAPI_CDIS_SRV), sV21 = arc(HAPI_V21_SRV),
                sCmtd = arc(HAPI_CMTD_SRV), sClidRx = arc(HAPI_CLIDRX_SRV), sClidTx = arc(HAPI_CLIDTX_SRV),
                sHec = arc(HAPI_HEC_SRV), sLine = arc(HAPI_LINE_SRV);

const QRN_ServiceArchive gatewayServices[] = {
    {&sRtp, 1, HAPI_NET_SRV}, {&sNet, 0, HAPI_HOST_SRV}, {&sCodec, 1, HAPI_NET_SRV},
    {&sPte, 1, HAPI_NET_SRV}, {&sCdis, 1, HAPI_NET_SRV}, {&sV21, 1, HAPI_CDIS_SRV},
};
const QRN_ServiceArchive pstnServices[] = {
    {&sPte, 1, HAPI_HOST_SRV}, {&sClidRx, 1, HAPI_HOST_SRV}, {&sCmtd, 1, HAPI_HOST_SRV},
};
const QRN_ServiceArchive lineServices[] = {
    {&sPte, 1, HAPI_HOST_SRV}, {&sCmtd, 1, HAPI_HOST_SRV}, {&sClidTx, 1, HAPI_HOST_SRV},
    {&sHec, 1, HAPI_HOST_SRV}, {&sLine, 1, HAPI_HOST_SRV},
};
const QRN_StackArchive gatewayStacks[] = {{HAPI_VOICE_STACK, 80, gatewayServices, 6}};
const QRN_StackArchive pstnStacks[] = {{HAPI_PSTN_STACK, 40, pstnServices, 3}};
const QRN_StackArchive lineStacks[] = {{HAPI_LINE_ECAN_STACK, 80, lineServices, 5}};
const QRN_SocketConfig gatewayCfg = {4000, 4000, gatewayStacks, 1, HAPI_VOICE_STACK, 0, 0x1902, 0x261B,
                                     400, 400, 880, 880};
const QRN_SocketConfig pstnCfg = {512, 2000, pstnStacks, 1, HAPI_PSTN_STACK, 0, 0x3, 0x608, 400, 400, 880, 880};
const QRN_SocketConfig lineCfg = {2048, 2000, lineStacks, 1, HAPI_LINE_ECAN_STACK, 0, 0x602, 0x680,
                                  400, 400, 880, 880};
const VHD_Archive kArchive[] = {
    {HAPI_GATEWAY_VHD, 2, &gatewayCfg},
    {HAPI_CONFERENCE_VHD, 2, &gatewayCfg},
    {HAPI_PSTN_VHD, 2, &pstnCfg},
    {HAPI_LINE_ECAN_VHD, 1, &lineCfg},
    {HAPI_PHONE_VHD, 1, &lineCfg},  // a type the library does not use
};

void ignoreEvent(HSZEVT*, uint16_t) {}

const RecordKind* kindOf(uint16_t srvId, uint16_t code, int* which) {
  for (const RecordKind& k : kRecords) {
    if (k.srvId != srvId) continue;
    if (code == k.getCode) { *which = 0; return &k; }
    if (k.setCode != 0 && code == k.setCode) { *which = 1; return &k; }
    if (k.setReg1Code != 0 && code == k.setReg1Code) { *which = 2; return &k; }
  }
  return nullptr;
}

}  // namespace

Dsp& Dsp::get() {
  static Dsp dsp;
  return dsp;
}

void Dsp::start(int ports) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    services_.clear();
    failing_.clear();
    replies_.clear();
  }
  lhapiInit(0);
  ASSERT_EQ(hapiInit(ignoreEvent, 1), HAPISUCCESS);
  VHD_gArchive = kArchive;
  VHD_gNumArchives = 5;
  running_ = true;
  ticker_ = std::thread([this] {
    while (running_.load()) {
      lhapiKNL_RunReadyThreads();
      std::this_thread::yield();
    }
  });
  for (int port = 0; port < ports; ++port) {
    halShimCfgDevice(static_cast<unsigned>(port), 1, 0);
    ASSERT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, ignoreEvent, static_cast<uint16_t>(port)), port);
  }
  commands_ = 0;
}

void Dsp::stop() {
  if (running_.exchange(false)) ticker_.join();
  lhapiDeinit();
  VHD_gArchive = VHD_gDefaultArchive;
  VHD_gNumArchives = VHD_NUM_DEFAULT_ARCHIVES;
}

Service Dsp::service(uint16_t vhd, uint16_t srvId) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = services_.find({vhd, srvId});
  return it == services_.end() ? Service{} : it->second;
}

int Dsp::commandsSince() { return commands_.exchange(0); }

void Dsp::failCode(uint16_t code, HAPIRESULT result) {
  std::lock_guard<std::mutex> guard(lock_);
  if (result == 0) {
    failing_.erase(code);
  } else {
    failing_[code] = result;
  }
}

void Dsp::setReply(uint16_t code, std::vector<uint8_t> data) {
  std::lock_guard<std::mutex> guard(lock_);
  replies_[code] = std::move(data);
}

HAPIRESULT Dsp::ioctl(uint16_t vhd, uint16_t srvId, HSFMSG* cmd, HSFMSG* reply) {
  std::lock_guard<std::mutex> guard(lock_);
  commands_ += 1;
  const uint16_t code = cmd->std.header;
  Service& s = services_[{vhd, srvId}];
  s.count[code] += 1;
  const bool isStd = HAPI_OPCODE_IS_STD(code);
  if (isStd) s.stdSeen[code].emplace_back(cmd->std.op1, cmd->std.op2);
  if (auto f = failing_.find(code); f != failing_.end()) return f->second;
  int which = -1;
  const RecordKind* kind = kindOf(srvId, code, &which);
  if (kind != nullptr) {
    std::vector<uint8_t>& rec = s.records[kind->getCode];
    if (rec.empty()) rec = kind->initial();
    if (which == 0) {  // read whole
      const uint16_t n = static_cast<uint16_t>(std::min<size_t>(rec.size(), cmd->ext.length));
      std::memcpy(cmd->ext.bufp, rec.data(), n);
      reply->ext = HSFMSGEXT{code, n, cmd->ext.bufp};
      return HAPISUCCESS;
    }
    if (which == 1) {  // write whole
      if (cmd->ext.length != rec.size()) return HAPI_ERR_INVALID_REGS;
      std::memcpy(rec.data(), cmd->ext.bufp, rec.size());
      return HAPISUCCESS;
    }
    if (cmd->std.op1 + 2u > rec.size() || (cmd->std.op1 & 1) != 0) return HAPI_ERR_INVALID_REGS;
    std::memcpy(&rec[cmd->std.op1], &cmd->std.op2, 2);
    return HAPISUCCESS;
  }
  if (isStd) {
    s.lastStd[code] = {cmd->std.op1, cmd->std.op2};
    return HAPISUCCESS;
  }
  const auto* data = static_cast<const uint8_t*>(cmd->ext.bufp);
  if (auto r = replies_.find(code); r != replies_.end()) {
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(r->second.size(), cmd->ext.length));
    std::memcpy(cmd->ext.bufp, r->second.data(), n);
    reply->ext = HSFMSGEXT{code, n, cmd->ext.bufp};
    return HAPISUCCESS;
  }
  s.lastExt[code] = data != nullptr ? std::vector<uint8_t>(data, data + cmd->ext.length) : std::vector<uint8_t>{};
  return HAPISUCCESS;
}

bool hasPath(uint16_t src, uint16_t srcIf, uint16_t dst, uint16_t dstIf) {
  LhapiLockGuard lock;
  const SWB_Port* list = SWB_gConnectionList.list;
  for (int i = 0; i < SWB_gConnectionList.portsUsed && list[i].handle != SWB_END_MARKER;) {
    const SWB_Port& source = list[i];
    for (int d = 1; d <= source.numOfDest; ++d) {
      const SWB_Port& dest = list[i + d];
      if (source.handle == src && source.direction == srcIf && dest.handle == dst && dest.direction == dstIf) {
        return true;
      }
    }
    i += 1 + source.numOfDest;
  }
  return false;
}

int pathCount() {
  LhapiLockGuard lock;
  int n = 0;
  const SWB_Port* list = SWB_gConnectionList.list;
  for (int i = 0; i < SWB_gConnectionList.portsUsed && list[i].handle != SWB_END_MARKER;) {
    n += list[i].numOfDest;
    i += 1 + list[i].numOfDest;
  }
  return n;
}

void makeEndpoints(int n, EPTYPE type) {
  vrgEndptStateReset();
  vrgNumEndpts = n;
  for (int i = 0; i < n; ++i) {
    VRG_ENDPT& e = vrgEndpt[i];
    e.isLineUsed = 1;
    e.lineId = i;
    e.endptNum = static_cast<uint16_t>(i);
    e.endptType = type;
  }
}

CNXSTATE* bindConnection(int index, int lineId, uint16_t vhd) {
  CNXSTATE* c = &vrgCnxState[index];
  c->vhdhdl = vhd;
  c->cnxId = 100 + index;
  c->lineId = lineId;
  VRG_ENDPT* e = GetEndptState(lineId);
  for (CNXSTATE*& slot : e->cnx) {
    if (slot == nullptr) {
      slot = c;
      break;
    }
  }
  return c;
}

void sync(uint16_t vhd) {
  HSZCMD c{};
  c.hsxdevhdl = vhd;
  c.hsxcmd = HSF_MKCMD_STD(HAPI_PTE_SRV, 0x3F);  // every channel has the digit and tone service
  c.hsxreqid = HAPI_REQID_STD_CMD;
  hapiIOctl(&c, static_cast<uint16_t>(vhd >> 8));
}

void HostDspTest::SetUp() {
  endptProvInit();
  vrgEndptStateReset();
  vrgEndptCap[0] = EPZCAP{};
  vrgEndptCap[0].pCap[0] = 0x800A;
  vrgEndptCap[0].pCap[1] = 30;
  dsp.start(4);
}

void HostDspTest::TearDown() { dsp.stop(); }

}  // namespace standin
