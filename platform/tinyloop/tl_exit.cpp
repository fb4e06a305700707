// Print-and-exit helpers: failures go to standard error (status 1), the success message to
// standard output (status 0). Standard output is flushed first so that the daemon's own lines
// keep their order.
#include "tinyloop.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void printLine(FILE *to, const char *text) {
    if (!text) text = "";
    fputs(text, to);
    size_t len = strlen(text);
    if (len == 0 || text[len - 1] != '\n') fputc('\n', to);
    fflush(to);
}

}  // namespace

extern "C" {

void exit_failure(const char *message) {
    fflush(stdout);
    printLine(stderr, message);
    exit(EXIT_FAILURE);
}

void exit_succes(const char *message) {
    printLine(stdout, message);
    exit(EXIT_SUCCESS);
}

void err_exit(const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    exit_failure(text);
}

}  // extern "C"
