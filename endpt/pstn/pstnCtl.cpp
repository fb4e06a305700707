// FXO line control: start and stop, channels, the event queue and the "PSTN" task with its
// dial-out sequence (dial tone, DTMF digits, release-tone listening).
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cmtdCtl.h"
#include "hdspClass.h"
#include "hdspCmd.h"
#include "pstnCtlInternal.h"
#include "voiceLog.h"
#include "vosTime.h"
#include "vrgProv.h"

namespace {
// Before set-up there is no queue to post to and every channel is free.
PSTN_CTL_STATE initialState() {
  PSTN_CTL_STATE state{};
  state.evtQ = MEMCIRCBUF_INVALID;
  for (PSTN_CTL_CHAN_INFO& chan : state.chanState) chan.vhdHdl = PSTN_CTL_FREE_VHD;
  return state;
}
}  // namespace

PSTN_CTL_STATE pstnCtlState = initialState();
VOS_SEMLITE pstnEvtQSem;

// Guards the channel table: the task works on it, the dispatcher sets channels up and down.
std::mutex& pstnCtlChannelLock() {
  static std::mutex lock;
  return lock;
}

namespace {

constexpr uint32_t kPstnStackSize = 8192;
constexpr uint16_t kDialLevel = 10;
constexpr uint16_t kPulseSamples = 1200;  // 150 ms tone, 150 ms gap
constexpr uint16_t kPauseSamples = 8000;  // 1 s
constexpr uint8_t kPauseCode = 255;
constexpr uint8_t kFilterSlotAbsent = 2;
constexpr char kBypass[] = "BYPASS_CMTD_DSGEN";

// The state, queue and semaphore exist (between a successful set-up and the shutdown): a stop
// without a start, or a second stop, must not free another module's buffer or a semaphore twice.
bool stateReady = false;

std::atomic<bool> stopRequested{false};
std::atomic<bool> taskRunning{false};
bool taskStarted = false;

void log(VOICE_LOGLEVEL level, const char* text) { voiceLog(VOICE_MODULE_EPT, level, "%s", text); }

// The semaphore marks queued events, but the task never blocks on it: it only consumes a mark
// so that the count stays bounded. A light semaphore has no take that does not wait, and a timed
// take that expires would keep its place in the count, so the mark is taken under its lock.
void takeMarkWithoutWaiting() {
  pthread_mutex_lock(&pstnEvtQSem.lock);
  if (pstnEvtQSem.value > 0) --pstnEvtQSem.value;
  pthread_mutex_unlock(&pstnEvtQSem.lock);
}

std::mutex& channelLock = pstnCtlChannelLock();

// Reports of the current period, handed to the callback after the table is unlocked. A period
// reports at most a time-out and a receiver report per channel and one for its event.
struct PendingReport {
  uint16_t vhdHdl;
  PSTN_CTL_EVENT_INFO info;
};
constexpr int kMaxPendingReports = 2 * PSTN_CTL_MAX_CHANNELS + 1;
PendingReport pendingReports[kMaxPendingReports];
int numPendingReports = 0;

void report(uint16_t vhdHdl, PSTN_CTL_EVENT event, void* info) { pstnCtlReport(vhdHdl, event, info); }

void flushReports() {
  const int count = numPendingReports;
  numPendingReports = 0;
  for (int i = 0; i < count; ++i) {
    if (pstnCtlState.callback != nullptr) pstnCtlState.callback(pendingReports[i].vhdHdl, &pendingReports[i].info);
  }
}

void disableDetector(uint16_t vhdHdl) {
  if (cmtdCtlDisable(vhdHdl) == HAPISUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: PSTN_CTL: cmtdCtlDisable success vhd=0x%x", vhdHdl);
  } else {
    log(VOICE_LOGLEVEL_ERROR, "EPT: PSTN_CTL: cmtdCtlDisable FAILED!!!");
  }
}

void listenFor(uint16_t vhdHdl, CMTD_TONE_TYPE tone) {
  if (cmtdCtlConfigFilter(vhdHdl, pstnCtlState.country, tone, CMTD_FILTER_1) == HAPISUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: PSTN_CTL: cmtdCtlConfigFilter success vhd=0x%x", vhdHdl);
  } else {
    log(VOICE_LOGLEVEL_ERROR, "EPT: PSTN_CTL: cmtdCtlConfigFilter FAILED!!!");
  }
}

int dialCode(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case '*': return 10;
    case '#': return 11;
    case 'A': return 12;
    case 'B': return 13;
    case 'C': return 14;
    case 'D': return 15;
    case 'P': return kPauseCode;
    default: return -1;
  }
}

