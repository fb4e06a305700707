// G.729 Annex A speech codec with Annex B voice activity detection, discontinuous transmission
// and comfort noise: the front that the codec service calls, the core entry points and the
// caller-owned state records. One 10 ms frame of 80 samples (8 kHz, 16-bit) per call; frames
// cross the interface packed 16 bits to a word, most significant bit first.
#pragma once

#include <cstdint>

typedef enum {
    G729RATE_8_KBPS = 0,
    G729RATE_8_KBPS_A = 1,
    G729RATE_6_4_KBPS = 2,
    G729RATE_11_8_KBPS = 3,
    G729RATE_NUM_RATES = 4
} G729RATE;

typedef enum { G729VAD_OFF = 0, G729VAD_ON = 1 } G729VAD;

typedef enum {
    G729_RATE_0 = 0,
    G729_BFI = 1,
    G729_RATE_SID = 15,
    G729_RATE_SID_OCTET = 16,
    G729_RATE_6_4 = 64,
    G729_RATE_8_0 = 80,
    G729_RATE_11_8 = 118,
    G729_NUMFRAMETYPES = 119
} G729FRAMETYPE;

typedef struct {
    std::int16_t x1;
    std::int16_t x0;
    std::int32_t L_y2;
    std::int32_t L_y1;
} PrePostProcessState;

typedef struct {
    PrePostProcessState st;
    std::int16_t old_speech[240];
    std::int16_t* speech;
    std::int16_t* p_window;
    std::int16_t* new_speech;
    std::int16_t old_wsp_p1[226];
    std::int16_t* old_wsp;
    std::int16_t* wsp;
    std::int16_t old_exc[234];
    std::int16_t* exc;
    std::int16_t lsp_old[10];
    std::int16_t lsp_old_q[10];
    std::int16_t mem_w0[10];
    std::int16_t mem_w[10];
    std::int16_t mem_zero[10];
    std::int16_t sharp;
    std::int16_t freq_prev[4][10];
    std::int32_t L_exc_err[4];
    std::int16_t old_A[11];
    std::int16_t old_rc[2];
    std::int16_t past_qua_en[4];
    std::int16_t pastVad;
    std::int16_t ppastVad;
    std::int16_t seed;
    std::int16_t frm_count;
    std::int16_t MeanLSF[10];
    std::int16_t Min_buffer[16];
    std::int16_t Prev_Min;
    std::int16_t Next_Min;
    std::int16_t Min;
    std::int16_t MeanE;
    std::int16_t MeanSE;
    std::int16_t MeanSLE;
    std::int16_t MeanSZC;
    std::int16_t Vadprev_energy;
    std::int16_t count_sil;
    std::int16_t count_update;
    std::int16_t count_ext;
    std::int16_t flag;
    std::int16_t v_flag;
    std::int16_t less_count;
    std::int16_t Vad;
    std::int16_t lspSid_q[10];
    std::int16_t pastCoeff[11];
    std::int16_t RCoeff[11];
    std::int16_t sh_RCoeff;
    std::int16_t Acf[22];
    std::int16_t sh_Acf[2];
    std::int16_t sumAcf[33];
    std::int16_t sh_sumAcf[3];
    std::int16_t ener[2];
    std::int16_t sh_ener[2];
    std::int16_t fr_cur;
    std::int16_t cur_gain;
    std::int16_t nb_ener;
    std::int16_t sid_gain;
    std::int16_t flag_chang;
    std::int16_t Dtxprev_energy;
    std::int16_t count_fr0;
} G729NUNIENC;

typedef struct {
    std::int16_t cur_gain;
    std::int16_t lspSid[10];
    std::int16_t sid_gain;
} SIDDEF;

typedef struct {
    PrePostProcessState st;
    std::int16_t old_exc[240];
    std::int16_t lsp_old[10];
    std::int16_t mem_syn[10];
    std::int16_t sharp;
    std::int16_t old_T0;
    std::int16_t gain_code;
    std::int16_t gain_pitch;
    std::int16_t seed_fer;
    std::int16_t past_ftyp;
    std::int16_t seed;
    std::int16_t sid_sav;
    std::int16_t sh_sid_sav;
    std::int16_t freq_prev[4][10];
    std::int16_t prev_ma;
    std::int16_t prev_lsp[10];
    std::int16_t res2_buf[143];
    std::int16_t* res2;
    std::int16_t mem_syn_pst[10];
    std::int16_t syn_mem[10];
    std::int16_t past_qua_en[4];
    std::int16_t mem_pre;
    std::int16_t past_gain;
    SIDDEF Sid;
    std::int16_t bad_lsf;
} G729NUNIDEC;

typedef struct {
    union {
        G729NUNIENC ab;
    } state;
    G729RATE rate;
    G729VAD vad;
} G729ENCSTATE;

typedef struct {
    union {
        G729NUNIDEC ab;
    } state;
    G729RATE rate;
} G729DECSTATE;

// Front. The encoder writes up to 6 words of packed output; the return value is the bit count.
void g729EncodeInit(G729ENCSTATE* enc, G729RATE rate);
void g729EncodeCfg(G729ENCSTATE* enc, G729VAD vad, G729RATE rate);
G729FRAMETYPE g729Encoder(G729ENCSTATE* enc, const std::int16_t* in, std::uint16_t* packed, void* unused);
void g729DecodeInit(G729DECSTATE* dec, G729RATE rate);
void g729DecodeCfg(G729DECSTATE* dec, G729RATE rate);
void g729Decoder(G729DECSTATE* dec, std::int16_t* out, const std::uint16_t* packed, G729FRAMETYPE type, void* unused);

// Core.
void g729abEncodeInit(G729NUNIENC* st);
void g729abEncodeCfg(G729NUNIENC* st, int vadFlag);
int g729abEncoder(G729NUNIENC* st, const std::int16_t* in, std::uint16_t* packed);
void g729abDecodeInit(G729NUNIDEC* st);
void g729abDecoder(G729NUNIDEC* st, std::int16_t* out, const std::uint16_t* packed, int frameType);

// Serial bit form: sync word, bit count, then one word per bit (0x81 one, 0x7F zero).
void g729ab_prm2bits_ld8k(const std::int16_t* prm, std::int16_t* bits);
void g729ab_bits2prm_ld8k(const std::int16_t* bits, std::int16_t* prm);

// The DSP framework's assertion hook. The codec carries a weak default that only logs, so that it
// links on its own; the framework's definition replaces it when both are linked.
void lhapiAssertHandlerVerbose(const char* file, int line);
