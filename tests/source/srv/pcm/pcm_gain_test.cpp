// The PCM and gain services in a channel of their own on the framework: a source below them
// writes a known frame, the gain service scales it, the PCM service offers it as raw-PCM data and
// a probe above them takes that data.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "gain.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "pcm.h"
#include "qrn/qrn.h"
#include "vhd/vhd.h"

namespace {

struct Seen {
  uint16_t header = 0xFFFF;
  std::vector<int16_t> samples;
};
std::vector<Seen> gSeen;

HAPIRESULT noInit(HSFSRVOBJ) { return HAPISUCCESS; }

// Writes sample i = 100 * (i + 1) (alternating sign) into both buffers of the frame.
void sourceIngress(HSFSRVOBJ) {
  QRN_Socket* s = QRN_CurrentSocket();
  const int frame = hsfFrmPeriodGet();
  for (int i = 0; i < frame; ++i) s->memDesc[0][i] = static_cast<int16_t>((i & 1 ? -100 : 100) * (i + 1));
  if (s->memDesc[1] != nullptr) {
    for (int i = 0; i < 2 * frame; ++i) s->memDesc[1][i] = static_cast<int16_t>(7 * i);
  }
}

void probeIngress(HSFSRVOBJ) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_PCM, &m, 0, HSF_IBD_RECEIVE) != 0) {
    Seen seen;
    seen.header = m.ext.header;
    const auto* p = static_cast<const int16_t*>(m.ext.bufp);
    seen.samples.assign(p, p + m.ext.length / 2);
    gSeen.push_back(seen);
  }
}

const HSFSRVARC sourceArc = {HAPI_CONF_BOS_SRV, 4, nullptr, sourceIngress, nullptr, noInit, nullptr};
const HSFSRVARC probeArc = {HAPI_CONF_TOS_SRV, 4, nullptr, probeIngress, nullptr, noInit, nullptr};
const QRN_ServiceArchive stack[] = {{&probeArc, 1, HAPI_HOST_SRV},
                                    {&pcmarc, 1, HAPI_HOST_SRV},
                                    {&gainarc, 1, HAPI_HOST_SRV},
                                    {&sourceArc, 1, HAPI_HOST_SRV}};
const QRN_StackArchive stacks[] = {{1, 40, stack, 4}};
const QRN_SocketConfig narrowConfig = {4096, 4000, stacks, 1, 1, 0, 0x40, 0x40, 0, 0, 880, 880};
const QRN_SocketConfig wideConfig = {4096, 4000, stacks, 1, 1, HAPI_VHDOPT_DEFAULT_WIDEBAND,
                                     0x40, 0x40, 0, 0, 880, 880};
const VHD_Archive archives[] = {{1, 1, &narrowConfig}, {2, 1, &wideConfig}};

void hostSink(QRN_Handle, QRN_SocketMsg* msg) { QRN_FreeSocketMsg(msg); }

void tick(int n) {
  for (int i = 0; i < n; ++i) {
    HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
    KNL_FrameSync();
    LHAPI_gpFncUnlockSMP(s);
  }
}

HSZGAINLOCLMEM* gainOf(QRN_Handle h) {
  QRN_Socket* s = QRN_FindSocket(h);
  for (uint16_t i = 0; i < s->numServiceEntries; ++i) {
    if (s->service[i].archive == &gainarc) return static_cast<HSZGAINLOCLMEM*>(s->service[i].serviceData);
  }
  return nullptr;
}

class PcmGain : public ::testing::TestWithParam<uint16_t> {
 protected:
  void SetUp() override {
    gSeen.clear();
    lhapiInit(0);
    QRN_HapiInit(hostSink, nullptr);
    VHD_gArchive = archives;
    VHD_gNumArchives = static_cast<uint16_t>(std::size(archives));
    ASSERT_EQ(VHD_OpenInstance(HAPIVHD0, GetParam()), 1);
    tick(2);
  }
  void TearDown() override {
    VHD_CloseInstance(HAPIVHD0);
    tick(1);
  }
};

}  // namespace

TEST_P(PcmGain, EachIngressFrameIsOfferedAsRawPcmAfterTheGain) {
  const bool wide = GetParam() == 2;
  HSZGAINLOCLMEM* g = gainOf(HAPIVHD0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->gain, 4096);
  EXPECT_EQ(g->volume, 4096);
  HSFMSG cmd{};
  cmd.std = HSFMSGSTD{HAPI_GAIN_SET_CMD, 0, 2048};  // ingress gain one half
  EXPECT_EQ(gainIo(g, &cmd, nullptr), HAPISUCCESS);
  cmd.std = HSFMSGSTD{HAPI_GAIN_SET_CMD, 1, 8192};  // egress volume twice
  EXPECT_EQ(gainIo(g, &cmd, nullptr), HAPISUCCESS);
  EXPECT_EQ(g->gain, 2048);
  EXPECT_EQ(g->volume, 8192);
  cmd.std = HSFMSGSTD{0x3881, 0, 1};
  EXPECT_EQ(gainIo(g, &cmd, nullptr), HAPIFAILURE);

  gSeen.clear();
  tick(3);
  ASSERT_EQ(gSeen.size(), 3u);
  const Seen& s = gSeen.back();
  EXPECT_EQ(s.header, 0);
  ASSERT_EQ(s.samples.size(), wide ? 120u : 40u);
  for (int i = 0; i < 40; ++i) {
    const int x = (i & 1 ? -100 : 100) * (i + 1);
    EXPECT_EQ(s.samples[i], (x * 2048 + 2048) >> 12) << i;
  }
  if (wide) {
    for (int i = 0; i < 80; ++i) EXPECT_EQ(s.samples[40 + i], (7 * i * 2048 + 2048) >> 12) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Bands, PcmGain, ::testing::Values(uint16_t{1}, uint16_t{2}));
