// Byte ring buffers that carry fixed-size records between threads: a write stores all of its
// bytes or none, a read takes all of its bytes or none. Blocking and waking are left to the
// callers, which pair each buffer with a light semaphore.
#pragma once

#include <cstdint>

// The handle of a buffer: the index of its descriptor. A freed handle reads MEMCIRCBUF_INVALID.
typedef uint32_t MEMCIRCBUFDRV;

constexpr MEMCIRCBUFDRV MEMCIRCBUF_INVALID = 0xFFFFFFFFu;
constexpr int MEMCIRCBUF_MAX_BUFFERS = 20;

typedef enum : int {
  BUF_STATUS_OK = 0,
  BUF_STATUS_FAIL = 1,   // driver not initialised, bad handle, no memory, no descriptor
  BUF_STATUS_FULL = 2,   // not enough room for the whole write: nothing written
  BUF_STATUS_EMPTY = 3,  // not enough data for the whole read: nothing read
} BUF_STATUS;

BUF_STATUS memCircBufInit(void);
// Frees every buffer and marks the driver not initialised.
BUF_STATUS memCircBufDeinit(void);

// The size is rounded up to a power of two.
BUF_STATUS memCircBufAlloc(MEMCIRCBUFDRV *handle, uint32_t size);
BUF_STATUS memCircBufFree(MEMCIRCBUFDRV *handle);

BUF_STATUS memCircBufWrite(MEMCIRCBUFDRV handle, const void *src, uint32_t count);
BUF_STATUS memCircBufRead(MEMCIRCBUFDRV handle, void *dst, uint32_t count);
