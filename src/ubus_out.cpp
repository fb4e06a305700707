// The daemon's ubus connection and everything it sends on it: line events to "asterisk" (method
// "event") and as the broadcast "asterisk.endpoint", call requests to "dect", late replies to
// deferred requests, and one time-out per asynchronous request (5 s for "asterisk", 15 s for
// "dect"). libubus is driven from the daemon's own loop through the context's socket.

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <libubox/blobmsg.h>

#include "loop_timer.h"
#include "orvoxd.h"

struct ubus_context* ctx;
uint32_t asterisk_id;
uint32_t cordhub_id;

const char asterisk_path[] = "asterisk";
const char cordhub_path[] = "dect";

namespace {

const char broadcast_path[] = "asterisk.endpoint";

struct outstandingReq_t {
  const char* dest;  // asterisk_path, cordhub_path or null
  loopTimer_t timer;
  struct ubus_request* ubusReq;
};

tl_stream_t* ubus_stream;
tl_list_t* outstandingReqs;

// Key of the one list search in progress; searches never nest.
const void* outReqCmp;

int outstReqUbusIter(void* item) {
  return static_cast<outstandingReq_t*>(item)->ubusReq == outReqCmp;
}

int outstReqStreamIter(void* item) {
  auto* rec = static_cast<outstandingReq_t*>(item);
  return rec->timer.stream && rec->timer.stream == outReqCmp;
}

outstandingReq_t* findOutstanding(const void* key, int (*predicate)(void*)) {
  assert(!outReqCmp);
  outReqCmp = key;
  auto* rec = static_cast<outstandingReq_t*>(tl_list_find(outstandingReqs, predicate));
  outReqCmp = nullptr;
  return rec;
}

void ubus_fd_handler(tl_stream_t*, tl_event_t*) { ubus_handle_event(ctx); }

void timerHandler(tl_stream_t* stream, tl_event_t*);

void releaseTimer(outstandingReq_t* rec) {
  loopTimerStop(&rec->timer, timerHandler);
  free(rec);
}

int addReqTimer(struct ubus_request* req) {
  auto* rec = static_cast<outstandingReq_t*>(calloc(1, sizeof(outstandingReq_t)));
  if (!rec) return -1;
  time_t seconds = 0;  // a request to any other peer is not timed
  if (cordhub_id && req->peer == cordhub_id) {
    seconds = CORDHUB_TIMEOUT_S;
    rec->dest = cordhub_path;
  } else if (asterisk_id && req->peer == asterisk_id) {
    seconds = ASTERISK_TIMEOUT_S;
    rec->dest = asterisk_path;
  }
  if (loopTimerStart(&rec->timer, seconds, timerHandler, "Error creating ubus timer",
                     "Error setting ubus timer") != 0) {
    free(rec);
    return -1;
  }
  rec->ubusReq = req;
  tl_list_add(outstandingReqs, rec);
  return 0;
}

int delReqTimer(struct ubus_request* req) {
  if (tinyBase < 0 || !outstandingReqs) return -1;
  outstandingReq_t* rec = findOutstanding(req, outstReqUbusIter);
  if (!rec) return -1;
  tl_list_delete(outstandingReqs, rec);
  releaseTimer(rec);
  return 0;
}

// Starts an asynchronous call; null (and nothing left behind) when it cannot be started.
struct ubus_request* startInvoke(uint32_t id, const char* method, struct blob_attr* msg) {
  auto* req = static_cast<struct ubus_request*>(calloc(1, sizeof(struct ubus_request)));
  if (req && ubus_invoke_async(ctx, id, method, msg, req) == 0) return req;
  logRequest("Error invoking");
  free(req);
  return nullptr;
}

// Hands a started request to libubus and arms its time-out. When the timer cannot be had the
// request is aborted and freed here, so that no callback can reach a released record.
int startTimedRequest(struct ubus_request* req) {
  ubus_complete_request_async(ctx, req);
  if (addReqTimer(req) == 0) return 0;
  ubus_abort_request(ctx, req);
  free(req);
  return -1;
}

void got_asterisk_complete(struct ubus_request* req, int ret) {
  logLineEvent("%s()", "got_asterisk_complete");
  req->status_code = ret;
  if (req->peer != asterisk_id || ret != 0) logLineEvent("Failed sending event to Asterisk");
  auto* ev = static_cast<line_event_t*>(req->priv);
  delReqTimer(req);
  // No object at the id the daemon knows: the PBX left and perhaps came back, the notices of it
  // lost. The event waits for a fresh look-up, and goes to the PBX the bus has then.
  const uint32_t peer = req->peer;
  free(req);
  if (ret == UBUS_STATUS_NOT_FOUND && ubus_pbx_not_found(ev, peer) == 0) return;
  pbxAnswered(ev, ret);
  free(ev);
  notifyCordhubWhilePending();
}

// Runs once per request: whichever of the data and the completion callbacks comes first.
void cordhubAnswerStep(struct ubus_request* req, int status) {
  auto* lineReq = static_cast<lineReq_t*>(req->priv);
  if (lineReq) {
    logRequest("Received ubus answer from Cordhub2 with data");
    cordhubAnswered(lineReq, status);
    req->priv = nullptr;
  }
  notifyCordhubWhilePending();
}

void got_cordhub_data(struct ubus_request* req, int type, struct blob_attr*) {
  if (type != 1 && type != 2) return;
  cordhubAnswerStep(req, ubus_data_status(req));
}

void got_cordhub_complete(struct ubus_request* req, int ret) {
  req->status_code = ret;
  if (ret == UBUS_STATUS_NOT_FOUND && req->peer == cordhub_id) ubus_dect_not_found();
  cordhubAnswerStep(req, ret);
  delReqTimer(req);
  free(req);
}

void timerHandler(tl_stream_t* stream, tl_event_t*) {
  outstandingReq_t* rec = findOutstanding(stream, outstReqStreamIter);
  if (!rec || !loopTimerExpired(&rec->timer, "Error, reading timer fd")) return;

  struct ubus_request* req = rec->ubusReq;
  const char* dest = rec->dest;
  req->status_code = UBUS_STATUS_TIMEOUT;
  ubus_abort_request(ctx, req);
  logRequest("Timeout ubus call to %s", dest ? dest : "");
  if (dest == cordhub_path) {
    cordhubAnswerStep(req, UBUS_STATUS_TIMEOUT);
    delReqTimer(req);
    free(req);
  } else if (dest == asterisk_path) {
    got_asterisk_complete(req, UBUS_STATUS_TIMEOUT);
  }
}

// The broker's notices of objects coming and going reach the daemon for every object on the bus;
// only those at the two paths it watches are of use, and the rest are dropped as they are read, so
// that a client churning objects costs the daemon next to nothing and never holds back the PBX's
// calls behind its notices. Any other event is kept.
bool noticeWanted(struct ubus_context*, const char* event, struct blob_attr* data) {
  if (strcmp(event, "ubus.object.add") != 0 && strcmp(event, "ubus.object.remove") != 0)
    return true;
  static const struct blobmsg_policy pathPolicy[] = {{"path", BLOBMSG_TYPE_STRING}};
  struct blob_attr* path = nullptr;
  if (blobmsg_parse(pathPolicy, 1, &path, blob_data(data), blob_len(data)) != 0 || !path)
    return true;
  const char* text = blobmsg_get_string(path);
  return strcmp(text, asterisk_path) == 0 || strcmp(text, cordhub_path) == 0;
}

void addEventFields(struct blob_buf* blob, const line_event_t* ev) {
  blobmsg_add_string(blob, "event", ev->name);
  blobmsg_add_u32(blob, "data", ev->data);
  blobmsg_add_u32(blob, "line", ev->line);
}

}  // namespace

