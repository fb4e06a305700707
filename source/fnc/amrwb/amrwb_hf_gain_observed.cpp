// Default observation point of the high-band gain quantiser: nothing to do.
// Weak, so that a test binary may supply its own definition.
#include "amrwb_enc_internal.h"

__attribute__((weak)) void amr_wb_hf_gain_observed(const amr_wb_HfGainObservation&) {}
