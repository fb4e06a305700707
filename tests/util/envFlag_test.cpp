// The environment's switches (ORVOX_NO_RT, ORVOX_TICK_PROFILE) mean the same to every layer that
// reads them: set, not empty and not "0" is on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "envFlag.h"

namespace {

TEST(EnvFlag, AnyValueButEmptyOrZeroSwitchesOn) {
  constexpr const char* kName = "ORVOX_ENVFLAG_TEST";
  ::unsetenv(kName);
  EXPECT_FALSE(envFlagOn(kName));
  const struct {
    const char* value;
    bool on;
  } cases[] = {{"1", true}, {"yes", true}, {"true", true}, {"00", true}, {"0", false}, {"", false}};
  for (const auto& c : cases) {
    ::setenv(kName, c.value, 1);
    EXPECT_EQ(envFlagOn(kName), c.on) << '"' << c.value << '"';
  }
  ::unsetenv(kName);
}

}  // namespace
