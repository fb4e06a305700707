// Audio of the virtual board: what a simulated phone or exchange sends (silence, a tone, a WAV
// file, dialled DTMF digits) and where received audio goes (a WAV file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// Amplitude of a sine of `dbm0` dBm0 (0 dBm0 is 3.14 dB below a full-scale sine).
double vboardToneAmplitude(double dbm0);

// A sample value as a 16-bit sample: saturated, then rounded half away from zero (std::lround)
// without the library call; v - trunc(v) is exact at this magnitude.
inline int16_t vboardSaturate(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  const double whole = __builtin_trunc(v);
  const double rest = v - whole;
  return static_cast<int16_t>(rest >= 0.5 ? whole + 1 : rest <= -0.5 ? whole - 1 : whole);
}

// A mono 16-bit PCM WAV file being read; it loops when it reaches its end.
class WavReader {
 public:
  // False (with the reason in *error) when the file is missing or not 16-bit mono PCM.
  bool open(const std::string& path, std::string* error);
  void close();
  bool isOpen() const { return file_ != nullptr; }
  int rate() const { return rate_; }
  void read(int16_t* samples, int count);
  ~WavReader() { close(); }

 private:
  FILE* file_ = nullptr;
  long dataStart_ = 0;
  uint32_t dataBytes_ = 0;
  uint32_t position_ = 0;
  int rate_ = 0;
};

// A mono 16-bit PCM WAV file being written; its header is completed on close.
class WavWriter {
 public:
  bool open(const std::string& path, int rate, std::string* error);
  void write(const int16_t* samples, int count);
  void close();
  bool isOpen() const { return file_ != nullptr; }
  ~WavWriter() { close(); }

 private:
  FILE* file_ = nullptr;
  uint32_t dataBytes_ = 0;
};

// A dialled DTMF digit: its two frequencies for `onSamples`, then silence for `offSamples`.
struct DtmfStep {
  char digit;
  int onSamples;
  int offSamples;
};

// What one channel sends towards the DSP.
class AudioSource {
 public:
  enum class Kind { SILENCE, TONE, WAV };
  void setSilence();
  void setTone(double f1, double f2, double dbm0);
  bool setWav(const std::string& path, int rate, std::string* error);
  // Queues digits; false when a digit is not 0-9, *, #, A-D or the queue would pass 64 digits.
  bool queueDtmf(const std::string& digits, int onSamples, int offSamples);
  bool dialling() const { return !dtmf_.empty(); }
  // Dialled digits play over the source; `overrideTone` (frequencies, level) stands in for
  // silence, as an exchange's dial tone does.
  void render(int16_t* samples, int count, int rate, const double* overrideTone = nullptr);
  std::string describe() const;

 private:
  Kind kind_ = Kind::SILENCE;
  double f1_ = 0, f2_ = 0, amplitude_ = 0;
  double phase1_ = 0, phase2_ = 0;
  std::string wavPath_;
  WavReader wav_;
  std::deque<DtmfStep> dtmf_;
  int dtmfPosition_ = 0;
  double dtmfPhaseLow_ = 0, dtmfPhaseHigh_ = 0;
};

// The two frequencies of a DTMF digit; false for a character that is not a digit.
bool vboardDtmfFrequencies(char digit, double* low, double* high);
