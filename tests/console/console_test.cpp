#include "console/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

std::vector<std::u16string>* received = nullptr;
void collect(const char16_t* text) { received->push_back(text); }

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    received = &texts;
    setConsoleSink(collect);
  }
  void TearDown() override {
    setConsoleSink(nullptr);
    releaseConsole();
    received = nullptr;
  }
  std::vector<std::u16string> texts;
};

TEST_F(ConsoleTest, EachPrintReachesTheSinkAsOneTextUnsplit) {
  Console console;
  console.print(u"file size: ");
  console.print(u"%d + %d", 4096, 12);
  console.print(u" = 0x%x bytes\n", 4108);
  console.print(u"a\nb\nc\n");
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], u"file size: ");
  EXPECT_EQ(texts[1], u"4096 + 12");
  EXPECT_EQ(texts[2], u" = 0x100c bytes\n");
  EXPECT_EQ(texts[3], u"a\nb\nc\n");  // line ends are the pane's business, not the console's
}

TEST_F(ConsoleTest, FormatsWideNarrowAndHexConversions) {
  Console console;
  const char label[] = "10";
  console.print(u"[progress] %S\n", label);
  console.print(u"%s (cpu=0x%08x machine=0x%08x)\n", u"Compaq iPAQ H3600", 0x0C108000u, 0x01C40201u);
  console.print(u"%#x %c%C\n", 0x3fu, u'\u00e9', 'Z');
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], u"[progress] 10\n");
  EXPECT_EQ(texts[1], u"Compaq iPAQ H3600 (cpu=0x0c108000 machine=0x01c40201)\n");
  EXPECT_EQ(texts[2], u"0x3f \u00e9Z\n");
}

TEST_F(ConsoleTest, TextLongerThanTheBufferIsCutAt258Units) {
  Console console;
  const std::u16string long300(300, u'x');
  const std::u16string exact258(258, u'y');
  console.print(u"%s", long300.c_str());
  console.print(exact258.c_str());
  console.print(u"%s!", std::u16string(257, u'z').c_str());
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], std::u16string(258, u'x'));
  EXPECT_EQ(texts[1], exact258);
  EXPECT_EQ(texts[2], std::u16string(257, u'z') + u"!");
  EXPECT_EQ(console.buffer()[258], u'\0');
}

TEST_F(ConsoleTest, PrintWithoutSinkIsDropped) {
  setConsoleSink(nullptr);
  Console console;
  console.print(u"nobody listens %d\n", 1);
  EXPECT_TRUE(texts.empty());
  EXPECT_EQ(std::u16string(console.buffer()), u"nobody listens 1\n");
}

// A serial-style console standing in for the one the boot object may install.
class OtherConsole : public Console {
 public:
  OtherConsole() : Console(SerialConsoleKind) {}
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override {
    formatIntoBuffer(format, args, count);
    seen += buffer_;
  }
  std::u16string seen;
};

TEST_F(ConsoleTest, AccessorMakesOneLcdConsoleUntilReplacedOrReleased) {
  Console* lcd = currentConsole();
  ASSERT_NE(lcd, nullptr);
  EXPECT_EQ(lcd->bootConsoleKind(), LcdConsoleKind);
  EXPECT_TRUE(lcd->init());
  EXPECT_EQ(currentConsole(), lcd);

  // A component holding the location of a console pointer follows a later choice.
  Console* bootConsole = lcd;
  ConsoleSlot slot = &bootConsole;
  OtherConsole serial;
  bootConsole = &serial;
  setCurrentConsole(&serial);
  (*slot)->print(u"[progress] %S\n", "2");
  currentConsole()->print(u"x\n");
  EXPECT_EQ(serial.seen, u"[progress] 2\nx\n");
  EXPECT_TRUE(texts.empty());
  EXPECT_EQ(serial.bootConsoleKind(), SerialConsoleKind);

  releaseConsole();
  Console* fresh = currentConsole();
  EXPECT_NE(fresh, &serial);
  EXPECT_EQ(fresh->bootConsoleKind(), LcdConsoleKind);
  fresh->print(u"back\n");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], u"back\n");
}

}  // namespace
}  // namespace kestrel
