// The board's control socket as pbxsim uses it to drive the tick.
#include "pbxsim_step.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace pbxstep {

std::string boardCommand(const std::string& socketPath, const std::string& command) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path)) return "";
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    const std::string line = command + "\n";
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
      char buf[256];
      for (ssize_t n; (n = ::read(fd, buf, sizeof(buf))) > 0;) answer.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

bool Stepper::engage() {
  if (engaged_) return true;
  const std::string answer = boardCommand(path_, "lockstep step");
  if (answer.rfind("OK", 0) != 0) return false;
  engaged_ = true;
  std::printf("pbxsim: stepping the board's tick\n");
  std::fflush(stdout);
  return true;
}

bool Stepper::step() {
  if (!engaged_) return false;
  const std::string answer = boardCommand(path_, "step");
  if (answer.rfind("OK", 0) != 0) {
    engaged_ = false;
    std::printf("pbxsim: the board stopped taking steps after %llu: %s\n", steps_,
                answer.empty() ? "gone\n" : answer.c_str());
    std::fflush(stdout);
    return false;
  }
  ++steps_;
  return true;
}

void Stepper::release() {
  if (engaged_) boardCommand(path_, "lockstep off");
  engaged_ = false;
}

bool waitPipeDrained(int fd, int limitMs) {
  const timespec pause{0, 20000};  // 20 us
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int unread = 0;
    if (::ioctl(fd, FIONREAD, &unread) != 0 || unread == 0) return true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 >= limitMs) return false;
    nanosleep(&pause, nullptr);
  }
}

}  // namespace pbxstep
