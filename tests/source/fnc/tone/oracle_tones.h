// Test-only signal sources from the independent library: dual tones, DTMF strings and modem
// connect tones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

namespace oracle {

// f1 at l1 dBm0 plus f2 at l2 dBm0 (f2 = 0: single tone), continuous, for ms milliseconds.
inline std::vector<std::int16_t> dualTone(int f1, int l1, int f2, int l2, int ms) {
    tone_gen_descriptor_t* d = tone_gen_descriptor_init(nullptr, f1, l1, f2, l2, ms, 0, 0, 0, 0);
    tone_gen_state_t* g = tone_gen_init(nullptr, d);
    std::vector<std::int16_t> x(static_cast<std::size_t>(ms) * 8);
    const int n = tone_gen(g, x.data(), static_cast<int>(x.size()));
    x.resize(static_cast<std::size_t>(n));
    x.resize(static_cast<std::size_t>(ms) * 8, 0);
    tone_gen_free(g);
    tone_gen_descriptor_free(d);
    return x;
}

// DTMF digits with the given timing (ms) and low-tone level (dBm0) and twist (dB).
inline std::vector<std::int16_t> dtmf(const std::string& digits, int onMs, int offMs, int level = -10, int twist = 0) {
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, level, twist);
    dtmf_tx_set_timing(tx, onMs, offMs);
    dtmf_tx_put(tx, digits.c_str(), static_cast<int>(digits.size()));
    std::vector<std::int16_t> x(digits.size() * static_cast<std::size_t>(onMs + offMs) * 8 + 800, 0);
    dtmf_tx(tx, x.data(), static_cast<int>(x.size()));
    dtmf_tx_free(tx);
    return x;
}

// A modem connect tone of the given kind (MODEM_CONNECT_TONES_...), for ms milliseconds.
inline std::vector<std::int16_t> connectTone(int kind, int ms) {
    modem_connect_tones_tx_state_t* tx = modem_connect_tones_tx_init(nullptr, kind);
    std::vector<std::int16_t> x(static_cast<std::size_t>(ms) * 8);
    modem_connect_tones_tx(tx, x.data(), static_cast<int>(x.size()));
    modem_connect_tones_tx_free(tx);
    return x;
}

}  // namespace oracle
