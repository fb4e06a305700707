// A DSP for the host-control tests: the real framework (host interface, resource manager,
// switchboard, VHDs) with stand-in services that keep what the host writes. Each service of each
// VHD keeps its register records (read whole, written whole or one word at a time), the last
// standard command of every code and the data of the last extended command of every code, so a
// test asserts the resulting state of the channel rather than the commands that led to it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "hapi/hapi_types.h"
#include "hsf/hsf.h"
#include "vrgEndptState.h"

namespace standin {

struct Service {
  std::map<uint16_t, std::vector<uint8_t>> records;   // by the record's "get" code
  std::map<uint16_t, std::pair<uint16_t, uint16_t>> lastStd;
  std::map<uint16_t, std::vector<uint8_t>> lastExt;
  std::map<uint16_t, int> count;  // commands received, by code
  // The (op1, op2) of every standard command, by code, in the order they arrived.
  std::map<uint16_t, std::vector<std::pair<uint16_t, uint16_t>>> stdSeen;
};

// The DSP side: one record per (VHD handle, service id).
class Dsp {
 public:
  static Dsp& get();
  // Starts the framework with the stand-in VHD configurations, `ports` hardware ports and the
  // tick running on its own thread.
  void start(int ports);
  void stop();

  // What a service of a VHD holds now (a copy, taken under the lock).
  Service service(uint16_t vhd, uint16_t srvId);
  template <typename T>
  T record(uint16_t vhd, uint16_t srvId, uint16_t getCode) {
    T value{};
    Service s = service(vhd, srvId);
    auto it = s.records.find(getCode);
    if (it != s.records.end() && it->second.size() == sizeof(T)) std::memcpy(&value, it->second.data(), sizeof(T));
    return value;
  }
  // Commands the channels received since the last call.
  int commandsSince();
  // Makes every command of this code fail with the given result from now on (0 to stop).
  void failCode(uint16_t code, HAPIRESULT result);
  // Data a "get" without a register record returns (statistics, state).
  void setReply(uint16_t code, std::vector<uint8_t> data);

  // Called by the stand-in services on the tick thread.
  HAPIRESULT ioctl(uint16_t vhd, uint16_t srvId, HSFMSG* cmd, HSFMSG* reply);

 private:
  std::mutex lock_;
  std::map<std::pair<uint16_t, uint16_t>, Service> services_;
  std::map<uint16_t, HAPIRESULT> failing_;
  std::map<uint16_t, std::vector<uint8_t>> replies_;
  std::atomic<int> commands_{0};
  std::atomic<bool> running_{false};
  std::thread ticker_;
};

// True when the switchboard carries a simplex path from (src, srcIf) to (dst, dstIf).
bool hasPath(uint16_t src, uint16_t srcIf, uint16_t dst, uint16_t dstIf);
// Number of simplex paths in the switchboard.
int pathCount();

// Endpoint records as the dispatcher leaves them after creating `n` endpoints of a type.
void makeEndpoints(int n, EPTYPE type);
// Binds connection record `index` to a line with a channel opened for it.
CNXSTATE* bindConnection(int index, int lineId, uint16_t vhd);

// Waits until the channel has handled every command sent to it before (a synchronous command
// queues behind them).
void sync(uint16_t vhd);

// Each test starts the framework with the stand-in services and four hardware ports.
class HostDspTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Dsp& dsp = Dsp::get();
};

}  // namespace standin
