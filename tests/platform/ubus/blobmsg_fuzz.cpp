// libFuzzer target: blobmsg parsing, validation and JSON formatting of arbitrary bytes, and
// JSON text through blobmsg and back.
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const blobmsg_policy kPolicy[] = {
    {"config", BLOBMSG_TYPE_STRING}, {"line", BLOBMSG_TYPE_INT32}, {"t", BLOBMSG_TYPE_TABLE},
    {"a", BLOBMSG_TYPE_ARRAY},       {"b", BLOBMSG_TYPE_BOOL},     {"d", BLOBMSG_TYPE_DOUBLE},
    {"i", BLOBMSG_CAST_INT64},       {"x", BLOBMSG_TYPE_UNSPEC},   {"w", BLOBMSG_TYPE_INT16},
};
constexpr int kCount = sizeof(kPolicy) / sizeof(kPolicy[0]);

std::string formatText(blob_attr *attr, int indent) {
    char *text = blobmsg_format_json_indent(attr, true, indent);
    std::string out = text ? text : "";
    free(text);
    return out;
}

void binaryInput(const uint8_t *data, size_t size) {
    // Exactly sized copy: any read past it is caught by AddressSanitizer.
    auto *copy = static_cast<uint8_t *>(malloc(size ? size : 1));
    memcpy(copy, data, size);
    blob_attr *tb[kCount];
    if (blobmsg_parse(kPolicy, kCount, tb, copy, static_cast<unsigned>(size)) == 0) {
        for (blob_attr *attr : tb) {
            if (!attr) continue;
            volatile size_t sink = blobmsg_data_len(attr);
            (void)sink;
            switch (blobmsg_type(attr)) {
            case BLOBMSG_TYPE_STRING: sink = strlen(blobmsg_get_string(attr)); break;
            case BLOBMSG_TYPE_TABLE:
            case BLOBMSG_TYPE_ARRAY: sink = static_cast<size_t>(blobmsg_check_array(attr, BLOBMSG_TYPE_UNSPEC)); break;
            default: sink = static_cast<size_t>(blobmsg_cast_s64(attr)); break;
            }
        }
    }
    blobmsg_parse_array(kPolicy, kCount, tb, copy, static_cast<unsigned>(size));
    free(copy);

    // The same bytes as the contents of a container, formatted as JSON both ways.
    if (size + 4 <= BLOB_ATTR_LEN_MASK) {
        auto *wrapped = static_cast<uint8_t *>(malloc(size + 4));
        uint32_t word = cpu_to_be32(static_cast<uint32_t>(size + 4));
        memcpy(wrapped, &word, 4);
        memcpy(wrapped + 4, data, size);
        auto *attr = reinterpret_cast<blob_attr *>(wrapped);
        formatText(attr, -1);
        formatText(attr, 0);
        free(wrapped);
    }
}

void jsonInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    blob_buf first{};
    blobmsg_buf_init(&first);
    if (blobmsg_add_json_from_string(&first, text.c_str())) {
        std::string once = formatText(first.head, -1);
        blob_buf second{};
        blobmsg_buf_init(&second);
        // Text we print must read back to the same text whenever it is valid JSON (an element
        // with an empty name inside a table is printed bare, which is not).
        if (blobmsg_add_json_from_string(&second, once.c_str()) && formatText(second.head, -1) != once)
            __builtin_trap();
        blob_buf_free(&second);
    }
    blob_buf_free(&first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    binaryInput(data, size);
    jsonInput(data, size);
    return 0;
}
