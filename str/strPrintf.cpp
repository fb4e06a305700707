// The formatter behind strPrintf: scans the format, converts integers and texts, and hands each
// character to an output function. Integers are 32-bit unless "l" (long) or "p" (pointer) asks for
// the host's word; the digit buffer holds a 64-bit value in base 2.
#include "str.h"

#include <cstdint>
#include <cstring>

namespace {

enum : unsigned {
  OPT_NEGATIVE = 1u << 0,
  OPT_RIGHT_JUSTIFY = 1u << 1,
  OPT_ZERO_FILL = 1u << 2,
  OPT_UPPER_HEX = 1u << 3,
};

struct Parameters {
  int numOutputChars;
  unsigned options;
  int16_t minFieldWidth;
  int16_t editedStringLen;
  int16_t leadingZeros;
  strXPrintfFunc outFunc;
  void *outParm;
  char digits[64];
};

// Delivers one character while no refusal has been seen; a refusal becomes the final count.
void outputChar(Parameters &p, char ch) {
  if (p.numOutputChars < 0) {
    return;
  }
  int result = p.outFunc(p.outParm, static_cast<unsigned char>(ch));
  if (result < 0) {
    p.numOutputChars = result;
  } else {
    ++p.numOutputChars;
  }
}

void outputRepeated(Parameters &p, char ch, int count) {
  for (int i = 0; i < count; ++i) {
    outputChar(p, ch);
  }
}

// Writes the field around text[0..len): sign, fill, leading zeros, text, trailing fill.
void outputField(Parameters &p, const char *text, int len) {
  const bool negative = (p.options & OPT_NEGATIVE) != 0;
  const bool zeroFill = (p.options & OPT_ZERO_FILL) != 0;
  int fill = p.minFieldWidth - p.leadingZeros - len - (negative ? 1 : 0);

  if (negative && zeroFill) {
    outputChar(p, '-');
  }
  if (p.options & OPT_RIGHT_JUSTIFY) {
    outputRepeated(p, zeroFill ? '0' : ' ', fill);
  }
  if (negative && !zeroFill) {
    outputChar(p, '-');
  }
  outputRepeated(p, '0', p.leadingZeros);
  for (int i = 0; i < len; ++i) {
    outputChar(p, text[i]);
  }
  if (!(p.options & OPT_RIGHT_JUSTIFY)) {
    outputRepeated(p, ' ', fill);
  }
}

// Converts value in base (2..16) to digits, lowest first into the buffer's end, then writes the
// field. The precision, when it exceeds the digit count, becomes leading zeros.
void outputNumber(Parameters &p, uint64_t value, unsigned base, int precision) {
  const char *digitChars = (p.options & OPT_UPPER_HEX) ? "0123456789ABCDEF" : "0123456789abcdef";
  char *end = p.digits + sizeof p.digits;
  char *pos = end;
  do {
    *--pos = digitChars[value % base];
    value /= base;
  } while (value != 0 && pos > p.digits);
  const int len = static_cast<int>(end - pos);
  p.editedStringLen = static_cast<int16_t>(len);
  if (precision > len) {
    p.leadingZeros = static_cast<int16_t>(precision - len);
  }
  outputField(p, pos, len);
}

// Reads a run of decimal digits as a 16-bit value (wrapping like the stored field does).
int16_t scanNumber(const char *&fmt) {
  uint16_t value = 0;
  while (*fmt >= '0' && *fmt <= '9') {
    value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(*fmt - '0'));
    ++fmt;
  }
  return static_cast<int16_t>(value);
}

}  // namespace