// Sends the channel's dial string to the tone generator; returns the number of digits sent
// (0 when nothing went out).
int genDialString(PSTN_CTL_CHAN_INFO& chan, int lineId) {
  const size_t length = strnlen(chan.dialString, sizeof chan.dialString);
  if (length > PTE_DIALSTRING_MAX_DIGITS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: PSTN_CTL: Too many digits %d in dial string. Limit is %d!!!",
             static_cast<int>(length), PTE_DIALSTRING_MAX_DIGITS);
    return 0;
  }
  HAPI_PTE_DIALSTRING cmd{};
  cmd.encoderType = 0;
  cmd.dBmLevel = kDialLevel;
  int32_t skew = 0;
  if (endptProvGetValue(lineId, EPPROV_DTMFSkew, &skew) != EPSTATUS_SUCCESS) skew = 0;
  cmd.dBmSkew = static_cast<uint16_t>(skew);
  cmd.pulseOnTime = kPulseSamples;
  cmd.pulseOffTime = kPulseSamples;
  cmd.pauseTime = kPauseSamples;
  auto* digits = reinterpret_cast<uint8_t*>(cmd.digitArray);
  for (size_t i = 0; i < length; ++i) {
    const int code = dialCode(chan.dialString[i]);
    if (code < 0) {
      // Left out: a character without a code must not go out as whatever the buffer held.
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: PSTN_CTL: Invalid dialstring digit (%c)!!!",
               chan.dialString[i]);
      continue;
    }
    digits[cmd.numCharacters++] = static_cast<uint8_t>(code);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL: genDialString %d digits (%s)", cmd.numCharacters,
           chan.dialString);
  if (cmd.numCharacters == 0) return 0;
  if (hdspSendCmdDataAsync(chan.vhdHdl, hdsp::HAPI_PTE_DIALSTRING_CMD, HAPI_REQID_EXT_CMD, sizeof cmd, &cmd) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: PSTN_CTL: genDialString: sending the dial string FAILED!!!");
    return 0;
  }
  return cmd.numCharacters;
}

// Dialling is over: the call is set up as far as this side goes; listen for the release tone.
void completeDialling(PSTN_CTL_CHAN_INFO& chan) {
  chan.state = PSTN_CTL_CHAN_STATE_IDLE;
  report(chan.vhdHdl, PSTN_CTL_EVT_CALL_SETUP_COMPLETE, nullptr);
  listenFor(chan.vhdHdl, CMTD_TONE_TYPE_RELEASE);
}

