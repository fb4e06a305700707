// A recording stand-in for the host DSP command layer, the tone layer, line signalling control
// and the idle watchdog: the caller-ID code under test talks to these, and tests read back what
// it asked for and decide what each request answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DspRequest {
  uint16_t vhdhdl;
  uint16_t cmd;
  uint16_t op1;
  uintptr_t op2;
  bool sync;
  std::vector<uint8_t> data;  // the data block of extended commands and packets
};

// One call into line signalling, the tone layer or the watchdog, as "name(args)".
struct LineRequest {
  std::string call;
  std::vector<long> args;
};

#include "casCtl.h"

// Records a call into line signalling, the tone layer or the watchdog.
CAS_CTL_STATUS lineCall(const char* name, std::vector<long> args);

struct HostDspDouble {
  std::vector<DspRequest> dsp;
  std::vector<LineRequest> line;
  int result = 0;              // what every DSP request answers
  uint16_t failCmd = 0;        // this command answers -1 instead
  int egressLevelOffset = 0;   // what the line's decoder loss adds to a level (0.1 dB)
  int toneResult = 0;

  static HostDspDouble& get();
  void clear() { *this = HostDspDouble{}; }
  std::vector<DspRequest> packets() const;  // the class-relay packets sent, in order
  std::vector<std::string> lineCalls() const;
};
