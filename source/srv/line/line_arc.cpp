// The line service's record.
#include "line.h"

const HSFSRVARC linearc = {HAPI_LINE_SRV,      sizeof(LINEINSTANCEMEM), Line_IO, Line_IngressProcess,
                           Line_EgressProcess, Line_Init,               nullptr};
