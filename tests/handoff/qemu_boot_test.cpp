// The whole hand-off in QEMU: the probe kernel read through the boot's own file manager (plain
// and gzip), loaded by the ELF loader into a chain over the handheld's pages, the 2nd
// bootloader placed by setupLoader, a BootArgs page, and the jump, whose image QEMU boots on
// the board for the processor. The probe reports on the board's UART and exits 0 only when
// everything it received holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "file/gzip_file_manager.h"
#include "handoff/image.h"
#include "handoff/qemu_image.h"
#include "load/elf_loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "tests/kernel/probe_paths.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

class QuietConsole : public Console {
 public:
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override {
    text.append(buffer(), formatIntoBuffer(format, args, count));
  }
  std::u16string text;
};

std::string readAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The page the kernel's arguments come in, as the probe expects it: entry, argc, argv and
// BootInfo addresses, BootInfo at 16, the vector at 52, the strings from 116.
std::uint32_t fillBootArgs(MemoryManager& mm, std::uint32_t entry, std::uint32_t cpu, std::uint32_t machine) {
  std::uintptr_t v = 0;
  std::uint32_t p = 0;
  if (!mm.getTopPage(v, p)) return 0;
  auto* page = reinterpret_cast<std::uint8_t*>(v);
  const char name[] = "corvid";
  std::memcpy(page + 116, name, sizeof name);
  ce::putLe32(page + 0, entry);
  ce::putLe32(page + 4, 1);
  ce::putLe32(page + 8, p + 52);
  ce::putLe32(page + 12, p + 16);
  std::memset(page + 16, 0, 36);
  ce::putLe16(page + 16, 36);
  ce::putLe32(page + 20, 0x13536135);
  ce::putLe16(page + 36, 1);  // LCD console
  ce::putLe32(page + 40, cpu);
  ce::putLe32(page + 44, machine);
  ce::putLe32(page + 52, p + 116);
  return p;
}

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
  bool pxa = profile.family == handheld::Family::PXA2x0;

  std::string elf = readAll(pxa ? testing::probeKernelPxa2x0 : testing::probeKernelSa11x0);
  ASSERT_GT(elf.size(), 1000000u);
  if (c.gzip) {
    std::filesystem::path plain = hh.dir() / "probe.elf";
    std::ofstream(plain, std::ios::binary) << elf;
    std::string command = "gzip -9 -c '" + plain.string() + "' > '" + hh.hostPath(u"\\Storage Card\\corvid").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  } else {
    hh.writeFile(u"\\Storage Card\\corvid", elf);
  }

  QuietConsole console;
  Console* consolePtr = &console;
  std::unique_ptr<MemoryManager> mm =
      std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &consolePtr, 4096, 0);
  MemoryManager* mmPtr = mm.get();
  std::unique_ptr<Architecture> arch;
  if (pxa)
    arch = std::make_unique<PXA2x0Architecture>(&consolePtr, &mmPtr);
  else
    arch = std::make_unique<SA11x0Architecture>(&consolePtr, &mmPtr);
  ASSERT_TRUE(arch->init());

  std::unique_ptr<FileManager> files = std::make_unique<GzipFileManager>(&consolePtr, 0);
  FileManager* filesPtr = files.get();
  ASSERT_TRUE(files->setRoot(u"\\Storage Card\\"));
  ASSERT_TRUE(files->open(u"corvid"));
  ElfLoader loader(&consolePtr, &mmPtr);
  ASSERT_TRUE(loader.setFile(&filesPtr)) << std::string(console.text.begin(), console.text.end());
  std::uint32_t need = loader.memorySize();
  // Where the family's 2nd bootloader will write, as physical ranges.
  std::vector<AddressRange> ranges = loader.destinationRanges();
  for (AddressRange& r : ranges)
    if (pxa) r.start = 0xA0000000u | (r.start & 0x00FFFFFFu);
  mm->setAside(ranges);
  // Four pages beyond the loader's need: 2nd bootloader, boot arguments, stack, one spare.
  ASSERT_TRUE(mm->reservePages(need + 4 * 4096));
  ASSERT_GT(mm->setAsidePages(), 0u);
  ASSERT_TRUE(arch->setupLoader());
  ASSERT_TRUE(loader.load());
  loader.finishChain();
  files->close();
  std::uint32_t args = fillBootArgs(*mm, loader.entryAddress(), profile.cpu, profile.machine);
  ASSERT_NE(args, 0u);

  std::filesystem::path imageFile = hh.dir() / "handoff.img";
  handheld::processor().jump.saveTo = imageFile;
  arch->jump(args, loader.firstLinkAddress());
  ASSERT_TRUE(handheld::processor().lastJump && handheld::processor().lastJump->written)
      << handheld::processor().lastJump->error;

  handoff::HandoffImage image;
  std::string error;
  ASSERT_TRUE(handoff::readImage(imageFile, image, error)) << error;
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
