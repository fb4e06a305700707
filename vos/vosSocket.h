// Start and stop of the socket and IP-address services of the OS abstraction layer.
#pragma once

#include "vosTypes.h"

VOS_STATUS vosSocketInit(void);
VOS_STATUS vosSocketTerm(void);
VOS_STATUS vosIpAddrInit(void);
VOS_STATUS vosIpAddrTerm(void);
