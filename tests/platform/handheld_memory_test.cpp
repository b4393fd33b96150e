// The handheld's physical memory seen through the platform's virtual-memory services.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/handheld/physical_memory.h"
#include "platform/system.h"
#include "platform/virtual_memory.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

using handheld::FrameUse;
using handheld::PhysicalMemory;
using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

constexpr std::uint32_t Page = 4096;
constexpr std::uint32_t Ipaq3600Dram = 0xC0000000, Ipaq3600DramSize = 32u << 20;

HandheldOptions withOrder(const std::string& order, const std::string& platform = "Compaq iPAQ H3600") {
  HandheldOptions o;
  o.platform = platform;
  o.extraIni = "page_order = " + order + "\n";
  return o;
}

void* commit(std::uint32_t bytes) { return ce::VirtualAlloc(nullptr, bytes, ce::MemCommit, 0x204); }

std::vector<std::uint32_t> framesOf(void* region, std::uint32_t pages) {
  std::vector<ce::DWORD> frames(pages, 0);
  EXPECT_TRUE(handheld::lockPages(region, pages * Page, frames.data(), 1));
  return {frames.begin(), frames.end()};
}

TEST(HandheldMemory, CommittedPagesAreTheirFramesAndStartWithWhatWindowsCeLeft) {
  TempHandheld h(withOrder("shuffle:7"));
  PhysicalMemory& memory = handheld::physicalMemory();
  const std::size_t freeBefore = memory.freeFrameCount();

  auto* region = static_cast<std::uint8_t*>(commit(8 * Page));
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % Page, 0u);
  const std::vector<std::uint32_t> frames = framesOf(region, 8);
  EXPECT_EQ(std::set<std::uint32_t>(frames.begin(), frames.end()).size(), 8u);
  for (std::uint32_t f : frames) {
    EXPECT_EQ(f % Page, 0u);
    EXPECT_GE(f, Ipaq3600Dram + PhysicalMemory::SystemLowBytes);  // never Windows CE's own
    EXPECT_LT(f, Ipaq3600Dram + Ipaq3600DramSize);
    EXPECT_EQ(memory.frameUse(f), FrameUse::Committed);
  }
  EXPECT_EQ(memory.freeFrameCount(), freeBefore - 8);

  // No byte is zero to begin with: a missing clear shows.
  EXPECT_EQ(std::count(region, region + 8 * Page, 0), 0);

  // Through the virtual address into the frame, and by physical address back into the page.
  region[3 * Page + 100] = 0xAB;
  std::uint8_t byte = 0;
  ASSERT_TRUE(memory.read(frames[3] + 100, &byte, 1));
  EXPECT_EQ(byte, 0xAB);
  const std::uint8_t word[4] = {1, 2, 3, 4};
  ASSERT_TRUE(memory.write(frames[5] + Page - 2, word, 2));
  EXPECT_EQ(region[5 * Page + Page - 2], 1);
  EXPECT_EQ(region[5 * Page + Page - 1], 2);

  std::vector<std::pair<std::uint32_t, std::uint8_t>> seen;
  memory.forEachCommittedFrame([&](std::uint32_t p, const std::uint8_t* data) { seen.emplace_back(p, data[100]); });
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_pair(frames[3], std::uint8_t{0xAB})), seen.end());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

  // Released frames are free again and keep what was written into them.
  ASSERT_TRUE(ce::VirtualFree(region, 0, ce::MemRelease));
  EXPECT_EQ(memory.freeFrameCount(), freeBefore);
  EXPECT_EQ(memory.frameUse(frames[3]), FrameUse::Free);
  ASSERT_TRUE(memory.read(frames[3] + 100, &byte, 1));
  EXPECT_EQ(byte, 0xAB);
  EXPECT_FALSE(handheld::lockPages(region, Page, nullptr, 1));
}

TEST(HandheldMemory, CommitsTakeOnlyFreeFramesAndFailWhenTheyRunOut) {
  TempHandheld h(withOrder("sequential"));
  PhysicalMemory& memory = handheld::physicalMemory();
  const auto free = static_cast<std::uint32_t>(memory.freeFrameCount());
  // Windows CE keeps its 2 MiB and a share of the rest.
  EXPECT_LT(free, (Ipaq3600DramSize - PhysicalMemory::SystemLowBytes) / Page);
  EXPECT_GT(free, (Ipaq3600DramSize - PhysicalMemory::SystemLowBytes) / Page / 2);

  EXPECT_EQ(commit((free + 1) * Page), nullptr);
  void* all = commit(free * Page);
  ASSERT_NE(all, nullptr);
  for (std::uint32_t f : framesOf(all, free)) EXPECT_NE(memory.frameUse(f), FrameUse::System);
  EXPECT_EQ(commit(Page), nullptr);
  ASSERT_TRUE(ce::VirtualFree(all, 0, ce::MemRelease));
  EXPECT_NE(commit(Page), nullptr);
}

