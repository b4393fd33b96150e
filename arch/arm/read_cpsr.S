@ ReadCPSR() -> r0: the current program status register (mode in bits 0-4, F bit 6, I bit 7).

        .syntax unified
        .arm
        .text
        .globl  ReadCPSR
ReadCPSR:
        mrs     r0, cpsr
        mov     pc, lr
