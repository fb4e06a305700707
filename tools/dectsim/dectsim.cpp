// dectsim: the DECT handset manager's side of the daemon. Registers the ubus object "dect" with
// method "call", prints every call and answers it: at once with a status (default 0), or never
// (--no-answer), so that the daemon's own time-out completes it.
//
// --flood makes it a handset manager gone wild: for `seconds` it calls "endpt" "call" `rate`
// times a second for terminal `terminal` (add and release in turn) without waiting for the
// answers, then prints "flood sent N" and, once every call is answered, "flood answered N of N"
// with the count of failed answers (and how many of each status: "12x11" for twelve of 11) and
// the longest wait.
//
//   dectsim [-s socket] [--status n] [--no-answer] [--flood rate seconds terminal]

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <sys/timerfd.h>
#include <unistd.h>

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
  fprintf(stderr,
          "usage: dectsim [-s socket] [--status n] [--no-answer] [--flood rate seconds terminal]\n");
  exit(2);
}

// A whole number from `low` to `high`, or the usage text.
long wholeNumber(const char* option, const char* text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value < low || value > high) {
    fprintf(stderr, "dectsim: %s needs a number from %ld to %ld, not \"%s\"\n", option, low, high,
            text);
    usage();
  }
  return value;
}

using Clock = std::chrono::steady_clock;
constexpr int FLOOD_STEP_MS = 10;

struct FloodCall {
  struct ubus_request req {};
  Clock::time_point sent;
};

// The flood's calls in flight and its tallies.
struct Flood {
  long rate = 0;
  long seconds = 0;
  long terminal = 1;
  uint32_t endptId = 0;
  int timerFd = -1;
  long steps = 0;  // timer steps taken
  long sent = 0, answered = 0, failed = 0;
  std::map<int, long> failures;  // failed answers by status
  int64_t slowestMs = 0;
  std::deque<FloodCall> calls;  // a deque never moves its elements
  bool sendingDone = false;
};
Flood flood;

void floodReport() {
  if (!flood.sendingDone || flood.answered != flood.sent) return;
  std::string byStatus;
  for (const auto& [status, count] : flood.failures)
    byStatus += " " + std::to_string(count) + "x" + std::to_string(status);
  printf("flood answered %ld of %ld, failed %ld%s, slowest %lld ms\n", flood.answered, flood.sent,
         flood.failed, byStatus.c_str(), static_cast<long long>(flood.slowestMs));
  fflush(stdout);
}

void floodComplete(struct ubus_request* req, int status) {
  auto* call = static_cast<FloodCall*>(req->priv);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - call->sent);
  if (waited.count() > flood.slowestMs) flood.slowestMs = waited.count();
  flood.answered++;
  if (status != 0) {
    flood.failed++;
    flood.failures[status]++;
  }
  floodReport();
}

void floodSendOne(struct ubus_context* ctx) {
  struct blob_buf b {};
  blob_buf_init(&b, 0);
  blobmsg_add_u32(&b, "terminal", static_cast<uint32_t>(flood.terminal));
  blobmsg_add_u32(&b, flood.sent % 2 == 0 ? "add" : "release",
                  static_cast<uint32_t>(flood.terminal - 1));
  FloodCall& call = flood.calls.emplace_back();
  call.sent = Clock::now();
  if (ubus_invoke_async(ctx, flood.endptId, "call", b.head, &call.req) == 0) {
    call.req.complete_cb = floodComplete;
    call.req.priv = &call;
    ubus_complete_request_async(ctx, &call.req);
  } else {
    flood.answered++;
    flood.failed++;
    flood.failures[UBUS_STATUS_CONNECTION_FAILED]++;
  }
  flood.sent++;
  blob_buf_free(&b);
}

// One timer step: the calls due by now, so that the rate holds however late the step runs.
void floodStep(struct ubus_context* ctx) {
  uint64_t expirations = 0;
  if (read(flood.timerFd, &expirations, sizeof expirations) != sizeof expirations) return;
  if (flood.sendingDone) return;
  flood.steps += static_cast<long>(expirations);
  const long total = flood.rate * flood.seconds;
  long due = flood.rate * flood.steps * FLOOD_STEP_MS / 1000;
  if (due > total) due = total;
  while (flood.sent < due) floodSendOne(ctx);
  if (flood.sent < total) return;
  flood.sendingDone = true;
  struct itimerspec off {};
  timerfd_settime(flood.timerFd, 0, &off, nullptr);
  printf("flood sent %ld\n", flood.sent);
  fflush(stdout);
  floodReport();
}

bool floodStart(struct ubus_context* ctx) {
  if (ubus_lookup_id(ctx, "endpt", &flood.endptId) != 0) {
    fprintf(stderr, "dectsim: no \"endpt\" to flood\n");
    return false;
  }
  flood.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  struct itimerspec every {};
  every.it_interval.tv_nsec = FLOOD_STEP_MS * 1000000L;
  every.it_value = every.it_interval;
  return flood.timerFd >= 0 && timerfd_settime(flood.timerFd, 0, &every, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "-s" && i + 1 < argc) socketPath = argv[++i];
    else if (a == "--status" && i + 1 < argc)
      answerStatus = static_cast<int>(wholeNumber("--status", argv[++i], 0, 255));
    else if (a == "--flood" && i + 3 < argc) {
      flood.rate = wholeNumber("--flood", argv[++i], 1, 100000);
      flood.seconds = wholeNumber("--flood", argv[++i], 1, 3600);
      flood.terminal = wholeNumber("--flood", argv[++i], 1, 1000);
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
  std::vector<sim::Watch> watches;
  if (flood.rate > 0) {
    if (!floodStart(ctx)) return 1;
    watches.push_back({flood.timerFd, [ctx] { floodStep(ctx); }});
  }
  printf("dectsim ready\n");
  const bool stopped = sim::runLoop(ctx, watches);
  if (stopped) ubus_remove_object(ctx, &dectObj);
  ubus_free(ctx);
  return stopped ? 0 : 1;
}
