/*
 * blobmsg: named, typed values on top of blob attributes. An element is an extended attribute
 * whose id is its type and whose payload starts with a name header (big-endian 16-bit name
 * length, the name, a NUL, zero padding to a multiple of 4), followed by the value.
 */
#ifndef LIBUBOX_BLOBMSG_H
#define LIBUBOX_BLOBMSG_H

#include "blob.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BLOBMSG_ALIGN 2
#define BLOBMSG_PADDING(len) (((len) + (1 << BLOBMSG_ALIGN) - 1) & ~((1 << BLOBMSG_ALIGN) - 1))

enum blobmsg_type {
    BLOBMSG_TYPE_UNSPEC,
    BLOBMSG_TYPE_ARRAY,
    BLOBMSG_TYPE_TABLE,
    BLOBMSG_TYPE_STRING,
    BLOBMSG_TYPE_INT64,
    BLOBMSG_TYPE_INT32,
    BLOBMSG_TYPE_INT16,
    BLOBMSG_TYPE_INT8,
    BLOBMSG_TYPE_DOUBLE,
    __BLOBMSG_TYPE_LAST,
    BLOBMSG_TYPE_LAST = __BLOBMSG_TYPE_LAST - 1,
    BLOBMSG_TYPE_BOOL = BLOBMSG_TYPE_INT8,
    BLOBMSG_CAST_INT64 = __BLOBMSG_TYPE_LAST, /* policy type accepting any integer width */
};

struct blobmsg_hdr {
    uint16_t namelen;
    uint8_t name[];
} __packed;

struct blobmsg_policy {
    const char *name;
    enum blobmsg_type type;
};

/* Size of a name header for a name of `namelen` bytes. */
static inline int blobmsg_hdrlen(unsigned int namelen) {
    return BLOBMSG_PADDING(sizeof(struct blobmsg_hdr) + namelen + 1);
}

static inline int blobmsg_type(const struct blob_attr *attr) { return (int)blob_id(attr); }

static inline uint16_t blobmsg_namelen(const struct blobmsg_hdr *hdr) {
    uint16_t v;
    memcpy(&v, &hdr->namelen, sizeof v);
    return be16_to_cpu(v);
}

static inline const char *blobmsg_name(const struct blob_attr *attr) {
    const struct blobmsg_hdr *hdr = (const struct blobmsg_hdr *)blob_data(attr);
    return (const char *)hdr->name;
}

/* The value: after the name header for an element, the whole payload for a plain container. */
static inline void *blobmsg_data(const struct blob_attr *attr) {
    char *data = (char *)blob_data(attr);
    if (blob_is_extended(attr))
        data += blobmsg_hdrlen(blobmsg_namelen((const struct blobmsg_hdr *)data));
    return data;
}

static inline size_t blobmsg_data_len(const struct blob_attr *attr) {
    size_t start = (size_t)((char *)blobmsg_data(attr) - (char *)blob_data(attr));
    size_t len = blob_len(attr);
    return start > len ? 0 : len - start;
}

static inline size_t blobmsg_len(const struct blob_attr *attr) { return blobmsg_data_len(attr); }

/* Validates one element (name header, value size by type, nested contents); `name`: the
   element must have a non-empty name. */
bool blobmsg_check_attr(const struct blob_attr *attr, bool name);
bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len);
/* Validates the children of an ARRAY or TABLE element, all of `type` unless UNSPEC; returns
   their number or -1. */
int blobmsg_check_array(const struct blob_attr *attr, int type);
int blobmsg_check_array_len(const struct blob_attr *attr, int type, size_t blob_len);

/* Looks the named elements of `data` (len bytes) up by policy into tb[0..policy_len): an
   element whose type differs from the policy leaves its entry null; the first of equal names
   wins. Returns 0, or -1 for malformed input. */
int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                  void *data, unsigned int len);
/* The same by position for the elements of an array. */
int blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                        void *data, unsigned int len);

int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data, unsigned int len);

