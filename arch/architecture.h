// The processor-specific side of a boot. One concrete architecture per processor family is
// made by the boot object for each attempt; the boot sequence calls init, systemInfo,
// setupLoader and, at the very end, jump. The base holds what every family shares: the
// boot object's console and memory-manager locations, the look-up of Windows CE functions
// in coredll.dll, and the system-information dump.
#pragma once
#include <cstdint>
#include <vector>

#include "common/os_version.h"
#include "common/processor_family.h"
#include "console/console.h"
#include "console/serial_console.h"
#include "memory/destination_map.h"
#include "memory/memory_manager.h"
#include "platform/system.h"

namespace kestrel {

// The Windows CE version the program is built for (2.11).
constexpr int BuiltForWindowsCe = 211;

// systemInfo records the running system's version in `osVersion` (common/os_version.h).

class Architecture : public DestinationMap {
 public:
  // Prints nothing; the families print their own lines.
  Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager);
  // Releases coredll.dll when coreFunction loaded it.
  virtual ~Architecture();
  Architecture(const Architecture&) = delete;
  Architecture& operator=(const Architecture&) = delete;

  // Registers the platform's DRAM banks, runs the memory manager's init hook and sets the
  // D-cache size.
  virtual bool init() = 0;
  // Prints the system's version, the platform's system information and the screen.
  virtual void systemInfo();
  // Puts the 2nd bootloader into the highest free page and remembers that page.
  virtual bool setupLoader() = 0;
  // Leaves Windows CE and runs the 2nd bootloader with the argument block and the chain's
  // first link (both physical). Returns only when the jump did not happen.
  virtual void jump(std::uint32_t argumentBlock, std::uint32_t firstLink) = 0;

  // The processor family this architecture hands over on.
  virtual ProcessorFamily family() const = 0;
  // Makes the serial console of the family's UART behind COM1.
  virtual SerialConsoleMaker serialConsoleMaker() const = 0;
  // Where the family's 2nd bootloader really writes a range (DestinationMap): as the chain
  // says, unless the family overrides it.

  // The function `name` exported by coredll.dll, or null. Loads the library on first use;
  // when it cannot be loaded, says so in a "WARNING" box and tries again next time.
  ce::FARPROC coreFunction(const char16_t* name);

  ConsoleSlot consoleSlot() const { return console_; }
  MemoryManagerSlot memoryManagerSlot() const { return memoryManager_; }
  // Physical address of the 2nd bootloader's page; 0 until setupLoader succeeds.
  std::uint32_t secondBootloaderAddress() const { return secondBootloader_; }

 protected:
  Console& console() const { return **console_; }
  MemoryManager& memoryManager() const { return **memoryManager_; }

  ce::HMODULE coredll_ = nullptr;
  ConsoleSlot console_;
  MemoryManagerSlot memoryManager_;
  std::uint32_t secondBootloader_ = 0;
};

// The architecture of `family`, from the platform heap; null when it cannot be allocated.
Architecture* makeArchitecture(ProcessorFamily family, ConsoleSlot console, MemoryManagerSlot memoryManager);

}  // namespace kestrel
