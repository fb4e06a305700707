#include "str.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

// Formats with both our formatter and snprintf; the one-argument conversions of the subset
// they share.
template <typename T>
void expectSameAsSnprintf(const std::string &format, T value) {
  char ours[256];
  char reference[256];
  int ourLen = strPrintf(ours, sizeof ours, format.c_str(), value);
  int refLen = snprintf(reference, sizeof reference, format.c_str(), value);
  EXPECT_EQ(std::string(ours), std::string(reference)) << "format \"" << format << "\"";
  EXPECT_EQ(ourLen, refLen) << "format \"" << format << "\"";
}

// Deliberately without a format attribute: several cases use formats that printf rejects.
std::string fmt(const char *format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  vStrPrintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

int vStrPrintfWrapper(char *buf, int size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vStrPrintf(buf, size, format, args);
  va_end(args);
  return result;
}

// A random conversion spec of the shared subset: optional '-' then optional '0', optional
// width, optional precision. Combinations where the two formatters are meant to differ are
// left out: zero fill together with a precision on a number (ours keeps the zero fill), zero
// fill on texts and characters (ours ignores it) and a precision of 0 on the value 0 (ours
// always writes one digit).
std::string randomSpec(std::mt19937 &rng, char conversion, bool valueIsZero) {
  std::string spec = "%";
  bool left = rng() % 3 == 0;
  bool zero = conversion != 's' && conversion != 'c' && rng() % 3 == 0;
  bool hasPrecision = conversion != 'c' && rng() % 2 == 0;
  if (zero && hasPrecision) {
    hasPrecision = false;
  }
  if (left) spec += '-';
  if (zero) spec += '0';
  if (rng() % 2) spec += std::to_string(1 + rng() % 14);
  if (hasPrecision) {
    unsigned precision = rng() % 12;
    if (precision == 0 && valueIsZero) precision = 1;
    spec += "." + std::to_string(precision);
  }
  spec += conversion;
  return spec;
}

TEST(StrPrintf, AgreesWithSnprintfOnTheSharedSubset) {
  std::mt19937 rng(2024);
  const std::string integerConversions = "diuxXo";
  const int32_t interesting[] = {0, 1, -1, 7, -42, 255, 65535, INT32_MAX, INT32_MIN, 1000000};
  for (int i = 0; i < 4000; ++i) {
    const char conversion = integerConversions[rng() % integerConversions.size()];
    int32_t value = (rng() % 4 == 0) ? interesting[rng() % 10] : static_cast<int32_t>(rng());
    std::string format = "<" + randomSpec(rng, conversion, value == 0) + ">";
    if (conversion == 'd' || conversion == 'i') {
      expectSameAsSnprintf(format, value);
    } else {
      expectSameAsSnprintf(format, static_cast<uint32_t>(value));
    }
  }
  const char *texts[] = {"", "a", "hello", "a longer text of words"};
  for (int i = 0; i < 1000; ++i) {
    expectSameAsSnprintf("[" + randomSpec(rng, 's', false) + "]", texts[rng() % 4]);
    expectSameAsSnprintf("[" + randomSpec(rng, 'c', false) + "]", static_cast<int>('!' + rng() % 90));
  }
}

TEST(StrPrintf, FieldsOfSignedNumbers) {
  EXPECT_EQ(fmt("%5d", -42), "  -42");
  EXPECT_EQ(fmt("%05d", -42), "-0042");
  EXPECT_EQ(fmt("%-5d|", -42), "-42  |");
  EXPECT_EQ(fmt("%d", INT32_MIN), "-2147483648");
  EXPECT_EQ(fmt("%*d|%-*d|", 4, 7, 3, 8), "   7|8  |");
}

TEST(StrPrintf, BasesAndPrecision) {
  EXPECT_EQ(fmt("%.4x", 255), "00ff");
  EXPECT_EQ(fmt("%X", 255), "FF");
  EXPECT_EQ(fmt("%b", 5), "101");
  EXPECT_EQ(fmt("%b", 0), "0");
  EXPECT_EQ(fmt("%b", 0xFFFFFFFFu), std::string(32, '1'));
  EXPECT_EQ(fmt("%o", 8), "10");
  EXPECT_EQ(fmt("%.3s", "abcdef"), "abc");
  EXPECT_EQ(fmt("%6s", "ab"), "    ab");
  EXPECT_EQ(fmt("%.*s", 2, "abcdef"), "ab");
  // Zero fill is kept beside a precision, and dropped for texts and characters.
  EXPECT_EQ(fmt("%08.3d", 5), "00000005");
  EXPECT_EQ(fmt("%05s", "ab"), "   ab");
  EXPECT_EQ(fmt("%03c", 'z'), "  z");
  // At least one digit, even with a precision of 0.
  EXPECT_EQ(fmt("%.0d", 0), "0");
}

TEST(StrPrintf, UnknownConversionsAndFlagOrder) {
  EXPECT_EQ(fmt("%f"), "f");
  EXPECT_EQ(fmt("100%%"), "100%");
  // Only "-" before "0" is a flag pair: "%0-5d" is zero fill, then the conversion character "-".
  EXPECT_EQ(fmt("%0-5d", 42), "-5d");
  EXPECT_EQ(fmt("%-05d|", 42), "42   |");
  EXPECT_EQ(fmt("%-05d|", -42), "-42  |");
  EXPECT_EQ(fmt("end%"), "end");
  EXPECT_EQ(fmt("%5"), "");
}

TEST(StrPrintf, LongAndPointerArgumentsTakeTheHostWord) {
  EXPECT_EQ(fmt("%ld", -5000000000L), "-5000000000");
  EXPECT_EQ(fmt("%lx %d", 0x123456789abL, 7), "123456789ab 7");
  int object = 0;
  char expected[64];
  snprintf(expected, sizeof expected, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&object)));
  EXPECT_EQ(fmt("%p", static_cast<void *>(&object)), expected);
}

