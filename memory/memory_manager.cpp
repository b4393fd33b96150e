#include "memory/memory_manager.h"

#include <bit>
#include <cstring>

#include "platform/heap.h"
#include "platform/virtual_memory.h"

namespace kestrel {

namespace {
// Windows CE reserves address space in 64 KiB units.
constexpr std::uint64_t AllocationGranularity = 65536;
// Bytes per translation entry as the table's size is reported (a virtual and a physical word).
constexpr std::uint32_t ReportedEntryBytes = 8;
}  // namespace

MemoryManager::MemoryManager(ConsoleSlot console, std::uint32_t pageSize)
    : console_(console), pageSize_(pageSize), pageShift_(static_cast<std::uint32_t>(std::countr_zero(pageSize))) {}

MemoryManager::~MemoryManager() { releaseRegion(); }

bool MemoryManager::init() { return true; }

void MemoryManager::releaseRegion() {
  if (regionBase_) ce::VirtualFree(regionBase_, 0, ce::MemRelease);
  regionBase_ = nullptr;
  for (void* region : moreRegions_) ce::VirtualFree(region, 0, ce::MemRelease);
  moreRegions_.clear();
  setAsidePages_ = 0;
  ce::LocalFree(table_);
  table_ = nullptr;
  tableEntries_ = 0;
  mappedCount_ = 0;
  nextPage_ = 0;
}

bool MemoryManager::reservePages(std::uint32_t size) {
  if (size == 0) return false;
  releaseRegion();  // a second call starts over rather than leaking the first region

  const std::uint64_t count = (std::uint64_t{size} + pageSize_ - 1) / pageSize_;
  table_ = ce::heapNewArray<TranslationEntry>(count);
  if (!table_) {
    console().print(u"can't allocate memory for translation table.\n");
    return false;
  }
  tableEntries_ = static_cast<std::uint32_t>(count);
  console().print(u"address translation table %d pages. (0x%x bytes)\n", static_cast<int>(count),
                  static_cast<std::uint32_t>(count * ReportedEntryBytes));

  const std::uint64_t bytes = (count * pageSize_ + AllocationGranularity - 1) / AllocationGranularity * AllocationGranularity;
  void* base = bytes <= 0xFFFFFFFFu ? ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(bytes), ce::MemCommit,
                                                       ce::PageReadWrite | ce::PageNoCache)
                                    : nullptr;
  if (!base) {
    console().print(u"can't allocate memory\n");
    releaseRegion();
    return false;
  }
  regionBase_ = base;
  mappedCount_ = 0;

  bool complete = gather(reinterpret_cast<std::uintptr_t>(base), tableEntries_);
  // Pages kept back under the kernel are made up for by further regions. The first request
  // stays what it was; each further one asks for the pages still missing.
  while (complete && setAsideActive_ && static_cast<std::uint32_t>(mappedCount_) < tableEntries_) {
    const std::uint64_t missing = tableEntries_ - static_cast<std::uint32_t>(mappedCount_);
    const std::uint64_t more =
        (missing * pageSize_ + AllocationGranularity - 1) / AllocationGranularity * AllocationGranularity;
    void* region = more <= 0xFFFFFFFFu ? ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(more), ce::MemCommit,
                                                          ce::PageReadWrite | ce::PageNoCache)
                                       : nullptr;
    if (!region) {
      // The handheld has no more pages outside what the kernel will occupy: a kernel this
      // big cannot be booted here, and saying so now names the cause, which running out of
      // pages at a later step would not.
      console().print(u"can't allocate memory\n");
      console().print(u"memory request 0x%x bytes, but only 0x%x bytes could be gathered outside the kernel's "
                      u"destination.\n",
                      size, static_cast<std::uint32_t>(std::uint64_t{static_cast<std::uint32_t>(mappedCount_)} * pageSize_));
      releaseRegion();
      return false;
    }
    moreRegions_.push_back(region);
    complete = gather(reinterpret_cast<std::uintptr_t>(region), static_cast<std::uint32_t>(more / pageSize_));
  }
  console().print(u"allocated %d page. mapped %d page.\n", static_cast<int>(tableEntries_), mappedCount_);
  if (setAsideActive_) console().print(u"set aside %d pages under the kernel.\n", static_cast<int>(setAsidePages_));
  return true;
}

