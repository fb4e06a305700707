// The broker's engine without sockets: ownership checks, limits and the fate of forwarded
// calls whose server goes away.
#include "ubusd_broker.h"

#include <gtest/gtest.h>

#include <libubox/blobmsg.h>

#include <map>
#include <vector>

namespace {

struct Captured : ubusd::Output {
    std::map<uint32_t, std::vector<ubuswire::Message>> inbox;
    void send(uint32_t client, std::vector<uint8_t> frame) override {
        ubuswire::FrameReader reader;
        reader.append(frame.data(), frame.size());
        ubuswire::Message msg;
        ASSERT_EQ(reader.next(msg), ubuswire::FrameReader::Result::Message);
        inbox[client].push_back(msg);
    }
    // The status of the last message to `client`, or -1.
    int lastStatus(uint32_t client) {
        auto &box = inbox[client];
        if (box.empty() || box.back().type != UBUS_MSG_STATUS) return -1;
        auto tb = ubuswire::parseAttrs(box.back());
        return tb[UBUS_ATTR_STATUS] ? static_cast<int>(ubuswire::getU32(tb[UBUS_ATTR_STATUS])) : -1;
    }
};

class BrokerEngine : public ::testing::Test {
protected:
    Captured out;
    ubusd::Limits limits;
    std::unique_ptr<ubusd::Broker> broker;
    uint32_t a = 0, b = 0;

