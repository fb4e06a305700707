// Caller-ID messages built for the transmit service and parsed back on the receive side, the
// Japanese framing, message waiting, DTMF caller ID, the daemon's caller string, and received
// messages that lie about their lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../logCapture.h"
#include "clidCaller.h"
#include "hdspClass.h"
#include "hostDspDouble.h"

namespace {

constexpr uint16_t kVhd = 0x51;

struct Sent {
  std::vector<uint8_t> start;  // seizures, marks
  int16_t seizures = 0;
  uint16_t marks = 0;
  std::vector<std::vector<uint8_t>> data;  // bytes of each data packet
  std::vector<uint8_t> end;
  uint16_t trailing = 0;
  std::vector<uint16_t> payloadLengths;
};

// The class-relay packets the double recorded, taken apart.
Sent sentPackets() {
  Sent s;
  for (const DspRequest& r : HostDspDouble::get().packets()) {
    HSZCLASSRELAYPACKET p{};
    std::memcpy(&p, r.data.data(), std::min(r.data.size(), sizeof p));
    s.payloadLengths.push_back(p.hsxPacketHdr.payloadLength);
    EXPECT_EQ(r.data.size(), p.hsxPacketHdr.payloadLength + 8u);
    std::vector<uint8_t> bytes;
    const int count = p.hsxPacketHdr.payloadID == HAPI_PKT_CLASSRELAY_START ? 0 : p.hsxWord0;
    for (int i = 0; i < count; ++i) {
      const uint16_t w = p.hsxClassMsg[i / 2];
      bytes.push_back(static_cast<uint8_t>(i % 2 == 0 ? w & 0xFF : w >> 8));
    }
    switch (p.hsxPacketHdr.payloadID) {
      case HAPI_PKT_CLASSRELAY_START:
        s.seizures = p.hsxWord0;
        s.marks = p.hsxWord1;
        break;
      case HAPI_PKT_CLASSRELAY_DATA: s.data.push_back(bytes); break;
      case HAPI_PKT_CLASSRELAY_END:
        s.end = bytes;
        s.trailing = p.hsxWord1;
        break;
      default: ADD_FAILURE() << "unknown packet " << p.hsxPacketHdr.payloadID;
    }
  }
  return s;
}

std::vector<uint8_t> wholeMessage(const Sent& s) {
  std::vector<uint8_t> all;
  for (const auto& d : s.data) all.insert(all.end(), d.begin(), d.end());
  all.insert(all.end(), s.end.begin(), s.end.end());
  return all;
}

HSZCLIDRXPACKET rxPacket(uint16_t code, const uint8_t* bytes, size_t count, uint16_t word1 = 0) {
  HSZCLIDRXPACKET p{};
  p.hsxClassCode = code;
  p.hsxClassMsgWord0 = static_cast<uint16_t>(count);
  p.hsxClassMsgWord1 = word1;
  for (size_t i = 0; i < count && i < 16; ++i) {
    p.hsxClassMsg[i / 2] = static_cast<uint16_t>(p.hsxClassMsg[i / 2] | (bytes[i] << (i % 2 ? 8 : 0)));
  }
  return p;
}

// Feeds a message to the receive side the way the service reports it: a start packet, body
// packets of up to 16 bytes, and the last bytes in the end packet. Returns the parse result.
int receive(const std::vector<uint8_t>& message, VRG_COUNTRY country, HDSP_CLASS_CLIDRX_STATE& state) {
  HSZCLIDRXPACKET start = rxPacket(CLIDRX_PKT_START, nullptr, 0, 150);
  start.hsxClassMsgWord0 = 250;
  hdspClidRxParse(country, &start, &state);
  size_t at = 0;
  while (message.size() - at > 16) {
    HSZCLIDRXPACKET body = rxPacket(CLIDRX_PKT_BODY, message.data() + at, 16);
    hdspClidRxParse(country, &body, &state);
    at += 16;
  }
  HSZCLIDRXPACKET end = rxPacket(CLIDRX_PKT_END, message.data() + at, message.size() - at);
  return hdspClidRxParse(country, &end, &state);
}

VRG_CLASS_FSK fskParms() { return VRG_CLASS_FSK{135, 1200, 2200, 300, 180}; }

class ClassTest : public ::testing::Test {
 protected:
  void SetUp() override { HostDspDouble::get().clear(); }
  HDSP_CLASS_CLIDRX_STATE rx{};
};

TEST(ClassCrc, CheckValueOfTheJapaneseCallerIdCrc) {
  const char* text = "123456789";
  EXPECT_EQ(classJCLIDCrc(reinterpret_cast<const uint8_t*>(text), 9), 0x2189);
}

TEST(ClassLevel, TransmitLevelsMapToTheTableAndNeverToFullScale) {
  EXPECT_EQ(classLevelToQ15(0), 22656);
  EXPECT_EQ(classLevelToQ15(135), 4788);
  EXPECT_EQ(classLevelToQ15(131), 4788);  // the first row at or past the level
  EXPECT_EQ(classLevelToQ15(200), 2266);
  EXPECT_EQ(classLevelToQ15(260), 2266);  // quieter than the table: its quietest row
}

TEST_F(ClassTest, OnHookMdmfMessageRoundTripsThroughTheReceiver) {
  const EPCLIDRX_DATA c = caller("12251830", "5551234567", "DOE JOHN");
  const VRG_CLASS_FSK fsk = fskParms();
  ASSERT_EQ(hdspClassMessage(&c, kVhd, 0, VRG_COUNTRY_NORTH_AMERICA, CLASS_MSG_ONHOOK_CLID, &fsk, 0), 0);

  const DspRequest& config = HostDspDouble::get().dsp.front();
  EXPECT_EQ(config.cmd, 0x0832);
  HSZCLIDTXREGS regs{};
  std::memcpy(&regs, config.data.data(), sizeof regs);
  EXPECT_EQ(regs.Amplitude, 4788);
  EXPECT_EQ(regs.MarkFrequency, 1200);

  const Sent s = sentPackets();
  EXPECT_EQ(s.seizures, 300);
  EXPECT_EQ(s.marks, 180);
  EXPECT_EQ(s.trailing, 10);
  const std::vector<uint8_t> msg = wholeMessage(s);
  ASSERT_GE(msg.size(), 3u);
  EXPECT_EQ(msg[0], 0x80);
  EXPECT_EQ(msg[1], msg.size() - 3);
  unsigned sum = 0;
  for (uint8_t b : msg) sum += b;
  EXPECT_EQ(sum % 256, 0u);

  ASSERT_EQ(receive(msg, VRG_COUNTRY_NORTH_AMERICA, rx), 1);
  EXPECT_STREQ(rx.clidRxData.date, "12251830");
  EXPECT_STREQ(rx.clidRxData.number, "5551234567");
  EXPECT_STREQ(rx.clidRxData.name, "DOE JOHN");
}

TEST_F(ClassTest, LongNameGoesInAContinuationPacketAndShortDateIsReplaced) {
  const std::string name(45, 'N');
  const EPCLIDRX_DATA c = caller("0704", "123", name.c_str());
  const VRG_CLASS_FSK fsk = fskParms();
  ASSERT_EQ(hdspClassMessage(&c, kVhd, 0, VRG_COUNTRY_NORTH_AMERICA, CLASS_MSG_OFFHOOK_CLID, &fsk, 100), 0);
  const Sent s = sentPackets();
  EXPECT_EQ(s.seizures, 0);  // off-hook: no seizure, 80 marks
  EXPECT_EQ(s.marks, 80);
  ASSERT_EQ(s.data.size(), 4u);
  EXPECT_EQ(std::string(s.data[0].begin() + 4, s.data[0].end()), "01010000");
  EXPECT_EQ(s.data[2].size(), 32u);  // type, length, 30 characters
  EXPECT_EQ(s.data[2][1], 45);
  EXPECT_EQ(s.data[3].size(), 15u);
  EXPECT_EQ(s.payloadLengths[4], 20);  // continuation: rest + 5

  ASSERT_EQ(receive(wholeMessage(s), VRG_COUNTRY_NORTH_AMERICA, rx), 1);
  EXPECT_EQ(std::string(rx.clidRxData.name), name);
}

TEST_F(ClassTest, WithheldNumberAndNameAreSentAsReasons) {
  EPCLIDRX_DATA c = caller("12251830", "", "");
  c.reasonNoNumber = 'p';
  c.reasonNoName = 'O';
  const VRG_CLASS_FSK fsk = fskParms();
  hdspClassMessage(&c, kVhd, 0, VRG_COUNTRY_NORTH_AMERICA, CLASS_MSG_ONHOOK_CLID, &fsk, 0);
  const Sent s = sentPackets();
  EXPECT_EQ(s.data[1], (std::vector<uint8_t>{4, 1, 'P'}));
  EXPECT_EQ(s.data[2], (std::vector<uint8_t>{8, 1, 'O'}));
  ASSERT_EQ(receive(wholeMessage(s), VRG_COUNTRY_NORTH_AMERICA, rx), 1);
  EXPECT_EQ(rx.clidRxData.reasonNoNumber, 'P');
  EXPECT_STREQ(rx.clidRxData.number, "Private");
  EXPECT_EQ(rx.clidRxData.reasonNoName, 'O');
  EXPECT_STREQ(rx.clidRxData.name, "Unavailable");
}

TEST_F(ClassTest, JapaneseMessageHasParityDoubledDleAndKermitCrc) {
  const EPCLIDRX_DATA c = caller("", "09012345678901", "");  // 14 digits: length 16 = DLE
  const VRG_CLASS_FSK fsk = fskParms();
  ASSERT_EQ(hdspClassMessage(&c, kVhd, 0, VRG_COUNTRY_JAPAN, CLASS_MSG_ONHOOK_CLID, &fsk, 0), 0);
  const Sent s = sentPackets();
  EXPECT_EQ(s.seizures, 0);
  EXPECT_EQ(s.marks, 72);
  ASSERT_EQ(s.data.size(), 2u);
  const std::vector<uint8_t>& head = s.data[0];
  ASSERT_EQ(head.size(), 8u);
  EXPECT_EQ(head[6] & 0x7F, 0x10);
  EXPECT_EQ(head[7] & 0x7F, 0x10);
  for (const auto& packet : {s.data[0], s.data[1]}) {
    for (uint8_t b : packet) EXPECT_EQ(__builtin_parity(b), 0) << int(b);
  }
  ASSERT_EQ(s.end.size(), 4u);
  EXPECT_EQ(s.end[0] & 0x7F, 0x10);
  EXPECT_EQ(s.end[1] & 0x7F, 0x03);
  std::vector<uint8_t> covered(head.begin() + 2, head.end());
  covered.insert(covered.end(), s.data[1].begin(), s.data[1].end());
  covered.push_back(s.end[0]);
  covered.push_back(s.end[1]);
  const uint16_t crc = classJCLIDCrc(covered.data(), covered.size());
  EXPECT_EQ(s.end[2] | (s.end[3] << 8), crc);

  ASSERT_EQ(receive(wholeMessage(s), VRG_COUNTRY_JAPAN, rx), 1);
  EXPECT_STREQ(rx.clidRxData.number, "09012345678901");
}

HAPI_PTE_DIALSTRING sentDialString() {
  HAPI_PTE_DIALSTRING d{};
  const DspRequest& r = HostDspDouble::get().dsp.back();
  EXPECT_EQ(r.cmd, 0x0902);
  std::memcpy(&d, r.data.data(), std::min(r.data.size(), sizeof d));
  return d;
}

std::vector<uint8_t> digits(const HAPI_PTE_DIALSTRING& d) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(d.digitArray);
  return std::vector<uint8_t>(bytes, bytes + d.numCharacters);
}

