// Caller ID both ways in a line channel: our transmitter's audio decoded by the independent ADSI
// receiver (Bell 202 and V.23) with its timing and level; the independent transmitter decoded by
// our receiver over the level range in noise; loopback; the packet and register rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../linetest/line_harness.h"
#include "clid_packets.h"
#include "clidrx.h"
#include "clidtx.h"

using namespace linetest;

namespace {

using Bytes = std::vector<uint8_t>;

// An MDMF caller-ID message with its checksum: date and time, number, name.
Bytes callerIdMessage(const std::string& number, const std::string& name) {
  Bytes m = {0x80, 0};
  auto field = [&](uint8_t type, const std::string& v) {
    m.push_back(type);
    m.push_back(static_cast<uint8_t>(v.size()));
    m.insert(m.end(), v.begin(), v.end());
  };
  field(0x01, "12071253");
  field(0x02, number);
  field(0x07, name);
  m[1] = static_cast<uint8_t>(m.size() - 2);
  uint8_t sum = 0;
  for (uint8_t b : m) sum = static_cast<uint8_t>(sum + b);
  m.push_back(static_cast<uint8_t>(-sum));
  return m;
}

using clidpackets::packet;

// The packets the host sends for a message: seizure and marks, then the characters 42 at a time.
std::vector<std::vector<uint8_t>> messagePackets(const Bytes& msg, int seizure = 300, int marks = 180) {
  std::vector<std::vector<uint8_t>> out = {packet(0, static_cast<int16_t>(seizure), static_cast<uint16_t>(marks))};
  for (size_t at = 0; at < msg.size(); at += 42) {
    const size_t n = std::min<size_t>(42, msg.size() - at);
    const bool last = at + n == msg.size();
    out.push_back(packet(last ? 2 : 1, static_cast<int16_t>(n), last ? 10 : 0, msg.data() + at));
  }
  return out;
}

Bytes adsiDecode(const std::vector<int16_t>& x, int standard) {
  Bytes got;
  adsi_rx_state_t* rx = adsi_rx_init(
      nullptr, standard,
      [](void* user, const uint8_t* m, int len) { static_cast<Bytes*>(user)->assign(m, m + len); }, &got);
  adsi_rx(rx, x.data(), static_cast<int>(x.size()));
  adsi_rx_free(rx);
  return got;
}

class ClidTx : public ::testing::Test {
 protected:
  void SetUp() override { open(&clidtxsrvarc, 40); }
  void TearDown() override { close(); }

