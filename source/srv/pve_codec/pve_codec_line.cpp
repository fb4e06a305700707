// What the codec service takes from the line library: the generic voice activity detector, its
// SID frames and the comfort-noise generator. Until those blocks are part of the build the
// detector reports every frame active and comfort noise is silence.
#include <cstring>

#include "pve_codec.h"

void codecVadInit(HSZCODECINST*, uint16_t) {}
bool codecVadAvailable() { return false; }
uint16_t codecVad(HSZCODECINST*, const int16_t*, unsigned) { return 0; }
int codecVadGenSid(HSZCODECINST*, uint16_t* payload) {
  payload[0] = 0;
  return 0;
}

void codecCngConfig(PVE_CNG* cng, uint16_t type, uint16_t wideband) {
  cng->type = type;
  cng->wideband = wideband;
}

void codecCngProcess(PVE_CNG* cng, int16_t* out, const uint16_t* sid, uint16_t sidLength, unsigned n) {
  if (sid != nullptr && sidLength >= 1) cng->level = sid[0] >> 8;
  std::memset(out, 0, n * sizeof(int16_t));
}
