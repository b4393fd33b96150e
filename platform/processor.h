// Privileged processor routines that the architecture code calls. On a handheld they are the
// ARM routines of arch/arm (MRS/MSR on the CPSR, MRC on CP15, the jump routines); on the
// simulated handheld the machine carries them out on its processor state. All of them
// expect the thread to be in kernel mode (SetKMode, platform/virtual_memory.h): in User
// mode the processor ignores writes to the CPSR's control bits.
#pragma once
#include "platform/types.h"

namespace ce {

// CPSR fields.
constexpr DWORD CpsrModeMask = 0x1F;
constexpr DWORD CpsrModeUser = 0x10;
constexpr DWORD CpsrModeSystem = 0x1F;
constexpr DWORD CpsrIrqFiqMask = 0xC0;  // I (bit 7) and F (bit 6)

// CPSR := CPSR | 0xC0: IRQ and FIQ masked.
void DisableInterrupts();
// CPSR := CPSR & ~0xC0, whatever the bits were before.
void EnableInterrupts();
DWORD ReadCPSR();
// CP15 register n read with opcode1 0, CRm 0, opcode2 0; n is one of 0, 1, 2, 3, 5, 6, 13, 14.
DWORD ReadCP15(int n);
// Reads one word every 32 bytes (one data-cache line) over the first `bytes` bytes of
// `area`, so that every dirty line is evicted and written back. `area` is ordinary,
// cacheable memory at least `bytes` long.
void CleanDCache(const void* area, DWORD bytes);

// Leave the running system: mask IRQ and FIQ, turn the MMU and the caches off, invalidate
// caches and TLBs and branch to r3 (a physical address) with r0, r1 and r2 unchanged. The
// SA-11x0 and PXA-2x0 routines differ in the order of these steps and the PXA-2x0's wait
// for coprocessor writes. They do not return when the jump happens.
void FlatJump_sa11x0(DWORD r0, DWORD r1, DWORD r2, DWORD r3);
void FlatJump_pxa2x0(DWORD r0, DWORD r1, DWORD r2, DWORD r3);

}  // namespace ce
