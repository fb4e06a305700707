// The LSP root search steps two grid points at a time far from a root; its
// roots must be those of the plain one-point scan along the grid (the scan
// resumes after a root at the next grid point, also when the root lay in the
// first half of a double step).
#include "orvox_fixture.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// One-point scan, bisected four times and interpolated linearly.
void one_point_scan(const Word16* a, Word16* lsp, const Word16* old_lsp) {
    Word16 f1[6], f2[6];
    f1[0] = f2[0] = 1024;
    for (int i = 0; i < 5; ++i) {
        f1[i + 1] = sub(extract_h(L_mac(L_mult(a[i + 1], 8192), a[10 - i], 8192)), f1[i]);
        f2[i + 1] = add(extract_h(L_msu(L_mult(a[i + 1], 8192), a[10 - i], 8192)), f2[i]);
    }
    Word32 c[2][6];
    for (int p = 0; p < 2; ++p) {
        const Word16* f = p ? f2 : f1;
        c[p][0] = 0;
        for (int i = 1; i <= 4; ++i) c[p][i] = Word32{f[i]} * 16384;
        c[p][5] = Word32{f[5]} * 8192;
    }
    int ip = 0, nf = 0;
    Word16 xlow = amrefr_grid[0], ylow = amrefr_Chebps(xlow, c[0]);
    for (int j = 1; nf < 10 && j <= 60; ++j) {
        Word16 xhigh = xlow, yhigh = ylow;
        xlow = amrefr_grid[j];
        ylow = amrefr_Chebps(xlow, c[ip]);
        if (L_mult(ylow, yhigh) > 0) continue;
        for (int i = 0; i < 4; ++i) {
            Word16 xmid = add(shr(xlow, 1), shr(xhigh, 1)), ymid = amrefr_Chebps(xmid, c[ip]);
            if (L_mult(ylow, ymid) <= 0) {
                yhigh = ymid;
                xhigh = xmid;
            } else {
                ylow = ymid;
                xlow = xmid;
            }
        }
        Word16 x = sub(xhigh, xlow), y = sub(yhigh, ylow), xint = xlow;
        if (y != 0) {
            Word16 sign = y;
            y = abs_s(y);
            Word16 e = norm_s(y);
            y = div_s(16383, shl(y, e));
            y = extract_l(L_shr(L_mult(x, y), sub(20, e)));
            if (sign < 0) y = negate(y);
            xint = sub(xlow, extract_l(L_shr(L_mult(ylow, y), 11)));
        }
        lsp[nf++] = xint;
        xlow = xint;
        ip ^= 1;
        ylow = amrefr_Chebps(xlow, c[ip]);
    }
    if (nf < 10)
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
}

}  // namespace

TEST(AmrnbLspScan, RootsEqualTheOnePointScanOnSpeech) {
    std::string path = orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw");
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<Word16> s(160 * 600);
    s.resize(std::fread(s.data(), sizeof(Word16), s.size(), f));
    std::fclose(f);
    ASSERT_GE(s.size(), 240u * 2);
    GSMAMR_LevinsonState lev{};
    lev.old_A[0] = 4096;
    Word16 old_lsp[10];
    std::memcpy(old_lsp, amrefr_lsp_init_data, sizeof(old_lsp));
    int frames = 0;
    for (std::size_t pos = 0; pos + 240 <= s.size(); pos += 160) {
        Word16 x[240];
        for (int i = 0; i < 240; ++i) x[i] = static_cast<Word16>(s[pos + i] & 0xFFF8);
        Word32 r[13];
        Word16 A[11], rc[4], ours[10], ref[10];
        amrefr_Autocorr(x, r, amrefr_window_232_8);
        amrefr_Lag_window(r);
        amrefr_Levinson(&lev, r, A, rc);
        amrefr_Az_lsp(A, ours, old_lsp);
        one_point_scan(A, ref, old_lsp);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(ours[i], ref[i]) << "frame " << frames << " root " << i;
        std::memcpy(old_lsp, ours, sizeof(old_lsp));
        ++frames;
    }
    EXPECT_GT(frames, 500);
}
