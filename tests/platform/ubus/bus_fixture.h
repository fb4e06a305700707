// Test support: a broker process on a private socket, contexts served on their own threads,
// and a loop helper for contexts on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "libubus.h"

namespace bustest {

using Clock = std::chrono::steady_clock;

// Starts a program that is ended with the test process, even when the test crashes.
inline pid_t spawnProcess(const std::vector<std::string> &args, const char *stdoutPath = nullptr) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (stdoutPath) {
            int fd = open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) dup2(fd, 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

inline void stopProcess(pid_t &pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    pid = -1;
}

// A private directory removed with its contents at the end.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/ubustestXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
};

// ubusd on a socket in a temporary directory; stopped in every outcome.
struct BrokerProcess {
    TempDir dir;
    std::string socket;
    pid_t pid = -1;
    BrokerProcess() {
        socket = dir.path + "/ubus.sock";
        pid = spawnProcess({UBUSD_PATH, "-s", socket});
        for (int i = 0; i < 500; i++) {
            if (ubus_context *probe = ubus_connect(socket.c_str())) {
                ubus_free(probe);
                return;
            }
            usleep(10000);
        }
        ADD_FAILURE() << "ubusd did not start";
    }
    ~BrokerProcess() { stopProcess(pid); }
    void stop() { stopProcess(pid); }
};

// Runs the context's loop on the calling thread until `done` or the time-out (false).
inline bool runUntil(ubus_context *ctx, const std::function<bool()> &done, int timeoutMs = 5000) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{ctx->sock.fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left > 50 ? 50 : left)) > 0) ubus_handle_event(ctx);
    }
    return true;
}

// A context connected and served on its own thread. `setup` runs on that thread before the
// loop; `idle` after every round of the loop.
class ServedContext {
public:
    ServedContext(const std::string &socket, std::function<void(ubus_context *)> setup,
                  std::function<void(ubus_context *)> idle = nullptr)
        : stopFd_(eventfd(0, EFD_CLOEXEC)) {
        thread_ = std::thread([this, socket, setup, idle] {
            ubus_context *ctx = ubus_connect(socket.c_str());
            if (ctx && setup) setup(ctx);
            ready_ = ctx ? 1 : -1;
            while (ctx) {
                pollfd fds[2] = {{ctx->sock.fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
                if (poll(fds, 2, 20) < 0) continue;
                if (fds[1].revents) break;
                if (fds[0].revents) ubus_handle_event(ctx);
                if (idle) idle(ctx);
                if (ctx->sock.eof) break;
            }
            if (ctx) ubus_free(ctx);
        });
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (ready_ == 0 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ready_, 1) << "the served context did not connect";
    }
    // Disconnects: the context is freed on its thread.
    void stop() {
        if (!thread_.joinable()) return;
        uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) {
        }
        thread_.join();
    }
    ~ServedContext() {
        stop();
        close(stopFd_);
    }

private:
    int stopFd_;
    std::atomic<int> ready_{0};
    std::thread thread_;
};

}  // namespace bustest
