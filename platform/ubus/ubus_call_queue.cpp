#include "ubus_call_queue.h"

#include <iterator>

namespace ubuslib {

namespace {

// Keeps the caller's place among the sizes when its count of waiting calls changes.
void resize(CallQueue &q, uint32_t caller, size_t before, size_t after) {
    if (before) q.bySize.erase({before, caller});
    if (after) q.bySize.insert({after, caller});
}

}  // namespace

bool callQueuePush(CallQueue &q, ubuswire::Message &&msg, ubuswire::Message &refused) {
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
        std::deque<ubuswire::Message> &hogs = q.byCaller.at(hog);
        refused = std::move(hogs.back());
        hogs.pop_back();
        resize(q, hog, most, most - 1);
        q.count--;
        gaveUp = true;  // the hog keeps older calls, so its turn stays
    }
    std::deque<ubuswire::Message> &calls = q.byCaller[caller];
    if (calls.empty()) q.turns.push_back(caller);
    calls.push_back(std::move(msg));
    resize(q, caller, calls.size() - 1, calls.size());
    q.count++;
    return gaveUp;
}

bool callQueuePop(CallQueue &q, ubuswire::Message &out) {
    if (q.turns.empty()) return false;
    const uint32_t caller = q.turns.front();
    q.turns.pop_front();
    auto it = q.byCaller.find(caller);
    out = std::move(it->second.front());
    it->second.pop_front();
    resize(q, caller, it->second.size() + 1, it->second.size());
    q.count--;
    if (it->second.empty()) q.byCaller.erase(it);
    else q.turns.push_back(caller);
    return true;
}

void noticeQueuePush(NoticeQueue &q, ubuswire::Message &&msg, uint32_t listener, uint32_t object, bool added) {
    if (!added && object == q.cancelled) return;  // another listener's copy of a cancelled removal
    q.cancelled = 0;
    std::vector<std::list<NoticeQueue::Notice>::iterator> &waiting = q.byObject[object];
    // The newest run of notices about this object that say the same.
    auto run = waiting.end();
    while (run != waiting.begin() && (*std::prev(run))->added == (waiting.back())->added) --run;
    const bool sameKind = !waiting.empty() && waiting.back()->added == added;
    if (sameKind) {
        for (auto it = run; it != waiting.end(); ++it)
            if ((*it)->listener == listener) return;  // said already
    } else if (!waiting.empty() && !added) {
        // Came and went unseen: neither is news.
        for (auto it = run; it != waiting.end(); ++it) q.order.erase(*it);
        waiting.erase(run, waiting.end());
        if (waiting.empty()) q.byObject.erase(object);
        q.cancelled = object;
        return;
    }
    q.order.push_back(NoticeQueue::Notice{std::move(msg), object, listener, added});
    waiting.push_back(std::prev(q.order.end()));
}

bool noticeQueuePop(NoticeQueue &q, ubuswire::Message &out) {
    if (q.order.empty()) return false;
    NoticeQueue::Notice &front = q.order.front();
    auto it = q.byObject.find(front.object);
    it->second.erase(it->second.begin());  // the oldest of its object is the oldest of all
    if (it->second.empty()) q.byObject.erase(it);
    out = std::move(front.msg);
    q.order.pop_front();
    return true;
}

}  // namespace ubuslib
