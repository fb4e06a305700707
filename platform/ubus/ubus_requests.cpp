// ubus client requests: invoke (synchronous and asynchronous), lookup, objects, events,
// replies, and serving the methods of this client's objects.
#include "ubus_context.h"

#include <cstring>
#include <string>

using namespace ubuslib;

namespace {

// The contents of a message buffer (the elements inside its top container).
struct Contents {
    const void *data = nullptr;
    size_t len = 0;
    explicit Contents(const blob_attr *msg) {
        if (msg) {
            data = blob_data(msg);
            len = blob_len(msg);
        }
    }
};

// Lookup replies, gathered by a raw data callback.
struct LookupCollect {
    ubus_lookup_handler_t cb = nullptr;
    void *priv = nullptr;
    uint32_t lastId = 0;
    ubus_context *ctx = nullptr;
};

void lookupData(ubus_request *req, int type, blob_attr *body) {
    if (type != UBUS_MSG_DATA) return;
    auto *collect = static_cast<LookupCollect *>(req->priv);
    ubuswire::Message msg;
    msg.body.assign(reinterpret_cast<uint8_t *>(body), reinterpret_cast<uint8_t *>(body) + blob_pad_len(body));
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    if (!tb[UBUS_ATTR_OBJID]) return;
    collect->lastId = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    if (!collect->cb) return;
    ubus_object_data obj{};
    obj.id = collect->lastId;
    obj.type_id = tb[UBUS_ATTR_OBJTYPE] ? ubuswire::getU32(tb[UBUS_ATTR_OBJTYPE]) : 0;
    obj.path = tb[UBUS_ATTR_OBJPATH] ? ubuswire::getString(tb[UBUS_ATTR_OBJPATH]) : "";
    obj.signature = tb[UBUS_ATTR_SIGNATURE];
    collect->cb(collect->ctx, &obj, collect->priv);
}

int lookup(ubus_context *ctx, const char *path, LookupCollect &collect) {
    ubuswire::Builder body;
    if (path) body.string(UBUS_ATTR_OBJPATH, path);
    ubus_request req;
    int ret = startRequest(ctx, &req, UBUS_MSG_LOOKUP, 0, body);
    if (ret != UBUS_STATUS_OK) return ret;
    req.raw_data_cb = lookupData;
    req.priv = &collect;
    collect.ctx = ctx;
    return waitFor(ctx, &req, kBrokerAnswerMs);
}

// Replies to ADD_OBJECT and REMOVE_OBJECT carry the object's id and perhaps its type id.
struct ObjectReply {
    uint32_t id = 0;
    uint32_t typeId = 0;
    bool hasType = false;
};

void objectData(ubus_request *req, int type, blob_attr *body) {
    if (type != UBUS_MSG_DATA) return;
    auto *reply = static_cast<ObjectReply *>(req->priv);
    ubuswire::Message msg;
    msg.body.assign(reinterpret_cast<uint8_t *>(body), reinterpret_cast<uint8_t *>(body) + blob_pad_len(body));
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    if (tb[UBUS_ATTR_OBJID]) reply->id = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    if (tb[UBUS_ATTR_OBJTYPE]) {
        reply->typeId = ubuswire::getU32(tb[UBUS_ATTR_OBJTYPE]);
        reply->hasType = true;
    }
}

// Sends an ADD_OBJECT or REMOVE_OBJECT request to the broker and waits for its reply.
int objectRequest(ubus_context *ctx, uint8_t type, ubuswire::Builder &body, ObjectReply *reply) {
    ubus_request req;
    int ret = startRequest(ctx, &req, type, 0, body);
    if (ret != UBUS_STATUS_OK) return ret;
    req.raw_data_cb = objectData;
    req.priv = reply;
    return waitFor(ctx, &req, kBrokerAnswerMs);
}

// The signature of a type: one table per method holding INT32 argument name -> blobmsg type.
bool putSignature(ubuswire::Builder &body, const ubus_object_type *type) {
    blob_buf *b = body.buf();
    void *sig = blob_nest_start(b, UBUS_ATTR_SIGNATURE);
    if (!sig) return false;
    bool ok = true;
    for (int m = 0; ok && m < type->n_methods; m++) {
        const ubus_method &method = type->methods[m];
        void *table = blobmsg_open_table(b, method.name);
        if (!table) {
            ok = false;
            break;
        }
        for (int i = 0; ok && i < method.n_policy; i++) {
            if (method.mask && !(method.mask & (1ul << i))) continue;
            ok = blobmsg_add_u32(b, method.policy[i].name, static_cast<uint32_t>(method.policy[i].type)) == 0;
        }
        blobmsg_close_table(b, table);
    }
    blob_nest_end(b, sig);
    return ok;
}

int sendStatus(ubus_context *ctx, uint16_t seq, uint32_t peer, uint32_t object, int status) {
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_STATUS, static_cast<uint32_t>(status)).u32(UBUS_ATTR_OBJID, object);
    return sendFrame(ctx, body.frame(UBUS_MSG_STATUS, seq, peer)) ? UBUS_STATUS_OK : UBUS_STATUS_CONNECTION_FAILED;
}

