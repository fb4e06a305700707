// The PCM service: offers each ingress frame to the services after it as raw-PCM in-band data
// (mask 0x40), the low band first and, on wideband channels, the second buffer after it.
#pragma once

#include "hsf/hsf.h"

void pcmIngress(HSFSRVOBJ service);

extern const HSFSRVARC pcmarc;
