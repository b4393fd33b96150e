// The program's string table as LoadStringW serves it. In the win32 build the texts come from
// the resource compiler's STRINGTABLE, so comparing them with the compiled-in table checks
// that both readings of strings.inc agree, katakana included.
#include <gtest/gtest.h>

#include <string>

#include "platform/resources.h"
#include "resources/strings.h"

namespace {

using kestrel::resources::IdsClassName;
using kestrel::resources::IdsKernelDirectory;
using kestrel::resources::KernelDirectoryCount;
using kestrel::resources::stringTable;

std::u16string load(unsigned id, int cap = 300) {
  std::u16string buffer(static_cast<std::size_t>(cap), u'\xFFFF');
  int n = ce::LoadStringW(ce::programInstance(), id, buffer.data(), cap);
  EXPECT_GE(n, 0);
  EXPECT_LT(n, cap);
  EXPECT_EQ(buffer[static_cast<std::size_t>(n)], u'\0') << "string " << id << " not terminated";
  return buffer.substr(0, static_cast<std::size_t>(n));
}

TEST(StringResources, EveryTextLoadsAsTheTableHasIt) {
  for (const auto& s : stringTable) {
    EXPECT_EQ(load(s.id), std::u16string(s.text)) << "string " << s.id;
  }
}

TEST(StringResources, KernelDirectoryListIsExact) {
  struct Case {
    int entry;
    const char16_t* text;
  };
  // Written out by code unit, so an encoding slip in the table cannot hide behind itself.
  const Case cases[] = {
      {0, u"/"},
      {1, u"2:/"},
      {2, u"\\"},
      {3, u"\\My Documents\\"},
      {7, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\"},
      {9, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E" u"2\\"},
      {11, u"\\miniSD\uFF76\uFF70\uFF84\uFF9E\\"},
      {12, u"\\microSD\u30AB\u30FC\u30C9\\"},
      {13, u"user defined"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(load(IdsKernelDirectory + 2 * c.entry), std::u16string(c.text)) << "entry " << c.entry;
  }
  for (int entry = 0; entry < KernelDirectoryCount; ++entry) {
    EXPECT_FALSE(load(IdsKernelDirectory + 2 * entry).empty()) << "entry " << entry;
  }
  // The list ends after entry 13.
  EXPECT_EQ(load(IdsKernelDirectory + 2 * KernelDirectoryCount), u"");
  EXPECT_EQ(load(IdsClassName), u"KESTREL");
}

TEST(StringResources, TextReadInPlaceIsTerminated) {
  for (const auto& s : stringTable) {
    const ce::WCHAR* text = nullptr;
    int n = ce::LoadStringW(ce::programInstance(), s.id, reinterpret_cast<ce::WCHAR*>(&text), 0);
    ASSERT_NE(text, nullptr) << "string " << s.id;
    EXPECT_EQ(std::u16string(text, static_cast<std::size_t>(n)), std::u16string(s.text)) << "string " << s.id;
    EXPECT_EQ(text[n], u'\0') << "string " << s.id;
  }
}

TEST(StringResources, ShortBufferCutsAndMissingStringIsEmpty) {
  EXPECT_EQ(load(IdsClassName, 4), u"KES");
  EXPECT_EQ(load(IdsClassName, 1), u"");
  EXPECT_EQ(load(IdsClassName + 1), u"");  // the gap after a text
  EXPECT_EQ(load(40000), u"");             // a block the table does not have
}

}  // namespace
