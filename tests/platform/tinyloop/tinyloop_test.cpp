// Event loop, streams and lists: what the daemon relies on when it reads its pipes.
#include "tinyloop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

struct Pipe {
    int fds[2]{-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    int rd() const { return fds[0]; }
    int wr() const { return fds[1]; }
    void closeWriter() {
        close(fds[1]);
        fds[1] = -1;
    }
};

// Handlers are plain functions: the test state they share lives here.
struct LoopState {
    int base = -1;
    std::vector<std::string> chunks;
    std::vector<int> counts;
    tl_stream_t *streams[2]{};
    int calls = 0;
};
LoopState *gState;

void recordAndStopAfterThree(tl_stream_t *stream, tl_event_t *event) {
    gState->counts.push_back(event->count);
    if (event->count > 0) gState->chunks.emplace_back(reinterpret_cast<char *>(event->in), event->count);
    if (gState->chunks.size() < 3) return;
    tl_base_delete_stream(gState->base, stream);
    tl_base_delete_stream(gState->base, gState->streams[1]);
}

// A stream that is never drained: each turn it takes one byte and counts the turn.
void busyTurn(tl_stream_t *stream, tl_event_t *) {
    char byte;
    if (read(stream->fd, &byte, 1) == 1) gState->calls++;
}

// The commands of a one-byte stream are not held back one per turn behind a stream that never
// runs dry (the bus socket under a flood): they are all served in the turn they are ready.
TEST(TinyloopStream, OneByteStreamSeesEachByteAsItsOwnCallAllInOneTurn) {
    LoopState state;
    gState = &state;
    Pipe p, busy;
    ASSERT_EQ(write(busy.wr(), std::string(100, 'b').data(), 100), 100);
    ASSERT_EQ(write(p.wr(), "EQx", 3), 3);
    state.base = tl_base_new();
    ASSERT_GE(state.base, 0);
    tl_stream_t *stream = tl_stream_new(p.rd());
    ASSERT_NE(stream, nullptr);
    state.streams[1] = tl_stream_new(busy.rd());
    ASSERT_EQ(tl_stream_add_handler(state.streams[1], 0, busyTurn), 0);
    ASSERT_EQ(tl_base_add_stream(state.base, state.streams[1]), 0);
    ASSERT_EQ(tl_stream_add_handler(stream, 1, recordAndStopAfterThree), 0);
    ASSERT_EQ(tl_base_add_stream(state.base, stream), 0);
    EXPECT_EQ(tl_base_dispatch(state.base), 0);
    EXPECT_EQ(state.chunks, (std::vector<std::string>{"E", "Q", "x"}));
    EXPECT_LE(state.calls, 1);
    tl_stream_free(stream);
    tl_stream_free(state.streams[1]);
    tl_base_free(state.base);
}

void countByte(tl_stream_t *, tl_event_t *event) { gState->counts.push_back(event->count); }

void stopBoth(tl_stream_t *, tl_event_t *) {
    gState->calls = static_cast<int>(gState->counts.size());
    for (tl_stream_t *s : gState->streams) tl_base_delete_stream(gState->base, s);
}

// ... and a stream that never runs dry does not hold the others for longer than its share.
TEST(TinyloopStream, AStreamThatNeverRunsDryLetsTheOthersIn) {
    LoopState state;
    gState = &state;
    Pipe flood, other;
    const std::string bytes(4000, 'E');
    ASSERT_EQ(write(flood.wr(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(write(other.wr(), "Q", 1), 1);
    state.base = tl_base_new();
    state.streams[0] = tl_stream_new(flood.rd());
    state.streams[1] = tl_stream_new(other.rd());
    tl_stream_add_handler(state.streams[0], 1, countByte);
    tl_stream_add_handler(state.streams[1], 0, stopBoth);
    for (tl_stream_t *s : state.streams) tl_base_add_stream(state.base, s);
    EXPECT_EQ(tl_base_dispatch(state.base), 0);
    EXPECT_LE(state.calls, 100);
    for (tl_stream_t *s : state.streams) tl_stream_free(s);
    tl_base_free(state.base);
}

void readItself(tl_stream_t *stream, tl_event_t *event) {
    EXPECT_EQ(event->in, nullptr);
    char buf[16];
    ssize_t n = read(stream->fd, buf, sizeof buf);
    if (n > 0) gState->chunks.emplace_back(buf, static_cast<size_t>(n));
    tl_base_delete_stream(gState->base, stream);
}

TEST(TinyloopStream, ZeroMaximumLeavesTheReadToTheHandler) {
    LoopState state;
    gState = &state;
    Pipe p;
    ASSERT_EQ(write(p.wr(), "timer!!!", 8), 8);
    state.base = tl_base_new();
    tl_stream_t *stream = tl_stream_new(p.rd());
    tl_stream_add_handler(stream, 0, readItself);
    tl_base_add_stream(state.base, stream);
    EXPECT_EQ(tl_base_dispatch(state.base), 0);
    EXPECT_EQ(state.chunks, (std::vector<std::string>{"timer!!!"}));
    tl_stream_free(stream);
    tl_base_free(state.base);
}

// Whichever stream is served first frees both: the other's pending event must be dropped.
void freeBoth(tl_stream_t *, tl_event_t *) {
    gState->calls++;
    for (tl_stream_t *&s : gState->streams) {
        tl_stream_free(s);
        s = nullptr;
    }
}

TEST(TinyloopStream, HandlerMayFreeItsOwnAndAnotherReadyStream) {
    LoopState state;
    gState = &state;
    Pipe a, b;
    ASSERT_EQ(write(a.wr(), "1", 1), 1);
    ASSERT_EQ(write(b.wr(), "2", 1), 1);
    state.base = tl_base_new();
    state.streams[0] = tl_stream_new(a.rd());
    state.streams[1] = tl_stream_new(b.rd());
    for (tl_stream_t *s : state.streams) {
        tl_stream_add_handler(s, 1, freeBoth);
        tl_base_add_stream(state.base, s);
    }
    EXPECT_EQ(tl_base_dispatch(state.base), 0);
    EXPECT_EQ(state.calls, 1);
    tl_base_free(state.base);
}

void countEndOfFile(tl_stream_t *, tl_event_t *event) { gState->counts.push_back(event->count); }

TEST(TinyloopStream, EndOfFileIsReportedOnceAndThenNoLongerWatched) {
    LoopState state;
    gState = &state;
    Pipe p;
    ASSERT_EQ(write(p.wr(), "ab", 2), 2);
    p.closeWriter();
    state.base = tl_base_new();
    tl_stream_t *stream = tl_stream_new(p.rd());
    tl_stream_add_handler(stream, 4096, countEndOfFile);
    tl_base_add_stream(state.base, stream);
    // The loop ends by itself once its only stream has nothing more to give.
    EXPECT_EQ(tl_base_dispatch(state.base), 0);
    EXPECT_EQ(state.counts, (std::vector<int>{2, 0}));
    tl_stream_free(stream);
    tl_base_free(state.base);
}

void onSignal(int) {}

void stopOnByte(tl_stream_t *stream, tl_event_t *event) {
    if (event->count == 1 && event->in[0] == 'Q') tl_base_delete_stream(gState->base, stream);
}

TEST(TinyloopDispatch, SignalsDuringTheWaitDoNotEndTheLoop) {
    LoopState state;
    gState = &state;
    struct sigaction sa {};
    sa.sa_handler = onSignal;  // no SA_RESTART: epoll_wait returns EINTR
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    Pipe p;
    state.base = tl_base_new();
    tl_stream_t *stream = tl_stream_new(p.rd());
    tl_stream_add_handler(stream, 1, stopOnByte);
    tl_base_add_stream(state.base, stream);
    std::atomic<bool> started{false};
    int result = -2;
    std::thread loop([&] {
        started = true;
        result = tl_base_dispatch(state.base);
    });
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 20; i++) {
        pthread_kill(loop.native_handle(), SIGUSR1);
        usleep(2000);
    }
    ASSERT_EQ(write(p.wr(), "Q", 1), 1);
    loop.join();
    EXPECT_EQ(result, 0);  // ended by the handler, not by a signal
    sigaction(SIGUSR1, &old, nullptr);
    tl_stream_free(stream);
    tl_base_free(state.base);
}

TEST(TinyloopBase, BadHandlesAndStreamsAreRefused) {
    EXPECT_EQ(tl_base_dispatch(-1), -1);
    EXPECT_EQ(tl_base_dispatch(100000), -1);
    EXPECT_EQ(tl_stream_new(-1), nullptr);
    int base = tl_base_new();
    tl_stream_t *stream = tl_stream_new(12345);  // not an open descriptor
    tl_stream_add_handler(stream, 1, countEndOfFile);
    EXPECT_EQ(tl_base_add_stream(base, stream), -1);
    EXPECT_EQ(tl_base_delete_stream(base, stream), -1);
    tl_stream_free(stream);
    tl_base_free(base);
}

int gKey;
int matchesKey(void *item) { return *static_cast<int *>(item) == gKey; }

TEST(TinyloopList, FifoFindDeleteAndConcurrentAdds) {
    tl_list_t *list = tl_list_new();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(tl_list_get(list), nullptr);
    int items[4] = {10, 11, 12, 13};
    for (int &item : items) tl_list_add(list, &item);
    gKey = 12;
    EXPECT_EQ(tl_list_find(list, matchesKey), &items[2]);
    EXPECT_EQ(tl_list_delete(list, &items[2]), 0);
    EXPECT_EQ(tl_list_delete(list, &items[2]), -1);
    EXPECT_EQ(tl_list_find(list, matchesKey), nullptr);
    EXPECT_EQ(tl_list_delete(list, &items[3]), 0);  // the tail: later adds must still link
    tl_list_add(list, &items[3]);
    EXPECT_EQ(tl_list_get(list), &items[0]);
    EXPECT_EQ(tl_list_get(list), &items[1]);
    EXPECT_EQ(tl_list_get(list), &items[3]);
    EXPECT_EQ(tl_list_get(list), nullptr);

    constexpr int kThreads = 4, kEach = 5000;
    static int marker;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([list] {
            for (int i = 0; i < kEach; i++) tl_list_add(list, &marker);
        });
    int taken = 0;
    while (taken < kThreads * kEach)
        if (tl_list_get(list)) taken++;
    for (auto &t : threads) t.join();
    EXPECT_EQ(list->count, 0u);
    tl_list_add(list, &items[0]);  // freeing a list with nodes left releases them
    tl_list_free(list);
}

}  // namespace
