// MemoryManager and LockPagesMemoryManager on the simulated handheld.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "memory/lock_pages_memory_manager.h"
#include "platform/handheld/physical_memory.h"
#include "platform/virtual_memory.h"
#include "tests/support/capture_console.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using kestrel_testing::CaptureConsole;
using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

constexpr std::uint32_t Page = 4096;

HandheldOptions shuffled() {
  HandheldOptions o;
  o.extraIni = "page_order = shuffle:11\n";
  return o;
}

class MemoryManagerTest : public ::testing::Test {
 protected:
  MemoryManagerTest() : handheld_(shuffled()) {}
  std::unique_ptr<LockPagesMemoryManager> make() {
    auto m = std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, slot_, Page, 0);
    console_.take();
    return m;
  }
  handheld::Faults& faults() { return handheld_.faults(); }

  TempHandheld handheld_;
  CaptureConsole console_;
  Console* consolePointer_ = &console_;
  ConsoleSlot slot_ = &consolePointer_;
};

TEST_F(MemoryManagerTest, ConstructionNamesTheManager) {
  LockPagesMemoryManager m(handheld::lockPages, handheld::unlockPages, slot_, Page, 0);
  EXPECT_EQ(console_.text, u"MemoryManager: LockPages\n");
  EXPECT_EQ(m.pageSize(), Page);
  EXPECT_EQ(m.pageShift(), 12u);
  EXPECT_TRUE(m.init());
}

TEST_F(MemoryManagerTest, ReservingNothingFailsSilentlyAndOneByteGetsOnePageOfA64KiBRegion) {
  auto m = make();
  handheld::PhysicalMemory& memory = handheld::physicalMemory();
  const std::size_t freeBefore = memory.freeFrameCount();
  EXPECT_FALSE(m->reservePages(0));
  EXPECT_EQ(console_.text, u"");

  ASSERT_TRUE(m->reservePages(1));
  EXPECT_EQ(console_.take(), u"address translation table 1 pages. (0x8 bytes)\nallocated 1 page. mapped 1 page.\n");
  EXPECT_EQ(m->tableEntries(), 1u);
  EXPECT_EQ(m->mappedCount(), 1);
  EXPECT_EQ(memory.freeFrameCount(), freeBefore - 16);  // 65536 bytes committed
  EXPECT_EQ(m->translationTable()[0].virtualAddress, reinterpret_cast<std::uintptr_t>(m->regionBase()));

  m.reset();  // the region goes back to the handheld
  EXPECT_EQ(memory.freeFrameCount(), freeBefore);
}

TEST_F(MemoryManagerTest, TableHoldsEveryPagesFrameInVirtualOrder) {
  auto m = make();
  ASSERT_TRUE(m->reservePages(40 * Page - 100));
  EXPECT_EQ(console_.take(), u"address translation table 40 pages. (0x140 bytes)\nallocated 40 page. mapped 40 page.\n");
  const TranslationEntry* t = m->translationTable();
  bool contiguous = true;
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(t[i].virtualAddress, reinterpret_cast<std::uintptr_t>(m->regionBase()) + i * Page);
    std::uint32_t frame = 0;
    ASSERT_TRUE(handheld::physicalMemory().physicalOf(reinterpret_cast<void*>(t[i].virtualAddress), frame));
    EXPECT_EQ(t[i].physicalAddress, frame);
    if (i > 0 && t[i].physicalAddress != t[i - 1].physicalAddress + Page) contiguous = false;
  }
  EXPECT_FALSE(contiguous);  // shuffled frames: nothing may assume physical contiguity
}

TEST_F(MemoryManagerTest, FrontAndTopShareThePagesWithoutOverlap) {
  auto m = make();
  ASSERT_TRUE(m->reservePages(3 * Page));
  console_.take();
  const TranslationEntry* t = m->translationTable();
  std::uintptr_t v;
  std::uint32_t p;
  ASSERT_TRUE(m->getTopPage(v, p));
  EXPECT_EQ(v, t[2].virtualAddress);
  EXPECT_EQ(p, t[2].physicalAddress);
  ASSERT_TRUE(m->getPage(v, p));
  EXPECT_EQ(p, t[0].physicalAddress);
  ASSERT_TRUE(m->getPage(v, p));
  EXPECT_EQ(v, t[1].virtualAddress);
  EXPECT_EQ(p, t[1].physicalAddress);
  EXPECT_EQ(console_.text, u"");
  EXPECT_FALSE(m->getPage(v, p));
  EXPECT_EQ(console_.take(), u"page insufficient.\n");
  EXPECT_FALSE(m->getTopPage(v, p));
  EXPECT_EQ(console_.text, u"");
}

