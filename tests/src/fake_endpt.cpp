// A test double of the endpoint library for the daemon's tests. It records every call on
// standard output ("fake: <call> <arguments>"), answers with scripted statuses, and runs a
// dispatcher-like thread that turns simulated CAS events into hook-state changes and events,
// and control commands into events and packets.
//
// Environment:
//   ORVOX_FAKE_LINES  comma list of line types: fxs, fxo, dect (default "dect,fxs,fxs")
//   ORVOX_FAKE_ECAP   echo-cancelling capability of every line (default 1)
//   ORVOX_FAKE_FAIL   comma list of calls that fail with EPSTATUS_ERROR
//   ORVOX_FAKE_CAS_STUCK  1: simulated CAS events are never processed
//   ORVOX_FAKE_CTL    path of a FIFO read for control commands, one per line:
//                       event <line> <EPEVT> <value>
//                       hook <line> <0|1>          (real hook change: events and state)
//                       packet <line> <cnxId> <size>
//                       mute <line> <0|1>          (1: the line's events are lost)

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "endptlib.h"

namespace {

struct FakeLine {
  EPTYPE type;
  VRG_ENDPT view{};
  ENDPT_STATE* handle;
  bool muted;  // its events are lost on the way to the daemon ("mute <line> 1")
};

std::mutex gLock;
// Fixed storage: the records hold atomics and the daemon keeps pointers into them.
std::deque<FakeLine> gLines;
endptEventCallback gNotify;
endptPacketCallback gPacket;
int gVosInit;

// The dispatcher stand-in: a queue of work run on its own thread, like "VRGDISP".
std::mutex gQueueLock;
std::condition_variable gQueueCv;
std::deque<std::function<void()>> gQueue;
std::thread gDispatcher;
std::thread gControl;
std::atomic<bool> gRunning{false};
int gControlFd = -1;
int gControlWake[2] = {-1, -1};

void record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void record(const char* fmt, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof(text), fmt, ap);
  va_end(ap);
  printf("fake: %s\n", text);
  fflush(stdout);
}

bool failing(const char* call) {
  const char* list = getenv("ORVOX_FAKE_FAIL");
  if (!list) return false;
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ','))
    if (item == call) return true;
  return false;
}

void loadLines() {
  if (!gLines.empty()) return;
  const char* spec = getenv("ORVOX_FAKE_LINES");
  std::stringstream ss(spec ? spec : "dect,fxs,fxs");
  std::string item;
  while (std::getline(ss, item, ',') && gLines.size() < 8) {
    int index = static_cast<int>(gLines.size());
    FakeLine& line = gLines.emplace_back();
    line.type = item == "dect" ? EPTYPE_DECT : item == "fxo" ? EPTYPE_PSTN : EPTYPE_FXS;
    line.view.lineId = -1;
    line.view.lineVhdHdl = static_cast<uint16_t>(0x50 + index);
    line.view.casCtlHandle = index;
  }
}

int countOf(EPTYPE type) {
  loadLines();
  int n = 0;
  for (auto& l : gLines) n += l.type == type;
  return n;
}

void post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> g(gQueueLock);
    gQueue.push_back(std::move(work));
  }
  gQueueCv.notify_one();
}

void notify(int line, EPEVT event, int value) {
  if (!gNotify || line < 0 || line >= static_cast<int>(gLines.size())) return;
  if (!gLines[line].handle || gLines[line].muted) return;
  gNotify(gLines[line].handle, -1, event, nullptr, 0, value);
}

void setHook(int line, bool off) {
  gLines[line].view.earlyOffHook = off;
  notify(line, off ? EPEVT_EARLY_OFFHOOK : EPEVT_EARLY_ONHOOK, -1);
  gLines[line].view.offHook = off;
  notify(line, off ? EPEVT_OFFHOOK : EPEVT_ONHOOK, -1);
}

