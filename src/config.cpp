// Configuration from UCI, read once at start-up through the ubus object "uci": the telephony
// country (section "TEL") and one section "telline<n>" per line (a missing one leaves the
// line's defaults). After the lines exist, the
// sections of DECT lines that the board cannot serve are deleted and committed.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include <libubox/blobmsg.h>

#include "orvoxd.h"

VRG_COUNTRY config_country = VRG_COUNTRY_AUSTRALIA;

namespace {

const char uciStrConfig[] = "asterisk";
const char uciStrComSect[] = "TEL";
const char uciStrCountry[] = "country";
const char uciStrLineSect[] = "telline";

constexpr int UCI_TIMEOUT_MS = 5000;
// The gain options are whole dB. The endpoint library takes a gain in 1/256 dB within its limits
// and refuses any other, which would leave the line at 0 dB with only the library's complaint in
// its own unit: a value beyond them is refused here, in the option's unit, and the default kept.
constexpr long GAIN_MIN_DB = hdsp::HAPI_HEC_GAIN_MIN / 256;
constexpr long GAIN_MAX_DB = hdsp::HAPI_HEC_GAIN_MAX / 256;

enum { LINE_NAME, LINE_NOISE, LINE_ECHO, LINE_ID, LINE_SILENCE, LINE_TXGAIN, LINE_RXGAIN, __LINE_MAX };
const struct blobmsg_policy uci_line_policy[] = {
    {"name", BLOBMSG_TYPE_STRING},        {"noise", BLOBMSG_TYPE_STRING},
    {"echo_cancel", BLOBMSG_TYPE_STRING}, {".name", BLOBMSG_TYPE_STRING},
    {"vad", BLOBMSG_TYPE_STRING},         {"txgain", BLOBMSG_TYPE_STRING},
    {"rxgain", BLOBMSG_TYPE_STRING},
};

enum { UCI_CONF_VALUE, __UCI_CONF_MAX };
const struct blobmsg_policy uci_conf_policy[] = {{"value", BLOBMSG_TYPE_STRING}};

enum { UCI_REPLY_STRING, UCI_REPLY_TABLE, __UCI_REPLY_MAX };
const struct blobmsg_policy uci_reply_policy[] = {
    {"value", BLOBMSG_TYPE_STRING},
    {"values", BLOBMSG_TYPE_TABLE},
};

struct vrg_country {
  const char* name;
  int vrg_country;
};

const vrg_country vrg_country_map[] = {
    {"AUS", VRG_COUNTRY_AUSTRALIA},   {"BEL", VRG_COUNTRY_BELGIUM},
    {"BRA", VRG_COUNTRY_BRAZIL},      {"CHL", VRG_COUNTRY_CHILE},
    {"CHN", VRG_COUNTRY_CHINA},       {"HRV", VRG_COUNTRY_CROATIA},
    {"CYP", VRG_COUNTRY_CYPRUS},      {"CZE", VRG_COUNTRY_CZECH},
    {"DNK", VRG_COUNTRY_DENMARK},     {"ETS", VRG_COUNTRY_ETSI},
    {"FIN", VRG_COUNTRY_FINLAND},     {"FRA", VRG_COUNTRY_FRANCE},
    {"DEU", VRG_COUNTRY_GERMANY},     {"HUN", VRG_COUNTRY_HUNGARY},
    {"IND", VRG_COUNTRY_INDIA},       {"ITA", VRG_COUNTRY_ITALY},
    {"JPN", VRG_COUNTRY_JAPAN},       {"NLD", VRG_COUNTRY_NETHERLANDS},
    {"NZL", VRG_COUNTRY_NEW_ZEALAND}, {"USA", VRG_COUNTRY_NORTH_AMERICA},
    {"ESP", VRG_COUNTRY_SPAIN},       {"SWE", VRG_COUNTRY_SWEDEN},
    {"CHE", VRG_COUNTRY_SWITZERLAND}, {"NOR", VRG_COUNTRY_NORWAY},
    {"TWN", VRG_COUNTRY_TAIWAN},      {"T57", VRG_COUNTRY_TR57},
    {"GBR", VRG_COUNTRY_UK},          {"", 9999},
};

// Set by the data callbacks: the "uci" object answers a missing section or option with success
// and no data, which for the daemon is a failed query like any other.
bool uciDataSeen;

// Base-10 conversion of a whole option text; false on any conversion error.
bool parseLong(const char* text, long* out) {
  errno = 0;
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (errno != 0 || end == text) return false;
  *out = value;
  return true;
}

int uci_invoke(const char* method, const char* section, const char* option,
               ubus_data_handler_t callback) {
  uint32_t uciId = 0;
  if (ubus_lookup_id(ctx, "uci", &uciId) != 0) err_exit("Could not lookup ubus path: uci");
  struct blob_buf blob {};
  if (blob_buf_init(&blob, 0) != 0) return -1;
  blobmsg_add_string(&blob, "config", uciStrConfig);
  if (section && *section) blobmsg_add_string(&blob, "section", section);
  if (option && *option) blobmsg_add_string(&blob, "option", option);
  int res = ubus_invoke(ctx, uciId, method, blob.head, callback, nullptr, UCI_TIMEOUT_MS);
  blob_buf_free(&blob);
  return res;
}

// A get that must deliver data: success without any counts as a failure.
int uci_query(const char* section, const char* option, ubus_data_handler_t callback) {
  uciDataSeen = false;
  int res = uci_invoke("get", section, option, callback);
  return res == 0 && !uciDataSeen ? -1 : res;
}

int uci_delete(const char* section, const char* option) {
  return uci_invoke("delete", section, option, nullptr);
}

int uci_commit() { return uci_invoke("commit", nullptr, nullptr, nullptr); }

constexpr int UBUS_MSG_DATA_TYPE = 2;


void uci_query_country(struct ubus_request* req, int type, struct blob_attr* msg) {
  if (type != UBUS_MSG_DATA_TYPE) return;
  uciDataSeen = true;
  if (ubus_data_status(req) != 0) err_exit("Got error answer\n");
  struct blob_attr* tb[__UCI_CONF_MAX];
  if (blobmsg_parse(uci_conf_policy, __UCI_CONF_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return;
  if (!tb[UCI_CONF_VALUE]) err_exit("Failed to get country code from config");
  lineSetCountry(blobmsg_get_string(tb[UCI_CONF_VALUE]));
}

// "telline" followed by exactly one decimal digit; -1 for anything else.
int lineFromSectionName(const char* name) {
  size_t prefix = strlen(uciStrLineSect);
  if (!name || strncmp(name, uciStrLineSect, prefix) != 0 || strlen(name) != prefix + 1)
    return -1;
  char last = name[prefix];
  if (last < '0' || last > '9') return -1;
  return last - '0';
}

void storeFlag(struct blob_attr* attr, const char* option, uint16_t* field) {
  if (!attr) return;
  long value;
  if (parseLong(blobmsg_get_string(attr), &value) && value >= 0 && value <= 1) {
    *field = static_cast<uint16_t>(value);
    printf("  %s=%d\n", option, static_cast<int>(value));
  } else {
    printf("  Error: %s range is 0-1\n", option);
  }
}

void storeGain(struct blob_attr* attr, const char* option, int32_t* field) {
  if (!attr) return;
  long value;
  if (parseLong(blobmsg_get_string(attr), &value) && value >= GAIN_MIN_DB && value <= GAIN_MAX_DB) {
    *field = static_cast<int32_t>(value);
    printf("  %s=%d\n", option, static_cast<int>(value));
  } else {
    printf("  Error: %s range is %d - %d dB\n", option, static_cast<int>(GAIN_MIN_DB),
           static_cast<int>(GAIN_MAX_DB));
  }
}

void uci_query_lineX(struct ubus_request* req, int type, struct blob_attr* msg) {
  if (type != UBUS_MSG_DATA_TYPE || ubus_data_status(req) != 0)
    err_exit("Error answer from UBUS for UCI\n");
  uciDataSeen = true;
  struct blob_attr* reply[__UCI_REPLY_MAX];
  if (blobmsg_parse(uci_reply_policy, __UCI_REPLY_MAX, reply, blob_data(msg), blob_len(msg)) != 0)
    return;
  if (!reply[UCI_REPLY_TABLE]) err_exit("Error, no table reply from UCI\n");
  struct blob_attr* tb[__LINE_MAX];
  if (blobmsg_parse(uci_line_policy, __LINE_MAX, tb, blobmsg_data(reply[UCI_REPLY_TABLE]),
                    blobmsg_data_len(reply[UCI_REPLY_TABLE])) != 0)
    return;

  int line = lineFromSectionName(tb[LINE_ID] ? blobmsg_get_string(tb[LINE_ID]) : nullptr);
  if (line < 0 || line >= epInfo.numEndpoints) {
    printf("Error, invalid phone line %d\n", line);
    return;
  }
  printf("Got UCI conf for line %s%d\n", uciStrLineSect, line);
  uciConf_t* conf = &lines[line].uciConf;
  if (tb[LINE_NAME]) {
    const char* name = blobmsg_get_string(tb[LINE_NAME]);
    printf("  %s=%s\n", "name", name);
    free(conf->name);
    conf->name = strdup(name);
  }
  storeFlag(tb[LINE_NOISE], "noise", &conf->comfortNoise);
  storeFlag(tb[LINE_ECHO], "echo_cancel", &conf->echocancel);
  storeFlag(tb[LINE_SILENCE], "vad", &conf->silence);
  storeGain(tb[LINE_TXGAIN], "txgain", &conf->txgain);
  storeGain(tb[LINE_RXGAIN], "rxgain", &conf->rxgain);
  conf->confLoadOK = 1;
}

void lineSectionName(int line, char* out, size_t size) {
  snprintf(out, size, "%s%d", uciStrLineSect, line);
}

}  // namespace

int lineSetCountry(const char* text) {
  printf("country code: %s\n", text);
  for (const vrg_country* row = vrg_country_map; row->name[0]; row++) {
    if (strncmp(row->name, text, strlen(row->name)) == 0) {
      config_country = static_cast<VRG_COUNTRY>(row->vrg_country);
      return 0;
    }
  }
  err_exit("Error! Invalid country code: %s\n", text);
}

int config_init(void) {
  if (uci_query(uciStrComSect, uciStrCountry, uci_query_country) != 0)
    err_exit("Could not query UCI");
  for (int i = 0; i < epInfo.numEndpoints; i++) {
    char section[24];
    lineSectionName(i, section, sizeof(section));
    uciDataSeen = false;
    if (uci_invoke("get", section, nullptr, uci_query_lineX) != 0) err_exit("Could not query UCI");
    // A line without a section keeps its defaults: start-up itself deletes the sections of DECT
    // lines the board cannot serve, so the next start must not fail on their absence.
    if (!uciDataSeen) printf("No UCI section %s: line %d keeps its defaults\n", section, i);
  }
  return 0;
}

int perhaps_erase_unuseds_lines(void) {
  int deleted = 0;
  for (int i = 0; i < epInfo.numEndpoints; i++) {
    if (!lines[i].simulatedBusy || !lines[i].uciConf.confLoadOK) continue;
    char section[24];
    lineSectionName(i, section, sizeof(section));
    if (uci_delete(section, nullptr) != 0) err_exit("Could not delete Dect lines in UCI");
    deleted++;
  }
  if (deleted > 0) {
    if (uci_commit() != 0) err_exit("Could not commit deleted Dect lines in UCI");
    sleep(2);
  }
  return 0;
}
