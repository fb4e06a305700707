// Helpers shared by the jitter buffer's source files.
#pragma once

#include "ajc.h"

namespace ajc {

inline constexpr int32_t kTrackerMax = 1024000;  // 8000 ticks with 7 fraction bits

void satInc(uint16_t& counter);
void initBuildout(AJC_OBJ* o);
void refreshTrackers(AJC_OBJ* o);
void phaseDiscontinuity(AJC_OBJ* o, int16_t bump, bool tooLate);
uint16_t frameTime(const AJC_OBJ* o, unsigned code);

}  // namespace ajc
