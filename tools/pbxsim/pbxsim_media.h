// What the PBX stand-in does with media: it keeps the RTP it receives as a capture file that
// packet analysers open (raw IPv4/UDP records), decodes G.711 payloads into a WAV file, decodes
// RFC 4733 telephone events, counts packets, losses and level, and sends speech from a WAV file
// as G.711 A-law RTP.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace pbxmedia {

// A capture file of IPv4/UDP datagrams (link type "raw IP"), one record per RTP packet, between
// two made-up addresses: the gateway's (the daemon) and the PBX's.
class PcapWriter {
 public:
  enum Direction { FROM_GATEWAY, TO_GATEWAY };
  bool open(const std::string& path, std::string* error);
  // `timeUs` is the record's time stamp (microseconds since 1970); the datagram goes from
  // `srcPort` to `dstPort`, from the gateway to the PBX or the other way.
  void write(std::span<const uint8_t> rtp, uint64_t timeUs, uint16_t srcPort, uint16_t dstPort,
             Direction direction = FROM_GATEWAY);
  void close();
  ~PcapWriter() { close(); }

 private:
  FILE* file_ = nullptr;
  uint16_t ipId_ = 0;
};

// A mono 16-bit PCM WAV file whose header is brought up to date after every write, so that it
// can be read while it grows and survives an abrupt end.
class WavFile {
 public:
  bool open(const std::string& path, int rate, std::string* error);
  void write(std::span<const int16_t> samples);
  void close();
  ~WavFile() { close(); }

 private:
  FILE* file_ = nullptr;
  uint32_t dataBytes_ = 0;
};

// The payloads of the received voice packets, back to back (for G.711 a raw A-law or u-law
// file): no RTP header, CSRC list, extension or padding, no control packet, no telephone event.
class PayloadFile {
 public:
  bool open(const std::string& path, std::string* error);
  void write(std::span<const uint8_t> payload);
  void close();
  ~PayloadFile() { close(); }

 private:
  FILE* file_ = nullptr;
};

// A mono 16-bit 8 kHz PCM WAV file read whole.
bool readWav8k(const std::string& path, std::vector<int16_t>* samples, std::string* error);

// Fields of a fixed RTP header; false when the packet is not RTP version 2 or is too short.
struct RtpHeader {
  uint8_t payloadType = 0;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  size_t headerBytes = 0;
  size_t paddingBytes = 0;  // at the end of the packet, after the payload
};
bool rtpParse(std::span<const uint8_t> packet, RtpHeader* header);
// True for a control packet (sender or receiver report and the other report types), which
// shares the version bits with RTP but carries no media.
bool isRtcp(std::span<const uint8_t> packet);

// One RFC 4733 telephone-event payload: event code, end bit, volume (-dBm0) and duration (RTP
// time-stamp units). False when the payload is not 4 bytes.
struct TelephoneEvent {
  uint8_t event = 0;
  bool end = false;
  uint8_t volume = 0;
  uint16_t duration = 0;
};
bool telephoneEventParse(std::span<const uint8_t> payload, TelephoneEvent* event);

// One relayed event as the packets of its RTP time stamp tell it: what it was, how it grew and
// how it ended. `steady` stays true while every packet names the same event and volume and no
// duration falls; `endDuration` is the duration of the first end packet and `endsAgree` says
// whether every later end packet repeated it.
struct RelayedEvent {
  uint8_t payloadType = 0;
  uint8_t event = 0;
  uint8_t volume = 0;
  uint32_t timestamp = 0;
  bool marker = false;  // on the event's first packet
  bool steady = true;
  int updates = 0;      // packets without the end bit
  int ends = 0;         // packets with it
  uint16_t lastDuration = 0;
  uint16_t endDuration = 0;
  bool endsAgree = true;
  bool afterEnd = false;  // a packet without the end bit came after an end packet
};

// The received stream of one connection: capture, decoding and counts.
class Receiver {
 public:
  PcapWriter pcap;
  WavFile wav;
  PayloadFile record;
  bool capturing = false;
  bool decoding = false;
  bool recording = false;

  // Takes one received packet; true when it carried media (RTP, not a control packet).
  bool onPacket(std::span<const uint8_t> rtp);
  // Puts a packet the PBX sends to the gateway into the capture beside the received ones.
  void captureSent(std::span<const uint8_t> rtp);
  uint64_t packets() const { return packets_; }
  uint64_t lost() const { return lost_; }
  uint64_t undecoded() const { return undecoded_; }
  uint64_t events() const { return events_; }
  uint64_t reports() const { return reports_; }
  // RMS level of everything decoded, in dBm0 (-99 for nothing or silence).
  double levelDbm0() const;
  // The telephone events received, oldest first (at most MAX_RELAYED_EVENTS are kept).
  const std::vector<RelayedEvent>& relayedEvents() const { return relayed_; }
  // Set when a packet's first end packet has just come in: the caller may print the event.
  bool eventJustEnded() const { return eventJustEnded_; }
  static constexpr size_t MAX_RELAYED_EVENTS = 256;

 private:
  bool started_ = false;
  uint16_t nextSequence_ = 0;
  uint32_t ssrc_ = 0;
  uint64_t packets_ = 0, lost_ = 0, undecoded_ = 0, events_ = 0, reports_ = 0;
  double energy_ = 0;
  uint64_t samples_ = 0;
  std::vector<RelayedEvent> relayed_;
  bool eventJustEnded_ = false;

  void onTelephoneEvent(const RtpHeader& header, const TelephoneEvent& event);
};

// One line describing a relayed event, as the PBX stand-in prints it.
std::string describeRelayedEvent(const RelayedEvent& event);

// Speech from a WAV file cut into 20 ms G.711 A-law RTP packets, the file over and over.
class Sender {
 public:
  bool open(const std::string& path, std::string* error);
  // True once the whole file has been sent (at least once).
  bool done() const { return passes_ > 0 || position_ >= samples_.size(); }
  // The next packet's RTP bytes (header and payload); empty for an empty file.
  std::vector<uint8_t> next();
  uint64_t packets() const { return packets_; }

 private:
  std::vector<int16_t> samples_;
  size_t position_ = 0;
  int passes_ = 0;
  uint16_t sequence_ = 0x1234;
  uint32_t timestamp_ = 0x10000;
  uint64_t packets_ = 0;
};

constexpr int SAMPLES_PER_PACKET = 160;  // 20 ms at 8 kHz
constexpr uint8_t PT_PCMU = 0;
constexpr uint8_t PT_PCMA = 8;

}  // namespace pbxmedia
