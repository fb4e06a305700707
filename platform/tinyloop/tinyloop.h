/*
 * tinyloop: a small single-threaded event loop on epoll (level-triggered), stream readers,
 * framed message buses over pipes, locked lists and print-and-exit helpers.
 *
 * A base is an int handle. Streams are descriptors with one handler; when the descriptor is
 * readable the library reads up to the stream's maximum into the event (0: it reads nothing and
 * the handler reads itself). A bus frames messages on a pipe as a 32-bit size in host order
 * followed by at most TL_BUS_MAX_PAYLOAD bytes, written with one write() so that messages from
 * several threads never interleave.
 */
#ifndef TINYLOOP_H
#define TINYLOOP_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TL_BUS_MAX_PAYLOAD 4092u   /* payload bytes of one bus message */
#define TL_BUS_MAX_HANDLERS 8      /* handlers per bus */
#define TL_BUS_BUFFER_SIZE 16384u  /* receive buffer: several full reads plus a partial message */

struct tl_stream;

/* The bytes read for one readiness of a stream: `count` is the read() result (0 at end of
   file, negative on a read error); `in` is null when the stream reads nothing itself. */
typedef struct tl_event {
    uint8_t *in;
    int count;
} tl_event_t;

typedef void (*tl_stream_handler_t)(struct tl_stream *stream, tl_event_t *event);

typedef struct tl_stream {
    int fd;
    size_t maxEventSize;
    tl_stream_handler_t event_handler;
    /* library state */
    int base;          /* base the stream is added to, -1 when none */
    uint64_t key;      /* registration key inside that base */
    uint8_t *readBuf;  /* maxEventSize bytes */
    int watched;       /* epoll reports it */
    int hungUp;        /* end of file seen: no longer watched */
} tl_stream_t;

typedef struct tl_list_node {
    struct tl_list_node *next;
    void *item;
} tl_list_node_t;

typedef struct tl_list {
    tl_list_node_t *first;
    tl_list_node_t *last;
    size_t count;
    pthread_mutex_t lock;
} tl_list_t;

/* One bus message as it travels on the pipe: size word in host order, then the payload. */
typedef struct tl_packet {
    uint32_t size;
    uint8_t data[TL_BUS_MAX_PAYLOAD];
} tl_packet_t;

typedef void (*tl_bus_handler_t)(tl_packet_t *packet);

typedef struct tl_bus {
    int fd;
    uint8_t *buf;           /* TL_BUS_BUFFER_SIZE bytes of received, not yet dispatched data */
    size_t bufUsed;
    pthread_mutex_t lock;   /* serialises senders */
    tl_bus_handler_t application_handlers[TL_BUS_MAX_HANDLERS];
} tl_bus_t;

/* Base: returns a handle >= 0, or -1. */
int tl_base_new(void);
/* Runs handlers on the calling thread until no stream is watched any more (0) or epoll fails
   (-1). Signals (EINTR) never end it. */
int tl_base_dispatch(int base);
int tl_base_add_stream(int base, tl_stream_t *stream);
int tl_base_delete_stream(int base, tl_stream_t *stream);
/* Releases the base; its streams are detached, not freed. */
void tl_base_free(int base);

tl_stream_t *tl_stream_new(int fd);
int tl_stream_add_handler(tl_stream_t *stream, size_t maxEventSize, tl_stream_handler_t handler);
int tl_stream_remove_handler(tl_stream_t *stream, tl_stream_handler_t handler);
/* Frees a stream (detaching it from its base first); does not close the descriptor. */
void tl_stream_free(tl_stream_t *stream);

tl_list_t *tl_list_new(void);
int tl_list_add(tl_list_t *list, void *item);
void *tl_list_get(tl_list_t *list);
void *tl_list_find(tl_list_t *list, int (*predicate)(void *item));
int tl_list_delete(tl_list_t *list, void *item);
/* Frees the list and its nodes; the items are the caller's. */
void tl_list_free(tl_list_t *list);

tl_bus_t *tl_bus_new(int fd);
int tl_bus_add_handler(tl_bus_t *bus, tl_bus_handler_t handler);
/* Appends the event's bytes; negative when they do not fit or a size word is corrupt. */
int tl_bus_receive(tl_bus_t *bus, const tl_event_t *event);
/* Delivers every complete message in order; returns the number delivered. */
int tl_bus_dispatch(tl_bus_t *bus);
/* Drops every received, undelivered byte; returns how many there were. */
size_t tl_bus_discard(tl_bus_t *bus);
/* Sends one message; -1 when it is larger than TL_BUS_MAX_PAYLOAD or cannot be written whole. */
int tl_bus_send(tl_bus_t *bus, const void *buf, size_t size);
void tl_bus_free(tl_bus_t *bus);

__attribute__((noreturn)) void exit_failure(const char *message);
__attribute__((noreturn)) void exit_succes(const char *message);
__attribute__((noreturn, format(printf, 1, 2))) void err_exit(const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif
