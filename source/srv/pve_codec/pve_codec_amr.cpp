// AMR and AMR-WB payloads of several frames (RFC 4867) built from the encoder's single frames.
#include "pve_codec.h"

int amrConstructSuperpacket(HSZCODECINST*, HAPI_PKT_HDR*) { return 0; }
