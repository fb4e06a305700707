// dectsim: the DECT handset manager's side of the daemon. Registers the ubus object "dect" with
// method "call", prints every call and answers it: at once with a status (default 0), or never
// (--no-answer), so that the daemon's own time-out completes it.
//
//   dectsim [-s socket] [--status n] [--no-answer]

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <libubox/blobmsg.h>

#include "simcommon.h"

namespace {

const char* socketPath;
int answerStatus = 0;
bool noAnswer = false;
std::vector<struct ubus_request_data> heldRequests;

enum { CALL_TERMINAL, CALL_ADD, CALL_RELEASE, CALL_CID, __CALL_MAX };
const struct blobmsg_policy call_policy[] = {
    {"terminal", BLOBMSG_TYPE_INT32},
    {"add", BLOBMSG_TYPE_INT32},
    {"release", BLOBMSG_TYPE_INT32},
    {"cid", BLOBMSG_TYPE_STRING},
};

int intOr(struct blob_attr* attr, int fallback) {
  return attr ? static_cast<int>(blobmsg_get_u32(attr)) : fallback;
}

int onCall(struct ubus_context* ctx, struct ubus_object*, struct ubus_request_data* req,
           const char*, struct blob_attr* msg) {
  struct blob_attr* tb[__CALL_MAX];
  blobmsg_parse(call_policy, __CALL_MAX, tb, blob_data(msg), blob_len(msg));
  int terminal = intOr(tb[CALL_TERMINAL], -1);
  printf("dect call terminal=%d add=%d release=%d cid=%s\n", terminal, intOr(tb[CALL_ADD], -1),
         intOr(tb[CALL_RELEASE], -1), tb[CALL_CID] ? blobmsg_get_string(tb[CALL_CID]) : "");
  fflush(stdout);
  if (noAnswer) {
    heldRequests.emplace_back();
    ubus_defer_request(ctx, req, &heldRequests.back());
    return UBUS_STATUS_OK;
  }
  // A successful call is answered with data and status, a failed one with its status alone.
  if (answerStatus == 0) {
    struct blob_buf b {};
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "terminal", terminal);
    blobmsg_add_u32(&b, "errno", 0);
    ubus_send_reply(ctx, req, b.head);
    blob_buf_free(&b);
  }
  return answerStatus;
}

const struct ubus_method dect_methods[] = {
    UBUS_METHOD("call", onCall, call_policy),
};
struct ubus_object_type dect_type = UBUS_OBJECT_TYPE("dect", dect_methods);
struct ubus_object dectObj = {};

void usage() {
  fprintf(stderr, "usage: dectsim [-s socket] [--status n] [--no-answer]\n");
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "-s" && i + 1 < argc) socketPath = argv[++i];
    else if (a == "--status" && i + 1 < argc) {
      // A ubus status: a whole number from 0 to 255.
      char* end = nullptr;
      errno = 0;
      const long status = strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || errno != 0 || status < 0 || status > 255) {
        fprintf(stderr, "dectsim: --status needs a number from 0 to 255, not \"%s\"\n", argv[i]);
        usage();
      }
      answerStatus = static_cast<int>(status);
    }
    else if (a == "--no-answer") noAnswer = true;
    else usage();
  }
  struct ubus_context* ctx = sim::connectOrExit(socketPath, "dectsim");
  dectObj.name = "dect";
  dectObj.type = &dect_type;
  dectObj.methods = dect_methods;
  dectObj.n_methods = 1;
  if (ubus_add_object(ctx, &dectObj) != 0) {
    fprintf(stderr, "dectsim: cannot register \"dect\"\n");
    return 1;
  }
  printf("dectsim ready\n");
  const bool stopped = sim::runLoop(ctx, {});
  if (stopped) ubus_remove_object(ctx, &dectObj);
  ubus_free(ctx);
  return stopped ? 0 : 1;
}
