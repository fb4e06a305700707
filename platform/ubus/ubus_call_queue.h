// Calls to a client's objects waiting to be served, one queue per calling client, served in turn
// between the callers; and the broker's notices of objects coming and going, which wait apart.
// Internal to this directory.
//
// Room for calls is bounded in all and per caller. When a call finds no room, the call given up is
// the newest of the caller with the most waiting: a caller with little waiting always gets in, and
// those who flood pay for it themselves.
//
// A notice is no call: nobody could be told it was refused, and the one lost may be the one that
// says a peer left. So none is given up for want of room. What is kept is bounded by what the
// notices say instead: per object at most its removal and a later addition (each once per listener
// of the client); an addition and the removal of the same object that follows it cancel out, as an
// object that came and went while the client was busy is no news. What waits is then at most one
// notice per listener for each object on the bus and for each object the client was already told
// of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

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

struct NoticeQueue {
    struct Notice {
        ubuswire::Message msg;
        uint32_t object;    // the id the notice is about
        uint32_t listener;  // the client's object it is addressed to
        bool added;         // "ubus.object.add", else "ubus.object.remove"
    };
    std::list<Notice> order;  // in the order the broker sent them
    // The notices waiting about each object, oldest first: removals, then additions.
    std::unordered_map<uint32_t, std::vector<std::list<Notice>::iterator>> byObject;
    // The object whose addition and removal just cancelled out: the broker sends the removal to
    // each of the client's listeners in a row, and the others' copies go too.
    uint32_t cancelled = 0;
    bool empty() const { return order.empty(); }
    size_t size() const { return order.size(); }
};

// Keeps the broker's notice to `listener` that `object` was added (or removed); see above for what
// it cancels.
void noticeQueuePush(NoticeQueue &q, ubuswire::Message &&msg, uint32_t listener, uint32_t object, bool added);
// Takes the oldest notice; false when none waits.
bool noticeQueuePop(NoticeQueue &q, ubuswire::Message &out);

}  // namespace ubuslib
