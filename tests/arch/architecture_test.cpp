// The architectures on the simulated handheld: the system probe, the register dump, the
// banks and D-cache size of each family, the 2nd bootloader's page and the jump.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arch/arm/blobs.h"
#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "common/processor_family.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "platform/bytes.h"
#include "platform/message_box.h"
#include "platform/processor.h"
#include "platform/virtual_memory.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

// Keeps every line printed, as the console formats it.
class CapturingConsole : public Console {
 public:
  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override {
    std::size_t n = formatIntoBuffer(format, args, count);
    text.append(buffer(), n);
  }
  std::u16string text;
};

// A memory manager whose init hook answers as told and whose pages are host memory at
// made-up physical addresses.
class ScriptedMemoryManager final : public MemoryManager {
 public:
  ScriptedMemoryManager(ConsoleSlot console, std::uint32_t pageSize) : MemoryManager(console, pageSize) {}
  std::uint32_t virtualToPhysical(std::uintptr_t) override { return NoPhysical; }
  bool init() override { return initResult; }
  bool initResult = true;
};

std::unique_ptr<Architecture> makeArchitecture(bool pxa, ConsoleSlot console, MemoryManagerSlot mm) {
  if (pxa) return std::make_unique<PXA2x0Architecture>(console, mm);
  return std::make_unique<SA11x0Architecture>(console, mm);
}

class ArchitectureTest : public ::testing::Test {
 protected:
  // A handheld whose region gets frames in ascending order, so page addresses are known.
  void useHandheld(const std::string& platform, const std::string& extraIni = "") {
    HandheldOptions options;
    options.platform = platform;
    options.extraIni = "page_order = sequential\n" + extraIni;
    handheld_.reset();  // the old one uninstalls whatever machine is current
    handheld_ = std::make_unique<TempHandheld>(options);
  }
  // The real memory manager with a region of `pages` pages.
  void reserve(int pages) {
    mm_ = std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &consolePtr_, 4096, 0);
    ASSERT_TRUE(mm_->reservePages(static_cast<std::uint32_t>(pages) * 4096));
    ASSERT_EQ(mm_->mappedCount(), pages);
    console_.text.clear();
  }
  void TearDown() override {
    arch_.reset();
    mm_.reset();
    ce::setMessageBoxHook(nullptr);
  }

  CapturingConsole console_;
  Console* consolePtr_ = &console_;
  std::unique_ptr<MemoryManager> mm_;
  MemoryManager* mmSlot_ = nullptr;
  std::unique_ptr<Architecture> arch_;
  std::unique_ptr<TempHandheld> handheld_;
};

TEST_F(ArchitectureTest, ConstructorsNameTheArchitectureAndTheFamily) {
  useHandheld("Compaq iPAQ H3600");
  SA11x0Architecture sa(&consolePtr_, &mmSlot_);
  PXA2x0Architecture pxa(&consolePtr_, &mmSlot_);
  EXPECT_EQ(console_.text, u"ARM architecture.\nSA-11x0 CPU.\nARM architecture.\nPXA-2x0 CPU.\n");
  EXPECT_EQ(sa.secondBootloaderAddress(), 0u);
}

TEST_F(ArchitectureTest, InitRegistersTheFamilysBanksAndDCacheSize) {
  struct Case {
    bool pxa;
    const char16_t* lines;
    std::uint32_t dcache;
  } cases[] = {
      {false,
       u"[0] 0xc0000000 size 0x08000000\n[1] 0xc8000000 size 0x08000000\n"
       u"[2] 0xd0000000 size 0x08000000\n[3] 0xd8000000 size 0x08000000\nD-cache size = 8192\n",
       8192},
      {true,
       u"[0] 0xa0000000 size 0x04000000\n[1] 0xa4000000 size 0x04000000\n"
       u"[2] 0xa8000000 size 0x04000000\n[3] 0xac000000 size 0x04000000\nD-cache size = 65536\n",
       65536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pxa ? "PXA-2x0" : "SA-11x0");
    useHandheld(c.pxa ? "Compaq iPAQ H3900" : "Compaq iPAQ H3600");
    ScriptedMemoryManager mm(&consolePtr_, 4096);
    mmSlot_ = &mm;
    auto arch = makeArchitecture(c.pxa, &consolePtr_, &mmSlot_);
    console_.text.clear();
    EXPECT_TRUE(arch->init());
    EXPECT_EQ(console_.text, c.lines);
    EXPECT_EQ(mm.bankCount(), 4);
    EXPECT_EQ(static_cast<ArmArchitecture&>(*arch).dCacheSize(), c.dcache);

    // A memory manager that cannot start stops init before any bank.
    ScriptedMemoryManager failing(&consolePtr_, 4096);
    failing.initResult = false;
    mmSlot_ = &failing;
    console_.text.clear();
    EXPECT_FALSE(arch->init());
    EXPECT_EQ(console_.text, u"can't initialize memory manager.\n");
    EXPECT_EQ(failing.bankCount(), 0);
  }
}

