#include "memory/lock_pages_memory_manager.h"

namespace kestrel {

namespace {
constexpr int LockForWrite = 1;
}

LockPagesMemoryManager::LockPagesMemoryManager(ce::LockPagesFn lock, ce::UnlockPagesFn unlock, ConsoleSlot console,
                                               std::uint32_t pageSize, std::uint32_t frameShift)
    : MemoryManager(console, pageSize), lock_(lock), unlock_(unlock), frameShift_(frameShift) {
  this->console().print(u"MemoryManager: LockPages\n");
}

std::uint32_t LockPagesMemoryManager::virtualToPhysical(std::uintptr_t address) {
  ce::DWORD frame = NoPhysical;
  void* page = reinterpret_cast<void*>(address);
  if (!lock_ || !lock_(page, pageSize(), &frame, LockForWrite)) return NoPhysical;
  if (!unlock_ || !unlock_(page, pageSize())) console().print(u"can't unlock pages\n");
  // The frame number back to a page-aligned physical address. 64-bit, so shifts of 32 and
  // more are defined and a frame number too large for the address space is cut off.
  const std::uint32_t shift = pageShift();
  std::uint64_t physical;
  if (frameShift_ <= shift)
    physical = (std::uint64_t{frame} >> (shift - frameShift_)) << shift;
  else
    physical = (std::uint64_t{frame} << (frameShift_ - shift)) << shift;
  return static_cast<std::uint32_t>(physical);
}

}  // namespace kestrel
