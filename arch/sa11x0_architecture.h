// The architecture of SA-1100 and SA-1110 handhelds.
#pragma once
#include "arch/arm_architecture.h"

namespace kestrel {

class SA11x0Architecture final : public ArmArchitecture {
 public:
  // Prints "ARM architecture.\n", then "SA-11x0 CPU.\n".
  SA11x0Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager);

  bool init() override;
  ProcessorFamily family() const override { return ProcessorFamily::SA11x0; }
  SerialConsoleMaker serialConsoleMaker() const override { return makeSerialConsole<SA11x0SerialConsole>; }
  bool setupLoader() override;
  void jump(std::uint32_t argumentBlock, std::uint32_t firstLink) override;

  // The four DRAM banks of the SA-11x0 memory controller (chip selects 0-3), 128 MiB each.
  static constexpr std::uint32_t Banks[4] = {0xC0000000, 0xC8000000, 0xD0000000, 0xD8000000};
  static constexpr std::uint32_t BankSize = 0x08000000;
  // 8 KiB of data cache (the SA-1110's; its 512-byte mini-cache is not written back here).
  static constexpr std::uint32_t DCacheBytes = 8192;
};

}  // namespace kestrel
