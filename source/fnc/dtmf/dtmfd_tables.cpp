// Administration parameters, frequency windows and the digit map of the DTMF detector.
#include "dtmfd.h"

const std::array<DTMFD_FREQLIM, 2> dtmfd_freqlim = {{
    {{-1099, -524, 122, 822}, {-863, -264, 409, 1140}, {-1929, -931, 177, 1403}, {-1481, -436, 724, 2007}},
    {{-1121, -549, 94, 792}, {-841, -239, 437, 1170}, {-1948, -952, 153, 1377}, {-1462, -415, 747, 2033}},
}};

const std::array<DTMFD_PARM, HAPI_PTE_ADM_MAXADM> dtmfd_admin_parm = {{
    {3, 2, 3, &dtmfd_freqlim[0]},  // North America
    {5, 4, 4, &dtmfd_freqlim[1]},  // general
    {3, 2, 2, &dtmfd_freqlim[0]},  // Japan
    {5, 3, 3, &dtmfd_freqlim[1]},  // Europe
    {3, 4, 4, &dtmfd_freqlim[1]},  // Australia
    {3, 4, 4, &dtmfd_freqlim[0]},  // Brazil
}};

// Digit by low-group row (697, 770, 852, 941 Hz) and high-group column (1209 .. 1633 Hz).
const std::array<std::array<std::int16_t, 4>, 4> hstdtmfdinv = {{
    {1, 2, 3, 12},
    {4, 5, 6, 13},
    {7, 8, 9, 14},
    {10, 0, 11, 15},
}};

// 0, -1 and -2 dB of power, Q15.
const std::array<std::uint16_t, 3> DTMFD_LOG_LOOKUP = {32768u, 26029u, 20675u};