    void start() {
        broker = std::make_unique<ubusd::Broker>(out, 42, limits);
        a = broker->connect("root", "root");
        b = broker->connect("root", "root");
    }
    void feed(uint32_t client, uint8_t type, uint16_t seq, uint32_t peer, ubuswire::Builder &body) {
        std::vector<uint8_t> frame = body.frame(type, seq, peer);
        ASSERT_TRUE(broker->receive(client, frame.data(), frame.size()));
    }
    // Publishes an object with a path (and a one-method signature); returns its id.
    uint32_t publish(uint32_t client, const char *path) {
        ubuswire::Builder body;
        body.string(UBUS_ATTR_OBJPATH, path);
        void *sig = blob_nest_start(body.buf(), UBUS_ATTR_SIGNATURE);
        void *m = blobmsg_open_table(body.buf(), "m");
        blobmsg_close_table(body.buf(), m);
        blob_nest_end(body.buf(), sig);
        size_t seen = out.inbox[client].size();
        feed(client, UBUS_MSG_ADD_OBJECT, 1, 0, body);
        for (size_t i = seen; i < out.inbox[client].size(); i++) {
            ubuswire::Message &msg = out.inbox[client][i];
            auto tb = ubuswire::parseAttrs(msg);
            if (msg.type == UBUS_MSG_DATA && tb[UBUS_ATTR_OBJID]) return ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
        }
        return 0;
    }
};

TEST_F(BrokerEngine, OnlyTheOwnerRemovesAnObjectOrAnswersForIt) {
    start();
    uint32_t obj = publish(a, "svc");
    ASSERT_NE(obj, 0u);
    ubuswire::Builder remove;
    remove.u32(UBUS_ATTR_OBJID, obj);
    feed(b, UBUS_MSG_REMOVE_OBJECT, 2, 0, remove);
    EXPECT_EQ(out.lastStatus(b), UBUS_STATUS_PERMISSION_DENIED);
    // b calls, then a reply claiming to come from the object but sent by b is dropped.
    ubuswire::Builder call;
    call.u32(UBUS_ATTR_OBJID, obj).string(UBUS_ATTR_METHOD, "m").nested(UBUS_ATTR_DATA, nullptr, 0);
    feed(b, UBUS_MSG_INVOKE, 3, obj, call);
    ASSERT_EQ(out.inbox[a].back().type, UBUS_MSG_INVOKE);
    EXPECT_EQ(out.inbox[a].back().peer, b);  // forwarded with the caller's id
    size_t before = out.inbox[b].size();
    ubuswire::Builder forged;
    forged.u32(UBUS_ATTR_STATUS, 0).u32(UBUS_ATTR_OBJID, obj);
    feed(b, UBUS_MSG_STATUS, 3, b, forged);
    EXPECT_EQ(out.inbox[b].size(), before);
    // The owner's answer goes through, with the object's id as its peer.
    feed(a, UBUS_MSG_STATUS, 3, b, forged);
    EXPECT_EQ(out.inbox[b].back().peer, obj);
    EXPECT_EQ(out.lastStatus(b), 0);
}

// A caller abandons calls without a word on the wire (the protocol has no cancel): past the
// limit the oldest waiting call is forgotten, and no new call is ever refused for it.
TEST_F(BrokerEngine, CallsWaitingOnARemovedObjectFailAndLimitsHold) {
    limits.objectsPerClient = 2;
    limits.pendingPerClient = 2;
    start();
    uint32_t obj = publish(a, "svc");
    EXPECT_NE(publish(a, "svc2"), 0u);
    EXPECT_EQ(publish(a, "svc3"), 0u);  // refused: no third object
    EXPECT_EQ(out.lastStatus(a), UBUS_STATUS_NO_MEMORY);
    ubuswire::Builder call;
    call.u32(UBUS_ATTR_OBJID, obj).string(UBUS_ATTR_METHOD, "m").nested(UBUS_ATTR_DATA, nullptr, 0);
    for (uint16_t seq = 10; seq < 20; seq++) {
        size_t toServer = out.inbox[a].size();
        feed(b, UBUS_MSG_INVOKE, seq, obj, call);
        ASSERT_EQ(out.inbox[a].size(), toServer + 1) << seq;  // forwarded, never refused
        EXPECT_NE(out.lastStatus(b), UBUS_STATUS_NO_MEMORY);
    }
    EXPECT_EQ(broker->pendingCount(), 2u);
    // An answer to a forgotten call still reaches its caller.
    ubuswire::Builder late;
    late.u32(UBUS_ATTR_STATUS, 0).u32(UBUS_ATTR_OBJID, obj);
    feed(a, UBUS_MSG_STATUS, 12, b, late);
    EXPECT_EQ(out.inbox[b].back().seq, 12);
    EXPECT_EQ(out.lastStatus(b), 0);
    broker->disconnect(a);
    // The two calls still remembered end with an error, each with its own sequence number.
    std::vector<uint16_t> failed;
    for (auto &msg : out.inbox[b]) {
        auto tb = ubuswire::parseAttrs(msg);
        if (msg.type == UBUS_MSG_STATUS && msg.peer == obj && tb[UBUS_ATTR_STATUS] &&
            ubuswire::getU32(tb[UBUS_ATTR_STATUS]) == UBUS_STATUS_CONNECTION_FAILED)
            failed.push_back(msg.seq);
    }
    EXPECT_EQ(failed, (std::vector<uint16_t>{18, 19}));
    EXPECT_EQ(broker->objectCount(), 0u);
    EXPECT_EQ(broker->pendingCount(), 0u);
}

TEST_F(BrokerEngine, InvalidSignatureGivesAnUnlistedObject) {
    start();
    ubuswire::Builder body;
    body.string(UBUS_ATTR_OBJPATH, "odd");
    void *sig = blob_nest_start(body.buf(), UBUS_ATTR_SIGNATURE);
    void *m = blobmsg_open_table(body.buf(), "");  // a method without a name
    blobmsg_close_table(body.buf(), m);
    blob_nest_end(body.buf(), sig);
    feed(a, UBUS_MSG_ADD_OBJECT, 1, 0, body);
    EXPECT_EQ(out.lastStatus(a), 0);
    out.inbox[b].clear();
    ubuswire::Builder lookup;
    lookup.string(UBUS_ATTR_OBJPATH, "odd");
    feed(b, UBUS_MSG_LOOKUP, 2, 0, lookup);
    ASSERT_EQ(out.inbox[b].size(), 1u);  // found (status 0) but not listed
    EXPECT_EQ(out.lastStatus(b), 0);
}

TEST_F(BrokerEngine, AttributesWithTheExtendedFlagAreReadByTheirId) {
    start();
    ASSERT_NE(publish(a, "dect"), 0u);
    ASSERT_NE(publish(a, "other"), 0u);
    out.inbox[b].clear();
    ubuswire::Builder lookup;
    blob_attr *path = blob_put_string(lookup.buf(), UBUS_ATTR_OBJPATH, "dect");
    ASSERT_NE(path, nullptr);
    path->id_len |= cpu_to_be32(BLOB_ATTR_EXTENDED);
    feed(b, UBUS_MSG_LOOKUP, 2, 0, lookup);
    // One object and the status, not the whole list.
    ASSERT_EQ(out.inbox[b].size(), 2u);
    EXPECT_EQ(out.inbox[b][0].type, UBUS_MSG_DATA);
    auto tb = ubuswire::parseAttrs(out.inbox[b][0]);
    ASSERT_NE(tb[UBUS_ATTR_OBJPATH], nullptr);
    EXPECT_STREQ(static_cast<const char *>(blob_data(tb[UBUS_ATTR_OBJPATH])), "dect");
    EXPECT_EQ(out.lastStatus(b), 0);
}

}  // namespace
