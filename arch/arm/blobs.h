// The ARM routines of arch/arm/*.S as the bytes the build assembled from them (generated into
// the build folder). Each array holds one position-independent routine; the size is in bytes.
// Register contracts (ARM state, privileged mode):
//
//   secondBootloaderSa11x0, secondBootloaderPxa2x0
//       copied into a page of its own and entered at its first byte with the MMU and caches
//       off: r0 = argument block, r1 = first chain link, r2 = initial stack pointer. Walks the
//       chain and enters the kernel with the argument block's words 1..3 in r0..r2. The PXA-2x0
//       variant moves every destination and the entry to 0xA0000000 | (address & 0x00FFFFFF).
//   flatJumpSa11x0, flatJumpPxa2x0 (r0, r1, r2, r3)
//       mask IRQ/FIQ, MMU and caches off (control register 0x2030), invalidate caches and TLBs,
//       branch to r3 with r0..r2 unchanged.
//   cleanDCache (r0 = flush area, r1 = bytes): reads one word per 32-byte line.
//   readCpsr () -> r0;  readCp15 (r0 = n) -> r0, n in {0,1,2,3,5,6,13,14}, otherwise 0.
//   disableInterrupts (), enableInterrupts (): set / clear CPSR bits I and F (0xC0).
#pragma once
#include <cstddef>

namespace kestrel::arm {

extern const unsigned char secondBootloaderSa11x0[];
extern const std::size_t secondBootloaderSa11x0Size;
extern const unsigned char secondBootloaderPxa2x0[];
extern const std::size_t secondBootloaderPxa2x0Size;
extern const unsigned char flatJumpSa11x0[];
extern const std::size_t flatJumpSa11x0Size;
extern const unsigned char flatJumpPxa2x0[];
extern const std::size_t flatJumpPxa2x0Size;
extern const unsigned char cleanDCache[];
extern const std::size_t cleanDCacheSize;
extern const unsigned char readCpsr[];
extern const std::size_t readCpsrSize;
extern const unsigned char readCp15[];
extern const std::size_t readCp15Size;
extern const unsigned char disableInterrupts[];
extern const std::size_t disableInterruptsSize;
extern const unsigned char enableInterrupts[];
extern const std::size_t enableInterruptsSize;

}  // namespace kestrel::arm
