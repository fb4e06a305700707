#include "isac_range_coder.h"

#include "isac_lattice.h"
#include "isac_tables.h"

namespace isac {
namespace {

// Scaled CDF bound of the current interval.
inline uint32_t bound(uint32_t W_upper, uint32_t v) { return (W_upper >> 16) * v + (((W_upper & 0xFFFF) * v) >> 16); }

// Adds a carry into the words before `index` (the last complete word first).
void carry_back(uint16_t* stream, int index) {
    for (int i = index - 1; i >= 0; --i) {
        if (++stream[i] != 0) return;
    }
}

// Adds `add` to the lower end and carries into the bytes already written.
void add_with_carry(Bitstr_enc* s, int index, uint32_t add) {
    const uint32_t before = s->streamval;
    s->streamval += add;
    if (s->streamval >= before) return;
    if (s->full == 1) {
        carry_back(s->stream, index);
    } else {
        s->stream[index] = static_cast<uint16_t>(s->stream[index] + 0x100);
        if ((s->stream[index] & 0xFF00) == 0) carry_back(s->stream, index);
    }
}

// Appends a byte to the stream of 16-bit words, high half first.
void put_byte(Bitstr_enc* s, int& index, uint16_t byte) {
    if (s->full == 1) {
        s->stream[index] = static_cast<uint16_t>(byte << 8);
        s->full = 0;
    } else {
        s->stream[index] = static_cast<uint16_t>(s->stream[index] + byte);
        s->full = 1;
        ++index;
    }
}

// Codes the interval [lo, hi] of the CDF; false when the stream is full.
bool encode_interval(Bitstr_enc* s, int& index, uint32_t cdfLo, uint32_t cdfHi) {
    const uint32_t W_lower = bound(s->W_upper, cdfLo) + 1;
    s->W_upper = bound(s->W_upper, cdfHi) - W_lower;
    add_with_carry(s, index, W_lower);
    while (s->W_upper < (1u << 24)) {
        s->W_upper <<= 8;
        const uint16_t byte = static_cast<uint16_t>(s->streamval >> 24);
        put_byte(s, index, byte);
        if (index >= kStreamWords) return false;
        s->streamval <<= 8;
    }
    return true;
}

// The logistic CDF of a Q15 value.
uint32_t logistic(int32_t x) {
    if (x < -327680) x = -327680;
    if (x > 327680) x = 327680;
    const int i = static_cast<int>((static_cast<int64_t>(x + 327680) * 5) >> 16);
    return static_cast<uint32_t>(kCdfLogistic[i] + ((kCdfSlope[i] * (x - kHistEdges[i])) >> 15));
}

inline int32_t scaled(uint32_t env, int32_t c) { return static_cast<int32_t>(static_cast<int64_t>(env) * c); }

// Byte `pos` of the payload, 0 beyond its length.
inline uint32_t byte_at(const Bitstr_dec* s, uint32_t pos) {
    if (pos >= s->stream_len) return 0;
    const uint16_t w = s->stream[pos >> 1];
    return (pos & 1) ? (w & 0xFF) : (w >> 8);
}

struct Reader {
    Bitstr_dec* s;
    uint32_t idx;
    int16_t full;
    uint32_t streamval;
    uint32_t W_upper;

    explicit Reader(Bitstr_dec* d) : s(d), full(d->full), streamval(d->streamval), W_upper(d->W_upper) {
        if (d->stream_index == 0) {
            streamval = (byte_at(d, 0) << 24) | (byte_at(d, 1) << 16) | (byte_at(d, 2) << 8) | byte_at(d, 3);
            idx = 2;
        } else {
            idx = d->stream_index;
        }
    }

    void renormalise() {
        while (W_upper < (1u << 24)) {
            W_upper <<= 8;
            if (full == 1) {
                streamval = (streamval << 8) | byte_at(s, 2 * idx);
                full = 0;
            } else {
                streamval = (streamval << 8) | byte_at(s, 2 * idx + 1);
                full = 1;
                ++idx;
            }
        }
    }

