// The handheld's physical memory and the program's view of it.
//
// DRAM is an array of 4 KiB frames at their physical addresses (the profile's banks). The
// simulated Windows CE holds some of them (the first 2 MiB of the first bank and a scattered
// share of the rest); the others are free. No frame starts out zero: each holds what Windows
// CE left behind, a pattern derived from the machine's seed and the frame's address, so a
// clear or a copy that never happened shows.
//
// A committed region (VirtualAlloc with MemCommit) is host memory, contiguous and page-aligned
// in the program's address space, whose pages are backed by free frames taken in the machine's
// page order. While the region lives the frame's bytes *are* the page's bytes: a write through
// the virtual address is what the frame holds, and a write by physical address shows at the
// virtual one. When the region is released the frames keep their contents and become free.
//
// A reservation (MemReserve without MemCommit) has no frames. VirtualCopy maps physical pages
// into it; accesses through mmioRead8/mmioWrite8/mmioRead32/mmioWrite32 then reach the device
// registered for the physical address, or the DRAM frame behind it.
//
// The hand-off image is written from here: the frames the program holds (enumerated with their
// physical address and contents) and reads of physical memory by address.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/handheld/machine.h"
#include "platform/types.h"

namespace handheld {

enum class FrameUse : std::uint8_t {
  Free,       // nobody holds it; still what its last owner left in it
  System,     // the simulated Windows CE's own memory; never handed out
  Committed,  // backs a page of a committed region of the program
};

// A device's registers, one byte wide each (both UART families place 8-bit registers at word
// addresses). The hooks get the physical address of the access.
struct MmioDevice {
  std::function<std::uint8_t(std::uint32_t physical)> read8;
  std::function<void(std::uint32_t physical, std::uint8_t value)> write8;
};

class PhysicalMemory {
 public:
  static constexpr std::uint32_t FrameSize = 4096;
  // Windows CE keeps the lowest 2 MiB of the first bank (its kernel and object store).
  static constexpr std::uint32_t SystemLowBytes = 2u << 20;
  // ... and one frame in SystemShare of the rest, scattered.
  static constexpr std::uint32_t SystemShare = 8;
  // Kernels are linked 2 MiB above the first bank's start; the hostile order hands out the
  // frames of this window first, lowest first, so the chain's own pages sit exactly where the
  // second stage will copy the kernel to.
  static constexpr std::uint32_t KernelWindowBytes = 16u << 20;

  PhysicalMemory(const std::vector<DramBank>& banks, PageOrder order, std::uint32_t seed);
  ~PhysicalMemory();
  PhysicalMemory(const PhysicalMemory&) = delete;
  PhysicalMemory& operator=(const PhysicalMemory&) = delete;

  // --- physical side -------------------------------------------------------------------

  const std::vector<DramBank>& banks() const { return banks_; }
  std::size_t frameCount() const { return frames_.size(); }
  std::size_t freeFrameCount() const;
  // True when [physical, physical + length) lies in populated DRAM (one bank or adjacent ones).
  bool isDram(std::uint32_t physical, std::uint32_t length = 1) const;
  // Use of the frame that holds `physical`; Free for addresses outside DRAM as well.
  FrameUse frameUse(std::uint32_t physical) const;
  // The free frames' physical addresses in the order the next commit takes them.
  std::vector<std::uint32_t> handOutOrder() const;

  // The 4096 bytes of the frame that holds `physical` (null outside DRAM). The pointer stays
  // valid until the frame changes hands (a commit or a release).
  std::uint8_t* frameData(std::uint32_t physical);
  // Copies between physical memory and the host; false (nothing copied) unless the whole
  // range is DRAM.
  bool read(std::uint32_t physical, void* out, std::uint32_t length);
  bool write(std::uint32_t physical, const void* in, std::uint32_t length);

  // Every frame the program holds, ascending by physical address.
  void forEachCommittedFrame(const std::function<void(std::uint32_t physical, const std::uint8_t* data)>& visit);

  // What Windows CE left in the 32-bit word at `physical` (a word-aligned address): never 0,
  // and no byte of it is 0.
  std::uint32_t residue(std::uint32_t physical) const;

  // --- the program's address space -----------------------------------------------------

