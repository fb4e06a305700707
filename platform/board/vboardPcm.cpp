// One PCM frame per channel and tick: reads give what the phone, the exchange or the DECT
// handset sends towards the DSP; writes take what the DSP sends to them.
//
// The PCM highway moves each direction through a double-buffered DMA of one tick, as the
// hardware does: the frame written at a tick is played on the line during the next tick period,
// while the one read at a tick was taken from the line during the period before it. A line's
// echo therefore returns to the DSP two ticks plus the echo path after the DSP sent it, which is
// the round trip the line echo canceller's bulk delay is placed after.

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstring>

#include "vboardInternal.h"

namespace vboard {

namespace {

// The exchange's dial tone while the FXO port holds the line: 425 Hz at -10 dBm0.
const double kDialTone[3] = {425.0, 0.0, -10.0};

static_assert((ECHO_HISTORY & (ECHO_HISTORY - 1)) == 0, "the echo ring is indexed by a mask");

// Adds the hybrid's echo: egress played `hybridDelay` samples earlier on the line. The DMA's
// two ticks mean every sample it needs was written at an earlier tick. The samples that have an
// echo are one run: line time at least the delay, and the time echoed already written and still
// in the ring.
void addEcho(Channel& ch, int16_t* samples, int count, uint64_t firstTime) {
  if (ch.hybridDelay <= 0 || ch.echoHistory.empty()) return;
  const int64_t delay = ch.hybridDelay, first = static_cast<int64_t>(firstTime);
  const int64_t written = static_cast<int64_t>(ch.echoWrittenUntil);
  const int64_t from = std::max<int64_t>({0, delay - first, written - static_cast<int64_t>(ECHO_HISTORY) + delay - first});
  const int64_t to = std::min<int64_t>(count, written + delay - first);
  const int16_t* history = ch.echoHistory.data();
  for (int64_t i = from; i < to; ++i) {
    const uint64_t echoed = static_cast<uint64_t>(first + i - delay);
    const double v = samples[i] + ch.hybridGain * history[echoed & (ECHO_HISTORY - 1)];
    samples[i] = vboardSaturate(v);
  }
}

// The line time (in samples, one tick late so that it never goes below zero) of the frames of
// the current tick T: the frame read was on the line during tick T - 1, the frame written plays
// during tick T + 1.
constexpr uint64_t DMA_TICKS_IN = 0;   // (T - 1) + 1
constexpr uint64_t DMA_TICKS_OUT = 2;  // (T + 1) + 1

uint64_t lineTime(const Board& b, const Channel& ch, uint64_t dmaTicks) {
  return (b.ticks.load() + dmaTicks) * static_cast<uint64_t>(ch.samplesPerTick());
}

void renderIngress(Board& b, Channel& ch) {
  const int samples = ch.samplesPerTick();
  ch.ingressFrame.assign(static_cast<size_t>(samples), 0);
  const bool seized = ch.type == DSPHAL_TYPE_FXO && ch.daaMode == DAA_MODE_OFFHOOK;
  ch.source.render(ch.ingressFrame.data(), samples, ch.sampleRate(), seized ? kDialTone : nullptr);
  addEcho(ch, ch.ingressFrame.data(), samples, lineTime(b, ch, DMA_TICKS_IN));
  ch.ingressOffset = 0;
}

void keepForEcho(const Board& b, Channel& ch, const int16_t* samples, int count) {
  if (ch.hybridDelay <= 0) return;
  if (ch.echoHistory.size() != ECHO_HISTORY) ch.echoHistory.assign(ECHO_HISTORY, 0);
  const uint64_t first = lineTime(b, ch, DMA_TICKS_OUT);
  for (int i = 0; i < count; ++i) ch.echoHistory[(first + static_cast<uint64_t>(i)) & (ECHO_HISTORY - 1)] = samples[i];
  ch.echoWrittenUntil = first + static_cast<uint64_t>(count);
}

void takeEgressFrame(Channel& ch, const int16_t* samples, int count) {
  ++ch.egressFrames;
  if (ch.sink.isOpen()) ch.sink.write(samples, count);
}

// A whole frame written: kept for the hybrid's echo and taken by the phone. It stays as the last
// frame, whose level is worked out only when someone asks for it.
void playFrame(const Board& b, Channel& ch, const uint8_t* frame) {
  const int count = ch.samplesPerTick();
  int16_t* samples = ch.egressLastFrame.data();
  std::memcpy(samples, frame, static_cast<size_t>(count) * sizeof(int16_t));
  ch.egressLastCount = count;
  keepForEcho(b, ch, samples, count);
  takeEgressFrame(ch, samples, count);
}

}  // namespace

double egressLastLevel(const Channel& ch) {
  const int count = ch.egressLastCount;
  if (count == 0) return 0;
  // Summed in integers, which a double holds exactly at these sizes: the same level, summed fast.
  int64_t energy = 0;
  for (int i = 0; i < count; ++i) energy += int32_t{ch.egressLastFrame[i]} * ch.egressLastFrame[i];
  return std::sqrt(static_cast<double>(energy) / count);
}

ssize_t readFrame(Board& b, Descriptor& d, void* buffer, size_t length) {
  if (d.channel < 0 || d.channel >= static_cast<int>(b.channels.size())) return fail(EINVAL);
  Channel& ch = b.channels[d.channel];
  const size_t frameBytes = static_cast<size_t>(ch.samplesPerTick()) * sizeof(int16_t);
  if (ch.ingressFrame.empty() || ch.ingressOffset >= frameBytes) renderIngress(b, ch);
  const size_t n = std::min(length, frameBytes - ch.ingressOffset);
  std::memcpy(buffer, reinterpret_cast<const uint8_t*>(ch.ingressFrame.data()) + ch.ingressOffset, n);
  ch.ingressOffset += n;
  ch.ingressBytes += n;
  return static_cast<ssize_t>(n);
}

ssize_t writeFrame(Board& b, Descriptor& d, const void* buffer, size_t length) {
  if (d.channel < 0 || d.channel >= static_cast<int>(b.channels.size())) return fail(EINVAL);
  Channel& ch = b.channels[d.channel];
  const size_t frameBytes = static_cast<size_t>(ch.samplesPerTick()) * sizeof(int16_t);
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  // At most one frame a call, as the driver takes it.
  const size_t n = std::min(length, frameBytes - ch.egressPending.size());
  ch.egressBytes += n;
  if (ch.egressPending.empty() && n == frameBytes) {  // a whole frame at once: nothing to gather
    playFrame(b, ch, bytes);
    return static_cast<ssize_t>(n);
  }
  ch.egressPending.insert(ch.egressPending.end(), bytes, bytes + n);
  if (ch.egressPending.size() == frameBytes) {
    playFrame(b, ch, ch.egressPending.data());
    ch.egressPending.clear();
  }
  return static_cast<ssize_t>(n);
}

}  // namespace vboard
