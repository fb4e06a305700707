// Packing of frame parameters into 16-bit words, most significant bit first.
#include "gcommon_internal.h"

namespace gcommon {

namespace {
constexpr int kSpeechBits[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
constexpr int kSidBits[4] = {1, 5, 4, 5};

void putBits(std::uint16_t* words, int& pos, int value, int n) {
    for (int b = n - 1; b >= 0; --b, ++pos) {
        const auto mask = static_cast<std::uint16_t>(0x8000u >> (pos & 15));
        if ((value >> b) & 1)
            words[pos >> 4] = static_cast<std::uint16_t>(words[pos >> 4] | mask);
        else
            words[pos >> 4] = static_cast<std::uint16_t>(words[pos >> 4] & ~mask);
    }
}

SINT16 getBits(const std::uint16_t* words, int& pos, int n) {
    int v = 0;
    for (int b = 0; b < n; ++b, ++pos) v = (v << 1) | ((words[pos >> 4] >> (15 - (pos & 15))) & 1);
    return static_cast<SINT16>(v);
}
}  // namespace

int g729Prm2bits_ld8e(const SINT16* prm, std::uint16_t* bits) {
    int pos = 0;
    if (prm[0] == 1) {
        for (int i = 0; i < 11; ++i) putBits(bits, pos, prm[1 + i], kSpeechBits[i]);
        return 80;
    }
    if (prm[0] == 2) {
        for (int i = 0; i < 4; ++i) putBits(bits, pos, prm[1 + i], kSidBits[i]);
        putBits(bits, pos, 0, 1);
        return 16;
    }
    return 0;
}

// Marker values: 8 for an 80-bit frame, 2 for a SID, 0 for no transmission, 1 for any other frame
// type. The 8 is not the 1 the packer takes for speech; nothing in the system reads the marker, so
// it stays as defined, and a decoder loop on this unpacker must test for 8.
void g729Bits2prm_ld8e(const std::uint16_t* bits, SINT16* prm, int frameType) {
    int pos = 0;
    if (frameType == 80) {
        prm[0] = 8;
        for (int i = 0; i < 11; ++i) prm[1 + i] = getBits(bits, pos, kSpeechBits[i]);
    } else if (frameType == 16) {
        prm[0] = 2;
        for (int i = 0; i < 4; ++i) prm[1 + i] = getBits(bits, pos, kSidBits[i]);
    } else if (frameType == 0) {
        prm[0] = 0;
    } else {
        prm[0] = 1;
    }
}

}  // namespace gcommon
