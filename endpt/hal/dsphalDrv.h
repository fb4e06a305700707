// Requests and records of the voice DSP driver "/dev/dsphal". The driver's major number 350 is
// the request type, so the size field of each request is one larger than its argument record.
#pragma once

#include <cstdint>

inline constexpr const char* DSPHAL_DEVICE = "/dev/dsphal";

inline constexpr uint32_t DSPHAL_CMD_INIT = 0x40055E00;
inline constexpr uint32_t DSPHAL_CMD_ENABLE = 0xC0095E01;
inline constexpr uint32_t DSPHAL_CMD_SETLOGLEVEL = 0x40055E02;
inline constexpr uint32_t DSPHAL_CMD_GETNUMEPT = 0x00015E03;
inline constexpr uint32_t DSPHAL_CMD_GETCHANCFG = 0xC0155E04;
inline constexpr uint32_t DSPHAL_CMD_SETCLEARCHAN = 0x40095E05;
inline constexpr uint32_t DSPHAL_CMD_SETDSPRATE = 0x40055E06;
inline constexpr uint32_t DSPHAL_CMD_WAITTICK = 0x00015E07;
inline constexpr uint32_t DSPHAL_CMD_SETTICKENABLE = 0x40055E08;
inline constexpr uint32_t DSPHAL_CMD_SETDECTSTACKSTATUS = 0x40055E09;
inline constexpr uint32_t DSPHAL_CMD_SETVOICEIDLE = 0x40055E0A;

enum dh_type : int32_t {
  DSPHAL_TYPE_NONE = 0,
  DSPHAL_TYPE_FXS = 1,
  DSPHAL_TYPE_FXO = 2,
  DSPHAL_TYPE_DECT = 3,
  DSPHAL_TYPE_ALSA = 4,
};

enum dh_sample_rate : int32_t {
  DSPHAL_RATE_8KHZ = 0,
  DSPHAL_RATE_16KHZ = 1,
};

struct dsphal_cmdenable {
  int32_t id;
  int32_t enable;
};

struct dsphal_chancfg {
  int32_t id;
  int32_t type;  // dh_type
  int32_t interface;
  int32_t rate;  // dh_sample_rate
  int32_t enabled;
};

// The size field (bits 16-29) of a request is one larger than its argument record.
constexpr uint32_t drvRequestSize(uint32_t request) { return (request >> 16) & 0x3FFF; }
static_assert(drvRequestSize(DSPHAL_CMD_ENABLE) == sizeof(dsphal_cmdenable) + 1);
static_assert(drvRequestSize(DSPHAL_CMD_GETCHANCFG) == sizeof(dsphal_chancfg) + 1);
