// DECT line coordination. A DECT line has no phone wired to it: its handset is reached through
// the DECT manager ("dect" on ubus). PBX requests that need the handset are sent to the DECT
// manager one at a time and answered when it has answered; DECT-manager requests become
// simulated hook events and keypad digits and are answered when the PBX has acknowledged the
// line event they caused. Terminal numbers count from 1 (terminal = line + 1).

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sched.h>

#include "orvoxd.h"

namespace {

constexpr int MAX_KEYPAD_DIGITS = 100;
constexpr int IGNORE_HOOK_FOREVER = 65535;
constexpr int HOOK_WAIT_MS = 2000;
constexpr long HOOK_POLL_NS = 500000;  // how often a hook wait looks again
// A handset's request waits for the PBX to acknowledge the line events it caused; each of them is
// acknowledged or timed out within the PBX's time-out, so a request still waiting a second after
// that waits for an event that will never come.
constexpr time_t PBX_ACK_BOUND_S = ASTERISK_TIMEOUT_S + 1;

tl_list_t* dectLineReqs;  // PBX-side requests waiting to be sent to the DECT manager
tl_list_t* pbxLineReqs;   // DECT-manager requests waiting for the PBX's acknowledgement
int dectOngoingReqs;
int lineReqCmp = -1;  // key of the one search of pbxLineReqs in progress

int pbxLineReqIter(void* item) { return static_cast<lineReq_t*>(item)->line == lineReqCmp; }

lineReq_t* findPbxLineReq(int line) {
  assert(lineReqCmp == -1);
  lineReqCmp = line;
  auto* req = static_cast<lineReq_t*>(tl_list_find(pbxLineReqs, pbxLineReqIter));
  lineReqCmp = -1;
  return req;
}

bool isDectLine(int line) { return lines[line].epHandle.endptType == EPTYPE_DECT; }

VRG_ENDPT* stateOf(int line) { return GetEndptState(lines[line].epHandle.lineId); }

lineReq_t* newLineReq(int line, int conId, line_action_t action, const ubusReq_t* ubusReq) {
  auto* req = static_cast<lineReq_t*>(calloc(1, sizeof(lineReq_t)));
  if (!req) return nullptr;
  req->line = line;
  req->conId = conId;
  req->action = action;
  req->deadline.fd = -1;
  if (ubusReq) req->ubus = *ubusReq;
  return req;
}

// Copies the request record into the lineReq_t and defers the incoming request there, so that
// the handler returns 0 and the late reply goes through the copy.
void deferInto(lineReq_t* req, const ubusReq_t* ubusReq) {
  req->ubus = *ubusReq;
  ubus_defer(&req->ubus);
}

int queueCordhubReq(lineReq_t* req) {
  logRequest("Adding lineReq %p to list for cordhub2", static_cast<void*>(req));
  tl_list_add(dectLineReqs, req);
  return 0;
}

int queuePbxReq(lineReq_t* req) {
  dectOngoingReqs++;
  logRequest("Adding lineReq %p to list for pbx, reqs %d", static_cast<void*>(req), dectOngoingReqs);
  tl_list_add(pbxLineReqs, req);
  return 0;
}

void decrementOngoing() {
  if (dectOngoingReqs > 0) dectOngoingReqs--;
}

void pbxWaitExpired(tl_stream_t* stream, tl_event_t*);

// Defers a handset's request and lets it wait, bounded, for the PBX's acknowledgement; -1 (and
// the request is the caller's to answer) when its timer cannot be had.
int deferForPbx(lineReq_t* req, const ubusReq_t* ubusReq) {
  if (loopTimerStart(&req->deadline, PBX_ACK_BOUND_S, pbxWaitExpired, "Error creating ubus timer",
                     "Error setting ubus timer") != 0) {
    free(req);
    return -1;
  }
  deferInto(req, ubusReq);
  return queuePbxReq(req);
}

// Answers a handset's request that waited for the PBX and forgets it.
void answerPbxReq(lineReq_t* req, int status) {
  send_reply_cordhub(&req->ubus, endptToDectLine(req->line), req->line, status);
  tl_list_delete(pbxLineReqs, req);
  loopTimerStop(&req->deadline, pbxWaitExpired);
  decrementOngoing();
  free(req);
}

const tl_stream_t* deadlineCmp;  // key of the one search by timer in progress

int pbxReqDeadlineIter(void* item) {
  return static_cast<lineReq_t*>(item)->deadline.stream == deadlineCmp;
}

// Nothing acknowledged what the handset's request is waiting for: it is answered with the
// time-out status, and the requests queued behind it go on.
void pbxWaitExpired(tl_stream_t* stream, tl_event_t*) {
  if (!pbxLineReqs) return;
  deadlineCmp = stream;
  auto* req = static_cast<lineReq_t*>(tl_list_find(pbxLineReqs, pbxReqDeadlineIter));
  deadlineCmp = nullptr;
  if (!req || !loopTimerExpired(&req->deadline, "Error, reading timer fd")) return;
  logRequest("Timeout waiting for the PBX on line %d", req->line);
  answerPbxReq(req, UBUS_STATUS_TIMEOUT);
  notifyCordhubWhilePending();
}

// Queues a PBX-side request for the DECT manager and defers the PBX's ubus request.
int queueAndDefer(lineReq_t* req, const ubusReq_t* ubusReq) {
  deferInto(req, ubusReq);
  queueCordhubReq(req);
  return perhapsNotifyCordhub() != 0 ? -1 : 0;
}

// "callid" value: a date field of eight characters, a comma, a blank, then the number up to the
// next comma.
void extractCallerNumber(const char* value, char* out, size_t size) {
  out[0] = '\0';
  if (!value) return;
  size_t len = strlen(value);
  if (len < 14 || len > 120 || value[8] != ',' || value[11] == ',') return;
  const char* start = value + 10;
  const char* end = strchr(start, ',');
  size_t n = end ? static_cast<size_t>(end - start) : strlen(start);
  if (n >= size) n = size - 1;
  memcpy(out, start, n);
  out[n] = '\0';
}

int64_t monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int setDectOnhook(int line);

int setDectOffhook(int line) {
  VRG_ENDPT* state = stateOf(line);
  if (!state) return -1;
  if (state->cnxCnt != 0 || isLineOffhook(line)) return 0;
  logRequest("%s() VRNK/%d", "setDectOffhook", line);
  bool ok = true;
  uint32_t forever = 65535;
  EPSTATUS st = vrgEndptProvSet(line, EPPROV_MinDisconnect, &forever, 4);
  if (st != EPSTATUS_SUCCESS) {
    logRequest("Error setting force onhook time %d: %s", line, strerror_endp(st));
    ok = false;
  }
  ok = ok && simulate_hook_event(&lines[line].epHandle, CAS_CTL_EVENT_EARLY_OFFHOOK) == 0;
  ok = ok && simulate_hook_event(&lines[line].epHandle, CAS_CTL_EVENT_OFFHOOK) == 0;
  ok = ok && casCtlIgnoreHookState(state->casCtlHandle, IGNORE_HOOK_FOREVER) == 0;
  if (!ok) {
    setDectOnhook(line);
    return -1;
  }
  logRequest("Simulated offhook for VRNK/%d/%c", line, '*');
  lines[line].simulatedHook = 1;
  return 0;
}

int setDectOnhook(int line) {
  VRG_ENDPT* state = stateOf(line);
  if (!state) return -1;
  if (state->cnxCnt > 1 || lines[line].simulatedHook == 0) return 0;
  logRequest("%s() VRNK/%d", "setDectOnhook", line);
  int res = 0;
  if (casCtlIgnoreHookState(state->casCtlHandle, 0) != 0) res = -1;
  if (simulate_hook_event(&lines[line].epHandle, CAS_CTL_EVENT_EARLY_ONHOOK) != 0) res = -1;
  else if (simulate_hook_event(&lines[line].epHandle, CAS_CTL_EVENT_ONHOOK) != 0) res = -1;
  if (vrgEndptProvSet(line, EPPROV_MinDisconnect, &lines[line].defMinDisconnect, 4) !=
      EPSTATUS_SUCCESS)
    res = -1;
  lines[line].simulatedHook = 0;
  return res;
}

int doDectHookFlash(int line) {
  VRG_ENDPT* state = stateOf(line);
  if (!state) return -1;
  if (state->cnxCnt == 0 || lines[line].simulatedHook == 0 || !isLineOffhook(line)) return 0;
  logRequest("%s() VRNK/%d", "doDectHookFlash", line);
  ENDPT_STATE* h = &lines[line].epHandle;
  bool ok = simulate_hook_event(h, CAS_CTL_EVENT_EARLY_ONHOOK) == 0 &&
            simulate_hook_event(h, CAS_CTL_EVENT_EARLY_OFFHOOK) == 0 &&
            simulate_hook_event(h, CAS_CTL_EVENT_FLASH) == 0 &&
            casCtlIgnoreHookState(state->casCtlHandle, IGNORE_HOOK_FOREVER) == 0;
  if (!ok) {
    setDectOnhook(line);
    return -1;
  }
  logRequest("Simulated hook flash (R-key) for VRNK/%d", line);
  return 0;
}

// The checks shared by the DECT manager's "add" and "release": a DECT line in range with state.
bool dectRequestLineOk(int line, const char* who) {
  if (line < 0 || line >= epInfo.numEndpoints || lines[line].epCap.endptType != EPTYPE_DECT)
    return false;
  logRequest("%s() %d", who, line);
  return stateOf(line) != nullptr;
}

void answerWaiting(tl_list_t* list, int status) {
  if (!list) return;
  while (auto* req = static_cast<lineReq_t*>(tl_list_get(list))) {
    send_reply_asterisk(&req->ubus, status);
    loopTimerStop(&req->deadline, pbxWaitExpired);
    free(req);
  }
  tl_list_free(list);
}

const endpt_event* eventRow(const line_event_t* ev) {
  for (const endpt_event* row = event_map; row->name[0]; row++)
    if (row->name == ev->name) return row;
  return nullptr;
}

}  // namespace

