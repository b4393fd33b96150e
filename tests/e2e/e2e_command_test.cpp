// `kestrel boot` as a command: the options land in kestrel.cnf as if typed into the tabs,
// the questions are answered by --yes/--no, and the exit status tells how the boot ended.
// These runs stop at the jump (--run none) and need no emulator.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace kestrel::e2e {
namespace {

std::string configValue(const Handheld& handheld, const std::string& field) {
  CommandResult show = kestrel({"config", "show", "--handheld", handheld.dir().string()});
  std::string key = field + "=";
  std::size_t at = show.output.find("\n" + key);
  if (at == std::string::npos) return "<missing>";
  at += 1 + key.size();
  return show.output.substr(at, show.output.find('\n', at) - at);
}

TEST(BootCommand, StopsAtTheJumpAndSavesTheHandoff) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  std::filesystem::path image = handheld.dir() / "jump.khof";
  CommandResult run = handheld.boot({"--run", "none", "--save-handoff", image.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  // COM1 is stdout on this handheld: its banner comes between "BOOT START" and the first step.
  std::size_t start = run.output.find("BOOT START\n");
  ASSERT_NE(start, std::string::npos) << run.output;
  EXPECT_NE(run.output.find("[progress] 0\n", start), std::string::npos) << run.output;
  // The banner's closing NUL is not shown, as on a terminal: the output stays text.
  EXPECT_NE(run.output.find("--------KESTREL--------\r\n[progress] 0\n"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find('\0'), std::string::npos);
  EXPECT_NE(run.output.find("[progress] 10\n"), std::string::npos);
  EXPECT_NE(run.output.find("kestrel: stopped at the jump.\n"), std::string::npos) << run.output;
  EXPECT_TRUE(std::filesystem::exists(image));
  EXPECT_GT(std::filesystem::file_size(image), 1u << 20);  // the kernel is in it
}

// The machine at the jump, checked by `kestrel handoff verify`: on the hostile order the boot
// keeps its pages out of the kernel's destination and no link writes over a page still to be
// read; with the set-aside switched off (test-only) the chain overwrites itself.
TEST(BootCommand, HostileHandheldIsVerifiedWithoutOverlap) {
  for (const char* platform : {"Compaq iPAQ H3600", "Compaq iPAQ H3900"}) {
    SCOPED_TRACE(platform);
    Handheld handheld({platform, "hostile", Kernel::Gzip, true, false});
    ASSERT_TRUE(handheld.ready());
    const std::string image = (handheld.dir() / "jump.khof").string();
    CommandResult run = handheld.boot({"--run", "none", "--save-handoff", image});
    ASSERT_EQ(run.status, 0) << run.output;
    std::size_t at = run.output.find("set aside ");
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_GT(std::stoi(run.output.substr(at + 10)), 0) << run.output.substr(at, 40);
    CommandResult verify = kestrel({"handoff", "verify", image});
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_NE(verify.output.find("overlap: none\n"), std::string::npos) << verify.output;

    CommandResult bare = handheld.boot({"--run", "none", "--save-handoff", image, "--no-set-aside"});
    ASSERT_EQ(bare.status, 0) << bare.output;
    EXPECT_EQ(bare.output.find("set aside "), std::string::npos);
    CommandResult broken = kestrel({"handoff", "verify", image});
    EXPECT_EQ(broken.output.find("overlap: none"), std::string::npos) << broken.output;
    EXPECT_NE(broken.output.find("overlap: link 0 writes"), std::string::npos) << broken.output;
    EXPECT_NE(broken.output.find("walk: FAILED link "), std::string::npos) << broken.output;
    EXPECT_NE(broken.status, 0);
  }
}

TEST(BootCommand, OptionsAreSavedAsIfTypedIntoTheTabs) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  CommandResult run = handheld.boot({"--run", "none", "--platform", "HP Jornada 720 (German)", "--dir",
                                     "\\Storage Card\\", "--kernel", "corvid.gz", "--root", "sd", "--image", "root.img",
                                     "--boot-verbose", "--single-user", "--ask-name", "--kernel-debugger", "--speed",
                                     "115200", "--extra", "-x root=wd0a", "--reverse-video", "--set",
                                     "autoBootSeconds=7", "--set", "bootVerbose=0"});
  EXPECT_EQ(run.status, 0) << run.output;
  // The boot ran with them.
  EXPECT_NE(run.output.find("HP Jornada 720 (German) (cpu=0x0c108000 machine=0x02c20204)\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("framebuffer: 640x240 type=6 linebytes=1280 addr=0x48200000\n"), std::string::npos);
  // And kestrel.cnf holds them; --set comes last and wins.
  EXPECT_EQ(configValue(handheld, "platform.machine"), "0x02c20204");
  EXPECT_EQ(configValue(handheld, "rootDevice"), "1");
  EXPECT_EQ(configValue(handheld, "fsImagePath"), "root.img");
  EXPECT_EQ(configValue(handheld, "bootVerbose"), "0");
  EXPECT_EQ(configValue(handheld, "singleUser"), "1");
  EXPECT_EQ(configValue(handheld, "askName"), "1");
  EXPECT_EQ(configValue(handheld, "kernelDebugger"), "1");
  EXPECT_EQ(configValue(handheld, "serialSpeed"), "115200");
  EXPECT_EQ(configValue(handheld, "extraOptions"), "-x root=wd0a");
  EXPECT_EQ(configValue(handheld, "reverseVideo"), "1");
  EXPECT_EQ(configValue(handheld, "autoBootSeconds"), "7");
}

TEST(BootCommand, AnswersAndExitStatus) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  // No at the first question ("WARNING", the safety message is on by default): nothing starts.
  CommandResult no = handheld.boot({"--run", "none", "--no"});
  EXPECT_EQ(no.status, 1) << no.output;
  EXPECT_NE(no.output.find("[WARNING] Data in memory will be lost."), std::string::npos) << no.output;
  EXPECT_EQ(no.output.find("BOOT START"), std::string::npos);

  // No terminal and neither --yes nor --no: the question is answered No.
  CommandResult asked = kestrel({"boot", "--handheld", handheld.dir().string(), "--run", "none"});
  EXPECT_EQ(asked.status, 1) << asked.output;
  EXPECT_NE(asked.output.find("Are you sure? [Yes/No] No\n"), std::string::npos) << asked.output;

  // Without the safety message (saved from here on), No reaches the last chance and cancels
  // the boot.
  CommandResult cancel = handheld.boot({"--run", "none", "--no", "--set", "safetyMessage=0"});
  EXPECT_EQ(cancel.status, 2) << cancel.output;
  EXPECT_NE(cancel.output.find("[Last chance...] Push YES to boot."), std::string::npos) << cancel.output;
  EXPECT_NE(cancel.output.find("[BOOT FAILED] Canceled by user."), std::string::npos) << cancel.output;

  CommandResult missing = handheld.boot({"--run", "none", "--kernel", "absent"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("[BOOT FAILED] Can't open kernel image."), std::string::npos) << missing.output;
}

// A kestrel.cnf that names no platform of the table (a fresh handheld's) boots as the
// handheld's own platform and says so in one line; the platform is then saved with the rest.
TEST(BootCommand, WithoutAPlatformTheHandheldsOwnIsUsed) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  ASSERT_EQ(kestrel({"config", "set", "--handheld", handheld.dir().string(), "platform.cpu=0", "platform.machine=0"})
                .status,
            0);
  const std::string said =
      "kestrel: kestrel.cnf names no platform of the table; booting as the handheld's own, Compaq iPAQ H3600.\n";
  CommandResult run = handheld.boot({"--run", "none"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find(said), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Compaq iPAQ H3600 (cpu=0x0c108000 machine=0x01c40201)\n"), std::string::npos);
  EXPECT_EQ(configValue(handheld, "platform.machine"), "0x01c40201");
  CommandResult again = handheld.boot({"--run", "none"});
  EXPECT_EQ(again.output.find("names no platform"), std::string::npos) << again.output;

  // The same with no kestrel.cnf at all, as `kestrel handheld init` leaves a handheld: the
  // kernel is corvid.gz on the first card, and the boot gets to the jump.
  std::filesystem::remove(handheld.dir() / "Storage Card" / "kestrel.cnf");
  CommandResult fresh = handheld.boot({"--run", "none"});
  EXPECT_EQ(fresh.status, 0) << fresh.output;
  EXPECT_NE(fresh.output.find(said), std::string::npos) << fresh.output;
  EXPECT_NE(fresh.output.find("kestrel: stopped at the jump.\n"), std::string::npos) << fresh.output;
  EXPECT_EQ(configValue(handheld, "kernelFile"), "corvid.gz");
  EXPECT_EQ(configValue(handheld, "kernelDirectory"), "\\Storage Card\\");
}

// Files that are no hand-off image, or one that names a processor it cannot be, are refused
// by verify and run with one line that names the file once; nothing is allocated for them first.
TEST(HandoffCommand, WhatIsNoImageIsRefusedWithOneLine) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  const std::filesystem::path image = handheld.dir() / "jump.khof";
  ASSERT_EQ(handheld.boot({"--run", "none", "--save-handoff", image.string()}).status, 0);
  const auto size = std::filesystem::file_size(image);
  auto edited = [&](const std::string& name, const std::function<void(std::string&)>& edit) {
    std::ifstream in(image, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    edit(bytes);
    const std::filesystem::path out = handheld.dir() / name;
    std::ofstream(out, std::ios::binary) << bytes;
    return out;
  };
  // "Compaq iPAQ H3600" is 17 bytes: the processor name "SA-1110" follows at 57.
  const std::filesystem::path unknown = edited("unknown.khof", [](std::string& b) { b[57 + 6] = '7'; });
  const std::filesystem::path otherFamily = edited("pxa.khof", [](std::string& b) { b[8] = 1; });
  const std::filesystem::path huge = edited("huge.khof", [](std::string&) {});
  std::filesystem::resize_file(huge, 8ull << 30);  // sparse: nothing is written
  const std::filesystem::path folder = handheld.dir() / "Storage Card";

  const struct {
    std::filesystem::path file;
    std::string line;
  } cases[] = {
      {folder, folder.string() + ": not a regular file"},
      {huge, huge.string() + ": hand-off image has 8589934592 bytes, expected " + std::to_string(size)},
      {unknown, unknown.string() + ": unknown processor \"SA-1117\""},
      {otherFamily, otherFamily.string() + ": processor SA-1110 is not of the PXA-2x0 family the image names"},
  };
  for (const auto& c : cases) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"handoff", "verify", c.file.string()},
          std::vector<std::string>{"handoff", "run", "--run", "unicorn", c.file.string()}}) {
      SCOPED_TRACE(command[1] + " " + c.file.filename().string());
      CommandResult r = kestrel(command);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.output, "kestrel: " + c.line + "\n");
    }
  }
}

