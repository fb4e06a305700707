#include "amrnb_oracle_shim.h"

#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>

void* oracle_amrnb_encoder(int dtx) { return Encoder_Interface_init(dtx); }
// The independent encoder filters its input in place: it gets a copy.
int oracle_amrnb_encode(void* enc, int mode, const short* speech, unsigned char* out) {
    short copy[160];
    for (int i = 0; i < 160; ++i) copy[i] = speech[i];
    return Encoder_Interface_Encode(enc, static_cast<Mode>(mode), copy, out, 0);
}
void oracle_amrnb_encoder_free(void* enc) { Encoder_Interface_exit(enc); }
void* oracle_amrnb_decoder() { return Decoder_Interface_init(); }
void oracle_amrnb_decode(void* dec, const unsigned char* in, short* out, int bfi) {
    Decoder_Interface_Decode(dec, in, out, bfi);
}
void oracle_amrnb_decoder_free(void* dec) { Decoder_Interface_exit(dec); }
