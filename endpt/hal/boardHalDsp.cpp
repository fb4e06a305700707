// DSP driver interface: channel queries.

#include <fcntl.h>

#include "boardHal.h"
#include "halDrv.h"
#include "voiceLog.h"

int boardHalGetNumEndpoints(void) {
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver - %d\n",
             __func__, fd);
    return 0;
  }
  const int count = halDrvIoctl(fd, DSPHAL_CMD_GETNUMEPT, 0);
  halDrvClose(fd);
  return count < 0 ? 0 : count;
}

int boardHalGetNumTypeEndpoints(dh_type type) {
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver - %d\n",
             __func__, fd);
    return 0;
  }
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