int eventMethod(ubus_context *ctx, ubus_object *obj, ubus_request_data *req, const char *method, blob_attr *msg) {
    // The broker delivers events with peer 0. A client can call the handler's object by its id
    // as well, with any method name, "ubus.object.remove" included: that is no event.
    if (req->peer != 0) return UBUS_STATUS_PERMISSION_DENIED;
    // Event handlers publish an anonymous object whose first member is that object.
    auto *ev = reinterpret_cast<ubus_event_handler *>(obj);
    if (ev->cb) ev->cb(ctx, ev, method, msg);
    return UBUS_STATUS_OK;
}

const ubus_method kEventMethods[] = {{nullptr, eventMethod, 0, 0, nullptr, 0}};

int invokeBuiltin(ubus_context *ctx, const char *method, blob_buf &args) {
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_EVENT).string(UBUS_ATTR_METHOD, method);
    body.nested(UBUS_ATTR_DATA, blob_data(args.head), blob_len(args.head));
    ubus_request req;
    int ret = startRequest(ctx, &req, UBUS_MSG_INVOKE, UBUS_SYSTEM_OBJECT_EVENT, body);
    if (ret != UBUS_STATUS_OK) return ret;
    return waitFor(ctx, &req, kBrokerAnswerMs);
}

}  // namespace

namespace ubuslib {

void dispatchInvoke(ubus_context *ctx, ubuswire::Message &msg) {
    ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
    if (!tb[UBUS_ATTR_OBJID]) return;  // nothing to answer to
    uint32_t objid = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
    bool noReply = tb[UBUS_ATTR_NO_REPLY] && blob_get_u8(tb[UBUS_ATTR_NO_REPLY]);
    bool answer = !noReply && msg.peer != 0;  // peer 0: an event from the broker
    auto it = ctx->state->objects.find(objid);
    if (it == ctx->state->objects.end()) {
        if (answer) sendStatus(ctx, msg.seq, msg.peer, objid, UBUS_STATUS_NOT_FOUND);
        return;
    }
    ubus_object *obj = it->second;
    if (!tb[UBUS_ATTR_METHOD]) {
        if (answer) sendStatus(ctx, msg.seq, msg.peer, objid, UBUS_STATUS_INVALID_ARGUMENT);
        return;
    }
    const char *method = ubuswire::getString(tb[UBUS_ATTR_METHOD]);
    const ubus_method *found = nullptr;
    for (int i = 0; i < obj->n_methods && !found; i++)
        if (!obj->methods[i].name || strcmp(obj->methods[i].name, method) == 0) found = &obj->methods[i];
    int status;
    ubus_request_data req{objid, msg.peer, msg.seq, false, -1};
    if (!found || !found->handler) status = UBUS_STATUS_METHOD_NOT_FOUND;
    else if (!tb[UBUS_ATTR_DATA]) status = UBUS_STATUS_INVALID_ARGUMENT;
    else status = found->handler(ctx, obj, &req, method, tb[UBUS_ATTR_DATA]);
    if (answer && !req.deferred) sendStatus(ctx, msg.seq, msg.peer, objid, status);
}

}  // namespace ubuslib

extern "C" {

int ubus_lookup(ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv) {
    if (!ctx) return UBUS_STATUS_INVALID_ARGUMENT;
    LookupCollect collect;
    collect.cb = cb;
    collect.priv = priv;
    return lookup(ctx, path, collect);
}

int ubus_lookup_id(ubus_context *ctx, const char *path, uint32_t *id) {
    if (!ctx || !path || !id) return UBUS_STATUS_INVALID_ARGUMENT;
    LookupCollect collect;
    int ret = lookup(ctx, path, collect);
    if (ret == UBUS_STATUS_OK) {
        if (!collect.lastId) return UBUS_STATUS_NOT_FOUND;
        *id = collect.lastId;
    }
    return ret;
}

int ubus_add_object(ubus_context *ctx, ubus_object *obj) {
    if (!ctx || !obj) return UBUS_STATUS_INVALID_ARGUMENT;
    ubuswire::Builder body;
    if (obj->name && obj->type) {
        body.string(UBUS_ATTR_OBJPATH, obj->name);
        if (obj->type->id) body.u32(UBUS_ATTR_OBJTYPE, obj->type->id);
        else if (!putSignature(body, obj->type)) return UBUS_STATUS_INVALID_ARGUMENT;
    }
    ObjectReply reply;
    int ret = objectRequest(ctx, UBUS_MSG_ADD_OBJECT, body, &reply);
    if (ret != UBUS_STATUS_OK) return ret;
    if (!reply.id) return UBUS_STATUS_NO_DATA;
    obj->id = reply.id;
    if (reply.hasType && obj->type) obj->type->id = reply.typeId;
    ctx->state->objects[obj->id] = obj;
    return UBUS_STATUS_OK;
}

int ubus_remove_object(ubus_context *ctx, ubus_object *obj) {
    if (!ctx || !obj || !obj->id) return UBUS_STATUS_INVALID_ARGUMENT;
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, obj->id);
    ObjectReply reply;
    int ret = objectRequest(ctx, UBUS_MSG_REMOVE_OBJECT, body, &reply);
    if (ret != UBUS_STATUS_OK) return ret;
    // The broker names the type when no object uses it any more: its id is then forgotten.
    if (reply.hasType && obj->type) obj->type->id = 0;
    ctx->state->objects.erase(obj->id);
    obj->id = 0;
    return UBUS_STATUS_OK;
}

