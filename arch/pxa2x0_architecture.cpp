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
  ce::CleanDCache(flushArea, dCacheSize_);
  ce::SetKMode(ce::True);
  ce::FlatJump_pxa2x0(argumentBlock, firstLink, stack, secondBootloader_);
  ce::SetKMode(ce::False);
  console().print(u"Return from FlatJump_pxa2x0.\n");
}

void PXA2x0Architecture::addDestination(std::vector<AddressRange>& out, std::uint64_t start,
                                        std::uint64_t length) const {
  if (length == 0) return;
  std::uint64_t end = (start + length + 3) & ~std::uint64_t{3};
  if (end - start >= DestinationWindow) {
    out.push_back({DestinationBase, static_cast<std::uint32_t>(DestinationWindow)});
    return;
  }
  std::uint64_t low = start & (DestinationWindow - 1);
  std::uint64_t span = end - start;
  if (low + span <= DestinationWindow) {
    out.push_back({static_cast<std::uint32_t>(DestinationBase + low), static_cast<std::uint32_t>(span)});
  } else {
    out.push_back({static_cast<std::uint32_t>(DestinationBase + low), static_cast<std::uint32_t>(DestinationWindow - low)});
    out.push_back({DestinationBase, static_cast<std::uint32_t>(low + span - DestinationWindow)});
  }
}

}  // namespace kestrel