TEST(StrPrintf, NullTextDoesNotCrash) {
  const char *nothing = nullptr;
  EXPECT_EQ(fmt("%s", nothing), "(null)");
}

TEST(StrPrintf, TruncationKeepsTheFirstCharactersAndReturnsMinusOne) {
  char buf[5];
  EXPECT_EQ(strPrintf(buf, sizeof buf, "%d", 123456), -1);
  EXPECT_STREQ(buf, "1234");
  EXPECT_EQ(strPrintf(buf, sizeof buf, "%d", 1234), 4);
  EXPECT_STREQ(buf, "1234");
  char one[1] = {'x'};
  EXPECT_EQ(strPrintf(one, 1, "a"), -1);
  EXPECT_EQ(one[0], '\0');
  char guard[4] = {'g', 'g', 'g', 'g'};
  EXPECT_EQ(strPrintf(guard, 0, "abc"), -1);
  EXPECT_EQ(guard[0], 'g');
}

TEST(StrPrintf, EmptyResultStillTerminates) {
  char buf[8] = "garbage";
  EXPECT_EQ(strPrintf(buf, sizeof buf, "%s", ""), 0);
  EXPECT_STREQ(buf, "");
  char buf2[8] = "garbage";
  const char *empty = "";
  EXPECT_EQ(vStrPrintfWrapper(buf2, sizeof buf2, empty), 0);
  EXPECT_STREQ(buf2, "");
}

// An output function that refuses after a given number of characters.
struct Refusing {
  std::string text;
  int allowed;
};
int refusingOutput(void *parm, int ch) {
  auto *r = static_cast<Refusing *>(parm);
  if (r->allowed-- <= 0) {
    return -7;
  }
  r->text += static_cast<char>(ch);
  return 0;
}

TEST(StrXPrintf, RefusalStopsDeliveryAndIsReturned) {
  Refusing r{"", 3};
  EXPECT_EQ(strXPrintf(refusingOutput, &r, "abcdef%d", 5), -7);
  EXPECT_EQ(r.text, "abc");
  Refusing all{"", 100};
  EXPECT_EQ(strXPrintf(refusingOutput, &all, "x=%d", 42), 4);
  EXPECT_EQ(all.text, "x=42");
}

TEST(StrMaxCpy, CopiesBoundedAndTerminates) {
  char buf[4];
  EXPECT_EQ(strMaxCpy(buf, "hello", sizeof buf), buf);
  EXPECT_STREQ(buf, "hel");
  char padded[8];
  memset(padded, 'x', sizeof padded);
  strMaxCpy(padded, "ab", sizeof padded);
  for (size_t i = 2; i < sizeof padded; ++i) {
    EXPECT_EQ(padded[i], '\0');
  }
  char one[1] = {'x'};
  strMaxCpy(one, "abc", 1);
  EXPECT_EQ(one[0], '\0');
  char untouched[2] = {'u', 'v'};
  char *result = strMaxCpy(untouched, "abc", 0);
  EXPECT_NE(result, untouched);
  EXPECT_STREQ(result, "");
  EXPECT_EQ(untouched[0], 'u');
}

}  // namespace