TEST(ProcessorFamily, IsReadFromTheMainIdRegister) {
  const struct {
    std::uint32_t id;
    std::optional<ProcessorFamily> family;
  } cases[] = {
      {0x4401A118, ProcessorFamily::SA11x0},  // SA-1100
      {0x6901B119, ProcessorFamily::SA11x0},  // SA-1110
      {0x69052100, ProcessorFamily::PXA2x0},  // PXA250
      {0x69052D06, ProcessorFamily::PXA2x0},  // PXA255
      {0x69054117, ProcessorFamily::PXA2x0},  // PXA270
      {0x41129200, std::nullopt},              // ARM920T
      {0x69056000, std::nullopt},              // a later XScale generation
      {0x6901C119, std::nullopt},              // a StrongARM part that is neither
      {0x00000000, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(processorFamilyOf(c.id), c.family) << std::hex << c.id;
}

TEST_F(ArchitectureTest, InitRefusesAProcessorOfTheOtherFamilyBeforeAnyBank) {
  const struct {
    const char* handheld;
    bool pxa;
    const char16_t* line;
  } cases[] = {
      {"Compaq iPAQ H3600", true, u"the platform is PXA-2x0, but the processor (id 0x6901b119) is SA-11x0.\n"},
      {"HP Jornada 820", true, u"the platform is PXA-2x0, but the processor (id 0x4401a118) is SA-11x0.\n"},
      {"Compaq iPAQ H3900", false, u"the platform is SA-11x0, but the processor (id 0x69052100) is PXA-2x0.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.handheld);
    useHandheld(c.handheld);
    ScriptedMemoryManager mm(&consolePtr_, 4096);
    mmSlot_ = &mm;
    auto arch = makeArchitecture(c.pxa, &consolePtr_, &mmSlot_);
    console_.text.clear();
    EXPECT_FALSE(arch->init());
    EXPECT_EQ(console_.text, c.line);
    EXPECT_EQ(mm.bankCount(), 0);
  }
}

// The system probe's dump on a Windows CE 2.11 handheld with a 640x480 8-bit screen, with
// coredll's GetVersionEx and with only the platform's GetVersionExW.
TEST_F(ArchitectureTest, SystemInfoDumpsVersionSystemInformationScreenAndRegisters) {
  for (bool exported : {true, false}) {
    SCOPED_TRACE(exported ? "GetVersionEx exported" : "GetVersionExW only");
    useHandheld("HP Jornada 820", exported ? "" : "get_version_ex = 0\n");
    osVersion = ce::OSVERSIONINFOW{};
    SA11x0Architecture arch(&consolePtr_, &mmSlot_);
    console_.text.clear();
    arch.systemInfo();
    std::u16string expected = std::u16string(u"_WIN32_WCE = 211\n") + (exported ? u"GetVersionEx\n" : u"GetVersionExW\n") +
                              u"Windows CE 2.11\n"
                              u"GetSystemInfo:\n"
                              u"wProcessorArchitecture      0x5\n"
                              u"wProcessorLevel             0x4\n"
                              u"wProcessorRevision          0x8\n"
                              u"dwPageSize                  0x1000\n"
                              u"dwAllocationGranularity     0x00010000\n"
                              u"dwProcessorType             0xa11\n"
                              u"Display: 640x480 8bpp\n"
                              u"Reg0 :4401a118\n"
                              u"Reg1 :0000317d\n"
                              u"Reg2 :c0010000\n"
                              u"Reg3 :00000001\n"
                              u"Reg5 :00000007\n"
                              u"Reg6 :0005f2a4\n"
                              u"Reg13:04000000\n"
                              u"Reg14:00000000\n"
                              // Read with interrupts masked in System mode.
                              u"CPSR :000000df\n";
    EXPECT_EQ(console_.text, expected);
    EXPECT_EQ(osVersion.dwMajorVersion, 2u);
    EXPECT_EQ(osVersion.dwMinorVersion, 11u);
    // Back in User mode with interrupts enabled, as before the dump.
    EXPECT_FALSE(handheld::processor().kernelMode);
    EXPECT_EQ(ce::ReadCPSR(), 0x10u);
  }
}

TEST_F(ArchitectureTest, ThePxaDumpShowsItsOwnIdentificationAndTheScreenWhateverThePlatform) {
  useHandheld("Sharp W-ZERO3 (WS003SH)");
  PXA2x0Architecture arch(&consolePtr_, &mmSlot_);
  console_.text.clear();
  arch.systemInfo();
  EXPECT_NE(console_.text.find(u"Windows CE 5.0\n"), std::u16string::npos) << std::string(console_.text.begin(), console_.text.end());
  EXPECT_NE(console_.text.find(u"Display: 480x640 16bpp\nReg0 :69054117\n"), std::u16string::npos);
}

TEST_F(ArchitectureTest, AKernelModeThatDoesNotTakeIsReportedAndTheDumpGoesOn) {
  useHandheld("Compaq iPAQ H3600");
  handheld_->faults().kernelModeFails = true;
  SA11x0Architecture arch(&consolePtr_, &mmSlot_);
  console_.text.clear();
  arch.systemInfo();
  // In User mode the mask does not take either: the CPSR shows both.
  EXPECT_NE(console_.text.find(u"Display: 240x320 16bpp\ncan't change to System mode\nReg0 :6901b119\n"),
            std::u16string::npos);
  EXPECT_NE(console_.text.find(u"CPSR :00000010\n"), std::u16string::npos);
}

TEST_F(ArchitectureTest, WithoutCoredllEachLookUpWarnsOnceAndTheDumpFallsBack) {
  useHandheld("Compaq iPAQ H3600", "coredll = 0\n");
  std::vector<std::u16string> boxes;
  ce::setMessageBoxHook([&](ce::HWND, const ce::WCHAR* text, const ce::WCHAR* caption, ce::UINT type) {
    boxes.push_back(std::u16string(caption) + u": " + text + u" " + (type == 0x30 ? u"0x30" : u"?"));
    return ce::IdOk;
  });
  SA11x0Architecture arch(&consolePtr_, &mmSlot_);
  EXPECT_EQ(arch.coreFunction(u"LockPages"), nullptr);
  EXPECT_EQ(arch.coreFunction(u"UnlockPages"), nullptr);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"WARNING: Can't load coredll.dll. 0x30",
                                                 u"WARNING: Can't load coredll.dll. 0x30"}));
  console_.text.clear();
  arch.systemInfo();
  EXPECT_EQ(boxes.size(), 3u);
  EXPECT_NE(console_.text.find(u"_WIN32_WCE = 211\nGetVersionExW\nWindows CE 3.0\n"), std::u16string::npos);
}

