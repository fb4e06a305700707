// State of the virtual board, shared by its device, tick, line and control parts.
#pragma once

#include <time.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dsphalDrv.h"
#include "slicslacDrv.h"
#include "vboard.h"
#include "vboardAudio.h"

namespace vboard {

constexpr int MAX_CHANNELS = 8;
constexpr int TICK_MS = 5;
constexpr size_t MAX_TIMELINE = 256;  // mode and polarity changes kept per line
constexpr size_t MAX_RINGS = 64;      // ringing bursts kept per line
constexpr size_t MAX_EVENTS = 16;     // unread line-driver events per descriptor
constexpr size_t MAX_SCRIPTED = 16;   // scripted line-test results per line
constexpr size_t ECHO_HISTORY = 2048;  // egress samples kept for the hybrid's echo
constexpr int MAX_SAMPLES_PER_TICK = 80;  // 5 ms at 16 kHz
constexpr int MAX_HYBRID_DELAY_MS = 60;

int64_t nowMs();  // monotonic milliseconds

struct TimedValue {
  int64_t atMs;
  int value;
  int64_t clockMs = 0;  // a phone's hook clock at the change (SLIC modes only)
};

// A hook change scheduled on the monotonic clock (pulse dialling, hook flash).
struct HookStep {
  int64_t atMs;  // on the channel's hook clock
  bool offHook;
};

struct RingBurst {
  int64_t startMs;
  int64_t durationMs;  // -1 while ringing
  int64_t startClockMs;  // the same on the channel's hook clock
  int64_t clockMs;
};

// The line driver samples a phone's hook switch every 10 ms. The simulated phone moves on that
// sampling clock: each hook query of the driver is 10 ms of the phone's time. Pulse dialling and
// flashes are then seen exactly as timed, however late a busy machine runs the sampling task.
inline constexpr int64_t HOOK_SAMPLE_MS = 10;

struct Channel {
  dh_type type = DSPHAL_TYPE_NONE;
  dh_sample_rate rate = DSPHAL_RATE_8KHZ;
  bool enabled = true;
  bool clearChannel = false;
  bool initialised = false;
  int samplesPerTick() const { return rate == DSPHAL_RATE_16KHZ ? MAX_SAMPLES_PER_TICK : MAX_SAMPLES_PER_TICK / 2; }
  int sampleRate() const { return rate == DSPHAL_RATE_16KHZ ? 16000 : 8000; }

  // PCM towards the DSP (ingress) and from it (egress).
  AudioSource source;
  WavWriter sink;
  std::string sinkPath;
  std::vector<int16_t> ingressFrame;  // the frame being read
  size_t ingressOffset = 0;           // bytes of it already read
  std::vector<uint8_t> egressPending;  // bytes of a frame being written
  uint64_t ingressBytes = 0;
  uint64_t egressBytes = 0;
  uint64_t egressFrames = 0;
  std::array<int16_t, MAX_SAMPLES_PER_TICK> egressLastFrame{};  // the last full frame written
  int egressLastCount = 0;                                       // its samples; 0 before the first
  // A two-to-four-wire hybrid on the line: what the line plays comes back in what it takes,
  // `hybridDelay` samples later and attenuated by the echo return loss. Samples are indexed by
  // line time (the PCM DMA's tick each way included), so the echo path stays fixed whatever the
  // order of reads and writes.
  int hybridDelay = 0;  // samples; 0 when the line has no hybrid
  double hybridGain = 0;
  double hybridErlDb = 0;
  std::vector<int16_t> echoHistory;  // egress samples, a ring indexed by line time
  uint64_t echoWrittenUntil = 0;     // one past the last sample time written

  // A phone on an FXS port.
  bool offHook = false;
  int64_t hookClockMs = 0;  // HOOK_SAMPLE_MS per hook query of the line driver
  std::deque<HookStep> hookScript;
  int slicMode = SLIC_MODE_STANDBY;
  int polarity = 0;
  std::deque<TimedValue> modeTimeline;
  std::deque<TimedValue> polarityTimeline;
  std::deque<RingBurst> rings;
  SSARG_RINGPARMS ringParms{};
  int boostedLoopCurrent = 0;
  int powerSource = 0;
  int slicEnabled = 1;
  int fastSlicMode = 0;
  int testLoad = 0;
  SSARG_APM_PULSEMETERING metering{};
  int meteringRequests = 0;
  std::deque<ss_lt_result> scriptedTests;