int lineDectInit(void) {
  dectLineReqs = tl_list_new();
  pbxLineReqs = tl_list_new();
  lineReqCmp = -1;
  return 0;
}

int lineDectClose(void) {
  answerWaiting(dectLineReqs, UBUS_STATUS_CONNECTION_FAILED);
  answerWaiting(pbxLineReqs, UBUS_STATUS_CONNECTION_FAILED);
  dectLineReqs = nullptr;
  pbxLineReqs = nullptr;
  dectOngoingReqs = 0;
  return 0;
}

int lineRingReqByPbx(int line, EPSIG signal, const char* value, ubusReq_t* ubusReq) {
  if (!isDectLine(line)) return lineRingAnalog(line, signal, value);
  assert(ubusReq);
  bool on = value && strcmp(value, "0") != 0;
  line_action_t action;
  char callId[sizeof(lineReq_t::callId)] = "";
  switch (signal) {
    case EPSIG_RINGING:
      action = on ? ACTION_SIG_RING : ACTION_CONN_CLOSE;
      break;
    case EPSIG_CALLID_RINGING:
      if (on) return 0;
      action = ACTION_CONN_CLOSE;
      break;
    case EPSIG_CALLID:
      action = on ? ACTION_SIG_RING : ACTION_CONN_CLOSE;
      if (on) extractCallerNumber(value, callId, sizeof(callId));
      break;
    default:
      return 1;
  }
  lineReq_t* req = newLineReq(line, -1, action, nullptr);
  if (!req) return 1;
  memcpy(req->callId, callId, sizeof(callId));
  assert(lines[line].epHandle.endptType == EPTYPE_DECT);
  lines[line].dectRingOn = action == ACTION_SIG_RING;
  return queueAndDefer(req, ubusReq) == 0 ? 0 : 1;
}

