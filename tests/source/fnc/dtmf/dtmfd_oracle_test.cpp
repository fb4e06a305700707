// The DTMF block detector on tones from an independent generator: every digit, the frequency
// windows, the twist limits per administration, the power threshold and the filters' history.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>


#include "dtmfd.h"
#include "tone.h"
#include "../tone/oracle_tones.h"

namespace {

// Feeds a signal block by block, keeping the 76 samples of history the detector reads.
class Runner {
public:
    Runner(std::uint16_t admin = HAPI_PTE_ADM_N_AMERICA, std::uint16_t minPower = 28) : admin_(admin), power_(minPower) {
        dtmfdInit(&st_);
    }
    // `blocks` blocks at a time through dtmfdBlocks, or one at a time through dtmfdBlk (0).
    std::vector<DTDET_RESULT> run(const std::vector<std::int16_t>& x, int blocks = 0) {
        std::vector<DTDET_RESULT> out;
        const int step = DTMFD_BLOCK * std::max(blocks, 1);
        for (std::size_t i = 0; i + step <= x.size(); i += step) {
            buf_.insert(buf_.end(), x.begin() + i, x.begin() + i + step);
            std::vector<DTDET_RESULT> r(static_cast<std::size_t>(std::max(blocks, 1)));
            if (blocks == 0) {
                dtmfdBlk(&st_, admin_, power_, r.data(), buf_.data() + buf_.size() - step);
            } else {
                dtmfdBlocks(&st_, admin_, power_, r.data(), buf_.data() + buf_.size() - step, blocks);
            }
            out.insert(out.end(), r.begin(), r.end());
            buf_.erase(buf_.begin(), buf_.end() - DTMFD_TAPS);
        }
        return out;
    }
    DTMFD_STATE st_{};

private:
    std::uint16_t admin_, power_;
    std::vector<std::int16_t> buf_ = std::vector<std::int16_t>(DTMFD_TAPS, 0);
};

using oracle::dualTone;

// Number of blocks that report the digit, and whether any other digit appeared.
struct Count {
    int hits = 0;
    int others = 0;
};
Count count(const std::vector<DTDET_RESULT>& r, int digit) {
    Count c;
    for (const auto& b : r) {
        if (b.digit == digit) {
            ++c.hits;
        } else if (b.digit >= 0) {
            ++c.others;
        }
    }
    return c;
}

const char* kDigits = "0123456789*#ABCD";

}  // namespace

bool operator==(const DTDET_RESULT& a, const DTDET_RESULT& b) { return a.digit == b.digit && a.power == b.power; }

namespace {

}  // namespace

TEST(DtmfDetector, EveryDigitFromTheIndependentGenerator) {
    const auto x = oracle::dtmf(kDigits, 100, 100);
    Runner r;
    const auto res = r.run(x);
    for (int d = 0; d < 16; ++d) {
        // 100 ms on = 20 blocks; the filter's delay and the edges cost a few.
        std::vector<DTDET_RESULT> part(res.begin() + d * 40, res.begin() + d * 40 + 40);
        const Count c = count(part, d);
        EXPECT_GE(c.hits, 16) << kDigits[d];
        EXPECT_EQ(c.others, 0) << kDigits[d];
        for (const auto& b : part) {
            if (b.digit == d) {
                EXPECT_NEAR(b.power, 10, 1) << kDigits[d];  // each tone at -10 dBm0
            } else {
                EXPECT_EQ(b.power, 31);
            }
        }
    }
}

