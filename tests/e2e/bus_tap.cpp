#include "bus_tap.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <libubox/blobmsg.h>

#include "ubus_wire.h"

namespace e2e {

namespace {

int unixSocket(const std::string& path, bool listening) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  const bool ok = listening ? bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 4) == 0
                            : connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

// One frame cut from `reader`, as bytes; empty when none is whole yet.
bool nextFrame(ubuswire::FrameReader& reader, ubuswire::Message& msg, std::vector<uint8_t>& frame) {
  if (reader.next(msg) != ubuswire::FrameReader::Result::Message) return false;
  frame = ubuswire::frameBody(msg.type, msg.seq, msg.peer, msg.body.data(), msg.body.size());
  frame[0] = msg.version;
  return true;
}

}  // namespace

BusTap::BusTap(const std::string& brokerSocket, const std::string& tapSocket)
    : brokerSocket_(brokerSocket),
      listenFd_(unixSocket(tapSocket, true)),
      stopFd_(eventfd(0, EFD_CLOEXEC)) {
  EXPECT_GE(listenFd_, 0) << tapSocket;
  thread_ = std::thread([this] { run(); });
}

BusTap::~BusTap() {
  uint64_t one = 1;
  if (write(stopFd_, &one, sizeof one) != sizeof one) perror("bus tap");
  thread_.join();
  for (int fd : {listenFd_, stopFd_, clientFd_, brokerFd_})
    if (fd >= 0) close(fd);
}

void BusTap::dropRemovals(const std::string& path, bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  dropPath_ = on ? path : "";
}

void BusTap::loseLookups(const std::string& path, bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  losePath_ = on ? path : "";
}

void BusTap::hold(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  holding_ = on;
  if (on || held_.empty()) return;
  sendTo(clientFd_, held_);
  held_.clear();
}

int BusTap::held() {
  std::lock_guard<std::mutex> guard(lock_);
  return heldCount_;
}

void BusTap::sendTo(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool BusTap::notice(const std::string& event, uint32_t id, const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  auto listener = listeners_.find(event);
  if (listener == listeners_.end() || clientFd_ < 0) return false;
  blob_buf data{};
  blobmsg_buf_init(&data);
  blobmsg_add_u32(&data, "id", id);
  blobmsg_add_string(&data, "path", path.c_str());
  ubuswire::Builder body;
  body.u32(UBUS_ATTR_OBJID, listener->second).string(UBUS_ATTR_METHOD, event.c_str());
  body.nested(UBUS_ATTR_DATA, blob_data(data.head), blob_len(data.head));
  blob_buf_free(&data);
  sendTo(clientFd_, body.frame(UBUS_MSG_INVOKE, noticeSeq_++, 0));
  return true;
}

namespace {
// The one message a frame holds; false when it holds none whole.
bool messageOf(const std::vector<uint8_t>& frame, ubuswire::Message& msg) {
  ubuswire::FrameReader one;
  one.append(frame.data(), frame.size());
  return one.next(msg) == ubuswire::FrameReader::Result::Message;
}
}  // namespace

// True when the frame goes on to the broker.
bool BusTap::fromClient(std::vector<uint8_t>& frame) {
  ubuswire::Message msg;
  if (!messageOf(frame, msg)) return true;
  ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
  if (msg.type == UBUS_MSG_LOOKUP && tb[UBUS_ATTR_OBJPATH]) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!losePath_.empty() && losePath_ == ubuswire::getString(tb[UBUS_ATTR_OBJPATH])) {
      lookupsLost_++;
      return false;
    }
  }
  if (msg.type == UBUS_MSG_LOOKUP && failLookups_) {
    ubuswire::Builder status;
    status.u32(UBUS_ATTR_STATUS, UBUS_STATUS_UNKNOWN_ERROR);
    std::lock_guard<std::mutex> guard(lock_);
    sendTo(clientFd_, status.frame(UBUS_MSG_STATUS, msg.seq, msg.peer));
    lookupsFailed_++;
    return false;
  }
  // A listener's registration: which of the client's objects hears which notices.
  if (msg.type == UBUS_MSG_INVOKE && msg.peer == UBUS_SYSTEM_OBJECT_EVENT && tb[UBUS_ATTR_METHOD] &&
      strcmp(ubuswire::getString(tb[UBUS_ATTR_METHOD]), "register") == 0 && tb[UBUS_ATTR_DATA]) {
    static const blobmsg_policy policy[2] = {{"object", BLOBMSG_TYPE_INT32}, {"pattern", BLOBMSG_TYPE_STRING}};
    blob_attr* args[2] = {};
    blobmsg_parse(policy, 2, args, blob_data(tb[UBUS_ATTR_DATA]), blob_len(tb[UBUS_ATTR_DATA]));
    std::lock_guard<std::mutex> guard(lock_);
    if (args[0] && args[1]) listeners_[blobmsg_get_string(args[1])] = blobmsg_get_u32(args[0]);
  }
  return true;
}

