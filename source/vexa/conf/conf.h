// Conference points: the top point sends the channel's ingress audio to the switchboard and mixes
// what other channels sent it into the egress audio; the bottom point does the same with the
// directions swapped.
#pragma once

#include "hsf/hsf.h"
#include "vhd/vhd.h"

struct CONFINSTANCEMEM {
  QMQUEUE queue[2];  // waiting blocks of the low band and of the high band
};

struct CONF_SRC_LIST {
  uint16_t handle;  // source socket handle, 255 = free
  uint16_t offset;  // samples of this frame already mixed from that source
};

constexpr unsigned CONF_NUM_SOURCES = VHD_NUM_INSTANCES + 8;
constexpr unsigned CONF_BLOCK_SAMPLES = 40;

HAPIRESULT confInit(HSFSRVOBJ service);
void confExit(HSFSRVOBJ service);
void confSend(HSFSRVOBJ service);
void confRecv(HSFSRVOBJ service);

extern const HSFSRVARC conftosarc;
extern const HSFSRVARC confbosarc;
