#include "ubus_call_queue.h"

namespace ubuslib {

namespace {

// Keeps the caller's place among the sizes when its count of waiting calls changes.
void resize(CallQueue &q, uint32_t caller, size_t before, size_t after) {
    if (before) q.bySize.erase({before, caller});
    if (after) q.bySize.insert({after, caller});
}

}  // namespace

bool callQueuePush(CallQueue &q, ubuswire::Message &&msg, ubuswire::Message &refused, uint64_t arrival) {
    const uint32_t caller = msg.peer;
    auto own = q.byCaller.find(caller);
    const size_t waiting = own == q.byCaller.end() ? 0 : own->second.size();
    if (waiting >= q.maxPerCaller) {
        refused = std::move(msg);
        return true;
    }
    bool gaveUp = false;
    if (q.count >= q.maxTotal) {
        // The new call counts as waiting for its caller; on a tie the newest call of all goes.
        const auto [most, hog] = q.bySize.empty() ? std::pair<size_t, uint32_t>{0, 0} : *q.bySize.rbegin();
        if (waiting + 1 >= most) {
            refused = std::move(msg);
            return true;
        }
        std::deque<CallQueue::Call> &hogs = q.byCaller.at(hog);
        refused = std::move(hogs.back().msg);
        hogs.pop_back();
        resize(q, hog, most, most - 1);
        q.count--;
        gaveUp = true;  // the hog keeps older calls, so its turn stays
    }
    std::deque<CallQueue::Call> &calls = q.byCaller[caller];
    if (calls.empty()) q.turns.push_back(caller);
    calls.push_back(CallQueue::Call{arrival, std::move(msg)});
    resize(q, caller, calls.size() - 1, calls.size());
    q.count++;
    return gaveUp;
}

bool callQueuePop(CallQueue &q, ubuswire::Message &out, uint64_t before) {
    // The first caller in turn whose oldest call came early enough; the others keep their places.
    auto turn = q.turns.begin();
    while (turn != q.turns.end() && q.byCaller.at(*turn).front().arrival >= before) ++turn;
    if (turn == q.turns.end()) return false;
    const uint32_t caller = *turn;
    q.turns.erase(turn);
    auto it = q.byCaller.find(caller);
    out = std::move(it->second.front().msg);
    it->second.pop_front();
    resize(q, caller, it->second.size() + 1, it->second.size());
    q.count--;
    if (it->second.empty()) q.byCaller.erase(it);
    else q.turns.push_back(caller);
    return true;
}

bool inboxPushCall(Inbox &in, ubuswire::Message &&msg, ubuswire::Message &refused) {
    return callQueuePush(in.calls, std::move(msg), refused, in.arrivals++);
}

void inboxPushBroker(Inbox &in, ubuswire::Message &&msg) {
    in.brokerBytes += msg.body.size();
    in.broker.push_back(Inbox::FromBroker{in.arrivals++, std::move(msg)});
}

InboxItem inboxPop(Inbox &in, ubuswire::Message &out) {
    // Calls that came before the broker's oldest message go first, then that message.
    const uint64_t barrier = in.broker.empty() ? kAnyArrival : in.broker.front().arrival;
    if (callQueuePop(in.calls, out, barrier)) return InboxItem::Call;
    if (in.broker.empty()) return InboxItem::None;
    out = std::move(in.broker.front().msg);
    in.broker.pop_front();
    in.brokerBytes -= out.body.size();
    return InboxItem::Broker;
}

}  // namespace ubuslib
