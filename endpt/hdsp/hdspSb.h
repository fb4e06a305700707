// Switchboard paths of the connection VHDs. Each connection keeps two masks of its simplex paths:
// bit i (i below the number of endpoints N) is endpoint i's line VHD, bit N + k connection VHD k.
// A mode change recomputes the masks and makes or breaks only the paths that changed.
#pragma once

#include <cstdint>

#include "vrgEndptState.h"

void UpdateSBMasks(CNXSTATE* cnx, EPCNXMODE mode);
void SetupSB(uint16_t vhdhdl, uint32_t inMask, uint32_t inChanges, uint32_t outMask, uint32_t outChanges);
EPSTATUS ConnectSB(int line1, int line2);
EPSTATUS DisconnectSB(int line1, int line2);
int16_t ConnectPstnGwSB(uint16_t gwVhdHdl, uint16_t pstnLineVhdHdl);
int16_t DisConnectPstnGwSB(uint16_t gwVhdHdl, uint16_t pstnLineVhdHdl);