int lineNewConnectionByPbx(int line, int conId, ubusReq_t* ubusReq) {
  if (line < 0 || line >= epInfo.numEndpoints) return -1;
  VRG_ENDPT* state = stateOf(line);
  if (!state) return -1;
  logRequest("%s()", "lineNewConnectionByPbx");
  if (!isDectLine(line) || isLineOffhook(line) || state->cnxCnt != 0)
    return connection_create(line, conId);
  lineReq_t* req = newLineReq(line, conId, ACTION_CONN_CREATE, nullptr);
  if (!req) return -1;
  return queueAndDefer(req, ubusReq);
}

int lineCloseConnectionByPbx(int line, int conId, ubusReq_t* ubusReq) {
  if (line < 0 || line >= epInfo.numEndpoints) return -1;
  logRequest("%s()", "lineCloseConnectionByPbx");
  if (!isDectLine(line)) return connection_close(line, conId);
  lineReq_t* req = newLineReq(line, conId, ACTION_CONN_CLOSE, nullptr);
  if (!req) return -1;
  return queueAndDefer(req, ubusReq);
}

// The release goes through the queue like the PBX's own, after what it asked before leaving;
// nobody waits for its answer. A line with a connection is a call the handset took up (or the DECT
// manager set up for the PBX): it is released once, whether or not a ring was on before.
void lineDectReleaseForPbx(const pbxHeld_t* held) {
  if (!dectLineReqs) return;
  for (int line = 0; line < epInfo.numEndpoints; line++) {
    const bool call = isDectLine(line) && pbxHeldConnectionOn(held, line);
    if (!pbxHeldRingOn(held, line) && !call) continue;
    lines[line].dectRingOn = false;
    lineReq_t* req = newLineReq(line, -1, ACTION_CONN_CLOSE, nullptr);
    if (!req) continue;
    logRequest(call ? "Releasing the DECT call the PBX left on line %d"
                    : "Releasing the ring the PBX left on line %d",
               line);
    queueCordhubReq(req);
  }
  notifyCordhubWhilePending();
}

