// How the device compares and matches names: case folding beyond ASCII, and the wildcard
// patterns of FindFirstFileW.
#include <gtest/gtest.h>

#include "platform/handheld/names.h"

namespace {

TEST(Names, CaseIsFoldedForTheScriptsOfTheSupportedModels) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool equal;
  } cases[] = {
      {u"Storage Card", u"STORAGE CARD", true},  {u"ÄÖÜ", u"äöü", true},       {u"Łódź", u"ŁÓDŹ", true},
      {u"Карта", u"КАРТА", true},                {u"ΣΤ", u"στ", true},          {u"ＡＢ", u"ａｂ", true},
      {u"ｶｰﾄﾞ", u"ｶｰﾄﾞ", true},                  {u"カード", u"ｶｰﾄﾞ", false},     {u"card", u"card ", false},
      {u"a", u"b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(handheld::equalNoCase(c.a, c.b), c.equal)
        << handheld::utf16ToUtf8(c.a) << " / " << handheld::utf16ToUtf8(c.b);
  }
  EXPECT_TRUE(handheld::lessNoCase(u"a.txt", u"My Documents"));
  EXPECT_TRUE(handheld::lessNoCase(u"My Documents", u"windows"));
}

TEST(Names, WildcardsMatchAsOnTheDevice) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  } cases[] = {
      {u"*.*", u"corvid.gz", true},       {u"*.*", u"README", true},  // "*.*" also takes names without a dot
      {u"*", u"", true},                  {u"*.gz", u"CORVID.GZ", true},
      {u"*.gz", u"corvid.gz.bak", false}, {u"*.gz", u"corvid", false},
      {u"?orvid.*", u"corvid.gz", true},  {u"?orvid.*", u"orvid.gz", false},
      {u"a*b*c", u"aXXbYYbc", true},      {u"a*b*c", u"aXXbYYbd", false},
      {u"kestrel.cnf", u"Kestrel.CNF", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(handheld::wildcardMatch(c.pattern, c.name), c.match)
        << handheld::utf16ToUtf8(c.pattern) << " ~ " << handheld::utf16ToUtf8(c.name);
  }
}

TEST(Names, Utf8RoundTripAndRepairs) {
  const std::u16string japanese = u"ﾒﾓﾘ ｶｰﾄﾞ\U0001F4BE";
  EXPECT_EQ(handheld::utf8ToUtf16(handheld::utf16ToUtf8(japanese)), japanese);
  // Broken input becomes U+FFFD rather than vanishing: a cut sequence, an overlong form, a
  // lone surrogate.
  EXPECT_EQ(handheld::utf8ToUtf16("a\xE3\x82"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(handheld::utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(handheld::utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_FALSE(handheld::wellFormed(std::u16string(1, u'\xDC00')));
  EXPECT_TRUE(handheld::wellFormed(japanese));
}

}  // namespace