  // Sends the message through the transmitter; returns the egress audio from the command on.
  std::vector<int16_t> transmit(const Bytes& msg) {
    EXPECT_EQ(command(CLIDTX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    std::vector<World::Packet> frame;
    for (auto& p : messagePackets(msg)) frame.push_back({HSF_IBD_PACKET, 0, p});
    world().egressPackets.push_back(frame);
    runFrames(2);
    world().egressOut.clear();
    EXPECT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPISUCCESS);
    runFrames(300);
    return world().egressOut;
  }
};

}  // namespace

TEST_F(ClidTx, Bell202DecodedByTheIndependentReceiverFirstBitAt500ms) {
  const Bytes msg = callerIdMessage("0123456789", "ORVOX LINE A");
  const auto out = transmit(msg);
  const Bytes got = adsiDecode(out, ADSI_STANDARD_CLASS);
  EXPECT_EQ(got, Bytes(msg.begin(), msg.end() - 1));  // the receiver checks and drops the checksum
  size_t first = 0;
  while (first < out.size() && out[first] == 0) ++first;
  int peak = 0;
  for (int16_t s : out) peak = std::max(peak, std::abs(int{s}));
  // The command reached the service one frame (5 ms) into the recording, at most.
  std::printf("first FSK sample %.2f ms after the transmit command's frame; peak %d\n", first / 8.0, peak);
  EXPECT_NEAR(first / 8.0, 500, 5.5);
  EXPECT_NEAR(peak, 4788, 10);
  EXPECT_EQ(events(CLIDTX_END_EVT).size(), 1u);
}

TEST_F(ClidTx, V23DecodedByTheIndependentReceiver) {
  HSZCLIDTXREGS regs{500, 4788, 1300, 2100};
  ASSERT_EQ(extCommand(CLIDTX_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  const Bytes msg = callerIdMessage("44123456789", "V23 CALLER");
  const Bytes got = adsiDecode(transmit(msg), ADSI_STANDARD_CLIP);
  EXPECT_EQ(got, Bytes(msg.begin(), msg.end() - 1));
}

TEST_F(ClidTx, PacketRulesPoolAndRegisters) {
  ASSERT_EQ(command(CLIDTX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  const uint8_t chars[42] = {};
  // Data before a seizure packet: out of sequence.
  world().egressPackets.push_back({{HSF_IBD_PACKET, 0, packet(1, 10, 0, chars)}});
  runFrames(2);
  auto refused = events(CLIDTX_REFUSED_EVT);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].op1, 0);
  // Thirteen packets while none has been sent: the pool holds twelve.
  std::vector<World::Packet> frame = {{HSF_IBD_PACKET, 0, packet(0, 300, 180)}};
  for (int i = 0; i < 12; ++i) frame.push_back({HSF_IBD_PACKET, 0, packet(1, 42, 0, chars)});
  world().host.clear();
  world().egressPackets.push_back(frame);
  runFrames(2);
  refused = events(CLIDTX_REFUSED_EVT);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].op1, 1);
  // A packet claiming more characters than it carries sends no more than it holds.
  auto* tx = static_cast<HSZCLIDTXLOCLMEM*>(instance(HAPI_CLIDTX_SRV));
  EXPECT_EQ(tx->queueCount, 12);
  // Registers are fixed while a transmission runs; writes past the record are refused.
  ASSERT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPIFAILURE);
  HSZCLIDTXREGS regs = HAPI_CLIDTX_DEF_REGS;
  EXPECT_EQ(extCommand(CLIDTX_SETREGS_CMD, &regs, sizeof(regs)).result, HAPIFAILURE);
  EXPECT_EQ(command(CLIDTX_SETREG1_CMD, 2, 1000).result, HAPIFAILURE);
  ASSERT_EQ(command(CLIDTX_TRANSMIT_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(tx->queueCount, 0);
  EXPECT_EQ(tx->heapId, 0);
  EXPECT_EQ(command(CLIDTX_SETREG1_CMD, 2, 1000).result, HAPISUCCESS);
  EXPECT_EQ(tx->clidtxregs.Amplitude, 1000);
  EXPECT_EQ(command(CLIDTX_SETREG1_CMD, 8, 1).result, HAPIFAILURE);
  EXPECT_EQ(command(0x08B5, 0, 0).result, HAPIFAILURE);
}

TEST_F(ClidTx, OverlongCharacterCountIsCappedToThePacket) {
  ASSERT_EQ(command(CLIDTX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  auto last = packet(2, 2000, 0);  // claims 2000 characters in a 42-character packet
  last.resize(20);                 // and the message itself is short: 8 of them
  world().egressPackets.push_back({{HSF_IBD_PACKET, 0, packet(0, 10, 10)}, {HSF_IBD_PACKET, 0, last}});
  runFrames(2);
  auto* tx = static_cast<HSZCLIDTXLOCLMEM*>(instance(HAPI_CLIDTX_SRV));
  ASSERT_EQ(tx->queueCount, 2);
  EXPECT_EQ(tx->bufpoolArray[tx->txQueue[(tx->queueHead + 1) % CLIDTX_POOL_BUFFERS]].hsxWord0, 8);
  ASSERT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(150);
  EXPECT_EQ(events(CLIDTX_END_EVT).size(), 1u);
}

// ---- receiver ----

namespace {

class ClidRx : public ::testing::Test {
 protected:
  void SetUp() override {
    open(&clidrxsrvarc, 40);
    EXPECT_EQ(command(HAPI_CLIDRX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    clidrxsrv::HSZCLIDRXREGS regs = clidrxsrv::HAPI_CLIDRX_DEF_REGS;
    EXPECT_EQ(extCommand(HAPI_CLIDRX_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  }
  void TearDown() override { close(); }

  struct Received {
    int seizure = -1, marks = -1;
    Bytes bytes;
    bool ended = false;
    std::vector<int> sizes;  // bytes per packet
  };
  Received receive(const std::vector<int16_t>& x) {
    world().host.clear();
    world().ingressIn.assign(x.begin(), x.end());
    drain(20);
    Received r;
    for (const HostMsg& m : events(HAPI_CLIDRX_PKT_EVT)) {
      HSZCLIDRXPACKET p{};
      std::memcpy(&p, m.data.data(), std::min(m.data.size(), sizeof(p)));
      if (p.hsxClassCode == 0) {
        r.seizure = p.hsxClassMsgWord0;
        r.marks = p.hsxClassMsgWord1;
        continue;
      }
      const auto* b = reinterpret_cast<const uint8_t*>(p.hsxClassMsg);
      r.bytes.insert(r.bytes.end(), b, b + p.hsxClassMsgWord0);
      r.sizes.push_back(p.hsxClassMsgWord0);
      r.ended |= p.hsxClassCode == 2;
    }
    return r;
  }
};

// The message, possibly followed by bytes read from the noise after it while the carrier stays.
bool startsWith(const Bytes& got, const Bytes& msg) {
  return got.size() >= msg.size() && std::equal(msg.begin(), msg.end(), got.begin());
}

std::vector<int16_t> adsiSignal(const Bytes& msgWithChecksum, double levelDbm0, double snrDb, int preamble = 300,
                                int ones = 180) {
  adsi_tx_state_t* tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLASS);
  adsi_tx_set_preamble(tx, preamble, ones, 5, 1);
  Bytes body(msgWithChecksum.begin(), msgWithChecksum.end() - 1);
  adsi_tx_put_message(tx, body.data(), static_cast<int>(body.size()));
  std::vector<int16_t> raw(8000 * 2, 0);
  const int n = adsi_tx(tx, raw.data() + 2000, static_cast<int>(raw.size()) - 2000);
  raw.resize(static_cast<size_t>(n) + 4000);
  adsi_tx_free(tx);
  // The generator's level is -13.9 dBm0 (peak 4554); scale to the wanted level and add noise.
  const double gain = std::pow(10.0, (levelDbm0 + 13.9) / 20);
  noise_state_t* nz = noise_init_dbm0(nullptr, 99, static_cast<float>(levelDbm0 - snrDb), NOISE_CLASS_AWGN, 0);
  std::vector<int16_t> x(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const double v = raw[i] * gain + (snrDb < 100 ? noise(nz) : 0);
    x[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
  noise_free(nz);
  return x;
}

}  // namespace

TEST_F(ClidRx, IndependentTransmitterDecodedOverTheLevelRangeIn20dBNoise) {
  const Bytes msg = callerIdMessage("5551234567", "INDEPENDENT TX");
  double weakest = 0;
  for (double level = -30; level >= -40; level -= 0.5) {
    if (startsWith(receive(adsiSignal(msg, level, 20)).bytes, msg)) weakest = level;
  }
  std::printf("weakest level decoded at 20 dB SNR: %.1f dBm0\n", weakest);
  EXPECT_LE(weakest, -35.0);
  for (int level : {-10, -15, -20, -25, -30, -35}) {
    const Received r = receive(adsiSignal(msg, level, 20));
    EXPECT_TRUE(startsWith(r.bytes, msg)) << level << " dBm0";
    EXPECT_GE(r.seizure, 250) << level;
    EXPECT_GT(r.marks, 150) << level;
  }
}

TEST_F(ClidRx, PacketsOfSixteenAndAnEndPacket) {
  Bytes msg(40);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(0x30 + i);
  msg[1] = static_cast<uint8_t>(msg.size() - 3);  // the generator writes the length byte itself
  const Received r = receive(adsiSignal(msg, -15, 200));
  EXPECT_EQ(r.sizes, (std::vector<int>{16, 16, 8}));
  EXPECT_TRUE(r.ended);
  // A message longer than the register allows ends at its limit while the carrier stays.
  clidrxsrv::HSZCLIDRXREGS regs = clidrxsrv::HAPI_CLIDRX_DEF_REGS;
  regs.hsxmaxmsglen = 20;
  ASSERT_EQ(extCommand(HAPI_CLIDRX_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  const Received c = receive(adsiSignal(msg, -15, 200));
  EXPECT_EQ(c.sizes, (std::vector<int>{16, 4}));
  EXPECT_EQ(c.bytes, Bytes(msg.begin(), msg.begin() + 20));
}

TEST_F(ClidRx, SeizureAndMarkMinimums) {
  const Bytes msg = callerIdMessage("1", "X");
  // Well below and above the seizure and mark minimums (the receiver counts what it resolves).
  EXPECT_TRUE(receive(adsiSignal(msg, -15, 200, 200, 180)).bytes.empty());
  EXPECT_EQ(receive(adsiSignal(msg, -15, 200, 280, 180)).bytes, msg);
  EXPECT_TRUE(receive(adsiSignal(msg, -15, 200, 300, 120)).bytes.empty());
  EXPECT_EQ(receive(adsiSignal(msg, -15, 200, 300, 175)).bytes, msg);
  // Register rules: a write past the 8-byte record is refused; unknown codes answer 3.
  EXPECT_EQ(command(HAPI_CLIDRX_SETREG1_CMD, 8, 1).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_CLIDRX_SETREG1_CMD, 6, static_cast<uint16_t>(-30)).result, HAPISUCCESS);
  EXPECT_EQ(extCommand(HAPI_CLIDRX_SETREGS_CMD, &msg[0], 4).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(0x34B5, 0, 0).result, HAPI_ERR_INVALID_CMD);
}

TEST_F(ClidRx, LoopbackFromOurTransmitter) {
  close();
  open(&clidtxsrvarc, 40);
  const Bytes msg = callerIdMessage("0049301234567", "LOOPBACK NAME");
  ASSERT_EQ(command(CLIDTX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  std::vector<World::Packet> frame;
  for (auto& p : messagePackets(msg)) frame.push_back({HSF_IBD_PACKET, 0, p});
  world().egressPackets.push_back(frame);
  runFrames(2);
  ASSERT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(300);
  const std::vector<int16_t> audio = world().egressOut;
  close();
  open(&clidrxsrvarc, 40);
  ASSERT_EQ(command(HAPI_CLIDRX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  const Received r = receive(audio);
  EXPECT_TRUE(startsWith(r.bytes, msg));  // the carrier's fall may add a byte after the message
  EXPECT_TRUE(r.ended);
  EXPECT_NEAR(r.seizure, 300, 2);
  std::printf("loopback: seizure %d bits, marks %d bits, %zu bytes\n", r.seizure, r.marks, r.bytes.size());
}