void sendPacket(int line, int cnxId, int size) {
  if (!gPacket || line < 0 || line >= static_cast<int>(gLines.size()) || !gLines[line].handle)
    return;
  std::vector<uint8_t> bytes(static_cast<size_t>(size > 0 ? size : 0), 0x11);
  if (!bytes.empty()) bytes[0] = 0x80;
  EPPACKET pkt{};
  pkt.mediaType = EPMEDIATYPE_RTP;
  pkt.packetp = bytes.data();
  gPacket(gLines[line].handle, cnxId, &pkt, size);
}

void runControlCommand(const std::string& text) {
  std::stringstream ss(text);
  std::string verb;
  int a = 0, b = 0, c = 0;
  ss >> verb >> a >> b >> c;
  if (verb == "event") post([=] { notify(a, static_cast<EPEVT>(b), c); });
  else if (verb == "hook") post([=] { setHook(a, b != 0); });
  else if (verb == "packet") post([=] { sendPacket(a, b, c); });
  else if (verb == "mute") post([=] {
    if (a >= 0 && a < static_cast<int>(gLines.size())) gLines[a].muted = b != 0;
    record("mute line=%d %d", a, b);
  });
}

void controlLoop() {
  std::string pending;
  char buf[256];
  while (gRunning) {
    struct pollfd fds[2] = {{gControlFd, POLLIN, 0}, {gControlWake[0], POLLIN, 0}};
    if (poll(fds, 2, -1) <= 0) continue;
    if (fds[1].revents) break;
    ssize_t n = read(gControlFd, buf, sizeof(buf));
    if (n <= 0) continue;
    pending.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      runControlCommand(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
  }
}

void dispatcherLoop() {
  std::unique_lock<std::mutex> lk(gQueueLock);
  while (gRunning || !gQueue.empty()) {
    gQueueCv.wait(lk, [] { return !gQueue.empty() || !gRunning; });
    while (!gQueue.empty()) {
      auto work = std::move(gQueue.front());
      gQueue.pop_front();
      lk.unlock();
      work();
      lk.lock();
    }
  }
}

void startThreads() {
  gRunning = true;
  gDispatcher = std::thread(dispatcherLoop);
  const char* ctl = getenv("ORVOX_FAKE_CTL");
  if (ctl && *ctl) {
    mkfifo(ctl, 0666);
    gControlFd = open(ctl, O_RDWR | O_NONBLOCK);
    if (gControlFd >= 0 && pipe(gControlWake) == 0) gControl = std::thread(controlLoop);
  }
}

void stopThreads() {
  gRunning = false;
  gQueueCv.notify_all();
  if (gDispatcher.joinable()) gDispatcher.join();
  if (gControl.joinable()) {
    ssize_t ignored = write(gControlWake[1], "x", 1);
    (void)ignored;
    gControl.join();
    close(gControlWake[0]);
    close(gControlWake[1]);
  }
  if (gControlFd >= 0) close(gControlFd);
  gControlFd = -1;
}

// Runs a state-changing call on the dispatcher stand-in and waits for it, as the library runs
// every endpoint command on its dispatcher thread.
EPSTATUS runOnDispatcher(std::function<EPSTATUS()> call) {
  if (!gRunning) return call();
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  EPSTATUS st = EPSTATUS_ERROR;
  post([&] {
    EPSTATUS r = call();
    std::lock_guard<std::mutex> g(m);
    st = r;
    done = true;
    cv.notify_one();
  });
  std::unique_lock<std::mutex> lk(m);
  cv.wait(lk, [&] { return done; });
  return st;
}

FakeLine* lineOf(const ENDPT_STATE* handle) {
  if (!handle || handle->lineId < 0 || handle->lineId >= static_cast<int>(gLines.size()))
    return nullptr;
  return &gLines[handle->lineId];
}

EPSTATUS result(const char* call) { return failing(call) ? EPSTATUS_ERROR : EPSTATUS_SUCCESS; }

}  // namespace

