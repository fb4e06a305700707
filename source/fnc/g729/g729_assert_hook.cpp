// Default of the DSP framework's assertion hook, so that the codec links on its own (tests,
// benchmarks). It is weak: the framework's own definition takes its place when linked.
#include <cstdio>

#include "g729.h"

__attribute__((weak)) void lhapiAssertHandlerVerbose(const char* file, int line) {
    std::fprintf(stderr, "LHAPI: Assert in file %s at line %d\n", file, line);
}
