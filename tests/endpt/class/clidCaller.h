// The caller-ID data the caller-ID tests send and expect back.
#pragma once

#include <cstdio>

#include "vrgEndptTypes.h"

inline EPCLIDRX_DATA caller(const char* date, const char* number, const char* name) {
  EPCLIDRX_DATA c{};
  std::snprintf(c.date, sizeof c.date, "%s", date);
  std::snprintf(c.number, sizeof c.number, "%s", number);
  std::snprintf(c.name, sizeof c.name, "%s", name);
  return c;
}
