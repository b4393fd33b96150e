// The ARM layer shared by the SA-11x0 and PXA-2x0 families: the processor-state part of the
// system-information dump, the data-cache clean before the jump, and the placing of the
// 2nd bootloader and its stack page.
#pragma once
#include <cstddef>
#include <cstdint>

#include "arch/architecture.h"
#include "platform/types.h"

namespace kestrel {

// Ordinary, cacheable, zero-filled program data that CleanDCache reads through; as large
// as the largest data cache of the supported processors (the PXA-2x0's 32 KiB, with room).
constexpr std::size_t FlushAreaSize = 65536;
extern const unsigned char flushArea[FlushAreaSize];

class ArmArchitecture : public Architecture {
 public:
  // Prints "ARM architecture.\n".
  ArmArchitecture(ConsoleSlot console, MemoryManagerSlot memoryManager);

  // The dump of the base, then CP15 and the CPSR as seen in kernel mode with interrupts
  // masked.
  void systemInfo() override;

  // Bytes of data cache that CleanDCache walks before the jump: 8192 until init sets the
  // family's own.
  std::uint32_t dCacheSize() const { return dCacheSize_; }

 protected:
  // Whether the processor, by its CP15 main ID, is of this architecture's family; says which
  // it is when not.
  bool processorMatches();
  // The shared body of the families' init: the processor check, then the four DRAM banks
  // after the memory manager's init hook, and the D-cache size.
  bool initBanks(const std::uint32_t (&banks)[4], std::uint32_t bankSize, std::uint32_t cacheBytes);
  // Copies a 2nd bootloader into the highest free page; the shared body of setupLoader.
  bool placeSecondBootloader(const unsigned char* code, std::size_t size);
  // Takes the bootloader's stack page from the top: the stack pointer is the page's end.
  bool takeStackPage(std::uint32_t& stackPointer);

  ce::BOOL savedKernelMode_ = ce::False;
  std::uint32_t dCacheSize_ = 8192;
};

}  // namespace kestrel
