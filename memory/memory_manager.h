// The memory manager gathers, while Windows CE still runs, the physical pages that the kernel,
// the file-system image, the boot arguments, the second stage and its stack end up in. It
// commits one uncached region, asks the subclass for the physical address of every page of it,
// and hands pages out from the front (the loader's chain) and from the top (boot arguments,
// second stage, stack). It also maps device registers for the serial consoles and keeps the
// DRAM banks the architecture reports.
#pragma once
#include <cstdint>
#include <vector>

#include "console/console.h"
#include "console/register_mapper.h"

namespace kestrel {

struct MemoryBank {
  std::uint32_t start = 0;
  std::uint32_t size = 0;
};

// [start, start + length) of an address space.
struct AddressRange {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
};

// One page of the region: where the program sees it and where it is in physical memory.
struct TranslationEntry {
  std::uintptr_t virtualAddress;
  std::uint32_t physicalAddress;
};

class MemoryManager : public RegisterMapper {
 public:
  static constexpr int MaxBanks = 16;
  // "No physical address": physical addresses are page-aligned, so this is never one.
  static constexpr std::uint32_t NoPhysical = 0xFFFFFFFFu;

  MemoryManager(ConsoleSlot console, std::uint32_t pageSize);

  // Physical address of the page that holds `address`, page-aligned, or NoPhysical.
  virtual std::uint32_t virtualToPhysical(std::uintptr_t address) = 0;
  virtual ~MemoryManager();
  virtual bool init();

  MemoryManager(const MemoryManager&) = delete;
  MemoryManager& operator=(const MemoryManager&) = delete;

  std::uint32_t pageSize() const { return pageSize_; }
  std::uint32_t pageShift() const { return pageShift_; }

  // Commits a region of at least `size` bytes and records every page's physical address.
  // With physical ranges set aside, pages whose frame lies in one of them stay committed but
  // are never handed out, and further regions are committed while fewer usable pages than
  // asked for remain.
  bool reservePages(std::uint32_t size);
  // Physical ranges no page may be handed out from: where the second stage will copy the
  // kernel to, so that the chain never overwrites what it has yet to read. Takes effect at
  // the next reservePages.
  void setAside(std::vector<AddressRange> ranges);
  // Pages of the committed regions that the set-aside ranges kept back.
  std::uint32_t setAsidePages() const { return setAsidePages_; }
  // Appends a DRAM bank; false (with a message) once the table is full.
  bool addBank(std::uint32_t start, std::uint32_t size);
  // The next page from the front.
  bool getPage(std::uintptr_t& virtualAddress, std::uint32_t& physicalAddress);
  // The highest page still free.
  bool getTopPage(std::uintptr_t& virtualAddress, std::uint32_t& physicalAddress);
  // A page from the front whose first 16 bytes are a chain link (zeroed) and the rest data.
  bool getLinkPage(std::uintptr_t& dataVirtual, std::uint32_t& dataPhysical, std::uintptr_t& linkVirtual,
                   std::uint32_t& linkPhysical);
  // The serial consoles' register windows (RegisterMapper).
  void* mapPhysical(std::uint32_t address, std::uint32_t size, std::uint32_t protection) override;
  void unmapPhysical(void* pointer) override;

  int bankCount() const { return bankCount_; }
  const MemoryBank& bank(int i) const { return banks_[i]; }
  void* regionBase() const { return regionBase_; }
  // Entries of the translation table (pages requested by reservePages) and how many of the
  // leading ones are mapped and not yet handed out from the top.
  std::uint32_t tableEntries() const { return tableEntries_; }
  int mappedCount() const { return mappedCount_; }
  int nextPage() const { return nextPage_; }
  const TranslationEntry* translationTable() const { return table_; }

 protected:
  Console& console() const { return **console_; }

 private:
  void releaseRegion();
  bool isSetAside(std::uint32_t physical) const;
  // Appends the usable pages of the region at `base` to the table; false when a page had no
  // physical address (gathering ends there).
  bool gather(std::uintptr_t base, std::uint32_t pages);

  ConsoleSlot console_;
  std::uint32_t pageSize_;
  std::uint32_t pageShift_;
  MemoryBank banks_[MaxBanks];
  int bankCount_ = 0;
  void* regionBase_ = nullptr;
  int mappedCount_ = 0;
  TranslationEntry* table_ = nullptr;  // platform heap
  std::uint32_t tableEntries_ = 0;
  int nextPage_ = 0;
  std::vector<AddressRange> setAside_;
  bool setAsideActive_ = false;
  std::uint32_t setAsidePages_ = 0;
  std::vector<void*> moreRegions_;  // committed after the first while pages were set aside
};

// The location of the boot object's memory-manager pointer, read at each use.
using MemoryManagerSlot = MemoryManager* const*;

}  // namespace kestrel
