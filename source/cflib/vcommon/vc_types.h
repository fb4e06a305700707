// Basic types of the modem library: complex samples, sample windows, division results.
#pragma once

#include <cstdint>

struct VCZCOMPLEX {
  int16_t real;
  int16_t imag;
};

// A window into a linear buffer of 16-bit samples.
struct VCZBUF {
  int16_t* bufp;
  int16_t* startp;
  int16_t* endp;
};

struct VCZDIV_T {
  int16_t quot;
  int16_t rem;
};

// Symbol rates; vcgSymbolRateLUT gives the baud of each.
enum VCESYMBOLRATE : int16_t {
  S_2400 = 0,
  S_2743 = 1,
  S_2800 = 2,
  S_3000 = 3,
  S_3200 = 4,
  S_3429 = 5,
  S_1200 = 6,
  S_1600 = 7,
  S_600 = 8,
};

enum VCECARRIER : int16_t { LOWCARRIER = 0, HIGHCARRIER = 1 };

extern const uint16_t vcgSymbolRateLUT[9];
