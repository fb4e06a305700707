#include "vboardAudio.h"

#include <cctype>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kMaxQueuedDigits = 64;
constexpr double kDtmfLevelDbm0 = -8.0;

struct WavHeader {
  char riff[4];
  uint32_t riffSize;
  char wave[4];
};

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

double vboardToneAmplitude(double dbm0) { return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0); }

bool vboardDtmfFrequencies(char digit, double* low, double* high) {
  static const char* keys = "123A456B789C*0#D";
  static const double rows[4] = {697, 770, 852, 941};
  static const double cols[4] = {1209, 1336, 1477, 1633};
  const char* at = std::strchr(keys, std::toupper(static_cast<unsigned char>(digit)));
  if (digit == '\0' || at == nullptr) return false;
  const int index = static_cast<int>(at - keys);
  *low = rows[index / 4];
  *high = cols[index % 4];
  return true;
}

// --- WAV files ---------------------------------------------------------------------------------

bool WavReader::open(const std::string& path, std::string* error) {
  close();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t header[12];
  if (std::fread(header, 1, 12, f) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WAVE", 4) != 0) {
    std::fclose(f);
    *error = path + " is not a WAV file";
    return false;
  }
  bool haveFormat = false;
  for (int chunks = 0; chunks < 64; ++chunks) {
    uint8_t chunk[8];
    if (std::fread(chunk, 1, 8, f) != 8) break;
    const uint32_t size = get32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && size < 256) {
      uint8_t fmt[256];
      if (std::fread(fmt, 1, size, f) != size) break;
      if (get16(fmt) != 1 || get16(fmt + 2) != 1 || get16(fmt + 14) != 16) {
        std::fclose(f);
        *error = path + " must be 16-bit mono PCM";
        return false;
      }
      rate_ = static_cast<int>(get32(fmt + 4));
      haveFormat = true;
      if (size & 1) std::fseek(f, 1, SEEK_CUR);
    } else if (std::memcmp(chunk, "data", 4) == 0 && haveFormat) {
      file_ = f;
      dataStart_ = std::ftell(f);
      dataBytes_ = size & ~1u;
      position_ = 0;
      return true;
    } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
      break;
    }
  }
  std::fclose(f);
  *error = path + " has no 16-bit PCM data";
  return false;
}

void WavReader::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void WavReader::read(int16_t* samples, int count) {
  std::memset(samples, 0, sizeof(int16_t) * static_cast<size_t>(count));
  if (file_ == nullptr || dataBytes_ < 2) return;
  for (int i = 0; i < count; ++i) {
    if (position_ + 2 > dataBytes_) {
      position_ = 0;
      std::fseek(file_, dataStart_, SEEK_SET);
    }
    uint8_t b[2];
    if (std::fread(b, 1, 2, file_) != 2) return;
    samples[i] = static_cast<int16_t>(get16(b));
    position_ += 2;
  }
}

bool WavWriter::open(const std::string& path, int rate, std::string* error) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t header[44] = {};
  std::memcpy(header, "RIFF", 4);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  put32(header + 16, 16);
  put16(header + 20, 1);
  put16(header + 22, 1);
  put32(header + 24, static_cast<uint32_t>(rate));
  put32(header + 28, static_cast<uint32_t>(rate) * 2);
  put16(header + 32, 2);
  put16(header + 34, 16);
  std::memcpy(header + 36, "data", 4);
  std::fwrite(header, 1, sizeof(header), file_);
  dataBytes_ = 0;
  return true;
}

void WavWriter::write(const int16_t* samples, int count) {
  if (file_ == nullptr) return;
  for (int i = 0; i < count; ++i) {
    uint8_t b[2];
    put16(b, static_cast<uint16_t>(samples[i]));
    std::fwrite(b, 1, 2, file_);
  }
  dataBytes_ += static_cast<uint32_t>(count) * 2;
}

void WavWriter::close() {
  if (file_ == nullptr) return;
  uint8_t size[4];
  put32(size, dataBytes_ + 36);
  std::fseek(file_, 4, SEEK_SET);
  std::fwrite(size, 1, 4, file_);
  put32(size, dataBytes_);
  std::fseek(file_, 40, SEEK_SET);
  std::fwrite(size, 1, 4, file_);
  std::fclose(file_);
  file_ = nullptr;
}

