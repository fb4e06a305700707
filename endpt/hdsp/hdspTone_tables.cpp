// Tables of tones and digits.
#include "hdspTone.h"

namespace {

constexpr uint16_t kFull = HDSP_TONE_FULL_AMPLITUDE;

constexpr HAPI_PTE_CP_PROFILE dtasOnHook() {
  HAPI_PTE_CP_PROFILE p{};
  p.numFreqGroups = 1;
  p.freqGrp[0] = {16, {2130, 2750, 0, 0}, {kFull, kFull, 0, 0}, 0, HAPI_PTE_MKFREQGRP_INFO(2, 1),
                  {{0x141, 0, 0x3, 100}, {}}};
  return p;
}

constexpr HAPI_PTE_CP_PROFILE dtasOffHook() {
  HAPI_PTE_CP_PROFILE p{};
  p.numFreqGroups = 2;
  p.freqGrp[0] = {16, {2130, 2750, 0, 0}, {kFull, kFull, 0, 0}, 0, HAPI_PTE_MKFREQGRP_INFO(2, 2),
                  {{0x1, 1, 0x3, 80}, {0x100, 2, 0, 200}}};
  p.freqGrp[1] = {16, {}, {}, 0, HAPI_PTE_MKFREQGRP_INFO(0, 1),
                  {{0x100, 0, 0, HDSP_TONE_DELAY_PLACEHOLDER}, {}}};
  return p;
}

constexpr HAPI_PTE_CP_PROFILE dtmfGeneric() {
  HAPI_PTE_CP_PROFILE p{};
  p.numFreqGroups = 1;
  p.freqGrp[0] = {0, {0, 0, 0, 0}, {17996, kFull, 0, 0}, 0, 0x0202, {{0x1, 1, 0x3, 100}, {0x40, 0, 0, 100}}};
  return p;
}

}  // namespace

const HDSP_CAS_TONE gCASTones[2] = {{"DTAS ONHOOK", dtasOnHook()}, {"DTAS OFFHOOK", dtasOffHook()}};

const HAPI_PTE_CP_PROFILE dtmfToneGeneric = dtmfGeneric();

// 22656 x 10^(-d/20), truncated, for d = 1..90 dB below the loudest frequency.
const uint16_t negFactor[90] = {
    20192, 17996, 16039, 14294, 12740, 11354, 10120, 9019, 8038, 7164, 6385, 5690, 5072, 4520, 4028,
    3590,  3200,  2852,  2542,  2265,  2019,  1799,  1603, 1429, 1274, 1135, 1012, 901,  803,  716,
    638,   569,   507,   452,   402,   359,   320,   285,  254,  226,  201,  179,  160,  142,  127,
    113,   101,   90,    80,    71,    63,    56,    50,   45,   40,   35,   32,   28,   25,   22,
    20,    17,    16,    14,    12,    11,    10,    9,    8,    7,    6,    5,    5,    4,    4,
    3,     3,     2,     2,     2,     2,     1,     1,    1,    1,    1,    1,    0,    0,    0,
};

const HDSP_DTMF_FREQ gDtmfDigit2FreqMap[17] = {
    {HAPI_PTE_DTMFDDGT0, 941, 1336},   {HAPI_PTE_DTMFDDGT1, 697, 1209},   {HAPI_PTE_DTMFDDGT2, 697, 1336},
    {HAPI_PTE_DTMFDDGT3, 697, 1477},   {HAPI_PTE_DTMFDDGT4, 770, 1209},   {HAPI_PTE_DTMFDDGT5, 770, 1336},
    {HAPI_PTE_DTMFDDGT6, 770, 1477},   {HAPI_PTE_DTMFDDGT7, 852, 1209},   {HAPI_PTE_DTMFDDGT8, 852, 1336},
    {HAPI_PTE_DTMFDDGT9, 852, 1477},   {HAPI_PTE_DTMFDDGTSTR, 941, 1209}, {HAPI_PTE_DTMFDDGTPND, 941, 1477},
    {HAPI_PTE_DTMFDDGTA, 697, 1633},   {HAPI_PTE_DTMFDDGTB, 770, 1633},   {HAPI_PTE_DTMFDDGTC, 852, 1633},
    {HAPI_PTE_DTMFDDGTD, 941, 1633},   {HAPI_PTE_DTMFDDGTERROR, 0, 0},
};

