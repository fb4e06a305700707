// DSP driver interface: the driver and its channels, the "HTSK" tick task and the per-tick PCM
// exchange between each driver channel and the DSP framework's hardware shim.

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "boardHal.h"
#include "envFlag.h"
#include "halDrv.h"
#include "voiceLog.h"
#include "vosEvent.h"
#include "vosTask.h"
#include "vosTime.h"

namespace {

constexpr int kMaxFrameBytes = 160;  // 5 ms at 16 kHz
constexpr int kMaxFrameSamples = kMaxFrameBytes / 2;

struct media_chan {
  std::mutex lock;
  int fp = -1;  // this channel's own descriptor
  int vhdhdl = 0;
  dsphal_chancfg cfg{};
  int buffer_size = 0;  // bytes per 5 ms frame
};

media_chan gMediaChans[BOARD_HAL_MAX_CHANNELS];
std::atomic<int> dsphal_fp{-1};
std::atomic<int> num_chans{0};
std::mutex dsphalModuleLock;
// Held by each tick's pass over the channels and by the driver's stop, which runs while the tick
// task still does: a channel is never closed under a frame being moved through it.
std::mutex framePassLock;

// The tick path works in these two buffers: nothing is allocated per tick.
int16_t gIngressFrame[kMaxFrameSamples];
int16_t gEgressFrame[kMaxFrameSamples];

VOS_TASK_ID dspTaskId{};
bool dspTaskCreated = false;
std::atomic<bool> haltDsp{false};
std::atomic<bool> stopDsp{false};
constexpr int kStopWaitMs = 1000;  // after this, a task that does not end is cancelled
std::atomic<BOARD_HAL_DSP_TASK_FUNC> dspTaskFunc{nullptr};

bool realTimeWanted() { return !envFlagOn("ORVOX_NO_RT"); }

void closeChannel(int id) {
  media_chan& ch = gMediaChans[id];
  std::lock_guard<std::mutex> guard(ch.lock);
  if (ch.fp >= 0) {
    halDrvClose(ch.fp);
    boardHalShimCfgDevice(static_cast<unsigned>(id), 0, 0);
  }
  ch.fp = -1;
  ch.buffer_size = 0;
  ch.cfg = dsphal_chancfg{};
}

// Opens channel `id`: its descriptor, configuration and shim device. False (logged) on failure.
bool openChannel(int id) {
  media_chan& ch = gMediaChans[id];
  std::lock_guard<std::mutex> guard(ch.lock);
  ch.fp = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  if (ch.fp < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver for channel %d\n",
             "boardHalDspHalInit", id);
    return false;
  }
  ch.cfg = dsphal_chancfg{};
  ch.cfg.id = id;
  if (halDrvIoctl(ch.fp, DSPHAL_CMD_GETCHANCFG, reinterpret_cast<unsigned long>(&ch.cfg)) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to get media cfg for channel %d\n",
             "boardHalDspHalInit", id);
    return false;
  }
  const bool wideband = ch.cfg.rate == DSPHAL_RATE_16KHZ;
  ch.buffer_size = wideband ? 160 : 80;
  if (halDrvIoctl(ch.fp, DSPHAL_CMD_INIT, static_cast<unsigned long>(id)) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to initialize channel %d\n",
             "boardHalDspHalInit", id);
    return false;
  }
  if (boardHalShimCfgDevice(static_cast<unsigned>(id), 1, wideband ? 1 : 0) != 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR,
             "%s: Unable to initialize halshim for channel %d\n", "boardHalDspHalInit", id);
    return false;
  }
  return true;
}

// Opens the driver and every channel; undoes everything on failure.
bool openDriver() {
  std::lock_guard<std::mutex> guard(dsphalModuleLock);
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver - %d\n",
             "boardHalDspHalInit", fd);
    return false;
  }
  bool ok = halDrvIoctl(fd, DSPHAL_CMD_SETDSPRATE, 5) >= 0;
  if (!ok) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to set DSP rate\n",
             "boardHalDspHalInit");
  }
  int count = ok ? halDrvIoctl(fd, DSPHAL_CMD_GETNUMEPT, 0) : 0;
  // A driver reporting more channels than the board layer can hold keeps to the first eight.
  if (count < 0) count = 0;
  if (count > BOARD_HAL_MAX_CHANNELS) count = BOARD_HAL_MAX_CHANNELS;
  if (ok) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_DEBUG, "%s: Configuring %d endpoints\n",
             "boardHalDspHalInit", count);
  }
  int opened = 0;
  while (ok && opened < count) {
    if (!openChannel(opened)) {
      closeChannel(opened);
      ok = false;
      break;
    }
    ++opened;
  }
  if (!ok) {
    while (opened-- > 0) closeChannel(opened);
    halDrvClose(fd);
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: Failed\n", "boardHalDspHalInit");
    return false;
  }
  num_chans = count;
  dsphal_fp = fd;
  return true;
}

