// Line driver interface: SLIC/DAA requests keyed by endpoint number on the module's one
// descriptor, and line-test results read from it on the "voice-events" task.

#include <fcntl.h>
#include <sys/epoll.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "boardHal.h"
#include "halDrv.h"
#include "voiceLog.h"

namespace {

std::atomic<int> ss_fp{-1};

void logIoctlError(const char* function) {
  voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: error during ioctl - %s\n", function,
           std::strerror(errno));
}

// A request whose argument is a value; failures are logged with the caller's name.
int valueRequest(uint32_t request, unsigned long value, const char* function) {
  const int rc = halDrvIoctl(ss_fp.load(), request, value);
  if (rc < 0) logIoctlError(function);
  return rc;
}

template <typename T>
int recordRequest(uint32_t request, T* record, const char* function, bool log = true) {
  const int rc = halDrvIoctl(ss_fp.load(), request, reinterpret_cast<unsigned long>(record));
  if (rc < 0 && log) logIoctlError(function);
  return rc;
}

bool lossAvailable(int ept) {
  return boardHalIsType(ept, DSPHAL_TYPE_FXS) || boardHalIsType(ept, DSPHAL_TYPE_FXO);
}

void printResult(const BOARD_HAL_LT_EVENT& r) {
  auto always = [](const char* format, auto... args) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ALWAYS, format, args...);
  };
  always("Line Test Results for endpoint %d:\n", r.ept_id);
  always("=====================================\n");
  switch (r.test_id) {
    case TEST_VOLTAGE:
      always("   Tip-ground voltage AC (mVrms) : %d\n", r.volt.tac);
      always("   Tip-ground voltage DC (mV)    : %d\n", r.volt.tdc);
      always("   Ring-ground voltage AC (mVrms): %d\n", r.volt.rac);
      always("   Ring-ground voltage DC (mV)   : %d\n\n", r.volt.rdc);
      break;
    case TEST_IMPEDANCE:
      always("   Tip-ground impedance (ohms) : %d\n", r.imp.tg);
      always("   Ring-ground impedance (ohms): %d\n", r.imp.rg);
      always("   Tip-Ring impedance (ohms)   : %d\n\n", r.imp.tr);
      break;
    case TEST_OFFHOOK:
      always("   Offhook: %s\n\n", r.u32 ? "Yes" : "No");
      break;
    case TEST_REN:
      always("   REN (mren): %d\n\n", static_cast<int>(r.u32));
      break;
    default:
      always("Invalid or unimplemented test. No results.\n\n");
      break;
  }
  always("=====================================\n");
}

// Reads one record from the line driver and hands a good line-test result to the library.
void bhHandleSSEvent(int fd, uint32_t events) {
  if (!(events & EPOLLIN)) return;
  auto buffer = std::make_unique<uint8_t[]>(SS_EVENT_MAX_READ);
  const ssize_t n = halDrvRead(fd, buffer.get(), SS_EVENT_MAX_READ);
  if (n <= 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_WARNING, "%s: Unable to read data\n", __func__);
    return;
  }
  ss_event_header header{};
  if (static_cast<size_t>(n) < sizeof(header)) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_WARNING, "%s: Unable to read data\n", __func__);
    return;
  }
  std::memcpy(&header, buffer.get(), sizeof(header));
  if (header.id != SS_EVT_LINE_TEST_RESULTS) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: Unknown event %d\n", __func__,
             static_cast<int>(header.id));
    return;
  }
  // A record shorter than a result carries none: never read past what the driver gave.
  if (static_cast<size_t>(n) < sizeof(header) + sizeof(BOARD_HAL_LT_EVENT)) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_WARNING, "%s: Unable to read data\n", __func__);
    return;
  }
  BOARD_HAL_LT_EVENT result{};
  std::memcpy(&result, buffer.get() + sizeof(header), sizeof(result));
  if (result.ret != 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: ept %d, line test %d returned %d\n",
             "bhSSLTResults", result.ept_id, result.test_id, result.ret);
    return;
  }
  printResult(result);
  BoardHalSsEventCallback(&result);
}

}  // namespace

int boardHalSsInit(VRG_COUNTRY country) {
  if (ss_fp.load() >= 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: driver already opened\n", __func__);
    return -1;
  }
  const int fd = halDrvOpen(SLICSLAC_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: unable to open driver - %d\n",
             __func__, fd);
    return -1;
  }
  ss_fp = fd;
  bhEventPoll(fd, EPOLLIN, bhHandleSSEvent);
  return valueRequest(SS_CMD_INIT, static_cast<unsigned long>(country), __func__);
}

int boardHalSsDeinit(void) {
  const int fd = ss_fp.load();
  if (fd >= 0) {
    valueRequest(SS_CMD_DEINIT, 0, __func__);
    ss_fp = -1;
    halDrvClose(fd);
  }
  return 0;
}