// Low-group amplitude for a twist of 1 to 5 dB.
const uint16_t dtmfSkewMap[5] = {20192, 17996, 16039, 14295, 12740};

const EPZTONEMAP epToneMap[33] = {
    {EPSIG_BUSY, EPPROV_ToneBusy},
    {EPSIG_CONF, EPPROV_ToneConfirmation},
    {EPSIG_DIAL, EPPROV_ToneDial},
    {EPSIG_MSGW, EPPROV_ToneMessageWaiting},
    {EPSIG_CALLWT, EPPROV_ToneCallWaiting},
    {EPSIG_CALLW1, EPPROV_ToneCallWaiting1},
    {EPSIG_CALLW2, EPPROV_ToneCallWaiting2},
    {EPSIG_CALLW3, EPPROV_ToneCallWaiting3},
    {EPSIG_CALLW4, EPPROV_ToneCallWaiting4},
    {EPSIG_SAS_CAS, EPPROV_ToneCallWaiting},
    {EPSIG_SAS_CAS1, EPPROV_ToneCallWaiting1},
    {EPSIG_SAS_CAS2, EPPROV_ToneCallWaiting2},
    {EPSIG_SAS_CAS3, EPPROV_ToneCallWaiting3},
    {EPSIG_SAS_CAS4, EPPROV_ToneCallWaiting4},
    {EPSIG_OHWARN, EPPROV_ToneOffHookWarning},
    {EPSIG_REORDER, EPPROV_ToneReOrder},
    {EPSIG_RINGBACK, EPPROV_ToneRingBack},
    {EPSIG_STUTTER, EPPROV_ToneStutterdial},
    {EPSIG_CALLCARD, EPPROV_CallingCard},
    {EPSIG_NETBUSY, EPPROV_ToneCongestion},
    {EPSIG_NETBUSY1, EPPROV_ToneCongestion1},
    {EPSIG_DISCONNECT, EPPROV_ToneUserDefined5},
    {EPSIG_PAYPHONE_REC, EPPROV_ToneUserDefined6},
    {EPSIG_INTRUSION, EPPROV_ToneUserDefined2},
    {EPSIG_WARNING, EPPROV_ToneUserDefined3},
    {EPSIG_DIAL2, EPPROV_ToneUserDefined4},
    {EPSIG_METERING_BURST, -1},
    {EPSIG_ENABLE_METERING, -1},
    {EPSIG_INIT_RING, -1},
    {EPSIG_RINGBACK_CUST1, EPPROV_ToneUserDefined1},
    {EPSIG_SPECIAL_DIAL, EPPROV_ToneSpecialDial},
    {EPSIG_FILL_INFO, -1},
    {EPSIG_NULL, -1},
};

const EPZPTEDIGIT2EPEVTMAP digit2epevtMap[17] = {
    {HAPI_PTE_DTMFDDGT0, EPEVT_DTMF0, 10},   {HAPI_PTE_DTMFDDGT1, EPEVT_DTMF1, 1},
    {HAPI_PTE_DTMFDDGT2, EPEVT_DTMF2, 2},    {HAPI_PTE_DTMFDDGT3, EPEVT_DTMF3, 3},
    {HAPI_PTE_DTMFDDGT4, EPEVT_DTMF4, 4},    {HAPI_PTE_DTMFDDGT5, EPEVT_DTMF5, 5},
    {HAPI_PTE_DTMFDDGT6, EPEVT_DTMF6, 6},    {HAPI_PTE_DTMFDDGT7, EPEVT_DTMF7, 7},
    {HAPI_PTE_DTMFDDGT8, EPEVT_DTMF8, 8},    {HAPI_PTE_DTMFDDGT9, EPEVT_DTMF9, 9},
    {HAPI_PTE_DTMFDDGTSTR, EPEVT_DTMFS, 0},  {HAPI_PTE_DTMFDDGTPND, EPEVT_DTMFH, 0},
    {HAPI_PTE_DTMFDDGTA, EPEVT_DTMFA, 0},    {HAPI_PTE_DTMFDDGTB, EPEVT_DTMFB, 0},
    {HAPI_PTE_DTMFDDGTC, EPEVT_DTMFC, 0},    {HAPI_PTE_DTMFDDGTD, EPEVT_DTMFD, 0},
    {HAPI_PTE_DTMFDDGTERROR, EPEVT_NULL, 0},
};
