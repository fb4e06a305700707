// Board queries of the endpoint API, valid before the library is initialised: the daemon sizes
// its line table with them.

#include "vrgEndpt.h"

#include "boardHal.h"

int vrgEndptGetNumEndpoints(void) { return boardHalGetNumEndpoints(); }

int vrgEndptGetNumFxsEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXS); }

int vrgEndptGetNumFxoEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXO); }

int vrgEndptGetNumDectEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_DECT); }