void notifyCordhubWhilePending(void) {
  // A request that cannot be sent is dropped (and its PBX answered): try the next one.
  while (perhapsNotifyCordhub() != 0) {
  }
}

int perhapsNotifyCordhub(void) {
  if (dectOngoingReqs > 0 || !dectLineReqs) return 0;
  auto* req = static_cast<lineReq_t*>(tl_list_get(dectLineReqs));
  if (!req) return 0;
  logRequest("Poped dect lineReq %p from list, action %d", static_cast<void*>(req), req->action);
  int terminal = endptToDectLine(req->line);
  int res;
  if (req->action == ACTION_CONN_CLOSE)
    res = ubus_call_cordhub(terminal, -1, req->line, req->callId, req);
  else
    res = ubus_call_cordhub(terminal, req->line, -1, req->callId, req);
  if (res != 0) {
    // The PBX's deferred request is answered before the record goes.
    send_reply_asterisk(&req->ubus, UBUS_STATUS_UNKNOWN_ERROR);
    free(req);
    return -1;
  }
  dectOngoingReqs++;
  return 0;
}

int cordhubAnswered(lineReq_t* req, int status) {
  logRequest("Got answer lineReq %p from cordhub2", static_cast<void*>(req));
  int reply = status;
  switch (req->action) {
    case ACTION_CONN_CREATE:
      if (status == 0)
        reply = connection_create(req->line, req->conId) == 0 ? UBUS_STATUS_OK
                                                              : UBUS_STATUS_UNKNOWN_ERROR;
      break;
    case ACTION_CONN_CLOSE:
      reply = connection_close(req->line, req->conId) == 0 ? UBUS_STATUS_OK
                                                           : UBUS_STATUS_UNKNOWN_ERROR;
      break;
    case ACTION_SIG_RING:
      if (status != 0) lines[req->line].dectRingOn = false;  // nothing rings to release later
      break;
  }
  send_reply_asterisk(&req->ubus, reply);
  decrementOngoing();
  free(req);
  return 0;
}

