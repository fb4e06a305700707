// The receive audio pipe's framing as the daemon reads it: whole bus messages go to the bus's
// handler; a corrupt or partial message is dropped with one (rate-limited) "bad audio packet"
// line and the reader starts again at the next write, so that nothing a writer puts on the pipe
// can end the daemon.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_limit.h"
#include "tinyloop.h"

// Prints "bad audio packet" with a reason, rate-limited per process.
void badAudioPacket(const char* why);

// Feeds one read of the receive pipe (`event`, from a read of at most `readSize` bytes) to `bus`
// and delivers what is complete; returns the number of messages delivered.
int audioRxFeed(tl_bus_t* bus, const tl_event_t* event, size_t readSize);
