@ FlatJump_sa11x0(r0, r1, r2, r3): leaves Windows CE on an SA-11x0. Masks IRQ and FIQ, turns
@ the MMU, the caches and the write buffer off, drops every cached line and TLB entry and
@ branches to r3 (the second stage's physical address) with r0, r1 and r2 untouched.
@
@ Called in a privileged mode (the thread has been switched to kernel mode). Once the MMU is
@ off the next instruction is fetched at the same address, now a physical one: the caller runs
@ this code from an address that means the same with the MMU on and off (the emulated hand-off
@ enters it with the MMU already off). Only r12 is used as scratch, so nothing of the caller's
@ r0..r3 is lost.

        .syntax unified
        .arm
        .text
        .globl  FlatJump_sa11x0
FlatJump_sa11x0:
        mrs     r12, cpsr
        orr     r12, r12, #0xC0         @ CPSR bit 7 (I) masks IRQ, bit 6 (F) masks FIQ
        msr     cpsr_c, r12

        @ Control register 0x2030: M (bit 0, MMU), A (1, alignment fault), C (2, D-cache),
        @ W (3, write buffer), B (7, big-endian) and I (12, I-cache) clear; P and D (4, 5) set,
        @ as the SA-1110 requires of these should-be-one bits; V (13) set: exception vectors at
        @ 0xFFFF0000, away from the kernel's image at the bottom of DRAM.
        mov     r12, #0x2000
        orr     r12, r12, #0x30
        mcr     p15, 0, r12, c1, c0, 0

        mov     r12, #0
        mcr     p15, 0, r12, c7, c7, 0  @ c7, CRm 7, op2 0: invalidate I- and D-cache
        mcr     p15, 0, r12, c8, c7, 0  @ c8, CRm 7, op2 0: invalidate I- and D-TLB
        mov     pc, r3