// True when the frame goes on to the client.
bool BusTap::fromBroker(std::vector<uint8_t>& frame) {
  ubuswire::Message msg;
  if (!messageOf(frame, msg)) return true;
  if (msg.type != UBUS_MSG_INVOKE || msg.peer != 0) return true;
  ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
  if (!tb[UBUS_ATTR_METHOD] || strcmp(ubuswire::getString(tb[UBUS_ATTR_METHOD]), "ubus.object.remove") != 0 ||
      !tb[UBUS_ATTR_DATA])
    return true;
  static const blobmsg_policy policy = {"path", BLOBMSG_TYPE_STRING};
  blob_attr* path = nullptr;
  blobmsg_parse(&policy, 1, &path, blob_data(tb[UBUS_ATTR_DATA]), blob_len(tb[UBUS_ATTR_DATA]));
  std::lock_guard<std::mutex> guard(lock_);
  if (!path || dropPath_.empty() || dropPath_ != blobmsg_get_string(path)) return true;
  removalsDropped_++;
  return false;
}

void BusTap::run() {
  ubuswire::FrameReader fromClientBytes, fromBrokerBytes;
  for (;;) {
    std::vector<pollfd> fds = {{stopFd_, POLLIN, 0}, {clientFd_ >= 0 ? clientFd_ : listenFd_, POLLIN, 0}};
    if (brokerFd_ >= 0) fds.push_back({brokerFd_, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 1000) <= 0) continue;
    if (fds[0].revents) return;
    if (clientFd_ < 0 && fds[1].revents) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      const int broker = fd >= 0 ? unixSocket(brokerSocket_, false) : -1;
      if (broker < 0) {
        if (fd >= 0) close(fd);
        continue;
      }
      std::lock_guard<std::mutex> guard(lock_);
      clientFd_ = fd;
      brokerFd_ = broker;
      continue;
    }
    for (size_t i = 1; i < fds.size(); i++) {
      if (!fds[i].revents) continue;
      const bool client = fds[i].fd == clientFd_;
      uint8_t buf[65536];
      const ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
      if (n <= 0) {
        // Either side gone: the other sees it too.
        shutdown(clientFd_, SHUT_RDWR);
        shutdown(brokerFd_, SHUT_RDWR);
        return;
      }
      ubuswire::FrameReader& reader = client ? fromClientBytes : fromBrokerBytes;
      reader.append(buf, static_cast<size_t>(n));
      ubuswire::Message msg;
      std::vector<uint8_t> frame;
      while (nextFrame(reader, msg, frame)) {
        if (client ? fromClient(frame) : fromBroker(frame)) {
          if (client) {
            sendTo(brokerFd_, frame);
          } else {
            std::lock_guard<std::mutex> guard(lock_);
            if (holding_) {
              held_.insert(held_.end(), frame.begin(), frame.end());
              // Answers to the client's own requests are held too, but not counted: one still on
              // its way when the hold began would stand in for a notice or call a test waits for.
              if (msg.type == UBUS_MSG_INVOKE) heldCount_++;
            } else {
              sendTo(clientFd_, frame);
            }
          }
        }
      }
    }
  }
}

}  // namespace e2e
