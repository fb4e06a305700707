// A fax call through the production orvoxd on the virtual board: a G.711 connection on line 0,
// then the phone plays a fax calling tone (1100 Hz, 0.5 s on, 3 s off). The channel switches to
// its fax stack: speech stops, T.38 (UDPTL) datagrams leave through the transmit audio pipe and
// datagrams written into the receive audio pipe reach the channel's fax stack instead of being
// refused as bad audio. The test is the PBX's media side itself: it reads and writes the audio
// pipes. The board runs on the fast tick; every wait is on how much audio the board has moved.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cmath>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include <spandsp.h>

#include "call_audio.h"
#include "board_daemon_fixture.h"
#include "pbxsim_media.h"
#include "pbxsim_step.h"

namespace e2e {
namespace {

using namespace callaudio;

struct Frame {
  int32_t line;
  int32_t cnx;
  std::vector<uint8_t> packet;
};

bool isRtp(const std::vector<uint8_t>& p) { return p.size() >= 12 && p[0] == 0x80; }
// A control report (sender or receiver report and the other report types).
bool isRtcp(const std::vector<uint8_t>& p) { return p.size() >= 8 && (p[0] & 0xC0) == 0x80 && p[1] >= 200 && p[1] <= 207; }

// The fields of a UDPTL datagram that carries secondary IFP packets; false for anything else, and
// for any length that runs past the datagram.
struct Udptl {
  uint16_t sequence = 0;
  std::vector<uint8_t> primary;
  std::vector<std::vector<uint8_t>> secondaries;
};

bool readLength(const std::vector<uint8_t>& d, size_t* at, size_t* length) {
  if (*at >= d.size()) return false;
  const uint8_t first = d[(*at)++];
  if (first < 0x80) {
    *length = first;
    return true;
  }
  if ((first & 0xC0) != 0x80 || *at >= d.size()) return false;
  *length = (static_cast<size_t>(first & 0x3F) << 8) | d[(*at)++];
  return true;
}

bool parseUdptl(const std::vector<uint8_t>& d, Udptl* out) {
  if (d.size() < 5) return false;
  out->sequence = static_cast<uint16_t>(d[0] << 8 | d[1]);
  size_t at = 2, length = 0;
  if (!readLength(d, &at, &length) || length == 0 || at + length > d.size()) return false;
  out->primary.assign(d.begin() + at, d.begin() + at + length);
  at += length;
  if (at + 2 > d.size() || d[at] != 0x00) return false;  // secondary IFP packets only
  const size_t count = d[at + 1];
  at += 2;
  out->secondaries.clear();
  for (size_t i = 0; i < count; ++i) {
    if (!readLength(d, &at, &length) || at + length > d.size()) return false;
    out->secondaries.emplace_back(d.begin() + at, d.begin() + at + length);
    at += length;
  }
  return at == d.size();
}

// The PBX's side of the two audio pipes.
class AudioPipes {
 public:
  bool open(const std::string& dir) {
    tx_ = ::open((dir + "/endpt_audio_tx").c_str(), O_RDWR | O_NONBLOCK);
    rx_ = ::open((dir + "/endpt_audio_rx").c_str(), O_RDWR | O_NONBLOCK);
    if (tx_ < 0 || rx_ < 0) return false;
    running_ = true;
    reader_ = std::thread([this] { read(); });
    return true;
  }
  ~AudioPipes() {
    running_ = false;
    if (reader_.joinable()) reader_.join();
    if (tx_ >= 0) ::close(tx_);
    if (rx_ >= 0) ::close(rx_);
  }
  // One frame {line, connection, size} + packet as one bus message.
  bool send(int32_t line, int32_t cnx, const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> m(16 + packet.size());
    const uint32_t payload = static_cast<uint32_t>(12 + packet.size()), size = static_cast<uint32_t>(packet.size());
    std::memcpy(m.data(), &payload, 4);
    std::memcpy(m.data() + 4, &line, 4);
    std::memcpy(m.data() + 8, &cnx, 4);
    std::memcpy(m.data() + 12, &size, 4);
    std::memcpy(m.data() + 16, packet.data(), packet.size());
    return ::write(rx_, m.data(), m.size()) == static_cast<ssize_t>(m.size());
  }
  int receiveFd() const { return rx_; }
  std::vector<Frame> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  // Waits until everything written to the transmit pipe so far has been read and taken apart.
  void drain() {
    for (;;) {
      int pending = 0;
      if (ioctl(tx_, FIONREAD, &pending) != 0) return;
      if (pending == 0 && !busy_.load()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  void read() {
    std::vector<uint8_t> pending;
    uint8_t buf[8192];
    while (running_) {
      pollfd p{tx_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      busy_ = true;  // before the read: while the data is unread the pipe shows it
      const ssize_t n = ::read(tx_, buf, sizeof buf);
      if (n <= 0) {
        busy_ = false;
        continue;
      }
      pending.insert(pending.end(), buf, buf + n);
      for (;;) {
        if (pending.size() < 4) break;
        uint32_t size = 0;
        std::memcpy(&size, pending.data(), 4);
        if (pending.size() < 4 + size) break;
        if (size >= 12) {
          Frame f;
          uint32_t packetSize = 0;
          std::memcpy(&f.line, pending.data() + 4, 4);
          std::memcpy(&f.cnx, pending.data() + 8, 4);
          std::memcpy(&packetSize, pending.data() + 12, 4);
          if (packetSize <= size - 12) f.packet.assign(pending.begin() + 16, pending.begin() + 16 + packetSize);
          std::lock_guard<std::mutex> lock(mutex_);
          frames_.push_back(std::move(f));
        }
        pending.erase(pending.begin(), pending.begin() + 4 + size);
      }
      busy_ = false;
    }
  }
  int tx_ = -1, rx_ = -1;
  std::atomic<bool> running_{false};
  std::atomic<bool> busy_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::vector<Frame> frames_;
};

// A fax calling tone: 0.5 s of 1100 Hz at -10 dBm0, then 3 s of silence, `bursts` times.
std::vector<int16_t> callingTone(int bursts) {
  std::vector<int16_t> x;
  for (int b = 0; b < bursts; ++b) {
    for (int i = 0; i < RATE / 2; ++i) x.push_back(static_cast<int16_t>(std::lround(7200 * std::sin(2 * M_PI * 1100 * i / RATE))));
    x.insert(x.end(), 3 * RATE, 0);
  }
  return x;
}

// Share of the block's energy at `hz` (a Goertzel filter against the block's total energy).
double toneShare(const std::vector<int16_t>& x, size_t from, size_t n, double hz) {
  const double w = 2 * M_PI * hz / RATE, k = 2 * std::cos(w);
  double s1 = 0, s2 = 0, total = 0;
  for (size_t i = from; i < from + n; ++i) {
    const double s0 = x[i] + k * s1 - s2;
    s2 = s1;
    s1 = s0;
    total += static_cast<double>(x[i]) * x[i];
  }
  const double power = s1 * s1 + s2 * s2 - k * s1 * s2;  // |X(hz)|^2
  return total > 0 ? 2 * power / (static_cast<double>(n) * total) : 0;
}

// UDPTL datagram of sequence number `seq` whose primary IFP is the indicator `type`.
std::vector<uint8_t> indicatorDatagram(uint16_t seq, uint8_t type) {
  return {static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), 0x01, static_cast<uint8_t>(type << 1), 0x00, 0x00};
}

// A final CSI frame (address, control, FCF, 20 identity octets) as its octets go on the line,
// first bit least significant (as spandsp's HDLC coder has them).
std::vector<uint8_t> csiFrame() {
  std::vector<uint8_t> f = {0xFF, 0x13, 0x40};
  for (char c : std::string("        54321 01 64+")) f.push_back(static_cast<uint8_t>(c));
  return f;
}

uint8_t bitReversed(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

// UDPTL datagram whose primary IFP is V.21 data: the frame's octets, then "FCS OK, signal end".
// T.38 carries each HDLC octet with its first bit on the line as the most significant.
std::vector<uint8_t> finalV21FrameDatagram(uint16_t seq, const std::vector<uint8_t>& frame) {
  const size_t n = frame.size();
  std::vector<uint8_t> ifp = {0xC0, 0x02, 0x80, static_cast<uint8_t>((n - 1) >> 8), static_cast<uint8_t>(n - 1)};
  for (uint8_t b : frame) ifp.push_back(bitReversed(b));
  ifp.push_back(0x40);
  std::vector<uint8_t> d = {static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), static_cast<uint8_t>(ifp.size())};
  d.insert(d.end(), ifp.begin(), ifp.end());
  d.push_back(0x00);
  d.push_back(0x00);
  return d;
}

// HDLC frames in V.21 channel 2 audio, found by spandsp's FSK receiver and HDLC decoder.
struct V21Frames {
  std::vector<std::vector<uint8_t>> good;
  int bad = 0;
};

V21Frames decodeV21(std::vector<int16_t> audio) {
  V21Frames out;
  hdlc_rx_state_t* hdlc = hdlc_rx_init(
      nullptr, false, true, 2,
      [](void* user, const uint8_t* pkt, int len, int ok) {
        auto* f = static_cast<V21Frames*>(user);
        if (len < 0) return;  // status reports
        if (ok) {
          f->good.emplace_back(pkt, pkt + len);
        } else {
          f->bad++;
        }
      },
      &out);
  fsk_rx_state_t* fsk = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC,
                                    reinterpret_cast<put_bit_func_t>(hdlc_rx_put_bit), hdlc);
  fsk_rx(fsk, audio.data(), static_cast<int>(audio.size()));
  fsk_rx_free(fsk);
  hdlc_rx_free(hdlc);
  return out;
}

class FaxCall : public BoardDaemonFixture {
 protected:
  void startSystem() {
    std::string cfg = "\nconfig tel 'TEL'\n\toption country 'USA'\n";
    // No silence suppression: speech leaves in every packet time until the switch.
    for (int i = 0; i < 2; i++) {
      cfg += "\nconfig line 'telline" + std::to_string(i) + "'\n\toption name 'Line" + std::to_string(i) +
             "'\n\toption echo_cancel '1'\n\toption vad '0'\n\toption noise '0'\n\toption txgain '0'\n\toption "
             "rxgain '0'\n";
    }
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(cfg));
    ASSERT_NO_FATAL_FAILURE(startBoardDaemon());
    ASSERT_TRUE(pipes.open(dir.path()));
  }

  // The phone off hook and a G.711 connection on line 0 for a second of board time; `cng` holds
  // a calling tone of `bursts` bursts for the phone to play.
  void startCall(const std::string& cng, int bursts) {
    writeWav(cng, callingTone(bursts));
    ASSERT_NO_FATAL_FAILURE(startSystem());
    board("0 offhook");
    ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
    ASSERT_NO_FATAL_FAILURE(waitBoard(1000));
  }

  // Milliseconds of audio the board has taken from the phone on line 0.
  long long boardMs() {
    const std::string st = board("0 status");
    const size_t at = st.find("ingressBytes=");
    return at == std::string::npos ? -1 : std::atoll(st.c_str() + at + 13) / 16;
  }

  // Waits (at most 60 s of host time) until the board has moved `ms` more of the phone's audio.
  void waitBoard(long long ms) {
    const long long target = boardMs() + ms;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (boardMs() < target && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    ASSERT_GE(boardMs(), target) << "the board stopped moving audio";
  }

  int count(bool (*kind)(const Frame&)) {
    int n = 0;
    for (const Frame& f : pipes.frames()) n += kind(f) ? 1 : 0;
    return n;
  }

  // The daemon has handled every frame written before: a frame for a connection that does not
  // exist, written after them, has been refused.
  // Sends a packet for a connection that does not exist and waits for its refusal, which the
  // daemon logs after handling everything sent before it: `refused` is the count of "bad audio
  // packet" lines to expect once it has, the sync packet's own included. (Counting the lines
  // only after the earlier packets were sent would race with their refusals.)
  void syncReceivePipe(int refused) {
    ASSERT_TRUE(pipes.send(0, 99, {0x80, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xD5}));
    ASSERT_TRUE(daemon->waitFor("bad audio packet", 10000ms, refused)) << daemon->output();
  }

  // Polls `condition` for at most 20 s of host time.
  static bool eventually(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  AudioPipes pipes;
};

bool rtpOfCall(const Frame& f) { return f.line == 0 && f.cnx == 1 && isRtp(f.packet) && (f.packet[1] & 0x7F) == 8; }
bool udptlOfCall(const Frame& f) {
  Udptl d;
  return f.line == 0 && f.cnx == 1 && !isRtp(f.packet) && parseUdptl(f.packet, &d);
}

TEST_F(FaxCall, CallingToneSwitchesTheConnectionToT38AndItsDatagramsCrossTheAudioPipes) {
  const std::string cng = dir.file("cng.wav");
  ASSERT_NO_FATAL_FAILURE(startCall(cng, 3));
  ASSERT_TRUE(eventually([&] { return count(rtpOfCall) >= 40; })) << count(rtpOfCall) << daemon->output();
  const int voicePackets = count(rtpOfCall);

  // A voice connection refuses what is not RTP.
  const int badBefore = daemon->count("bad audio packet");
  ASSERT_TRUE(pipes.send(0, 1, indicatorDatagram(0, 2)));
  ASSERT_NO_FATAL_FAILURE(syncReceivePipe(badBefore + 2));
  EXPECT_EQ(daemon->count("bad audio packet"), badBefore + 2);

  // The calling tone. Within its first burst the channel moves to its fax stack: speech stops,
  // a whole second of the phone's audio gives at most the packet that was on its way.
  board("0 play " + cng);
  int windows = 0;
  for (int before = count(rtpOfCall); windows < 8; ++windows) {
    ASSERT_NO_FATAL_FAILURE(waitBoard(1000));
    pipes.drain();
    const int now = count(rtpOfCall);
    if (now - before <= 1) break;
    before = now;
  }
  EXPECT_LT(windows, 3) << "speech still leaves after the calling tone";

  // The fax stack relays the calling tone: a CNG indicator in a UDPTL datagram, sequence number
  // 0 first, for each burst it hears.
  ASSERT_TRUE(eventually([&] { return count(udptlOfCall) > 0; })) << daemon->output();
  std::vector<Udptl> sent;
  for (const Frame& f : pipes.frames()) {
    Udptl d;
    if (udptlOfCall(f) && parseUdptl(f.packet, &d)) sent.push_back(d);
  }
  EXPECT_EQ(sent.front().sequence, 0);
  EXPECT_EQ(sent.front().primary, std::vector<uint8_t>{0x02});
  for (size_t i = 1; i < sent.size(); ++i) {
    // A datagram is repeated with its own number after the signal ends; a new one takes the next.
    EXPECT_TRUE(sent[i].sequence == sent[i - 1].sequence || sent[i].sequence == sent[i - 1].sequence + 1)
        << sent[i - 1].sequence << " then " << sent[i].sequence;
  }

  // The endpoint library learns of the switch from the channel's mode event, on its dispatcher,
  // which runs every event it holds before the next request: after half a second of board time
  // the event has been posted, and a request through the dispatcher (a signal that changes
  // nothing) has it taken in.
  ASSERT_NO_FATAL_FAILURE(waitBoard(500));
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"dial","state":"off"})"), 0) << daemon->output();

  // Datagrams from the PBX now reach the fax stack: the daemon takes them (nothing refused, no
  // error from the library), even one whose sequence number makes it look like RTP. The fax
  // stack plays what they carry to the phone: the answer tone, then a V.21 preamble and frame.
  const std::string speaker = dir.file("speaker.wav");
  board("0 record " + speaker);
  const int badAfter = daemon->count("bad audio packet");
  const std::vector<uint8_t> frame = csiFrame();
  ASSERT_TRUE(pipes.send(0, 1, indicatorDatagram(0, 2)));
  ASSERT_TRUE(pipes.send(0, 1, indicatorDatagram(0x8001, 2)));
  ASSERT_TRUE(pipes.send(0, 1, indicatorDatagram(1, 3)));
  ASSERT_TRUE(pipes.send(0, 1, finalV21FrameDatagram(2, frame)));
  ASSERT_NO_FATAL_FAILURE(syncReceivePipe(badAfter + 1));
  EXPECT_EQ(daemon->count("bad audio packet"), badAfter + 1) << daemon->output();
  EXPECT_EQ(daemon->count("Error vrgEndptPacket"), 0) << daemon->output();
  ASSERT_NO_FATAL_FAILURE(waitBoard(6000));
  board("0 record stop");
  const std::vector<int16_t> heard = readWav(speaker);
  int answerToneBlocks = 0;
  for (size_t at = 0; at + 800 <= heard.size(); at += 800) {
    const double level = dbm0(rms(heard, at, at + 800));
    if (level > -30 && toneShare(heard, at, 800, 2100) > 0.9) ++answerToneBlocks;
  }
  EXPECT_GE(answerToneBlocks, 25) << "blocks of 100 ms with the answer tone: " << answerToneBlocks;
  const V21Frames v21 = decodeV21(heard);
  ASSERT_EQ(v21.good.size(), 1u) << v21.bad << " frames with a bad check sequence";
  EXPECT_EQ(v21.good[0], frame);
  printf("fax call: %d speech packets before the tone, speech stopped in second %d of the tone, %zu "
         "datagrams out (last number %u), answer tone in %d of %zu blocks of 100 ms, %zu V.21 frame(s) "
         "of %zu octets heard\n",
         voicePackets, windows + 1, sent.size(), sent.back().sequence, answerToneBlocks, heard.size() / 800,
         v21.good.size(), v21.good.empty() ? size_t{0} : v21.good[0].size());

  // Our datagrams dissect cleanly as T.38 in an independent analyser.
  const bool tshark = std::system("command -v tshark > /dev/null 2>&1") == 0;
  if (tshark) {
    const std::string pcap = dir.file("t38.pcap");
    {
      pbxmedia::PcapWriter writer;
      std::string error;
      ASSERT_TRUE(writer.open(pcap, &error)) << error;
      uint64_t t = 0;
      for (const Frame& f : pipes.frames())
        if (udptlOfCall(f)) writer.write(f.packet, t += 20000, 6000, 6000);
    }
    const std::string fields =
        shell("tshark -r " + pcap + " -d udp.port==6000,t38 -T fields -e t38.seq_number -e t38.t30_indicator -e _ws.malformed 2>/dev/null");
    EXPECT_EQ(fields.find("alformed"), std::string::npos) << fields;
    EXPECT_EQ(fields.rfind("0\t", 0), 0u) << fields;
    EXPECT_NE(fields.find("\t1\t"), std::string::npos) << "no CNG indicator: " << fields;
  }

  // Every frame of the call that is not speech is a well-formed UDPTL datagram.
  for (const Frame& f : pipes.frames()) {
    if (f.line != 0 || f.cnx != 1 || isRtp(f.packet) || isRtcp(f.packet)) continue;
    Udptl d;
    EXPECT_TRUE(parseUdptl(f.packet, &d)) << "a frame of " << f.packet.size() << " bytes is neither RTP nor UDPTL";
  }

  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0) << daemon->output();
  board("0 onhook");
  if (!tshark) GTEST_SKIP() << "tshark not installed: the T.38 datagrams were not dissected";
}

// ---- a flood of datagrams ----

// IFP field of T.30 data with `octets` of data: its header (field type 0 with data) and length.
void appendDataField(std::vector<uint8_t>* ifp, size_t octets, uint8_t fill) {
  ifp->push_back(0x80);
  ifp->push_back(static_cast<uint8_t>((octets - 1) >> 8));
  ifp->push_back(static_cast<uint8_t>(octets - 1));
  ifp->insert(ifp->end(), octets, fill);
}

// A V.21 data IFP of `fields` fields of the most octets a field may carry.
std::vector<uint8_t> dataIfp(int fields, uint8_t fill) {
  std::vector<uint8_t> ifp = {0xC0, static_cast<uint8_t>(fields)};
  for (int f = 0; f < fields; ++f) appendDataField(&ifp, 86, fill);
  return ifp;
}

void appendLength(std::vector<uint8_t>* d, size_t length) {
  if (length < 0x80) {
    d->push_back(static_cast<uint8_t>(length));
  } else {
    d->push_back(static_cast<uint8_t>(0x80 | length >> 8));
    d->push_back(static_cast<uint8_t>(length));
  }
}

// A UDPTL datagram: primary IFP of sequence number `seq`, then `secondaries` as the copies of
// the numbers before it.
std::vector<uint8_t> udptlDatagram(uint16_t seq, const std::vector<uint8_t>& primary,
                                   const std::vector<std::vector<uint8_t>>& secondaries) {
  std::vector<uint8_t> d = {static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
  appendLength(&d, primary.size());
  d.insert(d.end(), primary.begin(), primary.end());
  d.push_back(0x00);
  appendLength(&d, secondaries.size());
  for (const auto& s : secondaries) {
    appendLength(&d, s.size());
    d.insert(d.end(), s.begin(), s.end());
  }
  return d;
}

// Datagram `k` of a flood: each takes ten new sequence numbers and carries a long redundancy
// of the numbers before them, with IFPs that fill several pool blocks each; every few datagrams
// are instead as large as a frame can carry, cut short, or random octets. The receiver takes
// eight copies of a datagram, so a number before each stays missing, and every 40 datagrams the
// numbers jump further: the packets behind the holes wait out the reorder delay (a packet next in
// line would play early while the pool runs short).
std::vector<uint8_t> floodDatagram(uint32_t k, std::mt19937* random) {
  const uint16_t seq = static_cast<uint16_t>(10 * k + 2 + 30 * (k / 40));
  switch (k % 8) {
    case 3: {  // one IFP as large as a frame the library takes carries
      return udptlDatagram(seq, dataIfp(17, static_cast<uint8_t>(k)), {});
    }
    case 5: {  // lengths that run past the end
      std::vector<uint8_t> d = udptlDatagram(seq, {0x04}, {{0x04}, dataIfp(2, 0x55)});
      d.resize(d.size() - 40);
      return d;
    }
    case 7: {  // noise
      std::vector<uint8_t> d(1 + (*random)() % 1400);
      for (uint8_t& b : d) b = static_cast<uint8_t>((*random)());
      return d;
    }
    default: {
      std::vector<std::vector<uint8_t>> copies(100, std::vector<uint8_t>{0x04});
      copies[0] = dataIfp(3, 0x11);
      copies[1] = dataIfp(3, 0x22);
      return udptlDatagram(seq, dataIfp(3, 0xAA), copies);
    }
  }
}

// A PBX (or anyone who can reach its port) floods the fax call with datagrams: long redundancy
// of IFPs that fill several pool blocks each, IFPs as large as a frame carries, lengths that run
// past the end and noise, one datagram per tick for 3000 ticks. The T.38 and fax relay pools run
// dry again and again while the reorder delay holds what they took. The daemon's log grows by at
// most 100 lines per 200 ticks (a second of board time), a dry pool is reported (a line for each
// of its first 32 blocks) at most once per 2000 ticks, and the call can still be ended. The test grants the board's ticks
// itself, so the datagrams meet the same ticks in every run.
TEST_F(FaxCall, FloodOfDatagramsKeepsTheDaemonsLogBoundedInBoardTime) {
  const std::string cng = dir.file("cng.wav");
  ASSERT_NO_FATAL_FAILURE(startCall(cng, 1));
  board("0 play " + cng);
  ASSERT_TRUE(eventually([&] { return count(udptlOfCall) > 0; })) << daemon->output();
  // As in the call above: the library has taken the switch in once a request has passed its
  // dispatcher after half a second of board time.
  ASSERT_NO_FATAL_FAILURE(waitBoard(500));
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"dial","state":"off"})"), 0) << daemon->output();
  // The call's own lines (the hook's debounced event) are out of the way before the flood.
  ASSERT_TRUE(daemon->waitFor("event OFFHOOK", 10000ms)) << daemon->output();

