// The boot sequence on the simulated handheld: every way a boot can fail, each with its one
// "BOOT FAILED" box, the progress back at 0 and no file left open; the memory request; and a
// boot that gets all the way to the jump.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "arch/sa11x0_architecture.h"
#include "boot/boot.h"
#include "boot/boot_sequence.h"
#include "boot/settings.h"
#include "load/loader.h"
#include "memory/memory_manager.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/handheld/heap_check.h"
#include "platform/handheld/processor.h"
#include "tests/boot/boot_fixture.h"
#include "tests/kernel/probe_image.h"
#include "tests/kernel/probe_paths.h"
#include "tests/support/environment.h"
#include "tests/support/gzip_writer.h"

namespace kestrel::testing {
namespace {

using ScopedEnv = kestrel_testing::ScopedEnvironment;

// The inputs of the compressed cases are made by the real gzip, which a program under Wine
// cannot start.
bool gzipToolAvailable() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

constexpr const char16_t* Kernel = u"\\Storage Card\\corvid";
constexpr const char16_t* Image = u"\\Storage Card\\miniroot.fs";

class SequenceTest : public BootTest {
 protected:

  // An iPAQ H3600 booting \Storage Card\corvid (Kernel) without questions.
  void SetUp() override {
    BootTest::SetUp();
    prepareProbeBoot();
  }

  void boot() {
    bootObject();
    front_.console.clear();
    front_.boxes.clear();
    front_.progress = 5;  // whatever an earlier boot left; the sequence must reset it on failure
    settings().runBoot();
  }

  std::vector<Box> failures() const { return front_.boxesCaptioned(u"BOOT FAILED"); }

  // The last "[progress] N" label of the console.
  std::string lastStep() const {
    std::u16string_view c = front_.console;
    std::size_t at = c.rfind(u"[progress] ");
    if (at == std::u16string_view::npos) return "";
    std::size_t end = c.find(u'\n', at);
    return narrow(c.substr(at + 11, end - at - 11));
  }

  // Nobody holds the file: it opens without sharing.
  static bool openableAlone(const char16_t* path) {
    ce::HANDLE h = ce::CreateFileW(path, ce::GenericRead, 0, nullptr, ce::OpenExisting, ce::FileAttributeNormal, nullptr);
    if (h == ce::InvalidHandleValue) return false;
    ce::CloseHandle(h);
    return true;
  }