TEST_F(MemoryManagerTest, LinkPageHasItsDataSixteenBytesOnAndAZeroedLink) {
  auto m = make();
  ASSERT_TRUE(m->reservePages(2 * Page));
  std::uintptr_t dv, lv;
  std::uint32_t dp, lp;
  ASSERT_TRUE(m->getLinkPage(dv, dp, lv, lp));
  EXPECT_EQ(dv, lv + 16);
  EXPECT_EQ(dp, lp + 16);
  EXPECT_EQ(lp, m->translationTable()[0].physicalAddress);
  std::uint8_t link[17];
  ASSERT_TRUE(handheld::physicalMemory().read(lp, link, sizeof link));
  for (int k = 0; k < 16; ++k) EXPECT_EQ(link[k], 0) << k;
  EXPECT_NE(link[16], 0);  // only the link is cleared; the data area still holds what was there
}

TEST_F(MemoryManagerTest, APageWithoutFrameEndsTheGatheringButNotTheReservation) {
  auto m = make();
  faults().lockPagesFailAt = 6;  // the sixth page, page#5
  ASSERT_TRUE(m->reservePages(10 * Page));
  EXPECT_EQ(console_.take(),
            u"address translation table 10 pages. (0x50 bytes)\npage#5 not found\nallocated 10 page. mapped 5 page.\n");
  EXPECT_EQ(m->mappedCount(), 5);
  std::uintptr_t v;
  std::uint32_t p;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(m->getPage(v, p));
  EXPECT_FALSE(m->getPage(v, p));
  EXPECT_EQ(console_.take(), u"page insufficient.\n");
}

TEST_F(MemoryManagerTest, AFailedUnlockIsReportedAndTheFrameStillUsed) {
  auto m = make();
  faults().unlockPagesFails = true;
  ASSERT_TRUE(m->reservePages(2 * Page));
  EXPECT_EQ(console_.take(),
            u"address translation table 2 pages. (0x10 bytes)\ncan't unlock pages\ncan't unlock pages\n"
            u"allocated 2 page. mapped 2 page.\n");
  std::uint32_t frame = 0;
  ASSERT_TRUE(handheld::physicalMemory().physicalOf(m->regionBase(), frame));
  EXPECT_EQ(m->translationTable()[0].physicalAddress, frame);
}

