#include "halDrv.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "vboard.h"

int halDrvOpen(const char* path, int flags) {
  if (::access(path, F_OK) == 0) {
    return ::open(path, flags);
  }
  return vboardOpen(path, flags);
}

int halDrvIoctl(int fd, uint32_t request, unsigned long arg) {
  if (vboardOwns(fd)) {
    return vboardIoctl(fd, request, arg);
  }
  return ::ioctl(fd, request, arg);
}

ssize_t halDrvRead(int fd, void* buffer, size_t length) {
  if (vboardOwns(fd)) {
    return vboardRead(fd, buffer, length);
  }
  return ::read(fd, buffer, length);
}

ssize_t halDrvWrite(int fd, const void* buffer, size_t length) {
  if (vboardOwns(fd)) {
    return vboardWrite(fd, buffer, length);
  }
  return ::write(fd, buffer, length);
}

int halDrvClose(int fd) {
  if (vboardOwns(fd)) {
    return vboardClose(fd);
  }
  return ::close(fd);
}
