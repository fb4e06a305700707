// Calls into the independent implementation (test-only), kept in their own
// translation unit because its public header reuses the mode names.
#pragma once

void* oracle_amrnb_encoder(int dtx);
int oracle_amrnb_encode(void* enc, int mode, const short* speech, unsigned char* out);
void oracle_amrnb_encoder_free(void* enc);
void* oracle_amrnb_decoder();
void oracle_amrnb_decode(void* dec, const unsigned char* in, short* out, int bfi);
void oracle_amrnb_decoder_free(void* dec);
