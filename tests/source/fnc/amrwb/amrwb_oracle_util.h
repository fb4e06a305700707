// Streams of the independent implementations (test-only): frames encoded by
// the independent encoder in RFC 4867 storage format, and their serial bits
// through the payload orders of the table module.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "amrwb_frame_tables.h"

namespace amrwb_test {

inline const Word16* payload_order(int mode) {
    static const Word16* const orders[10] = {amr_wb_sort_660,  amr_wb_sort_885,  amr_wb_sort_1265, amr_wb_sort_1425,
                                            amr_wb_sort_1585, amr_wb_sort_1825, amr_wb_sort_1985, amr_wb_sort_2305,
                                            amr_wb_sort_2385, amr_wb_sort_SID};
    return orders[mode];
}

inline std::string speech16_path() { return std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_16k.raw"; }

// What a test says when the speech fixture is missing or empty (the loader then returns no samples).
inline std::string speech16_missing() { return "speech fixture " + speech16_path() + " is missing or empty"; }

// 16 kHz speech fixture, whole 20 ms frames, the two low bits of every sample
// cleared as the payload wrapper does.
inline std::vector<short> load_speech16(std::size_t max_frames) {
    std::string path = speech16_path();
    std::vector<short> s(320 * max_frames);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::size_t n = std::fread(s.data(), 2, s.size(), f) / 320;
    std::fclose(f);
    s.resize(320 * n);
    for (short& v : s) v = static_cast<short>(v & ~3);
    return s;
}

// `frames` 20 ms frames of faint noise (about -64..63, the two low bits clear) after `speech`,
// from a fixed seed: enough for the encoders to go through the DTX hangover to SID frames.
inline void append_faint_noise(std::vector<short>& speech, std::size_t frames, unsigned seed) {
    const std::size_t n0 = speech.size();
    speech.resize(n0 + 320 * frames);
    unsigned s = seed;
    for (std::size_t i = n0; i < speech.size(); ++i) {
        s = s * 1103515245u + 12345u;
        speech[i] = static_cast<short>((static_cast<int>((s >> 16) & 127) - 64) & ~3);
    }
}

// Serial bits (one word per bit, +127 / -127) of a storage-format frame.
inline std::vector<Word16> serial_of(const unsigned char* frame, int mode) {
    int n = amr_wb_nb_of_bits[mode];
    std::vector<Word16> bits(n);
    const Word16* order = payload_order(mode);
    for (int i = 0; i < n; ++i) bits[order[i]] = ((frame[1 + i / 8] >> (7 - i % 8)) & 1) ? 127 : -127;
    return bits;
}

// A storage-format frame from serial bits.
inline std::vector<unsigned char> storage_of(const Word16* bits, int mode, bool quality = true) {
    int n = amr_wb_nb_of_bits[mode];
    std::vector<unsigned char> f(1 + (n + 7) / 8, 0);
    f[0] = static_cast<unsigned char>((mode << 3) | (quality ? 4 : 0));
    const Word16* order = payload_order(mode);
    for (int i = 0; i < n; ++i)
        if (bits[order[i]] >= 0) f[1 + i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
    return f;
}

}  // namespace amrwb_test
