// Event-loop base and stream readers on epoll, level-triggered.
//
// Streams are registered under a key that is never reused, and epoll carries the key rather
// than the stream pointer: a handler may delete and free its own stream or any other one, even
// one whose event is still pending in the same wait, and the stale event is simply skipped.
#include "tinyloop.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct Base {
    int epfd = -1;
    uint64_t nextKey = 1;
    std::unordered_map<uint64_t, tl_stream_t *> streams;
    size_t watched = 0;  // registered streams that epoll currently reports
    ~Base() {
        if (epfd >= 0) close(epfd);
    }
};

std::mutex gBasesLock;
std::vector<std::shared_ptr<Base>> gBases;

std::shared_ptr<Base> findBase(int handle) {
    std::lock_guard<std::mutex> guard(gBasesLock);
    if (handle < 0 || static_cast<size_t>(handle) >= gBases.size()) return nullptr;
    return gBases[static_cast<size_t>(handle)];
}

// Starts or stops epoll reporting for a registered stream. A stream is watched while it has a
// handler and has not hung up.
void setWatched(Base &base, tl_stream_t *stream, bool on) {
    if (on == (stream->watched != 0)) return;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = stream->key;
    if (on) {
        if (epoll_ctl(base.epfd, EPOLL_CTL_ADD, stream->fd, &ev) != 0) return;
        stream->watched = 1;
        base.watched++;
    } else {
        epoll_ctl(base.epfd, EPOLL_CTL_DEL, stream->fd, &ev);
        stream->watched = 0;
        base.watched--;
    }
}

tl_stream_t *lookup(Base &base, uint64_t key) {
    auto it = base.streams.find(key);
    return it == base.streams.end() ? nullptr : it->second;
}

bool nothingLeftToRead(int fd) {
    int pending = 0;
    return ioctl(fd, FIONREAD, &pending) != 0 || pending == 0;
}

// Reads one stream's handler may take in one turn of the loop. A stream that reads small pieces
// (a pipe of one-byte commands) is served until it runs dry, bounded, rather than one piece per
// turn behind every other stream's work; a stream that never runs dry still lets the others in.
constexpr int kReadsPerTurn = 64;

// One readiness of one stream: read what the stream asks for and call its handler, again while
// whole reads come and the turn's share lasts; once for a stream that reads by itself.
void serve(Base &base, uint64_t key, uint32_t events) {
    for (int reads = 0; reads < kReadsPerTurn; reads++) {
        tl_stream_t *stream = lookup(base, key);
        if (!stream) return;  // deleted by an earlier handler of this wait
        if (!stream->event_handler) {
            setWatched(base, stream, false);
            return;
        }
        tl_event_t event{nullptr, 0};
        bool endOfStream = false;
        bool more = false;
        if (stream->maxEventSize > 0) {
            ssize_t n;
            do {
                n = read(stream->fd, stream->readBuf, stream->maxEventSize);
            } while (n < 0 && errno == EINTR);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            event.in = stream->readBuf;
            event.count = static_cast<int>(n);
            endOfStream = n <= 0;
            more = static_cast<size_t>(n) == stream->maxEventSize;
        }
        stream->event_handler(stream, &event);
        // The handler may have deleted or freed the stream: look it up again by key.
        stream = lookup(base, key);
        if (!stream) return;
        if (stream->maxEventSize == 0 && (events & (EPOLLHUP | EPOLLRDHUP | EPOLLERR)))
            endOfStream = nothingLeftToRead(stream->fd);
        if (endOfStream) {
            // Level-triggered epoll would report an exhausted descriptor forever.
            stream->hungUp = 1;
            setWatched(base, stream, false);
            return;
        }
        if (!more || !stream->watched) return;
    }
}

}  // namespace

