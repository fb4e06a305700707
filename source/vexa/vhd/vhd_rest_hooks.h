// The rest hooks of the services of the voice stack (see vhd_rest.h).
#pragma once

#include "vhd_rest.h"

uint32_t netRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
void netCatchUp(HSFSRVOBJ service, const VHD_Skipped& skipped);
uint32_t rtpRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
void rtpCatchUp(HSFSRVOBJ service, const VHD_Skipped& skipped);
uint32_t codecRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
void codecCatchUp(HSFSRVOBJ service, const VHD_Skipped& skipped);
uint32_t pteRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
uint32_t cdisRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
uint32_t v21RestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
uint32_t pcmRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
uint32_t confRestRuns(HSFSRVOBJ service, HAPI_DIRECTION direction);
