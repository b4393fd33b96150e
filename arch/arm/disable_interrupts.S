@ DisableInterrupts(): sets CPSR bits 7 (I, masks IRQ) and 6 (F, masks FIQ). Privileged modes
@ only; in User mode the control field write is ignored.

        .syntax unified
        .arm
        .text
        .globl  DisableInterrupts
DisableInterrupts:
        mrs     r0, cpsr
        orr     r0, r0, #0xC0
        msr     cpsr_c, r0
        mov     pc, lr
