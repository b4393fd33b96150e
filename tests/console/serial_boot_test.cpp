// The serial console in whole boots on the simulated handheld: the banner at the first boot
// start, the choice of console, where the loader's lines go, BootInfo's console kind, and
// the release at exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/boot_args.h"
#include "boot/settings.h"
#include "console/serial_console.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "platform/handheld/serial.h"
#include "platform/virtual_memory.h"
#include "tests/boot/boot_fixture.h"

namespace kestrel::testing {
namespace {

const std::string Banner("\r\n--------KESTREL--------\r\n\0", 28);

kestrel_testing::HandheldOptions withIni(std::string ini) {
  kestrel_testing::HandheldOptions o;
  o.extraIni = std::move(ini);
  return o;
}

// An iPAQ H3600 whose COM1 writes serial.log in the handheld folder, booting the probe
// kernel from its card up to the jump (which returns on the handheld: "Can't jump to the
// kernel.").
class SerialBootTest : public BootTest {
 protected:
  explicit SerialBootTest(std::string ini = "com1 = file:serial.log") : BootTest(withIni(std::move(ini))) {}

  void SetUp() override {
    forgetComPort();  // whatever a test before this one left: the banner is once per run
    BootTest::SetUp();
    prepareProbeBoot();
  }

  // One attempt; true when it got as far as the jump.
  bool boot() {
    bootObject();
    front_.boxes.clear();
    settings().runBoot();
    std::vector<Box> failed = front_.boxesCaptioned(u"BOOT FAILED");
    return failed.size() == 1 && failed[0].text == u"Can't jump to the kernel.\n";
  }

  // The console kind in the BootInfo the last jump carried.
  static int bootInfoConsoleKind() {
    const auto& jump = handheld::processor().lastJump;
    if (!jump) return -1;
    std::uint8_t kind[2] = {0xFF, 0xFF};
    handheld::physicalMemory().read(jump->r[0] + boot_args::BootInfoOffset + boot_info::ConsoleKindOffset, kind, 2);
    return static_cast<std::int16_t>(kind[0] | kind[1] << 8);
  }

  bool inTab(std::u16string_view text) const { return front_.console.find(text) != std::u16string::npos; }
  static bool onLine(const std::string& text) { return handheld::serialBytes().find(text) != std::string::npos; }
};

TEST_F(SerialBootTest, FirstBootSendsTheBannerAtTheStoredSpeedEvenWithoutTheSerialConsole) {
  settings().serialSpeed = 38400;
  ASSERT_TRUE(boot()) << narrow(front_.console);
  EXPECT_EQ(handheld::serialLog(), (std::vector<handheld::SerialRun>{{38400, Banner}}));

  // The next attempt, at another speed: the port keeps its speed and hears nothing new.
  settings().serialSpeed = 9600;
  ASSERT_TRUE(boot());
  EXPECT_EQ(handheld::serialLog(), (std::vector<handheld::SerialRun>{{38400, Banner}}));
  EXPECT_EQ(handheld_.readFile(u"\\serial.log"), Banner);
  EXPECT_EQ(bootInfoConsoleKind(), LcdConsoleKind);
}

TEST_F(SerialBootTest, WorkingPortCarriesEveryLineFromTheSwitchOnAndAlsoOnLaterAttempts) {
  Settings& s = settings();
  s.serialConsole = 1;
  s.serialSpeed = 115200;
  ASSERT_TRUE(boot()) << narrow(front_.console);
  EXPECT_EQ(bootInfoConsoleKind(), SerialConsoleKind);

  // The Console tab has what came before the switch and the port's report, nothing after.
  EXPECT_TRUE(inTab(u"[progress] 0\n[progress] 1\nARM architecture.\n")) << narrow(front_.console);
  EXPECT_TRUE(inTab(u"MemoryManager: LockPages\nBaudRate 115200, ByteSize 0x8, Parity 0, StopBits 0\n"));
  EXPECT_FALSE(inTab(u"[progress] 2"));
  EXPECT_FALSE(inTab(u"use LCD console instead."));

  // The line: the banner, then the loader's lines with CR LF, all at the stored speed; the
  // memory manager, made before the switch, prints there too.
  const std::vector<handheld::SerialRun>& log = handheld::serialLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].speed, 115200u);
  ASSERT_EQ(log[0].bytes.rfind(Banner, 0), 0u);
  const std::string lines = log[0].bytes.substr(Banner.size());
  EXPECT_EQ(lines.rfind("FileManager: ", 0), 0u) << lines;
  EXPECT_TRUE(onLine("\r\n[progress] 2\r\n"));
  EXPECT_TRUE(onLine("\r\naddress translation table "));  // printed by the memory manager
  EXPECT_TRUE(onLine("console = 2\r\n[progress] 10\r\n"));
  for (std::size_t at = lines.find('\n'); at != std::string::npos; at = lines.find('\n', at + 1))
    ASSERT_EQ(lines[at - 1], '\r') << "bare line feed at " << at;
  EXPECT_EQ(handheld_.readFile(u"\\serial.log"), handheld::serialBytes());