TEST_F(ClassTest, DtmfCallerIdFramesTheNumberOrSendsTheReasonCode) {
  VRG_CLASS_DTMF dtmf{};
  dtmf.dbLevel = 7;
  dtmf.pulseTime = 60;
  dtmf.startCode = 12;  // A
  dtmf.endCode = 15;    // D
  const uint8_t priv[16] = {12, 1, 15, 127};
  std::memcpy(dtmf.privateCode, priv, sizeof priv);

  EPCLIDRX_DATA c = caller("", "12-3#", "");
  ASSERT_EQ(hdspClassDtmfTransmit(kVhd, &c, &dtmf), 0);
  HAPI_PTE_DIALSTRING d = sentDialString();
  EXPECT_EQ(d.pulseOnTime, 480);
  EXPECT_EQ(digits(d), (std::vector<uint8_t>{12, 1, 2, 3, 11, 15}));  // '-' has no digit

  c.reasonNoNumber = 'P';
  hdspClassDtmfTransmit(kVhd, &c, &dtmf);
  EXPECT_EQ(digits(sentDialString()), (std::vector<uint8_t>{12, 1, 15}));

  LogCapture log;
  const size_t before = HostDspDouble::get().dsp.size();
  EPCLIDRX_DATA longNumber = caller("", "12345678901234567890", "");
  EXPECT_EQ(hdspClassDtmfTransmit(kVhd, &longNumber, &dtmf), 0);  // 20 digits still go
  EXPECT_EQ(HostDspDouble::get().dsp.size(), before + 1);

  hdspClassDtmfTransmitVmwi(kVhd, CLASS_VMWI_ACTIVATE, &dtmf);
  EXPECT_EQ(digits(sentDialString()), (std::vector<uint8_t>{14, 0, 1, 11}));
}

