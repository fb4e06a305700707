#include "simcommon.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <poll.h>

namespace sim {
namespace {
volatile sig_atomic_t quit;
void onSignal(int) { quit = 1; }
}  // namespace

struct ubus_context* connectOrExit(const char* socketPath, const char* program) {
  struct ubus_context* ctx = ubus_connect(socketPath);
  if (!ctx) {
    fprintf(stderr, "%s: cannot connect to ubus\n", program);
    exit(1);
  }
  return ctx;
}

bool runLoop(struct ubus_context* ctx, const std::vector<Watch>& watches) {
  return runLoop(ctx, watches, [] { return 200; });
}

bool runLoop(struct ubus_context* ctx, const std::vector<Watch>& watches, const std::function<int()>& idle) {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::vector<struct pollfd> fds;
  fds.push_back({ctx->sock.fd, POLLIN, 0});
  for (const Watch& w : watches) fds.push_back({w.fd, POLLIN, 0});
  // The context reports a broker that went away by marking its socket at end of file (the
  // descriptor it gives to poll stays quiet from then on).
  auto lost = [ctx] {
    if (!ctx->sock.eof) return false;
    fprintf(stderr, "ubus connection lost\n");
    return true;
  };
  int wait = 200;
  while (!quit) {
    if (lost()) return false;
    if (poll(fds.data(), fds.size(), wait) > 0) {
      if (fds[0].revents & (POLLHUP | POLLERR)) {
        fprintf(stderr, "ubus connection lost\n");
        return false;
      }
      if (fds[0].revents & POLLIN) ubus_handle_event(ctx);
      if (lost()) return false;
      for (size_t i = 1; i < fds.size(); i++)
        if (fds[i].revents & POLLIN) watches[i - 1].onReadable();
    }
    wait = idle();
  }
  return true;
}

}  // namespace sim
