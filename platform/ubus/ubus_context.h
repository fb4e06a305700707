// Internal state of a ubus client context, shared by the library's source files.
#pragma once

#include <list>
#include <unordered_map>
#include <vector>

#include "libubus.h"
#include "ubus_call_queue.h"
#include "ubus_wire.h"

struct ubus_context_state {
    int sockFd = -1;  // the connection to the broker
    int wakeFd = -1;  // eventfd: set while queued work waits for ubus_handle_event
    ubuswire::FrameReader reader;
    std::list<ubus_request *> requests;  // registered, waiting for their status
    std::unordered_map<uint32_t, ubus_object *> objects;
    // Calls and the broker's messages to this client's objects wait here, to be served a few at a
    // time, in the order they came (see ubus_handle_event and ubus_call_queue.h).
    ubuslib::Inbox inbox;
    std::vector<uint8_t> refusals;  // answers to calls given up, sent once a read is processed
    bool lost = false;
};

namespace ubuslib {

// The broker's messages are never given up, so what bounds them is the reading (bytes of them
// waiting). The loop reads nothing while kBrokerWaitingHigh waits: the rest stays with the broker,
// which bounds what it holds for a client that does not read. A synchronous call has to read
// whatever the broker sent before its answer; beyond kBrokerWaitingLimit it stops reading and
// fails with UBUS_STATUS_NO_MEMORY instead, since calls made from handlers, each taking in all the
// broker had queued, would otherwise grow what waits without end under a flood. Either bound is
// passed by at most what one read completes.
constexpr size_t kBrokerWaitingHigh = 256u << 10;
constexpr size_t kBrokerWaitingLimit = 8u << 20;
constexpr size_t kReadSize = 16384;
// How long a request the broker answers itself (a look-up, publishing an object, an event) waits:
// the broker answers at once, so an answer this late was dropped (a broker drops messages to a
// client whose queue is full) and will not come.
constexpr int kBrokerAnswerMs = 5000;

// Sends one framed message; false (and the connection is treated as lost) on failure.
bool sendFrame(ubus_context *ctx, const std::vector<uint8_t> &frame);
// Reads what is available, within the bounds of `mode`, and processes every complete message;
// false once the connection is gone.
enum class ReadMode {
    Turn,  // one turn of the program's loop: a few reads, none while the broker's messages pile up
    Wait,  // a synchronous call waiting for its answer, which comes behind whatever was sent before
};
bool readAndProcess(ubus_context *ctx, ReadMode mode);
// Waits until `req` has its status, the time-out passes (ms, 0 = none) or the connection is
// lost. Returns the status, UBUS_STATUS_TIMEOUT or UBUS_STATUS_CONNECTION_FAILED.
// Only a program's own call with no time-out of its own waits without one.
int waitFor(ubus_context *ctx, ubus_request *req, int timeoutMs);
void registerRequest(ubus_context *ctx, ubus_request *req);
void unregisterRequest(ubus_context *ctx, ubus_request *req);
// Prepares `req` and sends a request message with the next sequence number.
int startRequest(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer, ubuswire::Builder &body);
// Serves one INVOKE addressed to an object of this context.
void dispatchInvoke(ubus_context *ctx, ubuswire::Message &msg);
void wake(ubus_context *ctx);

}  // namespace ubuslib
