// A gateway channel on the real framework for the NET service's tests: NET in both stacks, probe
// services in every other position that record the commands they get, a recording host, and a
// line channel with an echo-canceller probe.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "net.h"
#include "qrn/qrn.h"
#include "vhd/vhd.h"

namespace nettest {

constexpr QRN_Handle kVhd = HAPIVHD0;        // the gateway channel
constexpr QRN_Handle kLineVhd = HAPIVHD0 + 1;  // a line channel with an echo canceller
constexpr uint16_t kLineVhdType = HAPI_LINE_ECAN_VHD;
// A channel with NET and a digit and tone service in one stack only: no codec, no fax stack.
constexpr QRN_Handle kBareVhd = HAPIVHD0 + 2;
constexpr uint16_t kBareVhdType = HAPI_CONFERENCE_VHD;

// A command as a service received it: for extended commands op1 is the length and data a copy.
struct Cmd {
  QRN_Handle dev;
  HSFSRVID srv;
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  std::vector<uint8_t> data;
};

// A message the host received.
struct HostMsg {
  QRN_Handle handle;
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
  bool response;
  HAPIRESULT result;
  uint16_t userTag;
  std::vector<uint8_t> data;
};

struct World {
  std::vector<Cmd> commands;        // every command a service of either channel took, in order
  std::vector<HostMsg> host;        // everything that reached the host
  std::vector<uint16_t> netEvents;  // events that reached NET
  bool codecAnswersRate = true;     // the codec reports each voice-rate request as done
  struct Event {
    HSFSRVID from;
    uint16_t header;
    uint16_t op1;
    uint16_t op2;
  };
  std::vector<Event> pendingEvents;            // sent by the named service in its next ingress run
  std::vector<std::vector<uint8_t>> t38Taken;  // T.38 data the T.38 service received
  int mediaBelowNet = 0;  // RTP or RTCP data that reached the fax relay service (below NET)
};

World& world();

// The configuration table of the test channels.
const VHD_Archive* testArchives(uint16_t* count);

// Host side.
void startFramework();
void hostCommand(uint16_t header, uint16_t op1, uint16_t op2, uint16_t tag = 1,
                 QRN_Handle dev = kVhd);
void hostExtCommand(uint16_t header, const void* data, uint16_t length, uint16_t tag = 1,
                    QRN_Handle dev = kVhd);
void hostPacket(uint16_t header, HSF_IBD_MASK mask, const void* data, uint16_t length);
void tick(int n = 1);
// The service sends this event (to its parent) in its next ingress run.
void serviceEvent(HSFSRVID from, uint16_t header, uint16_t op1, uint16_t op2);

// Views of what happened.
std::vector<Cmd> commandsTo(HSFSRVID srv);
// Answers from the gateway channel (the framework's own answers are left out).
std::vector<HostMsg> hostResponses(QRN_Handle dev = kVhd);
std::vector<HostMsg> hostEvents(uint16_t header);
HSZNETLOCLMEM* netInstance(QRN_Handle dev = kVhd);
std::string describe(const std::vector<Cmd>& cmds);

// Counts the framework's assertion reports printed while it lives.
class AssertCounter {
 public:
  AssertCounter() { testing::internal::CaptureStdout(); }
  ~AssertCounter() { stop(); }
  int stop();

 private:
  bool stopped_ = false;
  int count_ = 0;
};

// Opens the gateway and line channels on a started framework, runs the first frames, and on
// tear-down checks that the channels gave back every pool block and heap byte.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sends a command and runs frames until its processing is done; returns what the host got.
  HostMsg command(uint16_t header, uint16_t op1, uint16_t op2, QRN_Handle dev = kVhd);
  HostMsg extCommand(uint16_t header, const void* data, uint16_t length);
  void clearRecords();
  // Drives the channel to a mode as the host would, and clears the records.
  void enterMode(uint16_t mode);

 private:
  int msgFree_ = 0;
  int extFree_ = 0;
  int heapFree_ = 0;
  uint16_t tag_ = 100;
};

}  // namespace nettest
