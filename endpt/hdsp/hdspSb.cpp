// Switchboard paths of connection VHDs, derived from the connection mode.
#include "hdspSb.h"

#include "hdspVhd.h"
#include "voiceLog.h"
#include "swb/swb.h"

namespace {

uint32_t bit(int n) { return n < 32 ? (1u << n) : 0u; }

// Bits of the endpoint's connections other than `self`; with `onlyMode`, only those in that mode.
uint32_t otherCnxBits(const VRG_ENDPT* endpt, const CNXSTATE* self, int onlyMode, bool warnOnly) {
  uint32_t bits = 0;
  for (CNXSTATE* c : endpt->cnx) {
    if (c == nullptr || c == self) continue;
    if (onlyMode >= 0 && c->mode != onlyMode) continue;
    const int k = GetCnxIndexFromVHD(c->vhdhdl);
    if (k < 0) {
      if (warnOnly) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                 "EPT: ERROR cannot find index in the global cnx queue for vhdhdl %x", c->vhdhdl);
      } else {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
                 "EPT: ENDPT: ERROR cannot find index in the global cnx queue for vhdhdl %x", c->vhdhdl);
      }
      continue;
    }
    bits |= bit(vrgNumEndpts + k);
  }
  return bits;
}

// Handle of the VHD that bit n stands for, and the interface its paths use.
bool bitTarget(int n, uint16_t* handle, uint16_t* interface) {
  if (n < vrgNumEndpts) {
    *handle = vrgEndpt[n].lineVhdHdl;
    *interface = HAPI_SWB_TOS;
    return true;
  }
  const int k = n - vrgNumEndpts;
  if (k < 0 || k >= VRG_MAX_CNX_VHD) return false;
  *handle = vrgCnxState[k].vhdhdl;
  *interface = HAPI_SWB_BOS;
  return true;
}

}  // namespace

void SetupSB(uint16_t vhdhdl, uint32_t inMask, uint32_t inChanges, uint32_t outMask, uint32_t outChanges) {
  const int bits = vrgNumEndpts + VRG_MAX_CNX_VHD;
  for (int n = 0; n < bits && n < 32; ++n) {
    uint16_t other = 0, otherIf = 0;
    if (((inChanges | outChanges) & bit(n)) == 0 || !bitTarget(n, &other, &otherIf)) continue;
    if (inChanges & bit(n)) {
      if (hdspRmSwitchBoardConnect(other, otherIf, vhdhdl, HAPI_SWB_BOS, HAPI_SWB_SIMPLEX,
                                   (inMask & bit(n)) ? 1 : 0) != 0) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting switchboard connection for vhdhdl %x",
                 vhdhdl);
      }
    }
    if (outChanges & bit(n)) {
      if (hdspRmSwitchBoardConnect(vhdhdl, HAPI_SWB_BOS, other, otherIf, HAPI_SWB_SIMPLEX,
                                   (outMask & bit(n)) ? 1 : 0) != 0) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting switchboard connection for vhdhdl %x",
                 vhdhdl);
      }
    }
  }
}