void onCallSetup(PSTN_CTL_CHAN_INFO& chan, const char* text) {
  if (chan.state != PSTN_CTL_CHAN_STATE_IDLE) {
    log(VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL: Dialing in progress, ignoring new dial command.");
    return;
  }
  std::memset(chan.dialString, 0, sizeof chan.dialString);
  if (text != nullptr && strnlen(text, sizeof chan.dialString) < sizeof chan.dialString) {
    std::strcpy(chan.dialString, text);
  }
  if (std::strcmp(chan.dialString, kBypass) == 0) {
    report(chan.vhdHdl, PSTN_CTL_EVT_CALL_SETUP_COMPLETE, nullptr);
    return;
  }
  chan.state = PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE;
  chan.timeoutCount = 0;
  listenFor(chan.vhdHdl, CMTD_TONE_TYPE_DIAL);
}

void onToneDetect(PSTN_CTL_CHAN_INFO& chan, int lineId, const uint8_t* slotByte) {
  const int slot = slotByte != nullptr ? *slotByte : kFilterSlotAbsent;
  const char* name = cmtdCtlMapToneType(cmtdCtlGetConfigTone(slot));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL: %s detected!", name);
  if (chan.state == PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE) {
    chan.timeoutCount = 0;
    disableDetector(chan.vhdHdl);
    chan.state = PSTN_CTL_CHAN_STATE_GENERATE_DTMF;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL: generating digits: %s!!!", chan.dialString);
    // Without a digit on its way no dial-complete event will come: finish here.
    if (genDialString(chan, lineId) == 0) completeDialling(chan);
  } else if (chan.state == PSTN_CTL_CHAN_STATE_IDLE) {
    disableDetector(chan.vhdHdl);
    name = cmtdCtlMapToneType(CMTD_TONE_TYPE_BUSY);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL: %s detected!", name);
}

void checkDialToneTimeouts() {
  for (PSTN_CTL_CHAN_INFO& chan : pstnCtlState.chanState) {
    if (chan.vhdHdl == PSTN_CTL_FREE_VHD || chan.state != PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE) continue;
    chan.timeoutCount += PSTN_CTL_PERIOD_MS;
    if (chan.timeoutCount < PSTN_CTL_DIALTONE_TIMEOUT_MS) continue;
    disableDetector(chan.vhdHdl);
    report(chan.vhdHdl, PSTN_CTL_EVT_CPTONE_TIMEOUT, nullptr);
    chan.state = PSTN_CTL_CHAN_STATE_IDLE;
    chan.timeoutCount = 0;
  }
}

void runReceivers(uint16_t vhdHdl, PSTN_CTL_EVENT event, uint16_t op1) {
  for (PSTN_CTL_CHAN_INFO& chan : pstnCtlState.chanState) {
    PSTN_CTL_DTMFCLIDRX_STATE& rx = chan.dtmfClidRx;
    if (chan.vhdHdl == PSTN_CTL_FREE_VHD || !rx.enabled || rx.vhdHdl != chan.vhdHdl) continue;
    const bool addressed = event != PSTN_CTL_EVT_NONE && rx.vhdHdl == vhdHdl;
    processDTMFClidRxEvent(&rx, addressed ? event : PSTN_CTL_EVT_NONE, op1);
  }
}

// `text` is the record's dial string or filter slot byte, already out of the heap.
void handleRecord(const PSTN_CTL_QUEUE_RECORD& rec, const char* text) {
  const auto vhdHdl = static_cast<uint16_t>(rec.vhdHdl);
  const auto event = static_cast<PSTN_CTL_EVENT>(rec.event);
  const auto op1 = static_cast<uint16_t>(rec.op1);

  runReceivers(vhdHdl, event, op1);
  PSTN_CTL_CHAN_INFO* chan = pstnCtlChannel(vhdHdl);
  if (chan == nullptr) return;
  switch (event) {
    case PSTN_CTL_EVT_CALL_SETUP: onCallSetup(*chan, text); break;
    case PSTN_CTL_EVT_CPTONE_DETECT: onToneDetect(*chan, op1, reinterpret_cast<const uint8_t*>(text)); break;
    case PSTN_CTL_EVT_DIAL_COMPLETE:
      if (chan->state == PSTN_CTL_CHAN_STATE_GENERATE_DTMF) completeDialling(*chan);
      break;
    case PSTN_CTL_EVT_ANSWER:
      if (chan->state == PSTN_CTL_CHAN_STATE_IDLE) {
        const bool ok = cmtdCtlConfigFilter(vhdHdl, pstnCtlState.country, CMTD_TONE_TYPE_RELEASE, CMTD_FILTER_1) ==
                        HAPISUCCESS;
        if (ok) {
          voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "PSTN_CTL: cmtdCtlConfigFilter success vhd=0x%x\n", vhdHdl);
        } else {
          log(VOICE_LOGLEVEL_ALWAYS, "PSTN_CTL: cmtdCtlConfigFilter FAILED!!!\n");
        }
      }
      break;
    default: break;
  }
}

void pstnTaskMain(VOS_TASK_ARG) {
  taskRunning.store(true, std::memory_order_release);
  while (!stopRequested.load(std::memory_order_acquire)) {
    if (vosSleep(PSTN_CTL_PERIOD_MS) == VOS_STATUS_EXIT) break;
    if (stopRequested.load(std::memory_order_acquire)) break;
    pstnCtlTaskPeriod();
  }
  log(VOICE_LOGLEVEL_INFO, "EPT: Exiting task PSTN");
  taskRunning.store(false, std::memory_order_release);
}

// Ends the task: by its stop flag within a period, or, when it stays blocked in a report that
// nobody takes any more, by cancelling it.
void stopTask() {
  if (!taskStarted) return;
  stopRequested.store(true, std::memory_order_release);
  vosSemLiteGive(&pstnEvtQSem);
  for (int waited = 0; waited < 10 * PSTN_CTL_PERIOD_MS && taskRunning.load(std::memory_order_acquire); waited += 10) {
    vosSleep(10);
  }
  if (taskRunning.load(std::memory_order_acquire)) vosTaskProceedToShutdown(pstnCtlState.taskId);
  vosTaskWaitForDone(pstnCtlState.taskId);
  taskRunning.store(false, std::memory_order_release);
  taskStarted = false;
}

void freeRecordText(PSTN_CTL_QUEUE_RECORD& rec) {
  std::free(reinterpret_cast<void*>(rec.text));
  rec.text = 0;
}

}  // namespace

