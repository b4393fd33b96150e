#include "arch/sa11x0_architecture.h"

#include "arch/arm/blobs.h"
#include "platform/processor.h"
#include "platform/virtual_memory.h"

namespace kestrel {

SA11x0Architecture::SA11x0Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager)
    : ArmArchitecture(console, memoryManager) {
  this->console().print(u"SA-11x0 CPU.\n");
}

bool SA11x0Architecture::init() { return initBanks(Banks, BankSize, DCacheBytes); }

bool SA11x0Architecture::setupLoader() {
  return placeSecondBootloader(arm::secondBootloaderSa11x0, arm::secondBootloaderSa11x0Size);
}

void SA11x0Architecture::jump(std::uint32_t argumentBlock, std::uint32_t firstLink) {
  std::uint32_t stack = 0;
  if (!takeStackPage(stack)) return;
  // With the MMU off the caches are bypassed: whatever is still dirty in the data cache
  // (the chain pages were written uncached, but the program's own data was not) must be in
  // memory first.
  ce::CleanDCache(flushArea, dCacheSize_);
  ce::SetKMode(ce::True);
  ce::FlatJump_sa11x0(argumentBlock, firstLink, stack, secondBootloader_);
}

}  // namespace kestrel