extern "C" {

int tl_base_new(void) {
    auto base = std::make_shared<Base>();
    base->epfd = epoll_create1(EPOLL_CLOEXEC);
    if (base->epfd < 0) return -1;
    std::lock_guard<std::mutex> guard(gBasesLock);
    for (size_t i = 0; i < gBases.size(); i++) {
        if (!gBases[i]) {
            gBases[i] = base;
            return static_cast<int>(i);
        }
    }
    gBases.push_back(base);
    return static_cast<int>(gBases.size() - 1);
}

void tl_base_free(int handle) {
    std::shared_ptr<Base> base;
    {
        std::lock_guard<std::mutex> guard(gBasesLock);
        if (handle < 0 || static_cast<size_t>(handle) >= gBases.size()) return;
        base.swap(gBases[static_cast<size_t>(handle)]);
    }
    if (!base) return;
    for (auto &entry : base->streams) {
        entry.second->base = -1;
        entry.second->key = 0;
        entry.second->watched = 0;
    }
    base->streams.clear();
}

int tl_base_dispatch(int handle) {
    std::shared_ptr<Base> base = findBase(handle);
    if (!base) return -1;
    constexpr int kMaxEvents = 32;
    epoll_event events[kMaxEvents];
    while (base->watched > 0) {
        int n = epoll_wait(base->epfd, events, kMaxEvents, -1);
        if (n < 0) {
            if (errno == EINTR) continue;  // a trapped signal must not end the loop
            return -1;
        }
        for (int i = 0; i < n; i++) serve(*base, events[i].data.u64, events[i].events);
    }
    return 0;
}

int tl_base_add_stream(int handle, tl_stream_t *stream) {
    std::shared_ptr<Base> base = findBase(handle);
    if (!base || !stream || stream->fd < 0 || stream->base >= 0) return -1;
    uint64_t key = base->nextKey++;
    stream->key = key;
    stream->base = handle;
    stream->hungUp = 0;
    base->streams[key] = stream;
    if (stream->event_handler) {
        setWatched(*base, stream, true);
        if (!stream->watched) {  // epoll refused the descriptor
            base->streams.erase(key);
            stream->base = -1;
            stream->key = 0;
            return -1;
        }
    }
    return 0;
}

int tl_base_delete_stream(int handle, tl_stream_t *stream) {
    std::shared_ptr<Base> base = findBase(handle);
    if (!base || !stream || stream->base != handle) return -1;
    setWatched(*base, stream, false);
    base->streams.erase(stream->key);
    stream->base = -1;
    stream->key = 0;
    return 0;
}

tl_stream_t *tl_stream_new(int fd) {
    if (fd < 0) return nullptr;
    auto *stream = static_cast<tl_stream_t *>(calloc(1, sizeof(tl_stream_t)));
    if (!stream) return nullptr;
    stream->fd = fd;
    stream->base = -1;
    return stream;
}

int tl_stream_add_handler(tl_stream_t *stream, size_t maxEventSize, tl_stream_handler_t handler) {
    if (!stream || !handler) return -1;
    if (maxEventSize != stream->maxEventSize || (maxEventSize > 0 && !stream->readBuf)) {
        uint8_t *buf = nullptr;
        if (maxEventSize > 0) {
            buf = static_cast<uint8_t *>(malloc(maxEventSize));
            if (!buf) return -1;
        }
        free(stream->readBuf);
        stream->readBuf = buf;
        stream->maxEventSize = maxEventSize;
    }
    stream->event_handler = handler;
    if (stream->base >= 0 && !stream->hungUp) {
        std::shared_ptr<Base> base = findBase(stream->base);
        if (base) setWatched(*base, stream, true);
    }
    return 0;
}

int tl_stream_remove_handler(tl_stream_t *stream, tl_stream_handler_t handler) {
    if (!stream || stream->event_handler != handler) return -1;
    stream->event_handler = nullptr;
    if (stream->base >= 0) {
        std::shared_ptr<Base> base = findBase(stream->base);
        if (base) setWatched(*base, stream, false);
    }
    return 0;
}

void tl_stream_free(tl_stream_t *stream) {
    if (!stream) return;
    if (stream->base >= 0) tl_base_delete_stream(stream->base, stream);
    free(stream->readBuf);
    free(stream);
}

}  // extern "C"
