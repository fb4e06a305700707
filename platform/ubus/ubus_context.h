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
    // Calls to this client's objects wait here, to be served a few at a time and in turn between
    // the callers (see ubus_handle_event).
    ubuslib::CallQueue calls;
    ubuslib::NoticeQueue notices;  // the broker's notices of objects, never given up (see there)
    std::vector<uint8_t> refusals;  // answers to calls given up, sent once a read is processed
    bool lost = false;
};

namespace ubuslib {

// Sends one framed message; false (and the connection is treated as lost) on failure.
bool sendFrame(ubus_context *ctx, const std::vector<uint8_t> &frame);
// Reads what is available and processes every complete message; false once the connection is
// gone.
bool readAndProcess(ubus_context *ctx);
// Waits until `req` has its status, the time-out passes (ms, 0 = none) or the connection is
// lost. Returns the status, UBUS_STATUS_TIMEOUT or UBUS_STATUS_CONNECTION_FAILED.
int waitFor(ubus_context *ctx, ubus_request *req, int timeoutMs);
void registerRequest(ubus_context *ctx, ubus_request *req);
void unregisterRequest(ubus_context *ctx, ubus_request *req);
// Prepares `req` and sends a request message with the next sequence number.
int startRequest(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer, ubuswire::Builder &body);
// Serves one INVOKE addressed to an object of this context.
void dispatchInvoke(ubus_context *ctx, ubuswire::Message &msg);
void wake(ubus_context *ctx);

}  // namespace ubuslib