int vStrXPrintf(strXPrintfFunc outFunc, void *outParm, const char *format, va_list args) {
  Parameters p{};
  p.outFunc = outFunc;
  p.outParm = outParm;
  if (format == nullptr || outFunc == nullptr) {
    return 0;
  }

  va_list ap;
  va_copy(ap, args);
  const char *fmt = format;
  while (*fmt != '\0') {
    if (*fmt != '%') {
      outputChar(p, *fmt++);
      continue;
    }
    ++fmt;

    p.options = OPT_RIGHT_JUSTIFY;
    p.minFieldWidth = 0;
    p.leadingZeros = 0;
    if (*fmt == '-') {
      p.options &= ~OPT_RIGHT_JUSTIFY;
      ++fmt;
    }
    if (*fmt == '0') {
      p.options |= OPT_ZERO_FILL;
      ++fmt;
    }

    if (*fmt == '*') {
      p.minFieldWidth = static_cast<int16_t>(va_arg(ap, int));
      ++fmt;
    } else {
      p.minFieldWidth = scanNumber(fmt);
    }

    int precision = -1;
    if (*fmt == '.') {
      ++fmt;
      if (*fmt == '*') {
        precision = static_cast<int16_t>(va_arg(ap, int) & 0xFFFF);
        ++fmt;
      } else {
        precision = scanNumber(fmt);
      }
    }

    bool isLong = false;
    if (*fmt == 'l') {
      isLong = true;
      ++fmt;
    }

    const char conversion = *fmt;
    if (conversion == '\0') {
      break;
    }
    ++fmt;

    switch (conversion) {
      case 'd':
      case 'i': {
        int64_t value = isLong ? static_cast<int64_t>(va_arg(ap, long)) : va_arg(ap, int);
        uint64_t magnitude = static_cast<uint64_t>(value);
        if (value < 0) {
          p.options |= OPT_NEGATIVE;
          magnitude = 0 - magnitude;
        }
        outputNumber(p, magnitude, 10, precision);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o':
      case 'b': {
        uint64_t value = isLong ? static_cast<uint64_t>(va_arg(ap, unsigned long))
                                : va_arg(ap, unsigned int);
        unsigned base = 10;
        if (conversion == 'x') {
          base = 16;
        } else if (conversion == 'X') {
          base = 16;
          p.options |= OPT_UPPER_HEX;
        } else if (conversion == 'o') {
          base = 8;
        } else if (conversion == 'b') {
          base = 2;
        }
        outputNumber(p, value, base, precision);
        break;
      }
      case 'p': {
        auto value = reinterpret_cast<uintptr_t>(va_arg(ap, void *));
        outputNumber(p, value, 16, precision);
        break;
      }
      case 'c': {
        char ch = static_cast<char>(va_arg(ap, int));
        p.options &= ~OPT_ZERO_FILL;
        outputField(p, &ch, 1);
        break;
      }
      case 's': {
        const char *text = va_arg(ap, const char *);
        if (text == nullptr) {
          text = "(null)";
        }
        const int len = precision >= 0
                            ? static_cast<int>(strnlen(text, static_cast<size_t>(precision)))
                            : static_cast<int>(strlen(text));
        p.options &= ~OPT_ZERO_FILL;
        outputField(p, text, len);
        break;
      }
      default:
        outputChar(p, conversion);
        break;
    }
  }
  va_end(ap);
  return p.numOutputChars;
}

int strXPrintf(strXPrintfFunc outFunc, void *outParm, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vStrXPrintf(outFunc, outParm, format, args);
  va_end(args);
  return result;
}

namespace {

struct BoundedBuffer {
  char *pos;
  int remaining;
};

// Stores the character and terminates behind it at once, so the buffer is a valid text whenever
// the output stops; refuses once the room for characters (size - 1) is used up.
int boundedOutput(void *parm, int ch) {
  auto *out = static_cast<BoundedBuffer *>(parm);
  if (out->remaining <= 0) {
    return -1;
  }
  *out->pos++ = static_cast<char>(ch);
  *out->pos = '\0';
  --out->remaining;
  return 0;
}

}  // namespace

int vStrPrintf(char *buf, int bufSize, const char *format, va_list args) {
  if (buf == nullptr || bufSize < 0) {
    bufSize = 0;
  }
  BoundedBuffer out{buf, bufSize - 1};
  // An empty result is still a terminated text when there is room for the terminator.
  if (bufSize > 0) {
    buf[0] = '\0';
  }
  return vStrXPrintf(boundedOutput, &out, format, args);
}

int strPrintf(char *buf, int bufSize, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vStrPrintf(buf, bufSize, format, args);
  va_end(args);
  return result;
}

char *strMaxCpy(char *dest, const char *src, int size) {
  // Handed out instead of a destination that has no room; nothing ever writes to it.
  static char emptyString[1] = {'\0'};
  if (size <= 0 || dest == nullptr) {
    return emptyString;
  }
  if (src == nullptr) {
    src = "";
  }
  strncpy(dest, src, static_cast<size_t>(size - 1));
  dest[size - 1] = '\0';
  return dest;
}
