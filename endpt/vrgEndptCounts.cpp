// Board queries of the endpoint API, valid before the library is initialised: the daemon sizes
// its line table with them. They stand alone so that a program that only counts lines does not
// take in the rest of the library.
#include "boardHal.h"
#include "vrgEndpt.h"

int vrgEndptGetNumEndpoints(void) { return boardHalGetNumEndpoints(); }

int vrgEndptGetNumFxsEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXS); }

int vrgEndptGetNumFxoEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXO); }

int vrgEndptGetNumDectEndpoints(void) { return boardHalGetNumTypeEndpoints(DSPHAL_TYPE_DECT); }
