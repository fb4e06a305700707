// Telephony country profiles: an XML file per country that overrides the built-in
// provisioning (tones, ring cadences, hook and pulse-dial timing, caller-ID and message-waiting
// settings, ring generator and tone detection) for every endpoint.
#pragma once

#include "vrgEndptTypes.h"

struct COUNTRY_MAP {
  VRG_COUNTRY country;
  const char* countryName;  // three-letter code of the profile file
};

// The country codes, in search order, ended by VRG_COUNTRY_MAX.
extern const COUNTRY_MAP countryMap[];

// Directory of the profile files: "/etc/telephonyProfiles.d/" unless ORVOX_PROFILE_DIR names
// another one.
const char* tpProfileDirectory(void);

// Loads the country's profile and writes every item it understands into the provisioning store
// for every endpoint. An item with a bad value is refused with one error line naming each bad
// value; a simple item then keeps the value the store holds, or else its built-in (North
// American) value, while a tone, cadence or caller-ID parameter item, which has none, refuses the
// whole profile. When the file was read and parsed to its end and nothing refused it, also writes
// EPPROV_LastLocale = country.
void tpUpdateLocaleProfile(VRG_COUNTRY country);

// 1 when the last load of `country`'s profile read and parsed its file (whatever single items it
// refused), else 0: a gateway whose country has no readable profile must not start as if it had
// one.
int tpLocaleProfileLoaded(VRG_COUNTRY country);
