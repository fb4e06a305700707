// The iLBC encoder's frame processing.
#include <array>
#include <cstring>

#include "ilbc_cb.h"
#include "ilbc_codec.h"
#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_lpc.h"
#include "ilbc_search.h"
#include "ilbc_state.h"
#include "ilbc_tables.h"

namespace ilbc {
namespace {

// The extra block beside the start state, coded forwards after it or time-reversed before it.
void code_extra_block(iLBC_Enc_Inst_t* inst, IndexSet& set, const i16* residual, i16* decresidual,
                      const i16* weight12, int start_pos) {
  const int ssl = inst->state_short_len, diff = kStateLen - ssl, start = set.start;
  std::array<i16, kCbMemMax> mem{};
  const std::array<i16, 10> weightState{};
  const int lMem = 85;
  if (set.state_first) {
    ilbc_Copy(decresidual + start_pos, mem.data() + kCbMemMax - ssl, ssl);
    ilbc_iCBSearch(inst, set.extra_cb_index, set.extra_gain_index, residual + start_pos + ssl,
                   mem.data() + kCbMemMax - lMem, lMem, diff, 3, weight12 + 11 * start, weightState.data(), 0);
    ilbc_iCBConstruct(decresidual + start_pos + ssl, set.extra_cb_index, set.extra_gain_index,
                      mem.data() + kCbMemMax - lMem, lMem, diff, 3);
  } else {
    std::array<i16, kSubL> target{}, reversed{};
    ilbc_Rev_Copy(residual + kSubL * (start + 1) - 1 - ssl, target.data(), diff);
    ilbc_Rev_CopyBack(decresidual + start_pos, mem.data() + kCbMemMax - 1, ssl);
    ilbc_iCBSearch(inst, set.extra_cb_index, set.extra_gain_index, target.data(), mem.data() + kCbMemMax - lMem,
                   lMem, diff, 3, weight12 + 11 * (start - 1), weightState.data(), 0);
    ilbc_iCBConstruct(reversed.data(), set.extra_cb_index, set.extra_gain_index, mem.data() + kCbMemMax - lMem,
                      lMem, diff, 3);
    ilbc_Rev_CopyBack(reversed.data(), decresidual + start_pos - 1, diff);
  }
}

void code_forward(iLBC_Enc_Inst_t* inst, IndexSet& set, const i16* residual, i16* decresidual, const i16* weight12) {
  const int start = set.start, Nfor = inst->nsub - start - 1;
  if (Nfor <= 0) return;
  std::array<i16, kCbMemMax> mem{};
  const std::array<i16, 10> weightState{};
  ilbc_Copy(decresidual + kSubL * (start - 1), mem.data() + kCbMemMax - kStateLen, kStateLen);
  for (int j = 0; j < Nfor; ++j) {
    const int lMem = ilbc_memLfTbl[j], pos = kSubL * (start + 1 + j);
    ilbc_iCBSearch(inst, set.cb_index + 3 * j, set.gain_index + 3 * j, residual + pos, mem.data() + kCbMemMax - lMem,
                   lMem, kSubL, 3, weight12 + 11 * (start + 1 + j), weightState.data(), j + 1);
    ilbc_iCBConstruct(decresidual + pos, set.cb_index + 3 * j, set.gain_index + 3 * j, mem.data() + kCbMemMax - lMem,
                      lMem, kSubL, 3);
    ilbc_Copy(mem.data() + kSubL, mem.data(), kCbMemMax - kSubL);
    ilbc_Copy(decresidual + pos, mem.data() + kCbMemMax - kSubL, kSubL);
  }
}

void code_backward(iLBC_Enc_Inst_t* inst, IndexSet& set, const i16* residual, i16* decresidual, const i16* weight12) {
  const int start = set.start, Nback = start - 1, Nfor = std::max(inst->nsub - start - 1, 0);
  if (Nback <= 0) return;
  std::array<i16, 4 * kSubL> target{}, reversed{};
  ilbc_Rev_Copy(residual + kSubL * (start - 1) - 1, target.data(), kSubL * Nback);
  std::array<i16, kCbMemMax> mem{};
  const int avail = std::min(kSubL * (inst->nsub + 1 - start), kCbMemMax);
  ilbc_Rev_CopyBack(decresidual + kSubL * (start - 1), mem.data() + kCbMemMax - 1, avail);
  const std::array<i16, 10> weightState{};
  for (int j = 0; j < Nback; ++j) {
    const int sub = Nfor + j, lMem = ilbc_memLfTbl[sub];
    ilbc_iCBSearch(inst, set.cb_index + 3 * sub, set.gain_index + 3 * sub, target.data() + kSubL * j,
                   mem.data() + kCbMemMax - lMem, lMem, kSubL, 3, weight12 + 11 * (start - 2 - j), weightState.data(),
                   sub + 1);
    ilbc_iCBConstruct(reversed.data() + kSubL * j, set.cb_index + 3 * sub, set.gain_index + 3 * sub,
                      mem.data() + kCbMemMax - lMem, lMem, kSubL, 3);
    ilbc_Copy(mem.data() + kSubL, mem.data(), kCbMemMax - kSubL);
    ilbc_Copy(reversed.data() + kSubL * j, mem.data() + kCbMemMax - kSubL, kSubL);
  }
  ilbc_Rev_CopyBack(reversed.data(), decresidual + kSubL * Nback - 1, kSubL * Nback);
}

}  // namespace

void encode_frame(std::uint16_t* enc_data, i16* block, iLBC_Enc_Inst_t* inst, FrameTrace* trace) {
  const int blockl = inst->blockl, nsub = inst->nsub;
  std::array<i32, 240> data32{};
  const i16 norm_shift = ilbc_hpInput(block, blockl, &inst->pole_shift, data32.data(), inst->zero_mem, inst->pole_mem);

  std::array<i32, 66> synt27{}, weight27{};
  IndexSet set{};
  ilbc_LPCencode(synt27.data(), weight27.data(), set.lsf_i, data32.data(), norm_shift, inst);

  std::array<i16, 10 + 240> speech_plusMem{};
  i16* speech = speech_plusMem.data() + 10;
  ilbc_Vec_L_shr_r(data32.data(), speech, blockl, norm_shift - 2);
  std::array<i16, 68> synt12{}, weight12{};
  ilbc_Conv_LPfiltCoeffs(synt27.data(), weight27.data(), synt12.data(), weight12.data(), nsub);

  ilbc_Copy(inst->anaMem, speech_plusMem.data(), 10);
  std::array<i16, 240> residual{}, decresidual{};
  for (int n = 0; n < nsub; ++n) ilbc_Residu2(synt12.data() + 11 * n, speech + kSubL * n, residual.data() + kSubL * n);
  ilbc_Copy(speech + blockl - 10, inst->anaMem, 10);

  i16 start_pos = 0;
  set.start = ilbc_FrameClassify2(inst, residual.data(), &set.state_first, &start_pos);
  const int ssl = inst->state_short_len;
  const i16* synt_start = synt12.data() + 11 * (set.start - 1);
  ilbc_StateSearchW(inst, residual.data() + start_pos, synt_start, weight12.data() + 11 * (set.start - 1),
                    &set.idxForMax, set.idxVec, ssl, set.state_first);
  ilbc_StateConstructW(set.idxForMax, set.idxVec, synt_start, decresidual.data() + start_pos, ssl);

  code_extra_block(inst, set, residual.data(), decresidual.data(), weight12.data(), start_pos);
  code_forward(inst, set, residual.data(), decresidual.data(), weight12.data());
  code_backward(inst, set, residual.data(), decresidual.data(), weight12.data());

  if (trace) {
    std::array<i16, 250> syn{};
    ilbc_Copy(trace->syntMem, syn.data(), 10);
    ilbc_Copy(decresidual.data(), syn.data() + 10, blockl);
    for (int n = 0; n < nsub; ++n) ilbc_Syn_filt(synt12.data() + 11 * n, syn.data() + 10 + kSubL * n, syn.data() + 10 + kSubL * n, kSubL);
    ilbc_Copy(syn.data() + blockl, trace->syntMem, 10);
    ilbc_Copy(decresidual.data(), trace->residual, blockl);
    ilbc_Copy(syn.data() + 10, trace->synthesis, blockl);
    trace->concealed = false;
  }

  ilbc_index_conv_enc(set.cb_index);
  ilbc_pack_data(frame_ms(inst), enc_data, set);
}

}  // namespace ilbc

using namespace ilbc;

std::int16_t ILBCFIX_MORV_initEncode(iLBC_Enc_Inst_t* inst, std::int16_t mode) {
  inst->mode = mode;
  if (mode == 20 || mode == 30) set_mode_values(inst, mode);
  std::memset(inst->anaMem, 0, sizeof inst->anaMem);
  for (int i = 0; i < 10; ++i) {
    inst->lsfold[i] = ilbc_lsfmeanTbl_q29[i];
    inst->lsfdeqold[i] = ilbc_lsfmeanTbl_q13[i];
  }
  std::memset(inst->lpc_bufferQ14, 0, sizeof inst->lpc_bufferQ14);
  inst->lpc_buffer_shift = 31;
  std::memset(inst->zero_mem, 0, sizeof inst->zero_mem);
  std::memset(inst->pole_mem, 0, sizeof inst->pole_mem);
  inst->pole_shift = 31;
  return inst->no_of_bytes;
}

void ILBCFIX_MORV_encode(std::uint16_t* enc_data, std::int16_t* block, iLBC_Enc_Inst_t* inst) {
  if (!mode_values_valid(inst)) return;  // never set up for 20 or 30 ms: nothing to encode
  encode_frame(enc_data, block, inst, nullptr);
}