int ubus_data_status(const struct ubus_request* req) {
  return req->status_code == UBUS_STATUS_NO_DATA ? UBUS_STATUS_OK : req->status_code;
}

int ubus_init(void) {
  ctx = ubus_connect(nullptr);
  if (!ctx) exit_failure("Failed to connect to ubus");
  ctx->connection_lost = ubus_connection_lost;
  ubus_stream = tl_stream_new(ctx->sock.fd);
  tl_stream_add_handler(ubus_stream, 0, ubus_fd_handler);
  tl_base_add_stream(tinyBase, ubus_stream);
  outstandingReqs = tl_list_new();
  ctx->event_wanted = noticeWanted;
  return outstandingReqs && ubus_peers_init() == 0 ? 0 : -1;
}

int ubus_call_asterisk(line_event_t* ev) {
  if (asterisk_id == 0) return ubus_pbx_event_waits(ev);
  logLineEvent("%s()", "ubus_call_asterisk");
  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return -1;
  addEventFields(&blob, ev);

  int res = -1;
  if (struct ubus_request* req = startInvoke(asterisk_id, "event", blob.head)) {
    req->complete_cb = got_asterisk_complete;
    req->priv = ev;
    res = startTimedRequest(req);
  }
  blob_buf_free(&blob);
  return res;
}

