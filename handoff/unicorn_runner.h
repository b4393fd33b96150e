// Runs the real second-stage bytes (arch/arm/blobs.h) over a captured machine in unicorn and
// compares what they did with the reference walk.
//
// The frames of the machine (and those the walk writes that the image does not have) are
// mapped at their physical addresses, with the MMU off. By default the run starts in the
// family's real jump routine, in System mode with interrupts enabled as the program calls it,
// placed in a free frame outside the machine's memory; it branches to the second stage at r3.
// The run ends when execution leaves the jump routine and the second stage: that address is
// where the kernel was entered. An instruction limit ends a run that never gets there; that,
// a processor exception and an access outside the mapped memory are failures.
#pragma once
#include <cstdint>
#include <string>

#include "handoff/image.h"
#include "handoff/memory.h"
#include "handoff/walk.h"

namespace kestrel::handoff {

struct UnicornOptions {
  std::uint64_t instructionLimit = 200'000'000;
  // false: start at r3 directly, IRQ and FIQ masked, as the jump routine leaves the processor.
  bool viaJumpRoutine = true;
};

struct UnicornResult {
  PhysicalMemory memory;  // every frame of the machine after the run
  // The processor where execution left the hand-off code.
  std::uint32_t pc = 0;
  std::uint32_t r0 = 0, r1 = 0, r2 = 0, sp = 0;
  std::uint32_t cpsr = 0;
  std::uint32_t control = 0;  // CP15 register 1
  std::uint64_t instructions = 0;  // executed before leaving (approximate: counted per block)
  std::string cpu;            // the processor unicorn modelled
};

// The family's second stage and its size.
const unsigned char* secondStage(handheld::Family family, std::size_t& size);

// Puts the family's second stage at r3 unless the image already holds memory there, in which
// case that memory must be those very bytes (the handheld's setupLoader copied them).
bool loadSecondStage(HandoffImage& image, std::string& error);

// Runs `image` (second stage in place) with every frame of `layout` mapped: image frames with
// their contents, the others filled with the image memory's fill byte.
bool runUnicorn(const HandoffImage& image, const PhysicalMemory& layout, UnicornResult& result, std::string& error,
                const UnicornOptions& options = {});

// Compares a run with the walk: entry, r0-r2, sp and every byte of memory; after the jump
// routine also IRQ/FIQ masked and MMU and caches off.
bool compareWithWalk(const UnicornResult& run, const WalkResult& walk, bool viaJumpRoutine, std::string& error);

struct HandoffCheck {
  WalkResult walk;
  UnicornResult run;
};

// All of it: load the second stage, walk, run, compare.
bool checkInUnicorn(const HandoffImage& image, HandoffCheck& check, std::string& error,
                    const UnicornOptions& options = {});

}  // namespace kestrel::handoff