TEST_F(ArchitectureTest, CoreFunctionFindsExportsAndAnswersNullForOthers) {
  useHandheld("Compaq iPAQ H3600");
  SA11x0Architecture arch(&consolePtr_, &mmSlot_);
  EXPECT_NE(arch.coreFunction(u"LockPages"), nullptr);
  EXPECT_NE(arch.coreFunction(u"UnlockPages"), nullptr);
  EXPECT_EQ(arch.coreFunction(u"NoSuchFunction"), nullptr);
}

TEST_F(ArchitectureTest, SetupLoaderCopiesTheFamilysBlobIntoTheTopPage) {
  for (bool pxa : {false, true}) {
    SCOPED_TRACE(pxa ? "PXA-2x0" : "SA-11x0");
    useHandheld(pxa ? "Compaq iPAQ H3900" : "Compaq iPAQ H3600");
    reserve(4);
    mmSlot_ = mm_.get();
    arch_ = makeArchitecture(pxa, &consolePtr_, &mmSlot_);
    const TranslationEntry top = mm_->translationTable()[3];
    console_.text.clear();
    ASSERT_TRUE(arch_->setupLoader());
    EXPECT_EQ(arch_->secondBootloaderAddress(), top.physicalAddress);
    char16_t line[80];
    ce::format(line, 80, u"2nd bootloader vaddr=0x%08x paddr=0x%08x\n", top.virtualAddress, top.physicalAddress);
    EXPECT_EQ(console_.text, std::u16string(line) + u"2nd bootloader copy done.\n");
    EXPECT_EQ(mm_->mappedCount(), 3);

    // The bytes are the assembled routine's, and they are in the frame behind the page.
    const unsigned char* blob = pxa ? arm::secondBootloaderPxa2x0 : arm::secondBootloaderSa11x0;
    std::size_t size = pxa ? arm::secondBootloaderPxa2x0Size : arm::secondBootloaderSa11x0Size;
    std::vector<unsigned char> frame(size);
    ASSERT_TRUE(handheld::physicalMemory().read(top.physicalAddress, frame.data(), static_cast<std::uint32_t>(size)));
    EXPECT_EQ(0, std::memcmp(frame.data(), blob, size));
    arch_.reset();
    mm_.reset();
  }
}