int vrgEndptGetNumEndpoints(void) {
  loadLines();
  return static_cast<int>(gLines.size());
}
int vrgEndptGetNumFxsEndpoints(void) { return countOf(EPTYPE_FXS); }
int vrgEndptGetNumFxoEndpoints(void) { return countOf(EPTYPE_PSTN); }
int vrgEndptGetNumDectEndpoints(void) { return countOf(EPTYPE_DECT); }

EPSTATUS vrgEndptInit(ENDPT_INIT_CFG* cfg, endptEventCallback notifyCallback,
                      endptPacketCallback packetCallback, endptGetProvCallback,
                      endptSetProvCallback, endptPacketReleaseCallback,
                      endptTaskShutdownCallback) {
  record("vrgEndptInit country=%d", cfg ? cfg->country : -1);
  if (failing("vrgEndptInit")) return EPSTATUS_ERROR;
  loadLines();
  gNotify = notifyCallback;
  gPacket = packetCallback;
  startThreads();
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptDeinit(void) {
  record("vrgEndptDeinit");
  stopThreads();
  return result("vrgEndptDeinit");
}

EPSTATUS vrgEndptCreate(int physId, int lineId, ENDPT_STATE* endptState) {
  record("vrgEndptCreate %d %d", physId, lineId);
  if (failing("vrgEndptCreate") || physId < 0 || physId >= static_cast<int>(gLines.size()))
    return EPSTATUS_ERROR;
  return runOnDispatcher([=] {
    FakeLine& l = gLines[physId];
    const char* skew = getenv("ORVOX_FAKE_LINEID_SKEW");
    endptState->lineId = lineId + (skew ? atoi(skew) : 0);
    endptState->endptType = l.type;
    l.handle = endptState;
    l.view.isLineUsed = 1;
    l.view.lineId = lineId;
    l.view.endptNum = static_cast<uint16_t>(physId);
    return EPSTATUS_SUCCESS;
  });
}

EPSTATUS vrgEndptDestroy(ENDPT_STATE* endptState) {
  record("vrgEndptDestroy %d", endptState->lineId);
  return runOnDispatcher([=] {
    FakeLine* l = lineOf(endptState);
    if (!l) return EPSTATUS_ENDPT_UNKNOWN;
    l->view.isLineUsed = 0;
    l->handle = nullptr;
    return result("vrgEndptDestroy");
  });
}

EPSTATUS vrgEndptCapabilities(ENDPT_STATE* endptState, EPZCAP* cap) {
  FakeLine* l = lineOf(endptState);
  if (!l) return EPSTATUS_ENDPT_UNKNOWN;
  memset(cap, 0, sizeof(*cap));
  cap->pCap[0] = 0x8000 | 10;
  cap->pCap[1] = 40;
  cap->codecCap[CODEC_PCMU] = CODEC_SUPPORTED;
  cap->codecCap[CODEC_PCMA] = CODEC_SUPPORTED;
  cap->nteCap = CODEC_NTE_DTMF | CODEC_NTE_LCS;
  const char* ecap = getenv("ORVOX_FAKE_ECAP");
  cap->eCap = static_cast<uint16_t>(ecap ? atoi(ecap) : 1);
  cap->sCap = 1;
  cap->endptType = l->type;
  return result("vrgEndptCapabilities");
}

EPSTATUS vrgEndptSignal(ENDPT_STATE* endptState, int cnxId, EPSIG signal, uintptr_t value,
                        int duration, int period, int repetition) {
  if (signal == EPSIG_CALLID && value > 0xFFFF)
    record("vrgEndptSignal line=%d cnx=%d sig=%d text=%s", endptState->lineId, cnxId, signal,
           reinterpret_cast<const char*>(value));
  else
    record("vrgEndptSignal line=%d cnx=%d sig=%d value=%lu %d %d %d", endptState->lineId, cnxId,
           signal, static_cast<unsigned long>(value), duration, period, repetition);
  return result("vrgEndptSignal");
}

namespace {
void recordCnxParams(const char* call, ENDPT_STATE* s, int cnxId, const EPZCNXPARAM* p) {
  const CODECCNXLIST& snd = p->cnxParmList.send;
  const CODECCNXLIST& rcv = p->cnxParmList.recv;
  record("%s line=%d cnx=%d mode=%d send=%d/%d/%d/%d/%d recv=%d/%d/%d/%d/%d nte=0x%x ec=%u "
         "vad=%u cng=%u fax=%u sec=%u data=%d auto=%d vbd=%d relay=%d",
         call, s->lineId, cnxId, p->mode, snd.numCodecs, snd.codecs[0].type,
         snd.codecs[0].rtpPayloadType, snd.numPeriods, snd.period[0], rcv.numCodecs,
         rcv.codecs[0].type, rcv.codecs[0].rtpPayloadType, rcv.numPeriods, rcv.period[0],
         p->namedPhoneEvts, p->echocancel, p->silence, p->comfortNoise, p->preserveFaxMode,
         p->secHdrSize, p->dataMode, p->autoEncoder, p->vbdparam.vbdMode, p->digitRelayType);
}
}  // namespace

EPSTATUS vrgEndptCreateConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam) {
  recordCnxParams("vrgEndptCreateConnection", endptState, cnxId, cnxParam);
  return runOnDispatcher([=] {
    FakeLine* l = lineOf(endptState);
    if (!l || failing("vrgEndptCreateConnection")) return EPSTATUS_ERROR;
    l->view.cnxCnt++;
    return EPSTATUS_SUCCESS;
  });
}

