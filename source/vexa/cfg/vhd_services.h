// Records of the services that the VHD configuration tables list.
#pragma once

#include "conf/conf.h"
#include "hsf/hsf.h"

// Packet voice engine.
extern const HSFSRVARC netsrvarc;
extern const HSFSRVARC rtparc;
extern const HSFSRVARC pvecodecarc;
// Fax and modem relay.
extern const HSFSRVARC t38arc;
extern const HSFSRVARC faxrarc;
extern const HSFSRVARC v21arc;
extern const HSFSRVARC vfxarc;
// Line voice services.
extern const HSFSRVARC ptearc;
extern const HSFSRVARC cdisarc;
extern const HSFSRVARC pcmarc;
extern const HSFSRVARC dtasarc;
extern const HSFSRVARC clidrxsrvarc;
extern const HSFSRVARC cmtdarc;
extern const HSFSRVARC clidtxsrvarc;
extern const HSFSRVARC ecanarc;
extern const HSFSRVARC linearc;
