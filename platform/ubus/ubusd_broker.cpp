// The broker's handling of each message type, object and type bookkeeping, event routing and
// tracking of forwarded calls.
#include "ubusd_broker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <libubox/blobmsg.h>

namespace ubusd {

namespace {

enum IdKind { kClientId, kObjectId, kTypeId };

bool patternMatches(const std::string &pattern, const char *name) {
    if (!pattern.empty() && pattern.back() == '*')
        return strncmp(name, pattern.data(), pattern.size() - 1) == 0;
    return pattern == name;
}

std::vector<uint8_t> attrBytes(const blob_attr *attr) {
    auto *p = reinterpret_cast<const uint8_t *>(attr);
    return std::vector<uint8_t>(p, p + blob_raw_len(attr));
}

}  // namespace

Broker::Broker(Output &out, uint64_t seed, Limits limits) : out_(out), limits_(limits), rng_(seed) {}

uint32_t Broker::newId(int kind) {
    for (;;) {
        uint32_t id = static_cast<uint32_t>(rng_());
        if (id < UBUS_SYSTEM_OBJECT_MAX) continue;
        bool used = kind == kClientId ? clients_.count(id) : kind == kObjectId ? objects_.count(id) : types_.count(id);
        if (!used) return id;
    }
}

uint32_t Broker::connect(const std::string &user, const std::string &group) {
    uint32_t id = newId(kClientId);
    Client &c = clients_[id];
    c.user = user;
    c.group = group;
    return id;
}

void Broker::hello(uint32_t client) {
    const uint8_t empty[4] = {0, 0, 0, 4};
    out_.send(client, ubuswire::frameBody(UBUS_MSG_HELLO, 0, client, empty, sizeof empty));
}

bool Broker::receive(uint32_t client, const uint8_t *data, size_t len) {
    auto it = clients_.find(client);
    if (it == clients_.end()) return false;
    it->second.reader.append(data, len);
    ubuswire::Message msg;
    for (;;) {
        it = clients_.find(client);
        if (it == clients_.end()) return false;
        auto r = it->second.reader.next(msg);
        if (r == ubuswire::FrameReader::Result::NeedMore) return true;
        if (r == ubuswire::FrameReader::Result::Corrupt) return false;
        handle(client, msg);
    }
}

void Broker::disconnect(uint32_t client) {
    auto it = clients_.find(client);
    if (it == clients_.end()) return;
    std::vector<uint32_t> owned = it->second.objects;
    for (auto obj = owned.rbegin(); obj != owned.rend(); ++obj) removeObject(*obj);
    for (auto p = pending_.begin(); p != pending_.end();) {
        if (std::get<0>(p->first) == client) p = pending_.erase(p);
        else ++p;
    }
    clients_.erase(client);  // with its order of waiting calls
}

void Broker::sendBody(uint32_t client, uint8_t type, uint16_t seq, uint32_t peer, ubuswire::Builder &body) {
    std::vector<uint8_t> frame = body.frame(type, seq, peer);
    if (!frame.empty()) out_.send(client, std::move(frame));
}

void Broker::sendStatus(uint32_t client, const ubuswire::Message &req, int status) {
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_STATUS, static_cast<uint32_t>(status));
    sendBody(client, UBUS_MSG_STATUS, req.seq, req.peer, body);
}

void Broker::handle(uint32_t client, ubuswire::Message &msg) {
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    switch (msg.type) {
    case UBUS_MSG_PING: {
        out_.send(client, ubuswire::frameBody(UBUS_MSG_DATA, msg.seq, msg.peer, msg.body.data(), msg.body.size()));
        sendStatus(client, msg, UBUS_STATUS_OK);
        break;
    }
    case UBUS_MSG_LOOKUP: handleLookup(client, msg, tb); break;
    case UBUS_MSG_ADD_OBJECT: handleAddObject(client, msg, tb); break;
    case UBUS_MSG_REMOVE_OBJECT: handleRemoveObject(client, msg, tb); break;
    case UBUS_MSG_INVOKE: handleInvoke(client, msg, tb); break;
    case UBUS_MSG_STATUS:
    case UBUS_MSG_DATA: handleReply(client, msg, tb); break;
    case UBUS_MSG_SUBSCRIBE:
    case UBUS_MSG_UNSUBSCRIBE: sendStatus(client, msg, UBUS_STATUS_NOT_SUPPORTED); break;
    case UBUS_MSG_NOTIFY:
        if (!(tb[UBUS_ATTR_NO_REPLY] && blob_get_u8(tb[UBUS_ATTR_NO_REPLY]))) sendStatus(client, msg, UBUS_STATUS_NOT_SUPPORTED);
        break;
    default: sendStatus(client, msg, UBUS_STATUS_INVALID_COMMAND); break;
    }
}

