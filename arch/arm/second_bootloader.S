@ The second stage of the hand-off. setupLoader copies these bytes into a page of their own and
@ the jump routine branches to the page's first byte at its physical address, with the MMU and
@ the caches off and IRQ and FIQ masked:
@
@   r0  physical address of the argument block: entry, then the kernel's r0, r1, r2
@   r1  physical address of the first chain link
@   r2  initial stack pointer
@
@ It walks the chain of 16-byte links {next, source, destination, length}: a load link copies
@ words from source to destination, a zero-clear link (source 0xFFFFFFFF) stores zero words; a
@ next of 0xFFFFFFFF ends the chain. Then it enters the kernel with the argument block's words
@ 1..3 in r0..r2.
@
@ The code runs wherever its page happens to lie, so it is position independent: no literal
@ pools, no absolute addresses. It needs no stack and touches no memory but the links, the
@ sources and destinations they name and the argument block. Lengths are handled in whole
@ words: every link stores at least one word, and a length that is not a multiple of 4 stores
@ the whole last word.
@
@ Built twice from this file: for SA-11x0 (ARMv4) addresses are used as given; with
@ KESTREL_REBASE_PXA2X0 (ARMv5TE) every destination and the entry address are moved into the
@ first 16 MB of the PXA-2x0's DRAM bank 0 at 0xA0000000, where a kernel linked for
@ 0xC0000000 (the SA-11x0 DRAM base) has to run.

        .syntax unified
        .arm
        .text

@ addr := 0xA0000000 | (addr & 0x00FFFFFF). 0x00FFFFFF has no ARM immediate form, so the top
@ byte is cleared and set instead.
        .macro  rebase reg
#if defined(KESTREL_REBASE_PXA2X0)
        bic     \reg, \reg, #0xFF000000
        orr     \reg, \reg, #0xA0000000
#endif
        .endm

        .globl  SecondBootloader
SecondBootloader:
        @ Three no-ops first: the jump routine's branch lands here straight after the MMU and
        @ caches were switched off, and these give the pipeline room to refill from the page's
        @ physical address before anything depends on it.
        mov     r0, r0
        mov     r0, r0
        mov     r0, r0
        mov     sp, r2
        mov     r3, #0                  @ r3: end of the last link processed (0: none yet)

        @ r1 = current link; r4..r7 = next, source, destination, length (ascending registers,
        @ so one ldmia reads the link's four words in field order).
walk:
        cmn     r1, #1                  @ 0xFFFFFFFF ends the chain
        beq     done
        ldmia   r1, {r4, r5, r6, r7}
        rebase  r6
        add     r3, r6, r7              @ end = destination + length
        cmn     r5, #1                  @ source 0xFFFFFFFF: zero-clear link
        beq     clear

        @ Two words read per pass; the first store of a link is unconditional, every further
        @ store only while the destination is below end.
copy:
        ldmia   r5!, {r8, r9}
        str     r8, [r6], #4
        cmp     r6, r3
        strlo   r9, [r6], #4
        cmp     r6, r3
        blo     copy
        b       next

clear:
        mov     r8, #0
clear_word:
        str     r8, [r6], #4
        cmp     r6, r3
        blo     clear_word

next:
        mov     r1, r4
        b       walk

        @ The kernel's stack: (end of the last link + 0x2000) rounded down to a 4 KiB page, so at
        @ least one whole page lies between the loaded image and the stack's first word. 0xFFF
        @ has no ARM immediate form, so the rounding shifts the low 12 bits out and back in.
        @ An empty chain leaves the stack given in r2.
done:
        cmp     r3, #0
        addne   r3, r3, #0x2000
        movne   r3, r3, lsr #12
        movne   sp, r3, lsl #12

        ldr     r12, [r0]               @ word 0: the kernel's entry address
        rebase  r12
        ldr     r1, [r0, #8]            @ word 2: argument vector
        ldr     r2, [r0, #12]           @ word 3: boot information
        ldr     r0, [r0, #4]            @ word 1: argument count (r0 last: it is the base)
        mov     pc, r12

        @ Not reached: the kernel never returns.
hang:
        mov     r0, r0
        b       hang
