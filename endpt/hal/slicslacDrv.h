// Requests, records and events of the line driver "/dev/slicslac" (SLIC, SLAC and DAA control,
// hook and ring sensing, line tests). The request type is 350, so the size field of each request
// is one larger than its argument record.
#pragma once

#include <cstdint>

#include "dsphalDrv.h"

inline constexpr const char* SLICSLAC_DEVICE = "/dev/slicslac";

inline constexpr uint32_t SS_CMD_INIT = 0x40055E00;
inline constexpr uint32_t SS_CMD_DEINIT = 0x00015E01;
inline constexpr uint32_t SS_CMD_SETLOGLEVEL = 0x40055E02;
inline constexpr uint32_t SS_CMD_GETDLP = 0x40055E03;
inline constexpr uint32_t SS_CMD_GETELP = 0x40055E04;
inline constexpr uint32_t SS_CMD_GETLOOPCURRENT = 0x40055E05;
inline constexpr uint32_t SS_CMD_GETSLICPARMS = 0xC0155E08;
inline constexpr uint32_t SS_CMD_ISOFFHOOK = 0x40055E09;
inline constexpr uint32_t SS_CMD_ISRINGACTIVE = 0x40055E0A;
inline constexpr uint32_t SS_CMD_MODECONTROL = 0x40095E0C;
inline constexpr uint32_t SS_CMD_PHREVCONTROL = 0x40095E0D;
inline constexpr uint32_t SS_CMD_PROCESSEVENTS = 0x40055E0E;
inline constexpr uint32_t SS_CMD_SETBOOSTEDLOOPCURRENT = 0x40095E0F;
inline constexpr uint32_t SS_CMD_SETFASTSLICMODE = 0x40095E10;
inline constexpr uint32_t SS_CMD_SETPOWERSOURCE = 0x40095E11;
inline constexpr uint32_t SS_CMD_SETRINGPARMS = 0x40195E12;
inline constexpr uint32_t SS_CMD_SETSLICENABLE = 0x40095E13;
inline constexpr uint32_t SS_CMD_APM_PULSEMETERING = 0x40195E15;
inline constexpr uint32_t SS_CMD_LINE_TEST = 0x40095E17;
inline constexpr uint32_t SS_CMD_TEST_LOAD = 0x40095E18;
// Requests the driver also knows and this system never sends (type and number only); the
// virtual board answers them as unknown requests.
inline constexpr uint32_t SS_CMD_GETOVERCURRENTSTATUS = 0x5E06;
inline constexpr uint32_t SS_CMD_GETRINGPARMS = 0x5E07;
inline constexpr uint32_t SS_CMD_LEDCONTROL = 0x5E0B;
inline constexpr uint32_t SS_CMD_APM_HPFCONTROL = 0x5E14;
inline constexpr uint32_t SS_CMD_APM_UPDATEHOOKSTATUS = 0x5E16;

struct SSARG_MODECONTROL {
  int32_t ept_id;
  int32_t mode;  // ss_slic_mode, or ss_daa_mode on an exchange-facing line
};
struct SSARG_PHREVCONTROL {
  int32_t ept_id;
  int32_t value;
};
struct SSARG_SETBOOSTEDLOOPCURRENT {
  int32_t ept_id;
  int32_t value;
};
struct SSARG_SETFASTSLICMODE {
  int32_t ept_id;
  int32_t value;
};
struct SSARG_SETSLICENABLE {
  int32_t ept_id;
  int32_t value;
};
struct SSARG_SETPOWERSOURCE {
  int32_t ept_id;
  int32_t source;
};
struct SSARG_RINGPARMS {
  int32_t ept_id;
  int32_t frequency;
  int32_t waveshape;
  int32_t voltage;
  int32_t offset;
  int32_t offset_cal;
};
struct SSARG_SLICPARMS {
  int32_t ept_id;
  int32_t phase_reversal;
  int32_t loop_current;
  int32_t power_source;
  int32_t slic_mode;
};
struct SSARG_APM_PULSEMETERING {
  int32_t ept_id;
  int32_t duration;
  int32_t period;
  int32_t reps;
  int32_t amplitude;
  int32_t frequency;
};
struct SSARG_LINE_TEST {
  int32_t ept_id;
  int32_t test_id;
};
struct SSARG_TEST_LOAD {
  int32_t ept_id;
  int32_t enable;
};