TEST(HandoffCommand, TheTimeLimitBoundsUnicornAndMustBeANumberOfSeconds) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  const std::string image = (handheld.dir() / "jump.khof").string();
  ASSERT_EQ(handheld.boot({"--run", "none", "--save-handoff", image}).status, 0);
  for (const char* bad : {"nan", "-1", "inf", "0", "1s"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(kestrel({"handoff", "run", "--run", "unicorn", "--timeout", bad, image}).status, 64);
    EXPECT_EQ(handheld.boot({"--run", "unicorn", "--timeout", bad}).status, 64);
  }
  // A millisecond is far less than copying a megabyte word by word takes in unicorn.
  CommandResult cut = kestrel({"handoff", "run", "--run", "unicorn", "--timeout", "0.001", image});
  EXPECT_EQ(cut.status, 3) << cut.output;
  EXPECT_NE(cut.output.find("time limit"), std::string::npos) << cut.output;
}

TEST(BootCommand, AHandoffThatCannotBeSavedSaysWhichFileAndWhy) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  const std::string image = (handheld.dir() / "no-such-folder" / "jump.khof").string();
  CommandResult run = handheld.boot({"--run", "none", "--save-handoff", image});
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("kestrel: the hand-off image was not written: can't create " + image +
                            ": No such file or directory\n"),
            std::string::npos)
      << run.output;
}

TEST(BootCommand, BadUsageIs64) {
  Handheld handheld({});
  ASSERT_TRUE(handheld.ready());
  const std::vector<std::vector<std::string>> bad = {
      {"--root", "xd"},           {"--platform", "Palm Pilot"}, {"--set", "nosuch=1"},
      {"--set", "magic=1"},       {"--set", "rootDevice"},      {"--yes", "--no"},
      {"--run", "bochs"},         {"--timeout", "0"},           {"--kernel", std::string(260, 'k')},
      {"--extra", std::string(256, 'x')},
  };
  for (const auto& arguments : bad) {
    SCOPED_TRACE(arguments[0] + " " + arguments[1].substr(0, 20));
    std::vector<std::string> all{"boot", "--handheld", handheld.dir().string(), "--run", "none"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    CommandResult run = kestrel(all);
    EXPECT_EQ(run.status, 64) << run.output;
    EXPECT_EQ(run.output.find("BOOT START"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel::e2e
