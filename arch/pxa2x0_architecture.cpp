#include "arch/pxa2x0_architecture.h"

#include "arch/arm/blobs.h"
#include "platform/processor.h"
#include "platform/virtual_memory.h"

namespace kestrel {

PXA2x0Architecture::PXA2x0Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager)
    : ArmArchitecture(console, memoryManager) {
  this->console().print(u"PXA-2x0 CPU.\n");
}

bool PXA2x0Architecture::init() { return initBanks(Banks, BankSize, DCacheBytes); }

bool PXA2x0Architecture::setupLoader() {
  return placeSecondBootloader(arm::secondBootloaderPxa2x0, arm::secondBootloaderPxa2x0Size);
}

void PXA2x0Architecture::jump(std::uint32_t argumentBlock, std::uint32_t firstLink) {
  std::uint32_t stack = 0;
  if (!takeStackPage(stack)) return;
  ce::CleanDCache(flushArea, dCacheSize);
  ce::SetKMode(ce::True);
  ce::FlatJump_pxa2x0(argumentBlock, firstLink, stack, secondBootloader_);
  ce::SetKMode(ce::False);
  console().print(u"Return from FlatJump_pxa2x0.\n");
}

}  // namespace kestrel
