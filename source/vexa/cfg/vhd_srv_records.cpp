// Records of services that are not built yet: their ids and instance sizes, no entry points, so
// that the configuration tables can list them and a channel's memory is laid out as it will be.
// A service that gets built defines its own record in its directory and its line here goes.
#include "vhd_services.h"