void Broker::handleLookup(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb) {
    std::string prefix;
    bool all = true, exact = false;
    if (tb[UBUS_ATTR_OBJPATH]) {
        std::string path = ubuswire::getString(tb[UBUS_ATTR_OBJPATH]);
        if (path.empty()) return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
        if (path.back() == '*') {
            prefix = path.substr(0, path.size() - 1);
            all = prefix.empty();
        } else {
            prefix = path;
            exact = true;
            all = false;
        }
    }
    bool found = false;
    auto begin = all ? paths_.begin() : paths_.lower_bound(prefix);
    for (auto it = begin; it != paths_.end(); ++it) {
        if (exact && it->first != prefix) break;
        if (!all && !exact && it->first.compare(0, prefix.size(), prefix) != 0) break;
        found = true;
        const Object &obj = objects_.at(it->second);
        if (!obj.type) continue;  // typeless objects are found but never listed
        ubuswire::Builder body;
        body.string(UBUS_ATTR_OBJPATH, obj.path.c_str()).u32(UBUS_ATTR_OBJID, it->second).u32(UBUS_ATTR_OBJTYPE, obj.type);
        const std::vector<uint8_t> &sig = types_.at(obj.type).signature;
        body.raw(reinterpret_cast<const blob_attr *>(sig.data()));
        sendBody(client, UBUS_MSG_DATA, msg.seq, msg.peer, body);
        if (exact) break;
    }
    sendStatus(client, msg, found || all ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND);
}

// Every method entry must be a named table of named INT32 argument types.
bool Broker::validSignature(const blob_attr *sig) const {
    blob_attr *method;
    size_t rem = blob_len(sig);
    size_t seen = 0;
    __blob_for_each_attr(method, blob_data(sig), rem) {
        if (!blobmsg_check_attr(method, true) || blobmsg_type(method) != BLOBMSG_TYPE_TABLE) return false;
        if (blobmsg_check_array(method, BLOBMSG_TYPE_INT32) < 0) return false;
        seen += blob_pad_len(method);
    }
    return seen == blob_len(sig);
}

void Broker::handleAddObject(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb) {
    Client &c = clients_.at(client);
    if (c.objects.size() >= limits_.objectsPerClient) return sendStatus(client, msg, UBUS_STATUS_NO_MEMORY);
    std::string path;
    if (tb[UBUS_ATTR_OBJPATH]) {
        path = ubuswire::getString(tb[UBUS_ATTR_OBJPATH]);
        if (path.empty() || paths_.count(path)) return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
    }
    uint32_t type = 0;
    bool newType = false;
    if (tb[UBUS_ATTR_SIGNATURE] && validSignature(tb[UBUS_ATTR_SIGNATURE])) {
        type = newId(kTypeId);
        types_[type].signature = attrBytes(tb[UBUS_ATTR_SIGNATURE]);
        newType = true;
    } else if (tb[UBUS_ATTR_OBJTYPE]) {
        uint32_t known = ubuswire::getU32(tb[UBUS_ATTR_OBJTYPE]);
        if (types_.count(known)) type = known;
    }
    if (type) types_[type].users++;
    uint32_t id = newId(kObjectId);
    objects_[id] = Object{client, path, type};
    c.objects.push_back(id);
    if (traceObjects_) fprintf(stderr, "ubusd: client %08x added object %08x '%s'\n", client, id, path.c_str());
    if (!path.empty()) {
        paths_[path] = id;
        objectEvent("ubus.object.add", id, path);  // announced before the publisher's reply
    }
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, id);
    if (newType) body.u32(UBUS_ATTR_OBJTYPE, type);
    sendBody(client, UBUS_MSG_DATA, msg.seq, msg.peer, body);
    sendStatus(client, msg, UBUS_STATUS_OK);
}

void Broker::handleRemoveObject(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb) {
    if (!tb[UBUS_ATTR_OBJID]) return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
    uint32_t id = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    auto it = objects_.find(id);
    if (it == objects_.end()) return sendStatus(client, msg, UBUS_STATUS_NOT_FOUND);
    if (it->second.owner != client) return sendStatus(client, msg, UBUS_STATUS_PERMISSION_DENIED);
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, id);
    uint32_t type = it->second.type;
    if (type && types_.at(type).users == 1) body.u32(UBUS_ATTR_OBJTYPE, type);
    sendBody(client, UBUS_MSG_DATA, msg.seq, msg.peer, body);
    removeObject(id);
    sendStatus(client, msg, UBUS_STATUS_OK);
}