int ubus_broadcast_event(const line_event_t* ev) {
  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return -1;
  addEventFields(&blob, ev);
  int res = 0;
  if (ubus_send_event(ctx, broadcast_path, blob.head) != 0) {
    logRequest("Error sending ubus message %s", ev->name);
    res = -1;
  }
  blob_buf_free(&blob);
  return res;
}

int ubus_call_cordhub(int terminal, int add, int release, const char* cid, lineReq_t* lineReq) {
  if (cordhub_id == 0) return -1;
  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return -1;
  if (terminal >= 0) blobmsg_add_u32(&blob, "terminal", terminal);
  if (add >= 0) blobmsg_add_u32(&blob, "add", add);
  if (release >= 0) blobmsg_add_u32(&blob, "release", release);
  if (cid && *cid) blobmsg_add_string(&blob, "cid", cid);
  logRequest("Sending ubus request to Cordhub2 %d %d %d %s", terminal, add, release,
             logText(cid).text);

  int res = -1;
  if (struct ubus_request* req = startInvoke(cordhub_id, "call", blob.head)) {
    req->data_cb = got_cordhub_data;
    req->complete_cb = got_cordhub_complete;
    req->priv = lineReq;
    res = startTimedRequest(req);
  }
  blob_buf_free(&blob);
  return res;
}

void ubus_defer(ubusReq_t* ubusReq) {
  if (!ubusReq->reqIn) return;
  ubus_defer_request(ubusReq->ctx, ubusReq->reqIn, &ubusReq->reqOut);
  ubusReq->reqIn = nullptr;
}

int send_reply_asterisk(ubusReq_t* ubusReq, int status) {
  if (!ubusReq->ctx) return 0;  // the daemon's own request (a departed PBX's ring released)
  logRequest("Sending ubus reply to Asterisk");
  ubus_complete_deferred_request(ubusReq->ctx, &ubusReq->reqOut, status);
  return 0;
}

int send_reply_cordhub(ubusReq_t* ubusReq, int terminal, int pcm, int status) {
  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return -1;
  unsigned errnoField = status ? 1 : 0;
  if (terminal >= 0) blobmsg_add_u32(&blob, "terminal", terminal);
  blobmsg_add_u32(&blob, "pcm", pcm);
  blobmsg_add_u32(&blob, "errno", errnoField);
  logRequest("Sending ubus reply to Cordhub2 term %d pcm %d stat %u", terminal, pcm, errnoField);
  ubus_defer(ubusReq);
  ubus_send_reply(ubusReq->ctx, &ubusReq->reqOut, blob.head);
  ubus_complete_deferred_request(ubusReq->ctx, &ubusReq->reqOut, status);
  blob_buf_free(&blob);
  return 0;
}

void ubus_answer_waiting(void) {
  if (outstandingReqs) {
    for (tl_list_node_t* node = outstandingReqs->first; node; node = node->next) {
      auto* rec = static_cast<outstandingReq_t*>(node->item);
      if (rec->dest != cordhub_path || !rec->ubusReq->priv) continue;
      auto* lineReq = static_cast<lineReq_t*>(rec->ubusReq->priv);
      rec->ubusReq->priv = nullptr;
      send_reply_asterisk(&lineReq->ubus, UBUS_STATUS_CONNECTION_FAILED);
      free(lineReq);
    }
  }
  lineDectClose();
}

int ubus_close(void) {
  if (tinyBase < 0 || !outstandingReqs) return -1;
  ubus_peers_close();
  while (auto* rec = static_cast<outstandingReq_t*>(tl_list_get(outstandingReqs))) {
    struct ubus_request* req = rec->ubusReq;
    req->status_code = UBUS_STATUS_TIMEOUT;
    ubus_abort_request(ctx, req);
    // A PBX request still waiting behind a call to the DECT manager is answered like every
    // other waiting request at shutdown.
    if (rec->dest == cordhub_path && req->priv) {
      auto* lineReq = static_cast<lineReq_t*>(req->priv);
      send_reply_asterisk(&lineReq->ubus, UBUS_STATUS_CONNECTION_FAILED);
      free(lineReq);
    } else if (rec->dest == asterisk_path) {
      free(req->priv);
    }
    free(req);
    releaseTimer(rec);
  }
  return 0;
}
