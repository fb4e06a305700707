// A hostile bus: clients that keep calls to "endpt" in flight without pause, others that add and
// remove objects without pause (each a notice of the broker's to every listener), and beside them
// one client that does what the PBX does, connection creates and destroys one after the other. It
// reports how the PBX's calls fared: refused, failed, and how long each waited.
//
//   bus_flood -s <socket> --clients N --keep K [--rounds R] [--line L] [--warmup CALLS]
//             [--method M --args JSON] [--churn C]
//
// With --rounds 0 there is no PBX client: the flood goes on until SIGTERM, then the tallies are
// printed. --churn C: C clients each add an object of their own and remove it again, in a loop;
// with --name-length L every other one's path is L characters long.
//
// Each flooding client keeps K calls of method M (default "status" with a line that does not
// exist) in flight, sending the next as soon as one is answered. Once the flood has had CALLS
// answers (default N*K), the PBX client runs R rounds of "connection" create and destroy on line
// L on a thread of its own. "behind" counts the flood's calls that were answered as served (not
// refused) between the PBX's call going out and its answer coming back.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <libubox/blobmsg_json.h>

#include "libubus.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string socket;
  int clients = 8;
  int keep = 64;
  int rounds = 20;
  int line = 1;
  long warmup = -1;
  std::string method = "status";
  std::string args = R"({"line":99})";
  int churn = 0;
  size_t nameLength = 0;
};

struct FloodClient;

struct FloodCall {
  ubus_request req{};
  FloodClient* owner = nullptr;
};

struct FloodClient {
  ubus_context* ctx = nullptr;
  std::deque<FloodCall> calls;  // never moves its elements
  std::vector<FloodCall*> due;  // answered, to be sent again
};

std::atomic<long> gAnswered{0}, gRefused{0}, gServed{0}, gChurned{0};
std::atomic<bool> gFlooding{true};
blob_buf gArgs;
uint32_t gEndpt = 0;
const char* gMethod = nullptr;

void floodAnswered(ubus_request* req, int status) {
  auto* call = static_cast<FloodCall*>(req->priv);
  gAnswered++;
  if (status == UBUS_STATUS_NO_MEMORY) gRefused++;
  else gServed++;
  call->owner->due.push_back(call);
}

bool floodSend(FloodCall* call) {
  if (ubus_invoke_async(call->owner->ctx, gEndpt, gMethod, gArgs.head, &call->req) != 0) return false;
  call->req.complete_cb = floodAnswered;
  call->req.priv = call;
  ubus_complete_request_async(call->owner->ctx, &call->req);
  return true;
}

// Serves a share of the flooding clients on its own thread until the flood is stopped: every call
// answered is sent again at once.
void floodLoop(std::vector<FloodClient*> share) {
  std::vector<pollfd> fds;
  for (FloodClient* c : share) fds.push_back({c->ctx->sock.fd, POLLIN, 0});
  while (gFlooding) {
    if (poll(fds.data(), fds.size(), 50) <= 0) continue;
    for (size_t i = 0; i < share.size(); i++) {
      if (fds[i].revents) ubus_handle_event(share[i]->ctx);
      std::vector<FloodCall*> due;
      due.swap(share[i]->due);
      for (FloodCall* call : due) floodSend(call);
    }
  }
}

int churnNoop(ubus_context*, ubus_object*, ubus_request_data*, const char*, blob_attr*) { return UBUS_STATUS_OK; }
const ubus_method kChurnMethods[] = {{"noop", churnNoop, 0, 0, nullptr, 0}};

// Adds and removes an object of its own under `path` until the flood is stopped.
void churnLoop(ubus_context* ctx, std::string path) {
  ubus_object_type type{};
  type.name = "churn";
  type.methods = kChurnMethods;
  type.n_methods = 1;
  ubus_object obj{};
  obj.name = path.c_str();
  obj.type = &type;
  obj.methods = kChurnMethods;
  obj.n_methods = 1;
  while (gFlooding) {
    if (ubus_add_object(ctx, &obj) != 0) break;
    if (ubus_remove_object(ctx, &obj) != 0) break;
    gChurned++;
  }
}

// One PBX call in flight: its status and when it went out.
struct PbxCall {
  ubus_request req{};
  bool done = false;
  int status = -1;
};

void pbxAnswered(ubus_request* req, int status) {
  auto* call = static_cast<PbxCall*>(req->priv);
  call->status = status;
  call->done = true;
}

struct Waits {
  std::vector<double> ms;
  long refused = 0, failed = 0, behindMax = 0;
  void report(const char* what) {
    std::sort(ms.begin(), ms.end());
    const double median = ms.empty() ? 0 : ms[ms.size() / 2];
    const double max = ms.empty() ? 0 : ms.back();
    const double p99 = ms.empty() ? 0 : ms[(ms.size() * 99 + 99) / 100 - 1];  // nearest rank
    printf("pbx %s: calls %zu refused %ld failed %ld median %.1f ms p99 %.1f ms max %.1f ms behind %ld\n", what,
           ms.size(), refused, failed, median, p99, max, behindMax);
  }
};

