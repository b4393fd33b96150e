// The architecture of PXA250/PXA255 and PXA270 handhelds.
#pragma once
#include "arch/arm_architecture.h"

namespace kestrel {

class PXA2x0Architecture final : public ArmArchitecture {
 public:
  // Prints "ARM architecture.\n", then "PXA-2x0 CPU.\n".
  PXA2x0Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager);

  bool init() override;
  ProcessorFamily family() const override { return ProcessorFamily::PXA2x0; }
  SerialConsoleMaker serialConsoleMaker() const override { return makeSerialConsole<PXA2x0SerialConsole>; }
  // The 2nd bootloader keeps only the low 24 bits of every destination and puts them above
  // 0xA0000000 (the first SDRAM partition): a range folds into that 16 MiB window, where it can
  // become two ranges, or the whole window.
  void addDestination(std::vector<AddressRange>& out, std::uint64_t start, std::uint64_t length) const override;
  static constexpr std::uint32_t DestinationBase = 0xA0000000u;
  static constexpr std::uint64_t DestinationWindow = 0x01000000u;
  bool setupLoader() override;
  // As on SA-11x0; should the jump routine come back, the thread leaves kernel mode (for
  // User mode, not for the state it had) and the jump returns.
  void jump(std::uint32_t argumentBlock, std::uint32_t firstLink) override;

  // The four SDRAM partitions of the PXA-2x0 memory controller, 64 MiB each.
  static constexpr std::uint32_t Banks[4] = {0xA0000000, 0xA4000000, 0xA8000000, 0xAC000000};
  static constexpr std::uint32_t BankSize = 0x04000000;
  // The XScale core's 32 KiB data cache, walked twice over to be sure that the
  // round-robin replacement has evicted every line.
  static constexpr std::uint32_t DCacheBytes = 65536;
};

}  // namespace kestrel