// "HTSK": waits for each tick and runs the registered frame handler.
void dspTaskMain(VOS_TASK_ARG) {
  if (realTimeWanted()) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    const int rc = pthread_setaffinity_np(pthread_self(), sizeof(cpus), &cpus);
    if (rc != 0) {
      voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: Unable to set affinity - %s\n",
               "dsp_task_fixups", std::strerror(rc));
    }
  }
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_DEBUG, "%s: Enter\n", "dspTaskMain");
  while (!stopDsp.load()) {
    // The wait may return at once (fast ticks): a cancellation must still find a point.
    pthread_testcancel();
    if (boardHalDspHalWaitTick() == 0) {
      BOARD_HAL_DSP_TASK_FUNC handler = dspTaskFunc.load();
      if (!haltDsp.load() && handler != nullptr && !stopDsp.load()) handler();
    } else if (!stopDsp.load()) {
      vosSleep(100);
    }
  }
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_DEBUG, "%s: Exit\n", "dspTaskMain");
}

void channelRequest(uint32_t request, int ept, int enable, const char* function) {
  dsphal_cmdenable cmd{ept, enable};
  const int fd = dsphal_fp.load();
  if (halDrvIoctl(fd, request, reinterpret_cast<unsigned long>(&cmd)) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: error during ioctl - %s\n", function,
             std::strerror(errno));
  }
}

}  // namespace

int boardHalDspHalInit(void) {
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "%s: Starting...\n", __func__);
  if (dsphal_fp.load() >= 0) return 0;
  if (!openDriver()) return -1;
  const int fd = dsphal_fp.load();
  if (halDrvIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: Unable to enable DSP tick!\n", __func__);
  }
  if (halDrvIoctl(fd, DSPHAL_CMD_SETVOICEIDLE, 0) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: Unable to set voice to  non-idle!\n",
             __func__);
  }
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "%s: Finished\n", __func__);
  return 0;
}

void boardHalDspHalDeinit(void) {
  {
    std::lock_guard<std::mutex> frames(framePassLock);
    num_chans = 0;
    for (int id = 0; id < BOARD_HAL_MAX_CHANNELS; ++id) closeChannel(id);
  }
  std::lock_guard<std::mutex> guard(dsphalModuleLock);
  const int fd = dsphal_fp.exchange(-1);
  if (fd >= 0) halDrvClose(fd);
}

int boardHalDspHalWaitTick(void) {
  int rc;
  do {
    rc = halDrvIoctl(dsphal_fp.load(), DSPHAL_CMD_WAITTICK, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: ioctl failed - %s\n", __func__,
             std::strerror(errno));
  }
  return rc;
}

int boardHalIsType(int ept, dh_type type) {
  if (ept < 0 || ept >= BOARD_HAL_MAX_CHANNELS) return 0;
  media_chan& ch = gMediaChans[ept];
  std::lock_guard<std::mutex> guard(ch.lock);
  return ch.fp >= 0 && ch.cfg.type == type ? 1 : 0;
}

int boardHalGetChannelRate(int ept) {
  if (ept < 0 || ept >= BOARD_HAL_MAX_CHANNELS) return 0;
  media_chan& ch = gMediaChans[ept];
  std::lock_guard<std::mutex> guard(ch.lock);
  return ch.cfg.rate == DSPHAL_RATE_16KHZ ? 16 : 8;
}

void boardHalSetClearChannel(int ept, int enabled) {
  channelRequest(DSPHAL_CMD_SETCLEARCHAN, ept, enabled, __func__);
}

void boardHalChannelSetEnable(int ept, int enable) {
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "%s: %sabling ept %d\n", __func__,
           enable ? "En" : "Dis", ept);
  channelRequest(DSPHAL_CMD_ENABLE, ept, enable, __func__);
}

