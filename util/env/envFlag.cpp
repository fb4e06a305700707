#include "envFlag.h"

#include <cstdlib>
#include <cstring>

bool envFlagOn(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}
