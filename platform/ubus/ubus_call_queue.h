// Calls to a client's objects waiting to be served, one queue per calling client, served in turn
// between the callers. Internal to this directory.
//
// Room is bounded in all and per caller. When a call finds no room, the call given up is the
// newest of the caller with the most waiting: a caller with little waiting always gets in, and
// those who flood pay for it themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <unordered_map>
#include <utility>

#include "ubus_wire.h"

namespace ubuslib {

struct CallQueue {
    size_t maxTotal = 1024;
    size_t maxPerCaller = 64;
    size_t count = 0;
    std::unordered_map<uint32_t, std::deque<ubuswire::Message>> byCaller;
    std::deque<uint32_t> turns;                     // callers with calls waiting, next served first
    std::set<std::pair<size_t, uint32_t>> bySize;   // (calls waiting, caller): the last has the most
};

// Queues `msg` for its caller (msg.peer). Returns true when a call had to be given up for it
// (`msg` itself, or another caller's newest): that call is then in `refused`, to be answered.
bool callQueuePush(CallQueue &q, ubuswire::Message &&msg, ubuswire::Message &refused);
// Takes the next call in turn; false when none waits.
bool callQueuePop(CallQueue &q, ubuswire::Message &out);

}  // namespace ubuslib
