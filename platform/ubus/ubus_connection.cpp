// ubus client connection: connecting, reading and routing messages, synchronous waits, and
// the loss of the connection.
//
// The descriptor handed out as ctx->sock.fd is an epoll set holding the socket and an eventfd.
// It is readable when bytes arrived or when requests that came in during a synchronous call
// are queued, so a program's own loop wakes up for both.
#include "ubus_context.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ubuslib {

namespace {

constexpr int kHelloTimeoutMs = 5000;
constexpr int kSendStallMs = 5000;  // a broker that takes no bytes for this long is gone
// Work done for one readiness of the loop: bytes read, calls and broker's messages served. The
// rest waits for the next turn, so that the program's other descriptors are served in between.
constexpr int kReadsPerTurn = 16;
constexpr int kInvokesPerTurn = 4;
constexpr int kBrokerMessagesPerTurn = 16;

using Clock = std::chrono::steady_clock;

void connectionLost(ubus_context *ctx) {
    ubus_context_state &st = *ctx->state;
    if (st.lost) return;
    st.lost = true;
    ctx->sock.eof = true;
    // Stop reporting the dead socket so that the caller's loop does not spin on it.
    epoll_ctl(ctx->sock.fd, EPOLL_CTL_DEL, st.sockFd, nullptr);
    // Registered asynchronous requests end now; synchronous waiters see the loss themselves.
    std::vector<ubus_request *> pending(st.requests.begin(), st.requests.end());
    for (ubus_request *req : pending) {
        if (!req->registered || req->blocked) continue;
        unregisterRequest(ctx, req);
        req->status_code = UBUS_STATUS_TIMEOUT;
        req->finished = true;
        if (req->complete_cb) req->complete_cb(req, UBUS_STATUS_TIMEOUT);
    }
    if (ctx->connection_lost) ctx->connection_lost(ctx);
}

ubus_request *findRequest(ubus_context *ctx, uint16_t seq, uint32_t peer) {
    for (ubus_request *req : ctx->state->requests)
        if (req->seq == seq && req->peer == peer) return req;
    return nullptr;
}

void processReply(ubus_context *ctx, ubuswire::Message &msg) {
    ubus_request *req = findRequest(ctx, msg.seq, msg.peer);
    if (!req) return;  // aborted, timed out or never ours: ignored
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    if (req->raw_data_cb) req->raw_data_cb(req, msg.type, msg.container());
    if (msg.type == UBUS_MSG_DATA) {
        if (req->registered && req->data_cb && tb[UBUS_ATTR_DATA]) req->data_cb(req, UBUS_MSG_DATA, tb[UBUS_ATTR_DATA]);
        return;
    }
    if (!req->registered) return;  // aborted by its own raw callback
    // A status attribute of the wrong size is an invalid reply, not a missing one.
    int status = tb[UBUS_ATTR_STATUS] ? static_cast<int>(ubuswire::getU32(tb[UBUS_ATTR_STATUS]))
                 : ubuswire::hasAttr(msg, UBUS_ATTR_STATUS) ? UBUS_STATUS_INVALID_ARGUMENT
                                                            : UBUS_STATUS_NO_DATA;
    unregisterRequest(ctx, req);
    req->status_code = status;
    req->status_msg = true;
    req->finished = true;
    // The request may be freed by its completion callback: nothing touches it afterwards.
    if (req->complete_cb) req->complete_cb(req, status);
}

void refuseInvoke(ubus_context *ctx, ubuswire::Message &msg) {
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    bool noReply = tb[UBUS_ATTR_NO_REPLY] && blob_get_u8(tb[UBUS_ATTR_NO_REPLY]);
    if (!tb[UBUS_ATTR_OBJID] || noReply || msg.peer == 0) return;
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_STATUS, UBUS_STATUS_NO_MEMORY).u32(UBUS_ATTR_OBJID, ubuswire::getU32(tb[UBUS_ATTR_OBJID]));
    // Sent together once what was read is processed: a flood is refused in a few writes rather
    // than one per call.
    const std::vector<uint8_t> frame = body.frame(UBUS_MSG_STATUS, msg.seq, msg.peer);
    ctx->state->refusals.insert(ctx->state->refusals.end(), frame.begin(), frame.end());
}

// Whether the program wants an event the broker sent (see ubus_context::event_wanted); what is
// not an event to one of its objects is kept, to be served or refused as always.
bool eventWanted(ubus_context *ctx, ubuswire::Message &msg) {
    if (!ctx->event_wanted) return true;
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_METHOD] || !tb[UBUS_ATTR_DATA]) return true;
    if (!ctx->state->objects.count(ubuswire::getU32(tb[UBUS_ATTR_OBJID]))) return true;
    return ctx->event_wanted(ctx, ubuswire::getString(tb[UBUS_ATTR_METHOD]), tb[UBUS_ATTR_DATA]);
}