void pstnCtlReport(uint16_t vhdHdl, PSTN_CTL_EVENT event, void* info) {
  if (numPendingReports >= kMaxPendingReports) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: PSTN_CTL: report %d for vhd 0x%x dropped", event, vhdHdl);
    return;
  }
  pendingReports[numPendingReports++] = PendingReport{vhdHdl, PSTN_CTL_EVENT_INFO{event, info}};
}

PSTN_CTL_CHAN_INFO* pstnCtlChannel(uint16_t vhdHdl) {
  if (vhdHdl == PSTN_CTL_FREE_VHD) return nullptr;
  for (PSTN_CTL_CHAN_INFO& chan : pstnCtlState.chanState) {
    if (chan.vhdHdl == vhdHdl) return &chan;
  }
  return nullptr;
}

void pstnCtlTaskPeriod(void) {
  {
    std::lock_guard<std::mutex> guard(channelLock);
    checkDialToneTimeouts();
    takeMarkWithoutWaiting();
    PSTN_CTL_QUEUE_RECORD rec{};
    if (pstnCtlState.evtQ == MEMCIRCBUF_INVALID ||
        memCircBufRead(pstnCtlState.evtQ, &rec, sizeof rec) != BUF_STATUS_OK) {
      runReceivers(PSTN_CTL_FREE_VHD, PSTN_CTL_EVT_NONE, 0);
    } else {
      // The text is copied out of the heap before anything can report: a task ended while
      // blocked in a report must not take the heap copy with it.
      char text[PSTN_CTL_DIALSTRING_SIZE + 1] = {};
      const bool hasText = rec.text != 0;
      if (hasText) {
        const char* heapText = reinterpret_cast<const char*>(rec.text);
        const size_t size = rec.event == PSTN_CTL_EVT_CPTONE_DETECT ? 1 : strnlen(heapText, PSTN_CTL_DIALSTRING_SIZE);
        std::memcpy(text, heapText, size);
        freeRecordText(rec);
      }
      handleRecord(rec, hasText ? text : nullptr);
    }
  }
  flushReports();
}

PSTN_CTL_STATUS pstnCtlStateInit(VRG_COUNTRY country, PSTN_CTL_CALLBACK callback) {
  if (stateReady) return PSTN_CTL_FAILURE;  // already running
  std::memset(&pstnCtlState, 0, sizeof pstnCtlState);
  pstnCtlState.country = country;
  pstnCtlState.callback = callback;
  pstnCtlState.evtQ = MEMCIRCBUF_INVALID;
  for (PSTN_CTL_CHAN_INFO& chan : pstnCtlState.chanState) chan.vhdHdl = PSTN_CTL_FREE_VHD;
  if (vosSemLiteCreate("pstnEvtQSem", 0, 1, &pstnEvtQSem) != VOS_STATUS_OK) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Error creating pstnEvtQSem");
    return PSTN_CTL_FAILURE;
  }
  if (memCircBufAlloc(&pstnCtlState.evtQ, PSTN_CTL_QUEUE_RECORDS * sizeof(PSTN_CTL_QUEUE_RECORD)) != BUF_STATUS_OK) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Error creating pstnCtlState.evtQ");
    pstnCtlState.evtQ = MEMCIRCBUF_INVALID;
    vosSemLiteDestroy(&pstnEvtQSem);
    return PSTN_CTL_FAILURE;
  }
  stateReady = true;
  return PSTN_CTL_SUCCESS;
}

