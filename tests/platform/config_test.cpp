// handheld.ini: what each key does, the exact "PATH:LINE: ..." message of each kind of bad
// file, the save/load round trip, and opening a handheld folder.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"
#include "tests/support/handheld_fixture.h"

namespace {

namespace fs = std::filesystem;
using handheld::Config;
using handheld::PageOrder;

class IniFile : public ::testing::Test {
 protected:
  // A folder of our own; the handheld fixture writes its own handheld.ini.
  kestrel_testing::TempHandheld scratch_;
  fs::path dir_ = scratch_.dir() / "ini";
  void SetUp() override { fs::create_directory(dir_); }
  void write(const std::string& text) {
    std::ofstream(dir_ / "handheld.ini", std::ios::binary | std::ios::trunc) << text;
  }
  std::string prefix() { return handheld::pathText(dir_ / "handheld.ini"); }
};

TEST_F(IniFile, KeysOverrideThePlatformsProfile) {
  struct Case {
    std::string ini;
    std::function<void(const Config&)> check;
  } cases[] = {
      {"platform = HP Jornada 720 (Japanese)\n",
       [](const Config& c) {
         EXPECT_EQ(c.profile.name, "HP Jornada 720 (Japanese)");
         EXPECT_EQ(c.profile.codePage, 932u);
         EXPECT_EQ(c.profile.width, 640);
         EXPECT_EQ(c.cards, std::vector<std::string>{"Storage Card"});
         EXPECT_EQ(c.com1, "stdout");
         EXPECT_EQ(c.pageOrder, PageOrder::Shuffle);
         EXPECT_EQ(c.shuffleSeed, 1u);
         EXPECT_TRUE(c.coredll && c.lockPages && c.unlockPages && c.getVersionEx);
       }},
      // Comments, blanks, CRLF, a byte-order mark, upper-case keys; overrides before the
      // platform line still override it.
      {"\xEF\xBB\xBF# machine\r\n; second comment\r\n\r\n  DISPLAY = 320x240x8\r\nplatform=Compaq iPAQ H3600\r\n",
       [](const Config& c) {
         EXPECT_EQ(c.profile.name, "Compaq iPAQ H3600");
         EXPECT_EQ(c.profile.width, 320);
         EXPECT_EQ(c.profile.height, 240);
         EXPECT_EQ(c.profile.bitsPerPixel, 8);
         EXPECT_EQ(c.profile.dpi, 96);
       }},
      {"platform = Sharp W-ZERO3 (WS003SH)\ncards = CF Card , Storage Card\npage_order = shuffle:42\n"
       "com1 = file:serial.log\ncode_page = 1252\nos_version = 4.21\ndpi = 130\ndisk3 = card.img\n"
       "disk3_bytes_per_sector = 2048\ndisk3_flags = 0x5\ndisk3_bad_sector = 4000000000\n",
       [](const Config& c) {
         EXPECT_EQ(c.cards, (std::vector<std::string>{"CF Card", "Storage Card"}));
         EXPECT_EQ(c.shuffleSeed, 42u);
         EXPECT_EQ(c.com1, "file:serial.log");
         EXPECT_EQ(c.profile.codePage, 1252u);
         EXPECT_EQ(c.profile.osMajor, 4);
         EXPECT_EQ(c.profile.osMinor, 21);
         EXPECT_EQ(c.profile.dpi, 130);
         EXPECT_EQ(c.disks[2], "card.img");
         EXPECT_EQ(c.disks[0], "");
         EXPECT_EQ(c.diskOptions[2], (handheld::DiskOptions{2048, 0x5, 4000000000u}));
         EXPECT_EQ(c.diskOptions[0], handheld::DiskOptions{});
       }},
      {"cards =\npage_order = hostile\ncom1 = none\ntimezone_bias = -540\ndaylight_bias = 0\ndaylight = 1\n"
       "coredll = 0\nlock_pages = 0\nunlock_pages = 0\nget_version_ex = 0\n",
       [](const Config& c) {
         EXPECT_EQ(c.profile.name, "Compaq iPAQ H3600");  // no platform line
         EXPECT_TRUE(c.cards.empty());
         EXPECT_EQ(c.pageOrder, PageOrder::Hostile);
         EXPECT_EQ(c.com1, "none");
         EXPECT_EQ(c.timezoneBias, -540);
         EXPECT_EQ(c.daylightBias, 0);
         EXPECT_TRUE(c.daylight);
         EXPECT_FALSE(c.coredll || c.lockPages || c.unlockPages || c.getVersionEx);
       }},
      {"page_order = sequential\n", [](const Config& c) { EXPECT_EQ(c.pageOrder, PageOrder::Sequential); }},
      {"page_order = reverse\n", [](const Config& c) { EXPECT_EQ(c.pageOrder, PageOrder::Reverse); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    write(c.ini);
    Config config;
    std::string error;
    ASSERT_TRUE(handheld::loadConfig(dir_, config, error)) << error;
    EXPECT_EQ(error, "");
    c.check(config);
  }
}

TEST_F(IniFile, EveryMistakeIsReportedWithFileAndLine) {
  struct Case {
    std::string ini;
    std::string message;  // after the path
  } cases[] = {
      {"platform = Compaq iPAQ H3700\n", ":1: unknown platform 'Compaq iPAQ H3700'"},
      {"# comment\nplatfrom = HP Jornada 820\n", ":2: unknown key 'platfrom'"},
      {"display 240x320x16\n", ":1: expected 'key = value'"},
      {"\n= 5\n", ":2: expected 'key = value'"},
      {"disk0 = a.img\n", ":1: unknown key 'disk0'"},
      {"disk1_sectors = 5\n", ":1: unknown key 'disk1_sectors'"},
      {"disk1_bytes_per_sector = 500\n", ":1: bad value '500' for disk1_bytes_per_sector (a power of two from 128 to 65536)"},
      {"disk2_flags = 0xZ\n", ":1: bad value '0xZ' for disk2_flags (a number, decimal or 0x hexadecimal)"},
      {"disk9_bad_sector = -1\n", ":1: bad value '-1' for disk9_bad_sector (a number, decimal or 0x hexadecimal)"},
      {"platform = HP Jornada 820\nplatform = HP Jornada 820\n", ":2: 'platform' was already given on line 1"},
      {"page_order = shuffle\n",
       ":1: bad value 'shuffle' for page_order (sequential, reverse, shuffle:SEED or hostile)"},
      {"page_order = shuffle:-1\n",
       ":1: bad value 'shuffle:-1' for page_order (sequential, reverse, shuffle:SEED or hostile)"},
      {"com1 = COM2\n", ":1: bad value 'COM2' for com1 (stdout, none or file:PATH)"},
      {"com1 = file:\n", ":1: bad value 'file:' for com1 (stdout, none or file:PATH)"},
      {"code_page = 12345\n", ":1: bad value '12345' for code_page (a code page such as 932 or 1252)"},
      {"os_version = 5\n", ":1: bad value '5' for os_version (MAJOR.MINOR)"},
      {"display = 240x320\n", ":1: bad value '240x320' for display (WIDTHxHEIGHTxBPP)"},
      {"display = 240x320x15\n", ":1: bad value '240x320x15' for display (WIDTHxHEIGHTxBPP)"},
      {"dpi = 0\n", ":1: bad value '0' for dpi (a number from 1 to 1000)"},
      {"timezone_bias = 2000\n", ":1: bad value '2000' for timezone_bias (minutes from -1440 to 1440)"},
      {"daylight = yes\n", ":1: bad value 'yes' for daylight (0 or 1)"},
      // A comment is a line of its own; after a value it is part of the value.
      {"lock_pages = 1 # on\n", ":1: bad value '1 # on' for lock_pages (0 or 1)"},
      {"cards = Storage Card, storage card\n", ":1: card 'storage card' is listed twice"},
      {"cards = Storage Card,,CF Card\n", ":1: empty card name"},
      {"cards = Cards\\One\n", ":1: card name 'Cards\\One' has a character a folder name cannot have"},
      // What the file holds reaches the terminal escaped, and a long value cut.
      {"dpi = 9\x1b[2J\x07\n", ":1: bad value '9\\x1b[2J\\x07' for dpi (a number from 1 to 1000)"},
      {"platform = \x9b" "31m\n", ":1: unknown platform '\\x9b31m'"},
      {"com1 = " + std::string(1 << 20, 'x') + "\n",
       ":1: bad value '" + std::string(64, 'x') + "... (1048576 bytes)' for com1 (stdout, none or file:PATH)"},
      {"k\x1b]0;t\x07 = 1\n", ":1: unknown key 'k\\x1b]0;t\\x07'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    write(c.ini);
    Config config;
    config.com1 = "untouched";
    std::string error;
    EXPECT_FALSE(handheld::loadConfig(dir_, config, error));
    EXPECT_EQ(error, prefix() + c.message);
    EXPECT_EQ(config.com1, "untouched");  // a bad file changes nothing
  }
  fs::remove(dir_ / "handheld.ini");
  std::string error;
  Config config;
  EXPECT_FALSE(handheld::loadConfig(dir_, config, error));
  EXPECT_EQ(error, prefix() + ": no such file");
}

TEST_F(IniFile, SavedConfigurationLoadsBackAndWritesOnlyOverrides) {
  Config saved;
  saved.profile = *handheld::findProfile("Sharp Advanced/W-ZERO3[es] (WS011SH)");
  saved.cards = {"ﾒﾓﾘ ｶｰﾄﾞ", "Storage Card"};
  saved.disks[0] = "disk one.img";
  saved.diskOptions[0] = {4096, 0x3, 17};
  saved.com1 = "file:com1.log";
  saved.pageOrder = PageOrder::Shuffle;
  saved.shuffleSeed = 4000000000u;
  saved.profile.dpi = 96;
  saved.timezoneBias = -540;
  saved.daylight = true;
  saved.unlockPages = false;
  std::string error;
  ASSERT_TRUE(handheld::saveConfig(dir_, saved, error)) << error;

  Config loaded;
  ASSERT_TRUE(handheld::loadConfig(dir_, loaded, error)) << error;
  EXPECT_EQ(loaded.profile.name, saved.profile.name);
  EXPECT_EQ(loaded.cards, saved.cards);
  EXPECT_EQ(loaded.disks[0], "disk one.img");
  EXPECT_EQ(loaded.diskOptions[0], saved.diskOptions[0]);
  EXPECT_EQ(loaded.diskOptions[1], handheld::DiskOptions{});
  EXPECT_EQ(loaded.com1, "file:com1.log");
  EXPECT_EQ(loaded.shuffleSeed, 4000000000u);
  EXPECT_EQ(loaded.profile.dpi, 96);
  EXPECT_EQ(loaded.profile.height, 800);
  EXPECT_EQ(loaded.timezoneBias, -540);
  EXPECT_TRUE(loaded.daylight);
  EXPECT_FALSE(loaded.unlockPages);
  EXPECT_TRUE(loaded.lockPages);

  std::ifstream in(dir_ / "handheld.ini");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("dpi = 96\n"), std::string::npos);
  EXPECT_EQ(text.str().find("display"), std::string::npos) << "the profile's own screen is not written";
  EXPECT_EQ(text.str().find("code_page"), std::string::npos);

  saved.cards = {"a,b"};
  EXPECT_FALSE(handheld::saveConfig(dir_, saved, error));
  EXPECT_EQ(error, prefix() + ": card name 'a,b' has a character a folder name cannot have");
  saved.profile.name = "Palm";
  EXPECT_FALSE(handheld::saveConfig(dir_, saved, error));
  EXPECT_EQ(error, prefix() + ": unknown platform 'Palm'");
}

TEST_F(IniFile, OpenInstallsTheFolderAsTheCurrentMachine) {
  write("platform = HP Jornada 820\ncards = CF Card\n");
  std::string error;
  ASSERT_TRUE(handheld::open(dir_, error)) << error;
  EXPECT_EQ(handheld::current().root(), dir_);
  EXPECT_EQ(handheld::current().config().profile.name, "HP Jornada 820");
  EXPECT_EQ(handheld::current().config().cards, std::vector<std::string>{"CF Card"});

  // A folder that cannot be opened leaves the current machine as it was.
  write("platform = nothing\n");
  EXPECT_FALSE(handheld::open(dir_, error));
  EXPECT_EQ(error, prefix() + ":1: unknown platform 'nothing'");
  EXPECT_FALSE(handheld::open(dir_ / "absent", error));
  EXPECT_EQ(error, handheld::pathText(dir_ / "absent") + ": no such handheld folder");
  EXPECT_EQ(handheld::current().config().profile.name, "HP Jornada 820");
}

}  // namespace
