// The `kestrel` command, run as a program on temporary handhelds.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/handheld/machine.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir = fs::temp_directory_path() / ("kestrel-cli-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs kestrel with `args` in `cwd` (default: the test folder) with `env` prepended.
  Outcome kestrel(const std::vector<std::string>& args, const std::string& env = "", const fs::path& cwd = {}) {
    std::string command = "cd " + quote((cwd.empty() ? dir : cwd).string()) + " && env -u KESTREL_HANDHELD " + env +
                          " " + quote(KESTREL_PROGRAM);
    for (const std::string& a : args) command += " " + quote(a);
    command += " >" + quote((dir / "out.txt").string()) + " 2>" + quote((dir / "err.txt").string());
    int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(dir / "out.txt");
    run.err = slurp(dir / "err.txt");
    return run;
  }

  std::vector<std::uint8_t> cnf(const fs::path& handheld, const std::string& card = "Storage Card") {
    std::string bytes = slurp(handheld / card / "kestrel.cnf");
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }

  fs::path dir;
};

TEST_F(Cli, PlatformsListsTheWholeTableInOrder) {
  Outcome r = kestrel({"platforms"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> l = lines(r.out);
  ASSERT_EQ(l.size(), 40u);
  auto check = [&](std::size_t i, const std::string& start, const std::string& end) {
    EXPECT_EQ(l[i].substr(0, start.size()), start) << l[i];
    ASSERT_GE(l[i].size(), end.size());
    EXPECT_EQ(l[i].substr(l[i].size() - end.size()), end) << l[i];
  };
  check(0, " 0  ARM ", "0x0c000000  0x00000000  -");
  check(10, "10  Sharp W-ZERO3 (WS003SH) ", "0x0c208000  0x01040100  0");
  check(13, "13  Sharp Advanced/W-ZERO3[es] (WS011SH)", "0x0c208000  0x01040400  3");
  check(19, "19  Compaq iPAQ H36XX ", "0x00000000  0x01c40200  -");
  check(20, "20  Compaq iPAQ H3600 ", "0x0c108000  0x01c40201  6");
  check(39, "39  PSIONTEKLOGIX NETBOOK PRO ", "0x0c204000  0x04010100  18");
}

TEST_F(Cli, HandheldInitWritesTheIniAndCardsAndKeepsAnExistingOne) {
  const fs::path hh = dir / "jornada";
  Outcome r = kestrel({"handheld", "init", hh.string(), "--platform", "HP Jornada 720 (US/UK)", "--card", "CF Card",
                   "--card", "Storage Card"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_directory(hh / "CF Card"));
  EXPECT_TRUE(fs::is_directory(hh / "Storage Card"));
  handheld::Config config;
  std::string error;
  ASSERT_TRUE(handheld::loadConfig(hh, config, error)) << error;
  EXPECT_EQ(config.profile.name, "HP Jornada 720 (US/UK)");
  EXPECT_EQ(config.cards, (std::vector<std::string>{"CF Card", "Storage Card"}));

  const std::string ini = slurp(hh / "handheld.ini");
  r = kestrel({"handheld", "init", hh.string(), "--platform", "Compaq iPAQ H3600"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  EXPECT_EQ(slurp(hh / "handheld.ini"), ini);

  r = kestrel({"handheld", "init", hh.string(), "--platform", "Compaq iPAQ H3600", "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(handheld::loadConfig(hh, config, error)) << error;
  EXPECT_EQ(config.profile.name, "Compaq iPAQ H3600");
  EXPECT_EQ(config.cards, (std::vector<std::string>{"Storage Card"}));
}

// One field per line, in record order, as a fresh handheld's start-up loads them.
const char* const defaultShow =
    "magic=394090323\n"
    "version=258\n"
    "recordSize=2152\n"
    "kernelDirectorySet=0\n"
    "kernelDirectory=\n"
    "kernelFileSet=0\n"
    "kernelFile=\n"
    "platform.cpu=0x00000000\n"
    "platform.machine=0x00000000\n"
    "rootDevice=0\n"
    "fsImagePath=miniroot.fs\n"
    "serialConsole=0\n"
    "bootVerbose=0\n"
    "singleUser=0\n"
    "askName=0\n"
    "kernelDebugger=0\n"
    "autoBootSeconds=0\n"
    "reverseVideo=0\n"
    "pauseBeforeBoot=1\n"
    "loadDebugInfo=0\n"
    "safetyMessage=1\n"
    "serialSpeed=19200\n"
    "extraOptions=\n";

TEST_F(Cli, ConfigShowPrintsTheStartUpSettingsFromAnyWayOfNamingTheHandheld) {
  ASSERT_EQ(kestrel({"handheld", "init", "handheld"}).status, 0);
  Outcome byOption = kestrel({"config", "show", "--handheld", (dir / "handheld").string()});
  ASSERT_EQ(byOption.status, 0) << byOption.err;
  EXPECT_EQ(byOption.out, defaultShow);
  Outcome byEnvironment = kestrel({"config", "show"}, "KESTREL_HANDHELD=" + quote((dir / "handheld").string()), "/");
  EXPECT_EQ(byEnvironment.status, 0) << byEnvironment.err;
  EXPECT_EQ(byEnvironment.out, defaultShow);
  Outcome byFolder = kestrel({"config", "show"});  // ./handheld
  EXPECT_EQ(byFolder.status, 0) << byFolder.err;
  EXPECT_EQ(byFolder.out, defaultShow);
  EXPECT_FALSE(fs::exists(dir / "handheld" / "Storage Card" / "kestrel.cnf")) << "show never writes";
}

TEST_F(Cli, ConfigSetWritesAWholeRecordWithTheDefaultsAtTheirOffsets) {
  const fs::path hh = dir / "hh";
  ASSERT_EQ(kestrel({"handheld", "init", hh.string()}).status, 0);
  Outcome r = kestrel({"config", "set", "--handheld", hh.string(), "serialSpeed=115200"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::uint8_t> expected(2152, 0);
  const std::uint8_t header[12] = {0x53, 0x57, 0x7D, 0x17, 0x02, 0x01, 0x00, 0x00, 0x68, 0x08, 0x00, 0x00};
  std::copy(header, header + 12, expected.begin());
  const char image[] = "miniroot.fs";
  for (std::size_t k = 0; image[k]; ++k) expected[1076 + 2 * k] = static_cast<std::uint8_t>(image[k]);
  ce::putLe32(expected.data() + 1624, 1);
  ce::putLe32(expected.data() + 1632, 1);
  ce::putLe32(expected.data() + 1636, 115200);
  EXPECT_EQ(cnf(hh), expected);
}

TEST_F(Cli, ConfigSetChangesTextsFlagsAndNumbersAndShowReadsThemBack) {
  const fs::path hh = dir / "hh";
  ASSERT_EQ(kestrel({"handheld", "init", hh.string()}).status, 0);
  const std::string cardDirectory = "\\\xEF\xBE\x92\xEF\xBE\x93\xEF\xBE\x98 \xEF\xBD\xB6\xEF\xBD\xB0\xEF\xBE\x84\xEF\xBE\x9E\\";
  Outcome r = kestrel({"config", "set", "--handheld", hh.string(), "kernelDirectory=" + cardDirectory,
                   "kernelFile=corvid-7.gz", "platform=Compaq iPAQ H3600", "rootDevice=md", "autoBootSeconds=10",
                   "safetyMessage=0", "extraOptions=-s\tfoo=bar", "platform.machine=0x01C40202"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::uint8_t> b = cnf(hh);
  ASSERT_EQ(b.size(), 2152u);
  EXPECT_EQ(ce::getLe32(&b[16]), 1u);  // kernelDirectorySet
  const char16_t wide[] = u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\";
  for (std::size_t k = 0; k < 10; ++k) EXPECT_EQ(ce::getLe16(&b[20 + 2 * k]), wide[k]) << k;
  EXPECT_EQ(ce::getLe32(&b[540]), 1u);  // kernelFileSet
  EXPECT_EQ(ce::getLe32(&b[1064]), 0x0C108000u);
  EXPECT_EQ(ce::getLe32(&b[1068]), 0x01C40202u);  // the later assignment wins
  EXPECT_EQ(ce::getLe32(&b[1072]), 2u);
  EXPECT_EQ(ce::getLe32(&b[1616]), 10u);
  EXPECT_EQ(ce::getLe32(&b[1632]), 0u);

  Outcome show = kestrel({"config", "show", "--handheld", hh.string()});
  ASSERT_EQ(show.status, 0) << show.err;
  std::vector<std::string> l = lines(show.out);
  ASSERT_EQ(l.size(), 23u);
  EXPECT_EQ(l[3], "kernelDirectorySet=1");
  EXPECT_EQ(l[4], "kernelDirectory=" + cardDirectory);
  EXPECT_EQ(l[6], "kernelFile=corvid-7.gz");
  EXPECT_EQ(l[7], "platform.cpu=0x0c108000");
  EXPECT_EQ(l[8], "platform.machine=0x01c40202");
  EXPECT_EQ(l[9], "rootDevice=2");
  EXPECT_EQ(l[16], "autoBootSeconds=10");
  EXPECT_EQ(l[20], "safetyMessage=0");
  EXPECT_EQ(l[22], "extraOptions=-s\tfoo=bar");
}

struct ErrorCase {
  std::vector<std::string> args;  // "HH" stands for the test handheld
  int status;
  std::string says;
};

TEST_F(Cli, ErrorsPrintOneLineAndExitNonZero) {
  const fs::path hh = dir / "hh";
  ASSERT_EQ(kestrel({"handheld", "init", hh.string()}).status, 0);
  handheld::Config noCards;
  noCards.profile = *handheld::findProfile("Compaq iPAQ H3600");
  noCards.cards.clear();
  std::string error;
  fs::create_directories(dir / "nocards");
  ASSERT_TRUE(handheld::saveConfig(dir / "nocards", noCards, error)) << error;

  const ErrorCase cases[] = {
      {{}, 64, "subcommand"},
      {{"config", "frobnicate"}, 64, ""},
      {{"config", "set", "--handheld", "HH"}, 64, ""},
      {{"config", "set", "--handheld", "HH", "bogus=1"}, 64, "unknown field 'bogus'"},
      {{"config", "set", "--handheld", "HH", "serialSpeed"}, 64, "FIELD=VALUE"},
      {{"config", "set", "--handheld", "HH", "serialSpeed=fast"}, 64, "bad value 'fast' for serialSpeed"},
      {{"config", "set", "--handheld", "HH", "serialSpeed=4294967296"}, 64, "bad value"},
      {{"config", "set", "--handheld", "HH", "bootVerbose=2"}, 64, "bad value '2' for bootVerbose"},
      {{"config", "set", "--handheld", "HH", "rootDevice=6"}, 64, "bad value"},
      {{"config", "set", "--handheld", "HH", "autoBootSeconds=-1"}, 64, "bad value"},
      {{"config", "set", "--handheld", "HH", "kernelFile=" + std::string(260, 'k')}, 64, "longer than 259"},
      {{"config", "set", "--handheld", "HH", "kernelFile=\xC3\x28"}, 64, "not UTF-8"},
      {{"config", "set", "--handheld", "HH", "platform=Nokia 3310"}, 64, "unknown platform"},
      {{"config", "set", "--handheld", "HH", "magic=1"}, 64, "not settable"},
      {{"config", "set", "--handheld", "HH", "recordSize=2152"}, 64, "not settable"},
      {{"config", "set", "--handheld", "HH", "version=258"}, 64, "not settable"},
      {{"handheld", "init", (dir / "other").string(), "--platform", "ARM XSCALE"}, 64, "unknown platform"},
      {{"config", "show", "--handheld", (dir / "missing").string()}, 1, "no handheld at"},
      {{"config", "set", "--handheld", (dir / "missing").string(), "askName=1"}, 1, "no handheld at"},
      {{"config", "set", "--handheld", (dir / "nocards").string(), "askName=1"}, 1, "no storage card"},
  };
  for (const ErrorCase& c : cases) {
    std::vector<std::string> args;
    std::string shown;
    for (const std::string& a : c.args) {
      args.push_back(a == "HH" ? hh.string() : a);
      shown += " " + a.substr(0, 40);
    }
    SCOPED_TRACE("kestrel" + shown);
    Outcome r = kestrel(args);
    EXPECT_EQ(r.status, c.status);
    ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("kestrel: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(hh / "Storage Card" / "kestrel.cnf")) << "nothing is written on an error";
  EXPECT_FALSE(fs::exists(dir / "other" / "handheld.ini"));
}

TEST_F(Cli, EverySubcommandSaysWhatItDoes) {
  const std::pair<std::vector<std::string>, std::string> helps[] = {
      {{"platforms", "--help"}, "platform table"},
      {{"handheld", "init", "--help"}, "handheld.ini"},
      {{"config", "show", "--help"}, "field=value"},
      {{"config", "set", "--help"}, "not settable"},
      {{"--help"}, "config"},
  };
  for (const auto& [args, says] : helps) {
    Outcome r = kestrel(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
  }
}

}  // namespace
