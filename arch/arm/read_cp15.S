@ ReadCP15(r0 = n) -> r0: CP15 register n read with opcode1 0, CRm 0, opcode2 0, for n = 0 (ID),
@ 1 (control), 2 (translation table base), 3 (domain access), 5 (fault status), 6 (fault
@ address), 13 (process ID) and 14 (debug/breakpoint). The register number is part of the MRC
@ instruction, so n selects one entry of a table; every other n returns 0 without touching
@ CP15 (on SA-11x0 reading c7..c10 is undefined, c4 does not exist).

        .syntax unified
        .arm
        .text

        .macro  cp15 n
        mrc     p15, 0, r0, c\n, c0, 0
        mov     pc, lr
        .endm
        .macro  none
        mov     r0, #0
        mov     pc, lr
        .endm

        .globl  ReadCP15
ReadCP15:
        cmp     r0, #15
        movhi   r0, #0
        movhi   pc, lr
        add     pc, pc, r0, lsl #3      @ pc reads 8 ahead: the entry after the next word
        mov     r0, r0
        cp15    0
        cp15    1
        cp15    2
        cp15    3
        none                            @ 4
        cp15    5
        cp15    6
        none                            @ 7
        none                            @ 8
        none                            @ 9
        none                            @ 10
        none                            @ 11
        none                            @ 12
        cp15    13
        cp15    14
        none                            @ 15