  // Committed region of `size` bytes (rounded up to pages), or null when there are not enough
  // free frames.
  void* commit(std::uint32_t size, std::uint32_t protect);
  // Reservation without frames, or null.
  void* reserve(std::uint32_t size);
  // Releases the region or reservation that starts exactly at `base`.
  bool release(void* base);
  // Gives the frames of the committed pages in [address, address + size) back; the pages stay
  // reserved.
  bool decommit(void* address, std::uint32_t size);
  // Maps `size` bytes of physical memory from `physical` (page-aligned) into the reservation at
  // `destination` (page-aligned).
  bool mapPhysical(void* destination, std::uint32_t physical, std::uint32_t size);
  // Maps the frames behind the committed pages at `source` into the reservation at
  // `destination`.
  bool mapVirtual(void* destination, const void* source, std::uint32_t size);

  // Physical address of the page holding `address` (committed or mapped), page-aligned; false
  // when the page has none.
  bool physicalOf(const void* address, std::uint32_t& physical) const;

  // mmio accesses (see above). Addresses outside every region are ordinary host memory.
  std::uint8_t mmioRead8(const volatile void* address);
  void mmioWrite8(volatile void* address, std::uint8_t value);
  std::uint32_t mmioRead32(const volatile void* address);
  void mmioWrite32(volatile void* address, std::uint32_t value);

  void registerDevice(std::uint32_t physBase, std::uint32_t size, MmioDevice device);

  // Counts a LockPages call against Faults::lockPagesFailAt (counted since that value was last
  // changed); true for the call that is to fail.
  bool lockCallFails(long failAt);

 private:
  struct Frame {
    std::uint32_t physical = 0;
    FrameUse use = FrameUse::Free;
    std::uint8_t* live = nullptr;          // where the bytes are now; null: still the residue
    std::unique_ptr<std::uint8_t[]> own;   // the bytes while no region page holds them
  };
  static constexpr std::uint32_t NoFrame = 0xFFFFFFFFu;
  struct Region {
    std::uintptr_t base = 0;
    std::uint32_t size = 0;  // page multiple
    std::uint8_t* memory = nullptr;
    // Per page: index of the backing frame (committed pages) or NoFrame.
    std::vector<std::uint32_t> frames;
    // Per page of a reservation: the mapped physical address, or NoFrame when unmapped.
    std::vector<std::uint32_t> mapped;
    bool committed = false;
  };
  struct Device {
    std::uint32_t base, size;
    MmioDevice hooks;
  };

  std::uint32_t frameIndex(std::uint32_t physical) const;  // NoFrame outside DRAM
  std::uint8_t residueByte(std::uint32_t physical) const;
  void materialise(Frame& frame);
  void detach(Frame& frame);  // the bytes move from a region page into the frame's own storage
  Region* regionAt(std::uintptr_t address);
  const Region* regionAt(std::uintptr_t address) const;
  Region* regionStarting(std::uintptr_t base);
  // Resolves an mmio address: true and `physical` when it lies in a mapped page, with `region`
  // set whenever it lies in a region at all.
  bool resolve(std::uintptr_t address, Region*& region, std::uint32_t& physical);
  const Device* deviceAt(std::uint32_t physical) const;
  std::uint8_t readPhysical8(std::uint32_t physical);
  void writePhysical8(std::uint32_t physical, std::uint8_t value);

  std::vector<DramBank> banks_;
  std::vector<Frame> frames_;        // ascending physical address
  std::vector<std::uint32_t> order_; // frame indices in hand-out order (System frames excluded)
  std::uint64_t seed_;
  std::map<std::uintptr_t, Region> regions_;  // by base
  std::vector<Device> devices_;
  long lockArmed_ = 0, lockCounted_ = 0;
};

// The current machine's physical memory, made at first use from its profile and page order.
PhysicalMemory& physicalMemory();
PhysicalMemory& physicalMemory(Machine& machine);

// Plugs a device's registers in at [physBase, physBase + size) of the current machine.
void registerMmioDevice(std::uint32_t physBase, std::uint32_t size,
                        std::function<std::uint8_t(std::uint32_t physical)> read8,
                        std::function<void(std::uint32_t physical, std::uint8_t value)> write8);

// coredll.dll's LockPages and UnlockPages on the current machine (ce::LockPagesFn and
// ce::UnlockPagesFn); the export registry hands these out by name.
ce::BOOL lockPages(void* address, ce::DWORD size, ce::DWORD* frames, int flags);
ce::BOOL unlockPages(void* address, ce::DWORD size);

}  // namespace handheld
