// The caller string that the daemon gives with a caller-ID ring: "date,number,name", where the
// number and name may be quoted, and an absent, empty or single blocking character stands for
// the reason that the value is not given.
#include <cctype>
#include <cstring>

#include "hdspClass.h"

namespace {

constexpr size_t kDateMax = 8;
constexpr size_t kNumberMax = 19;
constexpr size_t kNameMax = 50;

bool isValidClidChar(char c) {
  if (c < '!' || c > '~') return false;
  return c != '"' && c != '(' && c != ')' && c != ',' && c != '=';
}

// Reads one field at `p` (after leading spaces) into `out`; returns the position after it.
const char* readField(const char* p, char* out, size_t max, bool dropTrailingBlanks) {
  size_t n = 0;
  while (*p == ' ') ++p;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"' && n < max) out[n++] = *p++;
    if (dropTrailingBlanks) {
      while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t')) --n;
    }
  } else {
    while (isValidClidChar(*p) && n < max) out[n++] = *p++;
  }
  out[n] = '\0';
  return p;
}

const char* nextField(const char* p) {
  const char* comma = std::strchr(p, ',');
  return comma != nullptr ? comma + 1 : nullptr;
}

}  // namespace

char isClidBlocked(const char* field, VRG_COUNTRY country) {
  if (field == nullptr || field[0] == '\0') return 'O';
  if (field[1] != '\0') return 0;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(field[0])));
  const char* blocking = "OP";
  switch (country) {
    case VRG_COUNTRY_JAPAN: blocking = "OPCS"; break;
    case VRG_COUNTRY_TAIWAN: blocking = "CIOP"; break;
    case VRG_COUNTRY_DENMARK: blocking = "EOP"; break;
    default: break;
  }
  return std::strchr(blocking, c) != nullptr ? c : 0;
}

int hdspClassParseStr(const char* text, VRG_COUNTRY country, EPCLIDRX_DATA* out) {
  if (out == nullptr) return -1;
  std::memset(out, 0, sizeof *out);
  if (text == nullptr) return -1;

  const char* p = text;
  size_t d = 0;
  for (; *p != '\0' && *p != ','; ++p) {
    if (*p != '/' && d < kDateMax) out->date[d++] = *p;
  }
  out->date[d] = '\0';

  char number[kNumberMax + 1] = "";
  char name[kNameMax + 1] = "";
  const char* at = nextField(p);
  if (at != nullptr) {
    at = readField(at, number, kNumberMax, false);
    const char* nameAt = nextField(at);
    if (nameAt != nullptr) readField(nameAt, name, kNameMax, true);
  }

  out->reasonNoNumber = isClidBlocked(number, country);
  if (out->reasonNoNumber == 0) {
    size_t n = 0;
    for (const char* c = number; *c != '\0' && n < kNumberMax; ++c) {
      if (std::isdigit(static_cast<unsigned char>(*c))) out->number[n++] = *c;
    }
    out->number[n] = '\0';
  }
  out->reasonNoName = isClidBlocked(name, country);
  if (out->reasonNoName == 0) std::memcpy(out->name, name, sizeof name);
  return 0;
}
