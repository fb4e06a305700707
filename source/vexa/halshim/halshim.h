// The HAL shim: where PCM crosses between the board's driver channels (hardware ports 0..7) and
// the switchboard, in 40-sample in-band messages.
#pragma once

#include <cstdint>

#include "qrn/qrn.h"

constexpr unsigned HALSHIM_NUM_PORTS = 8;
constexpr unsigned HALSHIM_MAX_FRAME_SAMPLES = 80;
constexpr unsigned HALSHIM_BLOCK_SAMPLES = 40;
constexpr unsigned HALSHIM_CMD_RING_SIZE = 3;
constexpr uint16_t HALSHIM_FLUSH_CMD = 0x8681;
constexpr uint16_t HALSHIM_UNDERRUN_NOTICE = 0x8683;

struct HALSHIM_CONFIG {
  uint16_t halShimQrnHandle;  // the port's handle as the switchboard and the host know it
  uint16_t halShimLdxHandle;  // the handle the host opened the port with
  uint16_t isEnabled;
  HSF_IBD_MASK mask;          // 0x200 narrowband, 0x400 wideband
  uint16_t frameSamples;      // samples per tick: 40 or 80
};

struct HALSHIM_INGRESS {
  int16_t buffer[HALSHIM_MAX_FRAME_SAMPLES];
  uint16_t writeIdx;
};

struct HALSHIM_EGRESS {
  QRN_SocketMsg* buffer;  // the message whose data block is being played out, or none
  uint16_t readIdx;       // samples of it already used
  uint16_t underrunCheck; // 1 while an underrun may be reported
  MEM_Queue dataQ;        // blocks delivered by the switchboard
};

struct HALSHIM_DEVICE {
  HALSHIM_INGRESS ingressPort;
  HALSHIM_EGRESS egressPort;
};

struct HALSHIM_COMMAND_BUFFER {
  QRN_SocketMsg msg[HALSHIM_CMD_RING_SIZE];
  uint8_t writeIndex;
  uint8_t readIndex;
  uint8_t full;
};

extern HALSHIM_CONFIG gHalShimConfigs[HALSHIM_NUM_PORTS];
extern HALSHIM_DEVICE gHalShimDevices[HALSHIM_NUM_PORTS];
extern HALSHIM_COMMAND_BUFFER gHalShimCommandBuffer;
extern QRN_IbdCallback gHalShimIbdCallback;

// Clears the devices and the command ring (framework start-up).
void halShimInit();
void halShimSetIbdCallback(QRN_IbdCallback callback);
int halShimCfgDevice(unsigned port, int enable, int wideband);
void halShimIngress(const int16_t* samples, unsigned port);
void halShimEgress(int16_t* samples, unsigned port);
HAPIRESULT halShimProcessMessageInRm(QRN_SocketMsg* msg, int freeMsg, int sendResponse);
void halShimProcessMessagesInHal();
void halShimProcessMessageInHal(const QRN_SocketMsg* msg);
void halShimSendFlushInfo(unsigned port, uint16_t header, uint16_t info);
// Routing of egress in-band data to a hardware port (caller holds the framework lock).
void halShimQueueEgressData(unsigned port, QRN_SocketMsg* msg);
// Whether the port plays egress blocks of `mask` (enabled, and its band); others are freed.
bool halShimPlaysBand(unsigned port, HSF_IBD_MASK mask);
