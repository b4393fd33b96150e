// The platform heap: zeroing, and the n-th-allocation failure that failure-path tests rely on.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/handheld/heap_check.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "tests/support/handheld_fixture.h"

namespace {

using kestrel_testing::TempHandheld;

TEST(Heap, ZeroInitClearsTheBlock) {
  TempHandheld handheld;
  // Large enough that a reused block would show old contents; the sanitizer build also fills
  // fresh blocks with a pattern.
  constexpr std::size_t size = 3000;
  auto* dirty = static_cast<unsigned char*>(ce::LocalAlloc(ce::LmemFixed, size));
  ASSERT_NE(dirty, nullptr);
  std::memset(dirty, 0xA5, size);
  ce::LocalFree(dirty);
  auto* block = static_cast<unsigned char*>(ce::LocalAlloc(ce::Lptr, size));
  ASSERT_NE(block, nullptr);
  for (std::size_t k = 0; k < size; ++k) ASSERT_EQ(block[k], 0) << "byte " << k;
  EXPECT_EQ(ce::LocalFree(block), nullptr);
}

TEST(Heap, FailsTheNthAllocationCountedFromWhenTheFaultIsSet) {
  TempHandheld handheld;
  void* before = ce::LocalAlloc(ce::LmemFixed, 8);  // does not count towards the fault
  ASSERT_NE(before, nullptr);
  handheld.faults().heapFailAt = 3;
  void* a = ce::LocalAlloc(ce::LmemFixed, 8);
  void* b = ce::LocalAlloc(ce::Lptr, 8);
  ce::SetLastError(0);
  void* c = ce::LocalAlloc(ce::LmemFixed, 8);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorNotEnoughMemory);
  void* d = ce::LocalAlloc(ce::LmemFixed, 8);  // the fault is spent
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(handheld.faults().heapFailAt, 0);
  for (void* p : {before, a, b, d}) ce::LocalFree(p);

  // Setting the fault again starts a new count.
  handheld.faults().heapFailAt = 1;
  EXPECT_EQ(ce::LocalAlloc(ce::LmemFixed, 8), nullptr);
  void* e = ce::LocalAlloc(ce::LmemFixed, 8);
  EXPECT_NE(e, nullptr);
  ce::LocalFree(e);
}

struct Counted {
  static int constructed;
  explicit Counted(int v) : value(v) { ++constructed; }
  ~Counted() { --constructed; }
  int value;
};
int Counted::constructed = 0;

TEST(Heap, ObjectsOnTheHeapAreNotConstructedWhenTheAllocationFails) {
  TempHandheld handheld;
  std::size_t live = handheld::heapBlocksInUse();
  handheld.faults().heapFailAt = 2;
  ce::HeapPtr<Counted> first(ce::heapNew<Counted>(7));
  ce::HeapPtr<Counted> second(ce::heapNew<Counted>(8));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->value, 7);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(Counted::constructed, 1);
  EXPECT_EQ(handheld::heapBlocksInUse(), live + 1);
  first.reset();
  EXPECT_EQ(Counted::constructed, 0);
  EXPECT_EQ(handheld::heapBlocksInUse(), live);
}

TEST(Heap, RefusesMovableBlocksAndSizesThatWrap) {
  TempHandheld handheld;
  EXPECT_EQ(ce::LocalAlloc(0x0002 /* movable */, 16), nullptr);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorInvalidParameter);
  EXPECT_EQ(ce::LocalAlloc(ce::LmemFixed, static_cast<std::size_t>(-8)), nullptr);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorNotEnoughMemory);
  EXPECT_EQ(ce::heapNewArray<std::uint32_t>(static_cast<std::size_t>(-1) / 2), nullptr);
}

}  // namespace

namespace {

// No block is larger than the machine's DRAM: a size a server or a file names is refused as
// the device would refuse it (a Compaq iPAQ H3600 has 32 MiB).
TEST(Heap, RefusesABlockLargerThanTheWholeMemory) {
  TempHandheld handheld;
  void* all = ce::LocalAlloc(ce::LmemFixed, 32u << 20);
  EXPECT_NE(all, nullptr);
  ce::LocalFree(all);
  ce::SetLastError(0);
  EXPECT_EQ(ce::LocalAlloc(ce::LmemFixed, (32u << 20) + 1), nullptr);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorNotEnoughMemory);
}

}  // namespace