TEST(ClassReceive, SdmfWithDateNumberAndAbsenceReasons) {
  auto sdmf = [](const std::string& body) {
    std::vector<uint8_t> m{0x04, static_cast<uint8_t>(body.size())};
    for (char c : body) m.push_back(static_cast<uint8_t>(c));
    unsigned sum = 0;
    for (uint8_t b : m) sum += b;
    m.push_back(static_cast<uint8_t>(-sum));
    return m;
  };
  HDSP_CLASS_CLIDRX_STATE rx{};
  ASSERT_EQ(receive(sdmf("010203045551212"), VRG_COUNTRY_NORTH_AMERICA, rx), 1);
  EXPECT_STREQ(rx.clidRxData.date, "01020304");
  EXPECT_STREQ(rx.clidRxData.number, "5551212");

  ASSERT_EQ(receive(sdmf("01020304O"), VRG_COUNTRY_TAIWAN, rx), 1);
  EXPECT_STREQ(rx.clidRxData.number, "Out Of Area");
  ASSERT_EQ(receive(sdmf("01020304O"), VRG_COUNTRY_NORTH_AMERICA, rx), 1);
  EXPECT_EQ(rx.clidRxData.reasonNoNumber, 'O');
  EXPECT_STREQ(rx.clidRxData.number, "");
}