enum ss_slic_mode : int32_t {
  SLIC_MODE_LCFO = 0,
  SLIC_MODE_STANDBY = 1,
  SLIC_MODE_OHT = 2,
  SLIC_MODE_OHTR = 3,
  SLIC_MODE_TIPOPEN = 4,
  SLIC_MODE_RING = 5,
  SLIC_MODE_LCF = 6,
  SLIC_MODE_RLCF = 7,
  SLIC_MODE_RINGOPEN = 8,
  SLIC_MODE_WINK = 9,
  SLIC_MODE_NULL = 10,
};

enum ss_daa_mode : int32_t {
  DAA_MODE_ONHOOK = 0,
  DAA_MODE_ONHOOK_DATA = 1,
  DAA_MODE_OFFHOOK = 2,
  DAA_MODE_RING_VALID_ON = 3,
  DAA_MODE_RING_VALID_OFF = 4,
};

enum ss_daa_loop : int32_t {
  DAA_LOOP_OPEN = 0,
  DAA_LOOP_CLOSED = 1,
  DAA_LOOP_CLOSED_REVERSE = 2,
};

enum ssevtid : uint32_t {
  SS_EVT_NONE = 0,
  SS_EVT_LINE_TEST_RESULTS = 1,
};

enum ss_line_test_id : int32_t {
  TEST_VOLTAGE = 0,
  TEST_IMPEDANCE = 1,
  TEST_OFFHOOK = 2,
  TEST_REN = 3,
  TEST_SELF = 4,
};

struct ss_lt_volt {
  int32_t tac;  // tip to ground, AC mVrms
  int32_t tdc;  // tip to ground, DC mV
  int32_t rac;  // ring to ground, AC mVrms
  int32_t rdc;  // ring to ground, DC mV
};
struct ss_lt_imp {
  int32_t tg;  // tip to ground, ohms
  int32_t rg;  // ring to ground, ohms
  int32_t tr;  // tip to ring, ohms
};
struct ss_lt_self {
  int32_t loop;
  int32_t battery;
  int32_t ring;
  int32_t cap;
};

struct ss_lt_result {
  int32_t ept_id;
  int32_t test_id;  // ss_line_test_id
  int32_t ret;      // 0 = success
  union {
    ss_lt_volt volt;
    ss_lt_imp imp;
    ss_lt_self self;
    uint32_t u32;  // off-hook flag, or REN in milli-REN
    uint8_t raw[16];
  };
};

// One event as read from the driver: id, size of the body, then the body.
struct ss_event_header {
  uint32_t id;    // ssevtid
  uint32_t size;  // bytes of the body that follows
};

struct ss_lt_event {
  ss_event_header header;
  ss_lt_result result;
};

inline constexpr int SS_EVENT_MAX_READ = 2048;

static_assert(drvRequestSize(SS_CMD_MODECONTROL) == sizeof(SSARG_MODECONTROL) + 1);
static_assert(drvRequestSize(SS_CMD_GETSLICPARMS) == sizeof(SSARG_SLICPARMS) + 1);
static_assert(drvRequestSize(SS_CMD_SETRINGPARMS) == sizeof(SSARG_RINGPARMS) + 1);
static_assert(drvRequestSize(SS_CMD_APM_PULSEMETERING) == sizeof(SSARG_APM_PULSEMETERING) + 1);
static_assert(drvRequestSize(SS_CMD_LINE_TEST) == sizeof(SSARG_LINE_TEST) + 1);
static_assert(sizeof(ss_lt_result) == 28);
