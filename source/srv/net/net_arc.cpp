// The NET service's record: the root service of the gateway and conference stacks.
#include "net.h"

const HSFSRVARC netsrvarc = {HAPI_NET_SRV, sizeof(HSZNETLOCLMEM), netMsg, netIngress,
                             netEgress,    netinit,              netexit};
