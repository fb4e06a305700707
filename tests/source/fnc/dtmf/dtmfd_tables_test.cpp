// The designed filter tables are pinned by checksums (their behaviour is pinned by the
// detector's tests on independent tones); regenerate with tools/gen_dtmfd_filters.py.
#include <gtest/gtest.h>

#include "dtmfd.h"

namespace {
long weighted(const std::array<std::int16_t, DTMFD_TAPS>& t) {
    long s = 0;
    for (int i = 0; i < DTMFD_TAPS; ++i) s += long{t[i]} * (i + 1);
    return s;
}
}  // namespace

TEST(DtmfTables, FilterChecksums) {
    EXPECT_EQ(weighted(bpLowCos), 1925);
    EXPECT_EQ(weighted(bpLowSin), -3940);
    EXPECT_EQ(weighted(bpHighCos), -847);
    EXPECT_EQ(weighted(bpHighSin), 1847);
}
