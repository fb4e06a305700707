// Capture, decoding and sending of the PBX stand-in's media.

#include "pbxsim_media.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "g711.h"

namespace pbxmedia {

namespace {

void put16be(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void put32be(uint8_t* p, uint32_t v) {
  put16be(p, static_cast<uint16_t>(v >> 16));
  put16be(p + 2, static_cast<uint16_t>(v));
}

uint16_t get16be(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t get32be(const uint8_t* p) {
  return static_cast<uint32_t>(get16be(p)) << 16 | get16be(p + 2);
}

uint16_t ipChecksum(const uint8_t* header, size_t bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < bytes; i += 2) sum += get16be(header + i);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

template <typename T>
void putLe(FILE* f, T v) {
  uint8_t b[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); i++) b[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  fwrite(b, 1, sizeof(T), f);
}

// A new (or emptied) file to write; nullptr with the reason in `error`.
FILE* createFile(const std::string& path, std::string* error) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) *error = path + ": " + strerror(errno);
  return file;
}

constexpr uint32_t LINKTYPE_RAW = 101;
constexpr size_t IP_HEADER = 20, UDP_HEADER = 8;
constexpr size_t MAX_RTP = 65535 - IP_HEADER - UDP_HEADER;
// Addresses of the two ends as the capture shows them: the gateway sends to the PBX.
constexpr uint32_t GATEWAY_ADDRESS = 0xc0a80101;  // 192.168.1.1
constexpr uint32_t PBX_ADDRESS = 0xc0a8010a;      // 192.168.1.10

void writeWavHeader(FILE* f, int rate, uint32_t dataBytes) {
  fwrite("RIFF", 1, 4, f);
  putLe<uint32_t>(f, 36 + dataBytes);
  fwrite("WAVEfmt ", 1, 8, f);
  putLe<uint32_t>(f, 16);
  putLe<uint16_t>(f, 1);  // PCM
  putLe<uint16_t>(f, 1);  // mono
  putLe<uint32_t>(f, static_cast<uint32_t>(rate));
  putLe<uint32_t>(f, static_cast<uint32_t>(rate) * 2);
  putLe<uint16_t>(f, 2);
  putLe<uint16_t>(f, 16);
  fwrite("data", 1, 4, f);
  putLe<uint32_t>(f, dataBytes);
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The capture's clock: the time of day at which the packet passed, so that the capture shows
// when each packet really came and went.
uint64_t captureTimeUs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace

bool PcapWriter::open(const std::string& path, std::string* error) {
  close();
  if (!(file_ = createFile(path, error))) return false;
  putLe<uint32_t>(file_, 0xa1b2c3d4);  // microsecond time stamps
  putLe<uint16_t>(file_, 2);
  putLe<uint16_t>(file_, 4);
  putLe<int32_t>(file_, 0);
  putLe<uint32_t>(file_, 0);
  putLe<uint32_t>(file_, 65535);
  putLe<uint32_t>(file_, LINKTYPE_RAW);
  fflush(file_);
  return true;
}

void PcapWriter::write(std::span<const uint8_t> rtp, uint64_t timeUs, uint16_t srcPort,
                       uint16_t dstPort, Direction direction) {
  if (!file_ || rtp.size() > MAX_RTP) return;
  const size_t total = IP_HEADER + UDP_HEADER + rtp.size();
  uint8_t head[IP_HEADER + UDP_HEADER] = {};
  head[0] = 0x45;  // version 4, five-word header
  put16be(head + 2, static_cast<uint16_t>(total));
  put16be(head + 4, ipId_++);
  put16be(head + 6, 0x4000);  // don't fragment
  head[8] = 64;               // time to live
  head[9] = 17;               // UDP
  const bool fromGateway = direction == FROM_GATEWAY;
  put32be(head + 12, fromGateway ? GATEWAY_ADDRESS : PBX_ADDRESS);
  put32be(head + 16, fromGateway ? PBX_ADDRESS : GATEWAY_ADDRESS);
  put16be(head + 10, ipChecksum(head, IP_HEADER));
  put16be(head + 20, srcPort);
  put16be(head + 22, dstPort);
  put16be(head + 24, static_cast<uint16_t>(UDP_HEADER + rtp.size()));
  // A zero UDP checksum means "not computed", which IPv4 allows.
  putLe<uint32_t>(file_, static_cast<uint32_t>(timeUs / 1000000));
  putLe<uint32_t>(file_, static_cast<uint32_t>(timeUs % 1000000));
  putLe<uint32_t>(file_, static_cast<uint32_t>(total));
  putLe<uint32_t>(file_, static_cast<uint32_t>(total));
  fwrite(head, 1, sizeof(head), file_);
  fwrite(rtp.data(), 1, rtp.size(), file_);
  fflush(file_);
}

void PcapWriter::close() {
  if (file_) fclose(file_);
  file_ = nullptr;
}

bool WavFile::open(const std::string& path, int rate, std::string* error) {
  close();
  if (!(file_ = createFile(path, error))) return false;
  dataBytes_ = 0;
  writeWavHeader(file_, rate, 0);
  fflush(file_);
  return true;
}

void WavFile::write(std::span<const int16_t> samples) {
  if (!file_ || samples.empty()) return;
  for (int16_t s : samples) putLe<uint16_t>(file_, static_cast<uint16_t>(s));
  dataBytes_ += static_cast<uint32_t>(samples.size() * 2);
  // Sizes kept current: the file is valid whenever someone reads it.
  fseek(file_, 4, SEEK_SET);
  putLe<uint32_t>(file_, 36 + dataBytes_);
  fseek(file_, 40, SEEK_SET);
  putLe<uint32_t>(file_, dataBytes_);
  fseek(file_, 0, SEEK_END);
  fflush(file_);
}

void WavFile::close() {
  if (file_) fclose(file_);
  file_ = nullptr;
}

bool PayloadFile::open(const std::string& path, std::string* error) {
  close();
  return (file_ = createFile(path, error)) != nullptr;
}

void PayloadFile::write(std::span<const uint8_t> payload) {
  if (!file_ || payload.empty()) return;
  fwrite(payload.data(), 1, payload.size(), file_);
  fflush(file_);
}

void PayloadFile::close() {
  if (file_) fclose(file_);
  file_ = nullptr;
}

bool readWav8k(const std::string& path, std::vector<int16_t>* samples, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    *error = path + ": not a WAV file";
    return false;
  }
  bool formatOk = false;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = le32(bytes.data() + at + 4);
    const size_t body = at + 8;
    const size_t avail = bytes.size() - body;
    if (memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16 && avail >= 16) {
      const uint8_t* fmt = bytes.data() + body;
      formatOk = le16(fmt) == 1 && le16(fmt + 2) == 1 && le32(fmt + 4) == 8000 && le16(fmt + 14) == 16;
    } else if (memcmp(bytes.data() + at, "data", 4) == 0) {
      if (!formatOk) break;
      // A writer that never completed the size leaves it too large: take what is there.
      const size_t n = std::min<size_t>(size, avail) / 2;
      samples->resize(n);
      for (size_t i = 0; i < n; i++) (*samples)[i] = static_cast<int16_t>(le16(bytes.data() + body + 2 * i));
      return true;
    }
    at = body + size + (size & 1);
  }
  *error = path + ": needs 16-bit mono PCM at 8000 Hz";
  return false;
}

bool rtpParse(std::span<const uint8_t> p, RtpHeader* h) {
  if (p.size() < 12 || (p[0] >> 6) != 2) return false;
  size_t bytes = 12 + 4 * static_cast<size_t>(p[0] & 0x0f);
  if (p[0] & 0x10) {  // header extension
    if (p.size() < bytes + 4) return false;
    bytes += 4 + 4 * static_cast<size_t>(get16be(p.data() + bytes + 2));
  }
  if (bytes > p.size()) return false;
  size_t padding = 0;
  if (p[0] & 0x20) {  // the last byte counts the padding, itself included
    padding = p.back();
    if (padding == 0 || padding > p.size() - bytes) return false;
  }
  h->paddingBytes = padding;
  h->payloadType = p[1] & 0x7f;
  h->marker = (p[1] & 0x80) != 0;
  h->sequence = get16be(p.data() + 2);
  h->timestamp = get32be(p.data() + 4);
  h->ssrc = get32be(p.data() + 8);
  h->headerBytes = bytes;
  return true;
}

bool isRtcp(std::span<const uint8_t> p) {
  return p.size() >= 8 && (p[0] >> 6) == 2 && p[1] >= 200 && p[1] <= 207;
}

bool telephoneEventParse(std::span<const uint8_t> p, TelephoneEvent* e) {
  if (p.size() != 4) return false;  // the reserved bit is ignored, as a receiver must
  e->event = p[0];
  e->end = (p[1] & 0x80) != 0;
  e->volume = p[1] & 0x3f;
  e->duration = get16be(p.data() + 2);
  return true;
}

// All packets of one event carry its start time stamp; a new time stamp starts a new event.
void Receiver::onTelephoneEvent(const RtpHeader& h, const TelephoneEvent& e) {
  eventJustEnded_ = false;
  if (relayed_.empty() || relayed_.back().timestamp != h.timestamp || relayed_.back().payloadType != h.payloadType) {
    if (relayed_.size() == MAX_RELAYED_EVENTS) relayed_.erase(relayed_.begin());
    RelayedEvent r;
    r.payloadType = h.payloadType;
    r.event = e.event;
    r.volume = e.volume;
    r.timestamp = h.timestamp;
    r.marker = h.marker;
    relayed_.push_back(r);
  }
  RelayedEvent& r = relayed_.back();
  if (e.event != r.event || e.volume != r.volume || e.duration < r.lastDuration) r.steady = false;
  r.lastDuration = e.duration;
  if (!e.end) {
    r.updates++;
    if (r.ends > 0) r.afterEnd = true;
    return;
  }
  if (r.ends++ == 0) {
    r.endDuration = e.duration;
    eventJustEnded_ = true;
  } else if (e.duration != r.endDuration) {
    r.endsAgree = false;
  }
}

std::string describeRelayedEvent(const RelayedEvent& r) {
  char line[200];
  snprintf(line, sizeof line,
           "rtp event %u pt=%u volume=-%u duration=%u updates=%d ends=%d%s%s%s", r.event, r.payloadType,
           r.volume, r.endDuration, r.updates, r.ends, r.marker ? " marker" : "", r.steady ? "" : " unsteady",
           r.endsAgree && !r.afterEnd ? "" : " inconsistent-end");
  return line;
}

void Receiver::captureSent(std::span<const uint8_t> rtp) {
  if (!capturing) return;
  const uint16_t port = isRtcp(rtp) ? 5005 : 5004;
  pcap.write(rtp, captureTimeUs(), port, port, PcapWriter::TO_GATEWAY);
}

bool Receiver::onPacket(std::span<const uint8_t> rtp) {
  eventJustEnded_ = false;
  if (isRtcp(rtp)) {
    reports_++;
    if (capturing) pcap.write(rtp, captureTimeUs(), 5005, 5005);
    return false;
  }
  RtpHeader h;
  if (!rtpParse(rtp, &h)) return false;
  if (!started_ || h.ssrc != ssrc_) {
    // A new stream (a new connection) starts its own numbering.
    started_ = true;
    ssrc_ = h.ssrc;
    nextSequence_ = static_cast<uint16_t>(h.sequence + 1);
  } else {
    const uint16_t skipped = static_cast<uint16_t>(h.sequence - nextSequence_);
    // A late packet (reordered) was counted lost when its successor came; counting it again,
    // or going back to its number, would count the packets after it lost as well.
    if (skipped < 0x8000) {
      lost_ += skipped;
      nextSequence_ = static_cast<uint16_t>(h.sequence + 1);
    }
  }
  packets_++;
  if (capturing) pcap.write(rtp, captureTimeUs(), 5004, 5004);
  const std::span<const uint8_t> payload = rtp.subspan(h.headerBytes, rtp.size() - h.headerBytes - h.paddingBytes);
  TelephoneEvent event;
  if (h.payloadType >= 96 && telephoneEventParse(payload, &event)) {
    events_++;
    onTelephoneEvent(h, event);
    return true;
  }
  if (recording) record.write(payload);
  if (h.payloadType != PT_PCMA && h.payloadType != PT_PCMU) {
    undecoded_++;  // other codecs are kept in the capture and the recording only
    return true;
  }
  int16_t codes[1024], linear[1024];
  const int n = static_cast<int>(std::min<size_t>(payload.size(), 1024));
  for (int i = 0; i < n; i++) codes[i] = payload[static_cast<size_t>(i)];
  if (h.payloadType == PT_PCMA) g711AlawExpand(n, codes, linear);
  else g711UlawExpand(n, codes, linear);
  for (int i = 0; i < n; i++) energy_ += static_cast<double>(linear[i]) * linear[i];
  samples_ += static_cast<uint64_t>(n);
  if (decoding) wav.write({linear, static_cast<size_t>(n)});
  return true;
}

double Receiver::levelDbm0() const {
  if (samples_ == 0 || energy_ <= 0) return -99;
  // 0 dBm0 is a sine 3.14 dB below full scale.
  const double fullScaleSineRms = 32768.0 / std::sqrt(2.0);
  return 20 * std::log10(std::sqrt(energy_ / static_cast<double>(samples_)) / fullScaleSineRms) + 3.14;
}

bool Sender::open(const std::string& path, std::string* error) {
  samples_.clear();
  position_ = 0;
  return readWav8k(path, &samples_, error);
}

std::vector<uint8_t> Sender::next() {
  if (samples_.empty()) return {};
  if (position_ >= samples_.size()) {
    position_ = 0;  // the speech starts over: the stream goes on without a break
    passes_++;
  }
  std::vector<uint8_t> packet(12 + SAMPLES_PER_PACKET);
  packet[0] = 0x80;
  packet[1] = static_cast<uint8_t>(PT_PCMA | (packets_ == 0 ? 0x80 : 0));  // marker: talk spurt starts
  put16be(packet.data() + 2, sequence_++);
  put32be(packet.data() + 4, timestamp_);
  put32be(packet.data() + 8, 0x5eedf00d);
  timestamp_ += SAMPLES_PER_PACKET;
  int16_t linear[SAMPLES_PER_PACKET] = {}, codes[SAMPLES_PER_PACKET];
  const size_t n = std::min<size_t>(SAMPLES_PER_PACKET, samples_.size() - position_);
  memcpy(linear, samples_.data() + position_, n * 2);  // the last packet padded with silence
  position_ += n;
  g711AlawCompress(SAMPLES_PER_PACKET, linear, codes);
  for (int i = 0; i < SAMPLES_PER_PACKET; i++) packet[12 + static_cast<size_t>(i)] = static_cast<uint8_t>(codes[i]);
  packets_++;
  return packet;
}

}  // namespace pbxmedia