TEST(DtmfDetector, SilenceAndSingleTonesGiveNothingWhileHistoryAdvances) {
    Runner r;
    auto res = r.run(std::vector<std::int16_t>(800, 0));
    EXPECT_EQ(count(res, -1).hits, 20);
    for (int f : {697, 941, 1209, 1633, 1000}) {
        res = r.run(dualTone(f, -5, 0, 0, 200));
        EXPECT_EQ(count(res, -1).hits, 40) << f;
    }
    // The low group's filter ran on (its last output kept) while the high group was silent.
    Runner a, b;
    const auto low = dualTone(852, -10, 0, 0, 100);
    a.run(low);
    b.run(low);
    EXPECT_NE(a.st_.bpOutLowReal | a.st_.bpOutLowImag, 0);
    const auto digit = dualTone(852, -10, 1336, -10, 100);
    a.run(digit);
    std::vector<std::int16_t> both(low);
    both.insert(both.end(), digit.begin(), digit.end());
    Runner c;
    c.run(both);
    EXPECT_EQ(a.st_.bpOutLowReal, c.st_.bpOutLowReal);
    EXPECT_EQ(a.st_.bpOutHighImag, c.st_.bpOutHighImag);
    // Silence after a digit brings both groups' history to rest, so the next digit's first
    // block starts from zero outputs, as on a fresh detector.
    a.run(std::vector<std::int16_t>(160, 0));
    EXPECT_EQ(a.st_.bpOutLowReal | a.st_.bpOutLowImag | a.st_.bpOutHighReal | a.st_.bpOutHighImag, 0);
    Runner fresh;
    fresh.run(std::vector<std::int16_t>(160, 0));
    EXPECT_EQ(a.run(digit), fresh.run(digit));
    // A frame of two blocks gives what its blocks give one by one: a digit whose end is still in
    // the history of a silent frame, a digit that starts in a frame's second block, silence.
    std::vector<std::int16_t> stream(DTMFD_BLOCK * 6, 0);
    // (Full-scale tones are not taken for digits, but their filter outputs still reach the
    // history of a silent frame.)
    const std::pair<int, int> bursts[] = {{0, -8}, {13, -8}, {40, -8}, {57, -8}, {79, -8}, {0, 0}, {13, 0}, {40, 0}, {57, 0}, {79, 0}};
    for (const auto& [shift, dBm0] : bursts) {
        std::vector<std::int16_t> burst(static_cast<std::size_t>(shift), 0);
        const auto tone = dualTone(770, dBm0, 1477, dBm0, 60);
        burst.insert(burst.end(), tone.begin(), tone.end());
        burst.resize(burst.size() + DTMFD_BLOCK * 5 - burst.size() % DTMFD_BLOCK, 0);
        stream.insert(stream.end(), burst.begin(), burst.end());
    }
    stream.resize(stream.size() - stream.size() % (2 * DTMFD_BLOCK));
    Runner one, two;
    int hits = 0;
    for (std::size_t at = 0; at < stream.size(); at += 2 * DTMFD_BLOCK) {
        const std::vector<std::int16_t> frame(stream.begin() + at, stream.begin() + at + 2 * DTMFD_BLOCK);
        const auto want = one.run(frame);
        const auto got = two.run(frame, 2);
        hits += count(want, 6).hits;
        EXPECT_EQ(got, want) << at;
        EXPECT_EQ(std::memcmp(&one.st_, &two.st_, sizeof(one.st_)), 0) << at;
    }
    EXPECT_GE(hits, 40);  // 770 + 1477 Hz, five times 60 ms
    // Whatever sample of a block a digit starts at after silence, the history kept is each
    // group's filter output at the block's last output point.
    const auto onset = dualTone(941, 0, 1633, 0, 20);
    for (int start = 0; start < DTMFD_BLOCK; ++start) {
        std::vector<std::int16_t> x(DTMFD_TAPS + 2 * DTMFD_BLOCK, 0);
        std::copy(onset.begin(), onset.begin() + DTMFD_BLOCK - start, x.begin() + DTMFD_TAPS + DTMFD_BLOCK + start);
        DTMFD_STATE st{};
        dtmfdInit(&st);
        DTDET_RESULT res;
        for (int blk = 0; blk < 2; ++blk) {
            const std::int16_t* block = x.data() + DTMFD_TAPS + blk * DTMFD_BLOCK;
            dtmfdBlk(&st, HAPI_PTE_ADM_N_AMERICA, 28, &res, block);
            const std::int16_t* last = block + 8 * (DTMFD_OUTPUTS - 1);
            EXPECT_EQ(st.bpOutHighReal, dtmfdBpFilt1(last, bpHighCos.data())) << start;
            EXPECT_EQ(st.bpOutHighImag, dtmfdBpFilt1(last, bpHighSin.data())) << start;
            EXPECT_EQ(st.bpOutLowReal, dtmfdBpFilt1(last, bpLowCos.data())) << start;
            EXPECT_EQ(st.bpOutLowImag, dtmfdBpFilt1(last, bpLowSin.data())) << start;
        }
    }
}

