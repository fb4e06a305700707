// The PBX stand-in as the virtual board's clock: with the board's fast tick in step lockstep,
// every tick runs only when pbxsim grants it, after the packets that pbxsim owes the daemon for the
// ticks before it have been taken in. The speech it sends then meets the DSP at the same tick of
// board time in every run, whatever the machine's load.
#pragma once

#include <string>

namespace pbxstep {

// One command to the board's control socket; its answer, or "" when the board cannot be reached.
std::string boardCommand(const std::string& socketPath, const std::string& command);

class Stepper {
 public:
  explicit Stepper(std::string socketPath) : path_(std::move(socketPath)) {}
  // Takes the board's tick over once its control socket is there; false while it is not.
  bool engage();
  // Grants one tick and returns once it has run; false when the board has gone (the stepper then
  // waits to engage again).
  bool step();
  // Hands the tick back to the board.
  void release();
  bool engaged() const { return engaged_; }
  unsigned long long steps() const { return steps_; }

 private:
  std::string path_;
  bool engaged_ = false;
  unsigned long long steps_ = 0;
};

// Waits until the reader of the pipe written through `fd` has taken everything out of it; false
// when it has not within `limitMs` (a reader busy elsewhere).
bool waitPipeDrained(int fd, int limitMs);

}  // namespace pbxstep
