// The iLBC decoder's frame processing.
#include <array>
#include <cstring>

#include "ilbc_cb.h"
#include "ilbc_codec.h"
#include "ilbc_enhancer.h"
#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_lpc.h"
#include "ilbc_plc.h"
#include "ilbc_state.h"
#include "ilbc_tables.h"
#include "wide128.h"

namespace ilbc {
namespace {

bool start_valid(const iLBC_Dec_Inst_t* inst, int start) { return start >= 1 && start <= (frame_ms(inst) == 30 ? 5 : 3); }

// Without the enhancer the concealment lag comes from the decoded residual itself: the lag of
// 20..119 whose normalised correlation over the last 80 samples is largest (positive only).
i16 own_lag(const iLBC_Dec_Inst_t* inst, const i16* residual) {
  const int blockl = inst->blockl;
  std::array<i16, 480> hist{};
  ilbc_Copy(inst->prevResidual, hist.data(), blockl);
  ilbc_Copy(residual, hist.data() + blockl, blockl);
  const i16* target = hist.data() + 2 * blockl - 80;
  i64 corr[100];
  ilbc_lag_correlations(target, 20, 100, corr);
  int best = 20;
  orvox::Int128 best_c = 0, best_e = 1;
  // Energy of the lagged window, one sample in and one out per lag (exact in 64 bits).
  i64 e = ilbc_Vec_L64_sqa0(target - 20, 80);
  for (int lag = 20; lag < 120; ++lag) {
    if (lag > 20) e += i64{i32{target[-lag]} * target[-lag]} - i32{target[80 - lag]} * target[80 - lag];
    const i64 c = corr[lag - 20];
    if (c <= 0 || e <= 0) continue;
    if (static_cast<orvox::Int128>(c) * c * best_e > best_c * best_c * e) {
      best = lag;
      best_c = c;
      best_e = e;
    }
  }
  return static_cast<i16>(best);
}

}  // namespace

bool indices_in_range(const iLBC_Dec_Inst_t* inst, const IndexSet& set) {
  const int diff = kStateLen - inst->state_short_len;
  const int extra = cb_size(85, diff), sub = cb_size(kCbMemMax, kSubL);
  for (int k = 0; k < 3; ++k)
    if (set.extra_cb_index[k] < 0 || set.extra_cb_index[k] >= extra) return false;
  for (int k = 0; k < 3 * inst->nasub; ++k)
    if (set.cb_index[k] < 0 || set.cb_index[k] >= sub) return false;
  return true;
}

void ilbc_frame_Decode(const iLBC_Dec_Inst_t* inst, i16* dec, const IndexSet& set, const i16* synt12) {
  const int ssl = inst->state_short_len, diff = kStateLen - ssl, start = set.start, nsub = inst->nsub;
  const int start_pos = set.state_first ? kSubL * (start - 1) : kSubL * (start - 1) + diff;
  ilbc_StateConstructW(set.idxForMax, set.idxVec, synt12 + 11 * (start - 1), dec + start_pos, ssl);

  std::array<i16, kCbMemMax> mem{};
  if (set.state_first) {
    ilbc_Copy(dec + start_pos, mem.data() + kCbMemMax - ssl, ssl);
    ilbc_iCBConstruct(dec + start_pos + ssl, set.extra_cb_index, set.extra_gain_index, mem.data() + kCbMemMax - 85,
                      85, diff, 3);
  } else {
    std::array<i16, kSubL> reversed{};
    ilbc_Rev_CopyBack(dec + start_pos, mem.data() + kCbMemMax - 1, ssl);
    ilbc_iCBConstruct(reversed.data(), set.extra_cb_index, set.extra_gain_index, mem.data() + kCbMemMax - 85, 85,
                      diff, 3);
    ilbc_Rev_CopyBack(reversed.data(), dec + start_pos - 1, diff);
  }

  const int nfor = std::max(nsub - start - 1, 0);
  if (nfor > 0) {
    mem.fill(0);
    ilbc_Copy(dec + kSubL * (start - 1), mem.data() + kCbMemMax - kStateLen, kStateLen);
    for (int j = 0; j < nfor; ++j) {
      const int lMem = ilbc_memLfTbl[j], pos = kSubL * (start + 1 + j);
      ilbc_iCBConstruct(dec + pos, set.cb_index + 3 * j, set.gain_index + 3 * j, mem.data() + kCbMemMax - lMem, lMem,
                        kSubL, 3);
      ilbc_Copy(mem.data() + kSubL, mem.data(), kCbMemMax - kSubL);
      ilbc_Copy(dec + pos, mem.data() + kCbMemMax - kSubL, kSubL);
    }
  }
  const int nback = start - 1;
  if (nback > 0) {
    mem.fill(0);
    const int avail = std::min(kSubL * (nsub + 1 - start), kCbMemMax);
    ilbc_Rev_CopyBack(dec + kSubL * (start - 1), mem.data() + kCbMemMax - 1, avail);
    std::array<i16, 4 * kSubL> reversed{};
    for (int j = 0; j < nback; ++j) {
      const int sub = nfor + j, lMem = ilbc_memLfTbl[sub];
      ilbc_iCBConstruct(reversed.data() + kSubL * j, set.cb_index + 3 * sub, set.gain_index + 3 * sub,
                        mem.data() + kCbMemMax - lMem, lMem, kSubL, 3);
      ilbc_Copy(mem.data() + kSubL, mem.data(), kCbMemMax - kSubL);
      ilbc_Copy(reversed.data() + kSubL * j, mem.data() + kCbMemMax - kSubL, kSubL);
    }
    ilbc_Rev_CopyBack(reversed.data(), dec + kSubL * nback - 1, kSubL * nback);
  }
}

void decode_frame(i16* decblock, const std::uint16_t* enc_data, iLBC_Dec_Inst_t* inst, int mode, FrameTrace* trace) {
  const int blockl = inst->blockl, nsub = inst->nsub;
  std::array<i16, 68> synt12{};
  std::array<i16, 11> PLClpc_q12{};
  bool concealed = true;
  i16 own_pitch = inst->pitch;
  if (mode > 0) {
    IndexSet set{};
    const int final_bit = ilbc_unpack_data(frame_ms(inst), enc_data, &set);
    if (final_bit == 0 && start_valid(inst, set.start)) {
      ilbc_index_conv_dec(set.cb_index);
      // An index outside its codebook section cannot be decoded: the frame is concealed.
      concealed = !indices_in_range(inst, set);
    }
    if (!concealed) {
      std::array<i16, 20> lsfdeq{};
      std::array<i32, 66> synt27{}, weight27{};
      std::array<i16, 68> weight12{};
      ilbc_SimplelsfDEQ(lsfdeq.data(), set.lsf_i, inst->lpc_n);
      ilbc_LSFQ13_check(lsfdeq.data(), 10, inst->lpc_n);
      ilbc_DecoderInterpolateLSF(synt27.data(), weight27.data(), lsfdeq.data(), 10, inst);
      ilbc_Conv_LPfiltCoeffs(synt27.data(), weight27.data(), synt12.data(), weight12.data(), nsub);
      ilbc_frame_Decode(inst, decblock, set, synt12.data());
      if (inst->use_enhancer != 1) own_pitch = own_lag(inst, decblock);
      ilbc_doThePLC(decblock, PLClpc_q12.data(), 0, decblock, synt12.data() + 11 * (nsub - 1), inst->pitch, inst);
    }
  }
  if (concealed) {
    const std::array<i16, 240> zeros_q0{};
    std::array<i16, 11> one_q12{};
    one_q12[0] = 4096;
    ilbc_doThePLC(decblock, PLClpc_q12.data(), 1, zeros_q0.data(), one_q12.data(), inst->pitch, inst);
    for (int i = 0; i < nsub; ++i) ilbc_Copy(PLClpc_q12.data(), synt12.data() + 11 * i, 11);
  }

  std::array<i16, 10 + 240> data_q0_plus{};
  i16* data_q0 = data_q0_plus.data() + 10;
  ilbc_Copy(inst->syntMem, data_q0_plus.data(), 10);
  if (inst->use_enhancer == 1) {
    inst->pitch = ilbc_enhancerInterface(data_q0, decblock, inst, ilbc_polyphaserTbl_q15.data());
    const int delayed = frame_ms(inst) == 30 ? 2 : 1;
    for (int i = 0; i < nsub; ++i) {
      const i16* a = i < delayed ? inst->old_syntdenum + 11 * (nsub - delayed + i) : synt12.data() + 11 * (i - delayed);
      ilbc_Syn_filt(a, data_q0 + kSubL * i, data_q0 + kSubL * i, kSubL);
    }
  } else {
    if (trace) ilbc_Copy(decblock, trace->residual, blockl);
    // Without the enhancer every sub-block is synthesised with its own filter, with no delay.
    inst->pitch = own_pitch;
    ilbc_Copy(decblock, data_q0, blockl);
    for (int i = 0; i < nsub; ++i) ilbc_Syn_filt(synt12.data() + 11 * i, data_q0 + kSubL * i, data_q0 + kSubL * i, kSubL);
  }
  ilbc_Copy(data_q0 + blockl - 10, inst->syntMem, 10);
  if (trace) {
    ilbc_Copy(data_q0, trace->synthesis, blockl);
    trace->concealed = concealed;
  }
  ilbc_hpOutput(data_q0, blockl, decblock, inst->hpomem_q16);
  ilbc_Copy(synt12.data(), inst->old_syntdenum, 11 * nsub);
  inst->prev_enh_pl = concealed ? 1 : 0;
}

}  // namespace ilbc

