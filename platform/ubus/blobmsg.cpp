// blobmsg elements: writing named values and reading them back by policy.
//
// Everything read here may come from another process, so every length is checked against the
// bytes that contain it before it is followed, and nesting is bounded.
#include "libubox/blobmsg.h"

namespace {

constexpr size_t kHeader = sizeof(blob_attr);
constexpr int kMaxDepth = 32;

// Name header of a blobmsg element, validated: namelen fits and the name is NUL-terminated.
bool nameHeaderFits(const blob_attr *attr, size_t rawLen) {
    if (rawLen < kHeader + sizeof(blobmsg_hdr)) return false;
    size_t payload = rawLen - kHeader;
    auto *hdr = static_cast<const blobmsg_hdr *>(blob_data(attr));
    size_t namelen = blobmsg_namelen(hdr);
    size_t hdrlen = static_cast<size_t>(blobmsg_hdrlen(static_cast<unsigned>(namelen)));
    if (hdrlen > payload) return false;
    return hdr->name[namelen] == 0;
}

bool checkElement(const blob_attr *attr, bool needName, size_t avail, int depth);

// Children of an ARRAY or TABLE value: all must be whole elements filling the value exactly.
int checkChildren(const void *data, size_t len, int type, bool needNames, int depth) {
    if (depth > kMaxDepth) return -1;
    int count = 0;
    auto *pos = static_cast<const blob_attr *>(data);
    size_t rem = len;
    while (rem > 0) {
        if (rem < kHeader) return -1;
        size_t raw = blob_raw_len(pos);
        if (raw < kHeader || blob_pad_len(pos) > rem) return -1;
        if (type != BLOBMSG_TYPE_UNSPEC && blobmsg_type(pos) != type) return -1;
        if (!checkElement(pos, needNames, rem, depth + 1)) return -1;
        count++;
        rem -= blob_pad_len(pos);
        pos = blob_next(pos);
    }
    return count;
}

bool checkElement(const blob_attr *attr, bool needName, size_t avail, int depth) {
    if (avail < kHeader) return false;
    size_t raw = blob_raw_len(attr);
    if (raw < kHeader || raw > avail) return false;
    if (!blob_is_extended(attr)) return false;
    if (!nameHeaderFits(attr, raw)) return false;
    if (needName && blobmsg_namelen(static_cast<const blobmsg_hdr *>(blob_data(attr))) == 0) return false;
    int type = blobmsg_type(attr);
    if (type > BLOBMSG_TYPE_LAST) return false;
    const char *value = static_cast<const char *>(blobmsg_data(attr));
    size_t len = blobmsg_data_len(attr);
    switch (type) {
    case BLOBMSG_TYPE_INT8: return len == 1;
    case BLOBMSG_TYPE_INT16: return len == 2;
    case BLOBMSG_TYPE_INT32: return len == 4;
    case BLOBMSG_TYPE_INT64: return len == 8;
    case BLOBMSG_TYPE_DOUBLE: return len >= 8;
    case BLOBMSG_TYPE_STRING: return len >= 1 && value[len - 1] == 0;
    case BLOBMSG_TYPE_TABLE: return checkChildren(value, len, BLOBMSG_TYPE_UNSPEC, true, depth) >= 0;
    case BLOBMSG_TYPE_ARRAY: return checkChildren(value, len, BLOBMSG_TYPE_UNSPEC, false, depth) >= 0;
    default: return true;
    }
}

bool isInteger(int type) {
    return type == BLOBMSG_TYPE_INT8 || type == BLOBMSG_TYPE_INT16 || type == BLOBMSG_TYPE_INT32 ||
           type == BLOBMSG_TYPE_INT64;
}

bool typeMatches(int policyType, int type) {
    if (policyType == BLOBMSG_TYPE_UNSPEC) return true;
    if (policyType == BLOBMSG_CAST_INT64) return isInteger(type);
    return policyType == type;
}

// Walks `len` bytes of elements, calling `visit(index, attr)`; -1 on a malformed element.
template <typename Visit>
int walkElements(void *data, unsigned int len, Visit visit) {
    if (!data && len > 0) return -1;
    auto *pos = static_cast<blob_attr *>(data);
    size_t rem = len;
    int index = 0;
    while (rem > 0) {
        if (rem < kHeader) return -1;
        size_t raw = blob_raw_len(pos);
        if (raw < kHeader || raw > rem) return -1;
        if (!visit(index++, pos, rem)) return -1;
        size_t step = blob_pad_len(pos);
        if (step >= rem) break;  // the last element may come without its padding
        rem -= step;
        pos = blob_next(pos);
    }
    return 0;
}

}  // namespace

