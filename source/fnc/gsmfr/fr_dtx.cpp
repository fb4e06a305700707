// Discontinuous transmission of the GSM full-rate codec: the transmit control that chooses
// between speech, hangover and SID frames and builds the SID parameters, and the receive
// control that classifies frames for comfort noise, interpolation and muting.
#include "fr_codec.h"
#include "fr_kernels.h"
#include "fr_tables.h"

namespace {
constexpr Word16 kCnInterpolationLast = 23;  // last interpolation position of rx_dtx_state
}

void fr_reset_tx_dtx(FRdtx_encState* st) {
  st->txdtx_hangover = fr_EFR_DTX_const[0][0];
  st->txdtx_N_elapsed = FR_MAX_16;
  st->txdtx_ctrl = FR_TX_SP_FLAG | FR_TX_VAD_FLAG;
  st->L_pn_seed_tx = FR_PN_INITIAL_SEED;
}

void FR_tx_dtx(Word16 VAD_flag, FRdtx_encState* st, Word16 do_EFR) {
  const Word16 hangover = fr_EFR_DTX_const[do_EFR ? 1 : 0][0];
  const Word16 elapsed_threshold = fr_EFR_DTX_const[do_EFR ? 1 : 0][1];
  st->txdtx_N_elapsed = fr_add(st->txdtx_N_elapsed, 1);

  if (VAD_flag == 1) {
    st->txdtx_hangover = hangover;
    st->txdtx_ctrl = FR_TX_SP_FLAG | FR_TX_VAD_FLAG;
    return;
  }
  const bool hangover_was_active = (st->txdtx_ctrl & FR_TX_HANGOVER_ACTIVE) != 0;
  if (st->txdtx_hangover == 0) {
    // Hangover over: this frame carries a freshly computed SID.
    st->txdtx_N_elapsed = 0;
    if (hangover_was_active) {
      st->txdtx_ctrl = FR_TX_PREV_HANGOVER_ACTIVE | FR_TX_SID_UPDATE;
      st->L_pn_seed_tx = FR_PN_INITIAL_SEED;
    } else {
      st->txdtx_ctrl = FR_TX_SID_UPDATE;
    }
    return;
  }
  st->txdtx_hangover = fr_sub(st->txdtx_hangover, 1);
  // Elapsed and remaining hangover together decide whether the last SID is still recent enough
  // to be repeated instead of sending the hangover as speech.
  if (fr_add(st->txdtx_N_elapsed, st->txdtx_hangover) < elapsed_threshold) {
    st->txdtx_ctrl = FR_TX_USE_OLD_SID;
  } else if (hangover_was_active) {
    st->txdtx_ctrl = FR_TX_PREV_HANGOVER_ACTIVE | FR_TX_HANGOVER_ACTIVE | FR_TX_SP_FLAG;
  } else {
    st->txdtx_ctrl = FR_TX_HANGOVER_ACTIVE | FR_TX_SP_FLAG;
  }
}

void fr_GenSIDprm(Word16* LAR, Word16* Xmax, FRdtx_encState* st) {
  if (st->txdtx_ctrl & FR_TX_USE_OLD_SID) {
    fr_Copy8(st->SID_LAR, LAR);
    fr_Copy4(st->SID_Xmax, Xmax);
    return;
  }
  for (int i = 0; i < 8; ++i) {
    Word32 sum = 2;
    for (int r = 0; r < 4; ++r) sum += st->LARcHist[r][i];
    LAR[i] = static_cast<Word16>(sum >> 2);
  }
  fr_Quantization_and_coding(LAR, LAR);
  fr_Copy8(LAR, st->SID_LAR);

  Word32 sum = 8;
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k) sum += st->XmaxHist[r][k];
  const Word16 xmaxc = fr_Q_xmax(static_cast<Word16>(sum >> 4));
  for (int k = 0; k < 4; ++k) Xmax[k] = st->SID_Xmax[k] = xmaxc;
}

void fr_UpdateSIDmem(const Word16* LAR, const Word16* Xmax, FRdtx_encState* st) {
  fr_Copy8(LAR, st->LARcHist[st->HistIndx]);
  fr_Copy4(Xmax, st->XmaxHist[st->HistIndx]);
  st->HistIndx = static_cast<Word16>((st->HistIndx + 1) & 3);
}

