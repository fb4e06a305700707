// One-shot timers on the daemon's loop: a timerfd on CLOCK_MONOTONIC whose expiry makes a loop
// stream readable, so that time-outs run on the loop thread like every other handler.
#pragma once

#include <ctime>

#include "tinyloop.h"

struct loopTimer_t {
  int fd;               // -1 when the timer is not started
  tl_stream_t* stream;  // the stream on fd, handed to the handler on expiry
};

// Starts `timer` (zeroed or stopped) so that `handler` gets its stream `seconds` from now; 0
// seconds leaves it disarmed. On failure prints `createError` or `setError` through perror,
// leaves the timer stopped and returns -1.
int loopTimerStart(loopTimer_t* timer, time_t seconds, tl_stream_handler_t handler,
                   const char* createError, const char* setError);
// Starts the count again from now.
int loopTimerRearm(loopTimer_t* timer, time_t seconds);
// Reads the expiry count from the handler: true when the timer has expired. A read error other
// than "nothing yet" prints `readError` through perror.
bool loopTimerExpired(const loopTimer_t* timer, const char* readError);
// Takes the timer off the loop and closes it; safe on a stopped timer.
void loopTimerStop(loopTimer_t* timer, tl_stream_handler_t handler);
