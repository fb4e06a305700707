// ubusd: the bus broker. Listens on a unix socket and runs the protocol engine for every
// connected client.
//
//   ubusd [-s <socket>]
//
// The socket is <socket>, else $UBUS_SOCKET, else the default path. SIGINT and SIGTERM stop it
// and remove the socket file.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>

#include <grp.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "libubus.h"
#include "ubusd_broker.h"

namespace {

constexpr size_t kMaxQueued = 4u << 20;  // output waiting for a slow client, by default
constexpr size_t kWriteParts = 64;       // messages handed to one write

struct Connection {
    int fd = -1;
    std::deque<std::vector<uint8_t>> queue;
    size_t queuedBytes = 0;
    size_t sentOfFront = 0;
    bool wantWrite = false;
    // A client that stops reading loses messages; it is named once a second, with a count.
    unsigned droppedUnlogged = 0;
    int64_t lastDropLogMs = -1;
};

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A number from the environment within [least, most], or `otherwise`.
size_t sizeFromEnvironment(const char *name, size_t least, size_t most, size_t otherwise) {
    const char *text = getenv(name);
    if (!text || !*text) return otherwise;
    char *end = nullptr;
    unsigned long long n = strtoull(text, &end, 10);
    return *end == '\0' && n >= least && n <= most ? static_cast<size_t>(n) : otherwise;
}

// Tests shrink the number of waiting calls remembered per caller, so that running past it takes
// a handful of calls rather than thousands; with none remembered, a call whose server leaves is
// never answered, as on a broker that keeps no record of them.
ubusd::Limits limitsFromEnvironment() {
    ubusd::Limits limits;
    limits.pendingPerClient =
        sizeFromEnvironment("UBUSD_PENDING_LIMIT", 0, limits.pendingPerClient, limits.pendingPerClient);
    return limits;
}

// Tests shrink the output held for a client that does not read, so that a client stopped for a
// moment loses the messages sent to it meanwhile, as it would beside a flood.
const size_t gMaxQueued = sizeFromEnvironment("UBUSD_QUEUE_LIMIT", 1, kMaxQueued, kMaxQueued);

class Server : public ubusd::Output {
public:
    explicit Server(int epfd) : epfd_(epfd), broker_(*this, std::random_device{}(), limitsFromEnvironment()) {
        const char *trace = getenv("UBUSD_TRACE_OBJECTS");
        trace_ = trace && strcmp(trace, "1") == 0;
        broker_.traceObjects(trace_);
    }

