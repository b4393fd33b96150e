// The whole way through `kestrel boot`: the probe kernel, read from the simulated handheld's
// card, loaded into the page chain, handed off, and booted in qemu-system-arm on the board of
// its processor (collie for the SA-1110, a PXA255 and a PXA270 board); it reports success
// only when everything it received holds.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace kestrel::e2e {
namespace {

struct QemuCase {
  std::string name;
  HandheldSetup setup;
};

std::string platformTag(const std::string& platform) {
  if (platform == "Compaq iPAQ H3600") return "Sa1110";
  if (platform == "Compaq iPAQ H3900") return "Pxa255";
  return "Pxa270";
}

std::vector<QemuCase> cases() {
  const std::string platforms[] = {"Compaq iPAQ H3600", "Compaq iPAQ H3900", "Sharp W-ZERO3 (WS003SH)"};
  std::vector<QemuCase> out;
  for (const std::string& platform : platforms) {
    // Every kernel form with and without an image, on the friendly and the hostile order.
    for (const char* order : {"sequential", "hostile"}) {
      for (Kernel kernel : {Kernel::Plain, Kernel::Gzip}) {
        for (bool image : {false, true}) {
          HandheldSetup setup{platform, order, kernel, image, image && kernel == Kernel::Gzip};
          std::string name = platformTag(platform) + "_" + (order[0] == 's' ? "Sequential" : "Hostile") +
                             (kernel == Kernel::Gzip ? "_Gzip" : "_Plain") + (image ? "_Image" : "");
          out.push_back({name, setup});
        }
      }
    }
    // Twenty shuffled orders, the kernel forms and images taking turns.
    for (int seed = 1; seed <= 20; ++seed) {
      HandheldSetup setup{platform, "shuffle:" + std::to_string(seed * 7919), seed % 2 ? Kernel::Gzip : Kernel::Plain,
                        seed % 3 == 0, seed % 6 == 0};
      out.push_back({platformTag(platform) + "_Shuffle" + std::to_string(seed), setup});
    }
  }
  return out;
}

// The case's name, not its bytes, in test listings.
void PrintTo(const QemuCase& c, std::ostream* os) { *os << c.name; }

class QemuBootTest : public ::testing::TestWithParam<QemuCase> {};

TEST_P(QemuBootTest, ProbeKernelReportsSuccess) {
  const QemuCase& c = GetParam();
  Handheld handheld(c.setup);
  ASSERT_TRUE(handheld.ready());
  CommandResult run = handheld.boot({"--run", "qemu", "--timeout", "60"});
  EXPECT_EQ(run.status, 0) << probeReport(run.output);
  EXPECT_NE(run.output.find("[progress] 10\n"), std::string::npos);
  EXPECT_NE(run.output.find("probe: all checks passed\n"), std::string::npos) << probeReport(run.output);
  if (c.setup.image) {
    EXPECT_NE(run.output.find("probe: image: ok"), std::string::npos) << probeReport(run.output);
  } else {
    EXPECT_NE(run.output.find("probe: image: none"), std::string::npos) << probeReport(run.output);
  }
  // The hostile order gives out the frames under the kernel first: the boot keeps them back.
  if (c.setup.pageOrder == "hostile") {
    EXPECT_EQ(run.output.find("set aside 0 pages"), std::string::npos);
    EXPECT_NE(run.output.find(" pages under the kernel.\n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Boards, QemuBootTest, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<QemuCase>& info) { return info.param.name; });

// Without the set-aside (the test-only switch) the hostile order puts the chain's own pages
// where the kernel is copied to: the first copy lands on the first page, whose zero-clear
// link is still to be read. Every chain page holds a link as well as data, so the damage is to
// the chain itself: the walk of the saved machine fails at that link, and on the board the
// second stage runs off into whatever the kernel's bytes say. The kernel never runs, so it
// cannot report; the machine is stopped at the time limit. The same handheld with the
// set-aside boots above.
TEST(QemuSetAside, WithoutItTheChainOverwritesItselfAndTheKernelNeverReports) {
  for (const char* platform : {"Compaq iPAQ H3600", "Sharp W-ZERO3 (WS003SH)"}) {
    SCOPED_TRACE(platform);
    Handheld handheld({platform, "hostile", Kernel::Gzip, false, false});
    ASSERT_TRUE(handheld.ready());
    const std::string image = (handheld.dir() / "jump.khof").string();
    CommandResult run = handheld.boot({"--run", "qemu", "--timeout", "20", "--save-handoff", image, "--no-set-aside"});
    EXPECT_EQ(run.output.find("pages under the kernel"), std::string::npos);
    EXPECT_EQ(run.status, 3) << probeReport(run.output);
    EXPECT_NE(run.output.find("kestrel: the emulated machine was still running after 20 seconds"), std::string::npos)
        << probeReport(run.output);
    EXPECT_EQ(run.output.find("probe: "), std::string::npos) << probeReport(run.output);

    CommandResult verify = kestrel({"handoff", "verify", image});
    EXPECT_NE(verify.status, 0) << verify.output;
    EXPECT_NE(verify.output.find("overlap: link 0 writes"), std::string::npos) << verify.output;
    EXPECT_NE(verify.output.find("walk: FAILED link "), std::string::npos) << verify.output;
  }
}

// With the serial console the loader prints on the UART itself, and the kernel is told so.
TEST(QemuBoot, SerialConsoleReachesTheKernel) {
  for (const char* platform : {"Compaq iPAQ H3600", "Sharp W-ZERO3 (WS003SH)"}) {
    SCOPED_TRACE(platform);
    Handheld handheld({platform, "shuffle:3", Kernel::Gzip, false, false});
    ASSERT_TRUE(handheld.ready());
    CommandResult run = handheld.boot({"--run", "qemu", "--serial-console", "--speed", "115200"});
    EXPECT_EQ(run.status, 0) << probeReport(run.output);
    EXPECT_EQ(run.output.find("use LCD console instead."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("probe: argv[1] = \"h\""), std::string::npos) << probeReport(run.output);
    EXPECT_NE(run.output.find("probe: console: ok 2 (serial)"), std::string::npos) << probeReport(run.output);
  }
}

TEST(QemuBoot, BootFailedIsExitStatusTwo) {
  Handheld handheld({"Compaq iPAQ H3600", "sequential", Kernel::Gzip, false, false});
  ASSERT_TRUE(handheld.ready());
  CommandResult run = handheld.boot({"--run", "qemu", "--kernel", "absent.gz"});
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("[BOOT FAILED] Can't open kernel image."), std::string::npos) << run.output;
}

}  // namespace
}  // namespace kestrel::e2e
