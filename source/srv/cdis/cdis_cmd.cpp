// Commands of call discrimination, its record and its start-up.
#include <cstring>

#include "cdis.h"

const HSFSRVARC cdisarc = {HAPI_CDIS_SRV, sizeof(HSZCDISLOCLMEM), cdisIO, cdisBlk, cdisEgress, cdisInit, nullptr};

namespace {

constexpr uint16_t kV21Enable = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_ENABLE_CMD);   // 0x0DB0
constexpr uint16_t kV21SetReg1 = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_SETREG1_CMD);  // 0x0DB4
constexpr uint16_t kV21Start = HSF_MKCMD_STD(HAPI_V21_SRV, 4);                   // 0x0D84
constexpr uint16_t kV21RegMode = 26;
constexpr uint16_t kV21RegDetTones = 12;

void enable(HSZCDISLOCLMEM* cd, uint16_t on) {
  if (on == 0) {
    cd->hsxstatus &= static_cast<uint16_t>(~CDIS_ENABLED);
    return;
  }
  if (cd->hsxstatus & CDIS_ENABLED) return;
  const uint16_t options = cd->hsxstatus;
  std::memset(cd, 0, sizeof(*cd));
  cd->hsxstatus = static_cast<uint16_t>(options | CDIS_ENABLED);
  cd->hdlcMem.v21timer = -1;
  phrevReset(&cd->ingresscngcedDetectMem.phrev);
  phrevReset(&cd->egresscngcedDetectMem.phrev);
}

void v21Enable(HSZCDISLOCLMEM* cd, uint16_t on, uint16_t noTimeout) {
  HSZHDLCMEM& h = cd->hdlcMem;
  if (on == 0) {
    hsfObdSendStd(kV21Enable, 0, 0);
    h.v21enabled = false;
    h.v21timer = -1;
    return;
  }
  h.v21enabled = true;
  h.v21timer = noTimeout != 0 ? -1 : 0;
  h.numConsecHDLCDetected = 0;
  h.lastword = 0;
  h.numBitsShifted = 0;
  hsfObdSendStd(kV21SetReg1, kV21RegMode, 0);
  hsfObdSendStd(kV21SetReg1, kV21RegDetTones, 0);
  hsfObdSendStd(kV21Enable, 1, 0);
  hsfObdSendStd(kV21Start, 1, 0);
}

HAPIRESULT setCustomFilter(HSZCDISLOCLMEM* cd, const HSFMSG* cmd) {
  if (cmd->ext.length == 0) return HAPISUCCESS;
  if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HAPI_CDIS_CUSTOMTONE_FILTER)) return HAPIFAILURE;
  HAPI_CDIS_CUSTOMTONE_FILTER f;
  std::memcpy(&f, cmd->ext.bufp, sizeof(f));
  if (f.duration == 0 || f.duration < f.offset) return HAPIFAILURE;
  cd->customToneFilter = f;
  cd->customFilterSet = true;
  return HAPISUCCESS;
}

}  // namespace

HAPIRESULT cdisInit(HSFSRVOBJ srvp) {
  auto* cd = static_cast<HSZCDISLOCLMEM*>(srvp);
  std::memset(cd, 0, sizeof(*cd));
  cd->hsxstatus = CDIS_CNG_ENABLE;
  cd->hdlcMem.v21timer = -1;
  phrevReset(&cd->ingresscngcedDetectMem.phrev);
  phrevReset(&cd->egresscngcedDetectMem.phrev);
  return HAPISUCCESS;
}

HAPIRESULT cdisIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* cd = static_cast<HSZCDISLOCLMEM*>(srvp);
  switch (cmd->std.header) {
    case HAPI_CDIS_ENABLE_CMD:
      enable(cd, cmd->std.op1);
      return HAPISUCCESS;
    case HAPI_CDIS_V21ENABLE_CMD:
      v21Enable(cd, cmd->std.op1, cmd->std.op2);
      return HAPISUCCESS;
    case HAPI_CDIS_EXTLOWENERGYDET_CMD: {
      HSZENGYDETMEM& e = cd->energyDetMem;
      if (cmd->std.op1 == 0) {
        e.startExtLowEnergyDet = false;
      } else if (!e.startExtLowEnergyDet) {
        e.startExtLowEnergyDet = true;
        e.ingressExtLowEnergyCount = e.egressExtLowEnergyCount = 0;
      }
      return HAPISUCCESS;
    }
    case HAPI_CDIS_CONFIG_CMD:
      cd->hsxstatus = static_cast<uint16_t>((cmd->std.op1 & ~CDIS_ENABLED) | (cd->hsxstatus & CDIS_ENABLED));
      return HAPISUCCESS;
    case HAPI_CDIS_SETCUSTOMFILTER_CMD:
      return setCustomFilter(cd, cmd);
    default:
      return HAPIFAILURE;
  }
}
