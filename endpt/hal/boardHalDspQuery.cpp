// DSP driver queries that open their own short-lived descriptors: callable from any thread and
// before the driver is opened.

#include <fcntl.h>

#include <cerrno>

#include "boardHal.h"
#include "halDrv.h"
#include "voiceLog.h"

namespace {

// A fresh descriptor of the DSP driver, or -1 (logged).
int openFresh(const char* function) {
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver - %d\n",
             function, fd);
  }
  return fd;
}

}  // namespace

int boardHalGetNumEndpoints(void) {
  const int fd = openFresh(__func__);
  if (fd < 0) return 0;
  const int count = halDrvIoctl(fd, DSPHAL_CMD_GETNUMEPT, 0);
  halDrvClose(fd);
  return count < 0 ? 0 : count;
}

int boardHalGetNumTypeEndpoints(dh_type type) {
  const int fd = openFresh(__func__);
  if (fd < 0) return 0;
  int matching = 0;
  const int count = halDrvIoctl(fd, DSPHAL_CMD_GETNUMEPT, 0);
  for (int id = 0; id < count; ++id) {
    dsphal_chancfg cfg{};
    cfg.id = id;
    if (halDrvIoctl(fd, DSPHAL_CMD_GETCHANCFG, reinterpret_cast<unsigned long>(&cfg)) == 0 &&
        cfg.type == type) {
      ++matching;
    }
  }
  halDrvClose(fd);
  return matching;
}

void boardHalDsphalSetLogLevel(int level) {
  const int fd = openFresh(__func__);
  if (fd < 0) return;
  if (halDrvIoctl(fd, DSPHAL_CMD_SETLOGLEVEL, static_cast<unsigned long>(level)) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: error during ioctl - %d\n", __func__,
             errno);
  }
  halDrvClose(fd);
}

void boardHalSetVoiceIdle(int idle) {
  const int fd = openFresh(__func__);
  if (fd < 0) return;
  if (halDrvIoctl(fd, DSPHAL_CMD_SETVOICEIDLE, idle ? 1 : 0) < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: error during ioctl - %d\n", __func__,
             errno);
  }
  halDrvClose(fd);
}
