// The codec service's records. Their instance sizes follow the codec library sizes known at
// start-up, so the records are built when the program starts.
#include "pve_codec.h"

const HSFSRVARC pvecodecarc = {HAPI_CODEC_SRV, codecInstanceBytes(codecHeavyPoolWords()), codecIOctl, codecIngress,
                               codecEgress,    codecHeavyInit,                             nullptr};
const HSFSRVARC pvecodeclitearc = {HAPI_CODEC_SRV, codecInstanceBytes(PVE_LIGHT_POOL_WORDS), codecIOctl,
                                   codecIngress,   codecEgress,                             codecLightInit,
                                   nullptr};
