#include "loop_timer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <sys/timerfd.h>
#include <unistd.h>

#include "orvoxd.h"

int loopTimerStart(loopTimer_t* timer, time_t seconds, tl_stream_handler_t handler,
                   const char* createError, const char* setError) {
  timer->stream = nullptr;
  timer->fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timer->fd < 0) {
    perror(createError);
    return -1;
  }
  if (loopTimerRearm(timer, seconds) != 0) {
    perror(setError);
    close(timer->fd);
    timer->fd = -1;
    return -1;
  }
  timer->stream = tl_stream_new(timer->fd);
  tl_stream_add_handler(timer->stream, 0, handler);
  tl_base_add_stream(tinyBase, timer->stream);
  return 0;
}

int loopTimerRearm(loopTimer_t* timer, time_t seconds) {
  struct itimerspec expiry {};
  expiry.it_value.tv_sec = seconds;
  return timerfd_settime(timer->fd, 0, &expiry, nullptr);
}

bool loopTimerExpired(const loopTimer_t* timer, const char* readError) {
  uint64_t expirations = 0;
  ssize_t n = read(timer->fd, &expirations, sizeof(expirations));
  if (n < 0 && errno != EAGAIN) perror(readError);
  return n == sizeof(expirations) && expirations != 0;
}

void loopTimerStop(loopTimer_t* timer, tl_stream_handler_t handler) {
  if (timer->stream) {
    tl_base_delete_stream(tinyBase, timer->stream);
    tl_stream_remove_handler(timer->stream, handler);
    tl_stream_free(timer->stream);
    timer->stream = nullptr;
  }
  if (timer->fd >= 0) close(timer->fd);
  timer->fd = -1;
}
