// The board layer reaches both kernel drivers only through these calls. When a device node is
// missing (a development machine) the same requests go to the virtual board in process, which
// hands out real descriptors so that epoll works unchanged.
#pragma once

#include <sys/types.h>

#include <cstdint>

int halDrvOpen(const char* path, int flags);
int halDrvIoctl(int fd, uint32_t request, unsigned long arg);
ssize_t halDrvRead(int fd, void* buffer, size_t length);
ssize_t halDrvWrite(int fd, const void* buffer, size_t length);
int halDrvClose(int fd);
