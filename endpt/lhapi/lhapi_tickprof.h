// An optional profile of the DSP tick, switched on by ORVOX_TICK_PROFILE=1 in the environment:
// the processor time of every tick as a distribution, and for the slowest ticks where the time
// went (host messages, PCM in and out, the kernel threads and the longest of them), whether the
// kernel had to serve the thread meanwhile (page faults, context switches; counted over all ticks
// too), the processors it ran on, and the host's steal time and the machine's interrupts around
// it (served on the thread's processor, they are charged to it). On, it reads /proc/stat
// after each of the slowest ticks and every 20 ticks, outside the tick's timed work. Off, it
// costs one test of a flag at each stage.
#pragma once

#include <cstddef>
#include <cstdint>

enum LHAPI_TICK_STAGE : uint8_t {
  LHAPI_TICK_SHIM = 0,     // the HAL shim's queued host messages
  LHAPI_TICK_INGRESS = 1,  // PCM from the board into the channels
  LHAPI_TICK_EGRESS = 2,   // PCM from the channels to the board
  LHAPI_TICK_THREADS = 3,  // the kernel's frame sync and the threads it runs
  LHAPI_TICK_NUM_STAGES = 4,
};

extern bool gLhapiTickProfileOn;

// Reads ORVOX_TICK_PROFILE and starts afresh.
void lhapiTickProfileInit();
void lhapiTickProfileReset();

// Called by the frame entry on the tick thread: at its start, at the end of each stage, at its
// end.
void lhapiTickProfileBegin();
void lhapiTickProfileStageEnd(LHAPI_TICK_STAGE stage);
void lhapiTickProfileEnd();
// Called by the kernel around one run of a thread's body, and by a VHD's thread around one
// service's block of a frame or the socket's host messages (`service` 0xFFFF).
void lhapiTickProfileThreadRan(const void* thread, int64_t ns);
void lhapiTickProfileServiceRan(uint16_t service, int64_t ns);
// Called by a VHD's thread body: which channel and direction the running thread serves.
void lhapiTickProfileVhdThread(int slot, unsigned type, bool ingress);
constexpr uint16_t LHAPI_TICK_HOST_MESSAGES = 0xFFFF;
// The monotonic clock in nanoseconds (cheap: no system call).
int64_t lhapiTickProfileNowNs();

// The profile as text (one summary line and one line per slow tick); the bytes written.
size_t lhapiTickProfileReport(char* text, size_t size);
