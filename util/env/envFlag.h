// Switches read from the environment (ORVOX_NO_RT, ORVOX_TICK_PROFILE, ...), read the same way by
// every layer: a switch is on when the variable is set, not empty and not "0".
#pragma once

bool envFlagOn(const char* name);