using namespace ilbc;

std::int16_t ILBCFIX_MORV_initDecode(iLBC_Dec_Inst_t* inst, std::int16_t mode, std::int16_t use_enhancer) {
  inst->mode = mode;
  if (mode == 20 || mode == 30) set_mode_values(inst, mode);
  std::memset(inst->syntMem, 0, sizeof inst->syntMem);
  for (int i = 0; i < 10; ++i) inst->lsfdeqold[i] = ilbc_lsfmeanTbl_q13[i];
  inst->pitch = 20;
  inst->consPLICount = 0;
  inst->prev_enh_pl = 0;
  inst->prevPLI = 0;
  inst->prevPitch = 120;
  std::memset(inst->prevLpc, 0, sizeof inst->prevLpc);
  inst->prevLpc[0] = 4096;
  std::memset(inst->prevResidual, 0, sizeof inst->prevResidual);
  inst->per_q31 = 0;
  inst->seed = 777;
  std::memset(inst->old_syntdenum, 0, sizeof inst->old_syntdenum);
  for (int i = 0; i < 6; ++i) inst->old_syntdenum[11 * i] = 4096;
  std::memset(inst->hpomem_q16, 0, sizeof inst->hpomem_q16);
  inst->use_enhancer = use_enhancer;
  std::memset(inst->enh_buf, 0, sizeof inst->enh_buf);
  for (auto& p : inst->enh_period) p = 40;
  return inst->blockl;
}

void ILBCFIX_MORV_Decode(std::int16_t* decblock_q0, const std::uint16_t* enc_data, iLBC_Dec_Inst_t* inst,
                         std::int16_t mode) {
  if (!mode_values_valid(inst)) return;  // never set up for 20 or 30 ms: no frame length
  decode_frame(decblock_q0, enc_data, inst, mode, nullptr);
}
