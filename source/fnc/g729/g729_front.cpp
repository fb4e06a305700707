// The G.729 front (rate handling, assertions) and the core's frame packing: parameters to the
// serial bit form and back, serial form to packed words and back.
#include <cstdio>

#include "g729_internal.h"

namespace g729 {

void g729AssertFailed(const char* file, int line) { lhapiAssertHandlerVerbose(file, line); }

}  // namespace g729

using namespace g729;

namespace {
constexpr W16 kSync = 0x6B21;
constexpr W16 kBitOne = 0x81;
constexpr W16 kBitZero = 0x7F;

W16* putParam(W16* bits, W16 value, int width) {
    for (int b = width - 1; b >= 0; --b) {
        bits[b] = (value & 1) ? kBitOne : kBitZero;
        value = static_cast<W16>(value >> 1);
    }
    return bits + width;
}

// Where each of the 80 bits of a speech frame comes from: parameter and bit (most significant
// first), so that the frame is written by one loop of fixed length.
struct BitSources {
    unsigned char param[80];
    unsigned char shift[80];
};
constexpr BitSources speechBitSources() {
    BitSources t{};
    int k = 0;
    for (int i = 0; i < 11; ++i)
        for (int b = g729ab_bitsno[i] - 1; b >= 0; --b) {
            t.param[k] = static_cast<unsigned char>(i);
            t.shift[k] = static_cast<unsigned char>(b);
            ++k;
        }
    return t;
}
constexpr BitSources kSpeechBits = speechBitSources();
static_assert(kBitOne - kBitZero == 2, "a bit's word is kBitZero + 2 · bit");
static_assert([] {
    int n = 0;
    for (auto w : g729ab_bitsno) n += w;
    return n;
}() == 80, "a speech frame is 80 bits");

const W16* getParam(const W16* bits, W16* value, int width) {
    W16 v = 0;
    for (int b = 0; b < width; ++b) v = static_cast<W16>((v << 1) | ((bits[b] >> 7) & 1));
    *value = v;
    return bits + width;
}
}  // namespace

void g729ab_prm2bits_ld8k(const std::int16_t* prm, std::int16_t* bits) {
    bits[0] = kSync;
    W16* p = bits + 2;
    switch (prm[0]) {
        case 1:
            bits[1] = 80;
            for (int k = 0; k < 80; ++k) p[k] = static_cast<W16>(kBitZero + 2 * ((prm[1 + kSpeechBits.param[k]] >> kSpeechBits.shift[k]) & 1));
            break;
        case 2:
            bits[1] = 16;
            for (int i = 0; i < 4; ++i) p = putParam(p, prm[1 + i], g729ab_bitsno2[i]);
            *p = kBitZero;
            break;
        case 0:
            bits[1] = 0;
            break;
        default:
            g729AssertFailed("g729ab_bits", 185);
            bits[1] = 0;
            break;
    }
}

void g729ab_bits2prm_ld8k(const std::int16_t* bits, std::int16_t* prm) {
    const W16* p = bits + 1;
    if (bits[0] == 80) {
        prm[1] = 1;
        for (int i = 0; i < 11; ++i) p = getParam(p, &prm[2 + i], g729ab_bitsno[i]);
    } else if (bits[0] == 16) {
        prm[1] = 2;
        for (int i = 0; i < 4; ++i) p = getParam(p, &prm[2 + i], g729ab_bitsno2[i]);
    } else {
        prm[1] = 0;
    }
}

void g729abEncodeInit(G729NUNIENC* st) { g729ab_Init_Coder_ld8a(st, st->Vad); }

void g729abEncodeCfg(G729NUNIENC* st, int vadFlag) { st->Vad = static_cast<W16>(vadFlag & 1); }

