// G.711 law conversion: 16-bit linear samples to 8-bit A-law or mu-law codes and back, one code
// per 16-bit word (the code in the low 8 bits), computed exactly as the ITU-T reference tools do.
#pragma once

#include <cstdint>

void g711AlawCompress(int n, const std::int16_t* linear, std::int16_t* codes);
void g711AlawExpand(int n, const std::int16_t* codes, std::int16_t* linear);
void g711UlawCompress(int n, const std::int16_t* linear, std::int16_t* codes);
void g711UlawExpand(int n, const std::int16_t* codes, std::int16_t* linear);