void Broker::removeObject(uint32_t id) {
    auto it = objects_.find(id);
    if (it == objects_.end()) return;
    Object obj = it->second;
    objects_.erase(it);
    if (obj.type) {
        auto t = types_.find(obj.type);
        if (t != types_.end() && --t->second.users == 0) types_.erase(t);
    }
    if (!obj.path.empty()) paths_.erase(obj.path);
    auto owner = clients_.find(obj.owner);
    if (owner != clients_.end()) {
        auto &list = owner->second.objects;
        list.erase(std::remove(list.begin(), list.end(), id), list.end());
        size_t before = patterns_.size();
        patterns_.erase(std::remove_if(patterns_.begin(), patterns_.end(), [id](const Pattern &p) { return p.object == id; }),
                        patterns_.end());
        owner->second.patterns -= before - patterns_.size();
    }
    // Calls still waiting on this object would otherwise never be answered.
    for (auto p = pending_.begin(); p != pending_.end();) {
        auto [caller, seq, object] = p->first;
        if (object != id) {
            ++p;
            continue;
        }
        auto next = std::next(p);
        if (clients_.count(caller)) {
            ubuswire::Builder body;
            body.u32(UBUS_ATTR_STATUS, UBUS_STATUS_CONNECTION_FAILED).u32(UBUS_ATTR_OBJID, id);
            sendBody(caller, UBUS_MSG_STATUS, seq, id, body);
        }
        forgetPending(p);
        p = next;
    }
    if (!obj.path.empty()) objectEvent("ubus.object.remove", id, obj.path);
}

void Broker::objectEvent(const char *name, uint32_t id, const std::string &path) {
    blob_buf b{};
    if (blobmsg_buf_init(&b) == 0 && blobmsg_add_u32(&b, "id", id) == 0 && blobmsg_add_string(&b, "path", path.c_str()) == 0)
        deliverEvent(name, blob_data(b.head), blob_len(b.head), 0);
    blob_buf_free(&b);
}

void Broker::deliverEvent(const char *name, const void *data, size_t len, uint32_t sender) {
    std::vector<uint32_t> delivered;
    std::vector<Pattern> snapshot = patterns_;
    for (const Pattern &p : snapshot) {
        if (!patternMatches(p.text, name)) continue;
        if (std::find(delivered.begin(), delivered.end(), p.object) != delivered.end()) continue;
        auto obj = objects_.find(p.object);
        if (obj == objects_.end()) continue;
        if (sender && obj->second.owner == sender) continue;  // no loopback to the sender
        delivered.push_back(p.object);
        ubuswire::Builder body;
        body.u32(UBUS_ATTR_OBJID, p.object).string(UBUS_ATTR_METHOD, name).nested(UBUS_ATTR_DATA, data, len);
        sendBody(obj->second.owner, UBUS_MSG_INVOKE, ++eventSeq_, 0, body);
    }
}

void Broker::handleEventObject(uint32_t client, ubuswire::Message &msg, const char *method, blob_attr *data) {
    Client &c = clients_.at(client);
    if (strcmp(method, "register") == 0) {
        enum { OBJECT, PATTERN, COUNT };
        static const blobmsg_policy policy[COUNT] = {{"object", BLOBMSG_TYPE_INT32}, {"pattern", BLOBMSG_TYPE_STRING}};
        blob_attr *args[COUNT];
        if (!data || blobmsg_parse(policy, COUNT, args, blob_data(data), static_cast<unsigned>(blob_len(data))) != 0 ||
            !args[OBJECT] || !args[PATTERN])
            return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
        uint32_t object = blobmsg_get_u32(args[OBJECT]);
        std::string pattern = blobmsg_get_string(args[PATTERN]);
        if (pattern.empty() || object < UBUS_SYSTEM_OBJECT_MAX) return sendStatus(client, msg, UBUS_STATUS_PERMISSION_DENIED);
        auto obj = objects_.find(object);
        if (obj == objects_.end()) return sendStatus(client, msg, UBUS_STATUS_NOT_FOUND);
        if (obj->second.owner != client) return sendStatus(client, msg, UBUS_STATUS_PERMISSION_DENIED);
        if (c.patterns >= limits_.patternsPerClient) return sendStatus(client, msg, UBUS_STATUS_NO_MEMORY);
        patterns_.push_back(Pattern{object, pattern});
        c.patterns++;
        return sendStatus(client, msg, UBUS_STATUS_OK);
    }
    if (strcmp(method, "send") == 0) {
        enum { ID, DATA, COUNT };
        static const blobmsg_policy policy[COUNT] = {{"id", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE}};
        blob_attr *args[COUNT];
        if (!data || blobmsg_parse(policy, COUNT, args, blob_data(data), static_cast<unsigned>(blob_len(data))) != 0 ||
            !args[ID] || !args[DATA])
            return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
        const char *name = blobmsg_get_string(args[ID]);
        if (strncmp(name, "ubus.", 5) == 0) return sendStatus(client, msg, UBUS_STATUS_PERMISSION_DENIED);
        deliverEvent(name, blobmsg_data(args[DATA]), blobmsg_data_len(args[DATA]), client);
        return sendStatus(client, msg, UBUS_STATUS_OK);
    }
    sendStatus(client, msg, UBUS_STATUS_INVALID_COMMAND);
}

