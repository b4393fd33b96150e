// The loader for 32-bit little-endian ARM ELF executables. Behind the last loadable segment it
// places the kernel symbol block (ksyms), so that the booted kernel finds its own symbols:
//
//   0        the file's ELF header with e_entry, e_phoff and e_phnum 0 and e_shoff 52
//   52       the section header table; sh_offset rewritten to point into this block for the
//            section-name table, .symtab and .strtab, 0 for every other section
//   52 + T   the section-name table, its size rounded up to 4
//   H        .symtab
//   H + S    .strtab (S: .symtab's size rounded up to 4)
//
// Every size and offset of the file is checked against the file before it is used.
#pragma once
#include <cstdint>

#include "load/loader.h"
#include "platform/format.h"
#include "platform/heap.h"

namespace kestrel {

class ElfLoader final : public Loader {
 public:
  static constexpr std::uint32_t HeaderBytes = 52;
  static constexpr std::uint32_t ProgramHeaderBytes = 32;
  static constexpr std::uint32_t SectionHeaderBytes = 40;
  static constexpr std::uint32_t MaxProgramHeaders = 16;

  ElfLoader(ConsoleSlot console, MemoryManagerSlot memory);
  ~ElfLoader() override;

  // Checks the ELF header and every size in it, and reads both header tables.
  bool setFile(FileManagerSlot file) override;
  // Pages that loading will need; prepares the ksyms header on the way. All ones when the
  // symbol block would land outside memory or on a segment.
  std::uint32_t memorySize() override;
  // Every loadable segment, then the ksyms block.
  bool load() override;
  std::uint32_t entryAddress() override;
  // The loadable segments (p_paddr, p_memsz) in table order, then the ksyms block.
  std::vector<AddressRange> destinationRanges() const override;

  bool symbolsPresent() const { return symbolsPresent_; }
  const std::uint8_t* ksymsHeader() const { return ksymsHeader_.get(); }
  std::uint32_t ksymsHeaderSize() const { return ksymsHeaderSize_; }

 private:
  struct Segment {
    std::uint32_t type, offset, vaddr, paddr, filesz, memsz;
  };
  // Where one piece of the kernel lands, as the second stage writes it.
  struct Placed {
    AddressRange range;
    int segment;  // -1: the symbol block
  };
  Segment segment(std::uint32_t i) const;
  std::uint32_t field16(std::uint32_t offset) const;
  std::uint32_t field32(std::uint32_t offset) const;
  bool checkSegments();
  // Every loadable segment wholly inside the DRAM banks (after the family's rebasing), no two
  // of them on the same bytes, and the entry point inside one of them.
  bool checkDestinations();
  // Appends where [start, start + length) lands; false when the second stage would fold it
  // onto itself.
  bool place(std::vector<Placed>& out, int segment, std::uint64_t start, std::uint64_t length) const;
  bool checkPlaced(const std::vector<Placed>& placed, std::size_t from);
  // The ksyms block's size K, or 0 when there is none.
  std::uint32_t prepareKsyms();
  // Where the ksyms block goes: behind the last loadable segment in table order; false when
  // there is none.
  bool ksymsAddress(std::uint64_t& address) const;
  void noSymbols();
  // A line about the symbol tables, kept until the size line they are found in is complete.
  template <typename... Args>
  void note(const char16_t* format, const Args&... args) {
    ce::format(note_, sizeof note_ / sizeof note_[0], format, args...);
  }

  std::uint8_t header_[HeaderBytes] = {};
  ce::HeapPtr<std::uint8_t> programHeaders_;
  ce::HeapPtr<std::uint8_t> sectionHeaders_;
  bool symbolsPresent_ = false;
  ce::HeapPtr<std::uint8_t> ksymsHeader_;
  std::uint32_t ksymsHeaderSize_ = 0;
  // The copied section headers of .strtab and .symtab (offsets into the ksyms header) and the
  // tables' offsets in the file.
  std::uint32_t stringTableHeader_ = 0, stringTableOffset_ = 0;
  std::uint32_t symbolTableHeader_ = 0, symbolTableOffset_ = 0;
  std::uint32_t fileSize_ = 0;  // what the file delivers, decompressed
  std::vector<Placed> placed_;
  char16_t note_[160] = {};  // where the segments land, from checkDestinations
};

}  // namespace kestrel
