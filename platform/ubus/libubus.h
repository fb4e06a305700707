/*
 * ubus client library: connection to the bus broker, objects with typed methods, synchronous
 * and asynchronous invocation, deferred replies, events and lookups.
 *
 * The context's socket is `ctx->sock.fd`: a descriptor that becomes readable whenever the
 * library has work (bytes from the broker, or calls to this client's objects still queued).
 * Serve it from any event loop by calling ubus_handle_event when it is readable.
 */
#ifndef LIBUBUS_H
#define LIBUBUS_H

#include <stdbool.h>
#include <stdint.h>

#include <libubox/blobmsg.h>
#include <libubox/uloop.h>

#include "ubusmsg.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UBUS_UNIX_SOCKET "/var/run/ubus/ubus.sock"
#define UBUS_SOCKET_ENV "UBUS_SOCKET"

struct ubus_context;
struct ubus_object;
struct ubus_request;
struct ubus_request_data;
struct ubus_object_data;
struct ubus_event_handler;

typedef void (*ubus_lookup_handler_t)(struct ubus_context *ctx, struct ubus_object_data *obj, void *priv);
typedef int (*ubus_handler_t)(struct ubus_context *ctx, struct ubus_object *obj, struct ubus_request_data *req,
                              const char *method, struct blob_attr *msg);
typedef void (*ubus_state_handler_t)(struct ubus_context *ctx, struct ubus_object *obj);
typedef void (*ubus_event_handler_t)(struct ubus_context *ctx, struct ubus_event_handler *ev, const char *type,
                                     struct blob_attr *msg);
typedef void (*ubus_data_handler_t)(struct ubus_request *req, int type, struct blob_attr *msg);
typedef void (*ubus_fd_handler_t)(struct ubus_request *req, int fd);
typedef void (*ubus_complete_handler_t)(struct ubus_request *req, int ret);
typedef void (*ubus_connect_handler_t)(struct ubus_context *ctx);

#define UBUS_OBJECT_TYPE(_name, _methods)                                                     \
    { .name = _name, .id = 0, .methods = _methods, .n_methods = ARRAY_SIZE(_methods) }

#define __UBUS_METHOD_BASE(_name, _handler, _mask, _tags) .name = _name, .handler = _handler, .mask = _mask, .tags = _tags
#define UBUS_METHOD_NOARG(_name, _handler) { __UBUS_METHOD_BASE(_name, _handler, 0, 0), .policy = NULL, .n_policy = 0 }
#define UBUS_METHOD(_name, _handler, _policy)                                                 \
    { __UBUS_METHOD_BASE(_name, _handler, 0, 0), .policy = _policy, .n_policy = ARRAY_SIZE(_policy) }
#define UBUS_METHOD_MASK(_name, _handler, _policy, _mask)                                     \
    { __UBUS_METHOD_BASE(_name, _handler, _mask, 0), .policy = _policy, .n_policy = ARRAY_SIZE(_policy) }

struct ubus_method {
    const char *name;
    ubus_handler_t handler;
    unsigned long mask; /* policy entries published in the signature (bit i = entry i); 0: all */
    unsigned long tags;
    const struct blobmsg_policy *policy;
    int n_policy;
};

struct ubus_object_type {
    const char *name;
    uint32_t id;
    const struct ubus_method *methods;
    int n_methods;
};

struct ubus_object {
    void *lib_state; /* library use */
    const char *name;
    uint32_t id;
    const char *path;
    struct ubus_object_type *type;
    ubus_state_handler_t subscribe_cb;
    bool has_subscribers;
    const struct ubus_method *methods;
    int n_methods;
};

struct ubus_event_handler {
    struct ubus_object obj;
    ubus_event_handler_t cb;
};

struct ubus_context {
    struct uloop_fd sock; /* sock.fd: readable when ubus_handle_event has work */
    uint32_t local_id;    /* this client's id on the bus */
    uint16_t request_seq;
    int stack_depth;      /* nesting of synchronous calls */
    void (*connection_lost)(struct ubus_context *ctx);
    /* Optional, set by the program: asked of each event the broker sends (its notices of objects
       coming and going among them) as it is read; one it does not want is dropped there, so that
       a flood of events it ignores neither fills what waits nor holds back the calls behind it.
       Must not call into the library. */
    bool (*event_wanted)(struct ubus_context *ctx, const char *event, struct blob_attr *data);
    struct ubus_context_state *state; /* library use */
};