void boardHalSsSetLogLevel(int level) {
  const int fd = halDrvOpen(SLICSLAC_DEVICE, O_RDWR);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR,
             "%s: error unable to open driver (%d) - %d\n", __func__, fd, errno);
    return;
  }
  if (halDrvIoctl(fd, SS_CMD_SETLOGLEVEL, static_cast<unsigned long>(level)) < 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: error during ioctl - %d\n",
             __func__, errno);
  }
  halDrvClose(fd);
}

int boardHalSlicEnable(int ept, int enable) {
  SSARG_SETSLICENABLE arg{ept, enable};
  return recordRequest(SS_CMD_SETSLICENABLE, &arg, __func__, false);
}

int boardHalSetFastSlicMode(int ept, int value) {
  SSARG_SETFASTSLICMODE arg{ept, value};
  return recordRequest(SS_CMD_SETFASTSLICMODE, &arg, __func__, false);
}

int boardHalSlicLineTest(int ept, int testId) {
  SSARG_LINE_TEST arg{ept, testId};
  return recordRequest(SS_CMD_LINE_TEST, &arg, __func__, false);
}

int boardHalGetDlp(int ept) {
  if (!lossAvailable(ept)) return 0;
  return valueRequest(SS_CMD_GETDLP, static_cast<unsigned long>(ept), __func__);
}

int boardHalGetElp(int ept) {
  if (!lossAvailable(ept)) return 0;
  return valueRequest(SS_CMD_GETELP, static_cast<unsigned long>(ept), __func__);
}

int boardHalSetRingParms(int ept, int freq, int wave, int vol, int offset, int offsetCal) {
  SSARG_RINGPARMS arg{ept, freq, wave, vol, offset, offsetCal};
  return recordRequest(SS_CMD_SETRINGPARMS, &arg, __func__);
}

int boardHalSetSlicMode(int ept, int mode) {
  SSARG_MODECONTROL arg{ept, mode};
  return recordRequest(SS_CMD_MODECONTROL, &arg, __func__);
}

int boardHalSetSlicPhaseRev(int ept, int phrev) {
  SSARG_PHREVCONTROL arg{ept, phrev};
  return recordRequest(SS_CMD_PHREVCONTROL, &arg, __func__);
}

int boardHalSetSlicBoostedLoopCurrent(int ept, int value) {
  SSARG_SETBOOSTEDLOOPCURRENT arg{ept, value};
  return recordRequest(SS_CMD_SETBOOSTEDLOOPCURRENT, &arg, __func__);
}

int boardHalSetSlicPowerSource(int ept, int value) {
  SSARG_SETPOWERSOURCE arg{ept, value};
  return recordRequest(SS_CMD_SETPOWERSOURCE, &arg, __func__);
}

int boardHalSendPulseSignal(int ept, int dur, int per, int rep, int amp, int freq) {
  SSARG_APM_PULSEMETERING arg{ept, dur, per, rep, amp, freq};
  return recordRequest(SS_CMD_APM_PULSEMETERING, &arg, __func__);
}

int boardHalProcessSlicEvents(int ept) {
  return valueRequest(SS_CMD_PROCESSEVENTS, static_cast<unsigned long>(ept), __func__);
}

int boardHalSetAnalogLoopback(int ept, int enabled) {
  SSARG_TEST_LOAD arg{ept, enabled};
  recordRequest(SS_CMD_TEST_LOAD, &arg, __func__);
  return 0;
}

int boardHalIsOffhook(int ept) {
  return valueRequest(SS_CMD_ISOFFHOOK, static_cast<unsigned long>(ept), __func__) > 0 ? 1 : 0;
}

int boardHalGetLoopCurrent(int ept) {
  return valueRequest(SS_CMD_GETLOOPCURRENT, static_cast<unsigned long>(ept), __func__);
}

int boardHalIsRingActive(int ept) {
  return valueRequest(SS_CMD_ISRINGACTIVE, static_cast<unsigned long>(ept), __func__);
}

int boardHalGetSlicParms(int ept, int* phrev, int* lc, int* ps, int* mode) {
  SSARG_SLICPARMS arg{};
  arg.ept_id = ept;
  const int rc = recordRequest(SS_CMD_GETSLICPARMS, &arg, __func__);
  if (rc < 0) return rc;
  if (phrev) *phrev = arg.phase_reversal;
  if (lc) *lc = arg.loop_current;
  if (ps) *ps = arg.power_source;
  if (mode) *mode = arg.slic_mode;
  return rc;
}

int boardHalLedControl(int, int) { return 0; }
int boardHalSlicHistoryRate(int) { return 0; }
int boardHalSlicHistorySize(int) { return 1; }
