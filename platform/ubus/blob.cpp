// Blob buffers: building attributes and nested containers in one growing buffer.
//
// `head` is the innermost open container and always ends where the written data ends, so a
// new attribute goes right after the head's padded length and only the head's length changes.
// Closing a container sets its parent's length to reach the end of the closed one.
#include "libubox/blob.h"

#include <cstdlib>

namespace {

constexpr size_t kHeader = sizeof(blob_attr);
constexpr size_t kMaxRaw = BLOB_ATTR_LEN_MASK;

size_t padded(size_t len) { return (len + BLOB_ATTR_ALIGN - 1) & ~static_cast<size_t>(BLOB_ATTR_ALIGN - 1); }

void setHeader(blob_attr *attr, unsigned id, size_t rawLen) {
    uint32_t word = (static_cast<uint32_t>(id) << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;
    word |= static_cast<uint32_t>(rawLen) & BLOB_ATTR_LEN_MASK;
    attr->id_len = cpu_to_be32(word);
}

char *bufStart(blob_buf *buf) { return static_cast<char *>(buf->buf); }

// Bytes in use: everything up to the end of the (padded) head.
size_t usedBytes(blob_buf *buf) {
    return static_cast<size_t>(reinterpret_cast<char *>(buf->head) - bufStart(buf)) + blob_pad_len(buf->head);
}

// Makes room for `extra` more bytes after the head; keeps `head` valid across a move.
bool reserve(blob_buf *buf, size_t extra) {
    size_t used = buf->head ? usedBytes(buf) : 0;
    if (used + extra > kMaxRaw + kHeader) return false;
    if (used + extra <= static_cast<size_t>(buf->buflen)) return true;
    size_t headOff = buf->head ? static_cast<size_t>(reinterpret_cast<char *>(buf->head) - bufStart(buf)) : 0;
    bool hadHead = buf->head != nullptr;
    if (!buf->grow || !buf->grow(buf, static_cast<int>(used + extra - static_cast<size_t>(buf->buflen))))
        return false;
    if (hadHead) buf->head = reinterpret_cast<blob_attr *>(bufStart(buf) + headOff);
    return used + extra <= static_cast<size_t>(buf->buflen);
}

// Adds `rawLen` bytes of attribute after the head, header set, payload and padding zeroed.
blob_attr *appendAttr(blob_buf *buf, unsigned id, size_t rawLen) {
    size_t pad = padded(rawLen);
    if (!buf->head || !reserve(buf, pad)) return nullptr;
    size_t headRaw = blob_pad_len(buf->head) + pad;
    if (headRaw > kMaxRaw) return nullptr;
    auto *attr = reinterpret_cast<blob_attr *>(reinterpret_cast<char *>(buf->head) + blob_pad_len(buf->head));
    memset(attr, 0, pad);
    setHeader(attr, id, rawLen);
    uint32_t headWord = be32_to_cpu(buf->head->id_len) & ~static_cast<uint32_t>(BLOB_ATTR_LEN_MASK);
    buf->head->id_len = cpu_to_be32(headWord | static_cast<uint32_t>(headRaw));
    return attr;
}

}  // namespace

extern "C" {

void blob_fill_pad(blob_attr *attr) {
    size_t raw = blob_raw_len(attr);
    size_t pad = padded(raw);
    if (pad > raw) memset(reinterpret_cast<char *>(attr) + raw, 0, pad - raw);
}

void blob_set_raw_len(blob_attr *attr, unsigned int len) {
    if (len < kHeader) len = kHeader;
    uint32_t word = be32_to_cpu(attr->id_len) & ~static_cast<uint32_t>(BLOB_ATTR_LEN_MASK);
    attr->id_len = cpu_to_be32(word | (len & BLOB_ATTR_LEN_MASK));
}

bool blob_attr_equal(const blob_attr *a1, const blob_attr *a2) {
    if (!a1 && !a2) return true;
    if (!a1 || !a2) return false;
    if (blob_pad_len(a1) != blob_pad_len(a2)) return false;
    return memcmp(a1, a2, blob_pad_len(a1)) == 0;
}

bool blob_buf_grow(blob_buf *buf, int required) {
    if (required <= 0) return true;
    size_t want = static_cast<size_t>(buf->buflen) + static_cast<size_t>(required);
    size_t size = buf->buflen > 0 ? static_cast<size_t>(buf->buflen) : 256;
    while (size < want) size *= 2;
    if (size > kMaxRaw + kHeader) size = want;
    void *grown = realloc(buf->buf, size);
    if (!grown) return false;
    buf->buf = grown;
    buf->buflen = static_cast<int>(size);
    return true;
}

int blob_buf_init(blob_buf *buf, int id) {
    if (!buf) return -1;
    if (!buf->grow) buf->grow = blob_buf_grow;
    buf->head = nullptr;
    if (buf->buflen < static_cast<int>(kHeader) || !buf->buf) {
        if (!buf->grow(buf, static_cast<int>(kHeader))) return -1;
    }
    buf->head = static_cast<blob_attr *>(buf->buf);
    setHeader(buf->head, static_cast<unsigned>(id), kHeader);
    return 0;
}

void blob_buf_free(blob_buf *buf) {
    if (!buf) return;
    free(buf->buf);
    buf->buf = nullptr;
    buf->head = nullptr;
    buf->buflen = 0;
}

blob_attr *blob_new(blob_buf *buf, int id, int payload) {
    if (!buf || payload < 0) return nullptr;
    return appendAttr(buf, static_cast<unsigned>(id), kHeader + static_cast<size_t>(payload));
}

blob_attr *blob_put(blob_buf *buf, int id, const void *ptr, unsigned int len) {
    blob_attr *attr = blob_new(buf, id, static_cast<int>(len));
    if (attr && len > 0 && ptr) memcpy(blob_data(attr), ptr, len);
    return attr;
}

blob_attr *blob_put_raw(blob_buf *buf, const void *ptr, unsigned int len) {
    if (!buf || !buf->head || (len > 0 && !ptr)) return nullptr;
    size_t pad = padded(len);
    if (!reserve(buf, pad)) return nullptr;
    size_t headRaw = blob_pad_len(buf->head) + pad;
    if (headRaw > kMaxRaw) return nullptr;
    auto *dest = reinterpret_cast<blob_attr *>(reinterpret_cast<char *>(buf->head) + blob_pad_len(buf->head));
    memset(dest, 0, pad);
    if (len > 0) memcpy(dest, ptr, len);
    blob_set_raw_len(buf->head, static_cast<unsigned>(headRaw));
    return dest;
}

void *blob_nest_start(blob_buf *buf, int id) {
    if (!buf || !buf->head) return nullptr;
    size_t parentOff = static_cast<size_t>(reinterpret_cast<char *>(buf->head) - bufStart(buf));
    blob_attr *child = blob_new(buf, id, 0);
    if (!child) return nullptr;
    buf->head = child;
    return reinterpret_cast<void *>(static_cast<uintptr_t>(parentOff) + BLOB_COOKIE);
}

void blob_nest_end(blob_buf *buf, void *cookie) {
    if (!buf || !buf->head || !cookie) return;
    size_t parentOff = reinterpret_cast<uintptr_t>(cookie) - BLOB_COOKIE;
    auto *parent = reinterpret_cast<blob_attr *>(bufStart(buf) + parentOff);
    size_t childEnd = static_cast<size_t>(reinterpret_cast<char *>(buf->head) - reinterpret_cast<char *>(parent)) +
                      blob_pad_len(buf->head);
    blob_set_raw_len(parent, static_cast<unsigned>(childEnd));
    buf->head = parent;
}

bool blob_check_type(const void *ptr, unsigned int len, int type) {
    const char *data = static_cast<const char *>(ptr);
    switch (type) {
    case BLOB_ATTR_INT8: return len == 1;
    case BLOB_ATTR_INT16: return len == 2;
    case BLOB_ATTR_INT32: return len == 4;
    case BLOB_ATTR_INT64: return len == 8;
    case BLOB_ATTR_DOUBLE: return len == 8;
    case BLOB_ATTR_STRING: return len >= 1 && data[len - 1] == 0;
    default: return true;
    }
}

// One attribute against its id's rules: wrong sizes and failed checks leave it out.
static bool attrFits(blob_attr *pos, const blob_attr_info *info) {
    if (!info) return true;
    const blob_attr_info &rule = info[blob_id(pos)];
    size_t len = blob_len(pos);
    if (rule.type != BLOB_ATTR_UNSPEC) {
        if (rule.type >= BLOB_ATTR_LAST) return false;
        if (!blob_check_type(blob_data(pos), static_cast<unsigned>(len), static_cast<int>(rule.type))) return false;
    }
    if (rule.minlen && len < rule.minlen) return false;
    if (rule.maxlen && len > rule.maxlen) return false;
    if (rule.validate && !rule.validate(&rule, pos)) return false;
    return true;
}

int blob_parse_untrusted(blob_attr *attr, size_t attr_len, blob_attr **data, const blob_attr_info *info, int max) {
    if (!data || max <= 0) return 0;
    memset(data, 0, sizeof(blob_attr *) * static_cast<size_t>(max));
    if (!attr || attr_len < kHeader) return 0;
    size_t len = blob_raw_len(attr);
    if (len < kHeader || len > attr_len) return 0;
    int found = 0;
    blob_attr *pos;
    size_t rem = len - kHeader;
    __blob_for_each_attr(pos, blob_data(attr), rem) {
        unsigned id = blob_id(pos);
        if (static_cast<int>(id) >= max) continue;  // ids beyond the table are ignored
        if (!attrFits(pos, info)) continue;
        if (!data[id]) found++;
        data[id] = pos;  // a repeated id: the last one wins
    }
    return found;
}

int blob_parse(blob_attr *attr, blob_attr **data, const blob_attr_info *info, int max) {
    if (!attr) return blob_parse_untrusted(nullptr, 0, data, info, max);
    return blob_parse_untrusted(attr, blob_raw_len(attr), data, info, max);
}

blob_attr *blob_memdup(const blob_attr *attr) {
    if (!attr) return nullptr;
    size_t size = blob_pad_len(attr);
    if (size < kHeader) size = kHeader;
    auto *copy = static_cast<blob_attr *>(malloc(size));
    if (!copy) return nullptr;
    memcpy(copy, attr, blob_raw_len(attr) < kHeader ? kHeader : blob_raw_len(attr));
    blob_fill_pad(copy);
    return copy;
}

}  // extern "C"