int boardHalDspInit(void) {
  if (dspTaskCreated) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: DSP task is already initialized.\n",
             __func__);
    return -1;
  }
  dspTaskFunc = nullptr;
  stopDsp = false;
  const VOS_TASK_CLASS highest = static_cast<VOS_TASK_CLASS>(sched_get_priority_max(SCHED_FIFO));
  if (vosTaskCreate("HTSK", 8192, highest, dspTaskMain, nullptr, &dspTaskId) != VOS_STATUS_OK) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to create the DSP task\n",
             __func__);
    return -1;
  }
  dspTaskCreated = true;
  haltDsp = false;
  return 0;
}

void boardHalDspDeinit(void) {
  if (!dspTaskCreated) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_NOTICE, "%s: DSP task is not initialized.\n",
             __func__);
    return;
  }
  // The task ends at its next tick, or when its wait is woken by the driver's close; one that
  // stays blocked (a driver that never ticks again) is cancelled.
  stopDsp = true;
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kStopWaitMs / 1000;
  if (pthread_timedjoin_np(dspTaskId, nullptr, &deadline) == 0) {
    vosEventUnRegisterTask(dspTaskId);
  } else {
    vosTaskDestroy(dspTaskId);
  }
  dspTaskCreated = false;
  dspTaskFunc = nullptr;
}

void boardHalDspTaskHalt(void) { haltDsp = true; }
void boardHalDspTaskResume(void) { haltDsp = false; }
void boardHalDspRegisterCallback(BOARD_HAL_DSP_TASK_FUNC function) { dspTaskFunc = function; }

void lhapiProcessIngress() {
  std::lock_guard<std::mutex> frames(framePassLock);
  const int channels = num_chans.load();
  for (int id = 0; id < channels; ++id) {
    media_chan& ch = gMediaChans[id];
    std::memset(gIngressFrame, 0, sizeof(gIngressFrame));
    {
      std::lock_guard<std::mutex> guard(ch.lock);
      auto* bytes = reinterpret_cast<uint8_t*>(gIngressFrame);
      int got = 0;
      while (ch.fp >= 0 && got < ch.buffer_size) {
        const ssize_t n = halDrvRead(ch.fp, bytes + got, static_cast<size_t>(ch.buffer_size - got));
        if (n < 0) {
          voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: error during read - %s\n",
                   __func__, std::strerror(errno));
        }
        if (n <= 0) break;
        got += static_cast<int>(n);
      }
    }
    const int samples = ch.buffer_size / 2;
    dspcap_ingress(id, gIngressFrame, samples);
    g168_sin(id, gIngressFrame, samples);
    g168_rin(id, gIngressFrame, samples);
    boardHalShimIngress(gIngressFrame, static_cast<unsigned>(id));
  }
}

void lhapiProcessEgress() {
  std::lock_guard<std::mutex> frames(framePassLock);
  const int channels = num_chans.load();
  for (int id = 0; id < channels; ++id) {
    media_chan& ch = gMediaChans[id];
    boardHalShimEgress(gEgressFrame, static_cast<unsigned>(id));
    const int samples = ch.buffer_size / 2;
    g168_sout(id, gEgressFrame, samples);
    g168_rout(id, gEgressFrame, samples);
    dspcap_egress(id, gEgressFrame, samples);
    std::lock_guard<std::mutex> guard(ch.lock);
    const auto* bytes = reinterpret_cast<const uint8_t*>(gEgressFrame);
    int written = 0;
    // A short write is finished only while more than a quarter of the frame is left.
    while (ch.fp >= 0 && ch.buffer_size - written > ch.buffer_size / 4) {
      const ssize_t n = halDrvWrite(ch.fp, bytes + written, static_cast<size_t>(ch.buffer_size - written));
      if (n < 0) {
        voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: error during write - %s\n",
                 __func__, std::strerror(errno));
      }
      if (n <= 0) break;
      written += static_cast<int>(n);
    }
  }
}

void g168_rout(int, int16_t*, int) {}
void g168_rin(int, int16_t*, int) {}
void g168_sout(int, int16_t*, int) {}
void g168_sin(int, int16_t*, int) {}
void dspcap_ingress(int, int16_t*, int) {}
void dspcap_egress(int, int16_t*, int) {}
