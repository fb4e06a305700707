// Country tables of call-progress tone filters and cadences.
#include "cmtdCtl.h"

#include <initializer_list>

namespace {

constexpr uint16_t kInf = CMTD_NO_MAX_TIME;

// A cadence of up to three tone/silence periods: {min, max, filter}; filter 1 is the tone.
struct Period {
  uint16_t minMs, maxMs, filter;
};

constexpr CMTD_STMPARAMS profile(const int16_t* taps, std::initializer_list<Period> periods) {
  CMTD_STMPARAMS p{CMTD_FILTER_TAPS, taps, static_cast<uint16_t>(periods.size()), {}};
  int i = 0;
  for (const Period& period : periods) {
    p.stmParam.stmParams.substate[i++] = HAPI_CMTD_SUBSTATEPARAMS{period.minMs, period.maxMs, period.filter, 0};
  }
  return p;
}

constexpr uint16_t TONE = 1;
constexpr uint16_t SILENCE = 0;

// Australia
constexpr CMTD_STMPARAMS auDial = profile(cmtdFilter425, {{250, kInf, TONE}});
constexpr CMTD_STMPARAMS auBusy = profile(cmtdFilter425, {{335, 415, TONE}, {335, 415, SILENCE}});
// France
constexpr CMTD_STMPARAMS frDial = profile(cmtdFilter440, {{250, kInf, TONE}});
constexpr CMTD_STMPARAMS frRing = profile(cmtdFilter440, {{1350, 1650, TONE}, {3150, 3850, SILENCE}});
constexpr CMTD_STMPARAMS frBusy = profile(cmtdFilter440, {{450, 550, TONE}, {450, 550, SILENCE}});
// Germany
constexpr CMTD_STMPARAMS deBusy = profile(cmtdFilter425, {{475, 525, TONE}, {475, 525, SILENCE}});
// Italy
constexpr CMTD_STMPARAMS itDial =
    profile(cmtdFilter425, {{180, 220, TONE}, {180, 220, SILENCE}, {540, kInf, TONE}});
constexpr CMTD_STMPARAMS itBusy = profile(cmtdFilter425, {{450, 550, TONE}, {450, 550, SILENCE}});
// Japan
constexpr CMTD_STMPARAMS jpDial = profile(cmtdFilter400Mod20, {{250, kInf, TONE}});
constexpr CMTD_STMPARAMS jpRing = profile(cmtdFilter400Mod20, {{950, 1050, TONE}, {1900, 2100, SILENCE}});
constexpr CMTD_STMPARAMS jpBusy = profile(cmtdFilter400Mod20, {{475, 525, TONE}, {475, 525, SILENCE}});
// Netherlands
constexpr CMTD_STMPARAMS nlDial = profile(cmtdFilter425, {{450, kInf, TONE}});
constexpr CMTD_STMPARAMS nlBusy = profile(cmtdFilter425, {{400, 600, TONE}, {400, 600, SILENCE}});
constexpr CMTD_STMPARAMS nlCong = profile(cmtdFilter425, {{200, 300, TONE}, {200, 300, SILENCE}});
// UK
constexpr CMTD_STMPARAMS ukDial = profile(cmtdFilter350_440, {{675, kInf, TONE}});
constexpr CMTD_STMPARAMS ukRing = profile(cmtdFilter400_450, {{380, 420, TONE}, {180, 220, SILENCE}});
constexpr CMTD_STMPARAMS ukBusy = profile(cmtdFilter400, {{335, 415, TONE}, {335, 415, SILENCE}});
constexpr CMTD_STMPARAMS ukCong = profile(cmtdFilter400, {{360, 440, TONE}, {320, 380, SILENCE}});

}  // namespace

// North America, also the defaults.
constexpr CMTD_STMPARAMS northAmericaDialToneParam = profile(cmtdFilter350_440, {{150, kInf, TONE}});
constexpr CMTD_STMPARAMS northAmericaRingbackParam =
    profile(cmtdFilter440_480, {{1900, 2100, TONE}, {3800, 4200, SILENCE}});
constexpr CMTD_STMPARAMS northAmericaBusyToneParam =
    profile(cmtdFilter480_620, {{475, 525, TONE}, {475, 525, SILENCE}});
constexpr CMTD_STMPARAMS northAmericaCongToneParam =
    profile(cmtdFilter480_620, {{225, 275, TONE}, {225, 275, SILENCE}});

namespace {

// Rows by tone type: dial, ringback, busy, congestion, release.
constexpr CMTD_COUNTRY_PROFILE australia{{&auDial, nullptr, &auBusy, nullptr, &auBusy}};
constexpr CMTD_COUNTRY_PROFILE france{{&frDial, &frRing, &frBusy, nullptr, &frBusy}};
constexpr CMTD_COUNTRY_PROFILE germany{{nullptr, nullptr, &deBusy, nullptr, &deBusy}};
constexpr CMTD_COUNTRY_PROFILE italy{{&itDial, nullptr, &itBusy, nullptr, &itBusy}};
constexpr CMTD_COUNTRY_PROFILE japan{{&jpDial, &jpRing, &jpBusy, nullptr, &jpBusy}};
constexpr CMTD_COUNTRY_PROFILE netherlands{{&nlDial, nullptr, &nlBusy, &nlCong, &nlBusy}};
constexpr CMTD_COUNTRY_PROFILE northAmerica{{&northAmericaDialToneParam, &northAmericaRingbackParam,
                                             &northAmericaBusyToneParam, &northAmericaCongToneParam,
                                             &northAmericaBusyToneParam}};
constexpr CMTD_COUNTRY_PROFILE uk{{&ukDial, &ukRing, &ukBusy, &ukCong, &ukCong}};

constexpr auto countryTable() {
  struct Table {
    const CMTD_COUNTRY_PROFILE* rows[VRG_COUNTRY_MAX];
  } t{};
  t.rows[VRG_COUNTRY_AUSTRALIA] = &australia;
  t.rows[VRG_COUNTRY_FRANCE] = &france;
  t.rows[VRG_COUNTRY_GERMANY] = &germany;
  t.rows[VRG_COUNTRY_ITALY] = &italy;
  t.rows[VRG_COUNTRY_JAPAN] = &japan;
  t.rows[VRG_COUNTRY_NETHERLANDS] = &netherlands;
  t.rows[VRG_COUNTRY_NORTH_AMERICA] = &northAmerica;
  t.rows[VRG_COUNTRY_UK] = &uk;
  return t;
}
constexpr auto kCountries = countryTable();

}  // namespace

const CMTD_COUNTRY_PROFILE* const cmtdCallingToneProfiles[VRG_COUNTRY_MAX] = {
    kCountries.rows[0],  kCountries.rows[1],  kCountries.rows[2],  kCountries.rows[3],
    kCountries.rows[4],  kCountries.rows[5],  kCountries.rows[6],  kCountries.rows[7],
    kCountries.rows[8],  kCountries.rows[9],  kCountries.rows[10], kCountries.rows[11],
    kCountries.rows[12], kCountries.rows[13], kCountries.rows[14], kCountries.rows[15],
    kCountries.rows[16], kCountries.rows[17], kCountries.rows[18], kCountries.rows[19],
    kCountries.rows[20], kCountries.rows[21], kCountries.rows[22], kCountries.rows[23],
    kCountries.rows[24], kCountries.rows[25], kCountries.rows[26],
};
