// The memory manager that finds a page's physical address by locking it: LockPages reports
// the frame of every page it locks, and the page is unlocked again at once.
#pragma once
#include "memory/memory_manager.h"
#include "platform/virtual_memory.h"

namespace kestrel {

class LockPagesMemoryManager final : public MemoryManager {
 public:
  // `frameShift`: how far LockPages' frame numbers are shifted right from the physical
  // address; 0 where it reports physical addresses.
  LockPagesMemoryManager(ce::LockPagesFn lock, ce::UnlockPagesFn unlock, ConsoleSlot console, std::uint32_t pageSize,
                         std::uint32_t frameShift);

  std::uint32_t virtualToPhysical(std::uintptr_t address) override;

 private:
  ce::LockPagesFn lock_;
  ce::UnlockPagesFn unlock_;
  std::uint32_t frameShift_;
};

}  // namespace kestrel
