// The caller-ID messages handed to the transmit service, turned into Bell 202 FSK the way the
// service plays class-relay packets out (seizure pairs, marks, start/stop-framed characters,
// bits of 7, 7 and 6 samples at 8 kHz), are decoded by an independent receiver (spandsp's ADSI
// receiver) to the same date, number and name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "clidCaller.h"
#include "hdspClass.h"
#include "hostDspDouble.h"

namespace {

struct Modulator {
  std::vector<int16_t> audio;
  double phase = 0.0;
  double amplitude = 0.0;
  double mark = 1200.0;
  double space = 2200.0;
  int bitIndex = 0;  // position in the 7, 7, 6 pattern

  void silence(int samples) { audio.insert(audio.end(), samples, 0); }
  void bit(int value) {
    static const int kSamples[3] = {7, 7, 6};
    const int n = kSamples[bitIndex % 3];
    bitIndex = (bitIndex + 1) % 3;
    const double step = 2.0 * M_PI * (value ? mark : space) / 8000.0;
    for (int i = 0; i < n; ++i) {
      audio.push_back(static_cast<int16_t>(std::lround(amplitude * std::sin(phase))));
      phase += step;
    }
  }
  void character(uint8_t c) {
    bit(0);
    for (int b = 0; b < 8; ++b) bit((c >> b) & 1);
    bit(1);
  }
};

// Plays the recorded class-relay packets as the transmit service would.
std::vector<int16_t> playPackets() {
  Modulator m;
  for (const DspRequest& r : HostDspDouble::get().dsp) {
    if (r.cmd == 0x0832) {
      HSZCLIDTXREGS regs{};
      std::memcpy(&regs, r.data.data(), sizeof regs);
      m.amplitude = regs.Amplitude;
      m.mark = regs.MarkFrequency;
      m.space = regs.SpaceFrequency;
    }
  }
  m.silence(800);
  for (const DspRequest& r : HostDspDouble::get().packets()) {
    HSZCLASSRELAYPACKET p{};
    std::memcpy(&p, r.data.data(), std::min(r.data.size(), sizeof p));
    if (p.hsxPacketHdr.payloadID == HAPI_PKT_CLASSRELAY_START) {
      for (int i = 0; i < p.hsxWord0; i += 2) {
        m.bit(0);
        m.bit(1);
      }
    } else {
      for (int i = 0; i < p.hsxWord0; ++i) {
        const uint16_t w = p.hsxClassMsg[i / 2];
        m.character(static_cast<uint8_t>(i % 2 == 0 ? w & 0xFF : w >> 8));
      }
    }
    for (int i = 0; i < p.hsxWord1; ++i) m.bit(1);
  }
  m.silence(1600);
  return m.audio;
}

struct Decoded {
  int messages = 0;
  int type = -1;
  std::string date, number, name;
  char numberReason = 0, nameReason = 0;
  adsi_rx_state_t* rx = nullptr;
};

void onMessage(void* user, const uint8_t* msg, int len) {
  auto* d = static_cast<Decoded*>(user);
  ++d->messages;
  int pos = -1;
  uint8_t type = 0;
  const uint8_t* body = nullptr;
  int bodyLen = 0;
  while ((pos = adsi_next_field(d->rx, msg, len, pos, &type, &body, &bodyLen)) > 0) {
    if (body == nullptr) {
      d->type = type;
      continue;
    }
    const std::string text(reinterpret_cast<const char*>(body), static_cast<size_t>(bodyLen));
    switch (type) {
      case MCLASS_DATETIME: d->date = text; break;
      case MCLASS_CALLER_NUMBER: d->number = text; break;
      case MCLASS_CALLER_NAME: d->name = text; break;
      case MCLASS_ABSENCE1: d->numberReason = text.empty() ? 0 : text[0]; break;
      case MCLASS_ABSENCE2: d->nameReason = text.empty() ? 0 : text[0]; break;
      default: break;
    }
  }
}

Decoded decode(const std::vector<int16_t>& audio) {
  Decoded d;
  d.rx = adsi_rx_init(nullptr, ADSI_STANDARD_CLASS, onMessage, &d);
  adsi_rx(d.rx, audio.data(), static_cast<int>(audio.size()));
  adsi_rx_free(d.rx);
  d.rx = nullptr;
  return d;
}

class ClidFskOracle : public ::testing::Test {
 protected:
  void SetUp() override { HostDspDouble::get().clear(); }
  VRG_CLASS_FSK fsk{135, 1200, 2200, 300, 180};
};

TEST_F(ClidFskOracle, OnHookCallerIdDecodesToTheSameCaller) {
  const EPCLIDRX_DATA c = caller("03151204", "6175551234", "SMITH JANE");
  ASSERT_EQ(hdspClassMessage(&c, 0x51, 0, VRG_COUNTRY_NORTH_AMERICA, CLASS_MSG_ONHOOK_CLID, &fsk, 0), 0);
  const Decoded d = decode(playPackets());
  EXPECT_EQ(d.messages, 1);
  EXPECT_EQ(d.type, CLASS_MDMF_CALLERID);
  EXPECT_EQ(d.date, "03151204");
  EXPECT_EQ(d.number, "6175551234");
  EXPECT_EQ(d.name, "SMITH JANE");
}

TEST_F(ClidFskOracle, LongNameAndWithheldNumberOffHook) {
  const std::string name = "A NAME LONGER THAN THIRTY CHARACTERS, 45 LONG";
  ASSERT_EQ(name.size(), 45u);
  EPCLIDRX_DATA c = caller("0704", "", name.c_str());
  c.reasonNoNumber = 'P';
  ASSERT_EQ(hdspClassMessage(&c, 0x51, 0, VRG_COUNTRY_NORTH_AMERICA, CLASS_MSG_OFFHOOK_CLID, &fsk, 100), 0);
  const Decoded d = decode(playPackets());
  EXPECT_EQ(d.messages, 1);
  EXPECT_EQ(d.date, "01010000");
  EXPECT_EQ(d.numberReason, 'P');
  EXPECT_EQ(d.name, name);
}

TEST_F(ClidFskOracle, MessageWaitingIndicatorDecodes) {
  ASSERT_EQ(hdspClassVmwi(0x51, 0, CLASS_VMWI_ACTIVATE, CLASS_MDMF_FORMAT, &fsk, VRG_COUNTRY_NORTH_AMERICA), 0);
  Decoded d = decode(playPackets());
  EXPECT_EQ(d.messages, 1);
  EXPECT_EQ(d.type, CLASS_MDMF_MSG_WAITING);

  HostDspDouble::get().clear();
  ASSERT_EQ(hdspClassVmwi(0x51, 0, CLASS_VMWI_DEACTIVATE, 0, &fsk, VRG_COUNTRY_NORTH_AMERICA), 0);
  d = decode(playPackets());
  EXPECT_EQ(d.messages, 1);
  EXPECT_EQ(d.type, CLASS_SDMF_MSG_WAITING);
}

}  // namespace
