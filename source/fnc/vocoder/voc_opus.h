// Sizes of the Opus wrapper's memory, known once opusWrapInit has asked the library.
#pragma once

#include <cstddef>

void opusWrapInit();
size_t opusDecStateBytes();
size_t opusEncStateBytes();
size_t opusDecRegionBytes();
size_t opusEncRegionBytes();
