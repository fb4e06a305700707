// Framed message buses over pipes: a 32-bit size in host order, then the payload.
//
// A whole message is at most PIPE_BUF (4096) bytes and goes out in one write(), so the kernel
// keeps it atomic: senders on several threads (or processes) never interleave, and a full
// non-blocking pipe refuses the whole message instead of cutting it.
#include "tinyloop.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <unistd.h>

static_assert(sizeof(tl_packet_t) == 4096, "a bus message must fit one atomic pipe write");

namespace {

constexpr size_t kSizeWord = sizeof(uint32_t);

uint32_t sizeWordAt(const uint8_t *p) {
    uint32_t size;
    memcpy(&size, p, sizeof size);
    return size;
}

// Writes all of `len` bytes; waits for room only when the descriptor took part of them (never
// the case for a pipe, whose writes of this size are all or nothing).
bool writeWhole(int fd, const uint8_t *data, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, data + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && done > 0) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, -1);
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" {

tl_bus_t *tl_bus_new(int fd) {
    if (fd < 0) return nullptr;
    auto *bus = static_cast<tl_bus_t *>(calloc(1, sizeof(tl_bus_t)));
    if (!bus) return nullptr;
    bus->buf = static_cast<uint8_t *>(malloc(TL_BUS_BUFFER_SIZE));
    if (!bus->buf || pthread_mutex_init(&bus->lock, nullptr) != 0) {
        free(bus->buf);
        free(bus);
        return nullptr;
    }
    bus->fd = fd;
    return bus;
}

void tl_bus_free(tl_bus_t *bus) {
    if (!bus) return;
    pthread_mutex_destroy(&bus->lock);
    free(bus->buf);
    free(bus);
}

int tl_bus_add_handler(tl_bus_t *bus, tl_bus_handler_t handler) {
    if (!bus || !handler) return -1;
    for (auto &slot : bus->application_handlers) {
        if (!slot) {
            slot = handler;
            return 0;
        }
    }
    return -1;
}

int tl_bus_receive(tl_bus_t *bus, const tl_event_t *event) {
    if (!bus || !event) return -1;
    if (!event->in || event->count <= 0) return 0;
    size_t count = static_cast<size_t>(event->count);
    if (count > TL_BUS_BUFFER_SIZE - bus->bufUsed) return -1;  // buffer full: nothing appended
    memcpy(bus->buf + bus->bufUsed, event->in, count);
    bus->bufUsed += count;
    // Check every size word now in the buffer: one above the limit means the stream is corrupt
    // and no later boundary can be trusted.
    size_t off = 0;
    while (bus->bufUsed - off >= kSizeWord) {
        uint32_t size = sizeWordAt(bus->buf + off);
        if (size > TL_BUS_MAX_PAYLOAD) {
            bus->bufUsed = 0;
            return -2;
        }
        if (bus->bufUsed - off - kSizeWord < size) break;
        off += kSizeWord + size;
    }
    return static_cast<int>(count);
}

int tl_bus_dispatch(tl_bus_t *bus) {
    if (!bus) return -1;
    int delivered = 0;
    size_t off = 0;
    tl_packet_t packet;
    while (bus->bufUsed - off >= kSizeWord) {
        uint32_t size = sizeWordAt(bus->buf + off);
        if (size > TL_BUS_MAX_PAYLOAD) {  // cannot happen after tl_bus_receive; stay safe
            bus->bufUsed = 0;
            return -1;
        }
        if (bus->bufUsed - off - kSizeWord < size) break;
        packet.size = size;
        memcpy(packet.data, bus->buf + off + kSizeWord, size);
        off += kSizeWord + size;
        for (tl_bus_handler_t handler : bus->application_handlers)
            if (handler) handler(&packet);
        delivered++;
    }
    memmove(bus->buf, bus->buf + off, bus->bufUsed - off);
    bus->bufUsed -= off;
    return delivered;
}

size_t tl_bus_discard(tl_bus_t *bus) {
    if (!bus) return 0;
    size_t dropped = bus->bufUsed;
    bus->bufUsed = 0;
    return dropped;
}

int tl_bus_send(tl_bus_t *bus, const void *buf, size_t size) {
    if (!bus || (!buf && size > 0) || size > TL_BUS_MAX_PAYLOAD) return -1;
    uint8_t frame[sizeof(tl_packet_t)];
    uint32_t word = static_cast<uint32_t>(size);
    memcpy(frame, &word, kSizeWord);
    if (size > 0) memcpy(frame + kSizeWord, buf, size);
    pthread_mutex_lock(&bus->lock);
    bool ok = writeWhole(bus->fd, frame, kSizeWord + size);
    pthread_mutex_unlock(&bus->lock);
    return ok ? 0 : -1;
}

}  // extern "C"