    void accept(int listenFd) {
        for (;;) {
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE) {
                    // The pending connection stays readable: pause rather than spin.
                    fprintf(stderr, "ubusd: cannot accept a client: %s\n", strerror(errno));
                    usleep(100000);
                }
                return;
            }
            std::string user, group;
            pid_t pid = 0;
            peerNames(fd, user, group, pid);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = fd;
            if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
                close(fd);
                continue;
            }
            uint32_t id = broker_.connect(user, group);
            if (trace_) fprintf(stderr, "ubusd: client %08x is process %d\n", id, static_cast<int>(pid));
            conns_[id].fd = fd;
            byFd_[fd] = id;
            broker_.hello(id);
        }
    }

    // One read per readiness: the loop comes back while bytes are left, so that a client that
    // floods is read in turn with the others instead of ahead of them.
    void readable(int fd) {
        auto it = byFd_.find(fd);
        if (it == byFd_.end()) return;
        uint32_t id = it->second;
        uint8_t buf[65536];
        ssize_t n;
        do {
            n = recv(fd, buf, sizeof buf, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            dead_.insert(id);
            return;
        }
        if (!broker_.receive(id, buf, static_cast<size_t>(n))) {
            fprintf(stderr, "ubusd: client %08x sent a malformed message, disconnected\n", id);
            dead_.insert(id);
        }
    }

    void writable(int fd) {
        auto it = byFd_.find(fd);
        if (it != byFd_.end()) flush(it->second);
    }

    // Closes the clients found dead during the last round.
    void reap() {
        while (!dead_.empty()) {
            uint32_t id = *dead_.begin();
            dead_.erase(dead_.begin());
            auto it = conns_.find(id);
            if (it == conns_.end()) continue;
            int fd = it->second.fd;
            conns_.erase(it);
            byFd_.erase(fd);
            epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
            close(fd);
            broker_.disconnect(id);  // may queue events for others, never for this one
        }
    }

    void send(uint32_t client, std::vector<uint8_t> frame) override {
        auto it = conns_.find(client);
        if (it == conns_.end() || dead_.count(client)) return;
        Connection *c = &it->second;
        if (c->queuedBytes + frame.size() > gMaxQueued) {
            ++c->droppedUnlogged;
            const int64_t now = monotonicMs();
            if (c->lastDropLogMs < 0 || now - c->lastDropLogMs >= 1000) {
                fprintf(stderr, "ubusd: client %08x is not reading, %u message%s dropped\n", client,
                        c->droppedUnlogged, c->droppedUnlogged == 1 ? "" : "s");
                c->droppedUnlogged = 0;
                c->lastDropLogMs = now;
            }
            return;
        }
        // Messages are written in the order they were made, whoever they go to (a client told
        // of something may act on it at once, and find the rest already on its way); a run of
        // them for one client goes in one write, so a flood costs a few writes, not one a call.
        if (writing_ && writing_ != client) flush(writing_);
        writing_ = client;
        c->queuedBytes += frame.size();
        c->queue.push_back(std::move(frame));
    }

    // Writes out the last run of messages.
    void flushQueued() {
        if (writing_) flush(writing_);
        writing_ = 0;
    }

private:
    void flush(uint32_t client) {
        auto it = conns_.find(client);
        if (it == conns_.end()) return;
        Connection &c = it->second;
        while (!c.queue.empty()) {
            iovec parts[kWriteParts];
            size_t count = 0;
            for (auto f = c.queue.begin(); f != c.queue.end() && count < kWriteParts; ++f, ++count) {
                const size_t skip = count == 0 ? c.sentOfFront : 0;
                parts[count] = {f->data() + skip, f->size() - skip};
            }
            msghdr out{};
            out.msg_iov = parts;
            out.msg_iovlen = count;
            ssize_t n = ::sendmsg(c.fd, &out, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) {
                dead_.insert(client);
                return;
            }
            size_t sent = static_cast<size_t>(n);
            while (sent > 0) {
                std::vector<uint8_t> &front = c.queue.front();
                const size_t part = std::min(sent, front.size() - c.sentOfFront);
                c.sentOfFront += part;
                sent -= part;
                if (c.sentOfFront == front.size()) {
                    c.queuedBytes -= front.size();
                    c.queue.pop_front();
                    c.sentOfFront = 0;
                }
            }
        }
        bool want = !c.queue.empty();
        if (want != c.wantWrite) {
            epoll_event ev{};
            ev.events = want ? (EPOLLIN | EPOLLOUT) : EPOLLIN;
            ev.data.fd = c.fd;
            epoll_ctl(epfd_, EPOLL_CTL_MOD, c.fd, &ev);
            c.wantWrite = want;
        }
    }

    static void peerNames(int fd, std::string &user, std::string &group, pid_t &pid) {
        ucred cred{};
        socklen_t len = sizeof cred;
        uid_t uid = 0;
        gid_t gid = 0;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
            uid = cred.uid;
            gid = cred.gid;
            pid = cred.pid;
        }
        char buf[4096];
        passwd pw{}, *pwp = nullptr;
        struct group gr {}, *grp = nullptr;
        user = getpwuid_r(uid, &pw, buf, sizeof buf, &pwp) == 0 && pwp ? pw.pw_name : std::to_string(uid);
        group = getgrgid_r(gid, &gr, buf, sizeof buf, &grp) == 0 && grp ? gr.gr_name : std::to_string(gid);
    }

    int epfd_;
    ubusd::Broker broker_;
    std::map<uint32_t, Connection> conns_;
    std::map<int, uint32_t> byFd_;
    std::set<uint32_t> dead_;
    uint32_t writing_ = 0;  // the client whose run of messages is not written yet
    bool trace_ = false;
};

void usage() { fprintf(stderr, "Usage: ubusd [-s <socket>]\n"); }

int listenOn(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        fprintf(stderr, "ubusd: socket path too long: %s\n", path.c_str());
        return -1;
    }
    strcpy(addr.sun_path, path.c_str());
    std::string dir = path.substr(0, path.find_last_of('/'));
    if (!dir.empty() && dir != path) mkdir(dir.c_str(), 0755);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    mode_t old = umask(0111);
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && listen(fd, SOMAXCONN) == 0;
    umask(old);
    if (!ok) {
        fprintf(stderr, "ubusd: cannot listen on %s: %s\n", path.c_str(), strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char **argv) {
    std::string path;
    int opt;
    while ((opt = getopt(argc, argv, "s:h")) != -1) {
        if (opt == 's') {
            path = optarg;
        } else {
            usage();
            return opt == 'h' ? 0 : 1;
        }
    }
    if (optind < argc) {
        usage();
        return 1;
    }
    if (path.empty()) {
        const char *env = getenv(UBUS_SOCKET_ENV);
        path = env && *env ? env : UBUS_UNIX_SOCKET;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    int listenFd = listenOn(path);
    int epfd = epoll_create1(EPOLL_CLOEXEC);
    if (listenFd < 0 || sigFd < 0 || epfd < 0) return 1;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listenFd;
    epoll_ctl(epfd, EPOLL_CTL_ADD, listenFd, &ev);
    ev.data.fd = sigFd;
    epoll_ctl(epfd, EPOLL_CTL_ADD, sigFd, &ev);
    Server server(epfd);
    bool running = true;
    while (running) {
        epoll_event events[64];
        int n = epoll_wait(epfd, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "ubusd: epoll_wait: %s\n", strerror(errno));
            break;
        }
        for (int i = 0; i < n; i++) {
            int fd = events[i].data.fd;
            if (fd == sigFd) running = false;
            else if (fd == listenFd) server.accept(listenFd);
            else {
                if (events[i].events & EPOLLOUT) server.writable(fd);
                if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) server.readable(fd);
            }
            server.flushQueued();
        }
        server.reap();
        server.flushQueued();  // what the clients' departures announced
    }
    unlink(path.c_str());
    return 0;
}
