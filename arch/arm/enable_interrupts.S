@ EnableInterrupts(): clears CPSR bits 7 (I) and 6 (F), whatever their state before.

        .syntax unified
        .arm
        .text
        .globl  EnableInterrupts
EnableInterrupts:
        mrs     r0, cpsr
        bic     r0, r0, #0xC0
        msr     cpsr_c, r0
        mov     pc, lr
