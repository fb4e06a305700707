// One PCM frame per channel and tick: reads give what the phone, the exchange or the DECT
// handset sends towards the DSP; writes take what the DSP sends to them.

#include <cerrno>
#include <cmath>
#include <cstring>

#include "vboardInternal.h"

namespace vboard {

namespace {

// The exchange's dial tone while the FXO port holds the line: 425 Hz at -10 dBm0.
const double kDialTone[3] = {425.0, 0.0, -10.0};

void renderIngress(Channel& ch) {
  const int samples = ch.samplesPerTick();
  ch.ingressFrame.assign(static_cast<size_t>(samples), 0);
  const bool seized = ch.type == DSPHAL_TYPE_FXO && ch.daaMode == DAA_MODE_OFFHOOK;
  ch.source.render(ch.ingressFrame.data(), samples, ch.sampleRate(), seized ? kDialTone : nullptr);
  ch.ingressOffset = 0;
}

void takeEgressFrame(Channel& ch, const int16_t* samples, int count) {
  double energy = 0;
  for (int i = 0; i < count; ++i) energy += static_cast<double>(samples[i]) * samples[i];
  ch.egressLastLevel = std::sqrt(energy / count);
  ++ch.egressFrames;
  if (ch.sink.isOpen()) ch.sink.write(samples, count);
}

}  // namespace

ssize_t readFrame(Board& b, Descriptor& d, void* buffer, size_t length) {
  if (d.channel < 0 || d.channel >= static_cast<int>(b.channels.size())) return fail(EINVAL);
  Channel& ch = b.channels[d.channel];
  const size_t frameBytes = static_cast<size_t>(ch.samplesPerTick()) * sizeof(int16_t);
  if (ch.ingressFrame.empty() || ch.ingressOffset >= frameBytes) renderIngress(ch);
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
  ch.egressPending.insert(ch.egressPending.end(), bytes, bytes + n);
  ch.egressBytes += n;
  if (ch.egressPending.size() == frameBytes) {
    std::vector<int16_t> samples(static_cast<size_t>(ch.samplesPerTick()));
    std::memcpy(samples.data(), ch.egressPending.data(), frameBytes);
    takeEgressFrame(ch, samples.data(), ch.samplesPerTick());
    ch.egressPending.clear();
  }
  return static_cast<ssize_t>(n);
}

}  // namespace vboard