EPSTATUS vrgEndptModifyConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam) {
  recordCnxParams("vrgEndptModifyConnection", endptState, cnxId, cnxParam);
  return result("vrgEndptModifyConnection");
}

EPSTATUS vrgEndptDeleteConnection(ENDPT_STATE* endptState, int cnxId) {
  record("vrgEndptDeleteConnection line=%d cnx=%d", endptState->lineId, cnxId);
  return runOnDispatcher([=] {
    FakeLine* l = lineOf(endptState);
    if (!l || failing("vrgEndptDeleteConnection")) return EPSTATUS_ERROR;
    if (l->view.cnxCnt > 0) l->view.cnxCnt--;
    return EPSTATUS_SUCCESS;
  });
}

EPSTATUS vrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd, EPCMD_PARMS* parms) {
  record("vrgEndptConsoleCmd line=%d cmd=%d arg0=%u", endptState->lineId, cmd,
         parms ? parms->arg[0] : 0);
  if (failing("vrgEndptConsoleCmd")) return EPSTATUS_ERROR;
  // In-band DTMF generated on a line is detected again and reported as its digit.
  if (cmd == EPCMD_INDTMF_GENERATE && parms) {
    static const EPEVT digitEvents[] = {
        EPEVT_DTMF0, EPEVT_DTMF1, EPEVT_DTMF2, EPEVT_DTMF3, EPEVT_DTMF4, EPEVT_DTMF5,
        EPEVT_DTMF6, EPEVT_DTMF7, EPEVT_DTMF8, EPEVT_DTMF9, EPEVT_DTMFS, EPEVT_DTMFH,
        EPEVT_DTMFA, EPEVT_DTMFB, EPEVT_DTMFC, EPEVT_DTMFD};
    uint32_t code = parms->arg[0];
    int line = endptState->lineId;
    if (code < 16) post([=] { notify(line, digitEvents[code], -1); });
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptPacket(ENDPT_STATE* endptState, int cnxId, EPPACKET* epPacket, int length,
                        unsigned int) {
  record("vrgEndptPacket line=%d cnx=%d type=%d len=%d first=0x%02x", endptState->lineId, cnxId,
         epPacket->mediaType, length, length > 0 ? epPacket->packetp[0] : 0);
  return result("vrgEndptPacket");
}

EPSTATUS vrgEndptSendCasEvt(ENDPT_STATE* endptState, unsigned int casEvtType,
                            unsigned int casCtlEvt) {
  record("vrgEndptSendCasEvt line=%d type=%u event=%u", endptState->lineId, casEvtType,
         casCtlEvt);
  FakeLine* l = lineOf(endptState);
  if (!l || failing("vrgEndptSendCasEvt")) return EPSTATUS_ERROR;
  const char* stuck = getenv("ORVOX_FAKE_CAS_STUCK");
  if (stuck && stuck[0] == '1') return EPSTATUS_SUCCESS;
  int line = endptState->lineId;
  post([=] {
    VRG_ENDPT& v = gLines[line].view;
    switch (casCtlEvt) {
      case CAS_CTL_EVENT_EARLY_OFFHOOK: v.earlyOffHook = 1; notify(line, EPEVT_EARLY_OFFHOOK, -1); break;
      case CAS_CTL_EVENT_OFFHOOK: v.offHook = 1; notify(line, EPEVT_OFFHOOK, -1); break;
      case CAS_CTL_EVENT_EARLY_ONHOOK: v.earlyOffHook = 0; notify(line, EPEVT_EARLY_ONHOOK, -1); break;
      case CAS_CTL_EVENT_ONHOOK: v.offHook = 0; notify(line, EPEVT_ONHOOK, -1); break;
      case CAS_CTL_EVENT_FLASH: notify(line, EPEVT_FLASH, -1); break;
      default: break;
    }
  });
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptProvGet(int line, EPPROV item, void* value, int length) {
  record("vrgEndptProvGet %d %d %d", line, item, length);
  if (failing("vrgEndptProvGet")) return EPSTATUS_ERROR;
  if (item == EPPROV_MinDisconnect && length == 4) {
    uint32_t v = 400;
    memcpy(value, &v, 4);
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptProvSet(int line, EPPROV item, void* value, int length) {
  int32_t v = 0;
  if (length == 4) memcpy(&v, value, 4);
  record("vrgEndptProvSet %d %d %d", line, item, v);
  return result("vrgEndptProvSet");
}

VRG_ENDPT* GetEndptState(int lineId) {
  for (auto& l : gLines)
    if (l.view.isLineUsed && l.view.lineId == lineId) return &l.view;
  return nullptr;
}

CAS_CTL_STATUS casCtlIgnoreHookState(CAS_CTL_HANDLE casCtlHandle, int durationMs) {
  static int last[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  // Packets renew the ignore time on every tick; record only changes.
  if (casCtlHandle >= 0 && casCtlHandle < 8 && last[casCtlHandle] != durationMs) {
    last[casCtlHandle] = durationMs;
    record("casCtlIgnoreHookState %d %d", casCtlHandle, durationMs);
  }
  return failing("casCtlIgnoreHookState") ? CAS_CTL_FAILURE : CAS_CTL_SUCCESS;
}

int16_t hdspSendCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2) {
  record("hdspSendCmd 0x%x 0x%x 0x%x %u %lu", vhdhdl, cmd, reqId, op1,
         static_cast<unsigned long>(op2));
  return failing("hdspSendCmd") ? -1 : 0;
}

int boardHalDeinit(void) {
  record("boardHalDeinit");
  return 0;
}

void tpUpdateLocaleProfile(VRG_COUNTRY country) { record("tpUpdateLocaleProfile %d", country); }
// ORVOX_FAKE_NO_PROFILE stands for a country without a valid profile file.
int tpLocaleProfileLoaded(VRG_COUNTRY) { return getenv("ORVOX_FAKE_NO_PROFILE") ? 0 : 1; }
const char* tpProfileDirectory(void) { return "fake-profiles/"; }

VOS_STATUS vosInit(void) {
  record("vosInit");
  if (failing("vosInit")) return VOS_STATUS_ERR;
  gVosInit = 1;
  return VOS_STATUS_OK;
}

VOS_STATUS vosTerm(void) {
  record("vosTerm");
  gVosInit = 0;
  return VOS_STATUS_OK;
}

VOS_BOOL vosIsInit(void) { return gVosInit != 0; }
