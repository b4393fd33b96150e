// The platform heap. Each block carries a small header with its size, so the heap can tell
// how many blocks are live (handheld::heapBlocksInUse), which failure-path tests use to show
// that nothing leaked.
#include "platform/heap.h"

#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/handheld/heap_check.h"
#include "platform/handheld/host_memory.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/state.h"

namespace handheld {
namespace {

// Keeps the block behind it aligned for any type.
struct alignas(std::max_align_t) Header {
  std::size_t bytes;
  std::uint32_t magic;
};
constexpr std::uint32_t liveMagic = 0x4B48454Du;
std::size_t liveBlocks = 0;

// True when this allocation is the one Faults::heapFailAt asked to fail. The count starts
// again whenever the value is changed; after the failure the fault is spent (set to 0).
bool injectFailure() {
  if (!installed()) return false;
  Machine& m = current();
  HeapState& heap = m.state().heap;
  long& failAt = m.faults().heapFailAt;
  if (failAt != heap.armed) {
    heap.armed = failAt;
    heap.counted = 0;
  }
  if (failAt <= 0) return false;
  if (++heap.counted < failAt) return false;
  failAt = 0;
  heap.armed = 0;
  heap.counted = 0;
  return true;
}

// No block can be larger than the machine's whole DRAM: a size that a server or a file names
// fails here as it would on the device, instead of being granted by the build machine.
bool largerThanMemory(std::size_t bytes) {
  if (!installed()) return false;
  std::uint64_t dram = 0;
  for (const DramBank& bank : current().config().profile.dram) dram += bank.size;
  return dram != 0 && bytes > dram;
}

}  // namespace

std::size_t heapBlocksInUse() { return liveBlocks; }

}  // namespace handheld

namespace ce {

void* LocalAlloc(UINT flags, std::size_t bytes) {
  if (flags & ~Lptr) {
    // Movable and discardable blocks are not part of this heap.
    SetLastError(ErrorInvalidParameter);
    return nullptr;
  }
  if (handheld::injectFailure() || handheld::largerThanMemory(bytes) ||
      bytes > static_cast<std::size_t>(-1) - sizeof(handheld::Header)) {
    SetLastError(ErrorNotEnoughMemory);
    return nullptr;
  }
  std::size_t total = sizeof(handheld::Header) + bytes;
  void* raw = (flags & LmemZeroInit) ? std::calloc(1, total) : std::malloc(total);
  if (!raw) {
    SetLastError(ErrorNotEnoughMemory);
    return nullptr;
  }
  if (total >= (4u << 20)) handheld::adviseLargeBlock(raw, total);
  auto* header = static_cast<handheld::Header*>(raw);
  header->bytes = bytes;
  header->magic = handheld::liveMagic;
  ++handheld::liveBlocks;
  return header + 1;
}

void* LocalFree(void* memory) {
  if (!memory) return nullptr;
  auto* header = static_cast<handheld::Header*>(memory) - 1;
  if (header->magic != handheld::liveMagic) {
    SetLastError(ErrorInvalidHandle);
    return memory;
  }
  header->magic = 0;
  --handheld::liveBlocks;
  std::free(header);
  return nullptr;
}

}  // namespace ce
