// `kestrel boot --run unicorn` over many page orders: the real second-stage bytes run in
// unicorn on the machine captured at the jump, and must enter the kernel with memory and
// registers exactly as the reference walk of the chain says; then the probe kernel runs on and
// reports, as it does in QEMU.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace kestrel::e2e {
namespace {

constexpr int UnicornSeeds = KESTREL_UNICORN_SEEDS;

struct SeedCase {
  std::string platform;
  int seed;
};

std::vector<SeedCase> seeds(const std::vector<std::string>& platforms, int count) {
  std::vector<SeedCase> out;
  for (int seed = 1; seed <= count; ++seed) out.push_back({platforms[seed % platforms.size()], seed});
  return out;
}

void PrintTo(const SeedCase& c, std::ostream* os) { *os << c.platform << ", seed " << c.seed; }

class UnicornSeedTest : public ::testing::TestWithParam<SeedCase> {};

TEST_P(UnicornSeedTest, SecondStageMatchesTheWalkAndTheKernelReportsSuccess) {
  const SeedCase& c = GetParam();
  // Kernel form and image vary with the seed, as in the QEMU runs.
  HandheldSetup setup{c.platform, "shuffle:" + std::to_string(c.seed), c.seed % 2 ? Kernel::Gzip : Kernel::Plain,
                    c.seed % 3 == 0, c.seed % 6 == 0};
  Handheld handheld(setup);
  ASSERT_TRUE(handheld.ready());
  CommandResult run = handheld.boot({"--run", "unicorn"});
  EXPECT_EQ(run.status, 0) << probeReport(run.output);
  EXPECT_NE(run.output.find("memory as the reference walk says"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("probe: all checks passed\n"), std::string::npos) << probeReport(run.output);
  EXPECT_NE(run.output.find(setup.image ? "probe: image: ok" : "probe: image: none"), std::string::npos)
      << probeReport(run.output);
}

std::string seedName(const ::testing::TestParamInfo<SeedCase>& info) {
  return "Seed" + std::to_string(info.param.seed);
}

// Seeds per family: KESTREL_UNICORN_SEEDS of the CMake cache (each seed is a handheld, a boot
// and a check of the whole 32 MiB or 64 MiB machine).
INSTANTIATE_TEST_SUITE_P(Sa11x0, UnicornSeedTest,
                         ::testing::ValuesIn(seeds({"Compaq iPAQ H3600", "HP Jornada 720 (US/UK)"}, UnicornSeeds)),
                         seedName);
INSTANTIATE_TEST_SUITE_P(Pxa2x0, UnicornSeedTest,
                         ::testing::ValuesIn(seeds({"PSIONTEKLOGIX NETBOOK PRO", "Sharp W-ZERO3 (WS003SH)"}, UnicornSeeds)),
                         seedName);

TEST(UnicornHostile, BothFamilies) {
  for (const char* platform : {"Compaq iPAQ H3600", "Compaq iPAQ H3900"}) {
    SCOPED_TRACE(platform);
    Handheld handheld({platform, "hostile", Kernel::Gzip, true, true});
    ASSERT_TRUE(handheld.ready());
    CommandResult run = handheld.boot({"--run", "unicorn"});
    EXPECT_EQ(run.status, 0) << probeReport(run.output);
    EXPECT_NE(run.output.find("probe: all checks passed\n"), std::string::npos) << probeReport(run.output);
  }
}

// The kernel's own verdict is the command's: a file-system image damaged on the card reaches
// the kernel as it is, the probe finds the word and exits 1, and so does the boot.
TEST(UnicornKernel, AFailedCheckIsTheExitStatus) {
  Handheld handheld({"Compaq iPAQ H3600", "shuffle:11", Kernel::Plain, true, false});
  ASSERT_TRUE(handheld.ready());
  const std::filesystem::path image = handheld.dir() / "Storage Card" / "miniroot.fs";
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(file.good());
  file.seekp(0x8000);
  file.put('\x5A');
  file.close();
  CommandResult run = handheld.boot({"--run", "unicorn"});
  EXPECT_EQ(run.status, 1) << probeReport(run.output);
  EXPECT_NE(run.output.find("memory as the reference walk says"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("probe: image: FAIL"), std::string::npos) << probeReport(run.output);
  EXPECT_NE(run.output.find("probe: FAILED "), std::string::npos) << probeReport(run.output);
}

}  // namespace
}  // namespace kestrel::e2e