int lineNewConnectionByDect(int line, const char* cid, ubusReq_t* ubusReq) {
  if (!dectRequestLineOk(line, "lineNewConnectionByDect")) return -1;
  lines[line].dectRingOn = false;  // answered: a call now, no longer a ring
  VRG_ENDPT* state = stateOf(line);
  // The same test as the off-hook simulation's: such a line is taken up already.
  const bool takenUp = state->cnxCnt != 0 || isLineOffhook(line);
  if (perhapsSimulateHook(line, EPEVT_OFFHOOK) != 0) return -1;
  const int played = perhapsSimulateKeypad(line, cid);
  if (played == -1) return -1;
  // No line event follows, so no acknowledgement either: the line already is as wanted.
  if (takenUp && played == 0)
    return send_reply_cordhub(ubusReq, endptToDectLine(line), line, UBUS_STATUS_OK);
  lineReq_t* req = newLineReq(line, -1, ACTION_CONN_CREATE, nullptr);
  if (!req) return -1;
  return deferForPbx(req, ubusReq);
}

int lineCloseConnectionByDect(int line, ubusReq_t* ubusReq) {
  if (!dectRequestLineOk(line, "lineCloseConnectionByDect")) return -1;
  lines[line].dectRingOn = false;
  if (!isLineOffhook(line))
    return send_reply_cordhub(ubusReq, endptToDectLine(line), line, UBUS_STATUS_OK);
  if (perhapsSimulateHook(line, EPEVT_ONHOOK) != 0) return -1;
  // Still off-hook: another connection holds the line, and no on-hook event will follow.
  if (isLineOffhook(line))
    return send_reply_cordhub(ubusReq, endptToDectLine(line), line, UBUS_STATUS_OK);
  lineReq_t* req = newLineReq(line, -1, ACTION_CONN_CLOSE, nullptr);
  if (!req) return -1;
  return deferForPbx(req, ubusReq);
}

int pbxAnswered(const line_event_t* ev, int status) {
  logLineEvent("%s()", "pbxAnswered");
  int line = static_cast<int>(ev->line);
  if (!lines || line < 0 || line >= epInfo.numEndpoints) return 0;
  if (lines[line].simulatedHook) {
    VRG_ENDPT* state = stateOf(line);
    if (!state || casCtlIgnoreHookState(state->casCtlHandle, IGNORE_HOOK_FOREVER) != 0)
      logRequest("Can't ignore hook for line %d", line);
  }
  const endpt_event* row = eventRow(ev);
  if (!row || !pbxLineReqs) return 0;
  lineReq_t* lineReq = findPbxLineReq(line);
  if (!lineReq) return 0;
  assert(lineReq->ubus.ctx);
  logRequest("Poped pbx lineReq %p %d %s from list, action %d", static_cast<void*>(lineReq), line,
         ev->name, lineReq->action);

  if (status == 0) {
    if (lineReq->action == ACTION_CONN_CREATE) {
      bool digit = row->event >= EPEVT_DTMF0 && row->event <= EPEVT_DTMFD;
      bool keyEvent = digit || row->event == EPEVT_OFFHOOK || row->event == EPEVT_FLASH;
      if (!keyEvent) return 0;
      int played = perhapsSimulateKeypad(line, nullptr);
      if (played == -1) return -1;
      if (played == 1) {
        // Progress: the next digits have their own time to be acknowledged.
        loopTimerRearm(&lineReq->deadline, PBX_ACK_BOUND_S);
        return 0;
      }
    } else if (lineReq->action == ACTION_CONN_CLOSE) {
      if (row->event != EPEVT_ONHOOK) return 0;
    }
  }
  answerPbxReq(lineReq, status);
  return 0;
}

