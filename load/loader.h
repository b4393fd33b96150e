// The loader copies a kernel, piece by piece, into whatever pages the memory manager hands out
// and records for every piece where it must finally lie: a chain of 16-byte links in physical
// memory that the second stage walks with the MMU off, copying and clearing as it goes.
//
// ChainLink, little-endian words at a 16-byte boundary:
//   +0 next         physical address of the next link; 0xFFFFFFFF in the last one
//   +4 source       physical address of the bytes; 0xFFFFFFFF in a zero-clear link
//   +8 destination  where the bytes go
//   +12 length      bytes to copy or clear
//
// Every page comes from getLinkPage: a link in its first 16 bytes, a payload of data behind.
// The chain's first page is special: its link is the first link and its payload is a pool of
// zero-clear links. When that pool runs out the next page from the front becomes the pool, all
// 4096 bytes of it; a pool link is a link like any other, so the format does not change.
#pragma once
#include <cstdint>
#include <vector>

#include "console/console.h"
#include "file/file_manager.h"
#include "memory/destination_map.h"
#include "memory/memory_manager.h"

namespace kestrel {

// The location of the boot object's file-manager pointer.
using FileManagerSlot = FileManager* const*;

constexpr std::uint32_t ChainLinkBytes = 16;
constexpr std::uint32_t ChainEnd = 0xFFFFFFFFu;   // `next` of the last link
constexpr std::uint32_t ZeroSource = 0xFFFFFFFFu; // `source` of a zero-clear link
// What realSize answers for a file that cannot be read to its end: never a size to load.
constexpr std::uint32_t DamagedSize = 0xFFFFFFFFu;

class Loader {
 public:
  Loader(ConsoleSlot console, MemoryManagerSlot memory);
  virtual ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // Remembers the file manager the slot holds (the open kernel).
  virtual bool setFile(FileManagerSlot file);
  // Bytes of pages that loading needs, link overhead included.
  virtual std::uint32_t memorySize() = 0;
  virtual bool load() = 0;
  virtual std::uint32_t entryAddress() = 0;
  // Every range the kernel's pieces are copied or cleared to, in recording order, known once
  // setFile and memorySize have run: what the memory manager must keep its pages out of.
  virtual std::vector<AddressRange> destinationRanges() const { return {}; }

  // Where the family's second stage writes a destination; the loader checks every one against
  // the memory manager's DRAM banks through it. Without one, destinations are taken as given.
  void setDestinationMap(const DestinationMap* map) { destinations_ = map; }
  const DestinationMap& destinationMap() const { return destinations_ ? *destinations_ : identityDestinations(); }

  // Whether the file's first bytes are the ELF magic.
  static bool isElfFile(FileManager& file);

  // Records the whole open file (the file-system image) behind everything loaded so far, at
  // the next 4096-byte boundary.
  bool loadImage();
  // Ends the chain at the link filled last and prints the link counts.
  void finishChain();
  std::uint32_t firstLinkAddress() const { return firstLink_; }

  int loadLinkCount() const { return loadLinks_; }
  int zeroLinkCount() const { return zeroLinks_; }
  // Destination + length of the last region recorded.
  std::uint32_t end() const { return end_; }
  // True after a page ran out or a read failed.
  bool failed() const { return error_ || readError_; }

 protected:
  Console& console() const { return **console_; }
  MemoryManager& memory() const { return **memory_; }
  FileManager* file() const { return file_; }

  void beginChain();
  void loadRegion(std::uint32_t destination, std::uint32_t memorySize, std::uint32_t fileOffset,
                  std::uint32_t fileSize);
  void loadBuffer(std::uint32_t destination, std::uint32_t size, const void* source);

 private:
  // A new data page for n bytes: `fileOffset` read from the file, or `source` copied when it is
  // not null. Fills the current link to describe it.
  bool dataPage(std::uint32_t destination, std::uint32_t n, std::uint32_t fileOffset, const void* source);
  bool takePoolPage();
  static void putLink(std::uintptr_t link, std::uint32_t next, std::uint32_t source, std::uint32_t destination,
                      std::uint32_t length);

  std::uintptr_t currentLink_ = 0;
  std::uintptr_t previousLink_ = 0;
  std::uintptr_t poolVirtual_ = 0;   // next free zero-clear link
  std::uint32_t poolPhysical_ = 0;
  std::uintptr_t poolEnd_ = 0;       // end of the current pool page
  int loadLinks_ = 0;
  int zeroLinks_ = 0;
  std::uint32_t payload_ = 0;
  bool error_ = false;      // no page was available
  bool readError_ = false;  // a read delivered less than asked for
  bool readingImage_ = false;
  ConsoleSlot console_;
  MemoryManagerSlot memory_;
  FileManager* file_ = nullptr;
  std::uint32_t firstLink_ = 0;
  std::uint32_t end_ = 0;
  const DestinationMap* destinations_ = nullptr;
};

}  // namespace kestrel