    // Stores the state back and returns the bytes consumed.
    int finish() {
        s->W_upper = W_upper;
        s->streamval = streamval;
        s->stream_index = static_cast<uint16_t>(idx);
        s->full = full;
        if (W_upper > 0x1FFFFFF) return static_cast<int>(2 * idx) - (full == 1 ? 3 : 2);
        return static_cast<int>(2 * idx) - 2 + (full == 0 ? 1 : 0);
    }
};

}  // namespace

void WebRtcIsacfix_InitBitstreamEnc(Bitstr_enc* s) {
    for (auto& w : s->stream) w = 0;
    s->W_upper = 0xFFFFFFFFu;
    s->streamval = 0;
    s->stream_index = 0;
    s->full = 1;
}

void WebRtcIsacfix_InitBitstreamDec(Bitstr_dec* s, const uint16_t* words, uint16_t len_bytes) {
    s->stream = words;
    s->W_upper = 0xFFFFFFFFu;
    s->streamval = 0;
    s->stream_index = 0;
    s->full = 1;
    s->stream_len = len_bytes;
}

int WebRtcIsacfix_EncHistMulti(Bitstr_enc* s, const int16_t* data, const uint16_t* const* cdf, int16_t lenData) {
    int index = s->stream_index;
    for (int k = 0; k < lenData; ++k) {
        if (!encode_interval(s, index, cdf[k][data[k]], cdf[k][data[k] + 1])) return kStreamFull;
    }
    s->stream_index = static_cast<uint16_t>(index);
    return 0;
}

int WebRtcIsacfix_EncLogisticMulti2(Bitstr_enc* s, int16_t* dataQ7, const uint16_t* envQ8, int16_t lenData,
                                    int16_t isSWB12kHz) {
    int index = s->stream_index;
    const uint16_t* env = envQ8;
    for (int k = 0; k < lenData; ++k) {
        int32_t d = dataQ7[k];
        uint32_t cdfLo = logistic(scaled(*env, d - 64));
        uint32_t cdfHi = logistic(scaled(*env, d + 64));
        // A cell with too little probability moves toward zero until it fits.
        while (cdfLo + 1 >= cdfHi) {
            if (d > 0) {
                d -= 128;
                cdfHi = cdfLo;
                cdfLo = logistic(scaled(*env, d - 64));
            } else {
                d += 128;
                cdfLo = cdfHi;
                cdfHi = logistic(scaled(*env, d + 64));
            }
        }
        dataQ7[k] = static_cast<int16_t>(d);
        if (!encode_interval(s, index, cdfLo, cdfHi)) return kStreamFull;
        if (isSWB12kHz ? (k & 1) : ((k & 3) == 3)) ++env;
    }
    s->stream_index = static_cast<uint16_t>(index);
    return 0;
}

int16_t WebRtcIsacfix_EncTerminate(Bitstr_enc* s) {
    int index = s->stream_index;
    if (index >= kStreamWords) return static_cast<int16_t>(2 * index);
    if (s->W_upper > 0x1FFFFFF) {
        add_with_carry(s, index, 0x1000000);
        const uint16_t byte = static_cast<uint16_t>(s->streamval >> 24);
        put_byte(s, index, byte);
    } else {
        add_with_carry(s, index, 0x10000);
        if (s->full == 1) {
            s->stream[index] = static_cast<uint16_t>(s->streamval >> 16);
        } else {
            s->stream[index] = static_cast<uint16_t>(s->stream[index] + (s->streamval >> 24));
            // The next word exists only inside the array; a stream that ends in
            // its last word loses nothing, as the byte carries no information
            // the decoder needs beyond the interval.
            if (index + 1 < kStreamWords) s->stream[index + 1] = static_cast<uint16_t>((s->streamval >> 8) & 0xFF00);
        }
        ++index;
    }
    return static_cast<int16_t>(2 * index + (s->full == 0 ? 1 : 0));
}

int WebRtcIsacfix_DecHistBisectMulti(int16_t* data, Bitstr_dec* d, const uint16_t* const* cdf,
                                     const uint16_t* cdfSize, int16_t lenData) {
    if (d->W_upper == 0) return -2;
    Reader r(d);
    for (int k = 0; k < lenData; ++k) {
        const uint16_t* t = cdf[k];
        int step = cdfSize[k] >> 1;
        int p = step - 1;
        uint32_t W_lower = 0, W_tmp = 0;
        uint32_t upper = r.W_upper;
        for (;;) {
            step >>= 1;
            W_tmp = bound(r.W_upper, t[p]);
            if (step == 0) break;
            if (r.streamval > W_tmp) {
                W_lower = W_tmp;
                p += step;
            } else {
                upper = W_tmp;
                p -= step;
            }
        }
        if (r.streamval > W_tmp) {
            data[k] = static_cast<int16_t>(p);
            W_lower = W_tmp;
        } else {
            data[k] = static_cast<int16_t>(p - 1);
            upper = W_tmp;
        }
        W_lower += 1;
        r.W_upper = upper - W_lower;
        r.streamval -= W_lower;
        r.renormalise();
    }
    return r.finish();
}

int WebRtcIsacfix_DecHistOneStepMulti(int16_t* data, Bitstr_dec* d, const uint16_t* const* cdf,
                                      const uint16_t* initIndex, int16_t lenData) {
    if (d->W_upper == 0) return -2;
    Reader r(d);
    for (int k = 0; k < lenData; ++k) {
        const uint16_t* t = cdf[k];
        int p = initIndex[k];
        uint32_t W_lower, W_upper;
        uint32_t W_tmp = bound(r.W_upper, t[p]);
        if (r.streamval > W_tmp) {
            do {
                if (t[p] == 65535) return -3;
                W_lower = W_tmp;
                ++p;
                W_tmp = bound(r.W_upper, t[p]);
            } while (r.streamval > W_tmp);
            W_upper = W_tmp;
            data[k] = static_cast<int16_t>(p - 1);
        } else {
            do {
                W_upper = W_tmp;
                --p;
                if (p < 0) return -3;
                W_tmp = bound(r.W_upper, t[p]);
            } while (r.streamval <= W_tmp);
            W_lower = W_tmp;
            data[k] = static_cast<int16_t>(p);
        }
        W_lower += 1;
        r.W_upper = W_upper - W_lower;
        r.streamval -= W_lower;
        r.renormalise();
    }
    return r.finish();
}

int WebRtcIsacfix_DecLogisticMulti2(int16_t* data, Bitstr_dec* d, const int32_t* envQ8, int16_t lenData,
                                    int16_t isSWB12kHz) {
    if (d->W_upper == 0) return -2;
    uint16_t env[240] = {};
    int32_t sq[240] = {};
    const int n_env = isSWB12kHz ? lenData / 2 : lenData / 4;
    if (lenData < 0 || lenData > 480 || n_env > 120) return -1;
    for (int i = 0; i < n_env; ++i) sq[i] = envQ8[i];
    WebRtcIsacfix_VecSqrt(sq, env);
    Reader r(d);
    const uint16_t* e = env;
    for (int k = 0; k < lenData; ++k) {
        int32_t c = 64 - data[k];
        uint32_t W_lower, W_upper;
        uint32_t W_tmp = bound(r.W_upper, logistic(scaled(*e, c)));
        if (r.streamval > W_tmp) {
            W_lower = W_tmp;
            c += 128;
            W_tmp = bound(r.W_upper, logistic(scaled(*e, c)));
            while (r.streamval > W_tmp) {
                const uint32_t previous = W_tmp;
                W_lower = W_tmp;
                c += 128;
                W_tmp = bound(r.W_upper, logistic(scaled(*e, c)));
                if (W_tmp == previous) return -1;
            }
            W_upper = W_tmp;
            data[k] = static_cast<int16_t>(c - 64);
        } else {
            W_upper = W_tmp;
            c -= 128;
            W_tmp = bound(r.W_upper, logistic(scaled(*e, c)));
            while (r.streamval <= W_tmp) {
                const uint32_t previous = W_tmp;
                W_upper = W_tmp;
                c -= 128;
                W_tmp = bound(r.W_upper, logistic(scaled(*e, c)));
                if (W_tmp == previous) return -1;
            }
            W_lower = W_tmp;
            data[k] = static_cast<int16_t>(c + 64);
        }
        r.W_upper = W_upper - (W_lower + 1);
        r.streamval -= W_lower + 1;
        r.renormalise();
        if (isSWB12kHz ? (k & 1) : ((k & 3) == 3)) ++e;
    }
    return r.finish();
}

}  // namespace isac
