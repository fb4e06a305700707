// Algebraic codebook: correlations of the search, the fast depth-first 17-bit search with its
// driver, the pulse decoder and the block correlation-maximum helper. The search itself and the
// correlations are the live codec's; the set's correlation matrix orders its nine cross blocks
// differently, so the adapters translate between the two layouts.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

namespace {
// Cross blocks (track a, track b) in the set's order and their word offsets in the two layouts.
struct CrossBlock {
    int a, b, set, live;
};
constexpr CrossBlock kBlocks[9] = {
    {0, 1, 40, g729::kRr01},  {0, 2, 104, g729::kRr02}, {0, 3, 168, g729::kRr03},
    {1, 2, 232, g729::kRr12}, {1, 3, 296, g729::kRr13}, {0, 4, 360, g729::kRr04},
    {2, 3, 424, g729::kRr23}, {1, 4, 488, g729::kRr14}, {2, 4, 552, g729::kRr24},
};

void liveToSet(const SINT16* live, SINT16* rr) {
    for (int i = 0; i < 40; ++i) rr[i] = live[i];
    for (const auto& b : kBlocks)
        for (int i = 0; i < 64; ++i) rr[b.set + i] = live[b.live + i];
}

void setToLive(const SINT16* rr, SINT16* live) {
    for (int i = 0; i < 40; ++i) live[i] = rr[i];
    for (const auto& b : kBlocks)
        for (int i = 0; i < 64; ++i) live[b.live + i] = rr[b.set + i];
}
}  // namespace

void g729Cor_h(const SINT16* H, SINT16* rr) {
    SINT16 live[g729::kRrSize];
    g729::g729ab_Cor_h(H, live);
    liveToSet(live, rr);
}

void g729Cor_h_X(const SINT16* h, const SINT16* X, SINT16* D) { g729::g729ab_Cor_h_X(h, X, D); }

void g729Corr_xy2(const SINT16* xn, const SINT16* y1, const SINT16* y2, GCOEFF* g_coeff_new) {
    SINT16 g[5], e[5];
    g729::g729ab_Corr_xy2(xn, y1, y2, g, e);
    for (int k = 2; k < 5; ++k) {
        g_coeff_new->g_coeff_exp[k] = g[k];
        g_coeff_new->g_coeff_exp[5 + k] = e[k];
    }
}

void Find2Max(int nStart, const SINT16* inPtr, SINT16* outPtr) {
    SINT16 max1 = -1, max2 = -1;
    outPtr[0] = outPtr[1] = static_cast<SINT16>(nStart);
    for (int p = nStart; p < 40; p += 5) {
        const SINT16 v = inPtr[p];
        if (v > max2) {
            if (v > max1) {
                max2 = max1;
                outPtr[1] = outPtr[0];
                max1 = v;
                outPtr[0] = static_cast<SINT16>(p);
            } else {
                max2 = v;
                outPtr[1] = static_cast<SINT16>(p);
            }
        }
    }
}

SINT16 g729aD4i40_17_fast(SINT16* dn, SINT16* rr, const SINT16* h, SINT16* cod, SINT16* y, SINT16* sign) {
    SINT16 live[g729::kRrSize];
    setToLive(rr, live);
    // The signs as the search sees them, before it makes dn non-negative.
    SINT16 s[40];
    for (int i = 0; i < 40; ++i) s[i] = dn[i] >= 0 ? SINT16{32767} : SINT16{-32768};
    const SINT16 index = g729::g729ab_D4i40_17_fast(dn, live, h, cod, y, sign);
    // Leave the caller's matrix sign-adjusted, as the search defines it.
    for (const auto& b : kBlocks)
        for (int j = 0; j < 8; ++j)
            for (int k = 0; k < 8; ++k) {
                SINT16& v = rr[b.set + 8 * j + k];
                SINT16 t = static_cast<SINT16>((SINT32{v} * s[5 * k + b.b]) >> 15);
                if (s[5 * j + b.a] < 0) t = negate(t);
                v = t;
            }
    return index;
}

SINT16 g729aACELP_Code_A(const SINT16* x, SINT16* h, int T0, SINT16 pitch_sharp, SINT16* code, SINT16* y, SINT16* sign,
                         SINT16* scratchp) {
    const SINT16 sharp15 = shl(pitch_sharp, 1);
    if (T0 < 40) g729::g729ab_Vec_add_prev_mult(h, sharp15, T0);
    SINT16* dn = scratchp;
    SINT16* rr = scratchp + 40;
    g729Cor_h_X(h, x, dn);
    g729Cor_h(h, rr);
    const SINT16 index = g729aD4i40_17_fast(dn, rr, h, code, y, sign);
    if (T0 < 40) g729::g729ab_Vec_add_prev_mult(code, sharp15, T0);
    return index;
}

void g729Decod_ACELP(SINT16 sign, SINT16 idx, SINT16* cod) { g729::g729ab_Decod_ACELP(sign, idx, cod); }

SINT32 BlockCorMax4_40(int nSamps, const SINT16* inPtr, const SINT16* cPtr, int* pInd) {
    SINT32 best = INT32_MIN;
    *pInd = 0;
    for (int i = 0; i < nSamps; ++i) {
        SINT32 c = 0;
        for (int k = 0; k < 40; ++k) c = L_mac(c, cPtr[k], inPtr[i + k]);
        if (c >= best) {
            best = c;
            *pInd = i;
        }
    }
    return best;
}

}  // namespace gcommon