// --- Sources -------------------------------------------------------------------------------------

void AudioSource::setSilence() {
  kind_ = Kind::SILENCE;
  wav_.close();
}

void AudioSource::setTone(double f1, double f2, double dbm0) {
  wav_.close();
  kind_ = Kind::TONE;
  f1_ = f1;
  f2_ = f2;
  amplitude_ = vboardToneAmplitude(dbm0);
  phase1_ = phase2_ = 0;
}

bool AudioSource::setWav(const std::string& path, int rate, std::string* error) {
  WavReader probe;
  if (!probe.open(path, error)) return false;
  if (probe.rate() != rate) {
    *error = path + " is sampled at " + std::to_string(probe.rate()) + " Hz, the line at " +
             std::to_string(rate) + " Hz";
    return false;
  }
  probe.close();
  wav_.open(path, error);
  kind_ = Kind::WAV;
  wavPath_ = path;
  return true;
}

bool AudioSource::queueDtmf(const std::string& digits, int onSamples, int offSamples) {
  if (digits.empty() || dtmf_.size() + digits.size() > kMaxQueuedDigits) return false;
  double low, high;
  for (char d : digits) {
    if (!vboardDtmfFrequencies(d, &low, &high)) return false;
  }
  for (char d : digits) dtmf_.push_back({d, onSamples, offSamples});
  return true;
}

void AudioSource::render(int16_t* samples, int count, int rate, const double* overrideTone) {
  switch (kind_) {
    case Kind::WAV:
      wav_.read(samples, count);
      break;
    case Kind::TONE:
    case Kind::SILENCE: {
      if (kind_ == Kind::SILENCE && overrideTone == nullptr) {
        std::fill_n(samples, count, int16_t{0});
        break;
      }
      const double f1 = kind_ == Kind::TONE ? f1_ : overrideTone[0];
      const double f2 = kind_ == Kind::TONE ? f2_ : overrideTone[1];
      const double amp = kind_ == Kind::TONE ? amplitude_ : vboardToneAmplitude(overrideTone[2]);
      for (int i = 0; i < count; ++i) {
        const double v = amp * std::sin(phase1_) + (f2 > 0 ? amp * std::sin(phase2_) : 0);
        phase1_ = std::fmod(phase1_ + kTwoPi * f1 / rate, kTwoPi);
        phase2_ = std::fmod(phase2_ + kTwoPi * f2 / rate, kTwoPi);
        samples[i] = vboardSaturate(v);
      }
      break;
    }
  }
  // Dialled digits replace the source while they sound.
  if (dtmf_.empty()) return;
  const double amp = vboardToneAmplitude(kDtmfLevelDbm0);
  for (int i = 0; i < count && !dtmf_.empty(); ++i) {
    const DtmfStep& step = dtmf_.front();
    if (dtmfPosition_ < step.onSamples) {
      double low = 0, high = 0;
      vboardDtmfFrequencies(step.digit, &low, &high);
      samples[i] = vboardSaturate(amp * std::sin(dtmfPhaseLow_) + amp * std::sin(dtmfPhaseHigh_));
      dtmfPhaseLow_ = std::fmod(dtmfPhaseLow_ + kTwoPi * low / rate, kTwoPi);
      dtmfPhaseHigh_ = std::fmod(dtmfPhaseHigh_ + kTwoPi * high / rate, kTwoPi);
    } else {
      samples[i] = 0;
    }
    if (++dtmfPosition_ >= step.onSamples + step.offSamples) {
      dtmf_.pop_front();
      dtmfPosition_ = 0;
      dtmfPhaseLow_ = dtmfPhaseHigh_ = 0;
    }
  }
}

std::string AudioSource::describe() const {
  switch (kind_) {
    case Kind::TONE:
      return "tone " + std::to_string(static_cast<int>(f1_)) +
             (f2_ > 0 ? "+" + std::to_string(static_cast<int>(f2_)) : "") + " Hz";
    case Kind::WAV:
      return "wav " + wavPath_;
    default:
      return "silence";
  }
}