// Calls are never served while a synchronous call waits (handlers are not re-entered), and
// otherwise from ubus_handle_event, a few per turn. A caller that sends faster than its calls are
// served is told at once beyond its share, so that its backlog neither grows without limit nor
// delays its own later calls past their time-outs, and the others' calls still get in. What comes
// with peer 0 is the broker's own (an event, or its notice that an object came or went): it waits
// in its place among the calls, and is never given up.
void queueInvoke(ubus_context *ctx, ubuswire::Message &msg) {
    ubus_context_state &st = *ctx->state;
    if (msg.peer == 0) {
        if (!eventWanted(ctx, msg)) return;
        inboxPushBroker(st.inbox, std::move(msg));
        return;
    }
    ubuswire::Message refused;
    if (inboxPushCall(st.inbox, std::move(msg), refused)) refuseInvoke(ctx, refused);
}

void processMessage(ubus_context *ctx, ubuswire::Message &msg) {
    switch (msg.type) {
    case UBUS_MSG_STATUS:
    case UBUS_MSG_DATA: processReply(ctx, msg); break;
    case UBUS_MSG_INVOKE: queueInvoke(ctx, msg); break;
    default: break;  // subscriptions and monitoring are not used here
    }
}

// Reads exactly the HELLO message, so that nothing after it is taken from the socket.
bool readHello(int fd, uint32_t &id) {
    ubuswire::FrameReader reader;
    ubuswire::Message msg;
    auto deadline = Clock::now() + std::chrono::milliseconds(kHelloTimeoutMs);
    std::vector<uint8_t> bytes;
    size_t want = ubuswire::kHeaderSize;
    while (bytes.size() < want) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) return false;
        uint8_t buf[64];
        ssize_t n = recv(fd, buf, std::min(sizeof buf, want - bytes.size()), 0);
        if (n <= 0) return false;
        bytes.insert(bytes.end(), buf, buf + n);
        if (bytes.size() == ubuswire::kHeaderSize) {
            blob_attr container;
            memcpy(&container, bytes.data() + sizeof(ubus_msghdr), sizeof container);
            if (blob_pad_len(&container) > 1024) return false;  // a greeting is tiny
            want = sizeof(ubus_msghdr) + blob_pad_len(&container);
        }
    }
    reader.append(bytes.data(), bytes.size());
    if (reader.next(msg) != ubuswire::FrameReader::Result::Message) return false;
    if (msg.version != 0 || msg.type != UBUS_MSG_HELLO || msg.peer <= 1) return false;
    id = msg.peer;
    return true;
}

void socketCallback(uloop_fd *u, unsigned int) {
    // sock is the first member of the context.
    ubus_handle_event(reinterpret_cast<ubus_context *>(u));
}

// Calls or the broker's messages still waiting to be served.
bool workWaiting(const ubus_context_state &st) { return !st.inbox.empty(); }

}  // namespace

void wake(ubus_context *ctx) {
    uint64_t one = 1;
    ssize_t n = write(ctx->state->wakeFd, &one, sizeof one);
    (void)n;
}

bool sendFrame(ubus_context *ctx, const std::vector<uint8_t> &frame) {
    ubus_context_state &st = *ctx->state;
    if (st.lost || frame.empty()) return false;
    size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = send(st.sockFd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{st.sockFd, POLLOUT, 0};
            if (poll(&p, 1, kSendStallMs) > 0) continue;
        }
        connectionLost(ctx);
        return false;
    }
    return true;
}

bool readMessages(ubus_context *ctx, ReadMode mode) {
    ubus_context_state &st = *ctx->state;
    if (st.lost) return false;
    // A socket that never runs dry (a flooding peer) must not hold the caller: what is left is
    // read on the next readiness. Nor is more taken in than can be kept (see ubus_context.h).
    const size_t most = mode == ReadMode::Turn ? kBrokerWaitingHigh : kBrokerWaitingLimit;
    for (int reads = 0; reads < kReadsPerTurn && st.inbox.brokerBytes < most; reads++) {
        uint8_t buf[kReadSize];
        ssize_t n = recv(st.sockFd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) {
            connectionLost(ctx);
            return false;
        }
        st.reader.append(buf, static_cast<size_t>(n));
        ubuswire::Message msg;
        for (;;) {
            auto r = st.reader.next(msg);
            if (r == ubuswire::FrameReader::Result::NeedMore) break;
            if (r == ubuswire::FrameReader::Result::Corrupt || msg.version != 0) {
                connectionLost(ctx);
                return false;
            }
            processMessage(ctx, msg);
            if (st.lost) return false;
        }
    }
    return true;
}

bool readAndProcess(ubus_context *ctx, ReadMode mode) {
    ubus_context_state &st = *ctx->state;
    const bool open = readMessages(ctx, mode);
    std::vector<uint8_t> refusals;
    refusals.swap(st.refusals);
    if (open && !refusals.empty() && !sendFrame(ctx, refusals)) return false;
    // Calls and notices queued (during a synchronous call too) keep the loop coming back for them.
    if (open && workWaiting(st)) wake(ctx);
    return open;
}

void registerRequest(ubus_context *ctx, ubus_request *req) {
    if (req->registered) return;
    req->registered = true;
    ctx->state->requests.push_back(req);
}

void unregisterRequest(ubus_context *ctx, ubus_request *req) {
    if (!req->registered) return;
    req->registered = false;
    ctx->state->requests.remove(req);
}

