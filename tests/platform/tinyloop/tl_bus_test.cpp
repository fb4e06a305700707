// Message buses: framing, reassembly, refusal of oversize messages, concurrent senders.
#include "tinyloop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> gReceived;
void collect(tl_packet_t *packet) { gReceived.emplace_back(reinterpret_cast<char *>(packet->data), packet->size); }

std::string frame(const std::string &payload) {
    uint32_t size = static_cast<uint32_t>(payload.size());
    return std::string(reinterpret_cast<char *>(&size), 4) + payload;
}

int feed(tl_bus_t *bus, const std::string &bytes) {
    tl_event_t ev{reinterpret_cast<uint8_t *>(const_cast<char *>(bytes.data())), static_cast<int>(bytes.size())};
    return tl_bus_receive(bus, &ev);
}

TEST(TinyloopBus, MessagesSplitAtEveryByteReassembleInOrder) {
    const std::vector<std::string> messages = {"", "a", std::string(4092, 'z'), "hello", std::string(300, '\x01')};
    std::string stream;
    for (auto &m : messages) stream += frame(m);
    tl_bus_t *bus = tl_bus_new(0);
    ASSERT_NE(bus, nullptr);
    tl_bus_add_handler(bus, collect);
    for (size_t split = 0; split <= stream.size(); split++) {
        gReceived.clear();
        ASSERT_GE(feed(bus, stream.substr(0, split)), 0);
        tl_bus_dispatch(bus);
        ASSERT_GE(feed(bus, stream.substr(split)), 0);
        tl_bus_dispatch(bus);
        ASSERT_EQ(gReceived, messages) << "split at " << split;
    }
    tl_bus_free(bus);
}

TEST(TinyloopBus, CorruptSizeWordAndOverflowAreReported) {
    tl_bus_t *bus = tl_bus_new(0);
    tl_bus_add_handler(bus, collect);
    gReceived.clear();
    std::string bad = frame("ok");
    uint32_t huge = 4093;
    bad += std::string(reinterpret_cast<char *>(&huge), 4) + "xxxx";
    EXPECT_LT(feed(bus, bad), 0);
    EXPECT_EQ(tl_bus_dispatch(bus), 0);  // nothing from a corrupt stream is delivered
    // More undelivered bytes than the buffer holds are refused, not truncated.
    std::string partial = frame(std::string(4092, 'p')).substr(0, 4000);
    EXPECT_GE(feed(bus, partial), 0);
    std::string flood(TL_BUS_BUFFER_SIZE, 'f');
    EXPECT_LT(feed(bus, flood), 0);
    EXPECT_EQ(feed(bus, frame(std::string(4092, 'p')).substr(4000)), 96);
    EXPECT_EQ(tl_bus_dispatch(bus), 1);
    EXPECT_EQ(gReceived.back(), std::string(4092, 'p'));
    tl_bus_free(bus);
}

TEST(TinyloopBus, OversizeSendIsRefused) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    tl_bus_t *bus = tl_bus_new(fds[1]);
    std::string big(4093, 'b');
    EXPECT_EQ(tl_bus_send(bus, big.data(), big.size()), -1);
    EXPECT_EQ(tl_bus_send(bus, big.data(), 4092), 0);
    char buf[8192];
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 4096);  // only the message that fits went out
    tl_bus_free(bus);
    close(fds[0]);
    close(fds[1]);
}

TEST(TinyloopBus, FullPipeDropsWholeMessagesAndReaderKeepsFraming) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    tl_bus_t *tx = tl_bus_new(fds[1]);
    tl_bus_t *rx = tl_bus_new(fds[0]);
    tl_bus_add_handler(rx, collect);
    gReceived.clear();
    std::vector<std::string> accepted;
    int refused = 0;
    for (int i = 0; i < 200; i++) {
        std::string payload = std::to_string(i) + std::string(static_cast<size_t>(97 + i * 13 % 900), 'm');
        if (tl_bus_send(tx, payload.data(), payload.size()) == 0) accepted.push_back(payload);
        else refused++;
    }
    EXPECT_GT(refused, 0);
    uint8_t buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
        tl_event_t ev{buf, static_cast<int>(n)};
        ASSERT_GE(tl_bus_receive(rx, &ev), 0);
        tl_bus_dispatch(rx);
    }
    EXPECT_EQ(gReceived, accepted);
    tl_bus_free(tx);
    tl_bus_free(rx);
    close(fds[0]);
    close(fds[1]);
}

// Four sending threads through a real FIFO, read by the loop with 4096-byte reads.
struct FifoRun {
    int base = -1;
    tl_bus_t *bus = nullptr;
    int expected = 0;
    int delivered = 0;
    bool corrupt = false;
    std::vector<int> next;  // next sequence number per thread
};
FifoRun *gRun;

void checkSequence(tl_packet_t *packet) {
    FifoRun &run = *gRun;
    int thread = 0, seq = 0;
    if (packet->size < 8) {
        run.corrupt = true;
        return;
    }
    memcpy(&thread, packet->data, 4);
    memcpy(&seq, packet->data + 4, 4);
    for (uint32_t i = 8; i < packet->size; i++)
        if (packet->data[i] != static_cast<uint8_t>(seq)) run.corrupt = true;
    if (thread < 0 || thread >= static_cast<int>(run.next.size()) || run.next[static_cast<size_t>(thread)] != seq)
        run.corrupt = true;
    else
        run.next[static_cast<size_t>(thread)]++;
    run.delivered++;
}

void readFifo(tl_stream_t *stream, tl_event_t *event) {
    if (tl_bus_receive(gRun->bus, event) < 0) gRun->corrupt = true;
    tl_bus_dispatch(gRun->bus);
    if (gRun->delivered >= gRun->expected || gRun->corrupt) tl_base_delete_stream(gRun->base, stream);
}

TEST(TinyloopBus, FourThreadsThroughAFifoArriveWholeAndInOrder) {
    char dir[] = "/tmp/tlbusXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int rd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    int wr = open(path.c_str(), O_WRONLY);  // blocking: a full pipe makes senders wait
    ASSERT_GE(rd, 0);
    ASSERT_GE(wr, 0);
    constexpr int kThreads = 4, kEach = 10000;
    FifoRun run;
    gRun = &run;
    run.base = tl_base_new();
    run.bus = tl_bus_new(rd);
    run.expected = kThreads * kEach;
    run.next.assign(kThreads, 0);
    tl_bus_add_handler(run.bus, checkSequence);
    tl_bus_t *tx = tl_bus_new(wr);
    tl_stream_t *stream = tl_stream_new(rd);
    tl_stream_add_handler(stream, 4096, readFifo);
    tl_base_add_stream(run.base, stream);
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; t++)
        senders.emplace_back([tx, t] {
            uint8_t msg[4092];
            for (int seq = 0; seq < kEach; seq++) {
                size_t len = 8 + static_cast<size_t>((seq * 7 + t * 131) % 600);
                memcpy(msg, &t, 4);
                memcpy(msg + 4, &seq, 4);
                memset(msg + 8, static_cast<uint8_t>(seq), len - 8);
                ASSERT_EQ(tl_bus_send(tx, msg, len), 0);
            }
        });
    EXPECT_EQ(tl_base_dispatch(run.base), 0);
    for (auto &s : senders) s.join();
    EXPECT_FALSE(run.corrupt);
    EXPECT_EQ(run.delivered, run.expected);
    tl_stream_free(stream);
    tl_bus_free(run.bus);
    tl_bus_free(tx);
    tl_base_free(run.base);
    close(rd);
    close(wr);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
