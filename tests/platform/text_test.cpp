// Wide <-> 8-bit conversion in the handheld's code pages: the Japanese card names in code
// page 932, the Western page 1252, sizes as WideCharToMultiByte reports them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/handheld_fixture.h"

namespace {

using kestrel_testing::TempHandheld;
using namespace ce;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::string toBytes(UINT cp, const char16_t* text, int length = -1, BOOL* usedDefault = nullptr) {
  int n = WideCharToMultiByte(cp, 0, text, length, nullptr, 0, nullptr, usedDefault);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, text, length, out.data(), n, nullptr, usedDefault), n);
  }
  return out;
}

TEST(Text, JapaneseCardNamesInCodePage932) {
  TempHandheld handheld("HP Jornada 720 (Japanese)");
  struct Case {
    const char16_t* text;
    std::string bytes;  // terminator included
  } cases[] = {
      // Half-width katakana are one byte each.
      {u"\\ﾒﾓﾘ ｶｰﾄﾞ\\", bytes({0x5C, 0xD2, 0xD3, 0xD8, 0x20, 0xB6, 0xB0, 0xC4, 0xDE, 0x5C, 0})},
      // Full-width ones two.
      {u"\\カード\\", bytes({0x5C, 0x83, 0x4A, 0x81, 0x5B, 0x83, 0x68, 0x5C, 0})},
      {u"\\ストレージカード\\corvid.gz",
       bytes({0x5C, 0x83, 0x58, 0x83, 0x67, 0x83, 0x8C, 0x81, 0x5B, 0x83, 0x57, 0x83, 0x4A, 0x81, 0x5B, 0x83, 0x68, 0x5C,
              'c', 'o', 'r', 'v', 'i', 'd', '.', 'g', 'z', 0})},
  };
  for (const auto& c : cases) {
    std::string got = toBytes(CpAcp, c.text);
    EXPECT_EQ(got, c.bytes);
    EXPECT_EQ(toBytes(932, c.text), c.bytes);
    // And back, terminator included.
    int n = MultiByteToWideChar(CpAcp, 0, c.bytes.data(), -1, nullptr, 0);
    std::u16string back(static_cast<std::size_t>(n), u'\0');
    ASSERT_EQ(MultiByteToWideChar(CpAcp, 0, c.bytes.data(), -1, back.data(), n), n);
    EXPECT_EQ(back, std::u16string(c.text) + u'\0');
  }
  EXPECT_EQ(GetACP(), 932u);
}

TEST(Text, SizesBuffersAndTerminators) {
  TempHandheld handheld("HP Jornada 720 (Japanese)");
  const char16_t* name = u"\\ﾒﾓﾘ ｶｰﾄﾞ\\";
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, name, -1, nullptr, 0, nullptr, nullptr), 11);
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, u"カード", -1, nullptr, 0, nullptr, nullptr), 7);
  // An explicit length converts exactly that many units, without a terminator.
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, u"カード", 2, nullptr, 0, nullptr, nullptr), 4);

  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, name, -1, buf, 10, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ErrorInsufficientBuffer);
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, name, -1, buf, 11, nullptr, nullptr), 11);
  EXPECT_EQ(buf[10], '\0');
  EXPECT_EQ(buf[11], 'x');

  WCHAR wide[4];
  EXPECT_EQ(MultiByteToWideChar(CpAcp, 0, "\x83\x4A\x81\x5B\x83\x68", 6, wide, 3), 3);
  EXPECT_EQ(std::u16string(wide, 3), u"カード");
  EXPECT_EQ(MultiByteToWideChar(CpAcp, 0, "\x83\x4A\x81\x5B\x83\x68", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), ErrorInsufficientBuffer);

  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, nullptr, -1, buf, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ErrorInvalidParameter);
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, name, 0, buf, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ErrorInvalidParameter);
  // A lead byte without its second byte is no character.
  EXPECT_EQ(MultiByteToWideChar(932, MbErrInvalidChars, "a\x83", 2, wide, 4), 0);
  EXPECT_EQ(GetLastError(), ErrorNoUnicodeTranslation);
}

TEST(Text, TheDefaultCodePageFollowsTheMachine) {
  TempHandheld handheld("Compaq iPAQ H3600");
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(toBytes(CpAcp, u"Ä€é"), bytes({0xC4, 0x80, 0xE9, 0}));

  // What the code page cannot represent becomes the default character.
  BOOL usedDefault = False;
  EXPECT_EQ(toBytes(CpAcp, u"Aカ", -1, &usedDefault), "A?" + bytes({0}));
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(toBytes(CpAcp, u"plain", -1, &usedDefault), "plain" + bytes({0}));
  EXPECT_FALSE(usedDefault);
  char buf[8];
  EXPECT_EQ(WideCharToMultiByte(CpAcp, 0, u"Aカ", 2, buf, sizeof buf, "*", nullptr), 2);
  EXPECT_EQ(std::string(buf, 2), "A*");

  handheld.reconfigure("code_page = 932");
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_EQ(toBytes(CpAcp, u"ｶ"), bytes({0xB6, 0}));
}

}  // namespace