TEST_F(ArchitectureTest, SetupLoaderRefusesABlobLargerThanThePageAndAMissingPage) {
  useHandheld("Compaq iPAQ H3600");
  // A page smaller than the routine: refused before a page is asked for.
  ScriptedMemoryManager small(&consolePtr_, 128);
  mmSlot_ = &small;
  SA11x0Architecture arch(&consolePtr_, &mmSlot_);
  console_.text.clear();
  EXPECT_FALSE(arch.setupLoader());
  char16_t line[100];
  ce::format(line, 100, u"2nd bootloader size(%dbyte) is larger than page size(%d).\n", arm::secondBootloaderSa11x0Size, 128);
  EXPECT_EQ(console_.text, line);
  ASSERT_GT(arm::secondBootloaderSa11x0Size, 128u);

  // Pages big enough, but none left.
  ScriptedMemoryManager empty(&consolePtr_, 4096);
  mmSlot_ = &empty;
  console_.text.clear();
  EXPECT_FALSE(arch.setupLoader());
  EXPECT_EQ(console_.text, u"can't get page for 2nd loader.\n");
  EXPECT_EQ(arch.secondBootloaderAddress(), 0u);
}

TEST_F(ArchitectureTest, JumpTakesTheStackPageCleansTheCacheAndHandsOverTheFourRegisters) {
  for (bool pxa : {false, true}) {
    SCOPED_TRACE(pxa ? "PXA-2x0" : "SA-11x0");
    useHandheld(pxa ? "Compaq iPAQ H3900" : "Compaq iPAQ H3600");
    reserve(3);
    mmSlot_ = mm_.get();
    arch_ = makeArchitecture(pxa, &consolePtr_, &mmSlot_);
    ASSERT_TRUE(arch_->init());
    ASSERT_TRUE(arch_->setupLoader());
    const TranslationEntry stack = mm_->translationTable()[1];
    console_.text.clear();

    arch_->jump(0x12345000, 0x23456010);

    char16_t line[80];
    ce::format(line, 80, u"sp for bootloader = %08x + %08x = %08x\n", stack.physicalAddress, 4096,
               stack.physicalAddress + 4096);
    EXPECT_EQ(console_.text, std::u16string(line) + (pxa ? u"Return from FlatJump_pxa2x0.\n" : u""));
    handheld::ProcessorState& cpu = handheld::processor();
    EXPECT_EQ(cpu.cleanArea, flushArea);
    EXPECT_EQ(cpu.cleanBytes, pxa ? 65536u : 8192u);
    EXPECT_EQ(cpu.cleanLines, cpu.cleanBytes / 32);
    ASSERT_TRUE(cpu.lastJump.has_value());
    const handheld::JumpCapture& jump = *cpu.lastJump;
    EXPECT_EQ(jump.family, pxa ? handheld::Family::PXA2x0 : handheld::Family::SA11x0);
    EXPECT_EQ(jump.r[0], 0x12345000u);
    EXPECT_EQ(jump.r[1], 0x23456010u);
    EXPECT_EQ(jump.r[2], stack.physicalAddress + 4096);
    EXPECT_EQ(jump.r[3], arch_->secondBootloaderAddress());
    // The routine ran in System mode; a PXA-2x0 jump that comes back leaves kernel mode.
    EXPECT_EQ(jump.cpsr & 0x1F, 0x1Fu);
    EXPECT_EQ(cpu.kernelMode, !pxa);
    arch_.reset();
    mm_.reset();
  }
}