TEST(DtmfDetector, FrequencyWindowsAcceptOnePointFiveAndRejectThreePointFivePercent) {
    const int lows[4] = {697, 770, 852, 941}, highs[4] = {1209, 1336, 1477, 1633};
    for (std::uint16_t admin : {HAPI_PTE_ADM_N_AMERICA, HAPI_PTE_ADM_EUROPE}) {
        for (int g = 0; g < 2; ++g) {
            for (int i = 0; i < 4; ++i) {
                const int f = g == 0 ? lows[i] : highs[i];
                const int other = g == 0 ? highs[(i + 1) % 4] : lows[(i + 2) % 4];
                const int digit = g == 0 ? hstdtmfdinv[i][(i + 1) % 4] : hstdtmfdinv[(i + 2) % 4][i];
                for (int sign : {-1, 1}) {
                    // 1.5 % rounded away from the nominal, 3.5 % rounded towards it.
                    const int accept = f + sign * static_cast<int>(std::ceil(f * 0.015));
                    const int reject = f + sign * static_cast<int>(std::floor(f * 0.035));
                    Runner ra(admin), rr(admin);
                    const auto a = g == 0 ? dualTone(accept, -10, other, -10, 200) : dualTone(other, -10, accept, -10, 200);
                    const auto r = g == 0 ? dualTone(reject, -10, other, -10, 200) : dualTone(other, -10, reject, -10, 200);
                    EXPECT_GE(count(ra.run(a), digit).hits, 30) << admin << " " << accept;
                    const Count cr = count(rr.run(r), digit);
                    EXPECT_EQ(cr.hits + cr.others, 0) << admin << " " << reject;
                }
            }
        }
    }
}

TEST(DtmfDetector, TwistLimitsPerAdministration) {
    // Forward twist (high group stronger) and reverse twist (low group stronger). Each shift step
    // is a factor of two in power (3.01 dB); the two tones come from the generator separately and
    // the weaker one is scaled so the twist can sit a quarter dB either side of the limit.
    const auto low = dualTone(770, -10, 0, 0, 200), high = dualTone(1477, -10, 0, 0, 200);
    auto hits = [&](std::uint16_t admin, double lowDb, double highDb) {
        std::vector<std::int16_t> x(low.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<std::int16_t>(std::lround(low[i] * std::pow(10, lowDb / 20) + high[i] * std::pow(10, highDb / 20)));
        }
        Runner r(admin, 40);
        return count(r.run(x), 6).hits;
    };
    for (std::uint16_t admin = 0; admin < HAPI_PTE_ADM_MAXADM; ++admin) {
        const double fwd = 10 * std::log10(2.0) * dtmfd_admin_parm[admin].fwdTwistdB;
        const double rev = 10 * std::log10(2.0) * dtmfd_admin_parm[admin].revTwistdB;
        EXPECT_GE(hits(admin, -fwd + 0.25, 0), 30) << admin;
        EXPECT_EQ(hits(admin, -fwd - 0.25, 0), 0) << admin;
        EXPECT_GE(hits(admin, 0, -rev + 0.25), 30) << admin;
        EXPECT_EQ(hits(admin, 0, -rev - 0.25), 0) << admin;
    }
    // The stated North American cases: high 6 dB up passes and 7 dB fails; low 9 dB up passes.
    EXPECT_GE(hits(HAPI_PTE_ADM_N_AMERICA, -6, 0), 30);
    EXPECT_EQ(hits(HAPI_PTE_ADM_N_AMERICA, -7, 0), 0);
    EXPECT_GE(hits(HAPI_PTE_ADM_N_AMERICA, 0, -9), 30);
}

TEST(DtmfDetector, MinDetectPowerSetsTheSensitivity) {
    // Per-tone level at which detection stops, for a few settings: one dB per step.
    auto weakestDetected = [](std::uint16_t minPower) {
        int weakest = 0;
        for (int level = -10; level >= -60; --level) {
            Runner r(HAPI_PTE_ADM_N_AMERICA, minPower);
            if (count(r.run(dualTone(941, level, 1336, level, 100)), 0).hits >= 12) weakest = level;
        }
        return weakest;
    };
    const int w20 = weakestDetected(20), w28 = weakestDetected(28), w36 = weakestDetected(36);
    std::printf("weakest detected tone level: minDetectPower 20 -> %d dBm0, 28 -> %d dBm0, 36 -> %d dBm0\n", w20, w28,
                w36);
    EXPECT_NEAR(w28, -30, 1);
    EXPECT_EQ(w28 - w20, -8);
    EXPECT_EQ(w36 - w28, -8);
    // From 72 on the thresholds vanish.
    std::uint32_t t1 = 1, t5 = 1;
    dtmfdCalcThresh(72, &t1, &t5);
    EXPECT_EQ(t1, 0u);
    EXPECT_EQ(t5, 0u);
    Runner r(HAPI_PTE_ADM_N_AMERICA, 72);
    EXPECT_GE(count(r.run(dualTone(941, -60, 1336, -60, 100)), 0).hits, 12);
}
