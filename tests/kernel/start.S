@ Entry of the probe kernel. The second stage enters here with r0 = argc, r1 = argv,
@ r2 = BootInfo and sp = the stack it computed. The registers go to probe_main untouched as
@ arguments; the probe then runs on a stack of its own inside its image (.stack), so that
@ nothing it does writes beyond its image: the ksyms block and the file-system image behind it
@ stay intact while they are being checked. No memory is written before the checks start.

        .syntax unified
        .arm
        .section .text.start, "ax"
        .globl  _start
_start:
        mov     r3, sp
        ldr     sp, =__stack_top
        bl      probe_main
1:
        b       1b
        .ltorg