extern "C" {

bool blobmsg_check_attr_len(const blob_attr *attr, bool name, size_t len) {
    return attr && checkElement(attr, name, len, 0);
}

bool blobmsg_check_attr(const blob_attr *attr, bool name) {
    return attr && checkElement(attr, name, blob_raw_len(attr), 0);
}

int blobmsg_check_array_len(const blob_attr *attr, int type, size_t len) {
    if (!attr || !checkElement(attr, false, len, 0)) return -1;
    int own = blobmsg_type(attr);
    if (own != BLOBMSG_TYPE_ARRAY && own != BLOBMSG_TYPE_TABLE) return -1;
    return checkChildren(blobmsg_data(attr), blobmsg_data_len(attr), type, own == BLOBMSG_TYPE_TABLE, 0);
}

int blobmsg_check_array(const blob_attr *attr, int type) {
    return attr ? blobmsg_check_array_len(attr, type, blob_raw_len(attr)) : -1;
}

int blobmsg_parse(const blobmsg_policy *policy, int policy_len, blob_attr **tb, void *data, unsigned int len) {
    if (policy_len < 0 || (policy_len > 0 && (!policy || !tb))) return -1;
    for (int i = 0; i < policy_len; i++) tb[i] = nullptr;
    return walkElements(data, len, [&](int, blob_attr *attr, size_t avail) {
        if (!blob_is_extended(attr)) return true;  // plain attributes carry no name: ignored
        if (!checkElement(attr, false, avail, 0)) return false;
        const char *name = blobmsg_name(attr);
        for (int i = 0; i < policy_len; i++) {
            if (tb[i] || !policy[i].name || strcmp(policy[i].name, name) != 0) continue;
            if (!typeMatches(policy[i].type, blobmsg_type(attr))) continue;
            tb[i] = attr;
        }
        return true;
    });
}

int blobmsg_parse_array(const blobmsg_policy *policy, int policy_len, blob_attr **tb, void *data, unsigned int len) {
    if (policy_len < 0 || (policy_len > 0 && (!policy || !tb))) return -1;
    for (int i = 0; i < policy_len; i++) tb[i] = nullptr;
    return walkElements(data, len, [&](int index, blob_attr *attr, size_t avail) {
        if (!checkElement(attr, false, avail, 0)) return false;
        if (index < policy_len && typeMatches(policy[index].type, blobmsg_type(attr))) tb[index] = attr;
        return true;
    });
}

int blobmsg_add_field(blob_buf *buf, int type, const char *name, const void *data, unsigned int len) {
    if (!buf || type < 0 || type > BLOBMSG_TYPE_LAST) return -1;
    if (!name) name = "";
    size_t namelen = strlen(name);
    if (namelen > 0xffff) return -1;
    size_t hdrlen = static_cast<size_t>(blobmsg_hdrlen(static_cast<unsigned>(namelen)));
    if (hdrlen + len > BLOB_ATTR_LEN_MASK) return -1;
    blob_attr *attr = blob_new(buf, type, static_cast<int>(hdrlen + len));
    if (!attr) return -1;
    attr->id_len |= cpu_to_be32(BLOB_ATTR_EXTENDED);
    auto *hdr = static_cast<blobmsg_hdr *>(blob_data(attr));
    uint16_t be = cpu_to_be16(static_cast<uint16_t>(namelen));
    memcpy(&hdr->namelen, &be, sizeof be);
    memcpy(hdr->name, name, namelen);
    if (len > 0 && data) memcpy(static_cast<char *>(blob_data(attr)) + hdrlen, data, len);
    return 0;
}

void *blobmsg_open_nested(blob_buf *buf, const char *name, bool array) {
    if (!buf || !buf->head) return nullptr;
    // The element is written with its name header as its only payload, then becomes the open
    // container into which the children go.
    char *start = static_cast<char *>(buf->buf);
    uintptr_t parentOff = static_cast<uintptr_t>(reinterpret_cast<char *>(buf->head) - start);
    uintptr_t childOff = parentOff + blob_pad_len(buf->head);
    if (blobmsg_add_field(buf, array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE, name, nullptr, 0) != 0)
        return nullptr;
    buf->head = reinterpret_cast<blob_attr *>(static_cast<char *>(buf->buf) + childOff);
    return reinterpret_cast<void *>(parentOff + BLOB_COOKIE);
}

uint64_t blobmsg_cast_u64(const blob_attr *attr) {
    return static_cast<uint64_t>(blobmsg_cast_s64(attr));
}

int64_t blobmsg_cast_s64(const blob_attr *attr) {
    if (!attr) return 0;
    switch (blobmsg_type(attr)) {
    case BLOBMSG_TYPE_INT64: return static_cast<int64_t>(blobmsg_get_u64(attr));
    case BLOBMSG_TYPE_INT32: return static_cast<int32_t>(blobmsg_get_u32(attr));
    case BLOBMSG_TYPE_INT16: return static_cast<int16_t>(blobmsg_get_u16(attr));
    case BLOBMSG_TYPE_INT8: return static_cast<int8_t>(blobmsg_get_u8(attr));
    default: return 0;
    }
}

}  // extern "C"
