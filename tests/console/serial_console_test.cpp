// openComPort, the SA-11x0 and PXA-2x0 serial consoles and the process-wide serial console,
// on a simulated handheld with a real memory manager.
#include "console/serial_console.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "arch/architecture.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/files.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/serial.h"
#include "platform/virtual_memory.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

const std::string Banner("\r\n--------KESTREL--------\r\n\0", 28);

std::u16string* consoleTab = nullptr;
void toConsoleTab(const char16_t* text) {
  if (consoleTab) *consoleTab += text;
}
std::uint32_t storedSpeed = 19200;
std::uint32_t speedSetting() { return storedSpeed; }

// A handheld whose line goes to serial.log in its folder, a memory manager printing to the
// LCD console, and the Console tab as text.
class SerialConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    consoleTab = &tab_;
    setConsoleSink(toConsoleTab);
    setSerialSpeedSource(speedSetting);
    storedSpeed = 19200;
    start();
  }
  void TearDown() override {
    stop();
    setSerialSpeedSource(nullptr);
    setConsoleSink(nullptr);
    releaseConsole();
    consoleTab = nullptr;
  }

  // A fresh run of the program on a fresh handheld.
  void start(std::string platform = "Compaq iPAQ H3600", std::string ini = "") {
    stop();
    HandheldOptions o;
    o.platform = std::move(platform);
    o.extraIni = ini.rfind("com1 =", 0) == 0 ? ini : "com1 = file:serial.log\n" + ini;
    handheld_.emplace(std::move(o));
    lcd_ = currentConsole();
    memory_.emplace(handheld::lockPages, handheld::unlockPages, &lcd_, 4096u, 0u);
    memoryPointer_ = &*memory_;
    tab_.clear();
  }
  void stop() {
    releaseSerialConsole();  // unmaps through the memory manager, so before it goes
    memoryPointer_ = nullptr;
    memory_.reset();
    forgetComPort();
    handheld_.reset();
  }

  // The serial console the boot makes for a processor (a cpu word): the one its family's
  // architecture names; none for a processor of no family.
  SerialConsole* console(std::uint32_t cpu = 0x0C104000) {
    SerialConsoleMaker make = nullptr;
    if (std::optional<ProcessorFamily> family = architectureFor({cpu, 0})) {
      // Asked, not used: what it prints on being made does not belong in the Console tab.
      struct Quiet final : Console {
        void vprint(const char16_t*, const ce::FormatArg*, std::size_t) override {}
      } quiet;
      Console* quietSlot = &quiet;
      Architecture* architecture = makeArchitecture(*family, &quietSlot, &memoryPointer_);
      make = architecture->serialConsoleMaker();
      ce::heapDelete(architecture);
    }
    return serialConsoleFor(&memoryPointer_, make);
  }
  // What went on the line after the banner.
  std::string afterBanner() const {
    std::string all = handheld::serialBytes();
    return all.rfind(Banner, 0) == 0 ? all.substr(Banner.size()) : "(no banner) " + all;
  }
  static bool released(void* window) { return !ce::VirtualFree(window, 0, ce::MemRelease); }

  std::optional<TempHandheld> handheld_;
  Console* lcd_ = nullptr;
  std::optional<LockPagesMemoryManager> memory_;
  MemoryManager* memoryPointer_ = nullptr;
  std::u16string tab_;
};

TEST_F(SerialConsoleTest, FirstOpeningProgramsTheStoredSpeedAndSendsTheBannerOnce) {
  storedSpeed = 115200;
  ce::HANDLE port = openComPort();
  ASSERT_NE(port, ce::InvalidHandleValue);
  EXPECT_EQ(handheld::serialLog(), (std::vector<handheld::SerialRun>{{115200, Banner}}));
  EXPECT_EQ(handheld_->readFile(u"\\serial.log"), Banner);

  // A speed changed afterwards does not reach the port that is open.
  storedSpeed = 9600;
  EXPECT_EQ(openComPort(), port);
  EXPECT_EQ(handheld::serialSpeed(), 115200u);
  EXPECT_EQ(handheld::serialLog(), (std::vector<handheld::SerialRun>{{115200, Banner}}));
}