void UpdateSBMasks(CNXSTATE* cnx, EPCNXMODE mode) {
  VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: UpdateSBMasks ERROR: unable to get endpt state for lineId %d",
             cnx->lineId);
    return;
  }
  const int lineControl = cnx->cnxModeControlsLineVhd;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: UpdateSBMasks: mode = %d, lineControl = %d", mode,
           lineControl);
  if (endpt->testMode == TESTMODE_PACKETLOOPBACK) mode = EPCNXMODE_SNDRX;

  const uint32_t E = bit(endpt->endptNum);
  const uint32_t oldIn = cnx->inMask;
  const uint32_t oldOut = cnx->outMask;
  uint32_t in = oldIn;
  uint32_t out = oldOut;
  bool addLine = true;  // the connection always hears its own line, except in the two below
  switch (mode) {
    case EPCNXMODE_SNDO:
      out = lineControl ? (oldOut & ~E) : 0;
      in = E | otherCnxBits(endpt, cnx, -1, false);
      break;
    case EPCNXMODE_RCVO:
      in = lineControl ? (oldIn & ~E) : 0;
      out = E | otherCnxBits(endpt, cnx, -1, false);
      break;
    case EPCNXMODE_SNDRX:
      if (lineControl) {
        out = oldOut | E;
        in = oldIn | E;
      } else {
        out = in = E;
      }
      break;
    case EPCNXMODE_CONF:
      in = out = E | otherCnxBits(endpt, cnx, EPCNXMODE_CONF, true);
      break;
    case EPCNXMODE_INACT:
    case EPCNXMODE_LOOP:
      if (lineControl) {
        in = oldIn & ~E;
        out = oldOut & ~E;
      } else {
        in = out = 0;
      }
      break;
    case EPCNXMODE_TEST: {
      const int own = GetCnxIndexFromVHD(cnx->vhdhdl);
      in = own >= 0 ? bit(vrgNumEndpts + own) : 0;
      out = 0;
      addLine = false;
      break;
    }
    case EPCNXMODE_REPLCATE:
      in = E | otherCnxBits(endpt, cnx, -1, false);
      out = 0;
      break;
    case EPCNXMODE_TRANSCODE: {
      const uint32_t peers = otherCnxBits(endpt, cnx, EPCNXMODE_TRANSCODE, false);
      in |= peers;
      out |= peers;
      addLine = false;
      break;
    }
    default:
      break;
  }
  if (addLine) in |= E;
  cnx->inMask = in;
  cnx->outMask = out;
  SetupSB(cnx->vhdhdl, in, in ^ oldIn, out, out ^ oldOut);
}

namespace {

EPSTATUS lineToLine(int line1, int line2, int connect) {
  VRG_ENDPT* a = GetEndptState(line1);
  VRG_ENDPT* b = GetEndptState(line2);
  if (a == nullptr || b == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  if (a->dspNum != b->dspNum) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             connect ? "EPT: ConnectSB: failed for line%d (%d) and line%d (%d) - Must be on same DSP!"
                     : "EPT: DisconnectSB: failed for line%d (%d) and line%d (%d) - Must be on same DSP!",
             line1, a->dspNum, line2, b->dspNum);
    return EPSTATUS_RESOURCES;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           connect ? "EPT: ConnectSB: connecting line%d and line%d " : "EPT: DisconnectSB: disconnecting line%d and line%d ",
           line1, line2);
  if (hdspRmSwitchBoardConnect(a->lineVhdHdl, HAPI_SWB_TOS, b->lineVhdHdl, HAPI_SWB_TOS, HAPI_SWB_DUPLEX,
                               connect) != 0) {
    return EPSTATUS_RESOURCES;
  }
  return EPSTATUS_SUCCESS;
}

}  // namespace

EPSTATUS ConnectSB(int line1, int line2) { return lineToLine(line1, line2, 1); }
EPSTATUS DisconnectSB(int line1, int line2) { return lineToLine(line1, line2, 0); }

int16_t ConnectPstnGwSB(uint16_t gwVhdHdl, uint16_t pstnLineVhdHdl) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: ConnectPstnGwSB: connecting gw VHDHDL 0x%04x to pstn endpoint line VHDHDL 0x%04x", gwVhdHdl,
           pstnLineVhdHdl);
  return hdspRmSwitchBoardConnect(gwVhdHdl, HAPI_SWB_BOS, pstnLineVhdHdl, HAPI_SWB_TOS, HAPI_SWB_DUPLEX, 1);
}

int16_t DisConnectPstnGwSB(uint16_t gwVhdHdl, uint16_t pstnLineVhdHdl) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: DisConnectPstnGwSB: disconnecting gw VHDHDL 0x%04x from pstn endpoint line VHDHDL 0x%04x",
           gwVhdHdl, pstnLineVhdHdl);
  return hdspRmSwitchBoardConnect(gwVhdHdl, HAPI_SWB_BOS, pstnLineVhdHdl, HAPI_SWB_TOS, HAPI_SWB_DUPLEX, 0);
}
