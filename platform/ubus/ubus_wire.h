// Framing and attribute parsing of ubus messages, shared by the client library and the broker.
// Internal to this directory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ubusmsg.h"

namespace ubuswire {

constexpr size_t kHeaderSize = sizeof(ubus_msghdr) + sizeof(blob_attr);  // 12 bytes read first
static_assert(sizeof(ubus_msghdr) == 8, "ubus message header is 8 bytes on the wire");

// One received message: header fields in host order and the body container (its 4-byte
// header included), padded to a multiple of 4.
struct Message {
    uint8_t version = 0;
    uint8_t type = 0;
    uint16_t seq = 0;
    uint32_t peer = 0;
    std::vector<uint8_t> body;

    blob_attr *container() { return reinterpret_cast<blob_attr *>(body.data()); }
};

// Accumulates stream bytes and cuts them into messages.
class FrameReader {
public:
    enum class Result { Message, NeedMore, Corrupt };
    // Appends bytes; the caller then calls next() until it returns NeedMore.
    void append(const uint8_t *data, size_t len) { buf_.insert(buf_.end(), data, data + len); }
    Result next(Message &out);
    size_t buffered() const { return buf_.size() - start_; }

private:
    std::vector<uint8_t> buf_;
    size_t start_ = 0;
};

// The ubus attributes of a body, by id (null when absent or of the wrong shape); the last of a
// repeated id wins and ids beyond the table are ignored.
using Attrs = std::array<blob_attr *, UBUS_ATTR_MAX>;
Attrs parseAttrs(Message &msg);
// True when the body holds an attribute with this id, well-formed or not.
bool hasAttr(Message &msg, int id);

inline uint32_t getU32(const blob_attr *a) { return blob_get_u32(a); }
inline const char *getString(const blob_attr *a) { return blob_get_string(a); }

// Builds a message body with plain (non-extended) ubus attributes.
class Builder {
public:
    Builder();
    ~Builder();
    Builder(const Builder &) = delete;
    Builder &operator=(const Builder &) = delete;

    Builder &u32(int id, uint32_t value);
    Builder &u8(int id, uint8_t value);
    Builder &string(int id, const char *value);
    // A DATA-like attribute holding `len` bytes of already encoded elements.
    Builder &nested(int id, const void *contents, size_t len);
    // An attribute copied whole (header and payload).
    Builder &raw(const blob_attr *attr);
    bool ok() const { return ok_; }
    blob_buf *buf() { return &buf_; }
    // Header plus body as wire bytes; empty when the body is too large or building failed.
    std::vector<uint8_t> frame(uint8_t type, uint16_t seq, uint32_t peer) const;

private:
    blob_buf buf_{};
    bool ok_ = true;
};

std::vector<uint8_t> frameBody(uint8_t type, uint16_t seq, uint32_t peer, const uint8_t *body, size_t len);

}  // namespace ubuswire
