// The IFP packets of the conversion against an independent T.38 core: what we build it reads
// back as the same indicators, data types, field types and octets, and what it builds we turn
// into the fax-relay packets of the same meaning.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "t38_ifp.h"

namespace {

std::vector<uint8_t> convert(T38ZCONV& st, uint8_t code, const std::vector<uint8_t>& octets) {
  std::vector<uint16_t> payload(1 + (octets.size() + 1) / 2, 0);
  payload[0] = uint16_t(octets.size() * 8);
  for (size_t i = 0; i < octets.size(); ++i)
    payload[1 + i / 2] = uint16_t(payload[1 + i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
  const HAPI_PKT_HDR hdr{uint16_t(0x0500 | code), uint16_t(octets.empty() ? 0 : 2 + octets.size()), 0, 0};
  std::vector<uint8_t> out(128);
  const int n = t38fHapiPktToIFPpkt(&st, 3, &hdr, payload.data(), out.data(), int(out.size()));
  out.resize(size_t(n < 0 ? 0 : n));
  return out;
}

// What the independent core reports on receive.
struct Heard {
  std::vector<int> indicators;
  std::vector<std::tuple<int, int, std::vector<uint8_t>>> fields;  // data type, field type, octets
  int missing = 0;
  static int ind(t38_core_state_t*, void* u, int indicator) {
    static_cast<Heard*>(u)->indicators.push_back(indicator);
    return 0;
  }
  static int data(t38_core_state_t*, void* u, int type, int field, const uint8_t* buf, int len) {
    static_cast<Heard*>(u)->fields.emplace_back(type, field, std::vector<uint8_t>(buf, buf + (buf ? len : 0)));
    return 0;
  }
  static int miss(t38_core_state_t*, void* u, int, int) {
    ++static_cast<Heard*>(u)->missing;
    return 0;
  }
  static int tx(t38_core_state_t*, void*, const uint8_t*, int, int) { return 0; }
};

struct Sent {
  std::vector<std::vector<uint8_t>> ifps;
  static int tx(t38_core_state_t*, void* u, const uint8_t* buf, int len, int) {
    static_cast<Sent*>(u)->ifps.emplace_back(buf, buf + len);
    return 0;
  }
  static int ind(t38_core_state_t*, void*, int) { return 0; }
  static int data(t38_core_state_t*, void*, int, int, const uint8_t*, int) { return 0; }
  static int miss(t38_core_state_t*, void*, int, int) { return 0; }
};

struct Relay {
  std::vector<std::pair<int, std::vector<uint8_t>>> pkts;
  static void sink(void* u, uint8_t code, const uint8_t* d, int n) {
    static_cast<Relay*>(u)->pkts.push_back({code, std::vector<uint8_t>(d, d + n)});
  }
};

TEST(T38IfpOracle, OurIfpsReadBackTheSameInTheIndependentCore) {
  Heard h;
  t38_core_state_t* core = t38_core_init(nullptr, Heard::ind, Heard::data, Heard::miss, &h, Heard::tx, nullptr);
  ASSERT_NE(core, nullptr);
  t38_set_t38_version(core, 0);
  T38ZCONV st{};
  uint16_t seq = 0;
  auto feed = [&](uint8_t code, const std::vector<uint8_t>& octets) {
    const auto ifp = convert(st, code, octets);
    ASSERT_FALSE(ifp.empty()) << int(code);
    EXPECT_EQ(t38_core_rx_ifp_packet(core, ifp.data(), int(ifp.size()), seq++), 0) << int(code);
  };
  // the indicators a call uses, each relay code to its IFP indicator
  const std::vector<std::pair<uint8_t, int>> inds = {
      {1, T38_IND_CNG},  {2, T38_IND_CED},  {3, T38_IND_V21_PREAMBLE},
      {4, T38_IND_V27TER_2400_TRAINING},  {5, T38_IND_V27TER_4800_TRAINING},
      {6, T38_IND_V29_7200_TRAINING},  {7, T38_IND_V29_9600_TRAINING},
      {10, T38_IND_V17_7200_SHORT_TRAINING},  {11, T38_IND_V17_7200_LONG_TRAINING},
      {12, T38_IND_V17_9600_SHORT_TRAINING},  {13, T38_IND_V17_9600_LONG_TRAINING},
      {14, T38_IND_V17_12000_SHORT_TRAINING},  {15, T38_IND_V17_12000_LONG_TRAINING},
      {16, T38_IND_V17_14400_SHORT_TRAINING},  {17, T38_IND_V17_14400_LONG_TRAINING},
      {0, T38_IND_NO_SIGNAL}};
  for (const auto& [code, ind] : inds) feed(code, {});
  ASSERT_EQ(h.indicators.size(), inds.size());
  for (size_t i = 0; i < inds.size(); ++i) EXPECT_EQ(h.indicators[i], inds[i].second) << i;

  // a V.21 frame with its end, then page data at each rate and its end, then an ECM frame
  const std::vector<uint8_t> frame = {0xFF, 0x13, 0x80, 0x00, 0x46};
  feed(18, frame);
  feed(20, {});
  std::vector<uint8_t> page(60);
  for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i * 37 + 1);
  const std::vector<std::pair<uint8_t, int>> rates = {
      {23, T38_DATA_V27TER_2400}, {24, T38_DATA_V27TER_4800}, {25, T38_DATA_V29_7200}, {26, T38_DATA_V29_9600},
      {29, T38_DATA_V17_7200},    {30, T38_DATA_V17_9600},    {31, T38_DATA_V17_12000}, {32, T38_DATA_V17_14400}};
  for (const auto& [code, type] : rates) feed(code, page);
  feed(17, {});  // the current type becomes V.17 14400
  feed(HAPI_PKT_FC_PAGEEND, {});
  feed(42, frame);  // V.17 14400 ECM frame data, then its good end and the page end
  feed(52, {});
  feed(HAPI_PKT_FC_ECM_PAGEEND, {});
  EXPECT_EQ(h.missing, 0);

  std::vector<std::tuple<int, int, std::vector<uint8_t>>> want = {
      {T38_DATA_V21, T38_FIELD_HDLC_DATA, frame}, {T38_DATA_V21, T38_FIELD_HDLC_FCS_OK_SIG_END, {}}};
  for (const auto& [code, type] : rates) want.emplace_back(type, T38_FIELD_T4_NON_ECM_DATA, page);
  want.emplace_back(T38_DATA_V17_14400, T38_FIELD_T4_NON_ECM_SIG_END, std::vector<uint8_t>{});
  want.emplace_back(T38_DATA_V17_14400, T38_FIELD_HDLC_DATA, frame);
  want.emplace_back(T38_DATA_V17_14400, T38_FIELD_HDLC_FCS_OK, std::vector<uint8_t>{});
  want.emplace_back(T38_DATA_V17_14400, T38_FIELD_HDLC_SIG_END, std::vector<uint8_t>{});
  ASSERT_EQ(h.fields.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(std::get<0>(h.fields[i]), std::get<0>(want[i])) << i;
    EXPECT_EQ(std::get<1>(h.fields[i]), std::get<1>(want[i])) << i;
    EXPECT_EQ(std::get<2>(h.fields[i]), std::get<2>(want[i])) << i;
  }
  t38_core_free(core);
}

TEST(T38IfpOracle, TheIndependentCoresIfpsBecomeTheRelaysPackets) {
  Sent s;
  t38_core_state_t* core = t38_core_init(nullptr, Sent::ind, Sent::data, Sent::miss, nullptr, Sent::tx, &s);
  ASSERT_NE(core, nullptr);
  t38_set_t38_version(core, 0);
  t38_core_send_indicator(core, T38_IND_CNG);
  t38_core_send_indicator(core, T38_IND_V21_PREAMBLE);
  t38_core_send_indicator(core, T38_IND_V17_9600_LONG_TRAINING);
  t38_core_send_indicator(core, T38_IND_V29_9600_TRAINING);
  const std::vector<uint8_t> frame = {0xFF, 0x13, 0x80, 0x00, 0x46, 0x77};
  t38_core_send_data(core, T38_DATA_V21, T38_FIELD_HDLC_DATA, frame.data(), int(frame.size()),
                     T38_PACKET_CATEGORY_CONTROL_DATA);
  t38_data_field_t two[2] = {{T38_FIELD_HDLC_DATA, frame.data(), int(frame.size())},
                             {T38_FIELD_HDLC_FCS_OK_SIG_END, nullptr, 0}};
  t38_core_send_data_multi_field(core, T38_DATA_V21, two, 2, T38_PACKET_CATEGORY_CONTROL_DATA_END);
  std::vector<uint8_t> page(300);
  for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(255 - i);
  t38_core_send_data(core, T38_DATA_V29_9600, T38_FIELD_T4_NON_ECM_DATA, page.data(), 86,
                     T38_PACKET_CATEGORY_IMAGE_DATA);
  t38_core_send_data(core, T38_DATA_V29_9600, T38_FIELD_T4_NON_ECM_DATA, page.data(), 300,
                     T38_PACKET_CATEGORY_IMAGE_DATA);
  t38_core_send_data(core, T38_DATA_V29_9600, T38_FIELD_T4_NON_ECM_SIG_END, nullptr, 0,
                     T38_PACKET_CATEGORY_IMAGE_DATA_END);
  t38_core_send_data(core, T38_DATA_V17_12000, T38_FIELD_HDLC_FCS_BAD, nullptr, 0, T38_PACKET_CATEGORY_IMAGE_DATA);
  t38_core_free(core);

  Relay r;
  ASSERT_EQ(s.ifps.size(), 10u);
  for (size_t i = 0; i < s.ifps.size(); ++i) {
    const auto& ifp = s.ifps[i];
    // a field as long as the packet holds is taken (a peer may send a frame in one packet)
    EXPECT_TRUE(t38fIFPpktToHapiPkt(ifp.data(), int(ifp.size()), Relay::sink, &r)) << i;
  }
  const auto& got = r.pkts;
  const std::vector<std::pair<int, std::vector<uint8_t>>> want = {
      {1, {}},  {3, {}},  {13, {}},  {7, {}},  {18, frame},  {18, frame},  {20, {}},
      {26, std::vector<uint8_t>(page.begin(), page.begin() + 84)},
      {26, std::vector<uint8_t>(page.begin() + 84, page.begin() + 86)},
      // 300 octets in the relay's own chunks
      {26, std::vector<uint8_t>(page.begin(), page.begin() + 84)},
      {26, std::vector<uint8_t>(page.begin() + 84, page.begin() + 168)},
      {26, std::vector<uint8_t>(page.begin() + 168, page.begin() + 252)},
      {26, std::vector<uint8_t>(page.begin() + 252, page.end())},
      {26, {}},  // a page end's field leaves its (empty) data chunk first
      {HAPI_PKT_FC_PAGEEND, {}},  {61, {}}};
  EXPECT_EQ(got, want);
}

}  // namespace
