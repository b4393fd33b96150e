// Virtual memory, page locking and mapped device registers of the simulated handheld, on top
// of its physical memory (physical_memory.h). Every call can be made to fail through the
// machine's Faults.
#include "platform/virtual_memory.h"

#include "platform/handheld/coredll.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/physical_memory.h"

namespace ce {

void* VirtualAlloc(void* address, DWORD size, DWORD allocationType, DWORD protect) {
  handheld::Machine& m = handheld::current();
  if (m.faults().virtualAllocFails) return nullptr;
  // Regions are always placed by the system; the program never asks for a given address.
  if (address != nullptr || size == 0) return nullptr;
  handheld::PhysicalMemory& memory = handheld::physicalMemory(m);
  if (allocationType & MemCommit) return memory.commit(size, protect);
  if (allocationType & MemReserve) return memory.reserve(size);
  return nullptr;
}

BOOL VirtualFree(void* address, DWORD size, DWORD freeType) {
  handheld::Machine& m = handheld::current();
  if (m.faults().virtualFreeFails) return False;
  handheld::PhysicalMemory& memory = handheld::physicalMemory(m);
  if (freeType & MemRelease) return size == 0 && memory.release(address) ? True : False;
  if (freeType & MemDecommit) return memory.decommit(address, size) ? True : False;
  return False;
}

BOOL VirtualCopy(void* destination, void* source, DWORD size, DWORD protect) {
  handheld::Machine& m = handheld::current();
  if (m.faults().virtualCopyFails) return False;
  handheld::PhysicalMemory& memory = handheld::physicalMemory(m);
  if (protect & PagePhysical) {
    // The source is the physical address shifted right by 8.
    std::uint64_t physical = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(source)) << 8;
    if (physical > 0xFFFFFFFFull) return False;
    return memory.mapPhysical(destination, static_cast<std::uint32_t>(physical), size) ? True : False;
  }
  return memory.mapVirtual(destination, source, size) ? True : False;
}

BYTE mmioRead8(volatile void* address) { return handheld::physicalMemory().mmioRead8(address); }
void mmioWrite8(volatile void* address, BYTE value) { handheld::physicalMemory().mmioWrite8(address, value); }
DWORD mmioRead32(volatile void* address) { return handheld::physicalMemory().mmioRead32(address); }
void mmioWrite32(volatile void* address, DWORD value) { handheld::physicalMemory().mmioWrite32(address, value); }

}  // namespace ce

namespace handheld {

// LockPages reports, for every page that [address, address + size) touches, the physical
// address of its frame (the frame shift of this platform is 0).
ce::BOOL lockPages(void* address, ce::DWORD size, ce::DWORD* frames, int flags) {
  Machine& m = current();
  PhysicalMemory& memory = physicalMemory(m);
  if (memory.lockCallFails(m.faults().lockPagesFailAt)) return ce::False;
  if (size == 0) return ce::False;
  auto a = reinterpret_cast<std::uintptr_t>(address);
  std::uintptr_t first = a & ~std::uintptr_t{PhysicalMemory::FrameSize - 1};
  std::uintptr_t end = a + size;
  std::size_t n = 0;
  for (std::uintptr_t p = first; p < end; p += PhysicalMemory::FrameSize, ++n) {
    std::uint32_t physical;
    if (!memory.physicalOf(reinterpret_cast<const void*>(p), physical)) return ce::False;
    if (frames) frames[n] = physical;
  }
  return ce::True;
}

ce::BOOL unlockPages(void* address, ce::DWORD size) {
  Machine& m = current();
  if (m.faults().unlockPagesFails) return ce::False;
  if (size == 0) return ce::False;
  std::uint32_t physical;
  return physicalMemory(m).physicalOf(address, physical) ? ce::True : ce::False;
}

}  // namespace handheld

namespace {

// coredll.dll exports LockPages and UnlockPages; the registry hands them out by name.
const bool exportsRegistered = [] {
  handheld::registerExport(u"LockPages", reinterpret_cast<ce::FARPROC>(&handheld::lockPages));
  handheld::registerExport(u"UnlockPages", reinterpret_cast<ce::FARPROC>(&handheld::unlockPages));
  return true;
}();

}  // namespace