void pstnCtlStateDeinit(void) {
  if (!stateReady) return;
  stateReady = false;
  pstnCtlDTMFClidRxDestroy(PSTN_CTL_FREE_VHD);
  if (pstnCtlState.evtQ != MEMCIRCBUF_INVALID) {
    // Texts of events that were never handled.
    PSTN_CTL_QUEUE_RECORD rec{};
    while (memCircBufRead(pstnCtlState.evtQ, &rec, sizeof rec) == BUF_STATUS_OK) freeRecordText(rec);
    memCircBufFree(&pstnCtlState.evtQ);
    pstnCtlState.evtQ = MEMCIRCBUF_INVALID;
  }
  vosSemLiteDestroy(&pstnEvtQSem);
}

PSTN_CTL_STATUS pstnCtlInit(VRG_COUNTRY country, PSTN_CTL_CALLBACK callback) {
  if (pstnCtlStateInit(country, callback) != PSTN_CTL_SUCCESS) return PSTN_CTL_FAILURE;
  stopRequested.store(false, std::memory_order_release);
  VOS_TASK_EXTENDED_ARG arg{VOS_TASK_AFFINITY_ALL_TP, nullptr};
  if (vosTaskCreateMain("PSTN", kPstnStackSize, VOS_TASK_CLASS_LOW, nullptr, pstnTaskMain, nullptr, &arg,
                        &pstnCtlState.taskId, VOS_FALSE, VOS_TASKSTART_RUNNING) != VOS_STATUS_OK) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Error creating PSTN_CTL task");
    pstnCtlStateDeinit();
    return PSTN_CTL_FAILURE;
  }
  taskStarted = true;
  return PSTN_CTL_SUCCESS;
}

PSTN_CTL_STATUS pstnCtlDeinit(void) {
  stopTask();
  pstnCtlStateDeinit();
  log(VOICE_LOGLEVEL_INFO, "EPT: PSTN_CTL shutdown complete!");
  return PSTN_CTL_SUCCESS;
}

PSTN_CTL_STATUS pstnCtlEndptInit(uint16_t vhdHdl) {
  std::lock_guard<std::mutex> guard(channelLock);
  if (pstnCtlState.numChannels >= PSTN_CTL_MAX_CHANNELS) return PSTN_CTL_FAILURE;
  PSTN_CTL_CHAN_INFO& chan = pstnCtlState.chanState[pstnCtlState.numChannels++];
  chan.vhdHdl = vhdHdl;
  chan.state = PSTN_CTL_CHAN_STATE_IDLE;
  chan.timeoutCount = 0;
  return PSTN_CTL_SUCCESS;
}

PSTN_CTL_STATUS pstnCtlSendEvent(const PSTN_CTL_EVT* event) {
  if (pstnCtlState.evtQ == MEMCIRCBUF_INVALID) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: pstnCtlSendEvent: NULL QiD!");
    return PSTN_CTL_FAILURE;
  }
  if (event == nullptr) return PSTN_CTL_FAILURE;
  PSTN_CTL_QUEUE_RECORD rec{};
  rec.vhdHdl = event->hsxdevhdl;
  rec.event = event->hsxevt;
  rec.op1 = event->hsxop1;
  const void* data = event->hsxop2.ref;
  if (data != nullptr && event->hsxevt == PSTN_CTL_EVT_CALL_SETUP) {
    // A dial string of 32 characters or more is dropped by the task; copy no more than that.
    const size_t length = strnlen(static_cast<const char*>(data), PSTN_CTL_DIALSTRING_SIZE);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) return PSTN_CTL_FAILURE;
    std::memcpy(copy, data, length);
    copy[length] = '\0';
    if (length == PSTN_CTL_DIALSTRING_SIZE) copy[0] = '\0';  // too long: dial nothing
    rec.text = reinterpret_cast<uintptr_t>(copy);
  } else if (data != nullptr && event->hsxevt == PSTN_CTL_EVT_CPTONE_DETECT) {
    auto* slot = static_cast<uint8_t*>(std::malloc(1));
    if (slot == nullptr) return PSTN_CTL_FAILURE;
    *slot = *static_cast<const uint8_t*>(data);
    rec.text = reinterpret_cast<uintptr_t>(slot);
  }
  if (memCircBufWrite(pstnCtlState.evtQ, &rec, sizeof rec) != BUF_STATUS_OK) {
    freeRecordText(rec);
    return PSTN_CTL_FAILURE;
  }
  vosSemLiteGive(&pstnEvtQSem);
  return PSTN_CTL_SUCCESS;
}