int g729abEncoder(G729NUNIENC* st, const std::int16_t* in, std::uint16_t* packed) {
    W16 serial[82];
    g729ab_Coder_ld8a(in, serial, st);
    const int count = serial[1];
    // Bits first to last, most significant first; the word after the last bit is cleared (it
    // is all zero when the bits end on a word's boundary). No branch on the bits themselves.
    std::uint32_t word = 0;
    for (int i = 0; i < count; ++i) {
        word = (word << 1) | std::uint32_t{serial[2 + i] == kBitOne};
        if ((i & 15) == 15) {
            packed[i >> 4] = static_cast<std::uint16_t>(word);
            word = 0;
        }
    }
    packed[count >> 4] = static_cast<std::uint16_t>((count & 15) ? word << (16 - (count & 15)) : 0);
    return count;
}

void g729abDecodeInit(G729NUNIDEC* st) { g729ab_Init_Decod_ld8a(st); }

void g729abDecoder(G729NUNIDEC* st, std::int16_t* out, const std::uint16_t* packed, int frameType) {
    W16 serial[82];
    serial[0] = kSync;
    serial[1] = static_cast<W16>(frameType);
    if (frameType == G729_BFI) {
        serial[2] = 0;
    } else {
        const int n = frameType > 80 ? 80 : frameType;
        std::size_t w = 0;
        std::uint16_t mask = 0x8000;
        for (int i = 0; i < n; ++i) {
            serial[2 + i] = (packed[w] & mask) ? kBitOne : kBitZero;
            if (mask == 1) {
                ++w;
                mask = 0x8000;
            } else {
                mask = static_cast<std::uint16_t>(mask >> 1);
            }
        }
    }
    g729ab_Decod_ld8a(serial, out, st);
}

void g729EncodeInit(G729ENCSTATE* enc, G729RATE rate) {
    enc->rate = rate;
    if (rate == G729RATE_8_KBPS_A)
        g729abEncodeInit(&enc->state.ab);
    else if (rate != G729RATE_NUM_RATES)
        g729AssertFailed("g729unie0", 97);
}

void g729EncodeCfg(G729ENCSTATE* enc, G729VAD vad, G729RATE rate) {
    const G729RATE cur = enc->rate;
    if (cur != G729RATE_NUM_RATES && cur != G729RATE_8_KBPS_A && rate != G729RATE_8_KBPS_A)
        enc->rate = rate;
    else if (rate != cur)
        g729EncodeInit(enc, rate);
    enc->vad = vad;
    if (enc->rate == G729RATE_8_KBPS_A)
        g729abEncodeCfg(&enc->state.ab, vad == G729VAD_ON ? 1 : 0);
    else
        g729AssertFailed("g729unie1", 157);
}

G729FRAMETYPE g729Encoder(G729ENCSTATE* enc, const std::int16_t* in, std::uint16_t* packed, void* /*unused*/) {
    if (enc->rate != G729RATE_8_KBPS_A) {
        g729AssertFailed("g729unie2", 106);
        return G729_BFI;
    }
    return static_cast<G729FRAMETYPE>(g729abEncoder(&enc->state.ab, in, packed));
}

void g729DecodeInit(G729DECSTATE* dec, G729RATE rate) {
    dec->rate = rate;
    if (rate == G729RATE_8_KBPS_A)
        g729abDecodeInit(&dec->state.ab);
    else if (rate != G729RATE_NUM_RATES)
        g729AssertFailed("g729unid0", 104);
}

void g729DecodeCfg(G729DECSTATE* dec, G729RATE rate) {
    const G729RATE cur = dec->rate;
    if (cur == G729RATE_NUM_RATES)
        g729DecodeInit(dec, rate);
    else if (rate == cur)
        return;
    else if (cur == G729RATE_8_KBPS_A || rate == G729RATE_8_KBPS_A)
        g729DecodeInit(dec, rate);
    else
        dec->rate = rate;
}

void g729Decoder(G729DECSTATE* dec, std::int16_t* out, const std::uint16_t* packed, G729FRAMETYPE type, void* /*unused*/) {
    if (dec->rate != G729RATE_8_KBPS_A) {
        g729AssertFailed("g729unid2", 96);
        return;
    }
    g729abDecoder(&dec->state.ab, out, packed, type);
}
