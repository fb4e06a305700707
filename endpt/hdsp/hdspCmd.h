// The host DSP command layer: every request of the endpoint library to the DSP framework leaves
// through these calls. Each builds one command record on the caller's stack, notes the device's
// activity for the idle-state watchdog and hands the record to the framework's host interface,
// synchronously (returns with the response) or asynchronously (returns once queued). The layer
// holds no state and no lock: the framework serialises, so any thread may call it.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

int16_t hdspSendCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2);
int16_t hdspSendCmdAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2);
// Extended commands: op1 is the buffer's length in bytes. A "get" fills the buffer before the
// synchronous call returns; an asynchronous "set" copies it when the command is queued.
int16_t hdspSendCmdData(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t length, void* buffer);
int16_t hdspSendCmdDataAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t length,
                             void* buffer);

// A packet from the network: a packet header followed by payloadLength bytes.
int16_t hdspSendDataPacket(uint16_t vhdhdl, HAPI_PKT_HDR* packet);
int16_t hdspSendVoicePacket(uint16_t vhdhdl, HAPI_PKT_HDR* packet);
int16_t hdspSendT38Packet(uint16_t vhdhdl, uint16_t length, void* packet);

int16_t hdspInit(HAPICALLBKP callback, uint16_t dspNum);
int16_t hdspDeinit(void);
int16_t hdspSetVbdPayloadType(HAPI_PKT_HDR* header, int vbdFlag);
int16_t hdspGetOperationalStatus(uint16_t vhdhdl);
