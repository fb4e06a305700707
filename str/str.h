// Bounded string formatting: a small printf-style formatter that hands every character to an
// output function, a formatter into a character buffer that never writes past it, and a bounded
// string copy. Integers are 32-bit ("%l" takes a long, "%p" a pointer); there is no floating point.
#pragma once

#include <cstdarg>
#include <cstddef>

// Receives one produced character; a negative result stops all further output.
typedef int (*strXPrintfFunc)(void *outParm, int ch);

// Formats into the output function. Returns the number of characters delivered, or the negative
// value with which the output function refused a character.
int vStrXPrintf(strXPrintfFunc outFunc, void *outParm, const char *format, va_list args);
int strXPrintf(strXPrintfFunc outFunc, void *outParm, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Formats into buf (bufSize bytes, terminator included). Returns the number of characters written,
// or -1 when the text did not fit: buf then holds its first bufSize - 1 characters, terminated.
int vStrPrintf(char *buf, int bufSize, const char *format, va_list args);
int strPrintf(char *buf, int bufSize, const char *format, ...) __attribute__((format(printf, 3, 4)));

// Copies at most size - 1 characters of src and always terminates; the rest of dest is zeroed.
// With size 0 nothing is written and a pointer to a constant empty string is returned.
char *strMaxCpy(char *dest, const char *src, int size);
