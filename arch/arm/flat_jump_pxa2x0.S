@ FlatJump_pxa2x0(r0, r1, r2, r3): leaves Windows CE on a PXA-2x0 (XScale). Masks IRQ and FIQ,
@ invalidates the caches and the branch target buffer, turns the MMU and caches off, drops the
@ TLBs and branches to r3 (the second stage's physical address) with r0, r1 and r2 untouched.
@
@ XScale applies a CP15 write only some cycles later; each write that the following code
@ depends on is followed by a wait: a no-op and a branch to the next instruction, which
@ drains the pipeline and refetches. As on SA-11x0, the caller runs this code from an address
@ that means the same with the MMU on and off, and only r12 is scratch.

        .syntax unified
        .arm
        .text
        .globl  FlatJump_pxa2x0
FlatJump_pxa2x0:
        mrs     r12, cpsr
        orr     r12, r12, #0xC0         @ CPSR bit 7 (I) masks IRQ, bit 6 (F) masks FIQ
        msr     cpsr_c, r12

        mov     r12, #0
        mcr     p15, 0, r12, c7, c7, 0  @ c7, CRm 7, op2 0: invalidate I-, D-cache and BTB
        mov     r0, r0                  @ wait for the write to take effect
        b       1f
1:
        @ Control register 0x2030: MMU, alignment fault, D-cache, write buffer, big-endian and
        @ I-cache off; bits 4 and 5 kept set; V (bit 13): vectors at 0xFFFF0000.
        mov     r12, #0x2000
        orr     r12, r12, #0x30
        mcr     p15, 0, r12, c1, c0, 0
        mov     r12, #0
        mcr     p15, 0, r12, c8, c7, 0  @ c8, CRm 7, op2 0: invalidate I- and D-TLB
        mov     r0, r0                  @ wait again
        b       2f
2:
        mov     pc, r3
