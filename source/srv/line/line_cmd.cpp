// The line service's commands: high-pass, band split and combine switches, equaliser set-up.
#include <algorithm>
#include <cstring>

#include "line.h"

namespace {

void setFlag(LINEINSTANCEMEM* line, uint16_t flag, bool on) {
  line->clientFlags = static_cast<uint16_t>(on ? line->clientFlags | flag : line->clientFlags & ~flag);
}

HAPIRESULT equEnable(LINEINSTANCEMEM* line, uint16_t filter, uint16_t op2) {
  if (filter != 0 || (op2 & 0x0300) == 0x0300) return HAPIFAILURE;
  setFlag(line, LINE_CLIENT_EQU_WIDE | LINE_CLIENT_EQU_NARROW, false);
  line->equ_filter.isEnabled = static_cast<int16_t>(op2 & 0xFF);
  if (line->equ_filter.isEnabled != 0) {
    setFlag(line, (op2 & 0x0100) != 0 ? LINE_CLIENT_EQU_WIDE : LINE_CLIENT_EQU_NARROW, true);
  }
  return HAPISUCCESS;
}

// An order past the coefficient table would make the filter read beyond it: refused.
HAPIRESULT equOrder(LINEINSTANCEMEM* line, uint16_t filter, uint16_t order) {
  if (filter != 0 || order > EQU_MAX_TAPS) return HAPIFAILURE;
  line->equ_filter.order = static_cast<int16_t>(order);
  return HAPISUCCESS;
}

// A download whose first tap lies past the table, or whose record is short, is refused.
HAPIRESULT equCoeff(LINEINSTANCEMEM* line, const HSFMSG* cmd) {
  if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HAPI_LINE_EQU_COEFF)) return HAPIFAILURE;
  HAPI_LINE_EQU_COEFF rec;
  std::memcpy(&rec, cmd->ext.bufp, sizeof(rec));
  if (rec.offset >= EQU_MAX_TAPS) return HAPIFAILURE;
  const int count = std::min(EQU_DOWNLOAD_TAPS, EQU_MAX_TAPS - int{rec.offset});
  std::memcpy(&line->equ_filter.coeff[rec.offset], rec.coeff, count * sizeof(int16_t));
  return HAPISUCCESS;
}

}  // namespace

HAPIRESULT Line_IO(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* line = static_cast<LINEINSTANCEMEM*>(service);
  if (line == nullptr || cmd == nullptr) return HAPIFAILURE;
  const HSFMSGSTD& s = cmd->std;
  switch (s.header) {
    case LINE_HPF_CMD:
      setFlag(line, LINE_CLIENT_HIGHPASS, s.op1 != 0);
      return HAPISUCCESS;
    case LINE_BANDSPLIT_CMD:
      setFlag(line, LINE_CLIENT_BANDSPLIT, s.op1 != 0);
      return HAPISUCCESS;
    case LINE_BANDCOMBINE_CMD:
      setFlag(line, LINE_CLIENT_BANDCOMBINE, s.op1 != 0);
      return HAPISUCCESS;
    case LINE_EQU_CMD:
      return equEnable(line, s.op1, s.op2);
    case LINE_EQU_ORDER_CMD:
      return equOrder(line, s.op1, s.op2);
    case LINE_EQU_COEFF_CMD:
      return equCoeff(line, cmd);
    default:
      return HAPIFAILURE;
  }
}
