// The whole hand-off in QEMU: the probe kernel read through the boot's own file manager (plain
// and gzip), loaded by the ELF loader into a chain over the handheld's pages, the 2nd
// bootloader placed by setupLoader, a BootArgs page, and the jump, whose image QEMU boots on
// the board for the processor. The probe reports on the board's UART and exits 0 only when
// everything it received holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "file/sources.h"
#include "handoff/image.h"
#include "handoff/qemu_image.h"
#include "load/elf_loader.h"
#include "platform/handheld/physical_memory.h"
#include "tests/handoff/probe_boot.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/host_files.h"

namespace kestrel {
namespace {

using handoff::testing::ProbeBoot;
using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

struct BootCase {
  const char* platform;
  const char* board;
  bool gzip;
};

class QemuBoot : public ::testing::TestWithParam<BootCase> {};

TEST_P(QemuBoot, TheProbeKernelBootsAndPassesEveryCheck) {
  const BootCase& c = GetParam();
  if (!handoff::qemuAvailable()) GTEST_SKIP() << "qemu-system-arm is not installed";
  HandheldOptions options;
  options.platform = c.platform;
  // Frames in ascending order: the first free ones lie where the kernel goes, so only the
  // pages set aside under the kernel keep the walk from reading what it has just written.
  options.extraIni = "page_order = sequential\ncom1 = none\n";
  TempHandheld hh(options);
  const handheld::Profile& profile = hh.machine().config().profile;

  const kestrel_testing::Bytes elf = handoff::testing::probeKernel(profile.family);
  ASSERT_GT(elf.size(), 1000000u);
  if (c.gzip) {
    std::filesystem::path plain = hh.dir() / "probe.elf";
    kestrel_testing::writeBytes(plain, elf);
    std::string command = "gzip -9 -c '" + plain.string() + "' > '" + hh.hostPath(u"\\Storage Card\\corvid").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  } else {
    hh.writeFile(u"\\Storage Card\\corvid", elf);
  }

  ProbeBoot parts(profile);
  ASSERT_TRUE(parts.arch->init());

  std::unique_ptr<FileManager> files = std::make_unique<GzipFileManager>(&parts.consolePtr, makeSource(&parts.consolePtr, SourceType::Fat));
  FileManager* filesPtr = files.get();
  ASSERT_TRUE(files->setRoot(u"\\Storage Card\\"));
  ASSERT_TRUE(files->open(u"corvid"));
  ElfLoader loader(&parts.consolePtr, &parts.mmPtr);
  loader.setDestinationMap(parts.arch.get());  // as the boot object gives it
  ASSERT_TRUE(loader.setFile(&filesPtr)) << std::string(parts.console.text.begin(), parts.console.text.end());
  std::uint32_t need = loader.memorySize();
  parts.setAside(loader.destinationRanges());
  // Four pages beyond the loader's need: 2nd bootloader, boot arguments, stack, one spare.
  ASSERT_TRUE(parts.mm->reservePages(need + 4 * 4096));
  ASSERT_GT(parts.mm->setAsidePages(), 0u);
  ASSERT_TRUE(parts.arch->setupLoader());
  ASSERT_TRUE(loader.load());
  loader.finishChain();
  files->close();
  std::uint32_t args =
      handoff::testing::fillBootArgs(*parts.mm, loader.entryAddress(), profile, LcdConsoleKind, {"corvid"});
  ASSERT_NE(args, 0u);

  handoff::HandoffImage image;
  std::string error;
  ASSERT_TRUE(parts.jump(args, loader.firstLinkAddress(), hh.dir() / "handoff.img", image, error)) << error;
  EXPECT_EQ(image.memory.frameCount(), handheld::physicalMemory().frameCount());
  handoff::ImageRun run;
  std::string uart;
  run.options.timeoutSeconds = 60;
  run.options.output = [&](std::string_view text) { uart += text; };
  run.workDir = hh.dir() / "qemu";
  handoff::QemuResult result = handoff::runImageInQemu(image, run);
  EXPECT_EQ(result.status, handoff::QemuResult::Status::Exited) << result.error;
  EXPECT_EQ(result.exitStatus, 0) << uart;
  EXPECT_NE(uart.find("probe: all checks passed\n"), std::string::npos) << uart;
  EXPECT_NE(uart.find("probe: argv[0] = \"corvid\""), std::string::npos) << uart;
}

INSTANTIATE_TEST_SUITE_P(Boards, QemuBoot,
                         ::testing::Values(BootCase{"Compaq iPAQ H3600", "collie", false},
                                           BootCase{"Compaq iPAQ H3600", "collie", true},
                                           BootCase{"Compaq iPAQ H3900", "tosa", false},
                                           BootCase{"Compaq iPAQ H3900", "tosa", true},
                                           BootCase{"Sharp W-ZERO3 (WS003SH)", "akita", false},
                                           BootCase{"Sharp W-ZERO3 (WS003SH)", "akita", true}),
                         [](const auto& info) {
                           return std::string(info.param.board) + (info.param.gzip ? "Gzip" : "Plain");
                         });

}  // namespace
}  // namespace kestrel