struct ubus_object_data {
    uint32_t id;
    uint32_t type_id;
    const char *path;
    struct blob_attr *signature;
};

/* An incoming method call. `peer` is the caller's client id. */
struct ubus_request_data {
    uint32_t object;
    uint32_t peer;
    uint16_t seq;
    bool deferred; /* set by ubus_defer_request: no status is sent when the handler returns */
    int fd;
};

/* An outgoing request (owned by the caller; registered with the library until it completes). */
struct ubus_request {
    int status_code;
    bool status_msg;
    bool blocked;
    bool cancelled;
    uint32_t peer; /* object id invoked */
    uint16_t seq;
    ubus_data_handler_t raw_data_cb;
    ubus_data_handler_t data_cb;
    ubus_fd_handler_t fd_cb;
    ubus_complete_handler_t complete_cb;
    int fd;
    struct ubus_context *ctx;
    void *priv;
    bool registered; /* library use */
    bool finished;   /* library use */
};

/* Connects to `path`, or with null to $UBUS_SOCKET or the default path. Null on failure. */
struct ubus_context *ubus_connect(const char *path);
void ubus_free(struct ubus_context *ctx);
const char *ubus_strerror(int error);

/* Processes what is available on the context's descriptor without blocking: replies at once,
   calls to this client's objects a few per call, in turn between their callers. The descriptor
   stays readable while calls are left. */
void ubus_handle_event(struct ubus_context *ctx);

int ubus_lookup(struct ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv);
int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id);

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj);
int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj);

/* Synchronous call: data callback per reply, returns the status; `timeout` in ms, 0 = none. */
int ubus_invoke_fd(struct ubus_context *ctx, uint32_t obj, const char *method, struct blob_attr *msg,
                   ubus_data_handler_t cb, void *priv, int timeout, int fd);
static inline int ubus_invoke(struct ubus_context *ctx, uint32_t obj, const char *method, struct blob_attr *msg,
                              ubus_data_handler_t cb, void *priv, int timeout) {
    return ubus_invoke_fd(ctx, obj, method, msg, cb, priv, timeout, -1);
}

/* Asynchronous call: sends at once (0, or a status on failure); the caller then sets the
   callbacks and registers the request with ubus_complete_request_async. */
int ubus_invoke_async_fd(struct ubus_context *ctx, uint32_t obj, const char *method, struct blob_attr *msg,
                         struct ubus_request *req, int fd);
static inline int ubus_invoke_async(struct ubus_context *ctx, uint32_t obj, const char *method,
                                    struct blob_attr *msg, struct ubus_request *req) {
    return ubus_invoke_async_fd(ctx, obj, method, msg, req, -1);
}
void ubus_complete_request_async(struct ubus_context *ctx, struct ubus_request *req);
/* Waits for a request started asynchronously; returns its status. */
int ubus_complete_request(struct ubus_context *ctx, struct ubus_request *req, int timeout);
/* Unregisters a request: none of its callbacks runs afterwards. */
void ubus_abort_request(struct ubus_context *ctx, struct ubus_request *req);

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg);
static inline void ubus_defer_request(struct ubus_context *ctx, struct ubus_request_data *req,
                                      struct ubus_request_data *new_req) {
    (void)ctx;
    *new_req = *req;
    req->deferred = true;
}
void ubus_complete_deferred_request(struct ubus_context *ctx, struct ubus_request_data *req, int ret);

int ubus_send_event(struct ubus_context *ctx, const char *id, struct blob_attr *data);
/* Patterns: an exact event name, or a prefix followed by '*'. */
int ubus_register_event_handler(struct ubus_context *ctx, struct ubus_event_handler *ev, const char *pattern);
static inline int ubus_unregister_event_handler(struct ubus_context *ctx, struct ubus_event_handler *ev) {
    return ubus_remove_object(ctx, &ev->obj);
}

#ifdef __cplusplus
}
#endif

#endif