  // The daemon's output reaches the test a little after the tick that wrote it: two reports 2000
  // ticks apart may show up a few steps closer, so reports are counted per 1900 ticks.
  constexpr int kTicks = 3000, kStep = 10, kWindow = 200, kReportWindow = 1900;
  const std::string socket = dir.file("board.sock");
  ASSERT_EQ(pbxstep::boardCommand(socket, "lockstep step").rfind("OK", 0), 0u);
  // The call's own endpoint events (the fax tone heard, the fax relay ending its call on a timer)
  // may fall within the flood, at a tick that depends on the board time before it: their lines
  // are the call's, not the flood's, and are counted apart.
  struct Sample {
    int lines, events, reports;
  };
  std::vector<Sample> samples;  // after each step
  const auto sample = [&] {
    samples.push_back({daemon->count("\n"), daemon->count("event from endpoint: "), daemon->count("# free = ")});
  };
  sample();
  std::mt19937 random(58);
  uint32_t written = 0;
  for (int tick = 0; tick < kTicks; tick += kStep) {
    for (int i = 0; i < kStep; ++i) ASSERT_TRUE(pipes.send(0, 1, floodDatagram(written++, &random)));
    ASSERT_TRUE(pbxstep::waitPipeDrained(pipes.receiveFd(), 10000)) << "the daemon stopped reading";
    const std::string answer = pbxstep::boardCommand(socket, "step " + std::to_string(kStep));
    ASSERT_EQ(answer.rfind("OK", 0), 0u) << answer << daemon->output();
    sample();
  }
  pbxstep::boardCommand(socket, "lockstep off");
  ASSERT_NO_FATAL_FAILURE(waitBoard(200));

