// A tap between one client and the broker: it plays the broker to the client and passes every
// message both ways, and on request it changes what the client gets as a broker could: look-ups
// that fail, notices of objects that never arrive (a broker drops messages to a client that reads
// slowly), a notice that arrives late, or everything the broker sends held back for a while. Tests point one process's UBUS_SOCKET at it.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

class BusTap {
 public:
  // Listens on `tapSocket`; the first client to connect there is joined to the broker at
  // `brokerSocket`.
  BusTap(const std::string& brokerSocket, const std::string& tapSocket);
  ~BusTap();
  BusTap(const BusTap&) = delete;
  BusTap& operator=(const BusTap&) = delete;

  // While on, the client's look-ups are answered by the tap with status 9 (unknown error).
  void failLookups(bool on) { failLookups_ = on; }
  // While on, the client's look-ups of `path` go nowhere and are never answered (a broker drops
  // the answer to a client whose queue is full).
  void loseLookups(const std::string& path, bool on);
  // While on, the broker's "ubus.object.remove" notices for `path` do not reach the client.
  void dropRemovals(const std::string& path, bool on);
  // Sends the client a notice as the broker does, to the listener it registered for `event`;
  // false when it registered none.
  bool notice(const std::string& event, uint32_t id, const std::string& path);
  // While on, what the broker sends the client is held back; turned off, everything held goes to
  // the client at once, in order, so that the client reads it together (as a busy client finds
  // it all waiting).
  void hold(bool on);
  // How many notices and calls have been held back, over all holds.
  int held();
  int lookupsFailed() const { return lookupsFailed_; }
  int lookupsLost() const { return lookupsLost_; }
  int removalsDropped() const { return removalsDropped_; }

 private:
  void run();
  bool fromClient(std::vector<uint8_t>& frame);
  bool fromBroker(std::vector<uint8_t>& frame);
  void sendTo(int fd, const std::vector<uint8_t>& bytes);

  std::string brokerSocket_;
  int listenFd_ = -1, stopFd_ = -1;
  int clientFd_ = -1, brokerFd_ = -1;
  std::atomic<bool> failLookups_{false};
  std::atomic<int> lookupsFailed_{0}, lookupsLost_{0}, removalsDropped_{0};
  std::mutex lock_;  // the client's socket and what the tap learnt of the client
  std::string dropPath_;
  std::string losePath_;
  std::map<std::string, uint32_t> listeners_;  // event pattern -> the client's listener object
  bool holding_ = false;
  int heldCount_ = 0;
  std::vector<uint8_t> held_;
  uint16_t noticeSeq_ = 0xf000;
  std::thread thread_;
};

}  // namespace e2e
