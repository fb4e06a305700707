// Host side of the framework for tests driving it through hapi: an event recorder and the
// builders of standard and extended commands.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "hapi/hapi.h"
#include "swb/swb.h"

namespace vexa_test {

// Every event the framework handed to the host, in order.
struct Events {
  std::mutex lock;
  std::vector<HSZEVT> list;
};
inline Events& events() {
  static Events e;
  return e;
}

// The event callback given to hapiInit and hapiOpen.
inline void recordEvent(HSZEVT* evt, uint16_t) {
  std::lock_guard<std::mutex> guard(events().lock);
  events().list.push_back(*evt);
}

inline HSZCMD stdCmd(uint16_t handle, uint16_t code, uint16_t op1, uint16_t op2) {
  HSZCMD c{};
  c.hsxdevhdl = handle;
  c.hsxcmd = code;
  c.hsxreqid = HAPI_REQID_STD_CMD;
  c.hsxop1 = op1;
  c.hsxop2.val = op2;
  return c;
}

inline HSZCMD extCmd(uint16_t handle, uint16_t code, void* data, uint16_t length) {
  HSZCMD c{};
  c.hsxdevhdl = handle;
  c.hsxcmd = code;
  c.hsxreqid = HAPI_REQID_EXT_CMD;
  c.hsxop1 = length;
  c.hsxop2.ref = data;
  return c;
}

// Connects two interfaces on the switchboard through the resource manager.
inline HAPIRESULT connect(uint16_t src, uint16_t srcIf, uint16_t dst, uint16_t dstIf,
                          uint16_t type) {
  HAPI_SWB_PARAMS p{src, srcIf, dst, dstIf, type};
  HSZCMD c = extCmd(HAPIRESMAN, HAPI_SWB_CONNECT_CMD, &p, sizeof(p));
  return hapiIOctl(&c, 0);
}

}  // namespace vexa_test