TEST_F(MemoryManagerTest, FailuresOfThePlatformEndTheReservation) {
  struct Case {
    const char* name;
    void (*arm)(handheld::Faults&);
    const char16_t* printed;
  };
  const Case cases[] = {
      {"heap", [](handheld::Faults& f) { f.heapFailAt = 1; }, u"can't allocate memory for translation table.\n"},
      {"VirtualAlloc", [](handheld::Faults& f) { f.virtualAllocFails = true; },
       u"address translation table 4 pages. (0x20 bytes)\ncan't allocate memory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = make();
    handheld::Faults saved = faults();
    c.arm(faults());
    EXPECT_FALSE(m->reservePages(4 * Page));
    EXPECT_EQ(console_.take(), c.printed);
    faults() = saved;
    std::uintptr_t v;
    std::uint32_t p;
    EXPECT_FALSE(m->getPage(v, p));
    EXPECT_EQ(console_.take(), u"page insufficient.\n");
    EXPECT_FALSE(m->getTopPage(v, p));
    EXPECT_EQ(m->regionBase(), nullptr);
  }
}

ce::DWORD reportedFrame = 0;
ce::BOOL fakeLock(void*, ce::DWORD, ce::DWORD* frames, int flags) {
  if (flags != 1) return ce::False;
  frames[0] = reportedFrame;
  return ce::True;
}
ce::BOOL fakeUnlock(void*, ce::DWORD) { return ce::True; }

TEST_F(MemoryManagerTest, FrameNumbersBecomePageAlignedPhysicalAddresses) {
  struct Case {
    std::uint32_t frameShift, reported, physical;
  };
  const Case cases[] = {
      {0, 0xC0123ABC, 0xC0123000},  // a physical address with offset bits
      {0, 0xA0400000, 0xA0400000},
      {12, 0x000C0123, 0xC0123000},  // a page frame number
      {8, 0x00C01234, 0xC0123000},   // the physical address >> 8
  };
  for (const Case& c : cases) {
    LockPagesMemoryManager m(fakeLock, fakeUnlock, slot_, Page, c.frameShift);
    reportedFrame = c.reported;
    EXPECT_EQ(m.virtualToPhysical(0x1000), c.physical) << std::hex << c.reported;
  }
  LockPagesMemoryManager real(handheld::lockPages, handheld::unlockPages, slot_, Page, 0);
  int notInARegion = 0;
  EXPECT_EQ(real.virtualToPhysical(reinterpret_cast<std::uintptr_t>(&notInARegion)), MemoryManager::NoPhysical);
}

TEST_F(MemoryManagerTest, BankTableTakesSixteenAndRefusesMore) {
  auto m = make();
  for (int i = 0; i < MemoryManager::MaxBanks; ++i) EXPECT_TRUE(m->addBank(0xC0000000u + i * 0x08000000u, 0x02000000));
  const std::u16string printed = console_.take();
  EXPECT_EQ(printed.rfind(u"[0] 0xc0000000 size 0x02000000\n[1] 0xc8000000 size 0x02000000\n", 0), 0u);
  EXPECT_NE(printed.find(u"[15] 0x38000000 size 0x02000000\n"), std::u16string::npos);
  EXPECT_FALSE(m->addBank(0xA0000000, 0x04000000));
  EXPECT_EQ(console_.take(), u"too many memory banks. 0xa0000000 size 0x04000000 ignored.\n");
  EXPECT_EQ(m->bankCount(), 16);
  EXPECT_EQ(m->bank(15).start, 0x38000000u);
  EXPECT_EQ(m->bank(15).size, 0x02000000u);
}

class MappingTest : public MemoryManagerTest {
 protected:
  void SetUp() override {
    auto record = [this](std::uint32_t p) {
      reads_.push_back(p);
      return std::uint8_t{0};
    };
    handheld::registerMmioDevice(0x40100000, 0x1000, record, nullptr);  // PXA-2x0 FFUART
    handheld::registerMmioDevice(0x80050000, 0x2000, record, nullptr);  // SA-11x0 UART 3 and beyond
  }
  std::vector<std::uint32_t> reads_;
};

TEST_F(MappingTest, MapsWholePagesAndPointsAtTheByteAsked) {
  auto m = make();
  auto* ffuart = static_cast<std::uint8_t*>(m->mapPhysical(0x40100000, 256, ce::PageReadWrite));
  ASSERT_NE(ffuart, MemoryManager::mapFailed());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ffuart) % Page, 0u);
  auto* utsr = static_cast<std::uint8_t*>(m->mapPhysical(0x80050014, 4, ce::PageReadWrite));
  ASSERT_NE(utsr, MemoryManager::mapFailed());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(utsr) % Page, 0x14u);
  auto* crossing = static_cast<std::uint8_t*>(m->mapPhysical(0x80050FFC, 8, ce::PageReadOnly));
  ASSERT_NE(crossing, MemoryManager::mapFailed());
  EXPECT_EQ(console_.text, u"");

  ce::mmioRead8(ffuart + 0x14);
  ce::mmioRead8(utsr);
  ce::mmioRead8(crossing + 4);  // in the second page of the mapping
  EXPECT_EQ(reads_, (std::vector<std::uint32_t>{0x40100014, 0x80050014, 0x80051000}));

  m->unmapPhysical(utsr);  // from inside the first page
  EXPECT_EQ(console_.text, u"");
  m->unmapPhysical(utsr);  // already gone
  EXPECT_EQ(console_.take(), u"can't release memory\n");
}

TEST_F(MappingTest, FailuresAreReportedWithTheAddressAsked) {
  auto m = make();
  faults().virtualCopyFails = true;
  EXPECT_EQ(m->mapPhysical(0x80050014, 4, ce::PageReadWrite), MemoryManager::mapFailed());
  EXPECT_EQ(console_.take(), u"can't map physical address 0x80050014\n");
  faults().virtualCopyFails = false;
  faults().virtualAllocFails = true;
  EXPECT_EQ(m->mapPhysical(0x40100000, 256, ce::PageReadWrite), MemoryManager::mapFailed());
  EXPECT_EQ(console_.take(), u"can't map physical address 0x40100000\n");
  faults().virtualAllocFails = false;
  // A range running past 4 GiB cannot be mapped.
  EXPECT_EQ(m->mapPhysical(0xFFFFF000, 0x2000, ce::PageReadWrite), MemoryManager::mapFailed());
  EXPECT_EQ(console_.take(), u"can't map physical address 0xfffff000\n");

  void* p = m->mapPhysical(0x40100000, 256, ce::PageReadWrite);
  ASSERT_NE(p, MemoryManager::mapFailed());
  faults().virtualFreeFails = true;
  m->unmapPhysical(p);
  EXPECT_EQ(console_.take(), u"can't release memory\n");
}

}  // namespace
}  // namespace kestrel
