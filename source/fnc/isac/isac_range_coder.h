// The range coder that writes and reads every field of a payload, with its
// histogram (CDF table) and logistic (spectral sample) models.
#pragma once

#include <cstdint>

namespace isac {

constexpr int kStreamWords = 200;
constexpr int16_t kStreamFull = -6440;

struct Bitstreamstruct_enc {
    uint16_t stream[kStreamWords];
    uint32_t W_upper;
    uint32_t streamval;
    uint16_t stream_index;
    int16_t full;
};
using Bitstr_enc = Bitstreamstruct_enc;

struct Bitstreamstruct_dec {
    const uint16_t* stream;
    uint32_t W_upper;
    uint32_t streamval;
    uint16_t stream_index;
    int16_t full;
    // Bytes of `stream` that hold payload; reading beyond them yields 0, so a
    // corrupt stream can never read outside the caller's buffer.
    uint16_t stream_len;
};
using Bitstr_dec = Bitstreamstruct_dec;

void WebRtcIsacfix_InitBitstreamEnc(Bitstr_enc* s);
void WebRtcIsacfix_InitBitstreamDec(Bitstr_dec* s, const uint16_t* words, uint16_t len_bytes);

int WebRtcIsacfix_EncHistMulti(Bitstr_enc* streamData, const int16_t* data, const uint16_t* const* cdf,
                               int16_t lenData);
int WebRtcIsacfix_EncLogisticMulti2(Bitstr_enc* streamData, int16_t* dataQ7, const uint16_t* envQ8,
                                    int16_t lenData, int16_t isSWB12kHz);
int16_t WebRtcIsacfix_EncTerminate(Bitstr_enc* streamData);

// `cdfSize` is a power of two, one more than the entries of its table (the
// search never goes past the table's final 65535).
int WebRtcIsacfix_DecHistBisectMulti(int16_t* data, Bitstr_dec* streamData, const uint16_t* const* cdf,
                                     const uint16_t* cdfSize, int16_t lenData);
int WebRtcIsacfix_DecHistOneStepMulti(int16_t* data, Bitstr_dec* streamData, const uint16_t* const* cdf,
                                      const uint16_t* initIndex, int16_t lenData);
int WebRtcIsacfix_DecLogisticMulti2(int16_t* data, Bitstr_dec* streamData, const int32_t* envQ8,
                                    int16_t lenData, int16_t isSWB12kHz);

}  // namespace isac
