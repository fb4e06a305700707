// Ring profiles built from provisioned cadences and the static patterns.

#include <gtest/gtest.h>

#include <vector>

#include "../logCapture.h"
#include "casCtlInternal.h"
#include "vrgEndptTypes.h"

namespace {

struct Step {
  uint32_t word;
  uint32_t ms;
  bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Step& s) {
  return out << "{0x" << std::hex << s.word << std::dec << ", " << s.ms << "}";
}

// The steps of a profile up to and including the first one that ends it, or `limit` steps.
std::vector<Step> steps(const CASSTM& stm, int limit = CAS_CTL_MAX_PROFILE_STEPS) {
  std::vector<Step> out;
  for (int i = 0; i < limit; ++i) {
    out.push_back({stm.state[i].stateinfo, stm.state[i].duration});
    if (casWordEndsProfile(stm.state[i].stateinfo)) break;
  }
  return out;
}

int countSteps(const CASSTM& stm) {
  int n = 0;
  while (n < CAS_CTL_MAX_PROFILE_STEPS && stm.state[n].stateinfo != 0) ++n;
  return n;
}

CAS_CTL_RING_PROFILE shortRing(uint32_t p1, uint32_t p2, CAS_CTL_PROV_RING_TYPE type,
                               uint32_t clid = 0) {
  CAS_CTL_RING_PROFILE r{};
  r.provBits.shortRingPattern = {p1, p2};
  r.ringType = type;
  r.clidTxDelay = clid;
  return r;
}

// A long cadence of the given bits (50 ms each), flags and loop start.
CAS_CTL_RING_PROFILE longRing(const std::vector<bool>& bits, bool once, uint32_t loopStart,
                              CAS_CTL_PROV_RING_TYPE type, uint32_t clid = 0) {
  CAS_CTL_RING_PROFILE r{};
  r.ringType = type;
  r.clidTxDelay = clid;
  r.provBits.words[0] = static_cast<uint32_t>(bits.size()) << 16 | (once ? 0x8000u : 0) |
                        (loopStart & 0x7F) << 8;
  for (size_t i = 0; i < bits.size(); ++i) {
    const size_t position = 24 + i;
    if (bits[i]) r.provBits.words[position / 32] |= 1u << (31 - position % 32);
  }
  return r;
}

std::vector<bool> cadence(std::initializer_list<std::pair<bool, int>> runs) {
  std::vector<bool> bits;
  for (const auto& [ring, n] : runs) bits.insert(bits.end(), n, ring);
  return bits;
}

CASSTM build(const CAS_CTL_RING_PROFILE& ring) {
  CASSTM stm;
  EXPECT_TRUE(casCtlBuildRingProfile(ring, &stm));
  return stm;
}

TEST(CasRingProfile, ShortPatternPlayedOnceOrRepeated) {
  // Four ring bits, play once: 400 ms ring, 5600 ms first ring-off, then idle.
  EXPECT_EQ(steps(build(shortRing(0xF0000000, 0x00000008, CAS_CTRL_SHORT_NORMAL_RING))),
            (std::vector<Step>{{0x20450, 400}, {0x2087A, 5600}, {0x1F400, 0}}));
  EXPECT_EQ(steps(build(shortRing(0xF0000000, 0x00000008, CAS_CTRL_SHORT_BRIEF_RING))),
            (std::vector<Step>{{0x20450, 400}, {0x2087A, 5600}, {0x1F520, 0}}));
  // Flag bit 3 clear: the silence leads back to the ring.
  EXPECT_EQ(steps(build(shortRing(0xF0000000, 0x00000000, CAS_CTRL_SHORT_NORMAL_RING)), 3),
            (std::vector<Step>{{0x20450, 400}, {0x2007A, 5600}, {0, 0}}));
}

TEST(CasRingProfile, GeneralRingOfTheUsaProfile) {
  EXPECT_EQ(steps(build(shortRing(0xFFFFF000, 0, CAS_CTRL_SHORT_NORMAL_RING)), 3),
            (std::vector<Step>{{0x20450, 2000}, {0x2007A, 4000}, {0, 0}}));
  // With caller ID 500 ms into the first long silence.
  EXPECT_EQ(steps(build(shortRing(0xFFFFF000, 0, CAS_CTRL_SHORT_NORMAL_RING, 500)), 4),
            (std::vector<Step>{{0x20450, 2000}, {0x2087A, 500}, {0x20110 | 10, 3500}, {0, 0}}));
  // Leading zero bits are dropped; later short silences are plain ring-offs.
  EXPECT_EQ(steps(build(shortRing(0x0FF0FF00, 0, CAS_CTRL_SHORT_NORMAL_RING)), 5),
            (std::vector<Step>{{0x20450, 800}, {0x2086A, 400}, {0x20C50, 800}, {0x2007A, 3600}, {0, 0}}));
}

TEST(CasRingProfile, LongCadenceWithCallerIdSplitAndLoopStart) {
  // 1 s ring, 4 s silence, 0.5 s ring, 1 s silence; repeat from step 2.
  const auto bits = cadence({{true, 20}, {false, 80}, {true, 10}, {false, 20}});
  const CASSTM stm = build(longRing(bits, false, 2, CAS_CTRL_LONG_NORMAL_RING, 500));
  EXPECT_EQ(steps(stm, 6), (std::vector<Step>{{0x20450, 1000},
                                              {0x2087A, 500},           // first ring-off
                                              {0x20C00 | 0x11A, 3500},  // timer expire
                                              {0x21050, 500},
                                              {0x20C6A, 1000},  // back to the moved loop start
                                              {0, 0}}));
  // Without the split the loop start stays.
  const CASSTM plain = build(longRing(bits, false, 2, CAS_CTRL_LONG_NORMAL_RING));
  EXPECT_EQ(casWordNext(plain.state[3].stateinfo), 2u);
}

TEST(CasRingProfile, OddLongPatternsStayInsideTheProfile) {
  // Length 0: one idle step with forward feed.
  EXPECT_EQ(steps(build(longRing({}, false, 0, CAS_CTRL_LONG_NORMAL_RING))),
            (std::vector<Step>{{0x1F40A, 0}}));
  // 296 alternating bits, play once, caller ID asked for: the profile still fits, and the
  // long silence it needs for caller ID never comes.
  std::vector<bool> alternating;
  for (int i = 0; i < CAS_CTL_PROV_LONG_RING_MAX_INTERVAL; ++i) alternating.push_back(i % 2 == 0);
  const CASSTM full = build(longRing(alternating, true, 0, CAS_CTRL_LONG_BRIEF_RING, 500));
  EXPECT_EQ(countSteps(full), CAS_CTL_MAX_PROFILE_STEPS);
  EXPECT_EQ(full.state[CAS_CTL_MAX_PROFILE_STEPS - 1].stateinfo, 0x1F520u);
  // A loop start beyond the cadence's steps returns to the first step.
  const CASSTM looped = build(longRing(cadence({{true, 4}, {false, 4}}), false, 100,
                                       CAS_CTRL_LONG_NORMAL_RING));
  EXPECT_EQ(casWordNext(looped.state[1].stateinfo), 0u);
  // A length field beyond 296 bits reads no further than the pattern.
  CAS_CTL_RING_PROFILE huge = longRing(alternating, false, 0, CAS_CTRL_LONG_NORMAL_RING);
  huge.provBits.words[0] |= 0xFFFF0000u;
  EXPECT_EQ(countSteps(build(huge)), CAS_CTL_PROV_LONG_RING_MAX_INTERVAL);
}

TEST(CasRingProfile, JapanStaticPatterns) {
  CAS_CTL_RING_PROFILE ir{};
  ir.ringType = CAS_CTRL_STATIC_RING;
  ir.pattern = CAS_CTL_MAKE_RING_PATTERN(VRG_COUNTRY_JAPAN, CAS_CTL_JAPAN_RING_ID_IR);
  ASSERT_EQ(ir.pattern, CAS_CTL_RING_JAPAN_IR);
  const CASSTM irStm = build(ir);
  EXPECT_EQ(steps(irStm, 3), (std::vector<Step>{{0x70450, 1000}, {0x70062, 2000}, {0, 0}}));
  EXPECT_EQ(irStm.loopcount, 0);
  EXPECT_EQ(irStm.afterloop, 0);

  CAS_CTL_RING_PROFILE car = ir;
  car.pattern = CAS_CTL_RING_JAPAN_CAR;
  std::vector<Step> expected = {{0x70492, 250}, {0x70912, 0}};
  const uint32_t alternating[] = {0x80C50, 0x81062, 0x81450, 0x81862, 0x81C50, 0x82062,
                                  0x82450, 0x82862, 0x82C50, 0x83062, 0x83450};
  for (uint32_t w : alternating) expected.push_back({w, 500});
  expected.push_back({0x83862, 250});
  expected.push_back({0x7F512, 0});
  EXPECT_EQ(steps(build(car)), expected);
}

TEST(CasRingProfile, RequestsThatCannotBeBuiltAreRefused) {
  LogCapture log;
  CASSTM stm;
  CAS_CTL_RING_PROFILE cyprus{};
  cyprus.ringType = CAS_CTRL_STATIC_RING;
  cyprus.pattern = CAS_CTL_RING_CYPRUS_RG;
  EXPECT_FALSE(casCtlBuildRingProfile(cyprus, &stm));
  CAS_CTL_RING_PROFILE japanUnknown = cyprus;
  japanUnknown.pattern = CAS_CTL_MAKE_RING_PATTERN(VRG_COUNTRY_JAPAN, 2);
  EXPECT_FALSE(casCtlBuildRingProfile(japanUnknown, &stm));
  CAS_CTL_RING_PROFILE unknown = shortRing(0xFFFFF000, 0, static_cast<CAS_CTL_PROV_RING_TYPE>(7));
  EXPECT_FALSE(casCtlBuildRingProfile(unknown, &stm));
  EXPECT_EQ(log.count("CAS: Unrecognized package - cannot set ring pattern"), 1);
}

}  // namespace
