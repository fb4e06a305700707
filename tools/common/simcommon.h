// Shared plumbing of the peer stand-ins (pbxsim, dectsim): option parsing of the socket path,
// a poll loop over the ubus socket and extra descriptors, and clean exit on SIGINT/SIGTERM.
#pragma once

#include <functional>
#include <vector>

#include <libubus.h>

namespace sim {

// Connects to the broker at `socketPath` (null: UBUS_SOCKET or the default); exits on failure.
struct ubus_context* connectOrExit(const char* socketPath, const char* program);

struct Watch {
  int fd;
  std::function<void()> onReadable;
};

// Serves the ubus socket and the watched descriptors until SIGINT or SIGTERM (true) or until the
// broker goes away (false, after printing "ubus connection lost").
bool runLoop(struct ubus_context* ctx, const std::vector<Watch>& watches);
// The same with `idle` called after every pass; it returns how long (ms) the next pass may wait
// for the descriptors.
bool runLoop(struct ubus_context* ctx, const std::vector<Watch>& watches, const std::function<int()>& idle);

}  // namespace sim