  bool printed(std::u16string_view line) const { return front_.console.find(line) != std::u16string::npos; }
};

// One way of failing: how it is arranged, the box text, the last step reached, and a line
// the failing component printed first.
struct FailureRow {
  const char* name;
  std::function<void(SequenceTest&, kestrel_testing::TempHandheld&, RecordingFrontEnd&)> arrange;
  const char16_t* text;
  const char* step;
  const char16_t* diagnostic;
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class FailureTest : public SequenceTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FailureTest, OneBoxProgressResetNothingLeftOpen) {
  const FailureRow& row = GetParam();
  row.arrange(*this, handheld_, front_);
  boot();
  ASSERT_EQ(failures().size(), 1u) << narrow(front_.console);
  EXPECT_EQ(failures()[0].text, row.text);
  EXPECT_EQ(failures()[0].style, 0x10u);
  ASSERT_NE(lastBootFailure(), nullptr);
  EXPECT_EQ(std::u16string(lastBootFailure()), row.text);
  EXPECT_EQ(front_.progress, 0);
  EXPECT_EQ(lastStep(), row.step);
  if (row.diagnostic) {
    EXPECT_TRUE(printed(row.diagnostic)) << narrow(front_.console);
  }
  if (handheld_.exists(Kernel)) {
    EXPECT_TRUE(openableAlone(Kernel));
  }
  if (handheld_.exists(Image)) {
    EXPECT_TRUE(openableAlone(Image));
  }
  handheld_.faults() = {};
}

void useImage(SequenceTest&, kestrel_testing::TempHandheld& h, RecordingFrontEnd&) {
  settings().rootDevice = 2;
  setText(settings().fsImagePath, u"miniroot.fs");
  h.writeFile(u"\\Storage Card\\miniroot.fs", makeProbeImage(64 * 1024, 7));
}

// The probe kernel with one word changed: in program header `segment` at `field`, or in the
// ELF header at `field` when `segment` is -1.
std::vector<std::uint8_t> probeWith(int segment, std::uint32_t field, std::uint32_t value) {
  std::vector<std::uint8_t> elf = kestrel_testing::readBytes(probeKernelSa11x0);
  const std::uint32_t at = segment < 0 ? field : ce::getLe32(&elf[28]) + 32 * segment + field;
  ce::putLe32(&elf[at], value);
  return elf;
}

const FailureRow failureRows[] = {
    {"UnsupportedPlatform", [](auto&, auto&, auto&) { settings().platform = {0x0C200000, 0x01040100}; },
     u"Architecture not supported.\n", "0", nullptr},
    {"NoLockPages", [](auto&, auto& h, auto&) { h.reconfigure("lock_pages = 0"); },
     u"Architecture ops. not found.\n", "1", u"couldn't find LockPages/UnlockPages.\n"},
    {"NoCoredll", [](auto&, auto& h, auto&) { h.reconfigure("coredll = 0"); }, u"Architecture ops. not found.\n",
     "1", u"couldn't find LockPages/UnlockPages.\n"},
    {"BadRoot", [](auto&, auto&, auto&) { setText(settings().kernelDirectory, u"2:/"); },
     u"Can't set root directory.\n", "3", nullptr},
    {"MissingImage",
     [](auto&, auto&, auto&) {
       settings().rootDevice = 2;
       setText(settings().fsImagePath, u"miniroot.fs");
     },
     u"Can't open file system image.\n", "3", nullptr},
    {"MissingKernel", [](auto&, auto&, auto&) { setText(settings().kernelFile, u"corvid.absent"); },
     u"Can't open kernel image.\n", "4", nullptr},
    {"NotElf",
     [](auto&, auto& h, auto&) {
       h.writeFile(Kernel, std::string(200, 'k'));
     },
     u"Can't attach loader.\n", "5", u"unknown file format.\n"},
    {"BadElf",
     [](auto&, auto& h, auto&) {
       std::vector<std::uint8_t> elf = kestrel_testing::readBytes(probeKernelSa11x0);
       elf[18] = 3;  // e_machine: 386
       h.writeFile(Kernel, elf);
     },
     u"Can't initialize loader.\n", "5", u"not a native architecture. machine = 3\n"},
    // The processor decides: a platform of the other family would hand over with the wrong
    // routines, banks and UART.
    {"PxaPlatformOnAnSaProcessor", [](auto&, auto&, auto&) { settings().platform = {0x0C204000, 0x01C40301}; },
     u"Architecture initialize failed.\n", "2", u"the platform is PXA-2x0, but the processor (id 0x6901b119) is SA-11x0.\n"},
    // Segments at the ends of memory: refused before any page is taken.
    {"SegmentInIoSpace", [](auto&, auto& h, auto&) { h.writeFile(Kernel, probeWith(0, 12, 0x80000000u)); },
     u"Can't initialize loader.\n", "5", u"segment 0: 0x80000000+"},
    {"EntryInNoSegment", [](auto&, auto& h, auto&) { h.writeFile(Kernel, probeWith(-1, 24, 0xC1000000u)); },
     u"Can't initialize loader.\n", "5", u"entry point 0xc1000000 is in no loaded segment.\n"},
    // 48 MiB of .bss on a 32 MiB handheld: no pages are left outside where the kernel goes.
    {"KernelLargerThanTheHandheld", [](auto&, auto& h, auto&) { h.writeFile(Kernel, probeWith(2, 20, 0x03000000u)); },
     u"Can't allocate memory.\n", "6", u"bytes could be gathered outside the kernel's destination.\n"},
    {"NoRegion", [](auto&, auto& h, auto&) { h.faults().virtualAllocFails = true; }, u"Can't allocate memory.\n", "6",
     u"can't allocate memory\n"},
    {"NoPageForSecondStage", [](auto&, auto& h, auto&) { h.faults().lockPagesFailAt = 1; },
     u"Can't set up loader.\n", "7", u"can't get page for 2nd loader.\n"},
    {"OutOfPagesWhileLoading", [](auto&, auto& h, auto&) { h.faults().lockPagesFailAt = 4; },
     u"Can't load kernel image to memory.\n", "8", u"page insufficient.\n"},
    {"ImageGoneAtSecondOpen",
     [](auto& t, auto& h, auto& front) {
       useImage(t, h, front);
       front.onStep = [&h](const char* label) {
         if (std::string(label) == "9") std::filesystem::remove(h.hostPath(Image));
       };
     },
     u"Can't open file system image.\n", "9", nullptr},
    {"NoAtLastChance",
     [](auto&, auto&, auto& front) {
       settings().pauseBeforeBoot = 1;
       front.answers = {ce::IdNo};
     },
     u"Canceled by user.\n", "10", nullptr},
    {"JumpReturns", [](auto&, auto&, auto&) {}, u"Can't jump to the kernel.\n", "10", nullptr},
    {"JumpReturnsWithImage", useImage, u"Can't jump to the kernel.\n", "10", u"[file system image]\n"},
};

INSTANTIATE_TEST_SUITE_P(Rows, FailureTest, ::testing::ValuesIn(failureRows),
                         [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST_F(SequenceTest, StepsInOrderUpToTheJump) {
  settings().pauseBeforeBoot = 1;
  boot();
  std::vector<std::string> steps;
  for (std::size_t at = front_.console.find(u"[progress] "); at != std::u16string::npos;
       at = front_.console.find(u"[progress] ", at + 1)) {
    steps.push_back(narrow(front_.console.substr(at + 11, front_.console.find(u'\n', at) - at - 11)));
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_TRUE(printed(u"[progress] 1\nARM architecture.\nSA-11x0 CPU.\nMemoryManager: LockPages\n"));
  EXPECT_TRUE(printed(u"kestrel build number: 15\nCompaq iPAQ H3600 (cpu=0x0c108000 machine=0x01c40201)\n[progress] 2\n"));
  // The last question comes after step 10 and before the jump.
  std::vector<Box> last = front_.boxesCaptioned(u"Last chance...");
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].text, u"Push YES to boot.");
  EXPECT_EQ(last[0].style, 0x34u);
  // The jump got the argument block and the chain, and the second stage's page.
  const auto& jump = handheld::processor().lastJump;
  ASSERT_TRUE(jump.has_value());
  Architecture* architecture = bootObject()->architecture();
  EXPECT_EQ(jump->r[1], bootObject()->loader()->firstLinkAddress());
  EXPECT_EQ(jump->r[3], architecture->secondBootloaderAddress());
  EXPECT_TRUE(printed(u"console = 1\n"));
}

TEST_F(SequenceTest, CompressedKernelIsLoadedWhole) {
  // The format probe reads the start of the file before the loader measures it.
  if (!gzipToolAvailable()) GTEST_SKIP() << "the gzip tool makes this input; the host build runs it";
  std::filesystem::path kernel = handheld_.hostPath(Kernel);
  ASSERT_EQ(std::system(("gzip -n -9 '" + kernel.string() + "'").c_str()), 0);
  setText(settings().kernelFile, u"corvid.gz");
  boot();
  ASSERT_EQ(failures().size(), 1u) << narrow(front_.console);
  EXPECT_EQ(failures()[0].text, u"Can't jump to the kernel.\n") << narrow(front_.console);
  EXPECT_TRUE(printed(u"ksyms\n"));
}

TEST_F(SequenceTest, MemoryRequestCountsLinksAndFourSparePages) {
  // 245 pages of kernel: 246 chain pages, 250 with the spare ones, 256 in 64 KiB units.
  EXPECT_EQ(bootMemoryRequest(245 * 4096, 4096), 256u * 4096);
  EXPECT_EQ(bootMemoryRequest(0, 4096), 16u * 4096);
  EXPECT_EQ(bootMemoryRequest(4080, 4096), 16u * 4096);
  EXPECT_EQ(bootMemoryRequest(12 * 4080 + 1, 4096), 32u * 4096);  // 13 + 4 pages
  EXPECT_EQ(bootMemoryRequest(0xFFFFF000u, 4096), 0u);            // would not fit 32 bits: nothing
}

TEST_F(SequenceTest, CompressedImageCountsInflated) {
  // An image whose gzip file is a fraction of what it inflates to: 488 pages and one byte.
  if (!gzipToolAvailable()) GTEST_SKIP() << "the gzip tool makes this input; the host build runs it";
  std::vector<std::uint8_t> image(488 * 4096 + 1);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9));
  std::filesystem::path plain = handheld_.hostPath(u"\\Storage Card\\miniroot.fs");
  {
    std::ofstream out(plain, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  std::string command = "gzip -n -9 '" + plain.string() + "' && mv '" + plain.string() + ".gz' '" + plain.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_LT(std::filesystem::file_size(plain), 100u * 4096);

  Settings& s = settings();
  s.rootDevice = 2;
  setText(s.fsImagePath, u"miniroot.fs");
  boot();
  ASSERT_EQ(failures().size(), 1u);
  EXPECT_EQ(failures()[0].text, u"Can't jump to the kernel.\n");
  // The kernel's share of the request, from the loader's own size line.
  std::size_t at = front_.console.find(u" bytes\n");
  std::size_t equals = front_.console.rfind(u" = 0x", at);
  ASSERT_NE(equals, std::u16string::npos);
  std::uint32_t kernel = std::stoul(narrow(front_.console.substr(equals + 5, at - equals - 5)), nullptr, 16);
  kernel = (kernel + 4095) / 4096 * 4096;
  std::uint32_t pages = bootMemoryRequest(kernel + 489 * 4096, 4096) / 4096;
  EXPECT_TRUE(printed(u"address translation table " + widen(std::to_string(pages)) + u" pages."))
      << narrow(front_.console);
}

TEST_F(SequenceTest, ImageIsNotOpenedWithoutMd) {
  setText(settings().fsImagePath, u"absent.fs");
  for (std::int32_t root : {0, 1, 3, 4, 5}) {
    SCOPED_TRACE(root);
    settings().rootDevice = root;
    boot();
    ASSERT_EQ(failures().size(), 1u);
    EXPECT_EQ(failures()[0].text, u"Can't jump to the kernel.\n");
  }
}

TEST_F(SequenceTest, BootAgainAfterNoStartsAtZero) {
  settings().pauseBeforeBoot = 1;
  front_.answers = {ce::IdNo};
  boot();
  ASSERT_EQ(failures().size(), 1u);
  EXPECT_EQ(failures()[0].text, u"Canceled by user.\n");
  boot();
  EXPECT_EQ(front_.console.find(u"[progress] 0\n"), 0u);
  ASSERT_EQ(failures().size(), 1u);
  EXPECT_EQ(failures()[0].text, u"Can't jump to the kernel.\n");
}

TEST_F(SequenceTest, RepeatedAttemptsKeepOneSetOfComponents) {
  settings().pauseBeforeBoot = 1;
  front_.answers = {ce::IdNo, ce::IdNo, ce::IdNo};
  boot();
  std::size_t heapAfterFirst = handheld::heapBlocksInUse();
  boot();
  boot();
  EXPECT_EQ(handheld::heapBlocksInUse(), heapAfterFirst);
  ArmBoot* object = bootObject();
  EXPECT_NE(object->architecture(), nullptr);
  EXPECT_NE(object->memoryManager(), nullptr);
  EXPECT_NE(object->fileManager(), nullptr);
  EXPECT_NE(object->loader(), nullptr);
  EXPECT_EQ(failures().size(), 1u);
}

TEST_F(SequenceTest, ImageOutOfPagesClosesTheImage) {
  // Without the set-aside every LockPages call is one page of the table, so the pages can be
  // counted: a first boot tells how many the kernel takes from the front.
  bootObject()->setSetAsideEnabled(false);
  boot();
  int kernelPages = bootObject()->memoryManager()->nextPage();
  ASSERT_GT(kernelPages, 0);
  useImage(*this, handheld_, front_);
  // One page for the second stage on top, exactly the kernel's below it, none for the image.
  handheld_.faults().lockPagesFailAt = kernelPages + 2;
  boot();
  ASSERT_EQ(failures().size(), 1u) << narrow(front_.console);
  EXPECT_EQ(failures()[0].text, u"Can't load file system image to memory.\n");
  EXPECT_EQ(lastStep(), "9");
  EXPECT_TRUE(printed(u"page insufficient.\n"));
  EXPECT_TRUE(openableAlone(Image));
  EXPECT_EQ(front_.progress, 0);
}

// Every damage a gzip file can carry, as the kernel and as the md image, through whole boots:
// nothing is loaded or jumped to, and the line before the box names the damage.
TEST_F(SequenceTest, DamagedCompressedFilesNeverBoot) {
  const kestrel_testing::Bytes kernel = kestrel_testing::readBytes(probeKernelSa11x0);
  const kestrel_testing::Bytes image = makeProbeImage(64 * 1024, 7);
  const kestrel_testing::GzipHeaderFields fields{"ex\x01z", "corvid", "note", true};
  const std::size_t fullHeader = 10 + 2 + fields.extra.size() + fields.name.size() + 1 + fields.comment.size() + 1 + 2;
  struct Role {
    const char* name;
    const kestrel_testing::Bytes& content;
    const char16_t* path;
    const char16_t* line;
  };
  for (const Role& role : {Role{"kernel", kernel, Kernel, u"kernel file is damaged: it can't be read to its end.\n"},
                           Role{"image", image, Image, u"file system image is damaged: it can't be read to its end.\n"}}) {
    SCOPED_TRACE(role.name);
    std::vector<kestrel_testing::GzipDamage> cases = kestrel_testing::gzipDamages(
        role.content, kestrel_testing::zlibGzip(role.content), kestrel_testing::zlibGzip(role.content, fields), fullHeader);
    cases.push_back({"content byte altered, CRC kept", kestrel_testing::alteredUnderItsCrc(role.content, 100), true});
    for (const kestrel_testing::GzipDamage& c : cases) {
      SCOPED_TRACE(c.what);
      handheld_.writeFile(u"\\Storage Card\\corvid", kernel);
      settings().rootDevice = 0;
      if (role.path == Image) useImage(*this, handheld_, front_);
      handheld_.writeFile(role.path, c.file);
      handheld::processor().lastJump.reset();
      boot();
      ASSERT_EQ(failures().size(), 1u) << narrow(front_.console);
      EXPECT_FALSE(handheld::processor().lastJump.has_value());
      EXPECT_TRUE(printed(role.line)) << narrow(front_.console);
      EXPECT_FALSE(printed(u"unknown file format.\n"));
      if (role.path == Image) {
        EXPECT_EQ(failures()[0].text, u"Can't open file system image.\n");
        EXPECT_EQ(lastStep(), "3");
      } else {
        // Damage in the first bytes leaves no format to tell; damage behind them is met when
        // the loader measures the file.
        EXPECT_TRUE(failures()[0].text == u"Can't initialize loader.\n" || failures()[0].text == u"Can't attach loader.\n")
            << narrow(failures()[0].text);
        EXPECT_EQ(lastStep(), "5");
      }
      EXPECT_TRUE(openableAlone(role.path));
    }
  }
}

// The memory manager's init hook cannot fail on the handheld; a boot object with one that
// does shows what the sequence makes of a failing architecture init.
class RefusingMemory final : public MemoryManager {
 public:
  using MemoryManager::MemoryManager;
  std::uint32_t virtualToPhysical(std::uintptr_t) override { return NoPhysical; }
  bool init() override { return false; }
};

class RefusingInitBoot final : public Boot {
 public:
  bool createComponents() override {
    architecture_.reset(ce::heapNew<SA11x0Architecture>(consoleSlot(), memoryManagerSlot()));
    memoryManager_.reset(ce::heapNew<RefusingMemory>(consoleSlot(), 4096u));
    return Boot::createComponents();
  }
};

TEST_F(SequenceTest, FailingInit) {
  RefusingInitBoot object;
  front_.console.clear();
  front_.progress = 3;
  runBootSequence(object);
  ASSERT_EQ(failures().size(), 1u);
  EXPECT_EQ(failures()[0].text, u"Architecture initialize failed.\n");
  EXPECT_TRUE(printed(u"[progress] 2\ncan't initialize memory manager.\n"));
  EXPECT_EQ(lastStep(), "2");
  EXPECT_EQ(front_.progress, 0);
}

}  // namespace
}  // namespace kestrel::testing
