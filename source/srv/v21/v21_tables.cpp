// Fixed tables of the V.21 service: discriminator weights, the bit low-pass and the frequency
// pulses of the modulator.
#include "v21_tables.h"

const int16_t hstv21HChnPhaseCoeff[3] = {0, 26213, 6554};


const int16_t gmskTransition[27] = {-32608, -32344, -31924, -31282, -30338, -29002, -27185,
                                    -24810, -21824, -18213, -14017, -9327,  -4288,  919,
                                    6093,   11034,  15573,  19582,  22985,  25765,  27946,
                                    29593,  30788,  31622,  32182,  32543,  32767};

const int16_t gmskSame[27] = {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767,
                              32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767,
                              32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};
