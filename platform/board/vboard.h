// The virtual board: an in-process stand-in for the kernel drivers "/dev/dsphal" and
// "/dev/slicslac". It takes the same request numbers and argument records as the drivers and
// hands out real descriptors (eventfds), so that a caller can poll them as it would the drivers.
//
// Configuration comes from ORVOX_BOARD, a comma-separated list of fxs=N, fxo=N, dect=N and
// wideband=0|1 (default "fxs=2,fxo=1,dect=1"); channels are numbered DECT first, then FXS, then
// FXO, the order of the daemon's line table. ORVOX_TICK=fast runs ticks back to back instead of every 5 ms. The board is driven and
// observed through text commands (vboardCommand), which a control socket also serves:
// ORVOX_BOARD_SOCKET names it (default "/tmp/orvox_board.sock").
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// Opens a descriptor of one of the two devices; -1 with errno ENOENT for any other path.
int vboardOpen(const char* path, int flags);
// True when the descriptor was handed out by the virtual board and is still open.
bool vboardOwns(int fd);
int vboardIoctl(int fd, uint32_t request, unsigned long arg);
ssize_t vboardRead(int fd, void* buffer, size_t length);
ssize_t vboardWrite(int fd, const void* buffer, size_t length);
// Closes the descriptor; a tick wait blocked on it returns with an error.
int vboardClose(int fd);

struct VBOARD_CONFIG {
  int fxs = 2;
  int fxo = 1;
  int dect = 1;
  bool wideband = false;
};

// Parses a configuration text; false (with the reason in *error) on a bad entry.
bool vboardParseConfig(const std::string& text, VBOARD_CONFIG* config, std::string* error);

// Runs one control command ("0 offhook", "2 ring", "board", ...) and returns its answer: a
// first line beginning "OK" or "ERROR: ...".
std::string vboardCommand(const std::string& command);

// The control socket's path.
std::string vboardSocketPath();