int perhapsSimulateHook(int line, EPEVT event) {
  if (!isDectLine(line)) return 0;
  switch (event) {
    case EPEVT_OFFHOOK: return setDectOffhook(line);
    case EPEVT_ONHOOK: return setDectOnhook(line);
    case EPEVT_FLASH: return doDectHookFlash(line);
    default: return -1;
  }
}

int simulate_hook_event(ENDPT_STATE* epHandle, CAS_CTL_EVENT event) {
  VRG_ENDPT* state = GetEndptState(epHandle->lineId);
  if (!state) return -1;

  const std::atomic<uint16_t>* watched = nullptr;
  bool wantOff = false;
  switch (event) {
    case CAS_CTL_EVENT_ONHOOK:
    case CAS_CTL_EVENT_DELAY_ONHOOK:
      watched = &state->offHook;
      break;
    case CAS_CTL_EVENT_OFFHOOK:
    case CAS_CTL_EVENT_DELAY_OFFHOOK:
      watched = &state->offHook;
      wantOff = true;
      break;
    case CAS_CTL_EVENT_EARLY_ONHOOK:
      watched = &state->earlyOffHook;
      break;
    case CAS_CTL_EVENT_EARLY_OFFHOOK:
      watched = &state->earlyOffHook;
      wantOff = true;
      break;
    default:
      break;
  }

  uint16_t before = watched ? readStable(watched) : 0;
  if (watched && (before != 0) == wantOff) return 0;
  if (vrgEndptSendCasEvt(epHandle, CAS_CTL_DETECT_EVENT, event) != EPSTATUS_SUCCESS) {
    logRequest("Failed CAS event VRNK/%d/%c", epHandle->lineId, '*');
    return -1;
  }
  if (!watched) {
    sched_yield();
    return 0;
  }
  // Wait until the dispatcher has processed the event, but never for ever. The dispatcher gets to
  // it within a few of the hook machine's 10 ms rounds: the loop sleeps meanwhile rather than
  // spinning, so that a handset manager's burst of requests does not burn the processor the
  // threads that do the work need.
  int64_t deadline = monotonicMs() + HOOK_WAIT_MS;
  while (readStable(watched) == before) {
    if (monotonicMs() >= deadline) return -1;
    const struct timespec pause {0, HOOK_POLL_NS};
    nanosleep(&pause, nullptr);
  }
  return 0;
}

int perhapsSimulateKeypad(int line, const char* digits) {
  if (!isDectLine(line)) return 0;
  logRequest("%s() line %d %s", "perhapsSimulateKeypad", line, logText(digits).text);
  if (digits) {
    char* copy = strndup(digits, MAX_KEYPAD_DIGITS);
    if (copy) {
      tl_list_add(lines[line].pendKeyp, copy);
      logRequest("Queueing line %d digits %s", line, logText(copy).text);
    }
  }
  if (!isLineOffhook(line)) return 0;
  auto* next = static_cast<char*>(tl_list_get(lines[line].pendKeyp));
  if (!next) return 0;
  logRequest("Dequeued line %d digits %s", line, logText(next).text);
  int res = lineSignal(line, "keypad", next, nullptr);
  free(next);
  return res == 0 ? 1 : -1;
}

int perhaps_simulate_busy(int line, ubusReq_t* ubusReq) {
  assert(ubusReq && ubusReq->reqIn);
  uint32_t peer = ubusReq->reqIn->peer;
  if (peer == lines[line].simulatedBusyPeerId) return 0;
  lines[line].simulatedBusyPeerId = peer;
  static const char* const sequence[] = {"EARLY_OFFHOOK", "OFFHOOK"};
  for (const char* name : sequence) {
    const endpt_event* row = event_map;
    while (row->name[0] && strcmp(row->name, name) != 0) row++;
    auto* ev = static_cast<line_event_t*>(malloc(sizeof(line_event_t)));
    if (!ev) continue;
    ev->name = row->name;
    ev->data = 0;
    ev->line = static_cast<uint32_t>(line);
    if (send_event_main(ev, 'E') != 0) free(ev);
  }
  return 0;
}
