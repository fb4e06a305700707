// blob/blobmsg encoding: byte-exact against captured wire examples, round trips through the
// binary form and JSON, and parsing of malformed buffers.
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "blob_helpers.h"

namespace {

struct Buf {
    blob_buf b{};
    Buf() { EXPECT_EQ(blobmsg_buf_init(&b), 0); }
    ~Buf() { blob_buf_free(&b); }
    std::vector<uint8_t> contents() const { return bytesOf(blob_data(b.head), blob_len(b.head)); }
};

std::string formatted(blob_attr *attr, int indent = -1) {
    char *text = blobmsg_format_json_indent(attr, true, indent);
    std::string out = text ? text : "<null>";
    free(text);
    return out;
}

const char *kCapturedJson = R"({"big":5000000000,"f":2.5,"t":true,"n":null,"a":[1,"x"],"o":{"k":-1}})";
const char *kCapturedBytes =
    "84 00 00 14 | 00 03 \"big\" 00 00 00 | 00 00 00 01 2a 05 f2 00 "
    "88 00 00 10 | 00 01 \"f\" 00 | 40 04 00 00 00 00 00 00 "
    "87 00 00 09 | 00 01 \"t\" 00 | 01 | 00 00 00 "
    "80 00 00 08 | 00 01 \"n\" 00 "
    "81 00 00 20 | 00 01 \"a\" 00 | 85 00 00 0c 00 00 00 00 00 00 00 01 | 83 00 00 0a 00 00 00 00 \"x\" 00 | 00 00 "
    "82 00 00 14 | 00 01 \"o\" 00 | 85 00 00 0c 00 01 \"k\" 00 ff ff ff ff";

TEST(BlobmsgWire, BuilderMatchesCapturedBytes) {
    Buf m;
    blobmsg_add_u64(&m.b, "big", 5000000000ull);
    blobmsg_add_double(&m.b, "f", 2.5);
    blobmsg_add_u8(&m.b, "t", 1);
    blobmsg_add_field(&m.b, BLOBMSG_TYPE_UNSPEC, "n", nullptr, 0);
    void *a = blobmsg_open_array(&m.b, "a");
    blobmsg_add_u32(&m.b, nullptr, 1);
    blobmsg_add_string(&m.b, nullptr, "x");
    blobmsg_close_array(&m.b, a);
    void *o = blobmsg_open_table(&m.b, "o");
    blobmsg_add_u32(&m.b, "k", static_cast<uint32_t>(-1));
    blobmsg_close_table(&m.b, o);
    EXPECT_EQ(m.contents(), wireBytes(kCapturedBytes));

    Buf s;
    blobmsg_add_string(&s.b, "config", "demo");
    blobmsg_add_u32(&s.b, "id", 7);
    blobmsg_add_u8(&s.b, ".anonymous", 0);
    EXPECT_EQ(s.contents(), wireBytes("83 00 00 15 | 00 06 \"config\" 00 00 00 00 | \"demo\" 00 | 00 00 00 "
                                      "85 00 00 10 | 00 02 \"id\" 00 00 00 00 | 00 00 00 07 "
                                      "87 00 00 15 | 00 0a \".anonymous\" 00 00 00 00 | 00 | 00 00 00"));
}

TEST(BlobmsgWire, JsonTextEncodesToCapturedBytesAndBack) {
    Buf m;
    ASSERT_TRUE(blobmsg_add_json_from_string(&m.b, kCapturedJson));
    EXPECT_EQ(m.contents(), wireBytes(kCapturedBytes));
    EXPECT_EQ(formatted(m.b.head), R"({"big":5000000000,"f":2.500000,"t":true,"n":null,"a":[1,"x"],"o":{"k":-1}})");
}

TEST(BlobmsgWire, IntegersPickTheirWidthByRange) {
    Buf m;
    ASSERT_TRUE(blobmsg_add_json_from_string(&m.b, R"({"a":2147483647,"b":2147483648,"c":-2147483648,"d":-2147483649})"));
    int types[4], i = 0;
    blob_attr *pos;
    size_t rem;
    blob_for_each_attr(pos, m.b.head, rem) types[i++] = blobmsg_type(pos);
    ASSERT_EQ(i, 4);
    EXPECT_EQ(types[0], BLOBMSG_TYPE_INT32);
    EXPECT_EQ(types[1], BLOBMSG_TYPE_INT64);
    EXPECT_EQ(types[2], BLOBMSG_TYPE_INT32);
    EXPECT_EQ(types[3], BLOBMSG_TYPE_INT64);
}

enum { P_S, P_I32, P_I16, P_I64, P_B, P_D, P_T, P_A, P_MISSING, P_CAST, P_COUNT };
const blobmsg_policy kPolicy[P_COUNT] = {
    {"s", BLOBMSG_TYPE_STRING}, {"i32", BLOBMSG_TYPE_INT32}, {"i16", BLOBMSG_TYPE_INT16},
    {"i64", BLOBMSG_TYPE_INT64}, {"b", BLOBMSG_TYPE_BOOL},   {"d", BLOBMSG_TYPE_DOUBLE},
    {"t", BLOBMSG_TYPE_TABLE},   {"a", BLOBMSG_TYPE_ARRAY},  {"missing", BLOBMSG_TYPE_STRING},
    {"i16", BLOBMSG_CAST_INT64},
};

TEST(BlobmsgParse, EveryTypeRoundTripsThroughPolicyAndGetters) {
    Buf m;
    blobmsg_add_string(&m.b, "s", "Kitchen");
    blobmsg_add_u32(&m.b, "i32", static_cast<uint32_t>(-30720));
    blobmsg_add_u16(&m.b, "i16", 0xBEEF);
    blobmsg_add_u64(&m.b, "i64", 0x0123456789ABCDEFull);
    blobmsg_add_u8(&m.b, "b", 1);
    blobmsg_add_double(&m.b, "d", -0.125);
    void *t = blobmsg_open_table(&m.b, "t");
    blobmsg_add_string(&m.b, "inner", "v");
    void *deep = blobmsg_open_array(&m.b, "deep");
    blobmsg_add_u32(&m.b, nullptr, 42);
    blobmsg_close_array(&m.b, deep);
    blobmsg_close_table(&m.b, t);
    void *a = blobmsg_open_array(&m.b, "a");
    for (uint32_t v = 0; v < 3; v++) {
        void *row = blobmsg_open_table(&m.b, nullptr);
        blobmsg_add_u32(&m.b, "line", v);
        blobmsg_close_table(&m.b, row);
    }
    blobmsg_close_array(&m.b, a);

    blob_attr *tb[P_COUNT];
    ASSERT_EQ(blobmsg_parse(kPolicy, P_COUNT, tb, blob_data(m.b.head), blob_len(m.b.head)), 0);
    EXPECT_STREQ(blobmsg_get_string(tb[P_S]), "Kitchen");
    EXPECT_EQ(static_cast<int32_t>(blobmsg_get_u32(tb[P_I32])), -30720);
    EXPECT_EQ(blobmsg_get_u16(tb[P_I16]), 0xBEEF);
    EXPECT_EQ(blobmsg_get_u64(tb[P_I64]), 0x0123456789ABCDEFull);
    EXPECT_TRUE(blobmsg_get_bool(tb[P_B]));
    EXPECT_EQ(blobmsg_get_double(tb[P_D]), -0.125);
    EXPECT_EQ(tb[P_MISSING], nullptr);
    EXPECT_EQ(blobmsg_cast_s64(tb[P_CAST]), static_cast<int16_t>(0xBEEF));
    EXPECT_EQ(blobmsg_check_array(tb[P_A], BLOBMSG_TYPE_TABLE), 3);

    // Nested contents by iteration.
    std::vector<uint32_t> lines;
    blob_attr *row;
    size_t rem;
    blobmsg_for_each_attr(row, tb[P_A], rem) {
        blob_attr *line[1];
        static const blobmsg_policy linePolicy[1] = {{"line", BLOBMSG_TYPE_INT32}};
        ASSERT_EQ(blobmsg_parse(linePolicy, 1, line, blobmsg_data(row), static_cast<unsigned>(blobmsg_data_len(row))), 0);
        ASSERT_NE(line[0], nullptr);
        lines.push_back(blobmsg_get_u32(line[0]));
    }
    EXPECT_EQ(lines, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(formatted(tb[P_T]), R"({"inner":"v","deep":[42]})");

    // The same message survives a trip through JSON text.
    std::string json = formatted(m.b.head);
    Buf again;
    ASSERT_TRUE(blobmsg_add_json_from_string(&again.b, json.c_str()));
    EXPECT_EQ(formatted(again.b.head), json);
}

TEST(BlobmsgParse, TypeDifferingFromPolicyLeavesEntryEmpty) {
    Buf m;
    blobmsg_add_string(&m.b, "line", "0");
    blobmsg_add_u32(&m.b, "s", 1);
    blobmsg_add_string(&m.b, "dup", "first");
    blobmsg_add_string(&m.b, "dup", "second");
    blob_attr *tb[3];
    static const blobmsg_policy policy[3] = {
        {"line", BLOBMSG_TYPE_INT32}, {"s", BLOBMSG_TYPE_STRING}, {"dup", BLOBMSG_TYPE_STRING}};
    EXPECT_EQ(blobmsg_parse(policy, 3, tb, blob_data(m.b.head), blob_len(m.b.head)), 0);
    EXPECT_EQ(tb[0], nullptr);
    EXPECT_EQ(tb[1], nullptr);
    EXPECT_STREQ(blobmsg_get_string(tb[2]), "first");  // of equal names the first one wins
}

// Copies `bytes` into a heap block of exactly that size, so that AddressSanitizer catches any
// read past the end.
int parseExact(const std::vector<uint8_t> &bytes, size_t len) {
    auto *copy = static_cast<uint8_t *>(malloc(bytes.size() ? bytes.size() : 1));
    if (!bytes.empty()) memcpy(copy, bytes.data(), bytes.size());
    blob_attr *tb[P_COUNT];
    int r = blobmsg_parse(kPolicy, P_COUNT, tb, copy, static_cast<unsigned>(len));
    free(copy);
    return r;
}

TEST(BlobmsgParse, MalformedBuffersAreRejectedWithoutReadingPastTheEnd) {
    const auto good = wireBytes(kCapturedBytes);
    EXPECT_EQ(parseExact(good, good.size()), 0);
    // Truncated: the length handed in ends inside an element.
    for (size_t cut = 1; cut < good.size(); cut++) {
        std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
        int r = parseExact(part, cut);
        // An element's padding may be missing at the very end; anything shorter is an error.
        bool onBoundary = cut == 20 || cut == 36 || (cut >= 45 && cut <= 48) || cut == 56 || cut == 88;
        if (!onBoundary) {
            EXPECT_EQ(r, -1) << "cut at " << cut;
        }
    }
    // A length past the end of the buffer.
    auto past = wireBytes("83 00 01 00 | 00 01 \"s\" 00 \"x\" 00 00 00");
    EXPECT_EQ(parseExact(past, past.size()), -1);
    // A length below the header size.
    auto tiny = wireBytes("83 00 00 02 | 00 01 \"s\" 00");
    EXPECT_EQ(parseExact(tiny, tiny.size()), -1);
    // A name length beyond the element.
    auto longName = wireBytes("83 00 00 0c | 00 40 \"s\" 00 \"x\" 00 00 00");
    EXPECT_EQ(parseExact(longName, longName.size()), -1);
    // A name that is not NUL-terminated.
    auto openName = wireBytes("83 00 00 0c | 00 01 \"s\" \"y\" \"x\" 00 00 00");
    EXPECT_EQ(parseExact(openName, openName.size()), -1);
    // A string without its NUL, and an INT32 of 3 bytes, under matching policy names.
    auto badString = wireBytes("83 00 00 0a | 00 01 \"s\" 00 \"xy\" 00 00");
    EXPECT_EQ(parseExact(badString, badString.size()), -1);
    auto shortInt = wireBytes("85 00 00 0b | 00 03 \"i32\" 00 | 00 00 01 00");
    EXPECT_EQ(parseExact(shortInt, shortInt.size()), -1);
    // A nested table whose child runs past the table.
    auto nested = wireBytes("82 00 00 10 | 00 01 \"t\" 00 | 85 00 00 10 00 01 \"k\" 00 00 00 00 01");
    EXPECT_EQ(parseExact(nested, nested.size()), -1);
}

TEST(BlobmsgJson, IndentedAndCompactLayouts) {
    Buf m;
    void *v = blobmsg_open_table(&m.b, "values");
    blobmsg_add_u8(&m.b, ".anonymous", 0);
    blobmsg_add_string(&m.b, ".type", "line");
    blobmsg_add_string(&m.b, "name", "Kitchen");
    void *empty = blobmsg_open_table(&m.b, "e");
    blobmsg_close_table(&m.b, empty);
    blobmsg_close_table(&m.b, v);
    EXPECT_EQ(formatted(m.b.head, 0),
              "{\n\t\"values\": {\n\t\t\".anonymous\": false,\n\t\t\".type\": \"line\",\n\t\t\"name\": "
              "\"Kitchen\",\n\t\t\"e\": {\n\t\t\t\n\t\t}\n\t}\n}");
    Buf e;
    EXPECT_EQ(formatted(e.b.head, 0), "{\n\t\n}");
    EXPECT_EQ(formatted(e.b.head), "{}");
}

TEST(BlobmsgJson, ValuesPrintAsTheCommandLineToolPrintsThem) {
    Buf m;
    blobmsg_add_string(&m.b, "esc", "a\"b\\c\n\t\r\b\x01/\x7f\xc3\xa9");
    blobmsg_add_u32(&m.b, "neg", 0xA0C604C8u);
    blobmsg_add_u16(&m.b, "s16", 0xFFFF);
    blobmsg_add_u8(&m.b, "i8", 5);
    blobmsg_add_double(&m.b, "big", 1e20);
    void *arr = blobmsg_open_array(&m.b, "arr");
    blobmsg_add_double(&m.b, nullptr, 1.5);
    blobmsg_close_array(&m.b, arr);
    blobmsg_add_string(&m.b, nullptr, "noname");
    EXPECT_EQ(formatted(m.b.head),
              "{\"esc\":\"a\\\"b\\\\c\\n\\t\\r\\b\\u0001/\x7f\xc3\xa9\",\"neg\":-1597635384,\"s16\":-1,\"i8\":true,"
              "\"big\":100000000000000000000.000000,\"arr\":[1.500000],\"noname\"}");
}

TEST(BlobmsgJson, BadJsonIsRefused) {
    const char *bad[] = {"", "[1,2]", "\"text\"", "{\"a\":", "{\"a\":1} trailing", "{\"a\" 1}", "nul"};
    for (const char *text : bad) {
        Buf m;
        EXPECT_FALSE(blobmsg_add_json_from_string(&m.b, text)) << text;
    }
    Buf ok;
    EXPECT_TRUE(blobmsg_add_json_from_string(&ok.b, " {\"a\":[]} \n"));
    EXPECT_EQ(formatted(ok.b.head), "{\"a\":[]}");
}

TEST(BlobBuf, ReuseAfterInitAndLargeGrowth) {
    Buf m;
    std::string value(100000, 'v');
    for (int i = 0; i < 50; i++) ASSERT_EQ(blobmsg_add_string(&m.b, "k", value.c_str()), 0);
    EXPECT_EQ(blob_len(m.b.head), 50u * (4 + 4 + 100004));
    ASSERT_EQ(blobmsg_buf_init(&m.b), 0);
    EXPECT_EQ(blob_len(m.b.head), 0u);
    // Beyond the 24-bit length field the buffer refuses instead of wrapping.
    std::string huge(4u << 20, 'h');
    int added = 0;
    while (blobmsg_add_string(&m.b, "h", huge.c_str()) == 0) added++;
    EXPECT_EQ(added, 3);
    EXPECT_LE(blob_raw_len(m.b.head), static_cast<size_t>(BLOB_ATTR_LEN_MASK));
}

}  // namespace