int ubus_invoke_async_fd(ubus_context *ctx, uint32_t obj, const char *method, blob_attr *msg, ubus_request *req,
                         int fd) {
    (void)fd;  // descriptors are not passed on this bus
    if (!ctx || !req || !method) return UBUS_STATUS_INVALID_ARGUMENT;
    Contents args(msg);
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, obj).string(UBUS_ATTR_METHOD, method).nested(UBUS_ATTR_DATA, args.data, args.len);
    return startRequest(ctx, req, UBUS_MSG_INVOKE, obj, body);
}

void ubus_complete_request_async(ubus_context *ctx, ubus_request *req) {
    if (!ctx || !req || req->finished || ctx->state->lost) return;
    registerRequest(ctx, req);
}

int ubus_complete_request(ubus_context *ctx, ubus_request *req, int timeout) {
    if (!ctx || !req) return UBUS_STATUS_INVALID_ARGUMENT;
    if (req->finished) return req->status_code;
    return waitFor(ctx, req, timeout);
}

void ubus_abort_request(ubus_context *ctx, ubus_request *req) {
    if (!ctx || !req) return;
    unregisterRequest(ctx, req);
    req->cancelled = true;
}

int ubus_invoke_fd(ubus_context *ctx, uint32_t obj, const char *method, blob_attr *msg, ubus_data_handler_t cb,
                   void *priv, int timeout, int fd) {
    ubus_request req;
    int ret = ubus_invoke_async_fd(ctx, obj, method, msg, &req, fd);
    if (ret != UBUS_STATUS_OK) return ret;
    req.data_cb = cb;
    req.priv = priv;
    return waitFor(ctx, &req, timeout);
}

int ubus_send_reply(ubus_context *ctx, ubus_request_data *req, blob_attr *msg) {
    if (!ctx || !req) return UBUS_STATUS_INVALID_ARGUMENT;
    Contents data(msg);
    ubuswire::Builder body;
    body.u32(UBUS_ATTR_OBJID, req->object).nested(UBUS_ATTR_DATA, data.data, data.len);
    std::vector<uint8_t> frame = body.frame(UBUS_MSG_DATA, req->seq, req->peer);
    if (frame.empty()) return UBUS_STATUS_INVALID_ARGUMENT;
    return sendFrame(ctx, frame) ? UBUS_STATUS_OK : UBUS_STATUS_CONNECTION_FAILED;
}

void ubus_complete_deferred_request(ubus_context *ctx, ubus_request_data *req, int ret) {
    if (!ctx || !req) return;
    sendStatus(ctx, req->seq, req->peer, req->object, ret);
}

int ubus_send_event(ubus_context *ctx, const char *id, blob_attr *data) {
    if (!ctx || !id) return UBUS_STATUS_INVALID_ARGUMENT;
    blob_buf args{};
    Contents contents(data);
    int ret = UBUS_STATUS_NO_MEMORY;
    if (blobmsg_buf_init(&args) == 0 && blobmsg_add_string(&args, "id", id) == 0) {
        void *table = blobmsg_open_table(&args, "data");
        bool ok = table && (contents.len == 0 || blob_put_raw(&args, contents.data, static_cast<unsigned>(contents.len)));
        if (table) blobmsg_close_table(&args, table);
        if (ok) ret = invokeBuiltin(ctx, "send", args);
    }
    blob_buf_free(&args);
    return ret;
}

int ubus_register_event_handler(ubus_context *ctx, ubus_event_handler *ev, const char *pattern) {
    if (!ctx || !ev || !pattern) return UBUS_STATUS_INVALID_ARGUMENT;
    if (!ev->obj.id) {
        ev->obj.methods = kEventMethods;
        ev->obj.n_methods = 1;
        ev->obj.type = nullptr;
        ev->obj.name = nullptr;
        int ret = ubus_add_object(ctx, &ev->obj);
        if (ret != UBUS_STATUS_OK) return ret;
    }
    blob_buf args{};
    int ret = UBUS_STATUS_NO_MEMORY;
    if (blobmsg_buf_init(&args) == 0 && blobmsg_add_u32(&args, "object", ev->obj.id) == 0 &&
        blobmsg_add_string(&args, "pattern", pattern) == 0)
        ret = invokeBuiltin(ctx, "register", args);
    blob_buf_free(&args);
    return ret;
}

}  // extern "C"
