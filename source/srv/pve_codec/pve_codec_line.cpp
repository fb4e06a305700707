// What the codec service takes from the line library: the generic voice activity detector with
// its SID frames, and the comfort-noise generator.
#include "pve_codec.h"

void codecVadInit(HSZCODECINST* inst, uint16_t mode) { gvadInit(&inst->enc.hsxvad, static_cast<int16_t>(mode)); }
bool codecVadAvailable() { return true; }

uint16_t codecVad(HSZCODECINST* inst, const int16_t* samples, unsigned n) {
  return static_cast<uint16_t>(gvad(&inst->enc.hsxvad, samples, static_cast<int>(n < GVAD_MAX_FRAME ? n : GVAD_MAX_FRAME), 0));
}

int codecVadGenSid(HSZCODECINST* inst, uint16_t* payload) { return gvadGenSID(&inst->enc.hsxvad, payload); }

void codecCngInit(PVE_CNG* cng, uint16_t type) { cngInit(cng, static_cast<int16_t>(type)); }

void codecCngConfig(PVE_CNG* cng, uint16_t type, uint16_t wideband) { cngCfg(cng, static_cast<int16_t>(type), wideband); }

void codecCngProcess(PVE_CNG* cng, int16_t* out, const uint16_t* sid, uint16_t sidLength, unsigned n) {
  // The generator reads the SID payload only; its pointer type is the concealment hook's.
  cngProcess(cng, out, const_cast<uint16_t*>(sid), sid != nullptr ? sidLength : 0, static_cast<uint16_t>(n));
}
