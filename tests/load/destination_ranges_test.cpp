// The loader's destination ranges, known before any page is taken: exactly where the chain
// built afterwards copies and clears, so the memory manager can keep its pages out of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "boot/settings.h"
#include "load/elf_loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"
#include "platform/message_box.h"
#include "tests/kernel/probe_paths.h"
#include "tests/load/load_test_support.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using load_test::Bytes;

struct Case {
  const char* name;
  const char* kernel;
  bool symbols;
};

class DestinationRangesTest : public ::testing::TestWithParam<Case> {
 protected:
  DestinationRangesTest() {
    ce::setMessageBoxHook([](ce::HWND, const ce::WCHAR*, const ce::WCHAR*, ce::UINT) { return ce::IdOk; });
  }
  ~DestinationRangesTest() override {
    ce::setMessageBoxHook(nullptr);
    releaseSettings();
  }
  kestrel_testing::TempHandheld handheld_;
  load_test::CaptureConsole console_;
  Console* consolePointer_ = &console_;
};

TEST_P(DestinationRangesTest, CoverExactlyWhatTheChainWrites) {
  const Case& c = GetParam();
  Bytes bytes = load_test::readBytes(c.kernel);
  if (!c.symbols) {
    // Renamed in the section-name table (the file's last mention of it), the symbol table is
    // no longer found: the kernel goes without ksyms.
    const std::string name(std::string("\0.symtab\0", 9));
    auto at = std::find_end(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, bytes.end());
    at[2] = 'x';
  }
  auto file = std::make_unique<load_test::MemoryFile>(&consolePointer_, bytes);
  FileManager* filePointer = file.get();
  auto memory = std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &consolePointer_,
                                                         4096, 0);
  MemoryManager* memoryPointer = memory.get();
  ElfLoader loader(&consolePointer_, &memoryPointer);
  EXPECT_TRUE(loader.destinationRanges().empty());  // nothing known before setFile

  ASSERT_TRUE(loader.setFile(&filePointer));
  const std::uint32_t size = loader.memorySize();
  const std::vector<AddressRange> ranges = loader.destinationRanges();
  ASSERT_TRUE(memory->reservePages(size));
  ASSERT_TRUE(loader.load());
  loader.finishChain();
  EXPECT_EQ(loader.destinationRanges().size(), ranges.size());

  std::uint32_t loadable = 0;
  const std::uint32_t phoff = ce::getLe32(&bytes[28]);
  for (std::uint32_t i = 0; i < ce::getLe16(&bytes[44]); ++i) loadable += ce::getLe32(&bytes[phoff + 32 * i]) == 1;
  EXPECT_EQ(ranges.size(), loadable + (c.symbols ? 1 : 0));

  const std::vector<load_test::Link> links = load_test::walkChain(loader.firstLinkAddress());
  const load_test::Replay replay(links);
  for (const AddressRange& r : ranges) EXPECT_TRUE(replay.covered(r.start, r.length)) << std::hex << r.start;
  for (const load_test::Link& l : links) {
    bool within = std::any_of(ranges.begin(), ranges.end(), [&](const AddressRange& r) {
      return l.destination >= r.start && std::uint64_t{l.destination} + l.length <= std::uint64_t{r.start} + r.length;
    });
    EXPECT_TRUE(within) << std::hex << l.destination << "+" << l.length;
  }
  // The last range ends where the chain ends: an image goes behind it.
  EXPECT_EQ(ranges.back().start + ranges.back().length, loader.end());
}

INSTANTIATE_TEST_SUITE_P(Probe, DestinationRangesTest,
                         ::testing::Values(Case{"Sa11x0", testing::probeKernelSa11x0, true},
                                           Case{"Pxa2x0", testing::probeKernelPxa2x0, true},
                                           Case{"WithoutSymbols", testing::probeKernelSa11x0, false}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel
