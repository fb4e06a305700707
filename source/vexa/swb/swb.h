// The switchboard: connects the ends of VHD stacks and the hardware ports, and copies every
// in-band message that leaves a source to each destination connected to it.
#pragma once

#include <cstdint>

#include "qrn/qrn.h"

enum : uint16_t { HAPI_SWB_TOS = 0, HAPI_SWB_BOS = 1 };
enum : uint16_t { HAPI_SWB_SIMPLEX = 0, HAPI_SWB_DUPLEX = 1 };
enum : uint16_t {
  HAPI_SWB_CONNECT_CMD = 0x8500,
  HAPI_SWB_DISCONNECT_CMD = 0x8501,
  HAPI_SWB_FLUSH_BUILDOUT_CMD = 0x8582,
};

struct SWB_Port {
  uint16_t handle;  // a VHD handle, or a hardware port 0..7
  uint8_t direction : 1;  // HAPI_SWB_TOS or HAPI_SWB_BOS
  uint8_t numOfDest : 7;  // in a source entry: destinations that follow
};

// A connection is a source entry followed by its numOfDest destination entries in the list.
using SWB_Connection = SWB_Port;

constexpr unsigned SWB_MAX_PORTS = 100;
constexpr uint16_t SWB_END_MARKER = 0xFFFF;

struct SWB_Connection_List {
  uint16_t portsUsed;  // entries in use, the end marker included
  SWB_Port list[SWB_MAX_PORTS];
};
extern SWB_Connection_List SWB_gConnectionList;

struct HAPI_SWB_PARAMS {
  uint16_t srcHandle;
  uint16_t srcInterface;
  uint16_t dstHandle;
  uint16_t dstInterface;
  uint16_t type;
};
static_assert(sizeof(HAPI_SWB_PARAMS) == 10, "switchboard parameters are five words");

void SWB_Init();
HAPIRESULT SWB_io(QRN_SocketMsg* msg, int freeMsg, int sendResponse);
int SWB_ConnectSimplex(SWB_Port src, SWB_Port dst);
int SWB_DisconnectSimplex(SWB_Port src, SWB_Port dst);
int SWB_IbdRecv(QRN_Handle srcHandle, QRN_SocketMsg* msg);
// Index of the source entry of `port`'s connection, or -1.
int SWB_FindSourcePort(SWB_Port port);
// The source entry of the connection that blocks leaving the `direction` half of `srcHandle` take,
// or -1 when none leaves it; it holds while SWB_Generation does not move. Caller holds the lock.
int SWB_SourceConnection(QRN_Handle srcHandle, unsigned direction);
// Whether an in-band block of `mask` leaving by the connection at `connection` (-1: none) would be
// freed as soon as it is offered: no path leaves that half, or its one path ends at a hardware port
// that does not play that band. Caller holds the lock.
bool SWB_ConnectionDropsIbd(int connection, HSF_IBD_MASK mask);
// What SWB_IbdRecv does with a block once it has found its connection (>= 0): a copy to each
// destination but the last, which takes the block itself. Caller holds the lock.
void SWB_DeliverIbd_Unprotected(int connection, QRN_SocketMsg* msg);
// Moves with every change of the connection list: a reader that saw the same count saw the same list.
uint32_t SWB_Generation();
// Index of `port` among the destinations of the connection at `connection`, searching from
// `index`; -1 when absent.
int SWB_FindDestinationPortIndex(int connection, SWB_Port port, int index);
int SWB_CheckSourcePort(SWB_Port port);
int SWB_CheckDestinationPort(SWB_Port port);
void swbSendHalShimFlushCommand(uint16_t handle);
// Removes every entry of a VHD handle (VHD close).
void SWB_RemoveHandle(uint16_t handle);
