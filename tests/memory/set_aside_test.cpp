// Pages set aside: the memory manager hands out no page whose frame lies in a range it was
// told to keep clear (where the kernel will be copied to), and commits further regions while
// too few usable pages remain. Shown on the hostile page order, which gives out the frames
// under the kernel first.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "memory/lock_pages_memory_manager.h"
#include "platform/handheld/physical_memory.h"
#include "tests/support/capture_console.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel::memory_test {
namespace {

using kestrel_testing::CaptureConsole;

constexpr std::uint32_t KernelBase = 0xC0200000;  // 2 MiB into the first bank

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

bool inside(std::uint32_t page, const std::vector<AddressRange>& ranges) {
  for (const AddressRange& r : ranges) {
    if (std::uint64_t{page} + 4096 > r.start && page < std::uint64_t{r.start} + r.length) return true;
  }
  return false;
}

class SetAsideTest : public ::testing::Test {
 protected:
  SetAsideTest() : handheld_({"Compaq iPAQ H3600", {"Storage Card"}, true, "page_order = hostile"}) {}

  std::unique_ptr<MemoryManager> manager() {
    return std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &slot_, 4096, 0);
  }

  kestrel_testing::TempHandheld handheld_;
  CaptureConsole console_;
  Console* slot_ = &console_;
};

TEST_F(SetAsideTest, PagesUnderTheKernelAreKeptBackAndMadeUpFor) {
  const std::vector<AddressRange> kernel{{KernelBase, 0x80000}, {KernelBase + 0x90000, 0x1000}};
  std::size_t freeBefore = handheld::physicalMemory().freeFrameCount();
  {
    auto memory = manager();
    memory->setAside(kernel);
    ASSERT_TRUE(memory->reservePages(100 * 4096));
    // The request stays the one asked for; what was kept back is made up for by more regions.
    EXPECT_EQ(memory->tableEntries(), 100u);
    ASSERT_EQ(memory->mappedCount(), 100);
    // The first region lies wholly in the first range, less the frames Windows CE keeps.
    EXPECT_GT(memory->setAsidePages(), 80u);
    EXPECT_LE(memory->setAsidePages(), 0x81u);
    std::u16string text = console_.take();
    EXPECT_NE(text.find(u"address translation table 100 pages. (0x320 bytes)\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"allocated 100 page. mapped 100 page.\nset aside " +
                        widen(std::to_string(memory->setAsidePages())) + u" pages under the kernel.\n"),
              std::u16string::npos);
    for (int i = 0; i < memory->mappedCount(); ++i) {
      EXPECT_FALSE(inside(memory->translationTable()[i].physicalAddress, kernel)) << i;
    }
    // Every way out of the table honours it.
    std::uintptr_t v, lv;
    std::uint32_t p, lp;
    ASSERT_TRUE(memory->getTopPage(v, p));
    EXPECT_FALSE(inside(p, kernel));
    ASSERT_TRUE(memory->getLinkPage(v, p, lv, lp));
    EXPECT_FALSE(inside(lp, kernel));
  }
  // Every region, the further ones too, went back.
  EXPECT_EQ(handheld::physicalMemory().freeFrameCount(), freeBefore);
}

TEST_F(SetAsideTest, NothingUnderTheKernelNothingKeptBack) {
  auto memory = manager();
  memory->setAside({{0xC1F00000, 0x1000}});
  ASSERT_TRUE(memory->reservePages(16 * 4096));
  EXPECT_EQ(memory->mappedCount(), 16);
  EXPECT_EQ(memory->setAsidePages(), 0u);
  EXPECT_NE(console_.take().find(u"allocated 16 page. mapped 16 page.\nset aside 0 pages under the kernel.\n"),
            std::u16string::npos);
}

TEST_F(SetAsideTest, WithoutRangesTheTableIsTheRegion) {
  auto memory = manager();
  ASSERT_TRUE(memory->reservePages(16 * 4096));
  EXPECT_EQ(console_.take().find(u"set aside"), std::u16string::npos);
  // The hostile order put these pages under the kernel; nobody asked to avoid them.
  EXPECT_TRUE(inside(memory->translationTable()[0].physicalAddress, {{KernelBase, 0x100000}}));
}

TEST_F(SetAsideTest, PageNotFoundInAFurtherRegionEndsTheGathering) {
  auto memory = manager();
  memory->setAside({{KernelBase, 0x40000}});
  // The first region's 64 pages lie almost all under the kernel; the 70th page locked, in a
  // further region, has no frame.
  handheld_.faults().lockPagesFailAt = 70;
  ASSERT_TRUE(memory->reservePages(64 * 4096));
  EXPECT_LT(memory->mappedCount(), 64);
  EXPECT_EQ(static_cast<std::uint32_t>(memory->mappedCount()) + memory->setAsidePages(), 69u);
  EXPECT_NE(console_.take().find(u"page#69 not found\n"), std::u16string::npos);
}

}  // namespace
}  // namespace kestrel::memory_test