static inline int blobmsg_add_double(struct blob_buf *buf, const char *name, double val) {
    uint64_t bits;
    memcpy(&bits, &val, sizeof bits);
    bits = cpu_to_be64(bits);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_DOUBLE, name, &bits, 8);
}
static inline int blobmsg_add_u8(struct blob_buf *buf, const char *name, uint8_t val) {
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT8, name, &val, 1);
}
static inline int blobmsg_add_u16(struct blob_buf *buf, const char *name, uint16_t val) {
    val = cpu_to_be16(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT16, name, &val, 2);
}
static inline int blobmsg_add_u32(struct blob_buf *buf, const char *name, uint32_t val) {
    val = cpu_to_be32(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT32, name, &val, 4);
}
static inline int blobmsg_add_u64(struct blob_buf *buf, const char *name, uint64_t val) {
    val = cpu_to_be64(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT64, name, &val, 8);
}
static inline int blobmsg_add_string(struct blob_buf *buf, const char *name, const char *string) {
    return blobmsg_add_field(buf, BLOBMSG_TYPE_STRING, name, string, (unsigned int)strlen(string) + 1);
}
/* Copies an element (its type, name and value). */
static inline int blobmsg_add_blob(struct blob_buf *buf, struct blob_attr *attr) {
    return blobmsg_add_field(buf, blobmsg_type(attr), blobmsg_name(attr), blobmsg_data(attr),
                             (unsigned int)blobmsg_data_len(attr));
}

/* Opens an ARRAY (array true) or TABLE element; the cookie closes it. Null on failure. */
void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array);
static inline void *blobmsg_open_array(struct blob_buf *buf, const char *name) {
    return blobmsg_open_nested(buf, name, true);
}
static inline void *blobmsg_open_table(struct blob_buf *buf, const char *name) {
    return blobmsg_open_nested(buf, name, false);
}
static inline void blobmsg_close_array(struct blob_buf *buf, void *cookie) { blob_nest_end(buf, cookie); }
static inline void blobmsg_close_table(struct blob_buf *buf, void *cookie) { blob_nest_end(buf, cookie); }

static inline int blobmsg_buf_init(struct blob_buf *buf) { return blob_buf_init(buf, BLOBMSG_TYPE_TABLE); }

static inline uint8_t blobmsg_get_u8(const struct blob_attr *attr) { return *(const uint8_t *)blobmsg_data(attr); }
static inline bool blobmsg_get_bool(const struct blob_attr *attr) { return blobmsg_get_u8(attr) != 0; }
static inline uint16_t blobmsg_get_u16(const struct blob_attr *attr) {
    uint16_t v;
    memcpy(&v, blobmsg_data(attr), sizeof v);
    return be16_to_cpu(v);
}
static inline uint32_t blobmsg_get_u32(const struct blob_attr *attr) {
    uint32_t v;
    memcpy(&v, blobmsg_data(attr), sizeof v);
    return be32_to_cpu(v);
}
static inline uint64_t blobmsg_get_u64(const struct blob_attr *attr) {
    uint64_t v;
    memcpy(&v, blobmsg_data(attr), sizeof v);
    return be64_to_cpu(v);
}
static inline double blobmsg_get_double(const struct blob_attr *attr) {
    uint64_t bits = blobmsg_get_u64(attr);
    double v;
    memcpy(&v, &bits, sizeof v);
    return v;
}
static inline char *blobmsg_get_string(const struct blob_attr *attr) {
    return attr ? (char *)blobmsg_data(attr) : NULL;
}
/* Any integer width as a 64-bit value (0 for other types). */
uint64_t blobmsg_cast_u64(const struct blob_attr *attr);
int64_t blobmsg_cast_s64(const struct blob_attr *attr);

#define blobmsg_for_each_attr(pos, attr, rem)                                                 \
    for (rem = (attr) ? blobmsg_data_len(attr) : 0,                                           \
        pos = (struct blob_attr *)((attr) ? blobmsg_data(attr) : NULL);                       \
         (size_t)(rem) >= sizeof(struct blob_attr) && blob_pad_len(pos) <= (size_t)(rem) &&   \
         blob_pad_len(pos) >= sizeof(struct blob_attr);                                       \
         rem -= blob_pad_len(pos), pos = blob_next(pos))

#ifdef __cplusplus
}
#endif

#endif