// A received message whose length bytes point past what arrived is refused, never read.
TEST(ClassReceive, LengthsThatRunPastTheMessageAreRefused) {
  LogCapture log;
  HDSP_CLASS_CLIDRX_STATE rx{};

  // A number parameter claiming 60 bytes inside a 12-byte message, with a valid checksum.
  std::vector<uint8_t> m{0x80, 12, 0x01, 0x08, '0', '1', '0', '1', '0', '0', '0', '0', 0x02, 60};
  unsigned sum = 0;
  for (uint8_t b : m) sum += b;
  m.push_back(static_cast<uint8_t>(-sum));
  EXPECT_EQ(receive(m, VRG_COUNTRY_NORTH_AMERICA, rx), 0);
  EXPECT_TRUE(log.contains("runs past the message"));

  // A message length byte beyond the bytes received.
  log.clear();
  std::vector<uint8_t> shortMsg{0x80, 40, 0x02, 0x01, '5'};
  EXPECT_EQ(receive(shortMsg, VRG_COUNTRY_NORTH_AMERICA, rx), 0);
  EXPECT_TRUE(log.contains("HDSP: Invalid Caller ID message length byte: 40"));

  // More than the 99-byte buffer, and a packet that claims more bytes than it holds.
  log.clear();
  std::vector<uint8_t> huge(120, 0x41);
  EXPECT_EQ(receive(huge, VRG_COUNTRY_NORTH_AMERICA, rx), 0);
  EXPECT_TRUE(log.contains("HDSP:  ERROR: Caller ID receive parse buffer overflow"));
  HSZCLIDRXPACKET liar = rxPacket(CLIDRX_PKT_BODY, huge.data(), 16);
  liar.hsxClassMsgWord0 = 200;
  const uint8_t* before = rx.parseBufp;
  EXPECT_EQ(hdspClidRxParse(VRG_COUNTRY_NORTH_AMERICA, &liar, &rx), 0);
  EXPECT_EQ(rx.parseBufp, before);
}