  // An exchange line on an FXO port.
  int daaMode = DAA_MODE_ONHOOK;
  int64_t ringUntilMs = 0;    // ring bursts scheduled until this time
  int64_t ringStartMs = 0;
  int ringOnMs = 0, ringOffMs = 0;
  bool exchangeReversed = false;
};

// One descriptor handed out by the board.
struct Descriptor {
  enum class Device { DSPHAL, SLICSLAC } device;
  int channel = -1;  // bound by DSPHAL_CMD_INIT
  std::atomic<bool> closed{false};
  std::atomic<uint32_t> wakeWord{0};  // moved on close, so that a blocked tick wait returns
  std::deque<std::vector<uint8_t>> events;  // unread line-driver events
  // Holders: the board's table, and a tick wait in progress. The last one deletes it.
  std::atomic<int> refs{1};
};

void releaseDescriptor(Descriptor* d);


enum class Lockstep { OFF, LINE, STEP };

struct Board {
  std::mutex lock;
  bool configured = false;
  VBOARD_CONFIG config;
  std::vector<Channel> channels;
  std::map<int, Descriptor*> descriptors;  // each holds one reference
  int64_t startMs = 0;

  // DSP driver state.
  int frameMs = TICK_MS;
  bool tickEnabled = false;
  bool voiceIdle = false;
  int voiceIdleChanges = 0;
  int dspLogLevel = 0;
  bool fastTicks = false;
  timespec nextTick{};
  bool tickStarted = false;
  std::atomic<uint64_t> ticks{0};
  std::atomic<uint64_t> missedTicks{0};
  // Processor time the waiting thread spent between one tick and its next wait: the cost of a
  // tick's work, for measurements (the total, the worst and how many were timed).
  uint64_t tickCpuTotalNs = 0;
  uint64_t tickCpuWorstNs = 0;
  uint64_t tickCpuCount = 0;
  // Whether ticks are timed: reading a thread's processor time is a system call, twice a tick, so
  // the real tick is timed only under the tick profile or once "tickstats" has been asked for;
  // the fast tick of tests and benchmarks always is.
  std::atomic<bool> timeTicks{false};

  // Lockstep of the fast tick (vboardLockstep.cpp); `gate` is signalled whenever a side moves.
  Lockstep lockstep = Lockstep::OFF;
  std::condition_variable gate;
  uint64_t ticksDone = 0;      // ticks whose work has finished (the task came back to wait)
  uint64_t lockstepTicks = 0;  // ticks and hook clock when the lockstep began
  int64_t lockstepHookMs = 0;
  uint64_t stepLimit = 0;      // step: the ticks granted so far
  long tickThread = 0, hookThread = 0;  // the threads that last waited for a tick, sampled a hook
  int64_t hookMovedMs = 0, tickMovedMs = 0, stepGrantMs = 0;  // host ms of each side's last move

  // Line driver state.
  bool ssInitialised = false;
  int country = -1;
  int ssLogLevel = 0;
};

Board& board();
// Takes the configuration from ORVOX_BOARD on first use (call with the lock held).
void configure(Board& b);

int fail(int error);

// Device parts (lock held).
int dsphalIoctl(Board& b, Descriptor& d, uint32_t request, unsigned long arg);
int slicslacIoctl(Board& b, Descriptor& d, uint32_t request, unsigned long arg);
// The hook state after applying every scheduled step that is due.
bool phoneOffHook(Channel& ch);
void recordMode(Channel& ch, int mode);
void recordPolarity(Channel& ch, int polarity);
bool exchangeRinging(Channel& ch);

// Tick wait (lock not held).
int waitTick(Descriptor& d);
// Returns a tick wait on the descriptor at once (its close).
void wakeTickWait(Descriptor& d);

// PCM (lock held).
ssize_t readFrame(Board& b, Descriptor& d, void* buffer, size_t length);
// The RMS level of the last full frame written to the channel (0 before the first).
double egressLastLevel(const Channel& ch);
ssize_t writeFrame(Board& b, Descriptor& d, const void* buffer, size_t length);

// The control socket (started with the board).
void startControlServer();

// Lockstep of the fast tick (lock held; the waits release it while they wait).
bool lockstepTickMayRun(Board& b);
void lockstepTickDone(Board& b);
// False when the descriptor was closed during the wait.
bool lockstepWaitTick(Board& b, std::unique_lock<std::mutex>& lock, const Descriptor& d);
// After a hook sample of the line driver: holds its task while it leads the ticks.
void lockstepHookSampled(Board& b, std::unique_lock<std::mutex>& lock);
std::string lockstepCommand(Board& b, const std::vector<std::string>& w);
std::string stepCommand(Board& b, std::unique_lock<std::mutex>& lock, const std::vector<std::string>& w);

}  // namespace vboard
