// Twenty ring-buffer descriptors under one driver mutex. Sizes are powers of two, so indexes
// wrap with a mask and every copy is at most two pieces. The mutex is held for each whole
// check-and-copy, so any number of producers and consumers may share a buffer.
#include "memCircBuf.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "voiceLog.h"

namespace {

struct MEMCIRCBUFDESC {
  MEMCIRCBUFDESC *nextp;  // next free descriptor, while free
  uint32_t size;
  bool bufIsFull;
  uint32_t readIndex;
  uint32_t writeIndex;
  uint8_t *bufp;
};

MEMCIRCBUFDESC memCircBuffers[MEMCIRCBUF_MAX_BUFFERS];
MEMCIRCBUFDESC *freeList = nullptr;
bool isMemCircBufInitialized = false;
pthread_mutex_t driverMutex = PTHREAD_MUTEX_INITIALIZER;

class DriverLock {
 public:
  DriverLock() { pthread_mutex_lock(&driverMutex); }
  ~DriverLock() { pthread_mutex_unlock(&driverMutex); }
};

uint32_t storedBytes(const MEMCIRCBUFDESC &desc) {
  if (desc.bufIsFull) {
    return desc.size;
  }
  return (desc.writeIndex - desc.readIndex) & (desc.size - 1);
}

uint32_t roundedSize(uint32_t request) {
  if (request < 2) {
    return 1;
  }
  uint32_t size = 2;
  while (size < request && size < 0x80000000u) {
    size <<= 1;
  }
  return size;
}

// The allocated descriptor of a handle, or null after logging why it cannot be used.
MEMCIRCBUFDESC *usableDescriptor(MEMCIRCBUFDRV handle, const char *operation) {
  if (!isMemCircBufInitialized) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_WARNING, "%s: Driver not initialized!\n",
             operation);
    return nullptr;
  }
  // A descriptor without storage is free: using it, or freeing it twice, would corrupt the
  // free list.
  if (handle >= MEMCIRCBUF_MAX_BUFFERS || memCircBuffers[handle].bufp == nullptr) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_ERROR, "%s: Invalid buffer index!\n", operation);
    return nullptr;
  }
  return &memCircBuffers[handle];
}

}  // namespace

BUF_STATUS memCircBufInit(void) {
  DriverLock lock;
  if (isMemCircBufInitialized) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_WARNING, "%s: Driver already initialized!\n",
             "memCircBufInit");
    return BUF_STATUS_FAIL;
  }
  memset(static_cast<void *>(memCircBuffers), 0, sizeof memCircBuffers);
  for (int i = 0; i < MEMCIRCBUF_MAX_BUFFERS - 1; ++i) {
    memCircBuffers[i].nextp = &memCircBuffers[i + 1];
  }
  freeList = &memCircBuffers[0];
  isMemCircBufInitialized = true;
  return BUF_STATUS_OK;
}

BUF_STATUS memCircBufDeinit(void) {
  DriverLock lock;
  if (!isMemCircBufInitialized) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_WARNING,
             "%s: Driver not previously initialized!\n", "memCircBufDeinit");
    return BUF_STATUS_OK;
  }
  for (MEMCIRCBUFDESC &desc : memCircBuffers) {
    free(desc.bufp);
  }
  memset(static_cast<void *>(memCircBuffers), 0, sizeof memCircBuffers);
  freeList = nullptr;
  isMemCircBufInitialized = false;
  return BUF_STATUS_OK;
}

BUF_STATUS memCircBufAlloc(MEMCIRCBUFDRV *handle, uint32_t size) {
  DriverLock lock;
  if (!isMemCircBufInitialized) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_WARNING, "%s: Driver not initialized!\n",
             "memCircBufAlloc");
    return BUF_STATUS_FAIL;
  }
  const uint32_t bufSize = roundedSize(size);
  auto *storage = static_cast<uint8_t *>(malloc(bufSize));
  if (storage == nullptr) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_ERROR, "%s: Unable to allocate buffer!\n",
             "memCircBufAlloc");
    return BUF_STATUS_FAIL;
  }
  MEMCIRCBUFDESC *desc = freeList;
  if (desc == nullptr) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_ERROR, "%s: No free buffer available!\n",
             "memCircBufAlloc");
    free(storage);
    return BUF_STATUS_FAIL;
  }
  freeList = desc->nextp;
  desc->nextp = nullptr;
  desc->bufp = storage;
  desc->readIndex = desc->writeIndex = 0;
  desc->bufIsFull = false;
  desc->size = bufSize;
  *handle = static_cast<MEMCIRCBUFDRV>(desc - memCircBuffers);
  return BUF_STATUS_OK;
}

BUF_STATUS memCircBufFree(MEMCIRCBUFDRV *handle) {
  uint8_t *storage = nullptr;
  {
    DriverLock lock;
    MEMCIRCBUFDESC *desc = usableDescriptor(*handle, "memCircBufFree");
    if (desc == nullptr) {
      return BUF_STATUS_FAIL;
    }
    storage = desc->bufp;
    *desc = MEMCIRCBUFDESC{};
    desc->nextp = freeList;
    freeList = desc;
    *handle = MEMCIRCBUF_INVALID;
  }
  free(storage);
  return BUF_STATUS_OK;
}

BUF_STATUS memCircBufWrite(MEMCIRCBUFDRV handle, const void *src, uint32_t count) {
  DriverLock lock;
  MEMCIRCBUFDESC *desc = usableDescriptor(handle, "memCircBufWrite");
  if (desc == nullptr) {
    return BUF_STATUS_FAIL;
  }
  // An empty write changes nothing (it must not mark an empty buffer full).
  if (count == 0) {
    return BUF_STATUS_OK;
  }
  if (desc->bufIsFull || desc->size - storedBytes(*desc) < count) {
    return BUF_STATUS_FULL;
  }
  const auto *bytes = static_cast<const uint8_t *>(src);
  const uint32_t toEnd = desc->size - desc->writeIndex;
  if (count >= toEnd) {
    memcpy(desc->bufp + desc->writeIndex, bytes, toEnd);
    memcpy(desc->bufp, bytes + toEnd, count - toEnd);
  } else {
    memcpy(desc->bufp + desc->writeIndex, bytes, count);
  }
  desc->writeIndex = (desc->writeIndex + count) & (desc->size - 1);
  desc->bufIsFull = desc->readIndex == desc->writeIndex;
  return BUF_STATUS_OK;
}

BUF_STATUS memCircBufRead(MEMCIRCBUFDRV handle, void *dst, uint32_t count) {
  DriverLock lock;
  MEMCIRCBUFDESC *desc = usableDescriptor(handle, "memCircBufRead");
  if (desc == nullptr) {
    return BUF_STATUS_FAIL;
  }
  // An empty read changes nothing (it must not mark a full buffer empty).
  if (count == 0) {
    return BUF_STATUS_OK;
  }
  if (count > storedBytes(*desc)) {
    return BUF_STATUS_EMPTY;
  }
  auto *bytes = static_cast<uint8_t *>(dst);
  const uint32_t toEnd = desc->size - desc->readIndex;
  if (count >= toEnd) {
    memcpy(bytes, desc->bufp + desc->readIndex, toEnd);
    memcpy(bytes + toEnd, desc->bufp, count - toEnd);
  } else {
    memcpy(bytes, desc->bufp + desc->readIndex, count);
  }
  desc->bufIsFull = false;
  desc->readIndex = (desc->readIndex + count) & (desc->size - 1);
  return BUF_STATUS_OK;
}