  // Lines and pool reports per window of board time, at the steps' resolution.
  int mostLines = 0, mostReports = 0;
  for (size_t from = 0; from < samples.size(); ++from) {
    const size_t window = std::min(samples.size() - 1, from + kWindow / kStep);
    const size_t reportWindow = std::min(samples.size() - 1, from + kReportWindow / kStep);
    mostLines = std::max(mostLines, samples[window].lines - samples[window].events -
                                        (samples[from].lines - samples[from].events));
    mostReports = std::max(mostReports, samples[reportWindow].reports - samples[from].reports);
  }
  const std::string log = daemon->output();
  const int events = samples.back().events - samples.front().events;
  printf("flood: %u datagrams in %d ticks, %d log lines (%d endpoint events), at most %d in %d ticks, %d pool "
         "report(s), at most %d in %d ticks\n",
         written, kTicks, samples.back().lines - samples.front().lines, events, mostLines, kWindow,
         samples.back().reports - samples.front().reports, mostReports, kReportWindow);
  EXPECT_LE(mostLines, 100) << log;
  EXPECT_LE(events, 3) << log;
  EXPECT_LE(mostReports, 1) << log;
  // The flood did run the pool dry, and more than once: the report after the first sums the
  // spells in between up.
  EXPECT_GE(samples.back().reports - samples.front().reports, 1) << log;
  EXPECT_NE(log.find(" more times ("), std::string::npos) << log;

  EXPECT_TRUE(daemon->running());
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0) << daemon->output();
  board("0 onhook");
  EXPECT_TRUE(daemon->running());
}

}  // namespace
}  // namespace e2e
