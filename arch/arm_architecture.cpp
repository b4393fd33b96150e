#include "arch/arm_architecture.h"

#include <cstring>

#include "platform/processor.h"
#include "platform/virtual_memory.h"

namespace kestrel {

alignas(32) const unsigned char flushArea[FlushAreaSize] = {};

ArmArchitecture::ArmArchitecture(ConsoleSlot console, MemoryManagerSlot memoryManager)
    : Architecture(console, memoryManager) {
  this->console().print(u"ARM architecture.\n");
}

void ArmArchitecture::systemInfo() {
  Architecture::systemInfo();

  Console& out = console();
  savedKernelMode_ = ce::SetKMode(ce::True);
  ce::DisableInterrupts();
  if ((ce::ReadCPSR() & ce::CpsrModeMask) != ce::CpsrModeSystem) out.print(u"can't change to System mode\n");
  out.print(u"Reg0 :%08x\n", ce::ReadCP15(0));
  out.print(u"Reg1 :%08x\n", ce::ReadCP15(1));
  out.print(u"Reg2 :%08x\n", ce::ReadCP15(2));
  out.print(u"Reg3 :%08x\n", ce::ReadCP15(3));
  out.print(u"Reg5 :%08x\n", ce::ReadCP15(5));
  out.print(u"Reg6 :%08x\n", ce::ReadCP15(6));
  out.print(u"Reg13:%08x\n", ce::ReadCP15(13));
  out.print(u"Reg14:%08x\n", ce::ReadCP15(14));
  out.print(u"CPSR :%08x\n", ce::ReadCPSR());
  ce::EnableInterrupts();
  ce::SetKMode(savedKernelMode_);
}

bool ArmArchitecture::processorMatches() {
  // The main ID register is read in kernel mode, as the system probe reads it.
  const ce::BOOL saved = ce::SetKMode(ce::True);
  const std::uint32_t mainId = ce::ReadCP15(0);
  ce::SetKMode(saved);
  const std::optional<ProcessorFamily> actual = processorFamilyOf(mainId);
  if (!actual) {
    console().print(u"the processor (id 0x%08x) is of no family this loader knows.\n", mainId);
    return false;
  }
  if (*actual != family()) {
    // Handing over with the other family's routines, banks and UART would hang the machine.
    console().print(u"the platform is %S, but the processor (id 0x%08x) is %S.\n", familyName(family()), mainId,
                    familyName(*actual));
    return false;
  }
  return true;
}

bool ArmArchitecture::initBanks(const std::uint32_t (&banks)[4], std::uint32_t bankSize, std::uint32_t cacheBytes) {
  if (!processorMatches()) return false;
  MemoryManager& mm = memoryManager();
  if (!mm.init()) {
    console().print(u"can't initialize memory manager.\n");
    return false;
  }
  for (std::uint32_t base : banks) mm.addBank(base, bankSize);
  dCacheSize_ = cacheBytes;
  console().print(u"D-cache size = %d\n", dCacheSize_);
  return true;
}

bool ArmArchitecture::placeSecondBootloader(const unsigned char* code, std::size_t size) {
  MemoryManager& mm = memoryManager();
  // The routine runs from a page of its own; it must not spill into the next page, which
  // belongs to someone else.
  if (size > mm.pageSize()) {
    console().print(u"2nd bootloader size(%dbyte) is larger than page size(%d).\n", size, mm.pageSize());
    return false;
  }
  std::uintptr_t vaddr = 0;
  std::uint32_t paddr = 0;
  if (!mm.getTopPage(vaddr, paddr)) {
    console().print(u"can't get page for 2nd loader.\n");
    return false;
  }
  secondBootloader_ = paddr;
  console().print(u"2nd bootloader vaddr=0x%08x paddr=0x%08x\n", vaddr, paddr);
  // The region is uncached, so the bytes are in memory once copied.
  std::memcpy(reinterpret_cast<void*>(vaddr), code, size);
  console().print(u"2nd bootloader copy done.\n");
  return true;
}

bool ArmArchitecture::takeStackPage(std::uint32_t& stackPointer) {
  MemoryManager& mm = memoryManager();
  std::uintptr_t vaddr = 0;
  std::uint32_t paddr = 0;
  if (!mm.getTopPage(vaddr, paddr)) return false;
  // Full descending stack: the first push lands just below the page's end.
  stackPointer = paddr + mm.pageSize();
  console().print(u"sp for bootloader = %08x + %08x = %08x\n", paddr, mm.pageSize(), stackPointer);
  return true;
}

}  // namespace kestrel
