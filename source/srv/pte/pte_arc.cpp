// The digit and tone service's record.
#include "pte.h"

const HSFSRVARC ptearc = {HAPI_PTE_SRV, sizeof(PTEINSTANCEMEM), pteIOctl, pteIngress, pteEgress, pteInit, nullptr};