// One PBX call on the PBX's own connection, waited for while the flood goes on.
bool pbxCall(ubus_context* pbx, const std::string& json, Waits& waits) {
  blob_buf b{};
  blobmsg_buf_init(&b);
  blobmsg_add_json_from_string(&b, json.c_str());
  PbxCall call;
  const auto sent = Clock::now();
  const long servedBefore = gServed;
  const bool started = ubus_invoke_async(pbx, gEndpt, "connection", b.head, &call.req) == 0;
  blob_buf_free(&b);
  if (!started) return false;
  call.req.complete_cb = pbxAnswered;
  call.req.priv = &call;
  ubus_complete_request_async(pbx, &call.req);
  const auto giveUp = Clock::now() + std::chrono::seconds(30);
  while (!call.done && Clock::now() < giveUp) {
    pollfd p{pbx->sock.fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) ubus_handle_event(pbx);
  }
  if (!call.done) {
    ubus_abort_request(pbx, &call.req);
    return false;
  }
  waits.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
  waits.behindMax = std::max(waits.behindMax, gServed - servedBefore);
  if (call.status == UBUS_STATUS_NO_MEMORY) waits.refused++;
  else if (call.status != UBUS_STATUS_OK) waits.failed++;
  return true;
}

bool parse(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (a == "-s") opt.socket = v;
    else if (a == "--clients") opt.clients = atoi(v);
    else if (a == "--keep") opt.keep = atoi(v);
    else if (a == "--rounds") opt.rounds = atoi(v);
    else if (a == "--line") opt.line = atoi(v);
    else if (a == "--warmup") opt.warmup = atol(v);
    else if (a == "--method") opt.method = v;
    else if (a == "--args") opt.args = v;
    else if (a == "--churn") opt.churn = atoi(v);
    else if (a == "--name-length") opt.nameLength = static_cast<size_t>(atol(v));
    else return false;
  }
  return opt.clients >= 0 && opt.keep > 0 && opt.rounds >= 0 && opt.churn >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!parse(argc, argv, opt)) {
    fprintf(stderr, "usage: bus_flood -s socket --clients N --keep K [--rounds R] [--line L] [--warmup CALLS] "
                    "[--method M --args JSON] [--churn C [--name-length L]]\n");
    return 2;
  }
  // SIGTERM ends a flood without rounds: it is taken from the main thread alone.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  const char* path = opt.socket.empty() ? nullptr : opt.socket.c_str();
  ubus_context* pbx = ubus_connect(path);
  if (!pbx || ubus_lookup_id(pbx, "endpt", &gEndpt) != 0) {
    fprintf(stderr, "bus_flood: no \"endpt\" on the bus\n");
    return 1;
  }
  blobmsg_buf_init(&gArgs);
  blobmsg_add_json_from_string(&gArgs, opt.args.c_str());
  gMethod = opt.method.c_str();

  std::vector<FloodClient> flood(static_cast<size_t>(opt.clients));
  for (FloodClient& c : flood) {
    c.ctx = ubus_connect(path);
    if (!c.ctx) {
      fprintf(stderr, "bus_flood: cannot connect\n");
      return 1;
    }
    for (int k = 0; k < opt.keep; k++) {
      FloodCall& call = c.calls.emplace_back();
      call.owner = &c;
      floodSend(&call);
    }
  }
  // A few threads share the flooding clients, as separate processes would.
  std::vector<std::thread> threads;
  std::vector<ubus_context*> churners;
  const size_t nThreads = std::min<size_t>(flood.size(), 4);
  for (size_t t = 0; t < nThreads; t++) {
    std::vector<FloodClient*> share;
    for (size_t i = t; i < flood.size(); i += nThreads) share.push_back(&flood[i]);
    threads.emplace_back(floodLoop, share);
  }
  for (int i = 0; i < opt.churn; i++) {
    ubus_context* ctx = ubus_connect(path);
    if (!ctx) {
      fprintf(stderr, "bus_flood: cannot connect\n");
      return 1;
    }
    churners.push_back(ctx);
    std::string name = "bus_flood.churn." + std::to_string(getpid()) + "." + std::to_string(i);
    if (i % 2 && name.size() < opt.nameLength) name.append(opt.nameLength - name.size(), 'x');
    threads.emplace_back(churnLoop, ctx, name);
  }
  const long warmup = opt.warmup >= 0 ? opt.warmup : static_cast<long>(opt.clients) * opt.keep;
  const auto warmupEnd = Clock::now() + std::chrono::seconds(60);
  while ((gAnswered < warmup || gChurned < 100L * opt.churn) && Clock::now() < warmupEnd)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  printf("flood warm: %ld answered\n", gAnswered.load());
  fflush(stdout);

  Waits creates, destroys;
  long lost = 0;
  const std::string conn = R"({"line":)" + std::to_string(opt.line) + R"(,"id":1,"action":")";
  for (int r = 0; r < opt.rounds; r++) {
    if (!pbxCall(pbx, conn + "create\"}", creates)) lost++;
    if (!pbxCall(pbx, conn + "destroy\"}", destroys)) lost++;
  }
  if (opt.rounds > 0) {
    creates.report("create");
    destroys.report("destroy");
    printf("pbx calls unanswered %ld\n", lost);
  } else {
    int sig = 0;
    sigwait(&term, &sig);
  }
  gFlooding = false;
  for (std::thread& t : threads) t.join();
  printf("flood answered %ld refused %ld churned %ld\n", gAnswered.load(), gRefused.load(), gChurned.load());
  fflush(stdout);
  for (ubus_context* ctx : churners) ubus_free(ctx);
  // The flood's calls still in flight are dropped with the connections.
  for (FloodClient& c : flood) ubus_free(c.ctx);
  ubus_free(pbx);
  blob_buf_free(&gArgs);
  return 0;
}
