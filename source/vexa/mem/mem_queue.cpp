// Intrusive block queues: elements are pool or heap blocks linked through their headers.
#include "lhapi.h"
#include "mem.h"

void MEM_InitQueue(MEM_Queue* queue) {
  if (queue == nullptr) return;
  queue->headPtr = nullptr;
  queue->tailPtr = nullptr;
  queue->count = 0;
}

void MEM_QueueEnq_UnprotectedDbg(MEM_Queue* queue, void* data, const char* file, int line) {
  if (queue == nullptr || data == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  MEM_BlockHdr* hdr = MEM_HdrOf(data);
  hdr->fileName = file;
  hdr->lineNum = line;
  hdr->nextp = nullptr;
  if (queue->tailPtr != nullptr) {
    queue->tailPtr->nextp = hdr;
  } else {
    queue->headPtr = hdr;
  }
  queue->tailPtr = hdr;
  queue->count += 1;
}

void MEM_QueueEnqDbg(MEM_Queue* queue, void* data, const char* file, int line) {
  LhapiLockGuard lock;
  MEM_QueueEnq_UnprotectedDbg(queue, data, file, line);
}

namespace {
void* dequeueHead(MEM_Queue* queue, const char* file, int line) {
  LHAPI_ASSERT(queue->count >= 1);
  LHAPI_ASSERT((queue->count == 1) == (queue->headPtr == queue->tailPtr));
  LHAPI_ASSERT(queue->tailPtr != nullptr);
  MEM_BlockHdr* hdr = queue->headPtr;
  queue->headPtr = hdr->nextp;
  if (queue->headPtr == nullptr) queue->tailPtr = nullptr;
  if (queue->count > 0) queue->count -= 1;
  hdr->nextp = nullptr;
  hdr->fileName = file;
  hdr->lineNum = line;
  return MEM_DataOf(hdr);
}
}  // namespace

void* MEM_QueueDeq_UnprotectedDbg(MEM_Queue* queue, const char* file, int line) {
  if (queue == nullptr || queue->headPtr == nullptr) return nullptr;
  return dequeueHead(queue, file, line);
}

void* MEM_QueueDeqDbg(MEM_Queue* queue, const char* file, int line) {
  LhapiLockGuard lock;
  return MEM_QueueDeq_UnprotectedDbg(queue, file, line);
}

void* MEM_QueueDeqNotEmpty_UnprotectedDbg(MEM_Queue* queue, const char* file, int line) {
  if (queue == nullptr || queue->headPtr == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  return dequeueHead(queue, file, line);
}

void* MEM_QueueDeqNotEmptyDbg(MEM_Queue* queue, const char* file, int line) {
  LhapiLockGuard lock;
  return MEM_QueueDeqNotEmpty_UnprotectedDbg(queue, file, line);
}

void MEM_QueueMove_Unprotected(MEM_Queue* destination, MEM_Queue* source) {
  if (destination == nullptr || source == nullptr || source == destination) return;
  if (source->headPtr == nullptr) return;
  if (destination->tailPtr != nullptr) {
    destination->tailPtr->nextp = source->headPtr;
  } else {
    destination->headPtr = source->headPtr;
  }
  destination->tailPtr = source->tailPtr;
  destination->count += source->count;
  MEM_InitQueue(source);
}

void MEM_QueueMove(MEM_Queue* destination, MEM_Queue* source) {
  LhapiLockGuard lock;
  MEM_QueueMove_Unprotected(destination, source);
}

void MEM_QueueMoveNotEmpty_Unprotected(MEM_Queue* destination, MEM_Queue* source) {
  if (source == nullptr || source->headPtr == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  MEM_QueueMove_Unprotected(destination, source);
}

void MEM_QueueInsert_UnprotectedDbg(MEM_Queue* queue, void* data, void* after, const char* file,
                                    int line) {
  if (queue == nullptr || data == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  MEM_BlockHdr* hdr = MEM_HdrOf(data);
  hdr->fileName = file;
  hdr->lineNum = line;
  if (after == nullptr) {
    hdr->nextp = queue->headPtr;
    queue->headPtr = hdr;
    if (queue->tailPtr == nullptr) queue->tailPtr = hdr;
  } else {
    MEM_BlockHdr* prev = MEM_HdrOf(after);
    hdr->nextp = prev->nextp;
    prev->nextp = hdr;
    if (queue->tailPtr == prev) queue->tailPtr = hdr;
  }
  queue->count += 1;
}

void MEM_QueueInsertDbg(MEM_Queue* queue, void* data, void* after, const char* file, int line) {
  LhapiLockGuard lock;
  MEM_QueueInsert_UnprotectedDbg(queue, data, after, file, line);
}

uint32_t MEM_QueueCount(const MEM_Queue* queue) { return queue != nullptr ? queue->count : 0; }

int MEM_CheckQueue(const MEM_Queue* queue) {
  if (queue == nullptr) return 0;
  const MEM_BlockHdr* hdr = queue->headPtr;
  const MEM_BlockHdr* last = nullptr;
  for (uint32_t i = 0; i < queue->count; ++i) {
    if (hdr == nullptr) return 0;
    last = hdr;
    hdr = hdr->nextp;
  }
  return hdr == nullptr && last == queue->tailPtr ? 1 : 0;
}

void* MEM_QueueHead(const MEM_Queue* queue) {
  return queue != nullptr && queue->headPtr != nullptr ? MEM_DataOf(queue->headPtr) : nullptr;
}

void* MEM_QueueNext(const void* data) {
  if (data == nullptr) return nullptr;
  MEM_BlockHdr* next = MEM_HdrOf(data)->nextp;
  return next != nullptr ? MEM_DataOf(next) : nullptr;
}