TEST_F(SerialConsoleTest, PortThatCannotBeOpenedOrSetUpGivesTheInvalidHandleAndStaysClosed) {
  const struct {
    const char* ini;
    std::uint32_t speed;
  } cases[] = {{"com1 = none", 19200}, {"com1_settings_fail = 1", 19200}, {"", 0}};
  for (const auto& c : cases) {
    start("Compaq iPAQ H3600", c.ini);
    storedSpeed = c.speed;
    EXPECT_EQ(openComPort(), ce::InvalidHandleValue) << c.ini << " speed " << c.speed;
    EXPECT_EQ(handheld::serialBytes(), "") << c.ini;
    if (handheld::serialPortPresent()) {
      // Closed again: another opener gets the port.
      ce::HANDLE again = ce::CreateFileW(u"COM1:", ce::GenericWrite, 0, nullptr, ce::OpenExisting, 0, nullptr);
      EXPECT_NE(again, ce::InvalidHandleValue) << c.ini;
      ce::CloseHandle(again);
    }
  }
}

TEST_F(SerialConsoleTest, EachFamilyPrintsThroughItsOwnUartWithCrLfLineEnds) {
  const struct {
    const char* platform;
    std::uint32_t code, base;
  } cases[] = {{"Compaq iPAQ H3600", 0x0C104000, 0x80050000},
               {"Compaq iPAQ H3900", 0x0C204000, 0x40100000},
               {"Sharp W-ZERO3 (WS003SH)", 0x0C208000, 0x40100000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.platform);
    start(c.platform);
    SerialConsole* serial = console(c.code);
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->bootConsoleKind(), SerialConsoleKind);
    ASSERT_TRUE(serial->init());
    EXPECT_EQ(tab_, u"BaudRate 19200, ByteSize 0x8, Parity 0, StopBits 0\n");
    std::uint32_t physical = 0;
    ASSERT_TRUE(handheld::physicalMemory().physicalOf(serial->registerWindow(), physical));
    EXPECT_EQ(physical, c.base);

    serial->print(u"abc\n");
    EXPECT_EQ(afterBanner(), "\x61\x62\x63\x0D\x0A");
    EXPECT_EQ(handheld::serialLog().back().speed, 19200u);
    const handheld::UartCounters& uart = handheld::uartCounters();
    EXPECT_EQ(uart.accepted, 5u);
    EXPECT_EQ(uart.overruns, 0u) << "every byte waited for the transmitter";
    if (c.base == 0x40100000) {
      EXPECT_EQ(uart.iirReads, 5u);
    }
    EXPECT_EQ(tab_, u"BaudRate 19200, ByteSize 0x8, Parity 0, StopBits 0\n") << "nothing of it in the Console tab";
    EXPECT_EQ(handheld_->readFile(u"\\serial.log"), handheld::serialBytes());
    releaseSerialConsole();
  }
}

TEST_F(SerialConsoleTest, TextOf255BytesIsSentWholeAndOneOf256NotAtAll) {
  // U+3042 is two bytes in code page 932: 127 of them and a letter make 255 bytes.
  const std::u16string kana(127, u'\u3042');
  std::string kanaBytes;
  for (int k = 0; k < 127; ++k) kanaBytes += "\x82\xA0";
  const struct {
    const char* codePage;
    std::u16string text;
    std::string sent;
  } cases[] = {
      {"1252", std::u16string(255, u'a'), std::string(255, 'a')},
      {"1252", std::u16string(256, u'a'), ""},
      {"1252", std::u16string(254, u'a') + u"\n", std::string(254, 'a') + "\r\n"},  // counted before the CR
      {"932", kana + u"a", kanaBytes + "a"},
      {"932", kana + u"\u3042", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("code page ") + c.codePage + ", " + std::to_string(c.text.size()) + " units");
    start("Compaq iPAQ H3600", std::string("code_page = ") + c.codePage);
    SerialConsole* serial = console();
    ASSERT_TRUE(serial && serial->init());
    serial->print(u"%s", c.text.c_str());
    EXPECT_EQ(afterBanner(), c.sent);
  }
}