bool MemoryManager::gather(std::uintptr_t base, std::uint32_t pages) {
  for (std::uint32_t i = 0; i < pages && static_cast<std::uint32_t>(mappedCount_) < tableEntries_; ++i) {
    std::uintptr_t v = base + std::uintptr_t{i} * pageSize_;
    std::uint32_t p = virtualToPhysical(v);
    if (p == NoPhysical) {
      console().print(u"page#%d not found\n", static_cast<int>(mappedCount_ + setAsidePages_));
      return false;
    }
    if (setAsideActive_ && isSetAside(p)) {
      ++setAsidePages_;
      continue;
    }
    table_[mappedCount_] = {v, p};
    ++mappedCount_;
  }
  return true;
}

void MemoryManager::setAside(std::vector<AddressRange> ranges) {
  setAside_ = std::move(ranges);
  setAsideActive_ = true;
}

bool MemoryManager::isSetAside(std::uint32_t physical) const {
  const std::uint64_t start = physical, end = start + pageSize_;
  for (const AddressRange& r : setAside_) {
    if (r.length > 0 && start < std::uint64_t{r.start} + r.length && r.start < end) return true;
  }
  return false;
}

bool MemoryManager::addBank(std::uint32_t start, std::uint32_t size) {
  if (bankCount_ >= MaxBanks) {
    console().print(u"too many memory banks. 0x%08x size 0x%08x ignored.\n", start, size);
    return false;
  }
  banks_[bankCount_++] = {start, size};
  console().print(u"[%d] 0x%08x size 0x%08x\n", bankCount_ - 1, start, size);
  return true;
}

bool MemoryManager::getPage(std::uintptr_t& virtualAddress, std::uint32_t& physicalAddress) {
  if (!table_ || nextPage_ >= mappedCount_) {
    console().print(u"page insufficient.\n");
    return false;
  }
  virtualAddress = table_[nextPage_].virtualAddress;
  physicalAddress = table_[nextPage_].physicalAddress;
  ++nextPage_;
  return true;
}

bool MemoryManager::getTopPage(std::uintptr_t& virtualAddress, std::uint32_t& physicalAddress) {
  if (!table_ || nextPage_ >= mappedCount_) return false;
  --mappedCount_;
  virtualAddress = table_[mappedCount_].virtualAddress;
  physicalAddress = table_[mappedCount_].physicalAddress;
  return true;
}

bool MemoryManager::getLinkPage(std::uintptr_t& dataVirtual, std::uint32_t& dataPhysical,
                                std::uintptr_t& linkVirtual, std::uint32_t& linkPhysical) {
  std::uintptr_t v;
  std::uint32_t p;
  if (!getPage(v, p)) return false;
  std::memset(reinterpret_cast<void*>(v), 0, 16);
  linkVirtual = v;
  linkPhysical = p;
  dataVirtual = v + 16;
  dataPhysical = p + 16;
  return true;
}

void* MemoryManager::mapPhysical(std::uint32_t address, std::uint32_t size, std::uint32_t protection) {
  const std::uint64_t mask = pageSize_ - 1;
  const std::uint64_t start = address & ~mask;
  const std::uint64_t end = (std::uint64_t{address} + size + mask) & ~mask;
  void* reserved = nullptr;
  if (end <= 0x100000000ull)
    reserved = ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(end - start), ce::MemReserve, ce::PageNoAccess);
  if (reserved) {
    void* source = reinterpret_cast<void*>(static_cast<std::uintptr_t>(start >> 8));
    if (ce::VirtualCopy(reserved, source, static_cast<ce::DWORD>(end - start),
                        protection | ce::PagePhysical | ce::PageNoCache))
      return static_cast<std::uint8_t*>(reserved) + (address - start);
    // Nothing is left reserved behind a mapping that did not happen.
    ce::VirtualFree(reserved, 0, ce::MemRelease);
  }
  console().print(u"can't map physical address 0x%08x\n", address);
  return mapFailed();
}

void MemoryManager::unmapPhysical(void* pointer) {
  auto base = reinterpret_cast<std::uintptr_t>(pointer) & ~std::uintptr_t{pageSize_ - 1};
  if (!ce::VirtualFree(reinterpret_cast<void*>(base), 0, ce::MemRelease)) console().print(u"can't release memory\n");
}

}  // namespace kestrel