void Broker::handleInvoke(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb) {
    if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_METHOD]) return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
    uint32_t id = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    const char *method = ubuswire::getString(tb[UBUS_ATTR_METHOD]);
    if (id == UBUS_SYSTEM_OBJECT_EVENT) return handleEventObject(client, msg, method, tb[UBUS_ATTR_DATA]);
    if (id == UBUS_SYSTEM_OBJECT_ACL || id == UBUS_SYSTEM_OBJECT_MONITOR)
        return sendStatus(client, msg, UBUS_STATUS_NOT_SUPPORTED);
    auto obj = objects_.find(id);
    if (obj == objects_.end()) return sendStatus(client, msg, UBUS_STATUS_NOT_FOUND);
    Client &caller = clients_.at(client);
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, id).string(UBUS_ATTR_METHOD, method);
    body.string(UBUS_ATTR_USER, caller.user.c_str()).string(UBUS_ATTR_GROUP, caller.group.c_str());
    if (tb[UBUS_ATTR_DATA]) body.raw(tb[UBUS_ATTR_DATA]);
    std::vector<uint8_t> frame = body.frame(UBUS_MSG_INVOKE, msg.seq, client);
    if (frame.empty()) return sendStatus(client, msg, UBUS_STATUS_INVALID_ARGUMENT);
    rememberPending(caller, PendingKey{client, msg.seq, id}, obj->second.owner);
    out_.send(obj->second.owner, std::move(frame));
}

void Broker::rememberPending(Client &caller, const PendingKey &key, uint32_t server) {
    auto known = pending_.find(key);
    if (known != pending_.end()) forgetPending(known);  // the caller reused its sequence number
    if (!limits_.pendingPerClient) return;
    while (caller.pendingOrder.size() >= limits_.pendingPerClient) {
        auto oldest = caller.pendingOrder.begin();
        pending_.erase(oldest->second);
        caller.pendingOrder.erase(oldest);
    }
    uint64_t serial = ++pendingSerial_;
    pending_[key] = Pending{server, serial};
    caller.pendingOrder.emplace(serial, key);
}

void Broker::forgetPending(std::map<PendingKey, Pending>::iterator p) {
    if (p == pending_.end()) return;
    auto caller = clients_.find(std::get<0>(p->first));
    if (caller != clients_.end()) caller->second.pendingOrder.erase(p->second.serial);
    pending_.erase(p);
}

void Broker::handleReply(uint32_t client, ubuswire::Message &msg, ubuswire::Attrs &tb) {
    // A server's answer to a forwarded call; anything that does not fit is dropped.
    if (!tb[UBUS_ATTR_OBJID]) return;
    if (msg.type == UBUS_MSG_STATUS && !tb[UBUS_ATTR_STATUS]) return;
    if (msg.type == UBUS_MSG_DATA && !tb[UBUS_ATTR_DATA]) return;
    uint32_t id = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    auto obj = objects_.find(id);
    if (obj == objects_.end() || obj->second.owner != client) return;
    if (!clients_.count(msg.peer)) return;
    if (msg.type == UBUS_MSG_STATUS) {
        forgetPending(pending_.find(PendingKey{msg.peer, msg.seq, id}));
    }
    out_.send(msg.peer, ubuswire::frameBody(msg.type, msg.seq, id, msg.body.data(), msg.body.size()));
}

}  // namespace ubusd
