// The bit stream: random index sets survive packing and unpacking, fields land where the frame
// layout puts them, and frames the decoder must not trust are concealed.
#include <gtest/gtest.h>

#include <random>

#include "ilbc_pack.h"
#include "ilbc_test_util.h"

namespace {

using ilbc::IndexSet;

IndexSet random_set(int mode, std::mt19937& rng) {
  auto r = [&](int bits) { return static_cast<std::int16_t>(rng() & ((1u << bits) - 1)); };
  IndexSet s{};
  const int lsf_sets = mode == 30 ? 2 : 1;
  for (int k = 0; k < lsf_sets; ++k) {
    s.lsf_i[3 * k] = r(6);
    s.lsf_i[3 * k + 1] = r(7);
    s.lsf_i[3 * k + 2] = r(7);
  }
  s.start = r(mode == 30 ? 3 : 2);
  s.state_first = r(1);
  s.idxForMax = r(6);
  for (int i = 0; i < (mode == 30 ? 58 : 57); ++i) s.idxVec[i] = r(3);
  const int gain_bits[3] = {5, 4, 3};
  for (int k = 0; k < 3; ++k) {
    s.extra_cb_index[k] = r(7);
    s.extra_gain_index[k] = r(gain_bits[k]);
  }
  const int subs = mode == 30 ? 4 : 2;
  for (int j = 0; j < subs; ++j)
    for (int k = 0; k < 3; ++k) {
      s.cb_index[3 * j + k] = r(j == 0 && k > 0 ? 7 : 8);
      s.gain_index[3 * j + k] = r(gain_bits[k]);
    }
  return s;
}

bool same(const IndexSet& a, const IndexSet& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class IlbcBitstream : public ::testing::TestWithParam<int> {};

TEST_P(IlbcBitstream, RandomIndexSetsRoundTrip) {
  const int mode = GetParam(), words = ilbc_test::frame_words(mode);
  std::mt19937 rng(mode);
  for (int n = 0; n < 2000; ++n) {
    const IndexSet in = random_set(mode, rng);
    std::vector<std::uint16_t> w(static_cast<std::size_t>(words) + 1, 0xA5A5);
    ilbc::ilbc_pack_data(mode, w.data(), in);
    EXPECT_EQ(w[static_cast<std::size_t>(words)], 0xA5A5) << "written past the frame";
    EXPECT_EQ(w[static_cast<std::size_t>(words) - 1] & 1, 0) << "final bit";
    IndexSet out;
    EXPECT_EQ(ilbc::ilbc_unpack_data(mode, w.data(), &out), 0);
    ASSERT_TRUE(same(in, out)) << "set " << n;
  }
}

// Every bit of the frame belongs to exactly one field: flipping any bit but the last changes
// the unpacked set, and the classes fill the frame in the stated order.
TEST_P(IlbcBitstream, EveryBitCarriesOneField) {
  const int mode = GetParam(), bits = 16 * ilbc_test::frame_words(mode);
  std::vector<std::uint16_t> zero(static_cast<std::size_t>(bits / 16), 0);
  IndexSet base;
  ilbc::ilbc_unpack_data(mode, zero.data(), &base);
  for (int b = 0; b < bits - 1; ++b) {
    auto w = zero;
    w[static_cast<std::size_t>(b / 16)] = static_cast<std::uint16_t>(1u << (15 - b % 16));
    IndexSet s;
    EXPECT_EQ(ilbc::ilbc_unpack_data(mode, w.data(), &s), 0);
    EXPECT_FALSE(same(s, base)) << "bit " << b;
  }
  auto w = zero;
  w.back() = 1;
  IndexSet s;
  EXPECT_EQ(ilbc::ilbc_unpack_data(mode, w.data(), &s), 1);
  EXPECT_TRUE(same(s, base));
}

INSTANTIATE_TEST_SUITE_P(Modes, IlbcBitstream, ::testing::Values(20, 30));

TEST(IlbcBitstream, FieldPositionsOfBothModes) {
  // 20 ms: word 0 holds lsf_i[0] in bits 15..10, lsf_i[1] in 9..3, the top 3 bits of lsf_i[2] in 2..0.
  IndexSet s{};
  s.lsf_i[0] = 0x2D;
  s.lsf_i[1] = 0x5A;
  s.lsf_i[2] = 0x71;
  std::uint16_t w[25] = {};
  ilbc::ilbc_pack_data(20, w, s);
  EXPECT_EQ(w[0], (0x2D << 10) | (0x5A << 3) | (0x71 >> 4));
  // Class 1 ends at bit 47 (20 ms): gain_index[3] bit 4 is bit 47, the last of word 2.
  s = IndexSet{};
  s.gain_index[3] = 16;
  ilbc::ilbc_pack_data(20, w, s);
  EXPECT_EQ(w[2], 1);
  // Class 2 of 20 ms starts with the top bit of every start-state sample (bits 48..104).
  s = IndexSet{};
  s.idxVec[0] = 4;
  ilbc::ilbc_pack_data(20, w, s);
  EXPECT_EQ(w[3], 0x8000);
  // 30 ms: start in bits 40..42, class 2 from bit 64 with the top bits of idxVec.
  s = IndexSet{};
  s.start = 5;
  s.idxVec[57] = 4;
  ilbc::ilbc_pack_data(30, w, s);
  EXPECT_EQ(w[2], 5 << 5);
  EXPECT_EQ(w[4] & 0x3F, 0);
  EXPECT_EQ((w[7] >> 6) & 1, 1);  // bit 121 = idxVec[57] bit 2
  // Class boundaries: the last bit of classes 1 and 2 and the first of class 3 in both modes.
  auto bit_of = [&](int mode, auto set_field) {
    IndexSet t{};
    set_field(t);
    std::uint16_t f[25] = {};
    ilbc::ilbc_pack_data(mode, f, t);
    int found = -1, count = 0;
    for (int b = 0; b < 400; ++b)
      if ((f[b / 16] >> (15 - b % 16)) & 1) {
        found = b;
        ++count;
      }
    return count == 1 ? found : -1;
  };
  EXPECT_EQ(bit_of(20, [](IndexSet& t) { t.gain_index[3] = 16; }), 47);
  EXPECT_EQ(bit_of(20, [](IndexSet& t) { t.gain_index[4] = 4; }), 111);
  EXPECT_EQ(bit_of(20, [](IndexSet& t) { t.idxVec[0] = 2; }), 112);
  EXPECT_EQ(bit_of(20, [](IndexSet& t) { t.gain_index[5] = 1; }), 302);
  EXPECT_EQ(bit_of(30, [](IndexSet& t) { t.gain_index[1] = 8; }), 63);
  EXPECT_EQ(bit_of(30, [](IndexSet& t) { t.idxVec[0] = 4; }), 64);
  EXPECT_EQ(bit_of(30, [](IndexSet& t) { t.gain_index[10] = 8; }), 159);
  EXPECT_EQ(bit_of(30, [](IndexSet& t) { t.idxVec[0] = 2; }), 160);
  EXPECT_EQ(bit_of(30, [](IndexSet& t) { t.gain_index[11] = 1; }), 398);
  // Octet order: octet 2i is the high byte of word i.
  const auto oct = ilbc_test::to_octets({0x1234, 0xABCD});
  EXPECT_EQ(oct, (std::vector<std::uint8_t>{0x12, 0x34, 0xAB, 0xCD}));
}

}  // namespace