  // The choice holds for the rest of the run, whatever the setting says now.
  s.serialConsole = 0;
  const std::size_t before = handheld::serialBytes().size();
  const std::size_t tabBefore = front_.console.size();
  ASSERT_TRUE(boot());
  EXPECT_EQ(handheld::serialBytes().find("[progress] 0\r\n", before), before);
  EXPECT_EQ(front_.console.size(), tabBefore);
  EXPECT_EQ(bootInfoConsoleKind(), SerialConsoleKind);
}

TEST_F(SerialBootTest, ExitAfterAFailedAttemptReleasesTheSerialConsoleOnceBeforeTheMemoryManager) {
  settings().serialConsole = 1;
  ASSERT_TRUE(boot());
  SerialConsole* serial = serialConsoleFor({}, nullptr);  // the one the boot made
  ASSERT_NE(serial, nullptr);
  void* window = serial->registerWindow();
  ASSERT_NE(window, nullptr);

  releaseBootObject();
  // Unmapped through a memory manager that still existed: the window is gone. (Had the
  // manager gone first, the console could not have given it back.)
  EXPECT_FALSE(ce::VirtualFree(window, 0, ce::MemRelease));
  EXPECT_EQ(serialConsoleFor({}, nullptr), nullptr) << "released, so nothing is left to hand out";
  releaseSerialConsole();  // a second release has nothing to destroy
  EXPECT_EQ(currentConsole()->bootConsoleKind(), LcdConsoleKind);
}

// No COM1 (no driver), or a driver that refuses the line settings: the Console tab says so
// and the boot goes on on the LCD console.
class SerialBootFallbackTest : public SerialBootTest, public ::testing::WithParamInterface<const char*> {
 protected:
  SerialBootFallbackTest() : SerialBootTest(GetParam()) {}
};

TEST_P(SerialBootFallbackTest, ComplaintsInTheConsoleTabAndTheBootGoesOnWithKindOne) {
  settings().serialConsole = 1;
  ASSERT_TRUE(boot()) << narrow(front_.console);
  EXPECT_TRUE(inTab(u"MemoryManager: LockPages\ncouldn't open COM1\nuse LCD console instead.\nFileManager: "))
      << narrow(front_.console);
  EXPECT_TRUE(inTab(u"console = 1\n"));
  EXPECT_EQ(bootInfoConsoleKind(), LcdConsoleKind);
  EXPECT_EQ(handheld::serialBytes(), "");
}

INSTANTIATE_TEST_SUITE_P(Ports, SerialBootFallbackTest,
                         ::testing::Values("com1 = none", "com1 = file:serial.log\ncom1_settings_fail = 1"),
                         [](const auto& info) { return info.index == 0 ? std::string("NoCom1") : std::string("SettingsFail"); });

}  // namespace
}  // namespace kestrel::testing
