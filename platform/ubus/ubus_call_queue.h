// What waits to be served by a client's objects: the calls of other clients, one queue per
// caller served in turn between the callers, and the broker's own messages (events, among them
// its notices of objects coming and going). Internal to this directory.
//
// Everything is served in the order it came, except that calls of different callers may pass
// each other: a call never passes a message of the broker's that came before it, and never waits
// behind one that came after it. A notice that an object left is then never taken before a call
// that was sent while the object was there, nor after one sent once it had gone.
//
// Room for calls is bounded in all and per caller. When a call finds no room, the call given up is
// the newest of the caller with the most waiting: a caller with little waiting always gets in, and
// those who flood pay for it themselves.
//
// The broker's messages are never given up nor merged: nobody could be told one was refused, and
// the one lost may be the one that says a peer left. What bounds them is the reading instead (see
// readMessages): the client stops taking bytes off its socket while too many of them wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <set>
#include <unordered_map>
#include <utility>

#include "ubus_wire.h"

namespace ubuslib {

struct CallQueue {
    struct Call {
        uint64_t arrival;  // its place among everything queued (see Inbox)
        ubuswire::Message msg;
    };
    size_t maxTotal = 1024;
    size_t maxPerCaller = 64;
    size_t count = 0;
    std::unordered_map<uint32_t, std::deque<Call>> byCaller;
    std::deque<uint32_t> turns;                     // callers with calls waiting, next served first
    std::set<std::pair<size_t, uint32_t>> bySize;   // (calls waiting, caller): the last has the most
};

constexpr uint64_t kAnyArrival = std::numeric_limits<uint64_t>::max();

// Queues `msg` for its caller (msg.peer). Returns true when a call had to be given up for it
// (`msg` itself, or another caller's newest): that call is then in `refused`, to be answered.
bool callQueuePush(CallQueue &q, ubuswire::Message &&msg, ubuswire::Message &refused, uint64_t arrival = 0);
// Takes the next call in turn among those that arrived before `before`; false when none did.
bool callQueuePop(CallQueue &q, ubuswire::Message &out, uint64_t before = kAnyArrival);

struct Inbox {
    struct FromBroker {
        uint64_t arrival;
        ubuswire::Message msg;
    };
    uint64_t arrivals = 0;  // numbers everything as it is queued
    CallQueue calls;
    std::deque<FromBroker> broker;  // in the order the broker sent them
    size_t brokerBytes = 0;         // the size of what waits in `broker`
    bool empty() const { return calls.count == 0 && broker.empty(); }
};

// Queues a call, as callQueuePush.
bool inboxPushCall(Inbox &in, ubuswire::Message &&msg, ubuswire::Message &refused);
// Queues a message of the broker's own (peer 0).
void inboxPushBroker(Inbox &in, ubuswire::Message &&msg);

enum class InboxItem { None, Call, Broker };
// Takes what is to be served next.
InboxItem inboxPop(Inbox &in, ubuswire::Message &out);

}  // namespace ubuslib
