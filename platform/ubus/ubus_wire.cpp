// ubus message framing and attribute parsing.
#include "ubus_wire.h"

#include <cstring>

namespace ubuswire {

namespace {

// The shape each attribute id must have; others are ignored as if absent.
bool attrShapeOk(int id, const blob_attr *attr) {
    // A length shorter than the attribute's own header is no attribute: whatever keeps it would
    // read past what it holds.
    if (blob_raw_len(attr) < sizeof(blob_attr)) return false;
    size_t len = blob_len(attr);
    const char *data = static_cast<const char *>(blob_data(attr));
    switch (id) {
    case UBUS_ATTR_STATUS:
    case UBUS_ATTR_OBJID:
    case UBUS_ATTR_OBJTYPE:
    case UBUS_ATTR_TARGET: return len == 4;
    case UBUS_ATTR_ACTIVE:
    case UBUS_ATTR_NO_REPLY: return len == 1;
    case UBUS_ATTR_OBJPATH:
    case UBUS_ATTR_METHOD:
    case UBUS_ATTR_USER:
    case UBUS_ATTR_GROUP: return len >= 1 && data[len - 1] == 0;
    default: return true;  // containers: their contents are checked where they are read
    }
}

}  // namespace

FrameReader::Result FrameReader::next(Message &out) {
    size_t avail = buf_.size() - start_;
    if (avail < kHeaderSize) {
        if (start_ > 0) {
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(start_));
            start_ = 0;
        }
        return Result::NeedMore;
    }
    const uint8_t *p = buf_.data() + start_;
    blob_attr container;
    memcpy(&container, p + sizeof(ubus_msghdr), sizeof container);
    size_t raw = blob_raw_len(&container);
    size_t padded = blob_pad_len(&container);
    if (raw < sizeof(blob_attr) || padded > UBUS_MAX_MSGLEN) return Result::Corrupt;
    if (avail < sizeof(ubus_msghdr) + padded) {
        // Keep the buffer compact while a large message trickles in.
        if (start_ > 0) {
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(start_));
            start_ = 0;
        }
        return Result::NeedMore;
    }
    out.version = p[0];
    out.type = p[1];
    out.seq = static_cast<uint16_t>(p[2] << 8 | p[3]);
    out.peer = static_cast<uint32_t>(p[4]) << 24 | static_cast<uint32_t>(p[5]) << 16 |
               static_cast<uint32_t>(p[6]) << 8 | p[7];
    out.body.assign(p + sizeof(ubus_msghdr), p + sizeof(ubus_msghdr) + padded);
    start_ += sizeof(ubus_msghdr) + padded;
    if (start_ == buf_.size()) {
        buf_.clear();
        start_ = 0;
    }
    return Result::Message;
}

namespace {

// Walks the attributes of the message's body, within what was received, until `visit` returns
// true; false when it never does or the body is too short to hold any.
template <typename Visit>
bool visitBodyAttrs(Message &msg, Visit visit) {
    if (msg.body.size() < sizeof(blob_attr)) return false;
    blob_attr *body = msg.container();
    size_t rem = blob_raw_len(body);
    if (rem < sizeof(blob_attr) || rem > msg.body.size()) return false;
    rem -= sizeof(blob_attr);
    blob_attr *pos;
    __blob_for_each_attr(pos, blob_data(body), rem) {
        if (visit(pos)) return true;
    }
    return false;
}

}  // namespace

Attrs parseAttrs(Message &msg) {
    Attrs tb{};
    visitBodyAttrs(msg, [&tb](blob_attr *pos) {
        unsigned id = blob_id(pos);
        // The extended flag is not part of the id: an attribute that carries it is read by its id
        // like any other.
        if (id < UBUS_ATTR_MAX && attrShapeOk(static_cast<int>(id), pos)) tb[id] = pos;
        return false;
    });
    return tb;
}

bool hasAttr(Message &msg, int wanted) {
    return visitBodyAttrs(msg, [wanted](blob_attr *pos) { return static_cast<int>(blob_id(pos)) == wanted; });
}

Builder::Builder() { ok_ = blob_buf_init(&buf_, 0) == 0; }
Builder::~Builder() { blob_buf_free(&buf_); }

Builder &Builder::u32(int id, uint32_t value) {
    if (ok_ && !blob_put_u32(&buf_, id, value)) ok_ = false;
    return *this;
}

Builder &Builder::u8(int id, uint8_t value) {
    if (ok_ && !blob_put_u8(&buf_, id, value)) ok_ = false;
    return *this;
}

Builder &Builder::string(int id, const char *value) {
    if (ok_ && !blob_put_string(&buf_, id, value ? value : "")) ok_ = false;
    return *this;
}

Builder &Builder::nested(int id, const void *contents, size_t len) {
    if (!ok_) return *this;
    void *cookie = blob_nest_start(&buf_, id);
    if (!cookie || (len > 0 && !blob_put_raw(&buf_, contents, static_cast<unsigned>(len)))) ok_ = false;
    if (cookie) blob_nest_end(&buf_, cookie);
    return *this;
}

Builder &Builder::raw(const blob_attr *attr) {
    if (ok_ && attr && !blob_put_raw(&buf_, attr, static_cast<unsigned>(blob_raw_len(attr)))) ok_ = false;
    return *this;
}

std::vector<uint8_t> frameBody(uint8_t type, uint16_t seq, uint32_t peer, const uint8_t *body, size_t len) {
    std::vector<uint8_t> out(sizeof(ubus_msghdr) + len);
    out[0] = 0;
    out[1] = type;
    out[2] = static_cast<uint8_t>(seq >> 8);
    out[3] = static_cast<uint8_t>(seq);
    out[4] = static_cast<uint8_t>(peer >> 24);
    out[5] = static_cast<uint8_t>(peer >> 16);
    out[6] = static_cast<uint8_t>(peer >> 8);
    out[7] = static_cast<uint8_t>(peer);
    if (len) memcpy(out.data() + sizeof(ubus_msghdr), body, len);
    return out;
}

std::vector<uint8_t> Builder::frame(uint8_t type, uint16_t seq, uint32_t peer) const {
    if (!ok_ || !buf_.head) return {};
    size_t len = blob_pad_len(buf_.head);
    if (len > UBUS_MAX_MSGLEN) return {};
    return frameBody(type, seq, peer, reinterpret_cast<const uint8_t *>(buf_.head), len);
}

}  // namespace ubuswire
