// The "endpt" ubus object: registration with the two object listeners, argument policies, the
// five method handlers and their immediate replies. Replies that wait for another process go
// through the request record (ubusReq_t) and the deferral helpers of ubus_out.cpp.

#include <cstdio>
#include <cstring>
#include <ctime>

#include <libubox/blobmsg.h>

#include "orvoxd.h"

namespace {

enum { COUNT_EFFECTIVE, __COUNT_MAX };
enum { SIGNAL_LINE, SIGNAL_TYPE, SIGNAL_STATE, SIGNAL_DATA, __SIGNAL_MAX };
enum { CONNECTION_LINE, CONNECTION_ID, CONNECTION_ACTION, __CONNECTION_MAX };
enum { STATUS_LINE, __STATUS_MAX };
enum { DECT_TERM, DECT_ADD, DECT_REL, DECT_CID, __DECT_MAX };

const struct blobmsg_policy request_count_policy[] = {
    {"effective", BLOBMSG_TYPE_BOOL},
};
const struct blobmsg_policy request_signal_policy[] = {
    {"line", BLOBMSG_TYPE_INT32},
    {"signal", BLOBMSG_TYPE_STRING},
    {"state", BLOBMSG_TYPE_STRING},
    {"data", BLOBMSG_TYPE_STRING},
};
const struct blobmsg_policy request_connection_policy[] = {
    {"line", BLOBMSG_TYPE_INT32},
    {"id", BLOBMSG_TYPE_INT32},
    {"action", BLOBMSG_TYPE_STRING},
};
const struct blobmsg_policy request_status_policy[] = {
    {"line", BLOBMSG_TYPE_INT32},
};
const struct blobmsg_policy request_call_policy[] = {
    {"terminal", BLOBMSG_TYPE_INT32},
    {"add", BLOBMSG_TYPE_INT32},
    {"release", BLOBMSG_TYPE_INT32},
    {"cid", BLOBMSG_TYPE_STRING},
};

int isReceiveing;
struct ubus_event_handler ObjAddListener;
struct ubus_event_handler ObjRmListener;

// The request record every handler builds before handing a request on.
ubusReq_t makeUbusReq(struct ubus_context* context, struct ubus_request_data* req) {
  ubusReq_t ubusReq{};
  clock_gettime(CLOCK_MONOTONIC, &ubusReq.timeStamp);
  ubusReq.ctx = context;
  ubusReq.reqIn = req;
  return ubusReq;
}

int32_t asInt(struct blob_attr* attr) { return static_cast<int32_t>(blobmsg_get_u32(attr)); }

bool lineInRange(int line) { return line >= 0 && line < epInfo.numEndpoints; }

int ubus_request_count(struct ubus_context* context, struct ubus_object*,
                       struct ubus_request_data* req, const char*, struct blob_attr* msg) {
  ep_info_t counts{};
  if (getLineCounts(&counts) != 0) return UBUS_STATUS_UNKNOWN_ERROR;
  struct blob_attr* tb[__COUNT_MAX];
  if (blobmsg_parse(request_count_policy, __COUNT_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return UBUS_STATUS_INVALID_ARGUMENT;

  bool effectiveFalse = tb[COUNT_EFFECTIVE] && !blobmsg_get_bool(tb[COUNT_EFFECTIVE]);
  if (cordhub_id == 0 && !effectiveFalse) {
    counts.numEndpoints -= counts.numDectEndpoints;
    counts.numDectEndpoints = 0;
  }

  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return UBUS_STATUS_UNKNOWN_ERROR;
  blobmsg_add_u32(&blob, "num_endpoints", counts.numEndpoints);
  blobmsg_add_u32(&blob, "num_fxo_endpoints", counts.numFxoEndpoints);
  blobmsg_add_u32(&blob, "num_fxs_endpoints", counts.numFxsEndpoints);
  blobmsg_add_u32(&blob, "num_dect_endpoints", counts.numDectEndpoints);
  ubus_send_reply(context, req, blob.head);
  blob_buf_free(&blob);
  return UBUS_STATUS_OK;
}

void addLineStatus(struct blob_buf* blob, int visibleLine, int tableLine) {
  blobmsg_add_u32(blob, "line", visibleLine);
  blobmsg_add_u32(blob, "offhook", isLineOffhook(tableLine) ? 1 : 0);
}

int ubus_request_status(struct ubus_context* context, struct ubus_object*,
                        struct ubus_request_data* req, const char*, struct blob_attr* msg) {
  struct blob_attr* tb[__STATUS_MAX];
  if (blobmsg_parse(request_status_policy, __STATUS_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return UBUS_STATUS_INVALID_ARGUMENT;

  // Without the DECT manager the DECT lines, which occupy the first table entries, are hidden.
  int visible = epInfo.numEndpoints;
  int offset = 0;
  if (cordhub_id == 0) {
    visible -= epInfo.numDectEndpoints;
    offset = epInfo.numDectEndpoints;
  }

  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return UBUS_STATUS_UNKNOWN_ERROR;
  int status = UBUS_STATUS_OK;
  if (tb[STATUS_LINE]) {
    int line = asInt(tb[STATUS_LINE]);
    if (line < 0 || line >= visible) {
      logRequest("Error! No such line value: %d", line);
      status = UBUS_STATUS_INVALID_ARGUMENT;
    } else {
      addLineStatus(&blob, line, line + offset);
    }
  } else {
    void* array = blobmsg_open_array(&blob, "lines");
    for (int line = 0; line < visible; line++) {
      void* table = blobmsg_open_table(&blob, nullptr);
      addLineStatus(&blob, line, line + offset);
      blobmsg_close_table(&blob, table);
    }
    blobmsg_close_array(&blob, array);
  }
  ubus_send_reply(context, req, blob.head);
  blob_buf_free(&blob);
  return status;
}

int ubus_request_signal(struct ubus_context* context, struct ubus_object*,
                        struct ubus_request_data* req, const char*, struct blob_attr* msg) {
  struct blob_attr* tb[__SIGNAL_MAX];
  if (blobmsg_parse(request_signal_policy, __SIGNAL_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return UBUS_STATUS_INVALID_ARGUMENT;
  if (!tb[SIGNAL_LINE] || !tb[SIGNAL_TYPE] || !tb[SIGNAL_STATE]) {
    logRequest("Error! missing argument");
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  int line = asInt(tb[SIGNAL_LINE]);
  if (!lineInRange(line)) {
    logRequest("Error! No such line value: %d", line);
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  const char* signame = blobmsg_get_string(tb[SIGNAL_TYPE]);
  const char* state = blobmsg_get_string(tb[SIGNAL_STATE]);
  logRequest("%s() %d %s", "ubus_request_signal", line, logText(signame).text);

  const char* value;
  if (strcmp(state, "on") == 0) {
    value = tb[SIGNAL_DATA] ? blobmsg_get_string(tb[SIGNAL_DATA]) : "1";
  } else if (strcmp(state, "off") == 0) {
    value = "0";
  } else {
    logRequest("Error! invalid state %s", logText(state).text);
    return UBUS_STATUS_INVALID_ARGUMENT;
  }

  ubusReq_t ubusReq = makeUbusReq(context, req);
  return lineSignal(line, signame, value, &ubusReq) == 0 ? UBUS_STATUS_OK
                                                         : UBUS_STATUS_INVALID_ARGUMENT;
}

int ubus_request_connection(struct ubus_context* context, struct ubus_object*,
                            struct ubus_request_data* req, const char*, struct blob_attr* msg) {
  struct blob_attr* tb[__CONNECTION_MAX];
  if (blobmsg_parse(request_connection_policy, __CONNECTION_MAX, tb, blob_data(msg),
                    blob_len(msg)) != 0)
    return UBUS_STATUS_INVALID_ARGUMENT;
  if (!tb[CONNECTION_LINE] || !tb[CONNECTION_ID] || !tb[CONNECTION_ACTION]) {
    logRequest("Error! missing argument");
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  int line = asInt(tb[CONNECTION_LINE]);
  if (!lineInRange(line)) {
    logRequest("Error! No such line value: %d", line);
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  int id = asInt(tb[CONNECTION_ID]);
  if (id < 0) {
    logRequest("Error! Invalid connection id: %d", id);
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  const char* action = blobmsg_get_string(tb[CONNECTION_ACTION]);
  ubusReq_t ubusReq = makeUbusReq(context, req);
  logRequest("%s() %d %s", "ubus_request_connection", line, logText(action).text);

  int res;
  if (strcmp(action, "create") == 0) {
    // An id already held may be a PBX's that left unseen (a broker drops the notices to a client
    // whose queue is full): the bus is asked which PBX is there before the create is refused.
    if (find_connection_from_asterisk_id(line, id) >= 0) ubus_lookup_pbx();
    res = lineNewConnectionByPbx(line, id, &ubusReq);
  } else if (strcmp(action, "destroy") == 0) {
    res = lineCloseConnectionByPbx(line, id, &ubusReq);
  } else if (strcmp(action, "start_conference") == 0) {
    res = connection_conference_start(line, id);
  } else if (strcmp(action, "stop_conference") == 0) {
    res = connection_conference_stop(line, id);
  } else {
    logRequest("Error! No such action: %s", logText(action).text);
    return UBUS_STATUS_INVALID_ARGUMENT;
  }
  return res == 0 ? UBUS_STATUS_OK : UBUS_STATUS_UNKNOWN_ERROR;
}

int ubus_request_call(struct ubus_context* context, struct ubus_object*,
                      struct ubus_request_data* req, const char*, struct blob_attr* msg) {
  logRequest("%s()", "ubus_request_call");
  struct blob_attr* tb[__DECT_MAX];
  if (blobmsg_parse(request_call_policy, __DECT_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return UBUS_STATUS_INVALID_ARGUMENT;

  int terminal = -1;
  int pcm = -1;
  const char* cid = nullptr;
  if (tb[DECT_TERM]) {
    terminal = asInt(tb[DECT_TERM]);
    logRequest("call term %d", terminal);
  }
  if (tb[DECT_ADD]) {
    pcm = asInt(tb[DECT_ADD]);
    logRequest("call add %d", pcm);
  }
  if (tb[DECT_REL]) {
    pcm = asInt(tb[DECT_REL]);
    logRequest("call release %d", pcm);
  }
  if (tb[DECT_CID]) {
    cid = blobmsg_get_string(tb[DECT_CID]);
    logRequest("call cid %s", logText(cid).text);
  }
  if (pcm < 0 || pcm >= epInfo.numEndpoints) return UBUS_STATUS_INVALID_ARGUMENT;
  // Terminal numbers are checked before they are turned into lines.
  if (terminal < 0 || (!tb[DECT_REL] && !tb[DECT_ADD])) return UBUS_STATUS_INVALID_ARGUMENT;

  ubusReq_t ubusReq = makeUbusReq(context, req);
  int line = dectToEndptLine(terminal);
  int res = tb[DECT_REL] ? lineCloseConnectionByDect(line, &ubusReq)
                         : lineNewConnectionByDect(line, cid, &ubusReq);
  if (res == 0) return UBUS_STATUS_OK;
  send_reply_cordhub(&ubusReq, terminal, pcm, UBUS_STATUS_UNKNOWN_ERROR);
  return UBUS_STATUS_UNKNOWN_ERROR;
}

const struct ubus_method rpc_methods[] = {
    UBUS_METHOD("count", ubus_request_count, request_count_policy),
    UBUS_METHOD("signal", ubus_request_signal, request_signal_policy),
    UBUS_METHOD("connection", ubus_request_connection, request_connection_policy),
    UBUS_METHOD("status", ubus_request_status, request_status_policy),
    UBUS_METHOD("call", ubus_request_call, request_call_policy),
};

struct ubus_object_type rpc_obj_type = UBUS_OBJECT_TYPE("endpt", rpc_methods);

struct ubus_object rpcObj = [] {
  struct ubus_object obj {};
  obj.name = "endpt";
  obj.type = &rpc_obj_type;
  obj.methods = rpc_methods;
  obj.n_methods = sizeof(rpc_methods) / sizeof(rpc_methods[0]);
  return obj;
}();

// The broker sends its notices of objects coming and going as calls to the listener with peer 0;
// any client can call the listener by its id too, with any method name, and a library's event
// handler callback is not told who called. So the listener is an object of the daemon's own whose
// one method sees the caller, and only the broker is heard.
int objectNoticeMethod(struct ubus_context* context, struct ubus_object*,
                       struct ubus_request_data* req, const char* method, struct blob_attr* msg) {
  if (req->peer != 0) {
    logRequest("Ignoring %s from bus client %08x: only the bus announces objects",
               logText(method).text, req->peer);
    return UBUS_STATUS_PERMISSION_DENIED;
  }
  ubus_event_new_obj(context, nullptr, method, msg);
  return UBUS_STATUS_OK;
}

const struct ubus_method objectNoticeMethods[] = {
    {.name = nullptr, .handler = objectNoticeMethod, .mask = 0, .tags = 0, .policy = nullptr,
     .n_policy = 0},
};

int registerListener(struct ubus_event_handler* listener, const char* pattern) {
  memset(listener, 0, sizeof(*listener));
  // Published before registering, the object keeps its own method.
  listener->obj.methods = objectNoticeMethods;
  listener->obj.n_methods = 1;
  if (ubus_add_object(ctx, &listener->obj) != 0 ||
      ubus_register_event_handler(ctx, listener, pattern) != 0) {
    printf("Error registering ubus event handler %s", pattern);
    return -1;
  }
  return 0;
}

}  // namespace

// Terminal numbers count from 1; anything below maps to no line (-1).
int dectToEndptLine(int terminal) { return terminal < 1 ? -1 : terminal - 1; }
int endptToDectLine(int line) { return line + 1; }

int ubus_enable_receive(void) {
  if (!ctx) return -1;
  if (isReceiveing) return 0;
  isReceiveing = 1;
  if (registerListener(&ObjAddListener, "ubus.object.add") != 0) return -1;
  if (registerListener(&ObjRmListener, "ubus.object.remove") != 0) return -1;
  if (ubus_add_object(ctx, &rpcObj) != 0) {
    printf("Failed to register UBUS endpt object\n");
    return -1;
  }
  ubus_lookup_peers();
  return 0;
}

int ubus_disable_receive(void) {
  if (!ctx || !isReceiveing) return -1;
  int res = 0;
  if (ubus_remove_object(ctx, &rpcObj) != 0) {
    printf("Error deregistering ubus endpt object\n");
    res = -1;
  }
  if (ubus_unregister_event_handler(ctx, &ObjRmListener) != 0) {
    printf("Error deregistering ubus event handler %s", "ubus.object.remove");
    res = -1;
  }
  if (ubus_unregister_event_handler(ctx, &ObjAddListener) != 0) {
    printf("Error deregistering ubus event handler %s", "ubus.object.add");
    res = -1;
  }
  isReceiveing = 0;
  printf("UBUS receiver has been disabled\n");
  return res;
}
