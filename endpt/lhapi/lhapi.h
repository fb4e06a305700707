// Host adaptation layer of the DSP framework: the lock, semaphores, assertion hook, error printer,
// time and random sources, and the per-tick frame entry. The framework and every DSP service reach
// the host only through these functions.
#pragma once

#include <cstdarg>
#include <cstdint>

// Opaque state returned by the lock and handed back to the unlock (always none here).
using HSZBIOSSTATE = void*;
using LHAPI_FNCP_LOCK = HSZBIOSSTATE (*)();
using LHAPI_FNCP_UNLOCK = void (*)(HSZBIOSSTATE);

extern int gIsQuellixDistributed;
extern LHAPI_FNCP_LOCK LHAPI_gpFncLock;
extern LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlock;
extern LHAPI_FNCP_LOCK LHAPI_gpFncLockSMP;
extern LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlockSMP;

// ---- set-up ----
void lhapiInit(int distributed);
void lhapiDeinit();
int lhapiIsQuellixDistributed();
void lhapiCritSecInit();
void lhapiCritSecDeinit();
void lhapiThreadDispatchInit();
void lhapiThreadDispatchDeinit();

// ---- the framework lock (one recursive mutex) ----
HSZBIOSSTATE CritSectEnter();
void CritSectLeave(HSZBIOSSTATE state);

// Scope guard over the framework lock pair: every path that takes the lock releases it once.
class LhapiLockGuard {
 public:
  LhapiLockGuard() : state_(LHAPI_gpFncLock()) {}
  ~LhapiLockGuard() { LHAPI_gpFncUnlock(state_); }
  LhapiLockGuard(const LhapiLockGuard&) = delete;
  LhapiLockGuard& operator=(const LhapiLockGuard&) = delete;

 private:
  HSZBIOSSTATE state_;
};

// ---- semaphores ----
// A semaphore counts at most one pending give. A timed take reports whether it was given or timed
// out, and a reset drains a give that nobody took, so a late answer to an abandoned transaction
// never satisfies the next one.
struct LHAPI_SEM;
using LHAPI_SEMID = LHAPI_SEM*;
constexpr unsigned LHAPI_MAX_SEMAPHORES = 50;
extern unsigned lhapi_gSemCount;

int lhapiOsSemCreate(LHAPI_SEMID* out);          // 0, or -1 when all 50 are handed out
int lhapiOsSemGive(LHAPI_SEMID sem);             // 0, or non-zero for a missing semaphore
int lhapiOsSemTake(LHAPI_SEMID sem, uint32_t timeoutMs);  // 0 when taken in time, else non-zero
int lhapiOsSemReset(LHAPI_SEMID sem);            // 0; drops a pending give
void lhapiOsSemDestroy();

// ---- logging ----
void lhapiAssertHandlerVerbose(const char* file, int line);
void lhapiAssertHandler(const char* file, int line);
void lhapiErrorPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The name of the calling source file without its directories, for the assertion hook.
constexpr const char* lhapiBaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/') base = p + 1;
  }
  return base;
}

// A consistency check: logs through the assertion hook when the condition fails and carries on.
#define LHAPI_ASSERT(cond)                                               \
  do {                                                                   \
    if (!(cond)) lhapiAssertHandlerVerbose(lhapiBaseName(__FILE__), __LINE__); \
  } while (0)
#define LHAPI_ASSERT_FAIL() lhapiAssertHandlerVerbose(lhapiBaseName(__FILE__), __LINE__)

// ---- time and random numbers ----
uint32_t net_random();
uint16_t lhapiRtpRand16();
int lhapiRtpTimeGet(uint32_t* seconds, uint32_t* microseconds);
void lhapiRtpTimeSet(uint32_t seconds, uint32_t microseconds);
int lhapiRtpNtpTimeGet(uint32_t* seconds, uint32_t* microseconds);

// ---- hooks that do nothing in this system ----
void lhapiDprStatsInit();
uint32_t lhapiDprStatsGet();
uint32_t lhapiDprStatsDiff(uint32_t first, uint32_t second);
void lhapiDprStatsPause();
void lhapiDprStatsUnpause();
void lhapiDprStatsSetPrescaler(uint32_t prescaler);
int lhapiDprExclusiveExecStart();
void lhapiDprExclusiveExecEnd();
void lhapiIcpCalibrate();
void lhapiKnlOverrunCondition(int overrun);

// ---- tick entry ----
extern unsigned gKnlFrameSyncCount;
void lhapiKNL_RunReadyThreads();
void lhapiProcessEntrySync();
void lhapi_ProcessEntrySync(void* argument);
void lhapiProcessEntryAsync();
void lhapiKnlScheduleReadyThreads();
void lhapiThreadDispatchHostOnly();

// PCM exchange of the board hardware layer, called once per tick by the frame entry.
void lhapiProcessIngress();
void lhapiProcessEgress();
