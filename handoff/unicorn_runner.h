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
//
// With `runKernel` the run goes on into the kernel: the board's console UART (SA-11x0 UART 3
// at 0x80050000, PXA-2x0 FFUART at 0x40100000) always has room and hands every transmitted
// byte to the output, and ARM semihosting (`svc 0x123456`: SYS_WRITEC, SYS_WRITE0, SYS_EXIT,
// SYS_EXIT_EXTENDED) is served, so that a kernel like the probe reports and exits.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "handoff/image.h"
#include "handoff/memory.h"
#include "handoff/walk.h"

namespace kestrel::handoff {

struct UnicornOptions {
  std::uint64_t instructionLimit = 200'000'000;
  // false: start at r3 directly, IRQ and FIQ masked, as the jump routine leaves the processor.
  bool viaJumpRoutine = true;
  // Go on into the kernel after the hand-off; ends at its semihosting exit.
  bool runKernel = false;
  std::uint64_t kernelInstructionLimit = 1'000'000'000;
  // Wall-clock bound of each part (the hand-off, then the kernel) in seconds; 0: none.
  double timeoutSeconds = 0;
  // Receives the kernel's UART and semihosting output; the result keeps it as well.
  std::function<void(std::string_view)> output;
};

// How the kernel's part of a run ended (runKernel only).
struct KernelRun {
  bool exited = false;   // through semihosting
  int status = -1;       // 0 for ADP_Stopped_ApplicationExit (with status 0), 1 otherwise
  std::string output;    // everything it transmitted
  std::string error;     // why it did not exit: an exception, an access outside memory, the limit
  bool timedOut = false;  // stopped at UnicornOptions::timeoutSeconds
};

struct UnicornResult {
  PhysicalMemory memory;  // every frame of the machine after the run
  // The processor where execution left the hand-off code.
  std::uint32_t pc = 0;
  std::uint32_t r0 = 0, r1 = 0, r2 = 0, sp = 0;
  std::uint32_t cpsr = 0;
  std::uint32_t control = 0;  // CP15 register 1
  std::uint64_t instructions = 0;  // executed before the entry (counted per block entered)
  std::string cpu;            // the processor unicorn modelled
  bool timedOut = false;      // the hand-off itself was stopped at UnicornOptions::timeoutSeconds
  KernelRun kernel;
};

// The family's second stage and its size.
const unsigned char* secondStage(handheld::Family family, std::size_t& size);

// Puts the family's second stage at r3 unless the image already holds memory there, in which
// case that memory must be those very bytes (the handheld's setupLoader copied them).
bool loadSecondStage(HandoffImage& image, std::string& error);

// Runs `image` (second stage in place) with every frame of `layout` mapped: image frames with
// their contents, the others filled with the image memory's fill byte. The result's memory and
// registers are those at the kernel's entry. False only when the hand-off itself failed.
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
