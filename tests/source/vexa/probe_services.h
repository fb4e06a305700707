// Probe services for framework tests: each records what the framework does to it and runs the
// behaviour a test gives it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hsf/hsf.h"
#include "qrn/qrn.h"

namespace vexa_test {

struct ProbeState {
  HSFSRVID id;
  int ingressRuns;
  int egressRuns;
  uint32_t value;  // survives as long as the instance
};

struct ProbeBehaviour {
  std::function<void(ProbeState&)> ingress;
  std::function<void(ProbeState&)> egress;
  std::function<HAPIRESULT(ProbeState&, HSFMSG*, HSFMSG*)> ioctl;
};

struct ProbeWorld {
  std::map<HSFSRVID, ProbeBehaviour> behaviour;
  std::vector<std::string> events;  // "init 16", "exit 16", "ioctl 16 0x10b0", ...
  std::map<HSFSRVID, ProbeState*> instance;
};

inline ProbeWorld& probes() {
  static ProbeWorld world;
  return world;
}

inline std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%x", v);
  return buf;
}

inline HAPIRESULT probeInit(HSFSRVOBJ obj) {
  auto* s = static_cast<ProbeState*>(obj);
  s->id = QRN_gSocketContext.pCurrentService->archive->srvId;
  probes().instance[s->id] = s;
  probes().events.push_back("init " + std::to_string(s->id));
  return 0;
}

inline void probeExit(HSFSRVOBJ obj) {
  auto* s = static_cast<ProbeState*>(obj);
  probes().instance.erase(s->id);
  probes().events.push_back("exit " + std::to_string(s->id));
}

inline void probeIngress(HSFSRVOBJ obj) {
  auto* s = static_cast<ProbeState*>(obj);
  s->ingressRuns += 1;
  auto& b = probes().behaviour[s->id];
  if (b.ingress) b.ingress(*s);
}

inline void probeEgress(HSFSRVOBJ obj) {
  auto* s = static_cast<ProbeState*>(obj);
  s->egressRuns += 1;
  auto& b = probes().behaviour[s->id];
  if (b.egress) b.egress(*s);
}

inline HAPIRESULT probeIoctl(HSFSRVOBJ obj, HSFMSG* cmd, HSFMSG* reply) {
  auto* s = static_cast<ProbeState*>(obj);
  probes().events.push_back("ioctl " + std::to_string(s->id) + " " + hex(cmd->std.header));
  auto& b = probes().behaviour[s->id];
  return b.ioctl ? b.ioctl(*s, cmd, reply) : HAPISUCCESS;
}

constexpr HSFSRVARC probeArc(HAPISRVID id) {
  return HSFSRVARC{id, sizeof(ProbeState), probeIoctl, probeIngress, probeEgress, probeInit,
                   probeExit};
}

}  // namespace vexa_test
