// The bus broker's protocol engine, independent of sockets: clients are numbered by their bus
// id, bytes go in through receive(), and messages come out through the Output interface.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ubus_wire.h"

namespace ubusd {

class Output {
public:
    virtual ~Output() = default;
    // Queues one framed message for a client.
    virtual void send(uint32_t client, std::vector<uint8_t> frame) = 0;
};

struct Limits {
    size_t objectsPerClient = 1024;
    size_t patternsPerClient = 1024;
    // Forwarded calls remembered per caller while they wait for their answer. A caller gives up
    // on a call without telling anyone (the protocol has no cancel), so when this is reached the
    // caller's oldest call is forgotten rather than the new one refused.
    size_t pendingPerClient = 4096;
};

class Broker {
public:
    explicit Broker(Output &out, uint64_t seed, Limits limits = {});

    // A new client: returns its id; hello() then greets it.
    uint32_t connect(const std::string &user, const std::string &group);
    void hello(uint32_t client);
    // Bytes from a client; false when the client broke the framing and must be disconnected
    // (the caller then calls disconnect()).
    bool receive(uint32_t client, const uint8_t *data, size_t len);
    // Removes a client with its objects and patterns; calls waiting on it fail.
    void disconnect(uint32_t client);

    // Names every object added, with its owner, on standard error: tests that play a hostile
    // client find the ids of another client's anonymous objects this way.
    void traceObjects(bool on) { traceObjects_ = on; }

    size_t clientCount() const { return clients_.size(); }
    size_t objectCount() const { return objects_.size(); }
    size_t pendingCount() const { return pending_.size(); }

private:
    using PendingKey = std::tuple<uint32_t, uint16_t, uint32_t>;  // caller, seq, object
    struct Pending {
        uint32_t server = 0;
        uint64_t serial = 0;  // arrival order among all forwarded calls
    };
    struct Client {
        std::string user, group;
        ubuswire::FrameReader reader;
        std::vector<uint32_t> objects;  // in the order they were added
        size_t patterns = 0;
        std::map<uint64_t, PendingKey> pendingOrder;  // this caller's waiting calls, oldest first
    };
    struct Object {
        uint32_t owner = 0;
        std::string path;  // empty: anonymous or typeless without a path
        uint32_t type = 0;
    };
    struct Type {
        std::vector<uint8_t> signature;  // the SIGNATURE attribute as published
        size_t users = 0;
    };
    struct Pattern {
        uint32_t object;
        std::string text;
    };
    void handle(uint32_t client, ubuswire::Message &msg);
    void handleLookup(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb);
    void handleAddObject(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb);
    void handleRemoveObject(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb);
    void handleInvoke(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb);
    void handleEventObject(uint32_t client, ubuswire::Message &msg, const char *method, blob_attr *data);
    void handleReply(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb);

    void sendStatus(uint32_t client, const ubuswire::Message &req, int status);
    void sendBody(uint32_t client, uint8_t type, uint16_t seq, uint32_t peer, ubuswire::Builder &body);
    void removeObject(uint32_t id);
    void rememberPending(Client &caller, const PendingKey &key, uint32_t server);
    void forgetPending(std::map<PendingKey, Pending>::iterator p);
    void deliverEvent(const char *name, const void *data, size_t len, uint32_t sender);
    void objectEvent(const char *name, uint32_t id, const std::string &path);
    uint32_t newId(int kind);
    bool validSignature(const blob_attr *sig) const;

    Output &out_;
    Limits limits_;
    std::mt19937_64 rng_;
    std::map<uint32_t, Client> clients_;
    std::map<uint32_t, Object> objects_;
    std::map<std::string, uint32_t> paths_;  // sorted byte-wise: the order of lookups
    std::map<uint32_t, Type> types_;
    std::vector<Pattern> patterns_;
    std::map<PendingKey, Pending> pending_;  // forwarded call -> serving client
    uint64_t pendingSerial_ = 0;
    uint16_t eventSeq_ = 0;
    bool traceObjects_ = false;
};

}  // namespace ubusd
