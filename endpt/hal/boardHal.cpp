// Start and stop of the board layer in a fixed order, and the audio capture task, which waits
// on nothing in this system (no capture descriptor is ever registered) and only stays idle.

#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>

#include "boardHal.h"
#include "voiceLog.h"
#include "vosEvent.h"
#include "vosTask.h"
#include "vosTime.h"

namespace {

struct halcap_cfg;

struct halcap_in {
  int fd;
  halcap_cfg* parent;
};

struct halcap_cfg {
  uint32_t enabled;  // bit 0 egress, bit 1 ingress capture
  int line_id;
  halcap_in egress;
  halcap_in ingress;
};

halcap_cfg gHalcapCfg[BOARD_HAL_MAX_CHANNELS];
std::atomic<bool> capStop{false};
VOS_TASK_ID capTaskId{};
bool capTaskCreated = false;

void halcap_main(VOS_TASK_ARG) {
  const int epfd = epoll_create1(EPOLL_CLOEXEC);
  if (epfd < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to create epoll fd\n",
             "halcap_main");
    return;
  }
  epoll_event events[10];
  while (!capStop.load()) {
    const int n = epoll_wait(epfd, events, 10, 100);
    if (n < 0) vosSleep(100);
  }
  ::close(epfd);
}

}  // namespace

int boardHalCapInit(void) {
  capStop = false;
  if (vosTaskCreate("cap", 8192, VOS_TASK_CLASS_MED, halcap_main, nullptr, &capTaskId) !=
      VOS_STATUS_OK) {
    return -1;
  }
  capTaskCreated = true;
  for (int i = 0; i < BOARD_HAL_MAX_CHANNELS; ++i) {
    gHalcapCfg[i] = halcap_cfg{0, i, {-1, &gHalcapCfg[i]}, {-1, &gHalcapCfg[i]}};
  }
  return 0;
}

// The library's shutdown and the daemon's line shutdown both stop the board: stopping what is
// already stopped is no error.
void boardHalCapDeinit(void) {
  capStop = true;
  if (!capTaskCreated) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_NOTICE, "%s: Hal cap event task is not initialized.\n",
             __func__);
    return;
  }
  vosTaskWaitForDone(capTaskId);
  vosEventUnRegisterTask(capTaskId);
  capTaskCreated = false;
}

void halcap_write(int, int, const void*, int, int, uint32_t) {}

void halcap_log(VOICE_MODULE, VOICE_LOGLEVEL, const struct timeval*, const char*, va_list) {}

int boardHalInit(VRG_COUNTRY country) {
  if (boardHalEventInit() != 0) return -1;
  if (boardHalDspHalInit() != 0) return -2;
  if (boardHalDspInit() != 0) return -3;
  if (boardHalSsInit(country) < 0) return -4;
  if (boardHalCapInit() != 0) return -5;
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_NOTICE, "%s: Initialization complete\n", __func__);
  return 0;
}

int boardHalDeinit(void) {
  boardHalEventDeinit();
  boardHalCapDeinit();
  boardHalSsDeinit();
  boardHalDspHalDeinit();
  boardHalDspDeinit();
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_NOTICE, "%s: De-initialization complete\n", __func__);
  return 0;
}

int boardHalIsrEnable(void) {
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: not supported.\n", __func__);
  return 0;
}

int boardHalIsrDisable(void) {
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: not supported.\n", __func__);
  return 0;
}

int boardHalIntCountGet(void) {
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: not supported.\n", __func__);
  return 0;
}