TEST_F(SerialConsoleTest, InitFailuresAreReportedInTheConsoleTab) {
  start("Compaq iPAQ H3600", "com1 = none");
  SerialConsole* serial = console();
  ASSERT_NE(serial, nullptr);
  EXPECT_FALSE(serial->init());
  EXPECT_EQ(tab_, u"couldn't open COM1\n");
  EXPECT_EQ(serial->registerWindow(), MemoryManager::mapFailed());

  // The port works but its registers cannot be mapped: nothing can be sent.
  start();
  handheld_->faults().virtualCopyFails = true;
  serial = console();
  EXPECT_FALSE(serial->init());
  EXPECT_EQ(tab_, u"BaudRate 19200, ByteSize 0x8, Parity 0, StopBits 0\ncan't map physical address 0x80050000\n");
  serial->print(u"lost\n");
  EXPECT_EQ(afterBanner(), "");
}

TEST_F(SerialConsoleTest, LaterInitGivesTheEarlierWindowBackAndReleaseTheLastOne) {
  SerialConsole* serial = console();
  ASSERT_TRUE(serial->init());
  void* first = serial->registerWindow();
  ASSERT_TRUE(serial->init());  // the next boot attempt
  void* second = serial->registerWindow();
  // The earlier window is gone (the new one may have been placed where it was).
  if (second != first) {
    EXPECT_TRUE(released(first));
  }
  EXPECT_EQ(tab_, u"BaudRate 19200, ByteSize 0x8, Parity 0, StopBits 0\n"
                  u"BaudRate 19200, ByteSize 0x8, Parity 0, StopBits 0\n");
  serial->print(u"ok");
  EXPECT_EQ(afterBanner(), "ok") << "one banner, and the new window works";

  // Released while it is the current console: the accessor goes back to the LCD console.
  setCurrentConsole(serial);
  releaseSerialConsole();
  EXPECT_TRUE(released(second));
  EXPECT_EQ(currentConsole(), lcd_);
  releaseSerialConsole();  // nothing left to destroy
}

TEST_F(SerialConsoleTest, TheFirstConsoleMadeIsTheOneEveryCallGets) {
  const struct {
    std::uint32_t code;
    bool sa, pxa;
  } cases[] = {{0x0C104000, true, false}, {0x0C204000, false, true}, {0x0C208000, false, true},
               {0x0C108000, true, false}, {0, false, false}};
  for (const auto& c : cases) {
    SerialConsole* serial = console(c.code);
    EXPECT_EQ(dynamic_cast<SA11x0SerialConsole*>(serial) != nullptr, c.sa) << std::hex << c.code;
    EXPECT_EQ(dynamic_cast<PXA2x0SerialConsole*>(serial) != nullptr, c.pxa) << std::hex << c.code;
    releaseSerialConsole();
  }
  SerialConsole* first = console(0x0C104000);
  EXPECT_EQ(console(0x0C208000), first);
  EXPECT_EQ(console(0), first);
}

TEST_F(SerialConsoleTest, UartThatNeverGetsReadyCostsTheTextButNotTheProgram) {
  for (std::uint32_t code : {0x0C104000u, 0x0C204000u}) {
    start(code == 0x0C104000u ? "Compaq iPAQ H3600" : "Compaq iPAQ H3900");
    SerialConsole* serial = console(code);
    ASSERT_TRUE(serial->init());
    handheld_->faults().uartNeverReady = true;
    serial->print(u"x\n");
    EXPECT_EQ(afterBanner(), "");
    // Each of the three bytes is given up after the bound, not before.
    EXPECT_EQ(handheld::uartCounters().statusReads, 3u * SerialConsole::MaxPolls) << std::hex << code;
    EXPECT_EQ(handheld::uartCounters().overruns, 0u) << "nothing written to a transmitter without room";
  }
}

}  // namespace
}  // namespace kestrel