int startRequest(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer, ubuswire::Builder &body) {
    memset(req, 0, sizeof *req);
    req->ctx = ctx;
    req->peer = peer;
    req->fd = -1;
    req->seq = ++ctx->request_seq;
    req->status_code = UBUS_STATUS_NO_DATA;
    if (ctx->state->lost) return UBUS_STATUS_CONNECTION_FAILED;
    std::vector<uint8_t> frame = body.frame(type, req->seq, peer);
    if (frame.empty()) return UBUS_STATUS_INVALID_ARGUMENT;  // too large, or out of memory
    if (!sendFrame(ctx, frame)) return UBUS_STATUS_CONNECTION_FAILED;
    return UBUS_STATUS_OK;
}

int waitFor(ubus_context *ctx, ubus_request *req, int timeoutMs) {
    ubus_context_state &st = *ctx->state;
    registerRequest(ctx, req);
    req->blocked = true;
    ctx->stack_depth++;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = UBUS_STATUS_OK;
    while (!req->finished) {
        if (st.lost) {
            result = UBUS_STATUS_CONNECTION_FAILED;
            break;
        }
        if (st.inbox.brokerBytes >= kBrokerWaitingLimit) {
            result = UBUS_STATUS_NO_MEMORY;  // the answer, when it comes, is ignored
            break;
        }
        int wait = -1;
        if (timeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                result = UBUS_STATUS_TIMEOUT;
                break;
            }
            wait = static_cast<int>(left);
        }
        pollfd p{st.sockFd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) {
            result = UBUS_STATUS_CONNECTION_FAILED;
            break;
        }
        if (r > 0) readAndProcess(ctx, ReadMode::Wait);
    }
    ctx->stack_depth--;
    req->blocked = false;
    if (req->finished) return req->status_code;
    unregisterRequest(ctx, req);  // a reply that comes later is ignored
    req->status_code = result;
    return result;
}

}  // namespace ubuslib

using namespace ubuslib;

extern "C" {

ubus_context *ubus_connect(const char *path) {
    if (!path) path = getenv(UBUS_SOCKET_ENV);
    if (!path || !*path) path = UBUS_UNIX_SOCKET;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr.sun_path) return nullptr;
    strcpy(addr.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    uint32_t id = 0;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || !readHello(fd, id)) {
        close(fd);
        return nullptr;
    }
    int epfd = epoll_create1(EPOLL_CLOEXEC);
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    auto *ctx = static_cast<ubus_context *>(calloc(1, sizeof(ubus_context)));
    auto *st = new (std::nothrow) ubus_context_state;
    epoll_event ev{};
    ev.events = EPOLLIN;
    bool ok = epfd >= 0 && wakeFd >= 0 && ctx && st && epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) == 0 &&
              epoll_ctl(epfd, EPOLL_CTL_ADD, wakeFd, &ev) == 0;
    if (!ok) {
        if (epfd >= 0) close(epfd);
        if (wakeFd >= 0) close(wakeFd);
        close(fd);
        free(ctx);
        delete st;
        return nullptr;
    }
    st->sockFd = fd;
    st->wakeFd = wakeFd;
    ctx->state = st;
    ctx->sock.fd = epfd;
    ctx->sock.cb = socketCallback;
    ctx->local_id = id;
    return ctx;
}

void ubus_free(ubus_context *ctx) {
    if (!ctx) return;
    // Objects and requests belong to the caller and may be gone already: they are not touched.
    ubus_context_state *st = ctx->state;
    close(st->sockFd);
    close(st->wakeFd);
    close(ctx->sock.fd);
    delete st;
    free(ctx);
}

void ubus_handle_event(ubus_context *ctx) {
    if (!ctx) return;
    ubus_context_state &st = *ctx->state;
    uint64_t count;
    while (read(st.wakeFd, &count, sizeof count) > 0) {
    }
    readAndProcess(ctx, ReadMode::Turn);
    if (ctx->stack_depth == 0) {
        ubuswire::Message msg;
        int calls = 0, fromBroker = 0;
        while (calls < kInvokesPerTurn && fromBroker < kBrokerMessagesPerTurn) {
            const InboxItem item = inboxPop(st.inbox, msg);
            if (item == InboxItem::None) break;
            (item == InboxItem::Call ? calls : fromBroker)++;
            dispatchInvoke(ctx, msg);
            if (st.lost) return;
        }
    }
    // Work left for later keeps the descriptor readable, so the loop comes back for it.
    if (workWaiting(st)) wake(ctx);
}

const char *ubus_strerror(int error) {
    static const char *const texts[] = {
        "Success",           "Invalid command",         "Invalid argument", "Method not found",
        "Not found",         "No response",             "Permission denied", "Request timed out",
        "Operation not supported", "Unknown error",     "Connection failed", "Out of memory",
        "Parsing message data failed", "System error",
    };
    static thread_local char unknown[32];
    if (error >= 0 && error < __UBUS_STATUS_LAST) return texts[error];
    snprintf(unknown, sizeof unknown, "Unknown error: %d", error);
    return unknown;
}

}  // extern "C"
