// Costs on the paths the DSP tick and the dispatcher take: a log message filtered by its
// level, a record through a circular buffer, a light-semaphore give and take.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "memCircBuf.h"
#include "voiceLog.h"
#include "vosSem.h"

namespace {

void BM_FilteredLogMessage(benchmark::State &state) {
  int counter = 0;
  for (auto _ : state) {
    voiceLog(VOICE_MODULE_LHAPI, VOICE_LOGLEVEL_DEBUG, "frame %d", ++counter);
  }
}
BENCHMARK(BM_FilteredLogMessage);

void BM_CircularBufferRecord(benchmark::State &state) {
  memCircBufInit();
  MEMCIRCBUFDRV handle;
  memCircBufAlloc(&handle, 1024);
  uint8_t record[32] = {};
  for (auto _ : state) {
    memCircBufWrite(handle, record, sizeof record);
    memCircBufRead(handle, record, sizeof record);
    benchmark::DoNotOptimize(record);
  }
  memCircBufDeinit();
}
BENCHMARK(BM_CircularBufferRecord);

void BM_SemLiteGiveTake(benchmark::State &state) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("bench", 0, 1, &sem);
  for (auto _ : state) {
    vosSemLiteGive(&sem);
    vosSemLiteTake(&sem);
  }
  vosSemLiteDestroy(&sem);
}
BENCHMARK(BM_SemLiteGiveTake);

}  // namespace

BENCHMARK_MAIN();
