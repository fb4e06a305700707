// blobmsg <-> JSON through json-c, with the text layout of the usual command-line tools:
// compact (no spaces) or TAB-indented with ": " between key and value.
#include "libubox/blobmsg_json.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t kHeader = sizeof(blob_attr);

struct Formatter {
    std::string out;
    bool pretty;
    blobmsg_json_format_t cb;
    void *priv;

    void newline(int depth) {
        if (!pretty) return;
        out += '\n';
        out.append(static_cast<size_t>(depth > 0 ? depth : 0), '\t');
    }

    void string(const char *s, size_t len) {
        out += '"';
        for (size_t i = 0; i < len; i++) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            switch (c) {
            case '\b': out += "\\b"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
            }
        }
        out += '"';
    }

    // The children of a container: `len` bytes at `data`. Invalid elements are skipped.
    void container(const void *data, size_t len, bool array, int depth) {
        out += array ? '[' : '{';
        newline(depth);
        bool first = true;
        auto *pos = static_cast<const blob_attr *>(data);
        size_t rem = len;
        while (rem >= kHeader) {
            size_t raw = blob_raw_len(pos);
            if (raw < kHeader || raw > rem) break;
            if (blobmsg_check_attr_len(pos, false, rem)) {
                if (!first) {
                    out += ',';
                    newline(depth);
                }
                first = false;
                element(pos, array, depth);
            }
            size_t step = blob_pad_len(pos);
            if (step >= rem) break;
            rem -= step;
            pos = blob_next(pos);
        }
        newline(depth - 1);
        out += array ? ']' : '}';
    }

    void element(const blob_attr *attr, bool inArray, int depth) {
        const char *name = blobmsg_name(attr);
        if (!inArray && name[0]) {
            string(name, strlen(name));
            out += pretty ? ": " : ":";
        }
        value(attr, depth);
    }

    void value(const blob_attr *attr, int depth) {
        if (cb) {
            const char *text = cb(priv, const_cast<blob_attr *>(attr));
            if (text) {
                out += text;
                return;
            }
        }
        char num[64];
        const void *data = blobmsg_data(attr);
        size_t len = blobmsg_data_len(attr);
        switch (blobmsg_type(attr)) {
        case BLOBMSG_TYPE_UNSPEC: out += "null"; break;
        case BLOBMSG_TYPE_INT8: out += blobmsg_get_u8(attr) ? "true" : "false"; break;
        case BLOBMSG_TYPE_INT16:
            snprintf(num, sizeof num, "%d", static_cast<int16_t>(blobmsg_get_u16(attr)));
            out += num;
            break;
        case BLOBMSG_TYPE_INT32:
            snprintf(num, sizeof num, "%" PRId32, static_cast<int32_t>(blobmsg_get_u32(attr)));
            out += num;
            break;
        case BLOBMSG_TYPE_INT64:
            snprintf(num, sizeof num, "%" PRId64, static_cast<int64_t>(blobmsg_get_u64(attr)));
            out += num;
            break;
        case BLOBMSG_TYPE_DOUBLE: {
            std::string text(512, '\0');
            int n = snprintf(text.data(), text.size(), "%lf", blobmsg_get_double(attr));
            if (n > 0) out.append(text.data(), static_cast<size_t>(n) < text.size() ? static_cast<size_t>(n) : text.size() - 1);
            break;
        }
        case BLOBMSG_TYPE_STRING: string(static_cast<const char *>(data), len ? strlen(static_cast<const char *>(data)) : 0); break;
        case BLOBMSG_TYPE_TABLE: container(data, len, false, depth + 1); break;
        case BLOBMSG_TYPE_ARRAY: container(data, len, true, depth + 1); break;
        default: out += "null"; break;
        }
    }
};

bool addJson(blob_buf *b, const char *name, json_object *obj, int depth) {
    if (depth > 32) return false;
    switch (json_object_get_type(obj)) {
    case json_type_null: return blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, name, nullptr, 0) == 0;
    case json_type_boolean: return blobmsg_add_u8(b, name, json_object_get_boolean(obj) ? 1 : 0) == 0;
    case json_type_int: {
        int64_t v = json_object_get_int64(obj);
        if (v >= INT32_MIN && v <= INT32_MAX) return blobmsg_add_u32(b, name, static_cast<uint32_t>(static_cast<int32_t>(v))) == 0;
        return blobmsg_add_u64(b, name, static_cast<uint64_t>(v)) == 0;
    }
    case json_type_double: return blobmsg_add_double(b, name, json_object_get_double(obj)) == 0;
    case json_type_string: return blobmsg_add_string(b, name, json_object_get_string(obj)) == 0;
    case json_type_object: {
        void *cookie = blobmsg_open_table(b, name);
        if (!cookie) return false;
        bool ok = true;
        json_object_object_foreach(obj, key, member) {
            if (ok) ok = addJson(b, key, member, depth + 1);
        }
        blobmsg_close_table(b, cookie);
        return ok;
    }
    case json_type_array: {
        void *cookie = blobmsg_open_array(b, name);
        if (!cookie) return false;
        bool ok = true;
        size_t n = json_object_array_length(obj);
        for (size_t i = 0; ok && i < n; i++) ok = addJson(b, nullptr, json_object_array_get_idx(obj, i), depth + 1);
        blobmsg_close_array(b, cookie);
        return ok;
    }
    }
    return false;
}

}  // namespace

extern "C" {

bool blobmsg_add_json_element(blob_buf *b, const char *name, json_object *obj) {
    return b && addJson(b, name, obj, 0);
}

bool blobmsg_add_object(blob_buf *b, json_object *obj) {
    if (!b || json_object_get_type(obj) != json_type_object) return false;
    json_object_object_foreach(obj, key, member) {
        if (!addJson(b, key, member, 0)) return false;
    }
    return true;
}

bool blobmsg_add_json_from_string(blob_buf *b, const char *str) {
    if (!b || !str) return false;
    json_tokener *tok = json_tokener_new();
    if (!tok) return false;
    json_object *obj = json_tokener_parse_ex(tok, str, static_cast<int>(strlen(str)));
    // Trailing text after the value, or an unfinished value, is not valid input.
    bool complete = obj && json_tokener_get_error(tok) == json_tokener_success;
    if (complete) {
        for (const char *rest = str + json_tokener_get_parse_end(tok); *rest; rest++)
            if (!isspace(static_cast<unsigned char>(*rest))) complete = false;
    }
    json_tokener_free(tok);
    bool ok = complete && blobmsg_add_object(b, obj);
    json_object_put(obj);
    return ok;
}

char *blobmsg_format_json_with_cb(blob_attr *attr, bool list, blobmsg_json_format_t cb, void *priv, int indent) {
    if (!attr) return nullptr;
    Formatter f{std::string(), indent >= 0, cb, priv};
    int depth = indent >= 0 ? indent : 0;
    if (list) {
        bool array = blob_is_extended(attr) && blobmsg_type(attr) == BLOBMSG_TYPE_ARRAY;
        if (blob_is_extended(attr) && !blobmsg_check_attr(attr, false)) return nullptr;
        f.container(blobmsg_data(attr), blobmsg_data_len(attr), array, depth + 1);
    } else {
        if (!blobmsg_check_attr(attr, false)) return nullptr;
        f.value(attr, depth);
    }
    return strdup(f.out.c_str());
}

}  // extern "C"
