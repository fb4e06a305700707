// The adaptive codebook: vectors from the decoded residual, their three-stage construction, the
// gain tables and the forms that the encoder's search works on.
#pragma once

#include "ilbc_basic.h"

namespace ilbc {

inline constexpr int kCbMemMax = 147;

// Number of codebook vectors for a memory of lMem samples and vectors of cbveclen samples.
inline int cb_size(int lMem, int cbveclen) { return 2 * (lMem - cbveclen + 1 + (cbveclen == 40 ? 20 : 0)); }

void ilbc_getCBvec(i16* cbvec_q0, const i16* mem_q0, int index, int lMem, int cbveclen);
void ilbc_iCBConstruct(i16* decvector_q0, const i16* index, const i16* gain_index, const i16* mem_q0, int lMem,
                       int veclen, int nStages);
i32 ilbc_gaindequant(int index, i32 maxIn_q30, int cblen);
void ilbc_index_conv_enc(i16* index);
void ilbc_index_conv_dec(i16* index);
void ilbc_filteredCBvecs(i16* cbvectors, const i16* mem, int lMem, i16* scratch, const i16* rev_taps);
void ilbc_createAugmentedVec_q0(int index, const i16* buffer, i16* cbVec);
const i32* gain_table(int cblen);
// The codebook filter at one sample: the saturating sum of the doubled products of x[-3..4]
// with the reversed filter taps, high half (the model).
i16 ilbc_genCBvec_loop2(const i16* x);
// out[i] = ilbc_genCBvec_loop2(p + i) for i < n, in plain sums when the block cannot saturate.
void ilbc_cb_filter(const i16* p, i16* out, int n);

}  // namespace ilbc
