// The framework's VHD configuration tables: which stacks each VHD type runs and how much memory
// and which in-band data it takes.
#pragma once

#include "qrn/qrn.h"

struct VHD_Archive;

enum : QRN_StackType {
  HAPI_VOICE_STACK = 1,
  HAPI_FAX_STACK = 2,
  HAPI_PSTN_STACK = 11,
  HAPI_LINE_ECAN_STACK = 13,
};

constexpr uint16_t VHD_NUM_DEFAULT_ARCHIVES = 4;
extern const VHD_Archive VHD_gDefaultArchive[VHD_NUM_DEFAULT_ARCHIVES];

extern const QRN_SocketConfig gateway_socketcfg;
extern const QRN_SocketConfig conf_socketcfg;
extern const QRN_SocketConfig pstn_socketcfg;
extern const QRN_SocketConfig line_ecan_socketcfg;
