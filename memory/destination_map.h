// Where the second stage really writes what the chain asks for. The chain records each
// destination as the kernel's file gives it; a family's second stage may move it (the PXA-2x0
// one folds every destination into a window above its first SDRAM partition). The loader asks
// this map when it checks a kernel's destinations against the DRAM banks, and the boot when it
// sets pages aside under the kernel; the family's architecture provides it.
#pragma once
#include <cstdint>
#include <vector>

#include "memory/memory_manager.h"

namespace kestrel {

class DestinationMap {
 public:
  // Appends to `out` the physical ranges written when the chain asks for [start, start +
  // length), ends rounded up to words (the copy and clear loops write whole words). This one:
  // the range itself, cut at the top of the address space.
  virtual void addDestination(std::vector<AddressRange>& out, std::uint64_t start, std::uint64_t length) const;

 protected:
  ~DestinationMap() = default;
};

// The map of a second stage that writes every destination where the chain says.
const DestinationMap& identityDestinations();

// True when [start, start + length) lies wholly inside one of the memory manager's banks.
bool insideBanks(const MemoryManager& memory, const AddressRange& range);

}  // namespace kestrel
