// Records of services that are not built yet: their ids and instance sizes, no entry points, so
// that the configuration tables can list them and a channel's memory is laid out as it will be.
// A service that gets built defines its own record in its directory and its line here goes.
#include "vhd_services.h"

const HSFSRVARC t38arc = {HAPI_T38_SRV, 13848, nullptr, nullptr, nullptr, nullptr, nullptr};
const HSFSRVARC faxrarc = {HAPI_FAXR_SRV, 7556, nullptr, nullptr, nullptr, nullptr, nullptr};

// The line services' instance sizes are the sizes of their own state records, known once they
// are built; until then they take no instance memory.