TEST(ClassReceive, BadChecksumUnknownFormatAndUnknownCode) {
  LogCapture log;
  HDSP_CLASS_CLIDRX_STATE rx{};
  std::vector<uint8_t> m{0x80, 3, 0x02, 0x01, '5', 0x00};
  EXPECT_EQ(receive(m, VRG_COUNTRY_NORTH_AMERICA, rx), 0);
  EXPECT_TRUE(log.contains("HDSP: Invalid Caller ID checksum."));

  std::vector<uint8_t> other{0x33, 1, 'x'};
  unsigned sum = 0;
  for (uint8_t b : other) sum += b;
  other.push_back(static_cast<uint8_t>(-sum));
  EXPECT_EQ(receive(other, VRG_COUNTRY_NORTH_AMERICA, rx), 0);
  EXPECT_TRUE(log.contains("HDSP: Unknown Caller ID message format received: 51"));

  HSZCLIDRXPACKET odd = rxPacket(7, nullptr, 0);
  EXPECT_EQ(hdspClidRxParse(VRG_COUNTRY_NORTH_AMERICA, &odd, &rx), 0);
  EXPECT_TRUE(log.contains("HDSP:  ERROR: Unknown CLASS Payload Code "));
}

TEST(ClassString, DateNumberAndNameFromTheDaemonsCallerString) {
  EPCLIDRX_DATA out{};
  ASSERT_EQ(hdspClassParseStr("12/25/18:30,\"+1 (555) 123-4567\",\"Doe, John   \"", VRG_COUNTRY_NORTH_AMERICA, &out), 0);
  EXPECT_STREQ(out.date, "122518:3");  // eight characters, '/' skipped
  EXPECT_STREQ(out.number, "15551234567");  // quoted, then digits only
  EXPECT_STREQ(out.name, "Doe, John");

  ASSERT_EQ(hdspClassParseStr("0101,  5551234 , Bob(x)", VRG_COUNTRY_NORTH_AMERICA, &out), 0);
  EXPECT_STREQ(out.number, "5551234");
  EXPECT_STREQ(out.name, "Bob");

  ASSERT_EQ(hdspClassParseStr("0101,p,", VRG_COUNTRY_NORTH_AMERICA, &out), 0);
  EXPECT_EQ(out.reasonNoNumber, 'P');
  EXPECT_EQ(out.reasonNoName, 'O');

  ASSERT_EQ(hdspClassParseStr("0101,E,E", VRG_COUNTRY_DENMARK, &out), 0);
  EXPECT_EQ(out.reasonNoNumber, 'E');
  ASSERT_EQ(hdspClassParseStr("0101,E,E", VRG_COUNTRY_UK, &out), 0);
  EXPECT_EQ(out.reasonNoNumber, 0);  // a single letter that blocks nothing here: digits only
  EXPECT_STREQ(out.name, "E");

  ASSERT_EQ(hdspClassParseStr("0101", VRG_COUNTRY_NORTH_AMERICA, &out), 0);
  EXPECT_EQ(out.reasonNoNumber, 'O');
  EXPECT_EQ(hdspClassParseStr(nullptr, VRG_COUNTRY_NORTH_AMERICA, &out), -1);
}

}  // namespace
