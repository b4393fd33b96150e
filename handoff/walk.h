// The reference walk: what the second stage does to a machine captured at the jump, computed
// in C++ word by word in the order the ARM routine does it (arch/arm/second_bootloader.S), so
// that an emulator's result can be compared with it and a chain can be checked against the
// kernel file without running anything.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "handoff/image.h"
#include "handoff/memory.h"

namespace kestrel::handoff {

// The PXA-2x0 second stage moves destinations and the entry into the first 16 MiB of DRAM at
// 0xA0000000: 0xA0000000 | (address & 0x00FFFFFF). SA-11x0 uses addresses as given.
std::uint32_t rebase(handheld::Family family, std::uint32_t address);

// One link as the walk processed it; destination already rebased. `stored` is the number of
// bytes written: whole words, at least one.
struct WalkedLink {
  std::uint32_t at = 0;  // the link's own physical address
  std::uint32_t source = 0, destination = 0, length = 0;
  std::uint32_t stored = 0;
  bool zero() const { return source == 0xFFFFFFFFu; }
};

struct WalkResult {
  PhysicalMemory memory;  // the image's memory after the chain has been processed
  std::vector<WalkedLink> links;
  // What the kernel is entered with.
  std::uint32_t entry = 0;
  std::uint32_t r0 = 0, r1 = 0, r2 = 0;
  std::uint32_t sp = 0;
};

// More bytes stored than this (twice the largest DRAM of the supported handhelds) is taken for
// a chain that makes no sense; it keeps a hostile image from filling the host's memory or
// keeping the tools busy for hours.
constexpr std::uint64_t MaxChainBytes = std::uint64_t{256} << 20;

struct WalkOptions {
  // More links than this is taken for a chain that loops.
  std::size_t maxLinks = 1u << 20;
  std::uint64_t maxStoredBytes = MaxChainBytes;
};

// Walks the chain of `image` (first link r1, argument block r0, stack r2). Refuses, with one
// lower-case line in `error`, what the ARM routine could not do sensibly: a link, source or
// argument block outside the image's memory; a link, source or destination that is not
// word aligned; a destination range that passes 4 GiB; a destination range over the second
// stage's own page (r3); more than maxLinks links or maxStoredBytes stored.
bool walkChain(const HandoffImage& image, WalkResult& result, std::string& error, const WalkOptions& options = {});

}  // namespace kestrel::handoff
