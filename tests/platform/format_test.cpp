// The wide formatter: each conversion, flags, width and precision, the 32-bit view of
// integers, and the buffer bound.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/format.h"

namespace {

template <class... Args>
std::u16string fmt(const char16_t* f, const Args&... args) {
  char16_t buf[256];
  std::size_t n = ce::format(buf, 256, f, args...);
  EXPECT_EQ(n, std::char_traits<char16_t>::length(buf));
  return std::u16string(buf, n);
}

TEST(Format, Conversions) {
  const char16_t* wide = u"Storage Card";
  const char* narrow = "corvid.gz";
  const char16_t* noText = nullptr;
  EXPECT_EQ(fmt(u"\\%s\\%S", wide, narrow), u"\\Storage Card\\corvid.gz");
  // The argument's type decides how a string is read, whatever the conversion says.
  EXPECT_EQ(fmt(u"%S|%s", wide, narrow), u"Storage Card|corvid.gz");
  EXPECT_EQ(fmt(u"%s", noText), u"(null)");
  EXPECT_EQ(fmt(u"%s", 42), u"(?)");
  EXPECT_EQ(fmt(u"%c%c%C", u'ｶ', 'x', 'y'), u"ｶxy");
  EXPECT_EQ(fmt(u"%C", 0x141), u"A");  // an 8-bit character: the low byte
  EXPECT_EQ(fmt(u"%d %i %u", -5, 7, 3000000000u), u"-5 7 3000000000");
  EXPECT_EQ(fmt(u"%x %X %o", 0xABCDEFu, 0xABCDEFu, 8), u"abcdef ABCDEF 10");
  EXPECT_EQ(fmt(u"%p", reinterpret_cast<void*>(0x1234)), u"00001234");
  EXPECT_EQ(fmt(u"100%% %q %"), u"100% %q %");  // unknown conversions stand as written
  EXPECT_EQ(fmt(u"%d and %d", 1), u"1 and ");    // a missing argument prints nothing
  EXPECT_EQ(fmt(u"%hd %hx", 0x12345, -1), u"9029 ffff");
  EXPECT_EQ(fmt(u"%lld %I64x", -5000000000LL, 0x123456789ull), u"-5000000000 123456789");
}

TEST(Format, FlagsWidthAndPrecision) {
  struct Case {
    std::u16string got, want;
  } cases[] = {
      {fmt(u"%#x %#X %#x", 255, 255, 0), u"0xff 0XFF 0"},
      {fmt(u"%#o %#o", 8, 0), u"010 0"},
      {fmt(u"%08x", 0x1234), u"00001234"},
      {fmt(u"%#010x", 0x1234), u"0x00001234"},
      {fmt(u"%05d|%-5d|%5d", -42, 42, 42), u"-0042|42   |   42"},
      {fmt(u"%+d % d %+d", 5, 5, -5), u"+5  5 -5"},
      {fmt(u"%.3d %.0d|%5.2x", 7, 0, 10), u"007 |   0a"},
      {fmt(u"%08.3d", 7), u"     007"},  // a precision turns off zero padding
      {fmt(u"%-08d|", 7), u"7       |"},
      {fmt(u"%.2s|%6s|%-6S|", u"abcdef", u"ab", "cd"), u"ab|    ab|cd    |"},
      {fmt(u"%3c|%-3c|", u'a', u'b'), u"  a|b  |"},
      {fmt(u"%*d|%-*d|%.*s", 4, 1, 3, 2, 2, u"xyz"), u"   1|2  |xy"},
      {fmt(u"%*d|", -4, 1), u"1   |"},  // a negative '*' width pads on the right
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, IntegersAreThirtyTwoBitWithoutLengthModifier) {
  EXPECT_EQ(fmt(u"%d", 0x100000005LL), u"5");
  EXPECT_EQ(fmt(u"%d", 0xFFFFFFFFu), u"-1");
  EXPECT_EQ(fmt(u"%d", INT_MIN), u"-2147483648");
  EXPECT_EQ(fmt(u"%x", -1), u"ffffffff");
  EXPECT_EQ(fmt(u"%x", static_cast<std::int64_t>(-1)), u"ffffffff");
  EXPECT_EQ(fmt(u"%u", -1), u"4294967295");
  EXPECT_EQ(fmt(u"%08X", 0x1234567890ull), u"34567890");
  EXPECT_EQ(fmt(u"%llx", static_cast<std::int64_t>(-1)), u"ffffffffffffffff");
  EXPECT_EQ(fmt(u"%lld", LLONG_MIN), u"-9223372036854775808");
  EXPECT_EQ(fmt(u"%d", 'A'), u"65");
}

TEST(Format, NeverWritesPastTheBufferAndAlwaysTerminates) {
  for (std::size_t cap : {0u, 1u, 2u, 5u, 12u, 13u}) {
    SCOPED_TRACE(cap);
    char16_t buf[20];
    std::fill(std::begin(buf), std::end(buf), u'#');
    std::size_t n = ce::format(buf, cap, u"%s %d", u"hello", 123456);  // 12 units
    std::size_t expect = cap == 0 ? 0 : std::min<std::size_t>(cap - 1, 12);
    EXPECT_EQ(n, expect);
    if (cap > 0) {
      EXPECT_EQ(std::u16string(buf, n), std::u16string(u"hello 123456").substr(0, expect));
      EXPECT_EQ(buf[n], u'\0');
    }
    for (std::size_t k = cap; k < 20; ++k) EXPECT_EQ(buf[k], u'#') << "written at " << k;
  }
  // Widths and precisions far beyond the buffer are cut, not followed.
  char16_t small[8];
  EXPECT_EQ(ce::format(small, 8, u"%*d", INT_MIN, 1), 7u);
  EXPECT_EQ(ce::format(small, 8, u"%.*d|%*s", INT_MAX, 1, INT_MAX, u"x"), 7u);
  EXPECT_EQ(std::u16string(small), u"0000000");
  EXPECT_EQ(ce::format(small, 8, u"%999999999d", 1), 7u);
}

}  // namespace