void fr_reset_rx_dtx(FRdtx_decState* st) {
  st->rxdtx_aver_period = fr_EFR_DTX_const[0][0];
  st->rxdtx_N_elapsed = FR_MAX_16;
  st->rxdtx_ctrl = FR_RX_SP_FLAG;
  st->L_pn_seed_rx = FR_PN_INITIAL_SEED;
  st->rx_dtx_state = kCnInterpolationLast;
}

void FR_rx_dtx(Word16 TAF, Word16 bfi, Word16 SID_flag, Word16* state, Word16* prev_bf,
               Word16 do_EFR, FRdtx_decState* st) {
  const Word16 hangover = fr_EFR_DTX_const[do_EFR ? 1 : 0][0];
  const Word16 elapsed_threshold = fr_EFR_DTX_const[do_EFR ? 1 : 0][1];
  enum { kValidSid = 1, kInvalidSid = 2, kGoodSpeech = 3, kUnusable = 4 };

  const Word16 frame_type = fr_FrameTypeLookup[(SID_flag & 3) + (bfi ? 4 : 0)];
  Word16 ctrl = st->rxdtx_ctrl;
  if (ctrl & FR_RX_SP_FLAG)
    ctrl = fr_UpdatePrevSp_Lookup[frame_type];
  else
    ctrl = fr_UpdatePrevNOTSp_Lookup[2 * frame_type + ((ctrl & FR_RX_DTX_MUTING) ? 1 : 0)];

  if (ctrl & FR_RX_SP_FLAG) {
    st->prev_SID_frames_lost = 0;
    st->rx_dtx_state = kCnInterpolationLast;
  } else {
    if (ctrl & FR_RX_FIRST_SID_UPDATE) {
      st->prev_SID_frames_lost = 0;
      st->rx_dtx_state = kCnInterpolationLast;
    }
    if (ctrl & FR_RX_CONT_SID_UPDATE) {
      st->prev_SID_frames_lost = 0;
      if (frame_type == kValidSid)
        st->rx_dtx_state = 0;
      else if (frame_type == kInvalidSid && st->rx_dtx_state < kCnInterpolationLast)
        st->rx_dtx_state = fr_add(st->rx_dtx_state, 1);
    }
    if (ctrl & FR_RX_CNI_BFI) {
      if (st->rx_dtx_state < kCnInterpolationLast) st->rx_dtx_state = fr_add(st->rx_dtx_state, 1);
      if (TAF == 1) {  // a SID was due in this frame: it is lost
        ctrl |= FR_RX_LOST_SID_FRAME;
        st->prev_SID_frames_lost = fr_add(st->prev_SID_frames_lost, 1);
      } else {
        ctrl |= FR_RX_NO_TRANSMISSION;
      }
      if (st->prev_SID_frames_lost > 1) ctrl |= FR_RX_DTX_MUTING;
    }
  }

  st->rxdtx_N_elapsed = fr_add(st->rxdtx_N_elapsed, 1);
  if (ctrl & FR_RX_SP_FLAG) {
    st->rxdtx_aver_period = hangover;
  } else if (st->rxdtx_N_elapsed > elapsed_threshold) {
    ctrl |= FR_RX_UPD_SID_QUANT_MEM;
    st->rxdtx_N_elapsed = 0;
    st->rxdtx_aver_period = 0;
    st->L_pn_seed_rx = FR_PN_INITIAL_SEED;
  } else if (st->rxdtx_aver_period == 0) {
    st->rxdtx_N_elapsed = 0;
  } else {
    st->rxdtx_aver_period = fr_sub(st->rxdtx_aver_period, 1);
  }
  st->rxdtx_ctrl = ctrl;

  // Bad-frame state of the substitution and muting.
  if (bfi)
    *state = fr_add(*state, 1);
  else
    *state = *state == 6 ? Word16(5) : Word16(0);
  if (*state > 6) *state = 6;

  if (ctrl & FR_RX_FIRST_SP_FLAG) {
    *state = 5;
    *prev_bf = 0;
  }
}