TEST_F(ArchitectureTest, JumpWithoutAStackPageReturnsWithoutTouchingTheProcessor) {
  for (bool pxa : {false, true}) {
    SCOPED_TRACE(pxa ? "PXA-2x0" : "SA-11x0");
    useHandheld("Compaq iPAQ H3600");
    reserve(1);
    mmSlot_ = mm_.get();
    arch_ = makeArchitecture(pxa, &consolePtr_, &mmSlot_);
    ASSERT_TRUE(arch_->setupLoader());
    console_.text.clear();
    arch_->jump(0x1000, 0x2000);
    EXPECT_EQ(console_.text, u"");
    handheld::ProcessorState& cpu = handheld::processor();
    EXPECT_EQ(cpu.cleanCount, 0);
    EXPECT_EQ(cpu.jumpCount, 0);
    EXPECT_FALSE(cpu.kernelMode);
    arch_.reset();
    mm_.reset();
  }
}

// The jump captures the whole DRAM, as Windows CE left it, with r0-r3 and the family, and
// hands the image to the front end's runner; in User mode it does nothing at all.
TEST_F(ArchitectureTest, FlatJumpHandsTheWholeMachineToTheRunner) {
  useHandheld("Compaq iPAQ H3600");
  std::filesystem::path seen;
  std::string header, firstFrame;
  std::uintmax_t size = 0;
  handheld::processor().jump.run = [&](const std::filesystem::path& image) {
    seen = image;
    size = std::filesystem::file_size(image);
    std::ifstream in(image, std::ios::binary);
    header.resize(64);
    firstFrame.resize(4 + 4096);
    in.read(header.data(), 64);
    in.read(firstFrame.data(), static_cast<std::streamsize>(firstFrame.size()));
  };

  ce::FlatJump_sa11x0(0xC1000000, 0xC1001000, 0xC1002000, 0xC1003000);
  EXPECT_TRUE(seen.empty()) << "ran in User mode";
  ASSERT_TRUE(handheld::processor().lastJump);
  EXPECT_FALSE(handheld::processor().lastJump->written);

  ce::SetKMode(ce::True);
  ce::FlatJump_sa11x0(0xC1000000, 0xC1001000, 0xC1002000, 0xC1003000);
  ASSERT_FALSE(seen.empty());
  EXPECT_FALSE(std::filesystem::exists(seen)) << "the temporary image is removed after the run";
  // Header, "Compaq iPAQ H3600" and "SA-1110" padded to 64 bytes, then 8192 frames of 32 MiB.
  EXPECT_EQ(size, 64u + 8192u * (4 + 4096));
  const auto* h = reinterpret_cast<const std::uint8_t*>(header.data());
  EXPECT_EQ(ce::getLe32(h), 0x464F484Bu);
  EXPECT_EQ(ce::getLe32(h + 8), 0u);  // SA-11x0
  EXPECT_EQ(ce::getLe32(h + 12), 0xC1000000u);
  EXPECT_EQ(ce::getLe32(h + 24), 0xC1003000u);
  EXPECT_EQ(header.substr(40, 24), std::string("Compaq iPAQ H3600SA-1110") );
  // The first frame is Windows CE's: it holds what the system left there, not zeros.
  const auto* f = reinterpret_cast<const std::uint8_t*>(firstFrame.data());
  EXPECT_EQ(ce::getLe32(f), 0xC0000000u);
  EXPECT_NE(std::string(firstFrame, 4), std::string(4096, '\0'));
  // IRQ and FIQ masked from the jump on.
  EXPECT_EQ(ce::ReadCPSR(), 0xDFu);
}

}  // namespace
}  // namespace kestrel
