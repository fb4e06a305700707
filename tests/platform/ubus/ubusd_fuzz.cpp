// libFuzzer target: the broker's engine fed arbitrary bytes from one client while another
// client serves an object and listens to events.
#include <cstring>
#include <vector>

#include "ubusd_broker.h"

namespace {

struct Sink : ubusd::Output {
    size_t bytes = 0;
    void send(uint32_t, std::vector<uint8_t> frame) override { bytes += frame.size(); }
};

std::vector<uint8_t> hex(const char *text) {
    std::vector<uint8_t> out;
    for (const char *p = text; p[0] && p[1];) {
        if (*p == ' ') {
            p++;
            continue;
        }
        char byte[3] = {p[0], p[1], 0};
        out.push_back(static_cast<uint8_t>(strtoul(byte, nullptr, 16)));
        p += 2;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Sink sink;
    ubusd::Limits limits;
    limits.objectsPerClient = 8;
    limits.patternsPerClient = 8;
    limits.pendingPerClient = 8;
    ubusd::Broker broker(sink, 1, limits);
    uint32_t server = broker.connect("root", "root");
    uint32_t fuzzer = broker.connect("user", "user");
    // The server publishes "test" with one method, and an anonymous object.
    auto add = hex("00 06 00 01 00 00 00 00 00 00 00 24 02 00 00 09 74 65 73 74 00 00 00 00"
                   " 06 00 00 14 82 00 00 10 00 04 65 63 68 6f 00 00 00 00 00 00");
    broker.receive(server, add.data(), add.size());
    auto anon = hex("00 06 00 02 00 00 00 00 00 00 00 04");
    broker.receive(server, anon.data(), anon.size());
    // The fuzzer's bytes arrive in two reads, split where the first byte says.
    size_t split = size ? data[0] % (size + 1) : 0;
    bool alive = broker.receive(fuzzer, data, split);
    if (alive) alive = broker.receive(fuzzer, data + split, size - split);
    broker.disconnect(server);
    broker.disconnect(fuzzer);
    if (broker.clientCount() != 0 || broker.objectCount() != 0) __builtin_trap();
    return 0;
}