TEST(HandheldMemory, PageOrders) {
  auto firstFrames = [](const std::string& order, const std::string& platform = "Compaq iPAQ H3600") {
    TempHandheld h(withOrder(order, platform));
    void* region = commit(64 * Page);
    EXPECT_NE(region, nullptr);
    return framesOf(region, 64);
  };
  const std::vector<std::uint32_t> sequential = firstFrames("sequential");
  EXPECT_TRUE(std::is_sorted(sequential.begin(), sequential.end()));
  EXPECT_LT(sequential.front(), Ipaq3600Dram + PhysicalMemory::SystemLowBytes + 4 * Page);

  const std::vector<std::uint32_t> reverse = firstFrames("reverse");
  EXPECT_TRUE(std::is_sorted(reverse.rbegin(), reverse.rend()));
  EXPECT_GT(reverse.front(), Ipaq3600Dram + Ipaq3600DramSize - 4 * Page - 1);

  // Seeded: the same seed gives the same frames on every run, another seed others.
  const std::vector<std::uint32_t> shuffled = firstFrames("shuffle:7");
  EXPECT_EQ(firstFrames("shuffle:7"), shuffled);
  EXPECT_NE(firstFrames("shuffle:8"), shuffled);
  EXPECT_FALSE(std::is_sorted(shuffled.begin(), shuffled.end()));

  // Hostile: the frames just above Windows CE's 2 MiB, where the kernel will be copied to,
  // come first, lowest first; on a PXA-2x0 likewise above 0xA0200000.
  for (auto [platform, base] : {std::pair<std::string, std::uint32_t>{"Compaq iPAQ H3660", 0xC0000000},
                                {"Compaq iPAQ H3900", 0xA0000000}}) {
    const std::vector<std::uint32_t> hostile = firstFrames("hostile", platform);
    EXPECT_TRUE(std::is_sorted(hostile.begin(), hostile.end())) << platform;
    EXPECT_GE(hostile.front(), base + PhysicalMemory::SystemLowBytes) << platform;
    EXPECT_LT(hostile.back(), base + PhysicalMemory::SystemLowBytes + 96 * Page) << platform;
  }
}

TEST(HandheldMemory, MappedRegistersReachTheirDeviceAndMappedDramItsFrame) {
  TempHandheld h(withOrder("shuffle:3"));
  std::vector<std::pair<std::uint32_t, std::uint8_t>> writes;
  std::vector<std::uint32_t> reads;
  handheld::registerMmioDevice(
      0x80050000, 0x24,
      [&](std::uint32_t p) {
        reads.push_back(p);
        return static_cast<std::uint8_t>(p & 0xFF);
      },
      [&](std::uint32_t p, std::uint8_t v) { writes.emplace_back(p, v); });

  auto* regs = static_cast<std::uint8_t*>(ce::VirtualAlloc(nullptr, Page, ce::MemReserve, ce::PageNoAccess));
  ASSERT_NE(regs, nullptr);
  ASSERT_TRUE(ce::VirtualCopy(regs, reinterpret_cast<void*>(std::uintptr_t{0x80050000 >> 8}), Page, 0x604));
  EXPECT_EQ(ce::mmioRead8(regs + 0x20), 0x20);
  ce::mmioWrite8(regs + 0x14, 'K');
  ce::mmioWrite32(regs + 0x04, 0x12345678);  // a byte-wide register takes the low byte
  EXPECT_EQ(ce::mmioRead32(regs + 0x1C), 0x1Cu);
  EXPECT_EQ(reads, (std::vector<std::uint32_t>{0x80050020, 0x8005001C}));
  EXPECT_EQ(writes, (std::vector<std::pair<std::uint32_t, std::uint8_t>>{{0x80050014, 'K'}, {0x80050004, 0x78}}));
  ce::DWORD frame = 0;
  ASSERT_TRUE(handheld::lockPages(regs, 4, &frame, 1));
  EXPECT_EQ(frame, 0x80050000u);

  // A mapping of a DRAM frame is that frame.
  auto* page = static_cast<std::uint8_t*>(commit(Page));
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(handheld::lockPages(page, Page, &frame, 1));
  auto* alias = static_cast<std::uint8_t*>(ce::VirtualAlloc(nullptr, Page, ce::MemReserve, ce::PageNoAccess));
  ASSERT_TRUE(ce::VirtualCopy(alias, reinterpret_cast<void*>(std::uintptr_t{frame >> 8}), Page, 0x604));
  ce::mmioWrite32(alias + 8, 0xA1B2C3D4);
  EXPECT_EQ(page[8], 0xD4);
  EXPECT_EQ(page[11], 0xA1);
  page[100] = 0x42;
  EXPECT_EQ(ce::mmioRead8(alias + 100), 0x42);
  EXPECT_TRUE(ce::VirtualFree(alias, 0, ce::MemRelease));
  EXPECT_TRUE(ce::VirtualFree(regs, 0, ce::MemRelease));
  EXPECT_FALSE(ce::VirtualFree(regs, 0, ce::MemRelease));
}

TEST(HandheldMemory, CoredllExportsLockPagesAndUnlockPages) {
  TempHandheld h;
  ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
  ASSERT_NE(coredll, nullptr);
  auto lock = reinterpret_cast<ce::LockPagesFn>(ce::GetProcAddressW(coredll, u"LockPages"));
  auto unlock = reinterpret_cast<ce::UnlockPagesFn>(ce::GetProcAddressW(coredll, u"UnlockPages"));
  ASSERT_NE(lock, nullptr);
  ASSERT_NE(unlock, nullptr);
  void* page = commit(Page);
  ce::DWORD frame = 0;
  EXPECT_TRUE(lock(page, Page, &frame, 1));
  EXPECT_EQ(handheld::physicalMemory().frameUse(frame), FrameUse::Committed);
  EXPECT_TRUE(unlock(page, Page));
  ce::FreeLibrary(coredll);
}

}  // namespace
}  // namespace kestrel
